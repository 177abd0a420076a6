// The checks of the events and the voiding before anything is sent, the voiding Id, and the EPEC
// events built from notes. The road to the simulator is in tests/integration/eventos_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <stdexcept>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;
const std::string kChave = "35261211222333000181650010000010011102938470";
const std::string kProtocolo = "135260000000001";
const std::string kJustificativa = "Cliente desistiu da compra";

std::string Ano(int mais) {
  const std::time_t agora = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&agora, &local);
  const int ano = (local.tm_year + 1900 + mais) % 100;
  return (ano < 10 ? "0" : "") + std::to_string(ano);
}

// A component that passes CheckConfig and signs with the test certificate; its server is
// nowhere (127.0.0.1:1), so whatever gets past the checks fails to connect after its log.
class Eventos : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir / "servidores.ini",
              "[SP]\nnfeRecepcaoEvento4=https://127.0.0.1:1/e\nnfeRecepcaoEvento3=https://"
              "127.0.0.1:1/e\nNfeInutilizacao4=https://127.0.0.1:1/i\n"
              "NfeRecepcaoEPEC=https://127.0.0.1:1/epec\n");
    test::ConfigureComponent(nfce, dir, dir / "servidores.ini", dir / "servidores.ini");
  }
  std::vector<std::string> Logs(const std::string& mascara) {
    return ListFiles(dir / "Log/", mascara);
  }

  test::TempDir dir;
  TqorNFCe nfce;
};

// Every check of a cancellation, in its order: each row breaks the first rule it names (and
// sometimes a later one, which must not be the one reported). Nothing is logged.
TEST_F(Eventos, CancellationChecksComeInOrderBeforeAnythingIsLogged) {
  struct Caso {
    std::string chave, protocolo, justificativa, data, fuso, chaveRef, mensagem;
  };
  const std::string letra = kChave.substr(0, 43) + "A";
  const std::string curta = "Desistência  ç";  // 14 code points, 16 bytes
  const Caso casos[] = {
      {kChave, "", kJustificativa, "", "-0300", "", "Código do Protocolo não pode ser vazio."},
      {kChave, kProtocolo, kJustificativa, "", "-0300", "",
       "Fuso Horario do evento inválido, o valor deve ser no formato -HH:MM"},
      {kChave, kProtocolo, kJustificativa, "", "03:00x", "",
       "Fuso Horario do evento inválido, o valor deve ser no formato -HH:MM"},
      {kChave, kProtocolo, kJustificativa, "ontem", "", "", "Data/Hora do evento inválida"},
      {" ", kProtocolo, curta, "", "", "", "Chave da NF-e está vazia"},
      {kChave.substr(1), kProtocolo, curta, "", "", "",
       "Chave da NF-e deve conter exatamente 44 dígitos"},
      {kChave, kProtocolo, kJustificativa, "", "", "", "Chave da NF-e referenciada está vazia"},
      {kChave, kProtocolo, kJustificativa, "", "", kChave.substr(2),
       "Chave da NF-e referenciada deve conter exatamente 44 dígitos"},
      {letra, kProtocolo, curta, "", "", "x", "Justificativa deve ter no mínimo 15 dígitos"},
      {letra, "1352600000000", kJustificativa, "", "", "",
       "Número do protocolo deve ter 15 dígitos"},
      {letra, kProtocolo, kJustificativa, "", "", "", "Chave da NF-e deve conter apenas números"},
  };
  for (const Caso& caso : casos) {
    // A row with a referenced key (even a bad one) is a substitution; the others a cancellation,
    // except the rows that test the referenced key itself.
    const bool substituicao =
        !caso.chaveRef.empty() || caso.mensagem.find("referenciada") != std::string::npos;
    const std::string ref = caso.chaveRef == "x" ? kChave : caso.chaveRef;
    const std::string message = MessageOf<EqorNFCeCheckParamsException>([&] {
      if (substituicao) {
        nfce.CancelarNFSubstituicao(caso.chave, caso.protocolo, caso.justificativa, caso.data, 1,
                                    caso.fuso, "35", "1", ref, TTipoAutor::taEmpresaEmitente, "");
      } else {
        nfce.CancelarNF(caso.chave, caso.protocolo, caso.justificativa, caso.data, 1, caso.fuso,
                        "");
      }
    });
    EXPECT_EQ(message, caso.mensagem) << caso.chave << " / " << caso.fuso;
  }
  EXPECT_TRUE(Logs("*").empty());
}

// Past the checks, the schema has the last word before anything is logged: an offset the schema
// refuses, a sequence of three digits, an author type other than the emitter. A justification of
// 15 code points passes the length check however few they are in bytes.
TEST_F(Eventos, WhatTheChecksLetThroughTheSchemaStillStops) {
  const std::string quinze = "Desistência ççç";  // 15 code points
  const std::function<void()> chamadas[] = {
      [&] { nfce.CancelarNF(kChave, kProtocolo, quinze, "", 1, "+05:30", ""); },
      [&] { nfce.CancelarNF(kChave, kProtocolo, kJustificativa, "", 123, "", ""); },
      [&] {
        nfce.CancelarNFSubstituicao(kChave, kProtocolo, kJustificativa, "", 1, "", "35", "1",
                                    kChave, TTipoAutor::taFisco, "");
      },
  };
  for (const auto& chamada : chamadas) {
    MessageOf<EqorSchemaValidationException>(chamada);
  }
  EXPECT_TRUE(Logs("*").empty());
  // A valid cancellation is logged before it is sent (here: to nowhere).
  EXPECT_THROW(nfce.CancelarNF(kChave, kProtocolo, quinze, "2026-12-07T10:00:00", 2, "", ""),
               std::exception);
  const auto enviados = Logs(kChave + "-caneve-env.xml");
  ASSERT_EQ(enviados.size(), 1u);
  const std::string lote = ReadFile(dir / "Log/" + enviados.front());
  EXPECT_EQ(GetXMLAttributeByIndex(lote, "infEvento", "Id"), "ID110111" + kChave + "02");
  EXPECT_EQ(GetValueTag("dhEvento", lote), "2026-12-07T10:00:00-03:00");
  EXPECT_EQ(GetValueTag("idLote", lote), "1");
}

// Before vm60 a substitution is logged and refused with an exception outside the component's
// family: nothing is sent and nothing reaches the exception log.
TEST_F(Eventos, SubstitutionNeedsLayoutFour) {
  nfce.SetVersaoManual(TVersaoManual::vm50b);
  try {
    nfce.CancelarNFSubstituicao(kChave, kProtocolo, kJustificativa, "", 1, "", "35", "1", kChave,
                                TTipoAutor::taEmpresaEmitente, "");
    FAIL() << "no exception";
  } catch (const EqorException&) {
    FAIL() << "an exception of the component's family";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Cancelamento por substituição disponível somente para NFCe a partir versão 4.00");
  }
  EXPECT_EQ(Logs(kChave + "-caneve-sub-env.xml").size(), 1u);
  EXPECT_FALSE(FileExists(dir / "LogErro/nfce_exception.log"));
}

// The voiding's checks, its Id and the request it logs.
TEST_F(Eventos, VoidingChecksItsRangeAndWritesAnUnpaddedRequest) {
  const std::string cnpj = test::SharedPki().cnpj;
  const std::string faixa = "O Ano deve ser entre 06 e " + Ano(0);
  struct Caso {
    std::string id, ano, inicial, final, mensagem;
  };
  for (const Caso& caso : std::vector<Caso>{
           {"é", Ano(0), "1", "2", "O Id da Nota não pode conter acento: é"},
           {"", "05", "1", "2", faixa},
           {"", Ano(1), "1", "2", faixa},
           {"", Ano(0), "1", "10002",
            "[I04]: 201 - Rejeição: Número máximo de numeração a inutilizar ultrapassou o limite "
            "(10000)."},
       }) {
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] {
                nfce.InutilizarNF(caso.id, caso.ano, cnpj, "65", "1", caso.inicial, caso.final,
                                  kJustificativa);
              }),
              caso.mensagem);
  }
  EXPECT_TRUE(Logs("*").empty());
  // 10000 numbers pass; series and numbers are padded in the Id only; the justification is
  // escaped once.
  EXPECT_THROW(nfce.InutilizarNF("", Ano(0), cnpj, "65", "1", "1", "10001", "A & B <x> teste"),
               std::exception);
  EXPECT_THROW(nfce.InutilizarNF("", Ano(0), cnpj, "65", "1", "5", "7", kJustificativa),
               std::exception);
  const std::string pedido = ReadFile(dir / "Log/" + Ano(0) + cnpj + "65157-ped-inu.xml");
  EXPECT_EQ(GetXMLAttributeByIndex(pedido, "infInut", "Id"),
            "ID35" + Ano(0) + cnpj + "65001000000005000000007");
  EXPECT_EQ(GetValueTag("serie", pedido), "1");
  EXPECT_EQ(GetValueTag("nNFIni", pedido), "5");
  const std::string larga = ReadFile(dir / "Log/" + Ano(0) + cnpj + "651110001-ped-inu.xml");
  EXPECT_NE(larga.find("<xJust>A &amp; B &lt;x&gt; teste</xJust>"), std::string::npos) << larga;
  std::string out;
  EXPECT_EQ(test::RunCommand("xmlsec1 --verify --id-attr:Id infInut --trusted-pem '" +
                                 test::SharedPki().caCert + "' '" + dir / "Log/" + Ano(0) + cnpj +
                                 "65157-ped-inu.xml'",
                             &out),
            0)
      << out;
}

TEST_F(Eventos, VoidingIdOnItsOwn) {
  struct Caso {
    std::string ano, cnpj, modelo, serie, inicial, final, resultado;
  };
  const std::string ano = Ano(0);
  for (const Caso& caso : std::vector<Caso>{
           {ano, "11222333000181", "65", "1", "5", "7",
            "35" + ano + "1122233300018165001000000005000000007"},
           {ano, "12345678909", "65", "12", "1", "1",
            "35" + ano + "0001234567890965012000000001000000001"},
           {"", "1", "65", "1", "1", "1",
            "Os Campos: Ano de inutilização =  \rCNPJ/CPF do Emitente = 1 \rCódigo do Modelo do "
            "Documento Fiscal = 65 \rSérie do Documento Fiscal = 1\rNúmero da Nota Fiscal "
            "Inicial = 1\rNúmero da Nota Fiscal Final = 1\rsão campos obrigatórios para o "
            "cálculo da chave de inutilização."},
           {ano, "1", "6x", "1", "1", "1",
            "O Código do Modelo do Documento Fiscal \"6x\" deve ser um número Inteiro."},
           {ano, "1", "65", "1", "9", "8",
            "O Número da Nota Fiscal Inicial \"9\" não pode ser maior que o número final \"8\""},
           {"05", "1", "65", "1", "1", "1", "O Ano da Inutilização deve ser entre 06 e " + ano},
           {ano, "1", "65", "1000", "1", "1",
            "A Série do Documento Fiscal não pode ser maior que 999"},
           {"0" + ano, "1", "65", "1", "1", "1",
            "O Ano informado na Inutilização deve possuir exatamente 2 dígitos."},
       }) {
    std::string resultado;
    try {
      resultado = nfce.CalculaChaveInutilizacao(caso.ano, caso.cnpj, caso.modelo, caso.serie,
                                                caso.inicial, caso.final);
    } catch (const EqorNFCeCheckParamsException& e) {
      resultado = e.what();
    }
    EXPECT_EQ(resultado, caso.resultado);
  }
  nfce.SetVersaoManual(TVersaoManual::vm50b);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                [&] { nfce.CalculaChaveInutilizacao(ano, "11222333000181", "65", "1", "1", "1"); }),
            "Cálculo da ID de Inutilização não foi implementada para a versão (5.0b).");
}

// EPEC events from notes: one per infNFe, the recipient group by the note's recipient, and the
// checks with their messages.
TEST_F(Eventos, EpecEventsFollowTheirNotes) {
  int numero = 700;
  const auto nota = [&](const std::string& exemplo, const std::string& destinatario) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/" + exemplo);
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(++numero));
    if (!destinatario.empty()) tx2.replace(tx2.find("INCLUIRITEM"), 0, destinatario);
    WriteFile(dir / "nota.tx2", tx2);
    return nfce.ConverterLoteParaXml(dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet,
                                     TVersaoEsquema::pl_009g);
  };
  const std::string semDestino = nota("nfce-um-item-dinheiro.tx2", "");
  const std::string estrangeiro =
      nota("nfce-um-item-dinheiro.tx2",
           "idEstrangeiro_E03a=X1\nxNome_E04=FOREIGN\nindIEDest_E16a=9\nxLgr_E06=A\nnro_E07=1\n"
           "xBairro_E09=B\ncMun_E10=9999999\nxMun_E11=EXTERIOR\nUF_E12=EX\n");
  const std::string cnpj = nota("nfce-um-item-dinheiro.tx2",
                                "CNPJ_E02=11222333000181\nxNome_E04=EMPRESA\nindIEDest_E16a=1\n"
                                "IE_E17=123456789012\nxLgr_E06=A\nnro_E07=1\nxBairro_E09=B\n"
                                "cMun_E10=3550308\nxMun_E11=SAO PAULO\nUF_E12=SP\n");
  const std::string data = "2026-12-07T10:00:00-03:00";
  const std::string lote = nfce.MontarEPEC("7", semDestino + estrangeiro + cnpj, data);
  std::vector<std::string> eventos;
  XPathSelectNodes(lote, "//*[local-name()='evento']", eventos);
  ASSERT_EQ(eventos.size(), 3u) << lote;
  EXPECT_EQ(GetValueTag("idLote", lote), "7");
  EXPECT_EQ(GetValueTag("dest", eventos[0]), "");
  EXPECT_EQ(eventos[0].find("<dest>"), std::string::npos);
  EXPECT_NE(eventos[1].find("<dest><UF>EX</UF><idEstrangeiro/></dest>"), std::string::npos)
      << eventos[1];
  EXPECT_NE(eventos[2].find("<dest><UF>SP</UF><CNPJ>11222333000181</CNPJ></dest>"),
            std::string::npos)
      << eventos[2];
  for (const std::string& evento : eventos) {
    EXPECT_EQ(GetValueTag("nSeqEvento", evento), "1");
    EXPECT_EQ(GetXMLAttributeByIndex(evento, "infEvento", "Id").substr(52), "01");
  }
  // Signed, the batch passes the EPEC schema the component installs.
  std::string assinado = nfce.AssinarEPEC(lote);
  WriteFile(dir / "epec.xml", assinado);
  std::string out;
  EXPECT_EQ(test::RunCommand("xmllint --noout --schema '" +
                                 nfce.GetEsquemaEPEC("epec\\eventoEPEC_v0.01.xsd") + "' '" +
                                 dir / "epec.xml'",
                             &out),
            0)
      << out;
  // Sent to a server that refuses the connection: the request is logged, nothing else.
  EXPECT_THROW(nfce.EnviarEPEC(assinado), std::exception);
  EXPECT_EQ(Logs("7-epec-env.xml").size(), 1u);
  EXPECT_TRUE(Logs("*-epec-ret.xml").empty());
  EXPECT_TRUE(ListFiles(dir / "XmlDestinatario/", "*").empty());
  // A schema that does not compile stops the sending; it is never skipped.
  nfce.SetValidarEsquemaAntesEnvio(true);
  test::TempDir esquemas;
  ForceDirectories(esquemas / "epec");
  WriteFile(esquemas / "epec/eventoEPEC_v0.01.xsd", "<xs:schema xmlns:xs=\"x\"/>");
  nfce.SetDiretorioEsquemas(esquemas.path());
  MessageOf<EqorSchemaValidationException>([&] { nfce.EnviarEPEC(assinado); });
  EXPECT_EQ(Logs("*-epec-env.xml").size(), 1u);
  EXPECT_EQ(GetValueTag("idLote", nfce.AssinarEPEC(lote.substr(0, lote.find("<idLote>")) +
                                                   lote.substr(lote.find("</idLote>") + 9))),
            "1");

  const std::string falha = "Um problema foi encontrado durante a geração do XML de evento EPEC: ";
  std::string chaveRuim = semDestino;
  chaveRuim.replace(chaveRuim.find("Id=\"NFe") + 8, 1, "X");
  std::string emitenteRuim = semDestino;
  emitenteRuim.replace(emitenteRuim.find("<emit><CNPJ>") + 12, 14, "1122233300018");
  std::string destinoRuim = cnpj;
  destinoRuim.replace(destinoRuim.find("<dest><CNPJ>") + 12, 14, "1122233300018");
  struct Caso {
    std::string lote, xml, data, mensagem;
  };
  for (const Caso& caso : std::vector<Caso>{
           {"1", semDestino, " ", "Data/Hora do evento não pode ser vazio."},
           {"1", " ", data, "Xml de envio não pode ser vazio."},
           {"1a", semDestino, data, "idLote deve conter apenas números."},
           {"1", semDestino, "amanhã", "Data/Hora do evento inválida"},
           {"1", "<NFe/>", data, falha + "\"Xml inválido para montar o evento EPEC.\""},
           {"1", chaveRuim, data, falha + "\"Chave da NFC-e deve conter apenas números.\""},
           {"1", emitenteRuim, data, falha + "\"CNPJ/CPF do emitente é inválido\""},
           {"1", destinoRuim, data, falha + "\"CNPJ/CPF do destinatário é inválido\""},
       }) {
    EXPECT_EQ(MessageOf<EqorNFCeEventoException>(
                  [&] { nfce.MontarEPEC(caso.lote, caso.xml, caso.data); }),
              caso.mensagem);
  }
  nfce.SetCNPJ("1122233300018");
  EXPECT_EQ(MessageOf<EqorNFCeEventoException>([&] { nfce.MontarEPEC("1", semDestino, data); }),
            "CNPJ deve conter exatamente 14 dígitos.");
}

// The distribution builders of events refuse logs that cannot make a procEventoNFe, each with its
// message; a request without an evento makes nothing.
TEST_F(Eventos, EventDistributionRefusesWhatItCannotAssemble) {
  const std::string ns = " xmlns=\"http://www.portalfiscal.inf.br/nfe\"";
  const auto pedido = [&](const std::string& id, const std::string& tipo) {
    return "<envEvento" + ns + "><idLote>1</idLote><evento><infEvento Id=\"" + id + "\"><chNFe>" +
           kChave + "</chNFe><tpEvento>" + tipo + "</tpEvento></infEvento></evento></envEvento>";
  };
  const auto retorno = [&](const std::string& chave, const std::string& cStat) {
    return "<retEnvEvento" + ns + "><retEvento><infEvento><cStat>" + cStat + "</cStat><chNFe>" +
           chave + "</chNFe></infEvento></retEvento></retEnvEvento>";
  };
  const std::string id = "ID110111" + kChave + "02";
  const std::string bom = pedido(id, "110111");
  struct Caso {
    std::string pedido, retorno, mensagem;
  };
  for (const Caso& caso : std::vector<Caso>{
           {pedido(id, "110140"), retorno(kChave, "135"),
            "O conteúdo do Log de pedido de Cancelamento é inválido."},
           {bom, "<retEnvEvento/>", "O conteúdo do Log de Retorno de Cancelamento é inválido."},
           {bom, retorno(kChave.substr(1) + "9", "135"),
            "A chave do log de pedido de cancelamento não confere com a chave do log de retorno de "
            "cancelamento."},
           {bom, retorno(kChave, "573"), "Não se trata de cancelamento de NF-e homologado."},
       }) {
    std::string message;
    try {
      nfce.GerarXMLCancelamentoDestinatario(kChave, caso.pedido, caso.retorno, "");
    } catch (const EqorException& e) {
      message = e.what();
    }
    EXPECT_EQ(message, caso.mensagem);
  }
  // The event's own Id, sequence 02, assembles (a fixed "01" would refuse it).
  const std::string proc =
      nfce.GerarXMLCancelamentoDestinatario(kChave, bom, retorno(kChave, "135"), dir / "c.xml");
  EXPECT_NE(proc.find("<procEventoNFe"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "c.xml"), proc);
  EXPECT_EQ(
      nfce.GerarXMLCancelamentoDestinatario(kChave, "<envEvento/>", retorno(kChave, "135"), ""),
      "");

  EXPECT_EQ(MessageOf<EqorNFCeEventoCheckParams>(
                [&] { nfce.GerarXMLEventoDestinatario(id, "", retorno(kChave, "135"), ""); }),
            "Log de envio do evento não informado");
  EXPECT_EQ(MessageOf<EqorNFCeEventoCheckParams>(
                [&] { nfce.GerarXMLEventoDestinatario(id, bom, "", ""); }),
            "Log de consulta não informado");
  EXPECT_EQ(MessageOf<EqorNFCeEventoXmlDestinatario>([&] {
              nfce.GerarXMLEventoDestinatario("ID110140" + kChave + "01", bom,
                                              retorno(kChave, "136"), "");
            }),
            "Evento Id: ID110140" + kChave + "01 não encontrada no Log : " + bom + " ");
  EXPECT_EQ(MessageOf<EqorNFCeException>([&] { nfce.GetRetEvento(bom); }),
            "Não foi possível encontrar a tag RetEvento do XML.");
  EXPECT_EQ(MessageOf<EqorNFCeEventoException>([&] { nfce.AssinarEPEC(""); }),
            "Xml para assinar não pode ser vazio.");
  EXPECT_EQ(MessageOf<EqorNFCeEventoInvalidSigner>([&] { nfce.EnviarEPEC(bom); }),
            "A nota não possui assinatura");
}

}  // namespace
}  // namespace qor
