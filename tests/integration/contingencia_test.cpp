// Offline contingency against the simulator: notes issued while the service is down, then
// transmitted and every reply of the state reconciled; the uncertain online attempt settled by
// query, voiding or cancellation by substitution; back-off and the deadline on an injected
// clock; bad input that stores nothing. What the queue stores and writes is checked with
// xmllint (official schemas), xmlsec1 and sha1sum.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "NoteStore.h"
#include "Simulator.h"
#include "contingency/TqorContingencia.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kBin = QORNFCE_BIN_DIR;
const std::string kJust = "Sem acesso ao servico da SEFAZ";
const std::string kCsc = "CSC0123456789ABCDEF";

class ContingenciaRoad : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    test::SimulatorRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    nfce.GetDanfceSettings().SetIdTokenNFCe("000001");
    nfce.GetDanfceSettings().SetTokenNFCe(kCsc);
    nfce.SetTimeOut(1500);
    fila = rig->dir / "fila/";
    contingencia = std::make_unique<TqorContingencia>(nfce, fila);
    contingencia->OnNovoNumero = [this](const std::string&) { return std::to_string(++numero); };
  }

  // The one-item sample numbered `nNF`, converted and not signed; `trocas` replace texts of the
  // TX2 first.
  std::string Nota(int nNF, const std::map<std::string, std::string>& trocas = {}) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    for (const auto& [de, para] : trocas) ReplaceAll(tx2, de, para);
    WriteFile(rig->dir / "nota.tx2", tx2);
    return nfce.ConverterLoteParaXml(rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet,
                                     TVersaoEsquema::pl_009g);
  }
  std::string Dest(const std::string& nome) const { return rig->dir / "XmlDestinatario/" + nome; }
  std::string Estado(const std::string& chave) const {
    TEstadoContingencia estado;
    return contingencia->Fila().Localizar(chave, estado) ? NomeEstado(estado) : "fora da fila";
  }
  TEntradaContingencia Registro(const std::string& chave) const {
    TEstadoContingencia estado;
    if (!contingencia->Fila().Localizar(chave, estado)) return {};
    return TFilaContingencia::Decodificar(ReadFile(contingencia->Fila().ArquivoDe(estado, chave)));
  }
  // xmlsec1's and xmllint's reports on an nfeProc file; empty when both accept it.
  static std::string RejeicaoProc(const std::string& arquivo) {
    const std::string xml = ReadFile(arquivo);
    if (xml.empty()) return "sem arquivo " + arquivo;
    return test::SignatureError(xml, "infNFe", test::SharedPki().caCert) +
           test::SchemaError(xml, "procNFe_v4.00.xsd");
  }
  // The same for a stored note.
  static std::string RejeicaoNota(const std::string& nota) {
    return test::SignatureError(nota, "infNFe", test::SharedPki().caCert) +
           test::SchemaError(nota, "nfe_v4.00.xsd");
  }

  // What every offline note must be (OfflineNoteIsCompleteAndItsQrHashRecomputes).
  void VerificarNotaOffline(const std::string& nota);

  std::string fila;
  std::unique_ptr<TqorContingencia> contingencia;
  int numero = 5000;
};

// The offline note carries what the standard asks, validates, verifies, and its QR hash is the
// SHA-1 that sha1sum computes over the offline parameters and the CSC. A supplement the host gave
// after the note (as a TX2 read back from an authorised note brings) keeps its urlChave; its
// qrCode, made for the online key, gives way to the offline one.
TEST_F(ContingenciaRoad, OfflineNoteIsCompleteAndItsQrHashRecomputes) {
  const std::string urlChave = "https://www.fazenda.sp.gov.br/nfce/consulta";
  const std::string suplemento =
      "<infNFeSupl><qrCode><![CDATA[https://host/qrcode?p=" + std::string(44, '3') +
      "|2|2|1|ABCDEF]]></qrCode><urlChave>" + urlChave + "</urlChave></infNFeSupl>";
  const struct {
    std::string convertida, urlChave;  // urlChave empty: the server-address file's
  } casos[] = {{Nota(11), ""}, {Nota(12) + suplemento, urlChave}};
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.convertida.substr(caso.convertida.size() - 40));
    const std::string nota = contingencia->EmitirOffline(caso.convertida, kJust);
    VerificarNotaOffline(nota);
    if (!caso.urlChave.empty()) {
      EXPECT_EQ(GetValueTag("urlChave", nota), caso.urlChave);
    }
  }
}

void ContingenciaRoad::VerificarNotaOffline(const std::string& nota) {
  const std::string chave = ChaveDe(nota);
  EXPECT_EQ(chave.substr(34, 1), "9") << "tpEmis is part of the key";
  EXPECT_EQ(GetValueTag("tpEmis", nota), "9");
  EXPECT_EQ(GetValueTag("xJust", nota), kJust);
  EXPECT_EQ(GetValueTag("cDV", nota), chave.substr(43));
  const std::string dhCont = GetValueTag("dhCont", nota);
  EXPECT_LE(dhCont, GetValueTag("dhEmi", nota)) << "never later than dhEmi (same offset)";
  EXPECT_EQ(RejeicaoNota(nota), "");
  EXPECT_EQ(Registro(chave).nota, nota);
  EXPECT_EQ(Estado(chave), "pendente");

  std::string link = Unescape(GetValueTag("qrCode", nota));
  const std::string p = link.substr(link.find("?p=") + 3);
  const std::size_t ultimo = p.rfind('|');
  const std::string parametros = p.substr(0, ultimo);
  const std::string hash = p.substr(ultimo + 1);
  // chave|2|tpAmb|dia|vNF|digVal em hex|cIdToken
  std::vector<std::string> campos;
  for (std::size_t de = 0;;) {
    const std::size_t barra = parametros.find('|', de);
    campos.push_back(parametros.substr(de, barra - de));
    if (barra == std::string::npos) break;
    de = barra + 1;
  }
  ASSERT_EQ(campos.size(), 7u) << link;
  EXPECT_EQ(campos[0], chave);
  EXPECT_EQ(campos[3], GetValueTag("dhEmi", nota).substr(8, 2));
  EXPECT_EQ(campos[4], GetValueTag("vNF", nota));
  std::string hexDigest;
  ASSERT_EQ(RunCommand(
                "printf %s '" + GetValueTag("DigestValue", nota) + "' | od -An -tx1 | tr -d ' \\n'",
                &hexDigest),
            0);
  EXPECT_EQ(LowerCase(campos[5]), hexDigest);
  std::string sha1;
  ASSERT_EQ(RunCommand("printf %s '" + parametros + kCsc + "' | sha1sum | cut -c1-40", &sha1), 0);
  EXPECT_EQ(LowerCase(hash), Trim(sha1));
}

// Every reply of the state, one note each, in one transmission.
TEST_F(ContingenciaRoad, TransmissionReconcilesEveryReply) {
  rig->simulator->SetDenegarCpfDestinatario("52998224725");
  const std::string destinatario =
      "CPF_E03=52998224725\nxNome_E04=NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR "
      "FISCAL\nindIEDest_E16a=9\nINCLUIRITEM";
  const std::string autorizada = ChaveDe(contingencia->EmitirOffline(Nota(21), kJust));
  const std::string denegada =
      ChaveDe(contingencia->EmitirOffline(Nota(22, {{"INCLUIRITEM", destinatario}}), kJust));
  // The same number again under another cNF: a host that reused a number.
  const std::string reusada = ChaveDe(
      contingencia->EmitirOffline(Nota(21, {{"cNF_B03=10293847", "cNF_B03=55554444"}}), kJust));
  // Another emitter's CNPJ base than the certificate's.
  const std::string rejeitada = ChaveDe(contingencia->EmitirOffline(
      Nota(24, {{"CNPJ_C02=11222333000181", "CNPJ_C02=11444777000161"}}), kJust));
  // Sent already by a run that died before recording the reply.
  const std::string jaEnviada = contingencia->EmitirOffline(Nota(25), kJust);
  ASSERT_THAT(nfce.EnviarNFSincrono("1", jaEnviada, false), HasSubstr("<cStat>100</cStat>"));
  ASSERT_TRUE(DeleteFile(Dest(ChaveDe(jaEnviada) + "-nfce.xml")));

  const TResultadoTransmissao r = contingencia->Transmitir();
  EXPECT_EQ(r.enviadas, 5);
  EXPECT_EQ(r.autorizadas, 2);
  EXPECT_EQ(r.denegadas, 1);
  EXPECT_EQ(r.duplicadas, 1);
  EXPECT_EQ(r.rejeitadas, 1);
  EXPECT_EQ(r.pendentes, 0);
  struct Esperado {
    std::string chave, estado, cStat;
  };
  for (const Esperado& e :
       {Esperado{autorizada, "autorizada", "100"}, Esperado{denegada, "denegada", "302"},
        Esperado{reusada, "duplicada", "539"}, Esperado{rejeitada, "rejeitada", "213"},
        Esperado{ChaveDe(jaEnviada), "autorizada", "100"}}) {
    SCOPED_TRACE(e.estado + " " + e.chave);
    EXPECT_EQ(Estado(e.chave), e.estado);
    // An authorised note's protocol is in its nfeProc; every other outcome is in the record.
    const TEntradaContingencia reg = Registro(e.chave);
    const std::string cStat = e.estado == "autorizada"
                                  ? GetValueTag("cStat", ReadFile(Dest(e.chave + "-nfce.xml")))
                                  : reg.cStat;
    EXPECT_EQ(cStat, e.cStat) << reg.xMotivo;
    if (e.estado != "autorizada") {
      EXPECT_FALSE(reg.xMotivo.empty());
    }
  }
  EXPECT_EQ(Registro(reusada).chaveRelacionada, autorizada) << "both keys for the operator";
  for (const std::string& chave : {autorizada, ChaveDe(jaEnviada)}) {
    EXPECT_EQ(RejeicaoProc(Dest(chave + "-nfce.xml")), "");
  }
  EXPECT_EQ(RejeicaoProc(Dest(denegada + "-den.xml")), "");

  // Nothing settled is ever sent again.
  const int antes = rig->simulator->RequestCount();
  const TResultadoTransmissao outra = contingencia->Transmitir();
  EXPECT_EQ(outra.enviadas, 0);
  EXPECT_EQ(rig->simulator->RequestCount(), antes);
}

// Without logs on disk the component writes no distribution file; the queue writes it itself,
// from the note and the reply, since an entry is done only with its nfeProc.
TEST_F(ContingenciaRoad, NfeProcIsWrittenWithoutLogsOnDisk) {
  nfce.SetSalvarLogsEmDisco(false);
  const std::string chave = ChaveDe(contingencia->EmitirOffline(Nota(31), kJust));
  EXPECT_EQ(contingencia->Transmitir().autorizadas, 1);
  EXPECT_EQ(RejeicaoProc(Dest(chave + "-nfce.xml")), "");
  EXPECT_EQ(ListFiles(rig->dir / "Log/", "*.xml").size(), 0u);
}

// The service refuses connections while 100 notes are issued at the till; they go offline with
// their own numbers. Once it is back, one transmission sends them all over one connection.
TEST_F(ContingenciaRoad, HundredNotesOfflineThenOneTransmissionOverOneHandshake) {
  rig->simulator->SetOutage(sim::SimulatorOutage::RefuseConnections);
  std::vector<std::string> chaves;
  for (int n = 1; n <= 100; ++n) {
    const TResultadoEmissao e = contingencia->Emitir(Nota(100 + n), kJust);
    ASSERT_TRUE(e.offline) << e.resposta;
    ASSERT_THAT(e.motivo, HasSubstr("não foi possível conectar"));
    EXPECT_TRUE(e.chaveEmVerificacao.empty()) << "a refused connection proves nothing was sent";
    EXPECT_EQ(GetValueTag("nNF", e.nota), std::to_string(100 + n)) << "the number is kept";
    chaves.push_back(e.chave);
  }
  // Each stored note, taken out of its record, by xmllint and xmlsec1.
  for (const std::string& chave : chaves) {
    const std::string nota = Registro(chave).nota;
    WriteFile(rig->dir / "notas/" + chave + ".xml", nota);
  }
  std::string saida;
  RunCommand("cd '" + rig->dir / "notas" + "' && xmllint --noout --schema '" +
                 test::SchemasFolder() + "/nfe_v4.00.xsd' *.xml 2>&1 | grep -c ' validates$'",
             &saida);
  EXPECT_EQ(Trim(saida), "100");
  int assinaturasRuins = 0;
  for (const std::string& chave : chaves) {
    assinaturasRuins +=
        test::SignatureError(Registro(chave).nota, "infNFe", test::SharedPki().caCert).empty() ? 0
                                                                                               : 1;
  }
  EXPECT_EQ(assinaturasRuins, 0);

  rig->simulator->SetOutage(sim::SimulatorOutage::None);
  const int handshakes = rig->simulator->HandshakeCount();
  const TResultadoTransmissao r = contingencia->Transmitir();
  EXPECT_EQ(r.autorizadas, 100);
  EXPECT_EQ(r.pendentes, 0);
  EXPECT_EQ(rig->simulator->HandshakeCount() - handshakes, 1);
  EXPECT_EQ(rig->simulator->Notas().Quantidade(), 100u);
  for (const std::string& chave : chaves) {
    const auto registrada = rig->simulator->Notas().Buscar(chave);
    EXPECT_TRUE(registrada && registrada->cStat == "100") << chave;
  }
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*-nfce.xml").size(), 100u);
  RunCommand("cd '" + rig->dir / "XmlDestinatario" + "' && xmllint --noout --schema '" +
                 test::SchemasFolder() +
                 "/procNFe_v4.00.xsd' *-nfce.xml 2>&1 | grep -c ' validates$'",
             &saida);
  EXPECT_EQ(Trim(saida), "100");
}

// The state processed the online attempt but answered after the client gave up: the sale went
// offline under a new number, and both notes got authorised. The attempt is then cancelled by
// substitution, pointing at the offline note.
TEST_F(ContingenciaRoad, TimedOutAttemptThatWasAuthorisedIsCancelledBySubstitution) {
  rig->simulator->SetOutage(sim::SimulatorOutage::AnswerAfterTimeout, 4000);
  const TResultadoEmissao e = contingencia->Emitir(Nota(301), kJust);
  ASSERT_TRUE(e.offline);
  EXPECT_THAT(e.motivo, HasSubstr("tempo limite"));
  ASSERT_EQ(e.chaveEmVerificacao.size(), 44u);
  EXPECT_EQ(GetValueTag("nNF", e.nota), "5001") << "a new number from the host";
  EXPECT_EQ(Estado(e.chaveEmVerificacao), "em verificação");
  EXPECT_EQ(Registro(e.chaveEmVerificacao).chaveRelacionada, e.chave);
  rig->simulator->SetOutage(sim::SimulatorOutage::None);

  // Before the wait is over the attempt is not even queried.
  const TResultadoTransmissao r1 = contingencia->Transmitir();
  EXPECT_EQ(r1.autorizadas, 1);
  EXPECT_EQ(r1.emVerificacao, 1);
  EXPECT_EQ(Estado(e.chaveEmVerificacao), "em verificação");

  contingencia->SetEsperaVerificacao(std::chrono::seconds(0));
  const TResultadoTransmissao r2 = contingencia->Transmitir();
  EXPECT_EQ(r2.canceladas, 1);
  EXPECT_EQ(Estado(e.chaveEmVerificacao), "cancelada");
  EXPECT_EQ(Estado(e.chave), "autorizada");
  EXPECT_EQ(GetValueTag("cStat", nfce.ConsultarNF(e.chaveEmVerificacao)), "101");
  const auto online = rig->simulator->Notas().Buscar(e.chaveEmVerificacao);
  ASSERT_TRUE(online && online->Cancelada());
  EXPECT_EQ(GetValueTag("tpEvento", online->evento), "110112");
  EXPECT_EQ(GetValueTag("chNFeRef", online->evento), e.chave);
  EXPECT_EQ(GetValueTag("cStat", nfce.ConsultarNF(e.chave)), "100");
}

// The attempt met HTTP 503, so the state may have had it; it never had. After the wait the
// query says 217, the number is voided (102), and that closes it.
TEST_F(ContingenciaRoad, AttemptNeverReceivedEndsVoided) {
  auto agora = std::chrono::system_clock::now();
  contingencia->SetRelogio([&] { return agora; });
  rig->simulator->SetOutage(sim::SimulatorOutage::Http503);
  const TResultadoEmissao e = contingencia->Emitir(Nota(401), kJust);
  ASSERT_TRUE(e.offline);
  EXPECT_THAT(e.motivo, HasSubstr("HTTP 503"));
  ASSERT_FALSE(e.chaveEmVerificacao.empty());
  rig->simulator->SetOutage(sim::SimulatorOutage::None);

  agora += std::chrono::minutes(9);
  const int antes = rig->simulator->RequestCount();
  EXPECT_EQ(contingencia->Transmitir().autorizadas, 1);
  EXPECT_EQ(rig->simulator->RequestCount() - antes, 1) << "only the offline note, no query yet";
  EXPECT_EQ(Estado(e.chaveEmVerificacao), "em verificação");

  agora += std::chrono::minutes(2);
  const TResultadoTransmissao r = contingencia->Transmitir();
  EXPECT_EQ(r.inutilizadas, 1);
  EXPECT_EQ(r.emVerificacao, 0);
  const TEntradaContingencia reg = Registro(e.chaveEmVerificacao);
  EXPECT_EQ(Estado(e.chaveEmVerificacao), "inutilizada");
  EXPECT_EQ(reg.cStat, "102") << reg.xMotivo;
  // The voided number now refuses authorisation.
  EXPECT_THAT(nfce.EnviarNFSincrono("1", reg.nota, false), HasSubstr("<cStat>206</cStat>"));
}

// A transport failure keeps the note pending and sets its next try after a back-off that
// doubles; the deadline counts from dhEmi on the injected clock.
TEST_F(ContingenciaRoad, BackOffAndDeadlineFollowTheClock) {
  const std::string nota = contingencia->EmitirOffline(Nota(501), kJust);
  const std::string chave = ChaveDe(nota);
  TInstante emissao;
  {
    std::tm tm{};
    strptime(GetValueTag("dhEmi", nota).substr(0, 19).c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    emissao = std::chrono::system_clock::from_time_t(timegm(&tm)) + std::chrono::hours(3);
  }
  auto agora = emissao + std::chrono::hours(1);
  contingencia->SetRelogio([&] { return agora; });
  rig->simulator->SetOutage(sim::SimulatorOutage::Status108);

  struct Passo {
    int avanco;  // seconds
    bool envia;
    int tentativas;
  };
  for (const Passo& passo : {Passo{0, true, 1}, Passo{29, false, 1}, Passo{2, true, 2},
                             Passo{59, false, 2}, Passo{1, true, 3}}) {
    agora += std::chrono::seconds(passo.avanco);
    const int antes = rig->simulator->RequestCount();
    const TResultadoTransmissao r = contingencia->Transmitir();
    EXPECT_EQ(r.enviadas, passo.envia ? 1 : 0) << passo.avanco;
    EXPECT_EQ(rig->simulator->RequestCount() - antes, passo.envia ? 1 : 0);
    EXPECT_EQ(Registro(chave).tentativas, passo.tentativas);
    EXPECT_EQ(Estado(chave), "pendente");
  }
  EXPECT_THAT(Registro(chave).xMotivo, StartsWith("108"));
  EXPECT_EQ(Registro(chave).proximaTentativa, agora + std::chrono::seconds(120));

  const auto item = [&] { return contingencia->Listar().itens.at(0); };
  EXPECT_EQ(item().idade, std::chrono::hours(1) + std::chrono::seconds(91));
  EXPECT_FALSE(item().atrasada);
  agora = emissao + std::chrono::hours(25);
  EXPECT_TRUE(item().atrasada);
  EXPECT_EQ(item().tempoRestante, -std::chrono::hours(1));
  contingencia->SetPrazo(std::chrono::hours(48));
  EXPECT_FALSE(item().atrasada);
  contingencia->SetPrazo(std::chrono::hours(24));

  rig->simulator->SetOutage(sim::SimulatorOutage::None);
  agora += std::chrono::minutes(5);
  EXPECT_EQ(contingencia->Transmitir().autorizadas, 1);
  EXPECT_FALSE(item().atrasada) << "an authorised note is past its deadline no more";
}

// Bad input: a clear failure, nothing stored, nothing already queued lost.
TEST_F(ContingenciaRoad, BadInputStoresNothing) {
  const std::string guardada = contingencia->EmitirOffline(Nota(601), kJust);
  const std::string nota = Nota(602);
  std::string semIde = nota;
  semIde.erase(semIde.find("<ide>"), semIde.find("</ide>") + 6 - semIde.find("<ide>"));
  struct Caso {
    std::string nome, nota, justificativa, mensagem;
  };
  const Caso casos[] = {
      {"já offline", guardada, kJust, "já foi emitida em contingência offline"},
      {"sem ide", semIde, kJust, "não possui o grupo ide"},
      {"14 caracteres", nota, "Sem internet!!", "de 15 a 256 caracteres (tem 14)"},
      {"257 caracteres", nota, std::string(257, 'x'), "(tem 257)"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nome);
    EXPECT_THAT(MessageOf<EqorNFCeContingenciaException>(
                    [&] { contingencia->EmitirOffline(caso.nota, caso.justificativa); }),
                HasSubstr(caso.mensagem));
  }
  EXPECT_THAT(MessageOf<EqorNFCeContingenciaException>(
                  [&] { contingencia->EmitirOffline(Nota(601), kJust); }),
              HasSubstr("já está na fila"));
  // The queue folder under a regular file, and a write the file seam refuses.
  WriteFile(rig->dir / "arquivo", "x");
  TqorContingencia sobArquivo(nfce, rig->dir / "arquivo/fila");
  EXPECT_THAT(
      MessageOf<EqorNFCeContingenciaException>([&] { sobArquivo.EmitirOffline(nota, kJust); }),
      HasSubstr("não foi possível criar a pasta"));
  struct DiscoCheio : TFileSystemWrapper {
    DiscoCheio() : TFileSystemWrapper(TFileSystem::Default()) {}
    void SaveToFileDurable(const std::string& path, const std::string& conteudo) override {
      if (path.find("/pendentes/") != std::string::npos) {
        throw EqorGovException("Não foi possível gravar o arquivo: disco cheio");
      }
      TFileSystemWrapper::SaveToFileDurable(path, conteudo);
    }
  } discoCheio;
  contingencia->SetFileSystem(&discoCheio);
  EXPECT_THAT(
      MessageOf<EqorNFCeContingenciaException>([&] { contingencia->EmitirOffline(nota, kJust); }),
      HasSubstr("disco cheio"));
  contingencia->SetFileSystem(nullptr);

  EXPECT_EQ(ListFiles(fila + "pendentes/", "*"),
            std::vector<std::string>{ChaveDe(guardada) + ".xml"});
  EXPECT_EQ(Registro(ChaveDe(guardada)).nota, guardada);
  EXPECT_EQ(rig->simulator->RequestCount(), 0);
}

}  // namespace
}  // namespace qor
