#include "utils/Textos.h"

#include <cctype>

#include "platform/GovException.h"
#include "platform/Text.h"

namespace qor {

namespace {

// Decodes the code point at `i` of valid UTF-8 and advances `i`; a byte that does not start a
// valid sequence is returned as itself.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t len = b0 < 0x80           ? 1
                    : (b0 >> 5) == 0x6  ? 2
                    : (b0 >> 4) == 0xE  ? 3
                    : (b0 >> 3) == 0x1E ? 4
                                        : 0;
  if (len == 0 || i + len > text.size() || !IsValidUtf8(std::string_view(text).substr(i, len))) {
    ++i;
    return b0;
  }
  char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (std::size_t k = 1; k < len; ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  i += len;
  return cp;
}

// The byte of code page 1252 for `cp`, or '?' when the page has none.
unsigned char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (unsigned b = 0x80; b < 0xA0; ++b) {
    const std::string utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
    std::size_t i = 0;
    if (NextCodePoint(utf8, i) == cp) return static_cast<unsigned char>(b);
  }
  return '?';
}

int HexDigit(char c, const std::string& hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw EqorGovException("'" + hex + "' não é um valor hexadecimal válido");
}

}  // namespace

std::string StrToHex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = ToCp1252(NextCodePoint(text, i));
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0xF]);
  }
  return hex;
}

std::string HexToString(const std::string& hex) {
  if (hex.size() % 2 != 0)
    throw EqorGovException("'" + hex + "' não é um valor hexadecimal válido");
  std::string text;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    AppendUtf8(text, static_cast<char32_t>(HexDigit(hex[i], hex) * 16 + HexDigit(hex[i + 1], hex)));
  }
  return text;
}

std::vector<std::string> SplitString(const std::string& text, const std::string& delimitadores) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t pos =
        delimitadores.empty() ? std::string::npos : text.find_first_of(delimitadores, start);
    pieces.push_back(
        text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) break;
    start = pos + 1;
  }
  return pieces;
}

int TqorStringParse::GetCount() const {
  if (delimiter_.empty()) return 0;
  int count = 0;
  for (std::size_t pos = text_.find(delimiter_); pos != std::string::npos;
       pos = text_.find(delimiter_, pos + delimiter_.size())) {
    ++count;
  }
  return count;
}

void TqorStringParse::SetText(const std::string& text) {
  text_ = text;
  if (!delimiter_.empty() &&
      (text_.size() < delimiter_.size() ||
       text_.compare(text_.size() - delimiter_.size(), delimiter_.size(), delimiter_) != 0)) {
    text_ += delimiter_;
  }
}

std::string TqorStringParse::Parsing(const std::string& text, const std::string& delimiter,
                                     int n) const {
  if (n < 1 || delimiter.empty()) return {};
  std::string rest = text;
  std::string piece;
  for (int i = 1; i <= n; ++i) {
    const std::size_t pos = rest.find(delimiter);
    if (pos == std::string::npos) return {};
    piece = rest.substr(0, pos);
    rest.erase(0, pos + delimiter.size());
  }
  return piece;
}

std::string EscapeCaracteres(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\'') {
      out += "&apos;";
    } else if (c == '"') {
      out += "&quot;";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string ParametroAvancado(std::string_view pares, std::string_view nome) {
  std::size_t inicio = 0;
  while (inicio < pares.size()) {
    std::size_t fim = pares.find(';', inicio);
    if (fim == std::string_view::npos) fim = pares.size();
    const std::string_view par = pares.substr(inicio, fim - inicio);
    inicio = fim + 1;
    const std::size_t igual = par.find('=');
    if (igual != std::string_view::npos && SameText(Trim(par.substr(0, igual)), nome)) {
      return std::string(par.substr(igual + 1));
    }
  }
  return {};
}

std::string SemDeclaracoesXml(std::string_view xml) {
  std::string texto;
  texto.reserve(xml.size());
  std::size_t pos = xml.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (pos < xml.size()) {
    const std::size_t declaracao = xml.find("<?xml", pos);
    if (declaracao == std::string_view::npos) {
      texto.append(xml.substr(pos));
      break;
    }
    texto.append(xml.substr(pos, declaracao - pos));
    const std::size_t fim = xml.find("?>", declaracao);
    pos = fim == std::string_view::npos ? xml.size() : fim + 2;
  }
  return texto;
}

std::string RemoveCDATA(const std::string& text) {
  std::string out = text;
  for (const std::string marker : {"<![CDATA[", "]]>"}) {
    for (std::size_t pos = out.find(marker); pos != std::string::npos;
         pos = out.find(marker, pos)) {
      out.erase(pos, marker.size());
    }
  }
  return out;
}

bool ValidaExisteLink(const std::string& text) {
  return RegexIsMatchInsensitive(
      text, R"((https?://)?[a-z0-9]([a-z0-9-]*[a-z0-9])?(\.[a-z0-9-]+)+(:[0-9]+)?/[^\s]*)");
}

bool ValidaAssinatura(const std::string& xml) {
  // A text search rather than a regular expression: notes are long, and the start tag alone
  // tells. It is "<Signature" or "<prefix:Signature" with a namespace declaration (xmlns or
  // xmlns:prefix) whose value is the XML-DSig namespace.
  static const std::string kDeclaracao = "=\"http://www.w3.org/2000/09/xmldsig#\"";
  const auto nameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  };
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (std::size_t pos = xml.find("Signature"); pos != std::string::npos;
       pos = xml.find("Signature", pos + 1)) {
    std::size_t start = pos;
    if (start > 0 && xml[start - 1] == ':') {
      --start;
      while (start > 0 && nameChar(xml[start - 1])) --start;
    }
    const std::size_t after = pos + 9;
    if (start == 0 || xml[start - 1] != '<' || after >= xml.size() || !blank(xml[after])) continue;
    const std::size_t close = xml.find('>', after);
    if (close == std::string::npos) return false;
    std::string tag;  // the attributes without blanks, single quotes read as double quotes
    for (std::size_t i = after; i < close; ++i) {
      if (!blank(xml[i])) tag.push_back(xml[i] == '\'' ? '"' : xml[i]);
    }
    for (std::size_t at = tag.find(kDeclaracao); at != std::string::npos;
         at = tag.find(kDeclaracao, at + 1)) {
      std::size_t nameStart = at;
      while (nameStart > 0 && tag[nameStart - 1] != '"') --nameStart;
      const std::string attribute = tag.substr(nameStart, at - nameStart);
      if (attribute == "xmlns" || attribute.rfind("xmlns:", 0) == 0) return true;
    }
  }
  return false;
}

std::string EscaparNota(const std::string& nota) {
  std::string out;
  out.reserve(nota.size());
  std::size_t copiado = 0;
  for (std::size_t i = nota.find('&'); i != std::string::npos; i = nota.find('&', i + 1)) {
    out.append(nota, copiado, i - copiado);
    copiado = i + 1;
    std::size_t j = i + 1;
    if (j < nota.size() && nota[j] == '#') ++j;
    const std::size_t nameStart = j;
    while (j < nota.size() && std::isalnum(static_cast<unsigned char>(nota[j]))) ++j;
    const bool reference = j > nameStart && j < nota.size() && nota[j] == ';';
    out += reference ? "&" : "&amp;";
  }
  out.append(nota, copiado, std::string::npos);
  return out;
}

}  // namespace qor
