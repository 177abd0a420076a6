// TqorGovX::SendEmail against a real SMTP server (aiosmtpd, tests/support/SmtpServer.h), the
// received message read back with Python's email package. The exchange failures are tried
// through the component's e-mail operations (integration/email_test).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/SmtpClient.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::SmtpServer;
using test::SmtpServerKind;
using test::SmtpTls;
using test::WriteFile;

const test::TempDir& Scratch() {
  static const test::TempDir folder;
  return folder;
}

const sim::TestPki& Pki() {
  static const sim::TestPki pki = sim::CreateTestPki(Scratch() / "pki", "12345678000195", "x");
  return pki;
}

class EmailTest : public ::testing::Test {
 protected:
  void SetUp() override { QOR_NEEDS_AIOSMTPD(); }

  // Settings of a send to `server` that verifies it against the test CA and logs in.
  static TEmailSettings Settings(const SmtpServer& server) {
    TEmailSettings s;
    s.Server = "127.0.0.1";
    s.Port = server.port;
    s.From = "Loja Teste <loja@exemplo.com.br>";
    s.Cc = "copia@exemplo.com.br";
    s.Bcc = "oculto@exemplo.com.br";
    s.Subject = "Nota fiscal";
    s.Body = "Segue a nota.";
    s.UserName = "loja";
    s.Password = test::kSmtpSecret;
    s.CABundle = Pki().caCert;
    s.TimeOut = 10000;
    return s;
  }

  static void Send(const TEmailSettings& s, const std::vector<std::string>& files,
                   const std::string& to = "cliente@exemplo.com.br; segundo@exemplo.com.br") {
    TqorGovX gov;
    gov.Get_EmailSettings() = s;
    gov.SendEmail(to, files);
  }
};

TEST_F(EmailTest, DeliveredMessageCarriesHeadersBodyAndAttachments) {
  const std::string xml = Scratch() / "NFe35240811222333000181650010000000011000000010-nfce.xml";
  const std::string pdf = Scratch() / "danfce.pdf";
  const std::string other = Scratch() / "dados.bin";
  WriteFile(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc>CAFÉ</nfeProc>\n");
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 7 % 256);
  WriteFile(pdf, "%PDF-1.4\n" + bytes);
  WriteFile(other, bytes.substr(0, 100));

  const std::string accented = "Nota fiscal eletrônica de consumidor — açúcar, café e pão nº 12";
  struct Case {
    const char* name;
    SmtpServerKind server;
    std::function<void(TEmailSettings&, const SmtpServer&)> adjust;
    std::string subject;
    bool html;
  };
  const std::vector<Case> cases = {
      {"STARTTLS, login, test CA from CABundle",
       {SmtpTls::StartTls, true},
       [](TEmailSettings& s, const SmtpServer&) { s.Authenticate = true; },
       "Nota fiscal",
       false},
      {"SMTPS by the address, accented subject, HTML",
       {SmtpTls::Smtps},
       [](TEmailSettings& s, const SmtpServer& server) {
         s.Server = "smtps://127.0.0.1:" + std::to_string(server.port);
         s.Port = 0;
       },
       accented,
       true},
      {"other CA's certificate accepted when told to ignore",
       {SmtpTls::StartTlsOtherCa},
       [](TEmailSettings& s, const SmtpServer&) { s.IgnoreInvalidCertificates = true; },
       accented,
       false},
      {"no TLS offered, no login: plain SMTP",
       {},
       [](TEmailSettings&, const SmtpServer&) {},
       "Nota fiscal",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    SmtpServer server(folder.path(), c.server, Pki());
    TEmailSettings s = Settings(server);
    c.adjust(s, server);
    s.Subject = c.subject;
    s.Html = c.html;
    s.Body = c.html ? "<p>Segue a <b>nota</b>.</p>" : "Segue a nota, obrigado.";
    ASSERT_NO_THROW(Send(s, {xml, pdf, other}));
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    const std::string seen = SmtpServer::Read(messages[0]);
    const std::string expected =
        "From: Loja Teste <loja@exemplo.com.br>\n"
        "To: cliente@exemplo.com.br, segundo@exemplo.com.br\n"
        "Cc: copia@exemplo.com.br\n"
        "X-MailFrom: loja@exemplo.com.br\n"
        "X-RcptTo: cliente@exemplo.com.br, segundo@exemplo.com.br, copia@exemplo.com.br, "
        "oculto@exemplo.com.br\n"
        "Subject: " +
        c.subject +
        "\n"
        "Date? sim\nMessage-ID? sim\n"
        "Corpo: " +
        (c.html ? "text/html" : "text/plain") + " utf-8 " + s.Body +
        "\n"
        "Anexo: NFe35240811222333000181650010000000011000000010-nfce.xml application/xml " +
        test::Sha256Of(xml) +
        "\n"
        "Anexo: danfce.pdf application/pdf " +
        test::Sha256Of(pdf) +
        "\n"
        "Anexo: dados.bin application/octet-stream " +
        test::Sha256Of(other) + "\n";
    EXPECT_EQ(seen, expected);
    // Bcc is the envelope's business only: its one mention is the server's X-RcptTo line.
    const std::string raw = test::ReadFile(messages[0]);
    const std::size_t at = raw.find("oculto@");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(raw.find("oculto@", at + 1), std::string::npos);
    EXPECT_EQ(raw.compare(raw.rfind('\n', at) + 1, 9, "X-RcptTo:"), 0);
  }
}

TEST_F(EmailTest, MissingAttachmentOrClosedPortRaise) {
  TEmailSettings s;
  s.Server = "127.0.0.1";
  s.Port = FreeLoopbackPort();  // nothing listens there
  s.From = "loja@exemplo.com.br";
  const std::string missing = Scratch() / "nao-existe.xml";
  // The file is looked for before any connection: the closed port is never reached.
  try {
    Send(s, {missing});
    ADD_FAILURE() << "no exception";
  } catch (const EqorGovException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Arquivo " + missing + " não encontrado para anexar ao email.");
  }
  try {
    Send(s, {});
    ADD_FAILURE() << "no exception";
  } catch (const EqorGovException& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(s.Port) +
                                         ": não foi possível conectar"),
              std::string::npos)
        << e.what();
  }
}

TEST(SmtpEndpoint, PortAndTlsFollowServerAndPort) {
  struct Case {
    std::string server;
    int port;
    std::string host;
    int wantPort;
    bool implicitTls;
  };
  for (const auto& c :
       std::vector<Case>{{"mail.exemplo.com.br", 0, "mail.exemplo.com.br", 25, false},
                         {"mail.exemplo.com.br", 587, "mail.exemplo.com.br", 587, false},
                         {"mail.exemplo.com.br", 465, "mail.exemplo.com.br", 465, true},
                         {"smtps://mail.exemplo.com.br", 0, "mail.exemplo.com.br", 465, true},
                         {"smtps://127.0.0.1:2465", 25, "127.0.0.1", 2465, true},
                         {"smtp://127.0.0.1:2525", 0, "127.0.0.1", 2525, false}}) {
    const TSmtpEndpoint end = ResolveSmtpEndpoint(c.server, c.port);
    EXPECT_EQ(end.host, c.host) << c.server;
    EXPECT_EQ(end.port, c.wantPort) << c.server;
    EXPECT_EQ(end.implicitTls, c.implicitTls) << c.server;
  }
  EXPECT_EQ(SplitAddresses(" a@x.com; b@x.com ,,c@x.com;"),
            (std::vector<std::string>{"a@x.com", "b@x.com", "c@x.com"}));
}

}  // namespace
}  // namespace qor
