// The road when things go wrong around it: processes racing on one batch number or one note, a
// server that answers with something other than SOAP or that never answers, replies about
// another note, and the checks a large batch must still pass. The racing clients are real
// `qornfce` processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "NoteStore.h"
#include "Simulator.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TlsFaultServer.h"

namespace qor {
namespace {

using test::Cli;
using test::CliRun;
using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;

class Falhas : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<test::SimulatorRig>();
    ::setenv("QORNFCE_KEY_FILE", (rig->dir / "chave.key").c_str(), 1);
    rig->Configure(nfce);
    config = rig->dir / "nfceConfig.ini";
    nfce.SaveConfig(config);
  }
  void TearDown() override { ::unsetenv("QORNFCE_KEY_FILE"); }

  // The one-item sample numbered `nNF`, converted and signed, also written to nota<nNF>.xml.
  std::string Nota(int nNF) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    WriteFile(rig->dir / "nota.tx2", tx2);
    const std::string nota = nfce.AssinarNota(nfce.ConverterLoteParaXml(
        rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
    WriteFile(Arquivo(nNF), nota);
    return nota;
  }
  std::string Arquivo(int nNF) { return rig->dir / ("nota" + std::to_string(nNF) + ".xml"); }
  // The cStat of the reply's protocol (the batch's own comes first).
  static std::string CStatProt(const std::string& resposta) {
    std::string cStat;
    XPathSelectSingleNode(resposta, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat,
                          {}, false);
    return cStat;
  }
  static std::string Chave(const std::string& nota) {
    return GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  }
  std::string Log(const std::string& nome) { return rig->dir / "Log/" + nome; }
  // The reply logs that match `mascara`, without the requests ("-ped-sta.xml" ends as "-sta.xml").
  std::vector<std::string> Respostas(const std::string& mascara) {
    std::vector<std::string> nomes = ListFiles(rig->dir / "Log/", mascara);
    std::erase_if(nomes, [](const std::string& n) { return n.find("-ped-") != std::string::npos; });
    return nomes;
  }
  std::string Dest(const std::string& nome) { return rig->dir / "XmlDestinatario/" + nome; }
  // `qornfce --config <config> <args>` as a shell command writing <saida>.out/.err/.rc.
  std::string Processo(const std::string& args, const std::string& saida) {
    return "(" + kBin + "/qornfce --config '" + config + "' " + args + " >'" + rig->dir / saida +
           ".out' 2>'" + rig->dir / saida + ".err'; echo $? >'" + rig->dir / saida + ".rc')";
  }
  std::string Saida(const std::string& saida, const char* tipo) {
    return ReadFile(rig->dir / saida + tipo);
  }

  std::unique_ptr<test::SimulatorRig> rig;
  TqorNFCe nfce;
  std::string config;
};

// Eight processes send batch 777 at once, each with its own note: no send log replaces another,
// and every note reaches its nfeProc through the receipt its process got.
TEST_F(Falhas, OneBatchNumberSentByEightProcessesLosesNoNote) {
  std::string todos;
  std::vector<std::string> chaves;
  for (int i = 1; i <= 8; ++i) {
    chaves.push_back(Chave(Nota(900 + i)));
    todos += Processo("enviar 777 '" + Arquivo(900 + i) + "'", "p" + std::to_string(i)) + " & ";
  }
  ASSERT_EQ(RunCommand(todos + "wait"), 0);
  EXPECT_EQ(ListFiles(rig->dir / "Log/", "777*-env-lot.xml").size(), 8u);
  for (int i = 1; i <= 8; ++i) {
    const std::string p = "p" + std::to_string(i);
    ASSERT_EQ(Saida(p, ".rc"), "0\n") << Saida(p, ".err");
    const std::string recibo = GetValueTag("nRec", Saida(p, ".out"));
    ASSERT_EQ(recibo.size(), 15u) << Saida(p, ".out");
    const CliRun consulta = Cli("--config '" + config + "' consultar-recibo " + recibo, rig->dir);
    EXPECT_EQ(consulta.status, 0) << consulta.err;
    EXPECT_TRUE(FileExists(Dest(chaves[i - 1] + "-nfce.xml"))) << p << ": " << consulta.out;
  }
}

// The same note sent by two processes: the first is authorised but its reply is held back, so
// the second's 204 is logged first. Neither log replaces the other, and the first still writes
// its nfeProc from its own logs. Ten rounds.
TEST_F(Falhas, TheSameNoteSentTwiceAtOnceKeepsBothRepliesAndTheNfeProc) {
  for (int rodada = 1; rodada <= 10; ++rodada) {
    const int nNF = 950 + rodada;
    const std::string chave = Chave(Nota(nNF));
    rig->simulator->SetFault(sim::SimulatorFault::DelayFirstReply, 1500);
    const std::string envio = "enviar-sincrono 1 '" + Arquivo(nNF) + "'";
    std::thread primeiro([&] { RunCommand(Processo(envio, "a")); });
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!rig->simulator->Notas().Buscar(chave) && std::chrono::steady_clock::now() < limite) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    RunCommand(Processo(envio, "b"));
    primeiro.join();
    rig->simulator->SetFault(sim::SimulatorFault::Normal);

    EXPECT_EQ(CStatProt(Saida("b", ".out")), "204") << rodada << Saida("b", ".err");
    EXPECT_EQ(Saida("a", ".rc"), "0\n") << Saida("a", ".err");
    EXPECT_EQ(CStatProt(Saida("a", ".out")), "100") << rodada;
    EXPECT_EQ(CStatProt(ReadFile(Log(chave + "-env-sinc-ret.xml"))), "204") << rodada;
    EXPECT_EQ(CStatProt(ReadFile(Log(chave + "~2-env-sinc-ret.xml"))), "100") << rodada;
    EXPECT_EQ(ListFiles(rig->dir / "Log/", chave + "*-env-sinc-lot.xml").size(), 2u);
    ASSERT_TRUE(FileExists(Dest(chave + "-nfce.xml"))) << rodada;
    std::string out;
    EXPECT_EQ(RunCommand("xmllint --noout --schema '" + test::SchemasFolder() +
                             "/procNFe_v4.00.xsd' '" + Dest(chave + "-nfce.xml") + "'",
                         &out),
              0)
        << out;
  }
}

// A 200 reply that is not a SOAP envelope is a failure naming the address, never the state's
// reply; the body is kept in the reply log. After a note was sent, the message says its fate is
// unknown.
TEST_F(Falhas, RepliesThatAreNotSoapFailEveryOperationAndAreLogged) {
  const std::string nota = Nota(970);
  const std::string chave = Chave(nota);
  struct Resposta {
    const char* nome;
    std::string corpo, tipo;
  };
  const std::string cortado =
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body><ret";
  const Resposta respostas[] = {
      {"vazia", "", "application/soap+xml"},
      {"texto", "Servico indisponivel", "text/plain"},
      {"html", "<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html"},
      {"cortada", cortado, "application/soap+xml"},
      {"latin1",
       "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
       "<x>Servi\xE7o</x></soap:Body></soap:Envelope>",
       "application/soap+xml"},
      {"longa", "<html>" + std::string(5000, 'x') + "</html>", "text/html"},
  };
  struct Operacao {
    std::string args, log;
    bool enviada;
  };
  const Operacao operacoes[] = {
      {"status", "*-sta.xml", false},
      {"consultar " + chave, chave + "*-sit.xml", false},
      {"consultar-recibo 351000000000001", "351000000000001*-pro-rec.xml", false},
      {"enviar-sincrono 1 '" + Arquivo(970) + "'", chave + "*-env-sinc-ret.xml", true},
  };
  for (const Resposta& resposta : respostas) {
    rig->simulator->SetFault(sim::SimulatorFault::FixedBody);
    rig->simulator->SetFaultBody(resposta.corpo, resposta.tipo);
    for (const Operacao& op : operacoes) {
      const auto antes = Respostas(op.log).size();
      const CliRun run = Cli("--config '" + config + "' " + op.args, rig->dir);
      const std::string caso = std::string(resposta.nome) + " / " + op.args + "\n" + run.err;
      EXPECT_EQ(run.status, 1) << caso;
      EXPECT_EQ(run.out, "") << caso;
      EXPECT_NE(run.err.find("A resposta de " + rig->simulator->BaseUrl()), std::string::npos)
          << caso;
      EXPECT_NE(run.err.find("não é um envelope SOAP"), std::string::npos) << caso;
      EXPECT_LT(run.err.size(), 700u) << caso;
      EXPECT_EQ(run.err.find("situação da nota enviada é desconhecida") != std::string::npos,
                op.enviada)
          << caso;
      const auto logs = Respostas(op.log);
      ASSERT_EQ(logs.size(), antes + 1) << caso;
      EXPECT_TRUE(std::find_if(logs.begin(), logs.end(),
                               [&](const std::string& n) {
                                 return ReadFile(Log(n)) == resposta.corpo;
                               }) != logs.end())
          << caso;
    }
  }
  EXPECT_FALSE(FileExists(Dest(chave + "-nfce.xml")));
}

// An HTTP error keeps its whole body in the reply log and says the SOAP fault's reason.
TEST_F(Falhas, AnHttpErrorKeepsItsBodyAndSaysTheFaultsReason) {
  rig->simulator->SetFault(sim::SimulatorFault::Http500);
  const std::string message = MessageOf<EqorGovReplyException>([&] { nfce.StatusDoServico(); });
  EXPECT_EQ(message, "Falha na comunicação com " + rig->simulator->BaseUrl() +
                         "/ws/NFeStatusServico4.asmx: HTTP 500 - Falha simulada: erro interno do "
                         "servidor.");
  const auto logs = Respostas("*-sta.xml");
  ASSERT_EQ(logs.size(), 1u);
  const std::string corpo = ReadFile(Log(logs.front()));
  EXPECT_NE(corpo.find("<soap:Value>soap:Receiver</soap:Value>"), std::string::npos) << corpo;
}

// A reply whose protocol names another note's key gives this note no nfeProc (nor a denial):
// the operation fails saying so and that the note's fate is unknown, and its pointer file stays.
TEST_F(Falhas, AProtocolOfAnotherKeyIsNotThisNotes) {
  const std::string outra = nfce.EnviarNFSincrono("1", Nota(980), false);
  ASSERT_NE(outra.find("<cStat>100</cStat>"), std::string::npos) << outra;
  rig->simulator->SetFault(sim::SimulatorFault::FixedBody);
  rig->simulator->SetFaultBody(
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>" + outra +
          "</soap:Body></soap:Envelope>",
      "application/soap+xml");
  const std::string chave = Chave(Nota(981));
  try {
    nfce.EnviarNFSincrono("1", LoadFromFile(Arquivo(981)), false);
    ADD_FAILURE() << "another note's protocol was taken";
  } catch (const EqorGovReplyException& falha) {
    EXPECT_EQ(falha.Body(), outra);
    EXPECT_EQ(std::string(falha.what()),
              "A resposta ao envio da NFC-e " + chave + " traz o protocolo de outra NFC-e (" +
                  GetValueTag("chNFe", outra) +
                  "). A situação da nota enviada é desconhecida: consulte-a pela chave "
                  "(ConsultarNF) antes de emiti-la de novo.");
  }
  EXPECT_FALSE(FileExists(Dest(chave + "-nfce.xml")));
  EXPECT_FALSE(FileExists(Dest(chave + "-den.xml")));
  EXPECT_FALSE(FileExists(Dest("Erro-" + chave)));
  EXPECT_TRUE(FileExists(Dest(chave))) << "the pointer file stays";
}

// A batch over MaxSizeLoteEnvio is compressed, but still checked: an unsigned note and a note
// the schema refuses are not sent. A declaration and a byte-order mark before a note are dropped.
TEST_F(Falhas, LargeBatchesAreStillCheckedAndDeclarationsBeforeANoteAreDropped) {
  nfce.SetMaxSizeLoteEnvio(1);
  nfce.SetValidarEsquemaAntesEnvio(true);
  const std::string nota = Nota(990);
  std::string semAssinatura = nota;
  semAssinatura.erase(semAssinatura.find("<Signature"),
                      semAssinatura.find("</Signature>") + 12 - semAssinatura.find("<Signature"));
  std::string invalida = nota;
  invalida.replace(invalida.find("<natOp>"), 7, "<natOp/><natOp>");
  const int antes = rig->simulator->RequestCount();
  for (bool sincrono : {false, true}) {
    const auto enviar = [&](const std::string& notas) {
      return sincrono ? nfce.EnviarNFSincrono("1", notas, false) : nfce.EnviarNF("1", notas, false);
    };
    EXPECT_EQ(MessageOf<EqorSignatureException>([&] { enviar(semAssinatura); }),
              "A nota não possui assinatura");
    MessageOf<EqorSchemaValidationException>([&] { enviar(invalida); });
  }
  EXPECT_EQ(rig->simulator->RequestCount(), antes) << "nothing was posted";

  const std::string resposta = nfce.EnviarNFSincrono(
      "1", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + nota, false);
  EXPECT_NE(resposta.find("<cStat>100</cStat>"), std::string::npos) << resposta;
  EXPECT_TRUE(FileExists(Dest(Chave(nota) + "-nfce.xml")));
}

// TimeOut 0 is bounded: a server that accepts and never answers costs a minute, not forever.
TEST(TempoLimite, ZeroMeansAMinuteNotForever) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "timed in the regular build only";
#endif
  const sim::TestPki& pki = test::SharedPki();
  test::TlsFaultServer::Options options;
  options.certPem = pki.serverCert;
  options.keyPem = pki.serverKey;
  options.fault = test::TlsFaultServer::Fault::kNeverAnswer;
  test::TlsFaultServer server(options);
  test::TempDir dir;
  WriteFile(dir / "servidores.ini", "[SP]\nNfeStatusServico4=" + server.Url() + "\n");
  TqorNFCe nfce;
  test::ConfigureComponent(nfce, dir, dir / "servidores.ini", dir / "servidores.ini");
  ASSERT_EQ(nfce.GetTimeOut(), 0);
  const auto inicio = std::chrono::steady_clock::now();
  const std::string message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
  const auto segundos =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - inicio)
          .count();
  EXPECT_GE(segundos, 60);
  EXPECT_LT(segundos, 70);
  EXPECT_NE(message.find("tempo limite de 60000 ms esgotado"), std::string::npos) << message;
  server.Stop();
}

}  // namespace
}  // namespace qor
