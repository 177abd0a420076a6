#include "platform/Crypto.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/GovException.h"
#include "support/TempDir.h"

namespace qor {
namespace {

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

  test::TempDir dir;
  test::WriteFile(dir / "bytes.bin", bytes);
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
  test::TempDir dir;
  const std::string gz = GZipString(data);
  EXPECT_LT(gz.size(), data.size() / 4);
  test::WriteFile(dir / "data.gz", gz);
  std::string output;
  ASSERT_EQ(test::RunCommand("gzip -dc '" + dir.path() + "data.gz'", &output), 0);
  EXPECT_TRUE(output == data) << "gzip -dc gave " << output.size() << " bytes, expected "
                              << data.size();
  EXPECT_EQ(GUnzipString(gz), data);

  // What the system's gzip writes, and two members one after the other (as `cat` joins them).
  test::WriteFile(dir / "plain.txt", "primeiro membro\n");
  ASSERT_EQ(test::RunCommand("gzip -c '" + dir.path() + "plain.txt' > '" + dir.path() + "a.gz'"),
            0);
  const std::string systemGz = test::ReadFile(dir / "a.gz");
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

}  // namespace
}  // namespace qor
