// The test PKI checked with the openssl command line, which did not make it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "TestPki.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;

constexpr const char* kCnpj = "99888777000166";
constexpr const char* kPassword = "s3nh@ teste";

std::string Quote(const std::string& text) { return "'" + text + "'"; }

class PkiTest : public ::testing::Test {
 protected:
  // Key generation dominates the cost, so the suite shares one read-only set; tests that write
  // make their own folder.
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    pki_ = new TestPki(CreateTestPki(dir_->path() + "pki", kCnpj, kPassword));
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete dir_;
  }

  // Runs openssl; the exit status is returned and the output (stdout and stderr) kept.
  static int OpenSsl(const std::string& arguments, std::string& output) {
    return RunCommand("openssl " + arguments, &output);
  }

  // The leaf certificate inside a PKCS#12, as PEM in a file of the test's folder.
  std::string LeafOf(const std::string& pfx, const std::string& name) {
    std::string out;
    const std::string pem = work_ / name;
    EXPECT_EQ(0, OpenSsl("pkcs12 -in " + pfx + " -passin pass:" + Quote(kPassword) +
                             " -nokeys -clcerts -out " + pem,
                         out))
        << out;
    return pem;
  }

  static TempDir* dir_;
  static TestPki* pki_;
  TempDir work_;
};

TempDir* PkiTest::dir_ = nullptr;
TestPki* PkiTest::pki_ = nullptr;

TEST_F(PkiTest, ChainsVerifyOnlyAgainstTheirOwnCa) {
  std::string out;
  EXPECT_EQ(
      0, OpenSsl("verify -purpose sslserver -CAfile " + pki_->caCert + " " + pki_->serverCert, out))
      << out;
  EXPECT_EQ(
      0, OpenSsl("verify -purpose sslclient -CAfile " + pki_->caCert + " " + pki_->companyCertPem,
                 out))
      << out;
  EXPECT_EQ(
      0, OpenSsl("verify -CAfile " + pki_->caCert + " " + LeafOf(pki_->companyPfx, "a.pem"), out))
      << out;

  const std::string otherCompany = LeafOf(pki_->otherCaCompanyPfx, "b.pem");
  EXPECT_NE(0, OpenSsl("verify -CAfile " + pki_->caCert + " " + otherCompany, out));
  EXPECT_NE(0, OpenSsl("verify -CAfile " + pki_->caCert + " " + pki_->otherCaServerCert, out));
  // ...and they are sound certificates of the other CA, not broken ones.
  EXPECT_EQ(0, OpenSsl("verify -CAfile " + pki_->otherCaCert + " " + otherCompany, out)) << out;
  EXPECT_EQ(0, OpenSsl("verify -purpose sslserver -CAfile " + pki_->otherCaCert + " " +
                           pki_->otherCaServerCert,
                       out))
      << out;
}

TEST_F(PkiTest, ExpiredCertificateEndedInThePast) {
  const std::string expired = LeafOf(pki_->expiredPfx, "vencida.pem");
  std::string out;
  // -checkend 0 fails when the certificate is no longer valid now.
  EXPECT_EQ(1, OpenSsl("x509 -in " + expired + " -noout -checkend 0", out)) << out;
  EXPECT_NE(0, OpenSsl("verify -CAfile " + pki_->caCert + " " + expired, out));
  EXPECT_NE(out.find("certificate has expired"), std::string::npos) << out;
  EXPECT_EQ(0, OpenSsl("x509 -in " + pki_->companyCertPem + " -noout -checkend 86400", out));
}

TEST_F(PkiTest, CompanyPfxOpensWithThePasswordAndNamesTheCompany) {
  std::string out;
  ASSERT_EQ(0, OpenSsl("pkcs12 -in " + pki_->companyPfx + " -passin pass:" + Quote(kPassword) +
                           " -nokeys -clcerts",
                       out))
      << out;
  EXPECT_NE(out.find(std::string("CN = EMPRESA TESTE:") + kCnpj), std::string::npos) << out;
  EXPECT_NE(0, OpenSsl("pkcs12 -in " + pki_->companyPfx + " -passin pass:errada -nokeys", out));

  // The key inside the PKCS#12 is the one of empresa-key.pem, whose public half is in the
  // certificate.
  std::string fromPfx, fromPem, fromCert;
  const std::string key = work_ / "key.pem";
  ASSERT_EQ(0, OpenSsl("pkcs12 -in " + pki_->companyPfx + " -passin pass:" + Quote(kPassword) +
                           " -nocerts -nodes -out " + key,
                       out))
      << out;
  ASSERT_EQ(0, OpenSsl("pkey -in " + key + " -pubout", fromPfx));
  ASSERT_EQ(0, OpenSsl("pkey -in " + pki_->companyKeyPem + " -pubout", fromPem));
  ASSERT_EQ(0, OpenSsl("x509 -in " + pki_->companyCertPem + " -noout -pubkey", fromCert));
  EXPECT_EQ(fromPfx, fromPem);
  EXPECT_EQ(fromPem, fromCert);
}

TEST_F(PkiTest, ExtensionsFitEachRole) {
  std::string out;
  ASSERT_EQ(0, OpenSsl("x509 -in " + pki_->serverCert +
                           " -noout -ext subjectAltName,extendedKeyUsage,basicConstraints",
                       out));
  EXPECT_NE(out.find("IP Address:127.0.0.1"), std::string::npos) << out;
  EXPECT_NE(out.find("DNS:localhost"), std::string::npos) << out;
  EXPECT_NE(out.find("TLS Web Server Authentication"), std::string::npos) << out;
  EXPECT_NE(out.find("CA:FALSE"), std::string::npos) << out;

  ASSERT_EQ(0, OpenSsl("x509 -in " + pki_->caCert + " -noout -ext basicConstraints,keyUsage", out));
  EXPECT_NE(out.find("CA:TRUE"), std::string::npos) << out;
  EXPECT_NE(out.find("Certificate Sign"), std::string::npos) << out;

  ASSERT_EQ(0, OpenSsl("x509 -in " + pki_->companyCertPem +
                           " -noout -ext extendedKeyUsage,subjectAltName",
                       out));
  EXPECT_NE(out.find("TLS Web Client Authentication"), std::string::npos) << out;
  EXPECT_NE(out.find("2.16.76.1.3.3"), std::string::npos) << out;  // the e-CNPJ otherName
}

TEST_F(PkiTest, PrivateKeysAreReadableByTheOwnerOnly) {
  for (const std::string* key : {&pki_->caKey, &pki_->serverKey, &pki_->companyKeyPem,
                                 &pki_->companyPfx, &pki_->otherCaServerKey}) {
    struct stat info {};
    ASSERT_EQ(0, stat(key->c_str(), &info)) << *key;
    EXPECT_EQ(0600u, info.st_mode & 0777u) << *key;
  }
}

TEST(PkiReuseTest, ReusesACompleteSetOfTheSameCompanyAndPasswordOnly) {
  TempDir dir;
  const std::string folder = dir / "pki";
  const TestPki first = CreateTestPki(folder, kCnpj, kPassword);
  const std::string ca = ReadFile(first.caCert);

  EXPECT_EQ(ca, ReadFile(CreateTestPki(folder, kCnpj, kPassword).caCert));

  // A set missing a file was interrupted: made again.
  ASSERT_EQ(0, std::remove(first.expiredPfx.c_str()));
  const TestPki repaired = CreateTestPki(folder, kCnpj, kPassword);
  EXPECT_NE(ca, ReadFile(repaired.caCert));
  EXPECT_FALSE(ReadFile(repaired.expiredPfx).empty());

  // Another password: made again, and the new PKCS#12 opens with it.
  const std::string repairedCa = ReadFile(repaired.caCert);
  const TestPki other = CreateTestPki(folder, kCnpj, "outra");
  EXPECT_NE(repairedCa, ReadFile(other.caCert));
  std::string out;
  EXPECT_EQ(
      0, RunCommand("openssl pkcs12 -in " + other.companyPfx + " -passin pass:outra -nokeys", &out))
      << out;
  EXPECT_EQ(ReadFile(folder + "/pki-conjunto.ini").find("outra"), std::string::npos)
      << "the marker must not hold the password";
}

}  // namespace
}  // namespace qor::sim
