#include "platform/Certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/GovException.h"

namespace qor {

namespace {

using Clock = std::chrono::system_clock;

template <typename T, void (*Free)(T*)>
struct OsslDeleter {
  void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO, BIO_free_all>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OsslDeleter<PKCS12, PKCS12_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509, X509_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY, EVP_PKEY_free>>;

struct CertStackDeleter {
  void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
using CertStackPtr = std::unique_ptr<STACK_OF(X509), CertStackDeleter>;

// The reason of the newest OpenSSL error, then an empty queue: a stale error left on the thread
// would be read by the next TLS operation (libcurl inspects the same queue).
std::string TakeOpenSslError() {
  unsigned long code = 0;
  unsigned long last = 0;
  while ((code = ERR_get_error()) != 0) last = code;
  if (last == 0) return "erro desconhecido";
  const char* reason = ERR_reason_error_string(last);
  return reason ? reason : "erro desconhecido";
}

// A MAC that does not match is the mark of a wrong password. PKCS12_parse reports it by this
// reason; a MAC that could not be computed at all (an unsupported digest) leaves another reason
// on the queue.
bool LastErrorIsMacFailure() {
  const unsigned long code = ERR_peek_last_error();
  return code == 0 || (ERR_GET_LIB(code) == ERR_LIB_PKCS12 &&
                       ERR_GET_REASON(code) == PKCS12_R_MAC_VERIFY_FAILURE);
}

// Certificates exported by older tools encrypt their bags with RC2 or 3DES, which OpenSSL 3 keeps
// in its legacy provider. A private library context with the legacy and default providers is
// made once and only used to open such files, so the process-wide defaults stay untouched.
OSSL_LIB_CTX* LegacyContext() {
  static OSSL_LIB_CTX* context = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
    if (ctx == nullptr) return;
    if (OSSL_PROVIDER_load(ctx, "legacy") == nullptr ||
        OSSL_PROVIDER_load(ctx, "default") == nullptr) {
      OSSL_LIB_CTX_free(ctx);
      ERR_clear_error();
      return;
    }
    context = ctx;
  });
  return context;
}

// Makes `ctx` the calling thread's default library context for the lifetime of the object.
class ScopedDefaultContext {
 public:
  explicit ScopedDefaultContext(OSSL_LIB_CTX* ctx) : previous_(OSSL_LIB_CTX_set0_default(ctx)) {}
  ~ScopedDefaultContext() { OSSL_LIB_CTX_set0_default(previous_); }
  ScopedDefaultContext(const ScopedDefaultContext&) = delete;
  ScopedDefaultContext& operator=(const ScopedDefaultContext&) = delete;

 private:
  OSSL_LIB_CTX* previous_;
};

Clock::time_point ToTimePoint(const ASN1_TIME* t) {
  std::tm tm{};
  if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) {
    throw EqorGovException("Data de validade do certificado ilegível.");
  }
  return Clock::from_time_t(timegm(&tm));
}

std::string DateDdMmYyyy(Clock::time_point tp) {
  const std::time_t t = Clock::to_time_t(tp);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &tm);
  return text;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string SubjectRfc2253(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  // Keep UTF-8 as it is (company names carry accents) instead of escaping it as \XX.
  X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0,
                     XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  return BioText(bio.get());
}

std::string ReadWholeFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      throw EqorGovException("Certificado não encontrado: " + path);
    }
    throw EqorGovException("Não foi possível ler o certificado " + path + ": " +
                           std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    throw EqorGovException("O caminho do certificado não é um arquivo: " + path);
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    throw EqorGovException("Não foi possível ler o certificado " + path + ".");
  }
  return bytes;
}

struct Parsed {
  PkeyPtr key;
  X509Ptr cert;
  CertStackPtr chain;
  bool ok = false;
};

Parsed Parse(PKCS12* p12, const char* password) {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  Parsed result;
  result.ok = PKCS12_parse(p12, password, &key, &cert, &chain) == 1;
  result.key.reset(key);
  result.cert.reset(cert);
  result.chain.reset(chain);
  return result;
}

}  // namespace

TPkcs12Identity::~TPkcs12Identity() {
  if (!privateKeyPem.empty()) OPENSSL_cleanse(privateKeyPem.data(), privateKeyPem.size());
}

std::shared_ptr<const TPkcs12Identity> LoadPkcs12(const std::string& path,
                                                  const std::string& password) {
  ERR_clear_error();
  const std::string bytes = ReadWholeFile(path);

  BioPtr in(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  Pkcs12Ptr p12(d2i_PKCS12_bio(in.get(), nullptr));
  if (!p12) {
    ERR_clear_error();
    throw EqorGovException("O arquivo " + path + " não é um certificado PKCS#12 válido.");
  }

  // PKCS12_parse checks the MAC first (an empty password tried both as "no password" and as the
  // empty string, as exporting tools differ) and reports a mismatch as a MAC failure, the mark of
  // a wrong password. Checking it here as well would derive the MAC key twice: the key
  // derivations are most of what opening the file costs.
  const char* pass = password.c_str();
  auto identity = std::make_shared<TPkcs12Identity>();
  identity->path = path;
  {
    Parsed parsed = Parse(p12.get(), pass);
    std::unique_ptr<ScopedDefaultContext> legacy;
    // A wrong password is known from the MAC already; only a file the default algorithms could
    // not decrypt is tried again with the legacy ones.
    if (!parsed.ok && !LastErrorIsMacFailure() && LegacyContext() != nullptr) {
      ERR_clear_error();
      legacy = std::make_unique<ScopedDefaultContext>(LegacyContext());
      parsed = Parse(p12.get(), pass);
    }
    if (!parsed.ok) {
      const bool wrongPassword = LastErrorIsMacFailure();
      const std::string reason = TakeOpenSslError();
      if (wrongPassword) {
        throw EqorGovException("Senha do certificado inválida para o arquivo " + path + ".");
      }
      throw EqorGovException("Não foi possível abrir o certificado " + path + ": " + reason);
    }
    if (!parsed.key) {
      ERR_clear_error();
      throw EqorGovException("O certificado " + path + " não contém a chave privada.");
    }
    if (!parsed.cert) {
      ERR_clear_error();
      throw EqorGovException("O arquivo " + path +
                             " não contém um certificado correspondente à chave privada.");
    }
    if (X509_check_private_key(parsed.cert.get(), parsed.key.get()) != 1) {
      ERR_clear_error();
      throw EqorGovException("A chave privada de " + path + " não corresponde ao certificado.");
    }

    BioPtr certs(BIO_new(BIO_s_mem()));
    bool written = PEM_write_bio_X509(certs.get(), parsed.cert.get()) == 1;
    for (int i = 0; parsed.chain && i < sk_X509_num(parsed.chain.get()); ++i) {
      written = written && PEM_write_bio_X509(certs.get(), sk_X509_value(parsed.chain.get(), i));
    }
    BioPtr key(BIO_new(BIO_s_secmem()));
    written = written && PEM_write_bio_PrivateKey(key.get(), parsed.key.get(), nullptr, nullptr, 0,
                                                  nullptr, nullptr) == 1;
    if (!written) {
      throw EqorGovException("Não foi possível preparar o certificado " + path + ": " +
                             TakeOpenSslError());
    }
    // The signer takes the key as it was decoded here; reading it back from the PEM text would
    // run OpenSSL's decoder search a second time.
    identity->privateKey = std::shared_ptr<EVP_PKEY>(parsed.key.release(), EVP_PKEY_free);
    identity->certificatePem = BioText(certs.get());
    identity->privateKeyPem = BioText(key.get());
    identity->subject = SubjectRfc2253(parsed.cert.get());
    identity->notBefore = ToTimePoint(X509_get0_notBefore(parsed.cert.get()));
    identity->notAfter = ToTimePoint(X509_get0_notAfter(parsed.cert.get()));
  }
  ERR_clear_error();
  return identity;
}

void CheckValidity(const TPkcs12Identity& identity, Clock::time_point now) {
  if (now > identity.notAfter) {
    throw EqorGovException("Certificado vencido em " + DateDdMmYyyy(identity.notAfter) + ": " +
                           identity.path);
  }
  if (now < identity.notBefore) {
    throw EqorGovException("Certificado válido somente a partir de " +
                           DateDdMmYyyy(identity.notBefore) + ": " + identity.path);
  }
}

std::shared_ptr<const TPkcs12Identity> TPkcs12Cache::Get(const std::string& path,
                                                         const std::string& password) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    // Let the loader word the failure; a vanished file must not be served from memory.
    identity_.reset();
    return LoadPkcs12(path, password);
  }
  Key key{path, password,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
          static_cast<long long>(st.st_size), st.st_ino};
  if (identity_ && key == key_) return identity_;
  identity_.reset();
  auto loaded = LoadPkcs12(path, password);
  key_ = std::move(key);
  identity_ = loaded;
  return identity_;
}

void TPkcs12Cache::Clear() {
  identity_.reset();
  key_ = Key{};
}

}  // namespace qor
