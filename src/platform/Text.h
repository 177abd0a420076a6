// Text helpers of the services utilities. Strings are UTF-8; lengths and positions of user text
// count Unicode code points.
//
// Thread-safe: pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// ---- UTF-8 code points -------------------------------------------------------------------
bool IsValidUtf8(std::string_view text);
// Number of code points of valid UTF-8 text (an invalid byte counts as one).
std::size_t Utf8Length(std::string_view text);
// `text` in lines of at most `width` code points: broken at blanks where it can, inside a word
// longer than a line (never cut); its line breaks (CR LF, CR, LF) are kept, an empty paragraph
// is an empty line.
std::vector<std::string> WrapText(std::string_view text, std::size_t width);
// Code points [start, start+count) of `text`; past the end gives what is there.
std::string Utf8Substr(std::string_view text, std::size_t start,
                       std::size_t count = std::string::npos);
// Appends the UTF-8 bytes of code point `cp` (REQUIRES: a valid code point).
void AppendUtf8(std::string& out, char32_t cp);
// Windows-1252 bytes to UTF-8 (for files that are not valid UTF-8). The five bytes the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same number.
std::string Cp1252ToUtf8(std::string_view bytes);
// Outside text as a message may quote it: on one line (runs of white space become one space,
// other control characters go), at most `limit` bytes cut on a character boundary, "..." when
// cut. Invalid UTF-8 is read as Windows-1252 first, so the quote is always valid UTF-8.
constexpr std::size_t kQuoteLimit = 200;
std::string QuoteForMessage(std::string_view text, std::size_t limit = kQuoteLimit);
// `text` as a JSON string: in double quotes, with '"', '\\', DEL and the control characters
// escaped; UTF-8 passes as it is, and each byte that is not UTF-8 becomes U+FFFD (outside text
// such as a server's reply or a file in another encoding never breaks the document).
std::string JsonString(std::string_view text);

// ---- case and trimming (ASCII letters only; accented letters keep their case) --------------
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
std::string Trim(std::string_view text);
// The same, as a view into `text` (no copy).
std::string_view TrimView(std::string_view text);
bool StartsText(std::string_view prefix, std::string_view text);  // case-insensitive
bool EndsText(std::string_view suffix, std::string_view text);    // case-insensitive
// Position of the first `needle` in `text` at or after `from`, ignoring case; npos when none
// (and for an empty needle).
std::size_t FindText(std::string_view text, std::string_view needle, std::size_t from = 0);
// Position of the first `needle` in `text` at or after `from` (case counts); npos when none, and
// for an empty needle. What std::string::find finds, faster in markup: find stops at every byte
// equal to the needle's first ("<" in a note, hundreds of times), this reads the text once.
std::size_t FindFirst(std::string_view text, std::string_view needle, std::size_t from = 0);
// Position of the last `needle` in `text` (case counts); npos when none, and for an empty needle.
// What std::string::rfind finds, without comparing the needle at every position on the way:
// for a tag near the end of a note, only the "<" after it are tried.
std::size_t FindLast(std::string_view text, std::string_view needle);
inline bool ContainsText(std::string_view text, std::string_view needle) {
  return FindText(text, needle) != std::string_view::npos;
}

// ---- accents ------------------------------------------------------------------------------
// Every occurrence of `from` replaced by `to`, left to right, never rescanning what was put in.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);
// Replaces accented Latin letters by their base letter ("ç" -> "c", "Á" -> "A"), "º" -> "o",
// "ª" -> "a"; every other code point is kept. Covers Latin-1 and Latin Extended-A ("Š", "Ł");
// combining accents (U+0300-U+036F, as in decomposed "e" + U+0301) are dropped. Ligatures and
// letters that are not accented ("æ", "ß", "þ") stay; bytes that are not UTF-8 stay as they are.
std::string RemoveAccents(std::string_view text);
// Same, but only for the code points listed in `characters` (UTF-8); others are kept.
std::string DynamicRemoveAccents(std::string_view text, std::string_view characters);

// ---- numbers and documents ----------------------------------------------------------------
// `value` left-filled with '0' up to `width` code points; longer values are returned unchanged.
std::string Czro(std::string_view value, std::size_t width);
// True when `text` is not empty and holds only the digits 0-9.
bool IsNumber(std::string_view text);
// Check digits of a 14-digit CNPJ / 11-digit CPF; non-digits, wrong length and the repeated
// sequences ("00000000000000", "11111111111"...) are invalid.
bool ValidateCNPJ(std::string_view cnpj);
bool ValidateCPF(std::string_view cpf);

// ---- regular expressions (ECMAScript syntax) -------------------------------------------------
// The match functions search (the pattern may match anywhere in the text). A malformed pattern,
// or one the matcher gives up on as too complex for the text, throws EqorGovException with the
// pattern and the cause.
bool RegexIsMatch(const std::string& text, const std::string& pattern);
bool RegexIsMatchInsensitive(const std::string& text, const std::string& pattern);
// The first match, or empty.
std::string RegexMatch(const std::string& text, const std::string& pattern);
std::string RegexMatchInsensitive(const std::string& text, const std::string& pattern);

}  // namespace qor
