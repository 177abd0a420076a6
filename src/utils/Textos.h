// Text helpers of the fiscal utilities: hexadecimal forms, splitting, the delimited-list parser,
// and the small tests and rewrites other parts apply to note texts.
//
// Thread-safe: pure functions; a TqorStringParse object is not shared between threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor {

// Each character of `text` as two lower-case hexadecimal digits of its byte in the Windows
// code page 1252 (the single-byte page the fiscal texts were written in); a character that page
// lacks is written as "?" (3f). ASCII text, as in dhEmi and DigestValue, is its own bytes.
std::string StrToHex(const std::string& text);
// Each pair of hexadecimal digits (either case) becomes the character of that code (U+0000 to
// U+00FF, written in UTF-8). A digit that is not hexadecimal, or an odd number of digits, throws
// the services layer's conversion error (EqorGovException).
std::string HexToString(const std::string& hex);

// The pieces of `text` between any of the characters of `delimitadores`: one more piece than
// there are delimiters (empty pieces kept). An empty text gives no piece.
std::vector<std::string> SplitString(const std::string& text, const std::string& delimitadores);

// A delimited list read item by item (items numbered from 1).
class TqorStringParse {
 public:
  TqorStringParse() = default;
  virtual ~TqorStringParse() = default;

  virtual std::string GetDelimiter() const { return delimiter_; }
  virtual std::string GetText() const { return text_; }
  // The number of delimiters in the text, which is the number of items once SetText has closed
  // it with a delimiter.
  virtual int GetCount() const;
  virtual void SetDemiliter(const std::string& delimiter) { delimiter_ = delimiter; }
  // Stores the text, closed with the delimiter when it does not already end with it.
  virtual void SetText(const std::string& text);
  // The `n`-th piece of `text` (from 1): the text before the first delimiter after cutting
  // n - 1 pieces off its front. Past the last delimiter (or for n < 1) the piece is empty.
  virtual std::string Parsing(const std::string& text, const std::string& delimiter, int n) const;
  virtual std::string GetItem(int n) const { return Parsing(text_, delimiter_, n); }

 private:
  std::string delimiter_ = ";";
  std::string text_;
};

// The value, as written, of the first pair `nome` of ";"-separated "name=value" pairs (the
// DANFCE's ParamsAvancados); names compare ignoring case and surrounding blanks. Empty when
// absent.
std::string ParametroAvancado(std::string_view pares, std::string_view nome);

// The text without its byte-order mark and without any XML declaration ("<?xml ... ?>"), so that
// several documents (a batch, a note and its cancellation) can stand under one root element.
std::string SemDeclaracoesXml(std::string_view xml);

// "'" as "&apos;" and '"' as "&quot;" (the rest is left as it is).
std::string EscapeCaracteres(const std::string& text);
// The text without any "<![CDATA[" and "]]>" markers.
std::string RemoveCDATA(const std::string& text);
// Whether the text holds a web address: an optional http(s) scheme, a host name with at least
// one dot, and a path.
bool ValidaExisteLink(const std::string& text);
// Whether the text holds an XML-DSig Signature element with its namespace declaration.
bool ValidaAssinatura(const std::string& xml);

// A "&" that does not start an entity or character reference written as "&amp;". A note or
// event is XML text already: escaping its markup would leave nothing to sign, so what the escape
// step guards against is a stray ampersand in a value, which would make the text unreadable.
std::string EscaparNota(const std::string& nota);

}  // namespace qor
