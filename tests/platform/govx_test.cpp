// TqorGovX.PostSOAP against a real TLS peer: the round trip, connection reuse, trust, the client
// certificate, and the ways a service or a network fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TestPki.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "support/Expect.h"
#include "support/TlsFaultServer.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using test::TlsFaultServer;

constexpr char kPassword[] = "senha-do-pfx-123";
constexpr char kCnpj[] = "12345678000195";
constexpr char kAction[] =
    "http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/nfeStatusServicoNF";
constexpr char kReply[] =
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
    "<retConsStatServ><cStat>107</cStat></retConsStatServ></soap:Body></soap:Envelope>";

class GovXPostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pkiFolder_ =
        new fs::path(fs::temp_directory_path() / ("govx-post-pki-" + std::to_string(::getpid())));
    pki_ = new sim::TestPki(sim::CreateTestPki(pkiFolder_->string(), kCnpj, kPassword));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*pkiFolder_);
    delete pki_;
    delete pkiFolder_;
  }

  const sim::TestPki& Pki() const { return *pki_; }

  // A services object with the company certificate, trusting the test CA.
  std::unique_ptr<TqorGovX> MakeGov(const std::string& pfx = pki_->companyPfx) {
    auto gov = std::make_unique<TqorGovX>();
    gov->Get_CertificateSettings().Path = pfx;
    gov->Get_CertificateSettings().Password = kPassword;
    gov->Get_HttpSettings().IgnoreInvalidCertificates = false;
    gov->Get_HttpSettings().CABundle = pki_->caCert;
    return gov;
  }

  TlsFaultServer::Options ServerOptions(
      TlsFaultServer::Fault fault = TlsFaultServer::Fault::kNone) {
    TlsFaultServer::Options o;
    o.certPem = pki_->serverCert;
    o.keyPem = pki_->serverKey;
    o.fault = fault;
    o.body = kReply;
    return o;
  }

  std::string Post(TqorGovX& gov, const std::string& url) {
    return gov.PostSOAP(url, "<soap:Envelope/>", kAction, "nfeResultMsg", "ns");
  }

  // A port nobody listens on any more.
  int ClosedPort() { return TlsFaultServer(ServerOptions()).Port(); }

  static fs::path* pkiFolder_;
  static sim::TestPki* pki_;
};

fs::path* GovXPostTest::pkiFolder_ = nullptr;
sim::TestPki* GovXPostTest::pki_ = nullptr;

TEST_F(GovXPostTest, RoundTripCarriesActionBodyAndClientCertificate) {
  TlsFaultServer server(ServerOptions());
  auto gov = MakeGov();
  gov->Set_DiagnosticMode(true);
  const std::string envelope = "<soap:Envelope>pedido com acentuação</soap:Envelope>";

  ::testing::internal::CaptureStderr();
  const std::string reply = gov->PostSOAP(server.Url(), envelope, kAction, "r", "ns");
  const std::string printed = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(reply, kReply);
  ASSERT_EQ(server.Requests().size(), 1u);
  const auto request = server.Requests().front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/ws");
  EXPECT_EQ(request.headers.at("content-type"),
            std::string("application/soap+xml;charset=UTF-8;action=\"") + kAction + "\"");
  EXPECT_EQ(request.headers.count("expect"), 0u);
  EXPECT_EQ(request.body, envelope);
  EXPECT_NE(request.clientSubject.find(std::string("EMPRESA TESTE:") + kCnpj), std::string::npos)
      << request.clientSubject;
  // Diagnostic mode must not turn the transport's trace loose on the host's terminal.
  EXPECT_EQ(printed, "");
}

TEST_F(GovXPostTest, ConsecutivePostsReuseOneConnectionUntilASettingChanges) {
  TlsFaultServer server(ServerOptions());
  auto gov = MakeGov();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Post(*gov, server.Url()), kReply);
  EXPECT_EQ(server.Requests().size(), 10u);
  EXPECT_EQ(server.Handshakes(), 1);

  gov->Get_HttpSettings().TimeOut = 5000;  // not a connection setting
  Post(*gov, server.Url());
  EXPECT_EQ(server.Handshakes(), 1);

  gov->Get_HttpSettings().IgnoreInvalidCertificates = true;  // a connection setting
  Post(*gov, server.Url());
  EXPECT_EQ(server.Handshakes(), 2);
}

TEST_F(GovXPostTest, ServerThatRequiresTheCompanyCaAcceptsOnlyItsCertificates) {
  auto options = ServerOptions();
  options.clientCaPem = Pki().caCert;
  TlsFaultServer server(options);

  EXPECT_EQ(Post(*MakeGov(), server.Url()), kReply);

  auto foreign = MakeGov(Pki().otherCaCompanyPfx);
  std::string message = test::MessageOf<EqorGovException>([&] { Post(*foreign, server.Url()); });
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;

  auto anonymous = MakeGov("");
  message = test::MessageOf<EqorGovException>([&] { Post(*anonymous, server.Url()); });
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(GovXPostTest, ServerTrustFollowsIgnoreInvalidCertificates) {
  auto options = ServerOptions();
  options.certPem = Pki().otherCaServerCert;
  options.keyPem = Pki().otherCaServerKey;
  TlsFaultServer foreignServer(options);

  auto verifying = MakeGov();
  const std::string message =
      test::MessageOf<EqorGovException>([&] { Post(*verifying, foreignServer.Url()); });
  EXPECT_NE(message.find(foreignServer.Url()), std::string::npos) << message;
  EXPECT_NE(message.find("não é confiável"), std::string::npos) << message;
  EXPECT_TRUE(foreignServer.Requests().empty());

  auto trusting = MakeGov();
  trusting->Get_HttpSettings().IgnoreInvalidCertificates = true;
  EXPECT_EQ(Post(*trusting, foreignServer.Url()), kReply);
}

TEST_F(GovXPostTest, BrokenExchangesFailNamingTheAddress) {
  using Fault = TlsFaultServer::Fault;
  struct Row {
    const char* name;
    Fault fault;
    int timeOut;             // 0: the default
    std::string beforeUrl;   // what the message has right before the address
    std::string afterwards;  // and somewhere else, when not empty
    int requests;            // the requests the server saw, -1 when not checked
  };
  const Row rows[] = {
      {"closed without a reply", Fault::kCloseWithoutReply, 0, "Falha na comunicação com ", "", 1},
      // Content-Length promises 1000 bytes; a short body must not pass for a reply.
      {"truncated body", Fault::kTruncatedBody, 0, "", "incompleta", -1},
      {"never answers", Fault::kNeverAnswer, 300, "", "tempo limite de 300 ms esgotado", -1},
      {"never handshakes", Fault::kNeverHandshake, 300, "", "tempo limite de 300 ms esgotado", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TlsFaultServer server(ServerOptions(row.fault));
    auto gov = MakeGov();
    if (row.timeOut > 0) gov->Get_HttpSettings().TimeOut = row.timeOut;
    const std::string message =
        test::MessageOf<EqorGovException>([&] { Post(*gov, server.Url()); });
    EXPECT_NE(message.find(row.beforeUrl + server.Url()), std::string::npos) << message;
    if (!row.afterwards.empty()) {
      EXPECT_NE(message.find(row.afterwards), std::string::npos) << message;
    }
    if (row.requests >= 0) {
      EXPECT_EQ(server.Requests().size(), std::size_t(row.requests));
    }
  }
  const std::string url = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/ws";
  auto gov = MakeGov();
  const std::string message = test::MessageOf<EqorGovException>([&] { Post(*gov, url); });
  EXPECT_NE(message.find(url), std::string::npos) << message;
  EXPECT_NE(message.find("não foi possível conectar"), std::string::npos) << message;
}

TEST_F(GovXPostTest, HttpErrorStatusQuotesTheReplyWithoutPasswords) {
  auto options = ServerOptions();
  options.status = 500;
  options.body = std::string("<soap:Fault>Erro interno; eco da senha ") + kPassword +
                 " e do proxy segredo-proxy</soap:Fault>";
  TlsFaultServer server(options);
  auto gov = MakeGov();
  gov->Get_HttpSettings().ProxyPassword = "segredo-proxy";  // no Proxy set: not used

  const std::string message = test::MessageOf<EqorGovException>([&] { Post(*gov, server.Url()); });
  EXPECT_NE(message.find(server.Url() + ": HTTP 500"), std::string::npos) << message;
  EXPECT_NE(message.find("Erro interno"), std::string::npos) << message;
  EXPECT_EQ(message.find(kPassword), std::string::npos) << message;
  EXPECT_EQ(message.find("segredo-proxy"), std::string::npos) << message;
}

TEST_F(GovXPostTest, ConfiguredProxyIsTheRoadTaken) {
  TlsFaultServer server(ServerOptions());
  const int closedPort = ClosedPort();
  auto gov = MakeGov();
  gov->Get_HttpSettings().Proxy = "127.0.0.1:" + std::to_string(closedPort);
  gov->Get_HttpSettings().ProxyUser = "usuario";
  gov->Get_HttpSettings().ProxyPassword = "senha-do-proxy-999";

  const std::string message = test::MessageOf<EqorGovException>([&] { Post(*gov, server.Url()); });
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;
  EXPECT_NE(message.find("proxy 127.0.0.1:" + std::to_string(closedPort)), std::string::npos)
      << message;
  EXPECT_EQ(message.find("senha-do-proxy-999"), std::string::npos) << message;
  EXPECT_TRUE(server.Requests().empty());

  gov->Get_HttpSettings().Proxy.clear();
  EXPECT_EQ(Post(*gov, server.Url()), kReply);
}

TEST_F(GovXPostTest, ExpiredCertificateStopsThePostBeforeConnecting) {
  TlsFaultServer server(ServerOptions());
  auto gov = MakeGov(Pki().expiredPfx);
  const std::string message = test::MessageOf<EqorGovException>([&] { Post(*gov, server.Url()); });
  EXPECT_EQ(message.rfind("Certificado vencido em ", 0), 0u) << message;
  EXPECT_EQ(server.Handshakes() + server.FailedHandshakes(), 0);
}

}  // namespace
}  // namespace qor
