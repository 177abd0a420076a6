// TqorGovX::SendEmail against a real SMTP server (aiosmtpd, run by tests/platform/servidor_smtp.py
// under the Debian interpreter), the received message read back with Python's email package.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestPki.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/SmtpClient.h"
#include "support/TempDir.h"
#include "support/Tools.h"

extern char** environ;

namespace qor {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::WriteFile;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kSecret[] = "senha-smtp-Xq7-481";
const std::string kScripts = std::string(QORNFCE_SOURCE_DIR) + "/tests/platform/";

bool HaveAiosmtpd() { return RunCommand(std::string(kPython) + " -c 'import aiosmtpd'") == 0; }

const test::TempDir& Scratch() {
  static const test::TempDir folder;
  return folder;
}

const sim::TestPki& Pki() {
  static const sim::TestPki pki = sim::CreateTestPki(Scratch() / "pki", "12345678000195", "x");
  return pki;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
  close(fd);
  return ntohs(addr.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

enum Tls { kNoTls, kStartTls, kStartTlsOtherCa, kSmtps };

struct ServerKind {
  Tls tls = kNoTls;
  bool auth = false;         // AUTH accepted for "loja" / kSecret
  bool authInClear = false;  // and offered without TLS
  std::string refuse;        // RCPT answered 550
  int delaySeconds = 0;      // DATA answered this late
};

ServerKind Kind(Tls tls, bool auth = false, bool authInClear = false, std::string refuse = "",
                int delaySeconds = 0) {
  ServerKind kind;
  kind.tls = tls;
  kind.auth = auth;
  kind.authInClear = authInClear;
  kind.refuse = std::move(refuse);
  kind.delaySeconds = delaySeconds;
  return kind;
}

// One server process on a free port of 127.0.0.1, stopped by pid when the object goes.
class SmtpServer {
 public:
  SmtpServer(const std::string& folder, const ServerKind& kind)
      : port(FreePort()), mailbox(folder + "caixa"), journal(folder + "diario.txt") {
    std::vector<std::string> args = {kPython,    kScripts + "servidor_smtp.py",
                                     "--porta",  std::to_string(port),
                                     "--caixa",  mailbox,
                                     "--diario", journal};
    if (kind.tls != kNoTls) {
      const bool other = kind.tls == kStartTlsOtherCa;
      args.insert(args.end(), {"--cert", other ? Pki().otherCaServerCert : Pki().serverCert,
                               "--chave", other ? Pki().otherCaServerKey : Pki().serverKey});
    }
    if (kind.tls == kSmtps) args.push_back("--smtps");
    if (kind.auth) args.insert(args.end(), {"--usuario", "loja", "--senha", kSecret});
    if (kind.authInClear) args.push_back("--auth-sem-tls");
    if (!kind.refuse.empty()) args.insert(args.end(), {"--recusar", kind.refuse});
    if (kind.delaySeconds > 0)
      args.insert(args.end(), {"--demora", std::to_string(kind.delaySeconds)});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "servidor.log").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && !Accepts(port); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~SmtpServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> files;
    if (fs::exists(mailbox + "/new")) {
      for (const auto& e : fs::directory_iterator(mailbox + "/new")) files.push_back(e.path());
    }
    return files;
  }

  const int port;
  const std::string mailbox, journal;

 private:
  pid_t pid_ = 0;
};

class EmailTest : public ::testing::Test {
 protected:
  void SetUp() override { QOR_NEEDS(HaveAiosmtpd(), "python3-aiosmtpd (/usr/bin/python3)"); }

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
    s.Password = kSecret;
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

std::string Sha256(const std::string& file) {
  std::string out;
  RunCommand("sha256sum " + file, &out);
  return out.substr(0, 64);
}

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
    ServerKind server;
    std::function<void(TEmailSettings&, const SmtpServer&)> adjust;
    std::string subject;
    bool html;
  };
  const std::vector<Case> cases = {
      {"STARTTLS, login, test CA from CABundle", Kind(kStartTls, true),
       [](TEmailSettings& s, const SmtpServer&) { s.Authenticate = true; }, "Nota fiscal", false},
      {"SMTPS by the address, accented subject, HTML", Kind(kSmtps),
       [](TEmailSettings& s, const SmtpServer& server) {
         s.Server = "smtps://127.0.0.1:" + std::to_string(server.port);
         s.Port = 0;
       },
       accented, true},
      {"other CA's certificate accepted when told to ignore", Kind(kStartTlsOtherCa),
       [](TEmailSettings& s, const SmtpServer&) { s.IgnoreInvalidCertificates = true; }, accented,
       false},
      {"no TLS offered, no login: plain SMTP", Kind(kNoTls),
       [](TEmailSettings&, const SmtpServer&) {}, "Nota fiscal", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    SmtpServer server(folder.path(), c.server);
    TEmailSettings s = Settings(server);
    c.adjust(s, server);
    s.Subject = c.subject;
    s.Html = c.html;
    s.Body = c.html ? "<p>Segue a <b>nota</b>.</p>" : "Segue a nota, obrigado.";
    ASSERT_NO_THROW(Send(s, {xml, pdf, other}));
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    std::string seen;
    ASSERT_EQ(
        RunCommand(std::string(kPython) + " " + kScripts + "ler_email.py " + messages[0], &seen), 0)
        << seen;
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
        Sha256(xml) +
        "\n"
        "Anexo: danfce.pdf application/pdf " +
        Sha256(pdf) +
        "\n"
        "Anexo: dados.bin application/octet-stream " +
        Sha256(other) + "\n";
    EXPECT_EQ(seen, expected);
    // Bcc is the envelope's business only: its one mention is the server's X-RcptTo line.
    const std::string raw = test::ReadFile(messages[0]);
    const std::size_t at = raw.find("oculto@");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(raw.find("oculto@", at + 1), std::string::npos);
    EXPECT_EQ(raw.compare(raw.rfind('\n', at) + 1, 9, "X-RcptTo:"), 0);
  }
}

TEST_F(EmailTest, FailedExchangesRaiseNamingServerAndCauseAndDeliverNothing) {
  struct Case {
    const char* name;
    ServerKind server;
    std::function<void(TEmailSettings&)> adjust;
    std::string to;
    std::string fragment;
    bool authTried;
  };
  const std::vector<Case> cases = {
      {"wrong password", Kind(kStartTls, true),
       [](TEmailSettings& s) {
         s.Authenticate = true;
         s.Password = std::string(kSecret) + "-errada";
       },
       "cliente@exemplo.com.br", "o servidor respondeu 535", true},
      {"refused recipient", Kind(kStartTls, false, false, "recusado@exemplo.com.br"),
       [](TEmailSettings&) {}, "cliente@exemplo.com.br, recusado@exemplo.com.br",
       "o servidor respondeu 550 5.1.1 Destinatario recusado", false},
      {"stalled server", Kind(kStartTls, false, false, "", 6),
       [](TEmailSettings& s) { s.TimeOut = 2000; }, "cliente@exemplo.com.br",
       "tempo limite de 2000 ms esgotado", false},
      {"login wanted, no STARTTLS offered", Kind(kNoTls, true, true),
       [](TEmailSettings& s) { s.Authenticate = true; }, "cliente@exemplo.com.br",
       "não oferece STARTTLS", false},
      {"certificate of another CA", Kind(kStartTlsOtherCa), [](TEmailSettings&) {},
       "cliente@exemplo.com.br", "certificado do servidor não é confiável", false},
      {"another CA, SMTPS", Kind(kSmtps), [](TEmailSettings& s) { s.CABundle = Pki().otherCaCert; },
       "cliente@exemplo.com.br", "certificado do servidor não é confiável", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    SmtpServer server(folder.path(), c.server);
    TEmailSettings s = Settings(server);
    if (c.server.tls == kSmtps) s.Server = "smtps://127.0.0.1:" + std::to_string(server.port);
    c.adjust(s);
    const auto started = std::chrono::steady_clock::now();
    try {
      Send(s, {}, c.to);
      ADD_FAILURE() << "no exception";
    } catch (const EqorGovException& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("Falha no envio do email pelo servidor 127.0.0.1:" +
                                  std::to_string(server.port) + ": ",
                              0),
                0u)
          << message;
      EXPECT_NE(message.find(c.fragment), std::string::npos) << message;
      EXPECT_EQ(message.find(kSecret), std::string::npos) << message;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_EQ(test::ReadFile(server.journal).find("AUTH") != std::string::npos, c.authTried)
        << test::ReadFile(server.journal);
  }
}

TEST_F(EmailTest, MissingAttachmentOrClosedPortRaise) {
  TEmailSettings s;
  s.Server = "127.0.0.1";
  s.Port = FreePort();  // nothing listens there
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
