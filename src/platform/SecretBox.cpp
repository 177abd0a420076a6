#include "platform/SecretBox.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"

namespace qor {

namespace {

constexpr unsigned char kVersion = 1;
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kNonceSize = 12;
constexpr std::size_t kTagSize = 16;

// The key never outlives the call that needed it, and its bytes are wiped on the way out.
struct Key {
  std::array<unsigned char, kKeySize> bytes{};
  ~Key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherCtx NewCtx() {
  CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  if (!ctx) throw EqorGovException("Não foi possível iniciar a cifra AES-256-GCM.");
  return ctx;
}

// ---- the installation key ----

bool ReadKey(const std::string& path, Key& key) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    throw EqorGovException("Não foi possível ler o arquivo de chave de instalação \"" + path +
                           "\": " + std::strerror(errno));
  }
  // One byte more than a key, to tell a longer file from a key.
  std::array<unsigned char, kKeySize + 1> buffer{};
  std::size_t got = 0;
  while (got < buffer.size()) {
    ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  std::memcpy(key.bytes.data(), buffer.data(), kKeySize);
  OPENSSL_cleanse(buffer.data(), buffer.size());
  if (got != kKeySize) {
    throw EqorGovException("O arquivo de chave de instalação \"" + path +
                           "\" está danificado: tamanho de chave inválido.");
  }
  return true;
}

// The new key is written whole under a temporary name and then linked to the key name: link()
// fails when the name exists, so a reader never sees half a key and, of two processes racing,
// the first link wins and the loser reads the winner's key.
void CreateKey(const std::string& path) {
  const std::string dir = ExtractFileDir(path);
  if (!dir.empty() && !ForceDirectories(dir)) {
    throw EqorGovException("Não foi possível criar a pasta do arquivo de chave de instalação \"" +
                           dir + "\".");
  }
  Key key;
  if (RAND_bytes(key.bytes.data(), static_cast<int>(key.bytes.size())) != 1) {
    throw EqorGovException("Não foi possível gerar a chave de instalação.");
  }
  std::string tmp = (dir.empty() ? std::string("./") : dir) + ".chave-XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL, mode 0600
  if (fd < 0) {
    throw EqorGovException("Não foi possível criar o arquivo de chave de instalação \"" + path +
                           "\": " + std::strerror(errno));
  }
  int err = 0;
  if (::fchmod(fd, 0600) != 0) err = errno;
  std::size_t done = 0;
  while (err == 0 && done < key.bytes.size()) {
    ssize_t n = ::write(fd, key.bytes.data() + done, key.bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) err = errno;
  ::unlink(tmp.c_str());
  if (err != 0) {
    throw EqorGovException("Não foi possível gravar o arquivo de chave de instalação \"" + path +
                           "\": " + std::strerror(err));
  }
}

void LoadKey(bool create, Key& key) {
  const std::string path = SecretKeyFilePath();
  if (ReadKey(path, key)) return;
  if (!create) {
    throw EqorGovException("O arquivo de chave de instalação \"" + path +
                           "\" não existe; o texto protegido não pode ser decifrado.");
  }
  CreateKey(path);
  if (!ReadKey(path, key)) {
    throw EqorGovException("O arquivo de chave de instalação \"" + path + "\" desapareceu.");
  }
}

[[noreturn]] void ThrowDamaged(const std::string& why) {
  throw EqorGovException("Texto protegido inválido: " + why);
}

}  // namespace

std::string SecretKeyFilePath() {
  const char* env = std::getenv("QORNFCE_KEY_FILE");
  if (env != nullptr && *env != '\0') return NativePath(env);
  return GetSpecialDirectories(2) + "chave-instalacao.key";
}

std::string Encrypt(const std::string& plain) {
  Key key;
  LoadKey(true, key);
  std::string blob(1 + kNonceSize + plain.size() + kTagSize, '\0');
  auto* out = reinterpret_cast<unsigned char*>(blob.data());
  out[0] = kVersion;
  unsigned char* nonce = out + 1;
  unsigned char* cipher = nonce + kNonceSize;
  unsigned char* tag = cipher + plain.size();
  if (RAND_bytes(nonce, static_cast<int>(kNonceSize)) != 1) {
    throw EqorGovException("Não foi possível gerar o vetor de inicialização.");
  }
  CipherCtx ctx = NewCtx();
  int len = 0;
  // The version byte is authenticated too, so a text cannot be replayed under another format.
  bool ok = EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), nonce) == 1 &&
            EVP_EncryptUpdate(ctx.get(), nullptr, &len, out, 1) == 1 &&
            EVP_EncryptUpdate(ctx.get(), cipher, &len,
                              reinterpret_cast<const unsigned char*>(plain.data()),
                              static_cast<int>(plain.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag) == 1;
  if (!ok) throw EqorGovException("Não foi possível proteger o texto (AES-256-GCM).");
  return EncodeBase64(blob);
}

std::string Decrypt(const std::string& protectedText) {
  // A key that was never set is saved as nothing; it must load as nothing, not as an error.
  if (protectedText.find_first_not_of(" \t\r\n") == std::string::npos) return {};
  std::string blob;
  try {
    blob = DecodeBase64(protectedText);
  } catch (const EqorGovException&) {
    ThrowDamaged("não é Base64 válido.");
  }
  if (blob.size() < 1 + kNonceSize + kTagSize) ThrowDamaged("tamanho insuficiente.");
  const auto* in = reinterpret_cast<const unsigned char*>(blob.data());
  if (in[0] != kVersion) ThrowDamaged("versão de formato desconhecida.");
  const unsigned char* nonce = in + 1;
  const unsigned char* cipher = nonce + kNonceSize;
  const std::size_t cipherSize = blob.size() - 1 - kNonceSize - kTagSize;
  std::array<unsigned char, kTagSize> tag{};
  std::memcpy(tag.data(), cipher + cipherSize, kTagSize);

  Key key;
  LoadKey(false, key);
  std::string plain(cipherSize, '\0');
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  CipherCtx ctx = NewCtx();
  int len = 0;
  int total = 0;
  bool ok = EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), nonce) == 1 &&
            EVP_DecryptUpdate(ctx.get(), nullptr, &len, in, 1) == 1 &&
            EVP_DecryptUpdate(ctx.get(), out, &len, cipher, static_cast<int>(cipherSize)) == 1;
  total = len;
  ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag.data()) == 1 &&
       EVP_DecryptFinal_ex(ctx.get(), out + total, &len) == 1;
  if (!ok) {
    // Plain text that failed authentication is wiped, never handed out.
    OPENSSL_cleanse(plain.data(), plain.size());
    throw EqorGovException(
        "Não foi possível decifrar o texto protegido: ele foi alterado ou foi protegido com outra "
        "chave de instalação (\"" +
        SecretKeyFilePath() + "\").");
  }
  return plain;
}

}  // namespace qor
