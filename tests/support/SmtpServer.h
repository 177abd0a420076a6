// A real SMTP server for the e-mail tests: aiosmtpd under the Debian interpreter, run by
// tests/distribution/servidor_smtp.py on a free port of 127.0.0.1, its messages in a Maildir.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TestPki.h"
#include "platform/ChildProcess.h"
#include "support/Tools.h"

namespace qor::test {

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kSmtpSecret[] = "senha-smtp-Xq7-481";

bool HaveAiosmtpd();
#define QOR_NEEDS_AIOSMTPD() \
  QOR_NEEDS(::qor::test::HaveAiosmtpd(), "python3-aiosmtpd (/usr/bin/python3)")

enum class SmtpTls { None, StartTls, StartTlsOtherCa, Smtps };

struct SmtpServerKind {
  SmtpServerKind(SmtpTls tls = SmtpTls::None, bool auth = false, bool authInClear = false,
                 std::string refuse = {}, int delaySeconds = 0, bool refuseData = false)
      : tls(tls),
        auth(auth),
        authInClear(authInClear),
        refuse(std::move(refuse)),
        delaySeconds(delaySeconds),
        refuseData(refuseData) {}
  SmtpTls tls;
  bool auth;           // AUTH accepted for "loja" / kSmtpSecret
  bool authInClear;    // and offered without TLS
  std::string refuse;  // RCPT of this address answered 550
  int delaySeconds;    // DATA answered this late
  bool refuseData;     // DATA answered 554
};

// One server process in `folder` ("caixa/" its Maildir, "diario.txt" its AUTH journal), stopped
// when the object goes. `pki` gives the certificates of the TLS kinds.
class SmtpServer {
 public:
  SmtpServer(const std::string& folder, const SmtpServerKind& kind, const sim::TestPki& pki);

  // The received message files, and what tests/distribution/ler_email.py prints of one (the
  // headers, the body and each attachment's name, type and SHA-256); the attachments are also
  // written into `attachmentsFolder` when given.
  std::vector<std::string> Messages() const;
  static std::string Read(const std::string& message, const std::string& attachmentsFolder = {});

  const int port;
  const std::string mailbox, journal;

 private:
  std::unique_ptr<TChildProcess> process_;
};

std::string Sha256Of(const std::string& file);

}  // namespace qor::test
