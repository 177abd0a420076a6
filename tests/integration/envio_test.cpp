// The road from TX2 to an authorised nfeProc against the simulator: synchronous and batch
// sending, the receipt query, the distribution XML, and the checks before anything is posted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Simulator.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"
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
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kBin = QORNFCE_BIN_DIR;

class EnvioRoad : public test::SimulatorRoad {
 protected:
  // The one-item sample numbered `nNF`, converted and signed.
  std::string NotaAssinada(int nNF, const std::string& cpfDestinatario = {}) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    if (!cpfDestinatario.empty()) {
      tx2.replace(tx2.find("INCLUIRITEM"), 0,
                  "CPF_E03=" + cpfDestinatario +
                      "\nxNome_E04=NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL\n"
                      "indIEDest_E16a=9\n");
    }
    WriteFile(rig->dir / "nota.tx2", tx2);
    return nfce.AssinarNota(nfce.ConverterLoteParaXml(
        rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  }
  std::string Dest(const std::string& name) { return rig->dir / "XmlDestinatario/" + name; }
  // xmlsec1's and xmllint's reports on a distribution file; empty when both accept it.
  static std::string Rejeicao(const std::string& arquivo) {
    const std::string xml = ReadFile(arquivo);
    return test::SignatureError(xml, "infNFe", test::SharedPki().caCert) +
           test::SchemaError(xml, "procNFe_v4.00.xsd");
  }
  static std::string Chave(const std::string& nota) {
    return GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  }
  static std::string ProtStat(const std::string& resposta) {
    std::string cStat;
    XPathSelectSingleNode(resposta, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat,
                          {}, false);
    return cStat;
  }
};

TEST_F(EnvioRoad, SynchronousSendingAuthorisesAndWritesTheDistributionXml) {
  const std::string nota = NotaAssinada(501);
  const std::string chave = Chave(nota);
  const std::string resposta = nfce.EnviarNFSincrono("1", nota, false);
  ASSERT_EQ(ProtStat(resposta), "100") << resposta;
  EXPECT_EQ(GetValueTag("nProt", resposta).size(), 15u);
  ASSERT_TRUE(FileExists(Dest(chave + "-nfce.xml")));
  EXPECT_EQ(Rejeicao(Dest(chave + "-nfce.xml")), "");
  EXPECT_FALSE(FileExists(Dest(chave))) << "the pointer file is gone once written";
  const auto logs = Logs(chave + "-env-sinc-lot.xml");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_THAT(ReadFile(rig->dir / "Log/" + logs[0]), HasSubstr("<indSinc>1</indSinc>"));

  // The same note again: the state's rejection is a normal reply, and nothing new is written.
  const std::string again = nfce.EnviarNFSincrono("2", nota, true);
  EXPECT_EQ(ProtStat(again), "204") << again;
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*.xml").size(), 1u);
  // Without logs on disk there is no distribution XML, nor pointer files.
  const auto antes = ListFiles(rig->dir / "XmlDestinatario/", "*");
  nfce.SetSalvarLogsEmDisco(false);
  EXPECT_EQ(ProtStat(nfce.EnviarNFSincrono("3", NotaAssinada(801), false)), "100");
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*"), antes);
}

// Replies sent as escaped text are read back on the way.
TEST_F(EnvioRoad, BatchThenReceiptWritesAuthorisedAndDeniedNotes) {
  rig->simulator->SetDenegarCpfDestinatario("52998224725");
  rig->simulator->SetResultadoEscapado(true);
  const std::string a = NotaAssinada(601), b = NotaAssinada(602, "52998224725"),
                    c = NotaAssinada(603);
  const std::string resposta = nfce.EnviarNF("77", a + b + c, false);
  ASSERT_THAT(resposta, Not(HasSubstr("&lt;")));
  ASSERT_EQ(GetValueTag("cStat", resposta), "103") << resposta;
  const std::string recibo = GetValueTag("nRec", resposta);
  ASSERT_EQ(recibo.size(), 15u);
  EXPECT_TRUE(FileExists(Dest(recibo)));
  for (const std::string& n : {a, b, c}) EXPECT_TRUE(FileExists(Dest(Chave(n))));

  std::vector<std::string> escritos;
  nfce.OnXmlDestinatario = [&](const std::string& arquivo) { escritos.push_back(arquivo); };
  const std::string processado = nfce.ConsultarRecibo(recibo);
  EXPECT_THAT(processado, StartsWith("<retConsReciNFe"));
  ASSERT_EQ(GetValueTag("cStat", processado), "104") << processado;
  // Authorised notes first, then the denied one; tools we did not write accept all three.
  EXPECT_EQ(escritos,
            (std::vector<std::string>{Dest(Chave(a) + "-nfce.xml"), Dest(Chave(c) + "-nfce.xml"),
                                      Dest(Chave(b) + "-den.xml")}));
  for (const std::string& arquivo : escritos) {
    EXPECT_THAT(ReadFile(arquivo),
                StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc"));
    EXPECT_EQ(Rejeicao(arquivo), "");
  }
  EXPECT_FALSE(FileExists(Dest(recibo)));
  for (const std::string& n : {a, b, c}) EXPECT_FALSE(FileExists(Dest(Chave(n))));
  // The query service knows the authorised note, and its reply writes nothing twice.
  EXPECT_EQ(GetValueTag("cStat", nfce.ConsultarNF(Chave(a))), "100");
}

TEST_F(EnvioRoad, ChecksBeforeAnythingIsPosted) {
  const std::string nota = NotaAssinada(701);
  const int antes = rig->simulator->RequestCount();
  TqorNFCe semConfiguracao;
  EXPECT_EQ(MessageOf<EqorNFCeQuantidadeNotasEnviarSincronoException>(
                [&] { semConfiguracao.EnviarNFSincrono("1", nota + nota, false); }),
            "O lote de notas para envio síncrono deve conter somente uma NFCe");
  EXPECT_EQ(
      MessageOf<EqorNFCeCheckParamsException>([&] { nfce.ConsultarRecibo("35100000000001"); }),
      "Número do Recibo deve ter exatamente 15 dígitos: 35100000000001");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.EnviarNF("1", "  ", false); }),
            "Favor preencher o parâmetro aLoteNotas");
  nfce.GetIntegrador().SetAtivar(true);
  EXPECT_EQ(MessageOf<EqorNFCeException>([&] { nfce.EnviarNF("1", nota, false); }),
            "Envio assíncrono não está disponível para MFe");
  nfce.GetIntegrador().SetAtivar(false);

  // Size: characters, not bytes, against MaxSizeLoteEnvio (500 KB); equal passes.
  std::string loteXml;
  const std::string cheio = nota + std::string(500000 - Utf8Length(nota), ' ');
  EXPECT_NO_THROW(nfce.ValidarTamanhoArquivoEnvio(cheio));
  EXPECT_EQ(MessageOf<EqorNFCeMaxSizeException>(
                [&] { nfce.ValidarLoteParaEnvio("1", cheio + "é", loteXml); }),
            "O Lote de NFCes possui 500.001 KB ultrapassando o limite de 500 KB.");
  EXPECT_THAT(loteXml, HasSubstr("<idLote>1</idLote>")) << "built before the checks";
  EXPECT_THROW(nfce.ValidarLoteParaEnvio("1", "<infNFe Id=\"x\"></infNFe>", loteXml),
               EqorSignatureException);
  EXPECT_EQ(rig->simulator->RequestCount(), antes);

  // Too big for the limit: sent compressed instead (the checks left are skipped), and received.
  nfce.SetMaxSizeLoteEnvio(1);
  const std::string resposta = nfce.EnviarNF("9", nota, false);
  EXPECT_EQ(GetValueTag("cStat", resposta), "103") << resposta;
  // A host's own call reports its failures; inside the sending the size failure is no failure.
  const std::string telemetria = rig->dir / "Log/diagnosticmode/nfce/";
  const auto eventos = ListFiles(telemetria, "telemetria-*.jsonl");
  ASSERT_EQ(eventos.size(), 1u);
  const std::string linhas = ReadFile(telemetria + eventos[0]);
  const auto contar = [&](const std::string& trecho) {
    int n = 0;
    for (std::size_t at = 0; (at = linhas.find(trecho, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(contar("\"evento\":\"ValidarLoteParaEnvio\",\"versao\":\"" + nfce.GetVersao() + "\"}"),
            3)
      << "a ping for each check, the sending's included";
  EXPECT_EQ(contar("\"classe\":\"EqorNFCeMaxSizeException\""), 1) << linhas;
  EXPECT_EQ(contar("\"classe\":\"EqorSignatureException\""), 1) << linhas;
  // The compressed form is standard gzip in standard Base64: the system tools read it back.
  WriteFile(rig->dir / "lote.b64", TqorNFCe::CompactaLote(nota));
  std::string volta;
  ASSERT_EQ(RunCommand("base64 -d '" + rig->dir / "lote.b64" + "' | gunzip", &volta), 0);
  EXPECT_EQ(volta, nota);
}

TEST_F(EnvioRoad, BatchFlagsTheDiagnosisOfEachItemAndTransportFaults) {
  const std::string nota = NotaAssinada(901);
  const std::string resposta = nfce.EnviarNF("31", nota, false);
  EXPECT_EQ(GetValueTag("cStat", resposta), "103") << resposta;
  EXPECT_THAT(ReadFile(rig->dir / "Log/31-env-lot.xml"), HasSubstr("<indSinc>0</indSinc>"));

  // The diagnosis names the batch, and the item whose fields break the schema.
  nfce.SetValidarEsquemaAntesEnvio(true);
  EXPECT_NO_THROW(nfce.ValidarLoteItem("31", nota));
  std::string quebrada = nota;
  quebrada.replace(quebrada.find("<qCom>"), 6, "<qCom>x");
  EXPECT_EQ(MessageOf<EqorSchemaValidationException>([&] { nfce.ValidarLoteItem("31", quebrada); }),
            "O arquivo contém 1 ou mais erros no de validação de esquema.");
  const std::string erros = nfce.GetErrosValidador().Text();
  EXPECT_THAT(erros, StartsWith("Lote: 31 - Item: 1 - "));
  EXPECT_THAT(erros, HasSubstr("qCom"));
  EXPECT_THAT(erros, Not(HasSubstr("Lote: 31 - Element"))) << "the header is valid";

  // An HTTP failure or a time-out raises, with the batch log and the pointer files on disk.
  struct Caso {
    sim::SimulatorFault fault;
    int delay, nNF;
    std::string lote, erro;
  };
  nfce.SetTimeOut(300);
  for (const Caso& caso :
       {Caso{sim::SimulatorFault::Http500, 0, 802, "5", ": HTTP 500"},
        Caso{sim::SimulatorFault::Delay, 3000, 902, "32", ": tempo limite de 300 ms esgotado"}}) {
    rig->simulator->SetFault(caso.fault, caso.delay);
    const std::string outra = NotaAssinada(caso.nNF);
    EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.EnviarNF(caso.lote, outra, false); }),
                AllOf(StartsWith("Falha na comunicação com " + rig->simulator->BaseUrl()),
                      HasSubstr(caso.erro)));
    EXPECT_EQ(Logs(caso.lote + "-env-lot.xml").size(), 1u);
    EXPECT_TRUE(FileExists(Dest(Chave(outra))));
  }
}

TEST(EnvioInspecoes, CancellationTextsAreRecognised) {
  const std::string ns = "http://www.portalfiscal.inf.br/nfe";
  const std::string chave(44, '3');
  const std::string evento = "<evento xmlns=\"" + ns + "\"><infEvento><chNFe>" + chave +
                             "</chNFe><tpEvento>110111</tpEvento></infEvento></evento>";
  const std::string proc = "<nfeProc xmlns=\"" + ns + "\"><NFe><infNFe Id=\"NFe" + chave +
                           "\"><emit><enderEmit><xLgr>Rua</xLgr></enderEmit></emit></infNFe>"
                           "</NFe></nfeProc>";
  EXPECT_TRUE(TqorNFCe::isXMLCancelamento(evento));
  EXPECT_FALSE(TqorNFCe::isXMLCancelamento(proc));
  EXPECT_TRUE(TqorNFCe::isXMLEnvioECancelamento(proc + evento));
  EXPECT_FALSE(TqorNFCe::isXMLEnvioECancelamento(evento));
  TqorNFCe nfce;
  EXPECT_EQ(
      nfce.TratarXMLEnviCancelamento("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + proc + evento),
      proc);
  std::string outro = evento;
  outro.replace(outro.find(chave), 44, std::string(44, '4'));
  EXPECT_EQ(
      MessageOf<EqorNFCeReportException>([&] { nfce.TratarXMLEnviCancelamento(proc + outro); }),
      "Os XMLs de envio e cancelamento informados não pertencem a mesma NFC-e");
}

}  // namespace
}  // namespace qor
