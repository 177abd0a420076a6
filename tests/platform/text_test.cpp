#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/TStrings.h"
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
  // ASCII is passed a word at a time: a code point, or a broken byte, at any offset of a word,
  // and in the tail after the last whole word, is still seen.
  for (std::size_t at = 0; at <= 18; ++at) {
    const std::string ascii(18, 'a');
    const std::string ok = ascii.substr(0, at) + "ç" + ascii.substr(at);
    const std::string broken = ascii.substr(0, at) + "\xC3" + ascii.substr(at);
    EXPECT_EQ(Utf8Length(ok), 19u) << at;
    EXPECT_TRUE(IsValidUtf8(ok)) << at;
    EXPECT_FALSE(IsValidUtf8(broken)) << at;
    EXPECT_EQ(RemoveAccents(ok), ascii.substr(0, at) + "c" + ascii.substr(at)) << at;
  }
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

TEST(Text, FindFirstAndFindLastFindWhatFindAndRfindFind) {
  // The standard library's find and rfind are the reference, on texts where the needle is at
  // either end, overlaps itself, starts with a byte that recurs, or is longer than the text,
  // searched from every position and beyond the end.
  const std::string_view textos[] = {"",
                                     "<",
                                     "</infNFe>",
                                     "<infNFe>x</infNFe><Signature><DigestValue>d</DigestValue>",
                                     "aaaa",
                                     "abababa",
                                     "<a<<a<</a></a>",
                                     "São Paulo São"};
  const std::string_view agulhas[] = {"",   "<",   "</infNFe>",   "<DigestValue>",
                                      "a",  "aa",  "aba",         "</a>",
                                      "<a", "São", "x</infNFe><", "aaaaa"};
  for (std::string_view texto : textos) {
    for (std::string_view agulha : agulhas) {
      const auto nenhum = [&](std::size_t achado) {
        return agulha.empty() ? std::string_view::npos : achado;
      };
      EXPECT_EQ(FindLast(texto, agulha), nenhum(texto.rfind(agulha))) << texto << " / " << agulha;
      for (std::size_t de = 0; de <= texto.size() + 1; ++de) {
        EXPECT_EQ(FindFirst(texto, agulha, de), nenhum(texto.find(agulha, de)))
            << texto << " / " << agulha << " from " << de;
      }
    }
  }
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

TEST(Text, JsonStringEscapesQuotesBackslashesAndControlsAndReplacesWhatIsNotUtf8) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("a\"b\\c\n\r\t\x01\x1f\x7f\b\f ç€"),
            "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u001f\\u007f\\b\\f ç€\"");
  // Windows-1252 "ç", a cut sequence, an overlong "/" and a surrogate: one U+FFFD per byte.
  EXPECT_EQ(JsonString("a\xe7"
                       "b\xc3"),
            "\"a\\ufffdb\\ufffd\"");
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
}

TEST(TStrings, TextSplitsEveryLineBreakAndJoinsWithCrLf) {
  TStrings list;
  list.SetText("a\r\nb\nc\rd\r\n\r\ne\n");
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list[3], "d");
  EXPECT_EQ(list[4], "");
  EXPECT_EQ(list[5], "e");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  list.SetText("\n");
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list[0], "");
}

TEST(TStrings, NameValueAccess) {
  TStrings list;
  list.SetText("SP=35\nrj=33\nsem igual\nURL=http://h/x?a=b");
  EXPECT_EQ(list.IndexOfName("RJ"), 1);
  EXPECT_EQ(list.Values("sp"), "35");
  EXPECT_EQ(list.Values("url"), "http://h/x?a=b");  // only the first '=' separates
  EXPECT_EQ(list.Values("MG"), "");
  EXPECT_EQ(list.IndexOfName("sem igual"), -1);
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.Names(3), "URL");
  EXPECT_EQ(list.ValueFromIndex(3), "http://h/x?a=b");
  EXPECT_EQ(list.IndexOf("SP=35"), 0);
  EXPECT_EQ(list.IndexOf("sp=35"), -1);

  list.SetValue("Rj", "99");
  EXPECT_EQ(list[1], "rj=99");
  list.SetValue("MG", "31");
  EXPECT_EQ(list[list.Count() - 1], "MG=31");
  EXPECT_THROW(list.Names(10), std::out_of_range);
}

TEST(TStrings, EditsAndChangeEvent) {
  TStrings list;
  int changes = 0;
  list.OnChange = [&](const TStrings& l) {
    ++changes;
    EXPECT_EQ(&l, &list);
  };
  list.Add("b");
  list.Insert(0, "a");
  list.Insert(2, "c");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc");
  list.Delete(1);
  list.AddStrings(list);  // itself
  EXPECT_EQ(list.Text(), "a\r\nc\r\na\r\nc");
  list.SetValue("k", "v");
  list.Clear();
  EXPECT_EQ(changes, 7);
  EXPECT_THROW(list.Insert(1, "x"), std::out_of_range);
  EXPECT_THROW(list.Delete(0), std::out_of_range);
  EXPECT_EQ(changes, 7);
}

TEST(TStrings, TakeLinesHandsTheLinesOverAndEmptiesTheList) {
  TStrings list;
  list.SetText("a\r\nb");
  int changes = 0;
  list.OnChange = [&](const TStrings& l) {
    ++changes;
    EXPECT_TRUE(l.Empty()) << "the change is seen once the list is empty";
  };
  EXPECT_EQ(list.TakeLines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(changes, 1);
  list.OnChange = nullptr;
  list.Add("c");
  EXPECT_EQ(list.Text(), "c");
}

TEST(Format, PatternsArgumentsFixedPointWidthsAndHex) {
  EXPECT_EQ(Format("Servidor para %s não definido no arquivo: %s", {"NfeStatusServico4", "a.ini"}),
            "Servidor para NfeStatusServico4 não definido no arquivo: a.ini");
  EXPECT_EQ(Format("ID%s%s%2.2d", {"110111", "3519", 5}), "ID110111351905");
  EXPECT_EQ(Format("ID%s%s%2.2d", {"110111", "3519", 12}), "ID110111351912");
  EXPECT_EQ(Format("%2.2d", {123}), "123");  // precision is a minimum, never a cut
  EXPECT_EQ(Format("%.3d", {-5}), "-005");
  EXPECT_EQ(Format("[%s] %d - %s : %s", {"01/02/2025 10:11:12:013", 4242L, "EqorX", "msg"}),
            "[01/02/2025 10:11:12:013] 4242 - EqorX : msg");
  EXPECT_EQ(Format("100%% de %s", {"acerto"}), "100% de acerto");
  EXPECT_EQ(Format("sem argumentos", {}), "sem argumentos");
  EXPECT_EQ(Format("%s", {42}), "42");
  EXPECT_EQ(Format("%s", {-7LL}), "-7");
  EXPECT_EQ(Format("%s", {1.5}), "1.5");
  EXPECT_EQ(Format("%s", {static_cast<const char*>(nullptr)}), "");
  EXPECT_EQ(Format("%d", {18446744073709551615ULL}), "-1");  // only 64 signed bits travel
  EXPECT_EQ(Format("%.2f", {10.006}), "10.01");
  EXPECT_EQ(Format("%.2f", {2.675}), "2.67");  // the double below 2.675 rounds down, exactly
  EXPECT_EQ(Format("%.2f", {1234.5}), "1234.50");
  EXPECT_EQ(Format("%.0f", {2.5}), "2");
  EXPECT_EQ(Format("%.4f", {3}), "3.0000");
  EXPECT_EQ(Format("%f", {1.0}), "1.00");
  EXPECT_EQ(Format("%.2f", {-0.125}), "-0.12");
  EXPECT_EQ(Format("[%5s]", {"ab"}), "[   ab]");
  EXPECT_EQ(Format("[%-5s]", {"ab"}), "[ab   ]");
  EXPECT_EQ(Format("[%5s]", {"çã"}), "[   çã]");  // width counts characters, not bytes
  EXPECT_EQ(Format("[%.2s]", {"ção"}), "[çã]");
  EXPECT_EQ(Format("[%4d]", {7}), "[   7]");
  EXPECT_EQ(Format("[%-4d]", {7}), "[7   ]");
  EXPECT_EQ(Format("[%04d]", {-7}), "[-007]");
  EXPECT_EQ(Format("%x %X %4.4x", {255, 255, 10}), "ff FF 000a");
  EXPECT_EQ(Format("%X", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
  EXPECT_EQ(Format("[%*d]", {3, 1}), "[  1]");
}

TEST(Format, ProgrammingErrorsThrow) {
  EXPECT_THROW(Format("%s %s", {"um"}), std::invalid_argument);
  EXPECT_THROW(Format("%d", {"doze"}), std::invalid_argument);
  EXPECT_THROW(Format("%d", {1.5}), std::invalid_argument);
  EXPECT_THROW(Format("%f", {"x"}), std::invalid_argument);
  EXPECT_THROW(Format("%q", {1}), std::invalid_argument);
  EXPECT_THROW(Format("fim %", {}), std::invalid_argument);
  EXPECT_THROW(Format("%5", {1}), std::invalid_argument);
}

}  // namespace
}  // namespace qor
