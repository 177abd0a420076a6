// The test PKI checked with the openssl command line, which did not make it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestPki.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kCnpj = "99888777000166";
const std::string kPass = " -passin pass:'s3nh@ teste'";

TEST(PkiTest, OpensslAgreesWithEveryCertificateAndKey) {
  TempDir dir;
  const TestPki pki = CreateTestPki(dir / "pki", kCnpj, "s3nh@ teste");
  // The leaf certificate inside a PKCS#12, as PEM.
  const auto leaf = [&](const std::string& pfx, const std::string& name) {
    EXPECT_EQ(0, RunCommand("openssl pkcs12 -in " + pfx + kPass + " -nokeys -clcerts -out " +
                            dir / name));
    return dir / name;
  };
  const std::string company = leaf(pki.companyPfx, "a.pem"),
                    expired = leaf(pki.expiredPfx, "v.pem"),
                    other = leaf(pki.otherCaCompanyPfx, "b.pem");
  const std::string ca = " -CAfile " + pki.caCert + " ",
                    otherCa = " -CAfile " + pki.otherCaCert + " ";
  struct Caso {
    std::string args;
    bool passes;
    std::string says;  // part of openssl's output
  };
  for (const Caso& c : std::vector<Caso>{
           // Chains verify only against their own CA, and the other CA's are sound certificates.
           {"verify -purpose sslserver" + ca + pki.serverCert, true, "OK"},
           {"verify -purpose sslclient" + ca + pki.companyCertPem, true, "OK"},
           {"verify" + ca + company, true, "OK"},
           {"verify" + ca + other, false, ""},
           {"verify" + ca + pki.otherCaServerCert, false, ""},
           {"verify" + otherCa + other, true, "OK"},
           {"verify -purpose sslserver" + otherCa + pki.otherCaServerCert, true, "OK"},
           // The expired certificate ended in the past; the company's is valid tomorrow.
           {"x509 -in " + expired + " -noout -checkend 0", false, "Certificate will expire"},
           {"verify" + ca + expired, false, "certificate has expired"},
           {"x509 -in " + pki.companyCertPem + " -noout -checkend 86400", true, "will not expire"},
           // The PKCS#12 opens with its password only, and names the company.
           {"pkcs12 -in " + pki.companyPfx + kPass + " -nokeys -clcerts", true,
            std::string("CN = EMPRESA TESTE:") + kCnpj},
           {"pkcs12 -in " + pki.companyPfx + " -passin pass:errada -nokeys", false, ""},
           // Extensions fit each role (2.16.76.1.3.3 is the e-CNPJ otherName).
           {"x509 -in " + pki.serverCert + " -noout -ext subjectAltName", true, "DNS:localhost"},
           {"x509 -in " + pki.serverCert + " -noout -ext subjectAltName", true,
            "IP Address:127.0.0.1"},
           {"x509 -in " + pki.serverCert + " -noout -ext extendedKeyUsage,basicConstraints", true,
            "TLS Web Server Authentication"},
           {"x509 -in " + pki.serverCert + " -noout -ext basicConstraints", true, "CA:FALSE"},
           {"x509 -in " + pki.caCert + " -noout -ext basicConstraints", true, "CA:TRUE"},
           {"x509 -in " + pki.caCert + " -noout -ext keyUsage", true, "Certificate Sign"},
           {"x509 -in " + pki.companyCertPem + " -noout -ext extendedKeyUsage", true,
            "TLS Web Client Authentication"},
           {"x509 -in " + pki.companyCertPem + " -noout -ext subjectAltName", true,
            "2.16.76.1.3.3"},
       }) {
    std::string out;
    EXPECT_EQ(c.passes, RunCommand("openssl " + c.args, &out) == 0) << c.args << "\n" << out;
    EXPECT_THAT(out, HasSubstr(c.says)) << c.args << "\n" << out;
  }

  // The key inside the PKCS#12 is the one of empresa-key.pem, whose public half is in the
  // certificate.
  std::string fromPfx, fromPem, fromCert;
  ASSERT_EQ(0, RunCommand("openssl pkcs12 -in " + pki.companyPfx + kPass +
                          " -nocerts -nodes -out " + dir / "key.pem"));
  ASSERT_EQ(0, RunCommand("openssl pkey -in " + dir / "key.pem" + " -pubout", &fromPfx));
  ASSERT_EQ(0, RunCommand("openssl pkey -in " + pki.companyKeyPem + " -pubout", &fromPem));
  ASSERT_EQ(0, RunCommand("openssl x509 -in " + pki.companyCertPem + " -noout -pubkey", &fromCert));
  EXPECT_EQ(fromPfx, fromPem);
  EXPECT_EQ(fromPem, fromCert);

  // Private keys are readable by their owner only.
  for (const std::string* key :
       {&pki.caKey, &pki.serverKey, &pki.companyKeyPem, &pki.companyPfx, &pki.otherCaServerKey}) {
    struct stat info {};
    ASSERT_EQ(0, stat(key->c_str(), &info)) << *key;
    EXPECT_EQ(0600u, info.st_mode & 0777u) << *key;
  }
}

TEST(PkiReuseTest, ReusesACompleteSetOfTheSameCompanyAndPasswordOnly) {
  TempDir dir;
  const std::string folder = dir / "pki";
  const TestPki first = CreateTestPki(folder, kCnpj, "senha");
  const std::string ca = ReadFile(first.caCert);
  EXPECT_EQ(ca, ReadFile(CreateTestPki(folder, kCnpj, "senha").caCert));

  // A set missing a file was interrupted: made again.
  ASSERT_EQ(0, std::remove(first.expiredPfx.c_str()));
  const TestPki repaired = CreateTestPki(folder, kCnpj, "senha");
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
  EXPECT_THAT(ReadFile(folder + "/pki-conjunto.ini"), Not(HasSubstr("outra")))
      << "the marker must not hold the password";
}

}  // namespace
}  // namespace qor::sim
