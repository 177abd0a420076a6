// The company's certificate as the platform layer uses it: a PKCS#12 file opened once, checked,
// and kept in memory as PEM text (certificate chain and private key) for the TLS client and the
// signer.
//
// Internal to src/platform/. Thread-safety: a TPkcs12Cache belongs to one TqorGovX and shares its
// rule (one thread at a time); a loaded TPkcs12Identity is immutable and may be shared freely.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <memory>
#include <string>

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace qor {

struct TPkcs12Identity {
  TPkcs12Identity() = default;
  TPkcs12Identity(const TPkcs12Identity&) = delete;
  TPkcs12Identity& operator=(const TPkcs12Identity&) = delete;
  // Wipes the key text from memory.
  ~TPkcs12Identity();

  std::string path;
  std::string certificatePem;  // the end-entity certificate first, then any CA certificates
  std::string privateKeyPem;   // unencrypted PKCS#8; only ever handed to libraries, never logged
  std::shared_ptr<evp_pkey_st> privateKey;  // the same key, decoded (empty when made by hand)
  std::string subject;                      // RFC 2253 form, e.g. "CN=EMPRESA TESTE:12345678000195"
  std::chrono::system_clock::time_point notBefore;
  std::chrono::system_clock::time_point notAfter;
};

// Opens the PKCS#12 file at `path` with `password` and returns its end-entity certificate, the
// matching private key and the chain. Files written with the legacy algorithms (RC2, 3DES), as
// many exported certificates still are, are read too.
// Throws EqorGovException with a message naming the path and the reason: file missing or
// unreadable, not a PKCS#12 file, wrong password (the password itself is never in the message),
// no private key, no certificate, key and certificate that do not belong together.
std::shared_ptr<const TPkcs12Identity> LoadPkcs12(const std::string& path,
                                                  const std::string& password);

// Throws EqorGovException when `now` lies outside the certificate's validity:
// "Certificado vencido em dd/mm/yyyy: <path>" or "Certificado válido somente a partir de
// dd/mm/yyyy: <path>" (dates in UTC, as the certificate states them).
void CheckValidity(const TPkcs12Identity& identity, std::chrono::system_clock::time_point now);

// Keeps the identity last loaded and hands it out again while the path, the password and the
// file (modification time, size, inode) stay the same, so the file is parsed once per change.
class TPkcs12Cache {
 public:
  // Throws as LoadPkcs12; a missing file is reported even when an identity of it is cached.
  std::shared_ptr<const TPkcs12Identity> Get(const std::string& path, const std::string& password);
  void Clear();

 private:
  struct Key {
    std::string path;
    std::string password;
    long long mtimeNs = 0;
    long long size = 0;
    ino_t inode = 0;
    bool operator==(const Key&) const = default;
  };
  Key key_;
  std::shared_ptr<const TPkcs12Identity> identity_;
};

}  // namespace qor
