#include "platform/SecretBox.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Base64 through OpenSSL, not through the code under test.
std::string Decode64(const std::string& text) {
  std::string out(text.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  EXPECT_GE(n, 0);
  std::size_t pad = text.size() - text.find_last_not_of('=') - 1;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

std::string Encode64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
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
  const std::string blob = Decode64(text);
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
  const std::string blob = Decode64(text);
  for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{14}, blob.size() - 1}) {
    std::string bad = blob;
    bad[at] = static_cast<char>(bad[at] ^ 0x01);
    EXPECT_NE(DecryptMessage(Encode64(bad)), "") << "byte " << at;
  }
  EXPECT_NE(DecryptMessage(Encode64(blob.substr(0, 20))), "");
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
