// StatusDoServico end to end: the component against the simulator over real TLS with the
// company's client certificate, and every failure on the way with its class and message.
#include <gtest/gtest.h>

#include <ostream>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TlsFaultServer.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::SimulatorRig;

class StatusRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<SimulatorRig>();
    rig->Configure(nfce);
  }
  std::vector<std::string> Logs(const std::string& mask) {
    return ListFiles(rig->dir / "Log/", mask);
  }
  std::string LogDir() { return rig->dir / "Log/"; }

  std::unique_ptr<SimulatorRig> rig;
  TqorNFCe nfce;
};

TEST_F(StatusRoad, AnswersInOperationAndBothMessagesAreLogged) {
  std::vector<std::string> logged;
  nfce.OnLog = [&](const std::string& kind, const std::string&, const std::string& file) {
    logged.push_back(kind + ":" + file);
  };
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("cStat", reply), "107") << reply;
  EXPECT_EQ(GetValueTag("xMotivo", reply), "Serviço em Operação");
  EXPECT_EQ(GetValueTag("cUF", reply), "35");
  EXPECT_EQ(GetValueTag("tpAmb", reply), "2");
  ASSERT_EQ(Logs("*-ped-sta.xml").size(), 1u);
  ASSERT_EQ(Logs("*.xml").size(), 2u);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].rfind("ped-sta:", 0), 0u);
  EXPECT_EQ(logged[1].rfind("sta:", 0), 0u);

  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(GetValueTag("tpAmb", nfce.StatusDoServico()), "1") << "the production file's address";
}

// Every manual version reaches its own service and gets an answer in its own layout: vm50 and
// vm50a build the request from the template files of the data folder, vm50b and vm60 from the
// catalogue in memory. Request and reply are checked against the standard's schemas by xmllint.
struct Versao {
  TVersaoManual versao;
  const char* layout;
  friend void PrintTo(const Versao& v, std::ostream* os) { *os << ToString(v.versao); }
};
constexpr Versao kVersoes[] = {{TVersaoManual::vm50, "3.10"},
                               {TVersaoManual::vm50a, "3.10"},
                               {TVersaoManual::vm50b, "3.10"},
                               {TVersaoManual::vm60, "4.00"}};

class StatusPorVersao : public StatusRoad, public ::testing::WithParamInterface<Versao> {};

TEST_P(StatusPorVersao, AnswersInTheLayoutOfTheRequest) {
  const std::string layout = GetParam().layout;
  nfce.SetVersaoManual(GetParam().versao);
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("cStat", reply), "107") << reply;
  EXPECT_EQ(GetXMLAttributeByIndex(reply, "retConsStatServ", "versao"), layout);

  std::string out;
  const auto valida = [&](const std::string& xsd, const std::string& file) {
    return RunCommand(
        "xmllint --noout --schema '" + test::SchemasFolder() + "/" + xsd + "' '" + file + "'",
        &out);
  };
  EXPECT_EQ(valida("consStatServ_v" + layout + ".xsd", LogDir() + Logs("*-ped-sta.xml").at(0)), 0)
      << out;
  std::string ret;
  ASSERT_TRUE(XPathSelectSingleNode(reply, "//*[local-name()='retConsStatServ']", ret));
  test::WriteFile(rig->dir / "ret.xml", ret);
  EXPECT_EQ(valida("retConsStatServ_v" + layout + ".xsd", rig->dir / "ret.xml"), 0) << out;
}

INSTANTIATE_TEST_SUITE_P(Versoes, StatusPorVersao, ::testing::ValuesIn(kVersoes),
                         [](const auto& info) { return ToString(info.param.versao); });

TEST_F(StatusRoad, ServerVerifiedAgainstTheConfiguredChain) {
  nfce.SetIgnoreInvalidCertificates(false);
  nfce.SetArquivoCadeiaCertificados(test::SharedPki().caCert);
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
}

TEST_F(StatusRoad, MissingKeyStopsAfterTheRequestIsLogged) {
  TIniFile ini(rig->hom);
  ini.DeleteKey("SP", "NfeStatusServico4");
  EXPECT_EQ(MessageOf<EqorNFCeAddressException>([&] { nfce.StatusDoServico(); }),
            "Servidor para NfeStatusServico4 não definido no arquivo: " + rig->hom);
  EXPECT_EQ(Logs("*-ped-sta.xml").size(), 1u);
  EXPECT_EQ(Logs("*-sta.xml").size(), 1u) << "only the request: no reply was logged";
  EXPECT_EQ(rig->simulator->RequestCount(), 0);
}

TEST_F(StatusRoad, TenConsecutiveRequestsShareOneTlsConnection) {
  const int before = rig->simulator->HandshakeCount();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
  EXPECT_EQ(rig->simulator->HandshakeCount() - before, 1);

  // A second component has its own connection: the count sees it, so the check above can fail.
  TqorNFCe other;
  rig->Configure(other);
  EXPECT_EQ(GetValueTag("cStat", other.StatusDoServico()), "107");
  EXPECT_EQ(rig->simulator->HandshakeCount() - before, 2);
}

TEST_F(StatusRoad, EditingTheServerFileBetweenCallsChangesTheAddress) {
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
  TIniFile ini(rig->hom);
  ini.WriteString("SP", "NfeStatusServico4", "https://127.0.0.1:9/ws/fechado");
  const std::string message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
  EXPECT_NE(message.find("https://127.0.0.1:9/ws/fechado"), std::string::npos) << message;
}

TEST_F(StatusRoad, ConfigurationAndCertificateFailuresStopBeforeAnythingIsLogged) {
  const auto& pki = test::SharedPki();
  nfce.SetCaminhoCertificado(rig->dir / "nao-existe.pfx");
  EXPECT_THROW(nfce.StatusDoServico(), EqorCertStoreException);
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetSenhaCertificado("senha-errada");
  const std::string wrong = MessageOf<EqorCertStoreException>([&] { nfce.StatusDoServico(); });
  EXPECT_EQ(wrong.find("senha-errada"), std::string::npos) << "a password never reaches a message";
  nfce.SetCaminhoCertificado(pki.expiredPfx);
  nfce.SetSenhaCertificado(pki.password);
  EXPECT_THROW(nfce.StatusDoServico(), EqorCertStoreException);
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetCNPJ("1122233300018");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.StatusDoServico(); }),
            "O CNPJ não possui 14 digitos. 1122233300018");
  EXPECT_TRUE(Logs("*-ped-sta.xml").empty());
  EXPECT_EQ(rig->simulator->RequestCount(), 0);

  // Each failure reached the exception log and the telemetry record.
  const std::string exceptions = ReadFile(rig->dir / "LogErro/nfce_exception.log");
  EXPECT_NE(exceptions.find("EqorCertStoreException"), std::string::npos);
  const auto events = ListFiles(LogDir() + "diagnosticmode/nfce/", "*.jsonl");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(
      ReadFile(LogDir() + "diagnosticmode/nfce/" + events[0]).find("EqorNFCeCheckParamsException"),
      std::string::npos);
}

TEST_F(StatusRoad, TransportFaultsLeaveTheRequestLogAndNameTheAddress) {
  nfce.SetTimeOut(300);
  rig->simulator->SetFault(sim::SimulatorFault::Delay, 3000);
  std::string message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
  EXPECT_NE(message.find(rig->simulator->BaseUrl()), std::string::npos) << message;

  rig->simulator->SetFault(sim::SimulatorFault::Http500);
  message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
  EXPECT_NE(message.find("500"), std::string::npos) << message;

  rig->simulator->SetFault(sim::SimulatorFault::NoSoapBody);
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("Body", reply), "") << "a reply without a SOAP body comes back unchanged";
  EXPECT_FALSE(reply.empty());

  const int port = rig->simulator->Port();
  rig->simulator->Stop();
  message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
  EXPECT_NE(message.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << message;
  EXPECT_EQ(Logs("*-ped-sta.xml").size(), 4u);
}

TEST(StatusRoadTls, AServerOutsideTheTrustedChainIsRefusedWhenVerificationIsOn) {
  QOR_NEEDS_SCHEMAS();
  SimulatorRig rig(/*otherCaServer=*/true);
  TqorNFCe nfce;
  rig.Configure(nfce);
  nfce.SetIgnoreInvalidCertificates(false);
  nfce.SetArquivoCadeiaCertificados(test::SharedPki().caCert);
  EXPECT_THROW(nfce.StatusDoServico(), EqorGovException);
  nfce.SetIgnoreInvalidCertificates(true);
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
}

TEST_F(StatusRoad, ConnectionsClosedOrCutShortAreFailuresNotReplies) {
  const auto& pki = test::SharedPki();
  for (auto fault : {test::TlsFaultServer::Fault::kCloseWithoutReply,
                     test::TlsFaultServer::Fault::kTruncatedBody}) {
    test::TlsFaultServer::Options options;
    options.certPem = pki.serverCert;
    options.keyPem = pki.serverKey;
    options.fault = fault;
    test::TlsFaultServer server(options);
    TIniFile(rig->hom).WriteString("SP", "NfeStatusServico4", server.Url("/ws/status"));
    const std::string message = MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); });
    EXPECT_NE(message.find(server.Url("/ws/status")), std::string::npos) << message;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].headers["content-type"].find(
                  "action=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/"
                  "nfeStatusServicoNF4\""),
              std::string::npos);
    EXPECT_NE(server.Requests()[0].clientSubject.find("EMPRESA TESTE:11222333000181"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qor
