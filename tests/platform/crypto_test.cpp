#include "platform/Crypto.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "platform/SecretBox.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(Crypto, Sha1KnownDigests) {
  EXPECT_EQ(HashSha1("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(HashSha1(""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(HashSha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
  EXPECT_EQ(HashSha1Base64("abc"), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  EXPECT_EQ(HashSha1(std::string("a\0b", 3)), HashSha1(std::string("a\0b", 3)));
  EXPECT_NE(HashSha1(std::string("a\0b", 3)), HashSha1("a"));  // bytes after a NUL count
}

TEST(Crypto, Base64Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(EncodeBase64(plain), encoded);
    EXPECT_EQ(DecodeBase64(encoded), plain);
  }
  EXPECT_EQ(DecodeBase64("Zm9vYg"), "foob");  // padding optional
  EXPECT_EQ(DecodeBase64(" Zm9v\r\nYmFy\n"), "foobar");
  for (const char* bad :
       {"Zm9v*", "Z", "Zm9vY", "Zm9=v", "Zg===", "Zm-v", "Zm_v", "Zm9v\xC3\xA7"}) {
    EXPECT_THROW(DecodeBase64(bad), EqorGovException) << bad;
  }
}

TEST(Crypto, Base64AllByteValuesMatchOpenssl) {
  const std::string bytes = AllBytes() + AllBytes().substr(0, 100);
  const std::string encoded = EncodeBase64(bytes);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(DecodeBase64(encoded), bytes);

  TempDir dir;
  WriteFile(dir / "bytes.bin", bytes);
  std::string output;
  ASSERT_EQ(test::RunCommand("openssl base64 -A -in '" + dir.path() + "bytes.bin'", &output), 0)
      << output;
  EXPECT_EQ(output, encoded);
}

TEST(Crypto, GzipIsReadBySystemGzipAndBack) {
  std::mt19937 rng(7);
  std::string data = AllBytes();
  for (int i = 0; i < 5000; ++i) {
    data += "<det nItem=\"" + std::to_string(i) + "\"><prod><xProd>Caneta ção</xProd></prod></det>";
    data.push_back(static_cast<char>(rng()));
  }
  TempDir dir;
  const std::string gz = GZipString(data);
  EXPECT_LT(gz.size(), data.size() / 4);
  WriteFile(dir / "data.gz", gz);
  std::string output;
  ASSERT_EQ(test::RunCommand("gzip -dc '" + dir.path() + "data.gz'", &output), 0);
  EXPECT_TRUE(output == data) << "gzip -dc gave " << output.size() << " bytes, expected "
                              << data.size();
  EXPECT_EQ(GUnzipString(gz), data);

  // What the system's gzip writes, and two members one after the other (as `cat` joins them).
  WriteFile(dir / "plain.txt", "primeiro membro\n");
  ASSERT_EQ(test::RunCommand("gzip -c '" + dir.path() + "plain.txt' > '" + dir.path() + "a.gz'"),
            0);
  const std::string systemGz = ReadFile(dir / "a.gz");
  EXPECT_EQ(GUnzipString(systemGz), "primeiro membro\n");
  EXPECT_EQ(GUnzipString(systemGz + GZipString("segundo")), "primeiro membro\nsegundo");

  EXPECT_EQ(GUnzipString(GZipString("")), "");
}

TEST(Crypto, CorruptGzipThrows) {
  const std::string gz = GZipString(std::string(10000, 'x') + "fim");
  std::string flipped = gz;
  flipped[gz.size() / 2] = static_cast<char>(flipped[gz.size() / 2] ^ 0x55);
  std::string badCrc = gz;
  badCrc[gz.size() - 6] = static_cast<char>(badCrc[gz.size() - 6] ^ 0x01);
  for (const std::string& bad : {gz.substr(0, gz.size() - 4), gz.substr(0, 10), flipped, badCrc,
                                 std::string("not gzip at all"), std::string(), gz + "lixo"}) {
    EXPECT_THROW(GUnzipString(bad), EqorGovException) << bad.size();
  }
}

class SecretBox : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = tmp_ / "conf/chave.key";  // its folder does not exist yet
    ASSERT_EQ(setenv("QORNFCE_KEY_FILE", key_.c_str(), 1), 0);
  }
  void TearDown() override { unsetenv("QORNFCE_KEY_FILE"); }

  std::string DecryptMessage(const std::string& text) {
    return test::MessageOf<EqorGovException>([&] { Decrypt(text); });
  }

  TempDir tmp_;
  std::string key_;
};

TEST_F(SecretBox, RoundTripsAnyTextAndNeverRepeatsACiphertext) {
  std::string big;
  for (int i = 0; i < 10240; ++i) big += static_cast<char>('a' + i % 26);
  for (const std::string& plain :
       {std::string("1234"), std::string("Situação: ÇÃO çà €"), std::string(), big}) {
    const std::string a = Encrypt(plain);
    EXPECT_EQ(Decrypt(a), plain);
    EXPECT_NE(a, Encrypt(plain));
  }
  EXPECT_EQ(SecretKeyFilePath(), key_);
  EXPECT_EQ(Decrypt(""), "");  // an INI key that was never set
}

TEST_F(SecretBox, KeyFileIsPrivateAndTheLayoutIsVersionNonceCipherTag) {
  const std::string text = Encrypt("PIN-4321");
  struct stat st {};
  ASSERT_EQ(stat(key_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string key = ReadFile(key_);
  ASSERT_EQ(key.size(), 32u);

  // Decrypt the blob with OpenSSL directly to prove the documented layout.
  const std::string blob = DecodeBase64(text);
  ASSERT_EQ(blob.size(), 1u + 12 + 8 + 16);
  EXPECT_EQ(blob[0], '\x01');
  auto u = [](const std::string& s, std::size_t at) {
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
  };
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  unsigned char out[8];
  int len = 0;
  ASSERT_EQ(EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, u(key, 0), u(blob, 1)), 1);
  ASSERT_EQ(EVP_DecryptUpdate(ctx, nullptr, &len, u(blob, 0), 1), 1);
  ASSERT_EQ(EVP_DecryptUpdate(ctx, out, &len, u(blob, 13), 8), 1);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, const_cast<unsigned char*>(u(blob, 21)));
  EXPECT_EQ(EVP_DecryptFinal_ex(ctx, out + len, &len), 1);
  EVP_CIPHER_CTX_free(ctx);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "PIN-4321");
}

TEST_F(SecretBox, DamagedTextsAndWrongKeysThrowAndNeverReturnGarbage) {
  const std::string secret = "segredo-do-csc";
  const std::string text = Encrypt(secret);
  const std::string blob = DecodeBase64(text);
  for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{14}, blob.size() - 1}) {
    std::string bad = blob;
    bad[at] = static_cast<char>(bad[at] ^ 0x01);
    EXPECT_NE(DecryptMessage(EncodeBase64(bad)), "") << "byte " << at;
  }
  EXPECT_NE(DecryptMessage(EncodeBase64(blob.substr(0, 20))), "");
  EXPECT_NE(DecryptMessage("não é base64!"), "");
  EXPECT_NE(DecryptMessage(secret), "");  // a plain-text value left in the INI file

  const std::string original = ReadFile(key_);
  WriteFile(key_, std::string(32, 'k'));
  const std::string otherKey = DecryptMessage(text);
  EXPECT_NE(otherKey.find("outra chave"), std::string::npos) << otherKey;
  EXPECT_EQ(otherKey.find(secret), std::string::npos);

  WriteFile(key_, "curta");
  EXPECT_NE(DecryptMessage(text).find("tamanho"), std::string::npos);

  ASSERT_EQ(unlink(key_.c_str()), 0);
  const std::string missing = DecryptMessage(text);
  EXPECT_NE(missing.find("não existe"), std::string::npos) << missing;
  struct stat st {};
  EXPECT_NE(stat(key_.c_str(), &st), 0) << "Decrypt must not create a key";

  WriteFile(key_, original);
  EXPECT_EQ(Decrypt(text), secret);
}

TEST_F(SecretBox, ConcurrentFirstUsesAgreeOnOneKey) {
  std::vector<std::string> texts(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    threads.emplace_back([&texts, i] { texts[i] = Encrypt("pin" + std::to_string(i)); });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(Decrypt(texts[i]), "pin" + std::to_string(i));
  }
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(tmp_ / "conf")) {
    left.push_back(e.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"chave.key"});  // no temporary key behind
}

}  // namespace
}  // namespace qor
