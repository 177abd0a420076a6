// TqorGovX certificate checks on PKCS#12 files made at run time, with the openssl command line as
// the independent reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "TestPki.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr char kPassword[] = "senha-do-pfx-123";
constexpr char kCnpj[] = "12345678000195";

// Standard output of a shell command, or an empty text when it fails (its errors are dropped).
std::string Shell(const std::string& command) {
  std::string out;
  return test::RunCommand("exec 2>/dev/null; " + command, &out) == 0 ? out : std::string();
}

// notAfter of the certificate in `pfx`, as the openssl command line reads it.
Clock::time_point EndDateByOpenSsl(const std::string& pfx, const std::string& password) {
  const std::string text = Shell("openssl pkcs12 -in '" + pfx + "' -passin 'pass:" + password +
                                 "' -nokeys -clcerts | openssl x509 -noout -enddate");
  const auto eq = text.find('=');
  std::tm tm{};
  if (eq == std::string::npos ||
      ::strptime(text.c_str() + eq + 1, "%b %d %H:%M:%S %Y GMT", &tm) == nullptr) {
    ADD_FAILURE() << "openssl did not give an end date: " << text;
    return {};
  }
  return Clock::from_time_t(::timegm(&tm));
}

std::string DdMmYyyy(Clock::time_point tp) {
  const std::time_t t = Clock::to_time_t(tp);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &tm);
  return text;
}

class GovXCertificateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pkiFolder_ =
        new fs::path(fs::temp_directory_path() / ("govx-cert-pki-" + std::to_string(::getpid())));
    pki_ = new sim::TestPki(sim::CreateTestPki(pkiFolder_->string(), kCnpj, kPassword));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*pkiFolder_);
    delete pki_;
    delete pkiFolder_;
  }

  void Configure(const std::string& path, const std::string& password = kPassword) {
    gov_.Get_CertificateSettings().Path = path;
    gov_.Get_CertificateSettings().Password = password;
  }

  std::string CheckFailure() {
    return test::MessageOf<EqorGovException>([&] { gov_.CheckCertificate(); });
  }

  const sim::TestPki& Pki() const { return *pki_; }

  static fs::path* pkiFolder_;
  static sim::TestPki* pki_;
  test::TempDir folder_;
  TqorGovX gov_;
};

fs::path* GovXCertificateTest::pkiFolder_ = nullptr;
sim::TestPki* GovXCertificateTest::pki_ = nullptr;

TEST_F(GovXCertificateTest, EachFaultHasItsOwnMessage) {
  const std::string missing = folder_ / "nao-existe.pfx";
  const std::string notPkcs12 = folder_ / "texto.pfx";
  std::ofstream(notPkcs12) << "isto não é um PKCS#12";
  const std::string wrongPassword = "errada-Zq81";

  std::set<std::string> messages;
  auto failure = [&](const std::string& path, const std::string& password, int kind = 2) {
    Configure(path, password);
    gov_.Get_CertificateSettings().Kind = kind;
    const std::string message = CheckFailure();
    EXPECT_TRUE(messages.insert(message).second) << "repeated: " << message;
    EXPECT_EQ(message.find(wrongPassword), std::string::npos) << message;
    EXPECT_EQ(message.find(kPassword), std::string::npos) << message;
    return message;
  };

  EXPECT_NE(failure(Pki().companyPfx, kPassword, 1).find("PKCS#12"), std::string::npos);
  EXPECT_NE(failure("", kPassword).find("Certificado não informado"), std::string::npos);
  const std::string absent = failure(missing, kPassword);
  EXPECT_NE(absent.find("Certificado não encontrado"), std::string::npos) << absent;
  EXPECT_NE(absent.find(missing), std::string::npos) << absent;
  EXPECT_NE(failure(notPkcs12, kPassword).find("não é um certificado PKCS#12"), std::string::npos);
  EXPECT_NE(failure(Pki().companyPfx, wrongPassword).find("Senha do certificado inválida"),
            std::string::npos);
  const std::string expired = failure(Pki().expiredPfx, kPassword);
  EXPECT_EQ(expired, "Certificado vencido em " +
                         DdMmYyyy(EndDateByOpenSsl(Pki().expiredPfx, kPassword)) + ": " +
                         Pki().expiredPfx);
}

TEST_F(GovXCertificateTest, PfxWithoutPrivateKeyIsRefused) {
  const std::string certOnly = folder_ / "so-certificado.pfx";
  ASSERT_EQ(Shell("openssl pkcs12 -export -nokeys -in '" + Pki().companyCertPem + "' -out '" +
                  certOnly + "' -passout 'pass:" + kPassword + "' && echo ok"),
            "ok\n");
  Configure(certOnly);
  EXPECT_NE(CheckFailure().find("não contém a chave privada"), std::string::npos);
}

TEST_F(GovXCertificateTest, LegacyEncryptedPfxIsRead) {
  const std::string legacy = folder_ / "legado.pfx";
  if (Shell("openssl pkcs12 -export -legacy -in '" + Pki().companyCertPem + "' -inkey '" +
            Pki().companyKeyPem + "' -out '" + legacy + "' -passout 'pass:" + kPassword +
            "' && echo ok") != "ok\n") {
    GTEST_SKIP() << "this openssl cannot write RC2/3DES PKCS#12 files";
  }
  Configure(legacy);
  EXPECT_NO_THROW(gov_.CheckCertificate());
  EXPECT_EQ(gov_.CertificateExpiration(), EndDateByOpenSsl(Pki().companyPfx, kPassword));
}

TEST_F(GovXCertificateTest, ExpirationMatchesOpenSslEvenWhenExpired) {
  Configure(Pki().companyPfx);
  const auto end = gov_.CertificateExpiration();
  EXPECT_EQ(end, EndDateByOpenSsl(Pki().companyPfx, kPassword));
  EXPECT_GT(end, Clock::now());

  Configure(Pki().expiredPfx);
  const auto expiredEnd = gov_.CertificateExpiration();
  EXPECT_EQ(expiredEnd, EndDateByOpenSsl(Pki().expiredPfx, kPassword));
  EXPECT_LT(expiredEnd, Clock::now());
}

TEST_F(GovXCertificateTest, ChangedFileOrPasswordIsReadAgain) {
  const std::string path = folder_ / "empresa.pfx";
  fs::copy_file(Pki().companyPfx, path);
  Configure(path);
  EXPECT_NO_THROW(gov_.CheckCertificate());

  fs::copy_file(Pki().expiredPfx, path, fs::copy_options::overwrite_existing);
  EXPECT_EQ(CheckFailure().rfind("Certificado vencido em ", 0), 0u);

  fs::copy_file(Pki().companyPfx, path, fs::copy_options::overwrite_existing);
  EXPECT_NO_THROW(gov_.CheckCertificate());
  gov_.Get_CertificateSettings().Password = "outra-senha";
  EXPECT_NE(CheckFailure().find("Senha do certificado inválida"), std::string::npos);
  gov_.Get_CertificateSettings().Password = kPassword;
  EXPECT_NO_THROW(gov_.CheckCertificate());

  fs::remove(path);
  EXPECT_NE(CheckFailure().find("Certificado não encontrado"), std::string::npos);
}

TEST_F(GovXCertificateTest, OnCheckCertificateRunsFirstAndMayRenameTheCertificate) {
  Configure(folder_ / "ausente.pfx");
  gov_.Get_CertificateSettings().Name = "NOME CONFIGURADO";
  std::string received;
  gov_.OnCheckCertificate = [&](std::string& name) {
    received = name;
    name = "EMPRESA TESTE:12345678000195";
  };
  EXPECT_NE(CheckFailure().find("Certificado não encontrado"), std::string::npos);
  EXPECT_EQ(received, "NOME CONFIGURADO");
  EXPECT_EQ(gov_.Get_CertificateSettings().Name, "EMPRESA TESTE:12345678000195");
}

}  // namespace
}  // namespace qor
