#include "support/SmtpServer.h"

#include <filesystem>

#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor::test {

namespace {
const std::string kScripts = std::string(QORNFCE_SOURCE_DIR) + "/tests/distribution/";
}  // namespace

bool HaveAiosmtpd() { return RunCommand(std::string(kPython) + " -c 'import aiosmtpd'") == 0; }

SmtpServer::SmtpServer(const std::string& folder, const SmtpServerKind& kind,
                       const sim::TestPki& pki)
    : port(FreeLoopbackPort()), mailbox(folder + "caixa"), journal(folder + "diario.txt") {
  std::vector<std::string> args = {kPython,    kScripts + "servidor_smtp.py",
                                   "--porta",  std::to_string(port),
                                   "--caixa",  mailbox,
                                   "--diario", journal};
  if (kind.tls != SmtpTls::None) {
    const bool other = kind.tls == SmtpTls::StartTlsOtherCa;
    args.insert(args.end(), {"--cert", other ? pki.otherCaServerCert : pki.serverCert, "--chave",
                             other ? pki.otherCaServerKey : pki.serverKey});
  }
  if (kind.tls == SmtpTls::Smtps) args.push_back("--smtps");
  if (kind.auth) args.insert(args.end(), {"--usuario", "loja", "--senha", kSmtpSecret});
  if (kind.authInClear) args.push_back("--auth-sem-tls");
  if (!kind.refuse.empty()) args.insert(args.end(), {"--recusar", kind.refuse});
  if (kind.refuseData) args.push_back("--recusar-dados");
  if (kind.delaySeconds > 0) {
    args.insert(args.end(), {"--demora", std::to_string(kind.delaySeconds)});
  }
  process_ = std::make_unique<TChildProcess>(args, folder + "servidor.log");
  WaitForLoopbackPort(port, std::chrono::seconds(10));
}

std::vector<std::string> SmtpServer::Messages() const {
  std::vector<std::string> files;
  if (std::filesystem::exists(mailbox + "/new")) {
    for (const auto& e : std::filesystem::directory_iterator(mailbox + "/new")) {
      files.push_back(e.path());
    }
  }
  return files;
}

std::string SmtpServer::Read(const std::string& message, const std::string& attachmentsFolder) {
  std::string seen;
  if (RunCommand(std::string(kPython) + " " + kScripts + "ler_email.py " + message + " " +
                     attachmentsFolder,
                 &seen) != 0) {
    return "ler_email.py falhou: " + seen;
  }
  return seen;
}

std::string Sha256Of(const std::string& file) {
  std::string out;
  RunCommand("sha256sum " + file, &out);
  return out.substr(0, 64);
}

}  // namespace qor::test
