// The road from TX2 to an authorised nfeProc against the simulator: synchronous and batch
// sending, the receipt query, the distribution XML, and the checks before anything is posted.
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
using test::SimulatorRig;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;

class EnvioRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<SimulatorRig>();
    rig->Configure(nfce);
  }
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
  int Verificar(const std::string& arquivo, std::string* out) {
    return RunCommand("xmlsec1 --verify --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe "
                      "--trusted-pem '" + test::SharedPki().caCert + "' '" + arquivo + "'",
                      out) |
           RunCommand("xmllint --noout --schema '" + test::SchemasFolder() +
                          "/procNFe_v4.00.xsd' '" + arquivo + "'",
                      out);
  }
  static std::string Chave(const std::string& nota) {
    return GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  }

  std::unique_ptr<SimulatorRig> rig;
  TqorNFCe nfce;
};

TEST_F(EnvioRoad, SynchronousSendingAuthorisesAndWritesTheDistributionXml) {
  const std::string nota = NotaAssinada(501);
  const std::string chave = Chave(nota);
  const std::string resposta = nfce.EnviarNFSincrono("1", nota, false);
  std::string cStat;
  XPathSelectSingleNode(resposta, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat,
                        {}, false);
  ASSERT_EQ(cStat, "100") << resposta;
  EXPECT_EQ(GetValueTag("nProt", resposta).size(), 15u);

  const std::string proc = Dest(chave + "-nfce.xml");
  ASSERT_TRUE(FileExists(proc));
  std::string out;
  EXPECT_EQ(Verificar(proc, &out), 0) << out;
  EXPECT_FALSE(FileExists(Dest(chave))) << "the pointer file is gone once written";
  const auto logs = ListFiles(rig->dir / "Log/", chave + "-env-sinc-lot.xml");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(ReadFile(rig->dir / "Log/" + logs[0]).find("<indSinc>1</indSinc>"), std::string::npos);

  // The same note again: the state's rejection is a normal reply, and nothing new is written.
  const std::string again = nfce.EnviarNFSincrono("2", nota, true);
  cStat.clear();
  XPathSelectSingleNode(again, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat, {},
                        false);
  EXPECT_EQ(cStat, "204") << again;
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*.xml").size(), 1u);
}

TEST_F(EnvioRoad, BatchThenReceiptWritesAuthorisedAndDeniedNotes) {
  rig->simulator->SetDenegarCpfDestinatario("52998224725");
  const std::string a = NotaAssinada(601), b = NotaAssinada(602, "52998224725"),
                    c = NotaAssinada(603);
  const std::string resposta = nfce.EnviarNF("77", a + b + c, false);
  ASSERT_EQ(GetValueTag("cStat", resposta), "103") << resposta;
  const std::string recibo = GetValueTag("nRec", resposta);
  ASSERT_EQ(recibo.size(), 15u);
  EXPECT_TRUE(FileExists(Dest(recibo)));
  for (const std::string& n : {a, b, c}) EXPECT_TRUE(FileExists(Dest(Chave(n))));

  const std::string processado = nfce.ConsultarRecibo(recibo);
  ASSERT_EQ(GetValueTag("cStat", processado), "104") << processado;
  std::string out;
  EXPECT_EQ(Verificar(Dest(Chave(a) + "-nfce.xml"), &out), 0) << out;
  EXPECT_EQ(Verificar(Dest(Chave(c) + "-nfce.xml"), &out), 0) << out;
  EXPECT_TRUE(FileExists(Dest(Chave(b) + "-den.xml")));
  EXPECT_FALSE(FileExists(Dest(recibo)));
  for (const std::string& n : {a, b, c}) EXPECT_FALSE(FileExists(Dest(Chave(n))));
  // The query service knows the authorised note, and its reply writes nothing twice.
  EXPECT_EQ(GetValueTag("cStat", nfce.ConsultarNF(Chave(a))), "100");
}

TEST_F(EnvioRoad, RepliesSentAsEscapedTextAreReadBack) {
  rig->simulator->SetResultadoEscapado(true);
  const std::string nota = NotaAssinada(651);
  const std::string resposta = nfce.EnviarNF("78", nota, false);
  ASSERT_EQ(resposta.find("&lt;"), std::string::npos) << resposta;
  const std::string recibo = GetValueTag("nRec", resposta);
  ASSERT_EQ(recibo.size(), 15u) << resposta;
  ASSERT_TRUE(FileExists(Dest(recibo)));

  const std::string processado = nfce.ConsultarRecibo(recibo);
  EXPECT_EQ(processado.rfind("<retConsReciNFe", 0), 0u) << processado;
  EXPECT_EQ(GetValueTag("cStat", processado), "104") << processado;
  std::string out;
  EXPECT_EQ(Verificar(Dest(Chave(nota) + "-nfce.xml"), &out), 0) << out;
  EXPECT_FALSE(FileExists(Dest(recibo)));
}

TEST_F(EnvioRoad, ChecksBeforeAnythingIsPosted) {
  const std::string nota = NotaAssinada(701);
  const int antes = rig->simulator->RequestCount();
  TqorNFCe semConfiguracao;
  EXPECT_EQ(MessageOf<EqorNFCeQuantidadeNotasEnviarSincronoException>(
                [&] { semConfiguracao.EnviarNFSincrono("1", nota + nota, false); }),
            "O lote de notas para envio síncrono deve conter somente uma NFCe");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.ConsultarRecibo("35100000000001"); }),
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
  EXPECT_NE(loteXml.find("<idLote>1</idLote>"), std::string::npos) << "built before the checks";
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

TEST_F(EnvioRoad, NoDistributionWithoutLogsOnDiskAndTransportFaultsLeaveTheLogs) {
  nfce.SetSalvarLogsEmDisco(false);
  const std::string nota = NotaAssinada(801);
  const std::string resposta = nfce.EnviarNFSincrono("1", nota, false);
  EXPECT_NE(resposta.find("<cStat>100</cStat>"), std::string::npos) << resposta;
  EXPECT_TRUE(ListFiles(rig->dir / "XmlDestinatario/", "*").empty());

  nfce.SetSalvarLogsEmDisco(true);
  rig->simulator->SetFault(sim::SimulatorFault::Http500);
  const std::string outra = NotaAssinada(802);
  const std::string message =
      MessageOf<EqorGovException>([&] { nfce.EnviarNF("5", outra, false); });
  EXPECT_EQ(message.rfind("Falha na comunicação com " + rig->simulator->BaseUrl(), 0), 0u)
      << message;
  EXPECT_NE(message.find(": HTTP 500"), std::string::npos) << message;
  EXPECT_EQ(ListFiles(rig->dir / "Log/", "5-env-lot.xml").size(), 1u);
  EXPECT_TRUE(FileExists(Dest(Chave(outra))));
}

TEST_F(EnvioRoad, BatchFlagsAndTheDiagnosisOfEachItem) {
  const std::string nota = NotaAssinada(901);
  const std::string resposta = nfce.EnviarNF("31", nota, false);
  EXPECT_EQ(GetValueTag("cStat", resposta), "103") << resposta;
  EXPECT_NE(ReadFile(rig->dir / "Log/31-env-lot.xml").find("<indSinc>0</indSinc>"),
            std::string::npos);

  // The diagnosis names the batch, and the item whose fields break the schema.
  nfce.SetValidarEsquemaAntesEnvio(true);
  EXPECT_NO_THROW(nfce.ValidarLoteItem("31", nota));
  std::string quebrada = nota;
  quebrada.replace(quebrada.find("<qCom>"), 6, "<qCom>x");
  EXPECT_EQ(MessageOf<EqorSchemaValidationException>(
                [&] { nfce.ValidarLoteItem("31", quebrada); }),
            "O arquivo contém 1 ou mais erros no de validação de esquema.");
  const std::string erros = nfce.GetErrosValidador().Text();
  EXPECT_EQ(erros.rfind("Lote: 31 - Item: 1 - ", 0), 0u) << erros;
  EXPECT_NE(erros.find("qCom"), std::string::npos) << erros;
  EXPECT_EQ(erros.find("Lote: 31 - Element"), std::string::npos) << "the header is valid";

  // A time-out raises, with the batch log and the pointer files already on disk.
  rig->simulator->SetFault(sim::SimulatorFault::Delay, 3000);
  nfce.SetTimeOut(300);
  const std::string lenta = NotaAssinada(902);
  const std::string message =
      MessageOf<EqorGovException>([&] { nfce.EnviarNF("32", lenta, false); });
  EXPECT_EQ(message.rfind("Falha na comunicação com " + rig->simulator->BaseUrl(), 0), 0u)
      << message;
  EXPECT_NE(message.find(": tempo limite de 300 ms esgotado"), std::string::npos) << message;
  EXPECT_EQ(ListFiles(rig->dir / "Log/", "32-env-lot.xml").size(), 1u);
  EXPECT_TRUE(FileExists(Dest(Chave(lenta))));
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
  EXPECT_EQ(nfce.TratarXMLEnviCancelamento("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + proc +
                                           evento),
            proc);
  std::string outro = evento;
  outro.replace(outro.find(chave), 44, std::string(44, '4'));
  EXPECT_EQ(MessageOf<EqorNFCeReportException>(
                [&] { nfce.TratarXMLEnviCancelamento(proc + outro); }),
            "Os XMLs de envio e cancelamento informados não pertencem a mesma NFC-e");
}

}  // namespace
}  // namespace qor
