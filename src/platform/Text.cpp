#include "platform/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <regex>
#include <unordered_map>
#include <unordered_set>

#include "platform/GovException.h"

namespace qor {

namespace {

// The end of the run of ASCII bytes that starts at `from`: most of any text here, passed eight
// bytes at a time.
std::size_t AsciiRunEnd(std::string_view text, std::size_t from) {
  std::size_t i = from;
  for (std::uint64_t word; i + sizeof word <= text.size(); i += sizeof word) {
    std::memcpy(&word, text.data() + i, sizeof word);
    if ((word & 0x8080808080808080ull) != 0) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

// Decodes the code point at `pos`. Returns its length in bytes, or 0 when the bytes there are not
// well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
std::size_t DecodeAt(std::string_view s, std::size_t pos, char32_t& cp) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char b = byte(pos + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Code points of 0x80-0x9F in Windows-1252. The five positions the code page leaves undefined map
// to the C1 control of the same number, as the system's converter does, so no byte is lost.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// Base letters of U+00C0-U+00FF and U+0100-U+017F; '.' keeps the character (ligatures, thorn,
// sharp s, the multiplication and division signs).
constexpr char kLatin1Base[] =
    "AAAAAA.CEEEEIIII"
    "DNOOOOO.OUUUUY.."
    "aaaaaa.ceeeeiiii"
    "dnooooo.ouuuuy.y";
constexpr char kLatinExtABase[] =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii..JjKk.LlLlLlL"
    "lLlNnNnNnn..OoOo"
    "Oo..RrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";
static_assert(sizeof(kLatin1Base) == 64 + 1);
static_assert(sizeof(kLatinExtABase) == 128 + 1);

// The replacement of `cp` when it is an accented letter: a base letter, '\0' for a combining
// accent (dropped), or -1 when the code point is not one of those handled.
int AccentReplacement(char32_t cp) {
  if (cp == 0x00AA) return 'a';  // ª
  if (cp == 0x00BA) return 'o';  // º
  if (cp >= 0x00C0 && cp <= 0x00FF) {
    char base = kLatin1Base[cp - 0x00C0];
    return base == '.' ? -1 : base;
  }
  if (cp >= 0x0100 && cp <= 0x017F) {
    char base = kLatinExtABase[cp - 0x0100];
    return base == '.' ? -1 : base;
  }
  // Decomposed text ("e" followed by U+0301) carries its accents as combining marks.
  if (cp >= 0x0300 && cp <= 0x036F) return 0;
  return -1;
}

template <typename Pred>
std::string ReplaceAccents(std::string_view text, Pred selected) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    // ASCII has no accents: a run of it is copied whole.
    const std::size_t ascii = AsciiRunEnd(text, i);
    if (ascii > i) {
      out.append(text.substr(i, ascii - i));
      i = ascii;
      continue;
    }
    char32_t cp;
    std::size_t len = DecodeAt(text, i, cp);
    if (len == 0) {
      out.push_back(text[i]);
      ++i;
      continue;
    }
    int repl = selected(cp) ? AccentReplacement(cp) : -1;
    if (repl > 0) {
      out.push_back(static_cast<char>(repl));
    } else if (repl < 0) {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool AllSame(std::string_view digits) {
  return digits.find_first_not_of(digits[0]) == std::string_view::npos;
}

int Digit(char c) { return c - '0'; }

// Modulo-11 check digit over `digits` with the given weights (one per digit).
int CheckDigit(std::string_view digits, const int* weights) {
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) sum += Digit(digits[i]) * weights[i];
  int rest = sum % 11;
  return rest < 2 ? 0 : 11 - rest;
}

std::regex Compile(const std::string& pattern, bool insensitive) {
  auto flags = std::regex::ECMAScript;
  if (insensitive) flags |= std::regex::icase;
  try {
    return std::regex(pattern, flags);
  } catch (const std::regex_error& e) {
    throw EqorGovException("Expressão regular inválida \"" + pattern + "\": " + e.what());
  }
}

// The compiled form of a pattern, kept per thread: the patterns are few and compiling one costs
// more than most searches.
const std::regex& Compiled(const std::string& pattern, bool insensitive) {
  thread_local std::unordered_map<std::string, std::regex> cache;
  std::string key = (insensitive ? "i:" : "s:") + pattern;
  const auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  if (cache.size() >= 64) cache.clear();
  return cache.emplace(std::move(key), Compile(pattern, insensitive)).first->second;
}

bool Search(const std::string& text, const std::string& pattern, bool insensitive,
            std::string* match) {
  const std::regex& re = Compiled(pattern, insensitive);
  std::smatch m;
  bool found;
  try {
    found = std::regex_search(text, m, re);
  } catch (const std::regex_error& e) {
    // The matcher gives up on patterns whose backtracking grows too large for the text.
    throw EqorGovException("Expressão regular \"" + pattern +
                           "\" não pôde ser avaliada: " + e.what());
  }
  if (found && match != nullptr) *match = m.str(0);
  return found;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsValidUtf8(std::string_view text) {
  char32_t cp;
  for (std::size_t i = AsciiRunEnd(text, 0); i < text.size(); i = AsciiRunEnd(text, i)) {
    const std::size_t len = DecodeAt(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  char32_t cp;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const std::size_t ascii = AsciiRunEnd(text, i);
    if (ascii > i) {
      count += ascii - i - 1;  // the loop counts the last one
      i = ascii;
      continue;
    }
    const std::size_t len = DecodeAt(text, i, cp);
    i += len == 0 ? 1 : len;
  }
  return count;
}

std::string Utf8Substr(std::string_view text, std::size_t start, std::size_t count) {
  std::size_t i = 0;
  std::size_t index = 0;
  char32_t cp;
  auto step = [&]() {
    std::size_t len = DecodeAt(text, i, cp);
    i += len == 0 ? 1 : len;
    ++index;
  };
  while (i < text.size() && index < start) step();
  std::size_t begin = i;
  while (i < text.size() && (count == std::string::npos || index - start < count)) step();
  return std::string(text.substr(begin, i - begin));
}

namespace {

// Whether `head`, the start of a longer text, is UTF-8 but for a sequence cut at its end.
bool Utf8Start(std::string_view head, bool cutShort) {
  if (IsValidUtf8(head)) return true;
  for (std::size_t drop = 1; cutShort && drop <= 3 && drop < head.size(); ++drop) {
    if (IsValidUtf8(head.substr(0, head.size() - drop))) return true;
  }
  return false;
}

}  // namespace

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else if (const std::size_t n = DecodeAt(text, i, cp); n == 0) {
          out += "\\ufffd";  // not UTF-8: the line stays valid JSON
        } else {
          out.append(text.substr(i, n));
          i += n;
          continue;
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string QuoteForMessage(std::string_view text, std::size_t limit) {
  // Only the start is read: a value of megabytes costs what a short one does.
  const std::string_view head = text.substr(0, limit * 4 + 4);
  const bool cutShort = head.size() < text.size();
  const std::string source = Utf8Start(head, cutShort) ? std::string(head) : Cp1252ToUtf8(head);
  std::string out;
  bool space = false;
  bool cut = cutShort;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(source[i]);
    if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (c < 0x20 || c == 0x7f) continue;
    if (out.size() + (space ? 1 : 0) >= limit) {
      cut = true;
      break;
    }
    if (space) out += ' ';
    space = false;
    out += static_cast<char>(c);
  }
  // The last character may have been cut in the middle.
  std::size_t lead = out.size();
  while (lead > 0 && (static_cast<unsigned char>(out[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0) {
    const unsigned char b = static_cast<unsigned char>(out[lead - 1]);
    const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (out.size() - (lead - 1) < length) {
      out.resize(lead - 1);
      cut = true;
    }
  }
  if (cut) out += "...";
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);  // 0xA0-0xFF are the Latin-1 code points of the same number
    }
  }
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t n = needle.size();
  if (n == 0 || from > text.size() || text.size() - from < n) return std::string_view::npos;
  // Horspool: after a mismatch the window moves by how far the character under its last
  // position lies from the needle's end, so most bytes of the text are never read.
  std::size_t skip[256];
  std::fill(std::begin(skip), std::end(skip), n);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const char c = AsciiLower(needle[i]);
    skip[static_cast<unsigned char>(c)] = n - 1 - i;
    skip[static_cast<unsigned char>(AsciiUpper(c))] = n - 1 - i;
  }
  for (std::size_t at = from; at + n <= text.size();
       at += skip[static_cast<unsigned char>(text[at + n - 1])]) {
    std::size_t i = n;
    while (i > 0 && AsciiLower(text[at + i - 1]) == AsciiLower(needle[i - 1])) --i;
    if (i == 0) return at;
  }
  return std::string_view::npos;
}

std::size_t FindFirst(std::string_view text, std::string_view needle, std::size_t from) {
  const std::size_t n = needle.size();
  if (n == 0 || from > text.size() || text.size() - from < n) return std::string_view::npos;
  // Two bytes or fewer: the first byte's search is the faster one.
  if (n <= 2) return text.find(needle, from);
  const void* found = ::memmem(text.data() + from, text.size() - from, needle.data(), n);
  return found == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

std::size_t FindLast(std::string_view text, std::string_view needle) {
  const std::size_t n = needle.size();
  if (n == 0 || n > text.size()) return std::string_view::npos;
  // The needle's first byte is looked for from the end, in the positions where it could start.
  for (std::size_t limit = text.size() - n + 1; limit > 0;) {
    const void* found = ::memrchr(text.data(), needle[0], limit);
    if (found == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    if (text.compare(at, n, needle) == 0) return at;
    limit = at;
  }
  return std::string_view::npos;
}

std::string_view TrimView(std::string_view text) {
  // Spaces and control characters, as the component's trimming of typed values removes them.
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

bool StartsText(std::string_view prefix, std::string_view text) {
  return prefix.size() <= text.size() && SameText(prefix, text.substr(0, prefix.size()));
}

bool EndsText(std::string_view suffix, std::string_view text) {
  return suffix.size() <= text.size() && SameText(suffix, text.substr(text.size() - suffix.size()));
}

std::string RemoveAccents(std::string_view text) {
  return ReplaceAccents(text, [](char32_t) { return true; });
}

namespace {

// The code points of a UTF-8 text; bytes that are not UTF-8 are skipped.
std::unordered_set<char32_t> CodePoints(std::string_view text) {
  std::unordered_set<char32_t> points;
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = DecodeAt(text, i, cp);
    if (len != 0) points.insert(cp);
    i += len == 0 ? 1 : len;
  }
  return points;
}

}  // namespace

std::string DynamicRemoveAccents(std::string_view text, std::string_view characters) {
  // Only a character outside ASCII is looked up: the set is made for the first one.
  std::optional<std::unordered_set<char32_t>> chosen;
  return ReplaceAccents(text, [&](char32_t c) {
    if (!chosen) chosen = CodePoints(characters);
    return chosen->count(c) != 0;
  });
}

std::string Czro(std::string_view value, std::size_t width) {
  std::size_t len = Utf8Length(value);
  if (len >= width) return std::string(value);
  return std::string(width - len, '0') + std::string(value);
}

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool ValidateCNPJ(std::string_view cnpj) {
  if (cnpj.size() != 14 || !IsNumber(cnpj) || AllSame(cnpj)) return false;
  static constexpr int kFirst[12] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  static constexpr int kSecond[13] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  return CheckDigit(cnpj.substr(0, 12), kFirst) == Digit(cnpj[12]) &&
         CheckDigit(cnpj.substr(0, 13), kSecond) == Digit(cnpj[13]);
}

bool ValidateCPF(std::string_view cpf) {
  if (cpf.size() != 11 || !IsNumber(cpf) || AllSame(cpf)) return false;
  static constexpr int kFirst[9] = {10, 9, 8, 7, 6, 5, 4, 3, 2};
  static constexpr int kSecond[10] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
  return CheckDigit(cpf.substr(0, 9), kFirst) == Digit(cpf[9]) &&
         CheckDigit(cpf.substr(0, 10), kSecond) == Digit(cpf[10]);
}

bool RegexIsMatch(const std::string& text, const std::string& pattern) {
  return Search(text, pattern, false, nullptr);
}

bool RegexIsMatchInsensitive(const std::string& text, const std::string& pattern) {
  return Search(text, pattern, true, nullptr);
}

std::string RegexMatch(const std::string& text, const std::string& pattern) {
  std::string match;
  Search(text, pattern, false, &match);
  return match;
}

std::string RegexMatchInsensitive(const std::string& text, const std::string& pattern) {
  std::string match;
  Search(text, pattern, true, &match);
  return match;
}

std::vector<std::string> WrapText(std::string_view original, std::size_t width) {
  std::string text(original);
  ReplaceAll(text, "\r\n", "\n");
  std::replace(text.begin(), text.end(), '\r', '\n');
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string paragraph = text.substr(start, end - start);
    start = end + 1;
    std::string line;
    std::size_t lineLength = 0;
    std::size_t wordStart = 0;
    while (wordStart <= paragraph.size()) {
      std::size_t wordEnd = paragraph.find(' ', wordStart);
      if (wordEnd == std::string::npos) wordEnd = paragraph.size();
      std::string word = paragraph.substr(wordStart, wordEnd - wordStart);
      wordStart = wordEnd + 1;
      if (word.empty()) continue;
      std::size_t length = Utf8Length(word);
      if (lineLength > 0 && lineLength + 1 + length <= width) {
        line += ' ' + word;
        lineLength += 1 + length;
        continue;
      }
      if (lineLength > 0) lines.push_back(std::move(line));
      // A word longer than the line is broken, never cut.
      while (length > width) {
        lines.push_back(Utf8Substr(word, 0, width));
        word = Utf8Substr(word, width);
        length -= width;
      }
      line = std::move(word);
      lineLength = length;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace qor
