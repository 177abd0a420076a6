#include "TestPki.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "AtomicFile.h"

namespace qor::sim {

namespace {

// ---- OpenSSL ownership --------------------------------------------------------------------

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct Pkcs12Free {
  void operator()(PKCS12* p) const { PKCS12_free(p); }
};
struct ExtFree {
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
struct BnFree {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
struct X509StackFree {
  void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }  // the certificates stay owned
};

using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

[[noreturn]] void Fail(const std::string& what) {
  std::string reason;
  unsigned long code;
  while ((code = ERR_get_error()) != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!reason.empty()) reason += "; ";
    reason += buffer;
  }
  throw std::runtime_error(what + (reason.empty() ? "" : ": " + reason));
}

void Check(int ok, const std::string& what) {
  if (ok != 1) Fail(what);
}

// ---- building blocks -----------------------------------------------------------------------

Pkey NewKey() {
  Pkey key(EVP_RSA_gen(2048));
  if (!key) Fail("Não foi possível gerar a chave RSA");
  return key;
}

struct Subject {
  std::string commonName;
  std::string organizationalUnit;
};

// Validity in seconds relative to now; a negative `notAfter` makes a certificate that is
// already expired.
struct Validity {
  long notBefore;
  long notAfter;
};

constexpr long kDay = 24L * 60 * 60;
// A leaf starts an hour in the past so that a host whose clock lags a little still accepts it.
constexpr Validity kLeafValidity{-60L * 60, 2 * 365 * kDay};
constexpr Validity kCaValidity{-60L * 60, 10 * 365 * kDay};
constexpr Validity kExpiredValidity{-2 * 365 * kDay, -365 * kDay};

void AddEntry(X509_NAME* name, const char* field, const std::string& value) {
  Check(
      X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0),
      std::string("Não foi possível compor o nome do certificado (") + field + ")");
}

void SetSubject(X509* cert, const Subject& subject) {
  X509_NAME* name = X509_get_subject_name(cert);
  AddEntry(name, "C", "BR");
  AddEntry(name, "O", "ICP-Brasil");
  if (!subject.organizationalUnit.empty()) AddEntry(name, "OU", subject.organizationalUnit);
  AddEntry(name, "CN", subject.commonName);
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtFree> ext(
      X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  if (!ext) Fail("Não foi possível criar a extensão " + std::string(OBJ_nid2sn(nid)));
  Check(X509_add_ext(cert, ext.get(), -1),
        "Não foi possível incluir a extensão " + std::string(OBJ_nid2sn(nid)));
}

void SetRandomSerial(X509* cert) {
  // 127 random bits: positive, unique in practice, and within the 20 octets RFC 5280 allows.
  std::unique_ptr<BIGNUM, BnFree> bn(BN_new());
  if (!bn || BN_rand(bn.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1)
    Fail("Não foi possível sortear o número de série");
  if (!BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)))
    Fail("Não foi possível gravar o número de série");
}

enum class Role { Ca, Server, Company };

// Makes a certificate for `key`, signed by `issuerKey` under `issuer` (both null: self-signed).
Cert MakeCertificate(Role role, const Subject& subject, EVP_PKEY* key, X509* issuer,
                     EVP_PKEY* issuerKey, Validity validity, const std::string& cnpj = {}) {
  Cert cert(X509_new());
  if (!cert) Fail("Não foi possível criar o certificado");
  Check(X509_set_version(cert.get(), X509_VERSION_3), "Não foi possível marcar o certificado v3");
  SetRandomSerial(cert.get());
  if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), validity.notBefore) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity.notAfter))
    Fail("Não foi possível gravar a validade do certificado");
  SetSubject(cert.get(), subject);
  X509* signerCert = issuer ? issuer : cert.get();
  EVP_PKEY* signerKey = issuerKey ? issuerKey : key;
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signerCert)),
        "Não foi possível gravar o emissor do certificado");
  Check(X509_set_pubkey(cert.get(), key), "Não foi possível gravar a chave pública");

  AddExtension(cert.get(), signerCert, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), signerCert, NID_authority_key_identifier, "keyid:always");
  switch (role) {
    case Role::Ca:
      AddExtension(cert.get(), signerCert, NID_basic_constraints, "critical,CA:TRUE");
      AddExtension(cert.get(), signerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
      break;
    case Role::Server:
      AddExtension(cert.get(), signerCert, NID_basic_constraints, "critical,CA:FALSE");
      AddExtension(cert.get(), signerCert, NID_key_usage,
                   "critical,digitalSignature,keyEncipherment");
      AddExtension(cert.get(), signerCert, NID_ext_key_usage, "serverAuth");
      AddExtension(cert.get(), signerCert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
      break;
    case Role::Company:
      AddExtension(cert.get(), signerCert, NID_basic_constraints, "critical,CA:FALSE");
      AddExtension(cert.get(), signerCert, NID_key_usage,
                   "critical,digitalSignature,nonRepudiation,keyEncipherment");
      AddExtension(cert.get(), signerCert, NID_ext_key_usage, "clientAuth,emailProtection");
      // An e-CNPJ carries the company's CNPJ as otherName 2.16.76.1.3.3 besides the subject, and
      // certificate readers look for it there.
      AddExtension(cert.get(), signerCert, NID_subject_alt_name,
                   "otherName:2.16.76.1.3.3;PRINTABLESTRING:" + cnpj);
      break;
  }
  if (X509_sign(cert.get(), signerKey, EVP_sha256()) <= 0)
    Fail("Não foi possível assinar o certificado " + subject.commonName);
  return cert;
}

// ---- serialisation -------------------------------------------------------------------------

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(size));
}

std::string CertPem(X509* cert) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) Fail("Não foi possível gerar o PEM");
  return BioText(bio.get());
}

std::string KeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    Fail("Não foi possível gerar o PEM da chave");
  return BioText(bio.get());
}

// OpenSSL 3's defaults (PBES2 with AES-256-CBC and PBKDF2-SHA256, SHA-256 MAC) are read by
// OpenSSL 3, curl and the component alike.
std::string Pfx(EVP_PKEY* key, X509* cert, X509* ca, const std::string& password,
                const std::string& friendlyName) {
  std::unique_ptr<STACK_OF(X509), X509StackFree> chain(sk_X509_new_null());
  if (!chain || sk_X509_push(chain.get(), ca) <= 0) Fail("Não foi possível montar a cadeia");
  std::unique_ptr<PKCS12, Pkcs12Free> p12(
      PKCS12_create(password.c_str(), friendlyName.c_str(), key, cert, chain.get(), 0, 0, 0, 0, 0));
  if (!p12) Fail("Não foi possível gerar o PKCS#12");
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || i2d_PKCS12_bio(bio.get(), p12.get()) != 1) Fail("Não foi possível gravar o PKCS#12");
  return BioText(bio.get());
}

// ---- reuse of an existing set --------------------------------------------------------------

const char* const kMarkerName = "pki-conjunto.ini";

std::string Sha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
    Fail("Não foi possível calcular o SHA-256");
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

// The marker names the CNPJ and a digest of the password (never the password itself), so a
// set made for another company or password is made again instead of silently reused.
std::string MarkerText(const std::string& cnpj, const std::string& password) {
  return "[pki]\ncnpj=" + cnpj + "\nsenha-sha256=" + Sha256Hex("qornfce-pki:" + password) + "\n";
}

std::string Join(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

TestPki Paths(const std::string& folder, const std::string& cnpj, const std::string& password) {
  TestPki pki;
  pki.folder = folder;
  pki.caCert = Join(folder, "ca.pem");
  pki.caKey = Join(folder, "ca-key.pem");
  pki.serverCert = Join(folder, "servidor.pem");
  pki.serverKey = Join(folder, "servidor-key.pem");
  pki.companyPfx = Join(folder, "empresa.pfx");
  pki.companyCertPem = Join(folder, "empresa-cert.pem");
  pki.companyKeyPem = Join(folder, "empresa-key.pem");
  pki.expiredPfx = Join(folder, "empresa-vencida.pfx");
  pki.otherCaCert = Join(folder, "outra-ac.pem");
  pki.otherCaCompanyPfx = Join(folder, "empresa-outra-ac.pfx");
  pki.otherCaServerCert = Join(folder, "servidor-outra-ac.pem");
  pki.otherCaServerKey = Join(folder, "servidor-outra-ac-key.pem");
  pki.cnpj = cnpj;
  pki.password = password;
  return pki;
}

// A leaf about to expire would make the next week's test runs fail for no visible reason.
bool CertificateStillGood(const std::string& path) {
  Bio bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) {
    ERR_clear_error();
    return false;
  }
  Cert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!cert) {
    ERR_clear_error();
    return false;
  }
  time_t soon = std::time(nullptr) + 30 * kDay;
  return X509_cmp_time(X509_get0_notAfter(cert.get()), &soon) > 0;
}

bool ReusableSet(const TestPki& pki) {
  std::error_code ec;
  for (const std::string* path :
       {&pki.caCert, &pki.caKey, &pki.serverCert, &pki.serverKey, &pki.companyPfx,
        &pki.companyCertPem, &pki.companyKeyPem, &pki.expiredPfx, &pki.otherCaCert,
        &pki.otherCaCompanyPfx, &pki.otherCaServerCert, &pki.otherCaServerKey}) {
    if (!std::filesystem::is_regular_file(*path, ec)) return false;
  }
  std::string marker;
  try {
    marker = ReadWholeFile(Join(pki.folder, kMarkerName));
  } catch (const std::runtime_error&) {
    return false;
  }
  return marker == MarkerText(pki.cnpj, pki.password) && CertificateStillGood(pki.caCert) &&
         CertificateStillGood(pki.serverCert) && CertificateStillGood(pki.companyCertPem);
}

}  // namespace

TestPki CreateTestPki(const std::string& folder, const std::string& cnpj,
                      const std::string& password) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder))
    throw std::runtime_error("Não foi possível criar a pasta " + folder + ": " + ec.message());

  TestPki pki = Paths(folder, cnpj, password);
  if (ReusableSet(pki)) return pki;

  // Without the marker a set interrupted half-way is never mistaken for a complete one.
  std::filesystem::remove(Join(folder, kMarkerName), ec);

  const std::string companyName = "EMPRESA TESTE:" + cnpj;
  const std::string testOu = "Certificado de Teste";

  // RSA key generation is most of the cost, so the failure-case certificates reuse the keys of
  // their valid counterparts: what they test is the validity period or the issuer, never the key.
  Pkey caKey = NewKey();
  Cert ca = MakeCertificate(Role::Ca, {"AC TESTE NFC-e", testOu}, caKey.get(), nullptr, nullptr,
                            kCaValidity);
  Pkey serverKey = NewKey();
  Cert server = MakeCertificate(Role::Server, {"localhost", testOu}, serverKey.get(), ca.get(),
                                caKey.get(), kLeafValidity);
  Pkey companyKey = NewKey();
  Cert company = MakeCertificate(Role::Company, {companyName, testOu}, companyKey.get(), ca.get(),
                                 caKey.get(), kLeafValidity, cnpj);
  Cert expired = MakeCertificate(Role::Company, {companyName, testOu}, companyKey.get(), ca.get(),
                                 caKey.get(), kExpiredValidity, cnpj);

  Pkey otherCaKey = NewKey();
  Cert otherCa = MakeCertificate(Role::Ca, {"AC OUTRA TESTE", testOu}, otherCaKey.get(), nullptr,
                                 nullptr, kCaValidity);
  Cert otherCompany = MakeCertificate(Role::Company, {companyName, testOu}, companyKey.get(),
                                      otherCa.get(), otherCaKey.get(), kLeafValidity, cnpj);
  Cert otherServer = MakeCertificate(Role::Server, {"localhost", testOu}, serverKey.get(),
                                     otherCa.get(), otherCaKey.get(), kLeafValidity);

  WriteFileAtomically(pki.caCert, CertPem(ca.get()));
  WriteFileAtomically(pki.caKey, KeyPem(caKey.get()), 0600);
  // The server presents its chain up to the test CA, as a real service presents its chain.
  WriteFileAtomically(pki.serverCert, CertPem(server.get()) + CertPem(ca.get()));
  WriteFileAtomically(pki.serverKey, KeyPem(serverKey.get()), 0600);
  WriteFileAtomically(pki.companyPfx,
                      Pfx(companyKey.get(), company.get(), ca.get(), password, companyName), 0600);
  WriteFileAtomically(pki.companyCertPem, CertPem(company.get()));
  WriteFileAtomically(pki.companyKeyPem, KeyPem(companyKey.get()), 0600);
  WriteFileAtomically(pki.expiredPfx,
                      Pfx(companyKey.get(), expired.get(), ca.get(), password, companyName), 0600);
  WriteFileAtomically(pki.otherCaCert, CertPem(otherCa.get()));
  WriteFileAtomically(
      pki.otherCaCompanyPfx,
      Pfx(companyKey.get(), otherCompany.get(), otherCa.get(), password, companyName), 0600);
  WriteFileAtomically(pki.otherCaServerCert, CertPem(otherServer.get()) + CertPem(otherCa.get()));
  WriteFileAtomically(pki.otherCaServerKey, KeyPem(serverKey.get()), 0600);

  WriteFileAtomically(Join(folder, kMarkerName), MarkerText(cnpj, password));
  return pki;
}

}  // namespace qor::sim
