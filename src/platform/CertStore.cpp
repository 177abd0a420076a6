#include "platform/CertStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/Certificate.h"
#include "platform/Files.h"
#include "platform/GovException.h"

namespace qor {

namespace {

struct Entry {
  std::string name;  // inside the folder
  std::string path;
};

bool HasStoreExtension(const std::string& name) {
  if (name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".pfx" || ext == ".p12";
}

// The regular files of the store, by name; lstat, so a link is never taken for its target.
std::vector<Entry> StoreFiles(const std::string& rawFolder) {
  const std::string folder = IncludeTrailingSlash(NativePath(rawFolder));
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) {
    throw EqorGovException("Não foi possível abrir o repositório de certificados \"" + folder +
                           "\": " + std::strerror(errno));
  }
  std::vector<Entry> files;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string name = item->d_name;
    if (!HasStoreExtension(name)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    files.push_back({name, folder + name});
  }
  std::sort(files.begin(), files.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return files;
}

struct Facts {
  std::string subject, serial, expiry, sha1;
};

std::string Hex(const unsigned char* data, unsigned length, const char* separator) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    if (i > 0) out += separator;
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
  }
  return out;
}

Facts Describe(const TPkcs12Identity& identity) {
  std::unique_ptr<BIO, int (*)(BIO*)> bio(
      BIO_new_mem_buf(identity.certificatePem.data(),
                      static_cast<int>(identity.certificatePem.size())),
      BIO_free);
  std::unique_ptr<X509, void (*)(X509*)> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  if (!cert) throw EqorGovException("Certificado ilegível em " + identity.path);
  Facts facts;
  facts.subject = identity.subject;
  std::unique_ptr<BIGNUM, void (*)(BIGNUM*)> serial(
      ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert.get()), nullptr), BN_free);
  if (serial) {
    char* hex = BN_bn2hex(serial.get());
    facts.serial = hex != nullptr ? hex : "";
    OPENSSL_free(hex);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (X509_digest(cert.get(), EVP_sha1(), digest, &length) == 1) {
    facts.sha1 = Hex(digest, length, ":");
  }
  const std::time_t t = std::chrono::system_clock::to_time_t(identity.notAfter);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &tm);
  facts.expiry = text;
  return facts;
}

// Upper case without leading zeros, so "0a1B" and "A1b" are one serial.
std::string NormalSerial(const std::string& serial) {
  std::string out;
  for (char c : serial) {
    if (c == ':' || std::isspace(static_cast<unsigned char>(c))) continue;
    if (out.empty() && c == '0') continue;
    out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out.empty() ? "0" : out;
}

}  // namespace

std::vector<std::string> ListCertificateStore(const std::string& folder,
                                              const std::string& password) {
  std::vector<std::string> lines;
  for (const Entry& file : StoreFiles(folder)) {
    try {
      const Facts f = Describe(*LoadPkcs12(file.path, password));
      lines.push_back("Assunto=" + f.subject + "|Serial=" + f.serial + "|Validade=" + f.expiry +
                      "|SHA1=" + f.sha1 + "|Arquivo=" + file.path);
    } catch (const EqorGovException& failure) {
      lines.push_back("Arquivo=" + file.path + "|Erro=" + failure.what());
    }
  }
  return lines;
}

bool RemoveFromCertificateStore(const std::string& folder, const std::string& password,
                                const std::string& serial) {
  const std::string wanted = NormalSerial(serial);
  std::vector<Entry> holders;
  for (const Entry& file : StoreFiles(folder)) {
    try {
      if (NormalSerial(Describe(*LoadPkcs12(file.path, password)).serial) == wanted) {
        holders.push_back(file);
      }
    } catch (const EqorGovException&) {
      // A file the store's password does not open holds no serial we could match.
    }
  }
  if (holders.empty()) return false;
  if (holders.size() > 1) {
    std::string names;
    for (const Entry& file : holders) names += (names.empty() ? "" : ", ") + file.name;
    throw EqorGovException("O serial " + serial + " está em mais de um arquivo do repositório (" +
                           names + "); nenhum foi removido.");
  }
  const std::string dir = IncludeTrailingSlash(NativePath(folder));
  // unlinkat on the folder's own descriptor, after checking the name is still a regular file:
  // a link put in its place meanwhile is refused rather than followed.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    throw EqorGovException("Não foi possível abrir o repositório de certificados \"" + dir +
                           "\": " + std::strerror(errno));
  }
  struct stat st {};
  int result = ::fstatat(dirFd, holders[0].name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
  if (result == 0 && !S_ISREG(st.st_mode)) {
    ::close(dirFd);
    throw EqorGovException("O arquivo " + holders[0].path + " não é um arquivo comum.");
  }
  if (result == 0) result = ::unlinkat(dirFd, holders[0].name.c_str(), 0);
  const int err = errno;
  ::close(dirFd);
  if (result != 0) {
    throw EqorGovException("Não foi possível remover o certificado " + holders[0].path + ": " +
                           std::strerror(err));
  }
  return true;
}

}  // namespace qor
