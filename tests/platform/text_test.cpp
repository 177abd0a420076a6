#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

#include "platform/GovException.h"
#include "support/Expect.h"

namespace qor {
namespace {

TEST(Text, Utf8CodePoints) {
  EXPECT_EQ(Utf8Length("ação"), 4u);
  EXPECT_EQ(Utf8Length("Justificativa com acentuação"), 28u);
  EXPECT_EQ(Utf8Length("€𝄞"), 2u);  // 3- and 4-byte sequences
  EXPECT_EQ(Utf8Length("a\xFF"
                       "b"),
            3u);
  EXPECT_EQ(Utf8Substr("ação", 1, 2), "çã");
  EXPECT_EQ(Utf8Substr("ação", 2), "ão");
  EXPECT_EQ(Utf8Substr("ação", 9, 2), "");
  EXPECT_TRUE(IsValidUtf8("ação €𝄞"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(IsValidUtf8("a\xC3"));             // cut short
}

TEST(Text, Cp1252ToUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("\xE7\xE3o"), "ção");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
  EXPECT_EQ(Cp1252ToUtf8("\x9F\x8A\x93\x94"), "Ÿ\u0160\u201C\u201D");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");  // undefined in the code page: kept as C1
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string converted = Cp1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(converted));
  EXPECT_EQ(Utf8Length(converted), 256u);
}

TEST(Text, CaseAndTrimAreAsciiOnly) {
  EXPECT_EQ(UpperCase("ação x"), "AçãO X");
  EXPECT_EQ(LowerCase("AÇÃO"), "aÇÃo");
  EXPECT_TRUE(SameText("NFCe", "nfce"));
  EXPECT_FALSE(SameText("ção", "ÇÃO"));
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_TRUE(StartsText("nfe", "NFe3519"));
  EXPECT_TRUE(EndsText("-ENV-LOT.xml", "123-env-lot.XML"));
  EXPECT_FALSE(EndsText("longer than text", "short"));
}

TEST(Text, FindTextIgnoresCaseAndStartsWhereAsked) {
  const std::string_view nota = "<infNFe>x</infNFe><infNFeSupl><qrCode>a</qrCode></infNFeSupl>";
  EXPECT_EQ(FindText(nota, "</INFNFE>"), 9u);
  EXPECT_EQ(FindText(nota, "<infnfesupl>"), 18u);
  EXPECT_EQ(FindText(nota, "<infnfe"), 0u);
  EXPECT_EQ(FindText(nota, "<infnfe", 1), 18u);
  EXPECT_EQ(FindText(nota, "</infnfesupl>", 18), nota.size() - 13);  // at the very end
  EXPECT_EQ(FindText(nota, "urlchave"), std::string_view::npos);
  EXPECT_EQ(FindText(nota, ""), std::string_view::npos);
  EXPECT_EQ(FindText(nota, "<qrcode>", nota.size()), std::string_view::npos);
  EXPECT_EQ(FindText(nota, "<qrcode>", nota.size() + 1), std::string_view::npos);
  EXPECT_EQ(FindText("ab", "abc"), std::string_view::npos);
  // Repeated prefixes, where a shift by the wrong amount would step over the match.
  EXPECT_EQ(FindText("aaaab", "AAB"), 2u);
  EXPECT_EQ(FindText("abcabcabd", "abcabd"), 3u);
  EXPECT_EQ(FindText("xxBAxBAA", "baa"), 5u);
  // Bytes that are not ASCII are compared as they are.
  EXPECT_EQ(FindText("São Paulo", "SÃO"), std::string_view::npos);
  EXPECT_EQ(FindText("São Paulo", "sãO"), 0u);
  EXPECT_TRUE(ContainsText("Only:GB23", "only:"));
  EXPECT_FALSE(ContainsText("on ly:GB23", "only:"));
}

TEST(Text, RemoveAccents) {
  EXPECT_EQ(RemoveAccents("áéíóúàèìòùâêîôûäëïöüãõñçÁÉÍÓÚÀÈÌÒÙÂÊÎÔÛÄËÏÖÜÃÕÑÇºª"),
            "aeiouaeiouaeiouaeiouaoncAEIOUAEIOUAEIOUAEIOUAONCoa");
  // Every accented letter of Latin-1 becomes one ASCII letter.
  for (char32_t cp = 0xC0; cp <= 0xFF; ++cp) {
    if (cp == 0xC6 || cp == 0xD7 || cp == 0xDE || cp == 0xDF || cp == 0xE6 || cp == 0xF7 ||
        cp == 0xFE) {
      continue;  // Æ × Þ ß æ ÷ þ are not accented letters
    }
    std::string in = Cp1252ToUtf8(std::string(1, static_cast<char>(cp)));
    std::string out = RemoveAccents(in);
    ASSERT_EQ(out.size(), 1u) << in;
    EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(out[0]))) << in;
  }
  EXPECT_EQ(RemoveAccents("São Paulo — Nº 1, Łódź, Šibenik"), "Sao Paulo — No 1, Lodz, Sibenik");
  EXPECT_EQ(RemoveAccents("Jose\xCC\x81"), "Jose");  // decomposed: combining acute dropped
  EXPECT_EQ(RemoveAccents("æ × ß \xFF"), "æ × ß \xFF");
  EXPECT_EQ(RemoveAccents("35191234567890123456789012345678901234567890"),
            "35191234567890123456789012345678901234567890");

  EXPECT_EQ(DynamicRemoveAccents("ação é Ç", "çé"), "acão e Ç");
  EXPECT_EQ(DynamicRemoveAccents("ação", ""), "ação");
}

TEST(Text, ZerosAndNumbers) {
  EXPECT_EQ(Czro("12", 5), "00012");
  EXPECT_EQ(Czro("123456", 5), "123456");
  EXPECT_EQ(Czro("ç", 3), "00ç");
  EXPECT_EQ(Czro("", 2), "00");
  EXPECT_TRUE(IsNumber("0123"));
  EXPECT_FALSE(IsNumber(""));
  EXPECT_FALSE(IsNumber("-1"));
  EXPECT_FALSE(IsNumber("12a"));
  EXPECT_FALSE(IsNumber("1 2"));
}

// Check digits computed the way the Federal Revenue publishes them: weights 2..9 (CNPJ) or
// 2..11 and up (CPF) from the rightmost digit, digit = 11 - sum mod 11, 10 and 11 giving 0.
char Mod11(const std::string& digits, int maxWeight) {
  int sum = 0;
  int weight = 2;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    sum += (*it - '0') * weight;
    weight = weight == maxWeight ? 2 : weight + 1;
  }
  int d = 11 - sum % 11;
  return static_cast<char>('0' + (d >= 10 ? 0 : d));
}

std::string WithCnpjDigits(std::string base) {
  base += Mod11(base, 9);
  return base + Mod11(base, 9);
}

std::string WithCpfDigits(std::string base) {
  base += Mod11(base, 100);
  return base + Mod11(base, 100);
}

TEST(Text, CnpjAndCpfCheckDigits) {
  for (const char* ok : {"11222333000181", "11444777000161", "00000000000191", "33000167000101"}) {
    EXPECT_TRUE(ValidateCNPJ(ok)) << ok;
  }
  for (const char* bad : {"11222333000182", "11222333000191", "00000000000000", "99999999999999",
                          "1122233300018", "112223330001810", "11.222.333/0001-81", ""}) {
    EXPECT_FALSE(ValidateCNPJ(bad)) << bad;
  }
  for (const char* ok : {"52998224725", "11144477735", "12345678909"}) {
    EXPECT_TRUE(ValidateCPF(ok)) << ok;
  }
  for (const char* bad :
       {"52998224724", "52998224715", "11111111111", "5299822472", "529.982.247-25"}) {
    EXPECT_FALSE(ValidateCPF(bad)) << bad;
  }

  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> digit(0, 9);
  for (int n = 0; n < 300; ++n) {
    std::string cnpjBase;
    for (int i = 0; i < 12; ++i) cnpjBase += static_cast<char>('0' + digit(rng));
    std::string cpfBase = cnpjBase.substr(0, 9);
    std::string cnpj = WithCnpjDigits(cnpjBase);
    std::string cpf = WithCpfDigits(cpfBase);
    if (cnpj.find_first_not_of(cnpj[0]) == std::string::npos) continue;
    EXPECT_TRUE(ValidateCNPJ(cnpj)) << cnpj;
    EXPECT_TRUE(ValidateCPF(cpf)) << cpf;
    for (std::size_t pos : {12u, 13u}) {
      std::string wrong = cnpj;
      wrong[pos] = static_cast<char>('0' + (wrong[pos] - '0' + 1 + n % 9) % 10);
      EXPECT_FALSE(ValidateCNPJ(wrong)) << wrong;
    }
    for (std::size_t pos : {9u, 10u}) {
      std::string wrong = cpf;
      wrong[pos] = static_cast<char>('0' + (wrong[pos] - '0' + 1 + n % 9) % 10);
      EXPECT_FALSE(ValidateCPF(wrong)) << wrong;
    }
  }
}

TEST(Text, RegularExpressions) {
  const std::string key = "NFe35191234567890123456789012345678901234567890";
  EXPECT_TRUE(RegexIsMatch(key, "^NFe\\d{44}$"));
  EXPECT_FALSE(RegexIsMatch(key, "^nfe\\d{44}$"));
  EXPECT_TRUE(RegexIsMatchInsensitive(key, "^nfe\\d{44}$"));
  EXPECT_TRUE(
      RegexIsMatch("see www.sefaz.sp.gov.br/x", "www\\.[a-z.]+"));  // a search, not a full match
  EXPECT_EQ(RegexMatch("cStat 100 and 204", "\\d+"), "100");
  EXPECT_EQ(RegexMatchInsensitive("URL: HTTPS://host/a", "https://[a-z]+"), "HTTPS://host");
  EXPECT_EQ(RegexMatch("abc", "\\d+"), "");
  const std::string message = test::MessageOf<EqorGovException>([] { RegexIsMatch("x", "([a-z"); });
  EXPECT_NE(message.find("([a-z"), std::string::npos) << message;
  EXPECT_THROW(RegexMatchInsensitive("x", "a{2,1}"), EqorGovException);
}

}  // namespace
}  // namespace qor
