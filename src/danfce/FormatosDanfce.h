// Display rules of the DANFCE texts: numbers as the printed document shows them in Brazilian
// Portuguese (decimal comma, "." between groups of thousands) and the split of the additional
// information between the main page and its continuation.
//
// The number rules work on text, never through a floating-point value, so no digit is rounded:
// VirgulaDecimal turns the XML's "1234.5" into "1.234,5", and the fixed-decimals forms pad or cut
// what follows the comma.
//
// Thread-safe: pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qor {

// Empty text gives "0,00". Otherwise every "." becomes ","; without a comma the text is returned
// as it is ("15" stays "15"); with one, the digits before the first comma are grouped by
// thousands with "." and the decimals follow unchanged: "1234567.8" gives "1.234.567,8".
std::string VirgulaDecimal(const std::string& valor);
// A flag of the print parameters: "1", "-1" and "true" (any case, blanks around) are true.
bool TextoVerdadeiro(std::string_view texto);
// Exactly two (four) decimals after the comma, padded with zeros or cut (never rounded):
// "1,5" gives "1,50", "2,12345" gives "2,12". A text without a comma after its first character
// (an integral value such as "150") is returned unchanged.
std::string FormataValorDuasCasas(const std::string& valor);
std::string FormataValorQuatroCasas(const std::string& valor);
// The text after the first comma (empty without one).
std::string CopiaValorDecimal(const std::string& valor);
// Whether a digit 1-9 stands at a decimal position (from 1) greater than `casas`.
bool ValorDecimalDiferenteDeZero(const std::string& valor, std::size_t casas);
// Drops the zeros after the last non-zero decimal ("0,0012300" gives "0,00123"); the comma goes
// too when no decimal is left.
std::string RemoveZeroAposUltimoNumeroDecimal(const std::string& valor);

// The heading that opens a non-empty continuation (followed by CR LF).
constexpr const char* kCabecalhoContinuacao = "CONTINUAÇÃO DAS INFORMAÇÕES COMPLEMENTARES";

// Splits the additional information of a note into the part printed on the main page (at most
// `maxRow` lines of at most `maxCol` characters, code points) and the continuation, which,
// when not empty, starts with kCabecalhoContinuacao and CR LF. Lines are joined with CR LF.
// Without `quebrarLinhaAut` the text keeps its own lines, a line longer than `maxCol` being cut
// into pieces of `maxCol`; with it, the text is word-wrapped (RetornarInfCplQuebraLinhaAutomatica).
void SeparaObservacoes(const std::string& texto, int maxCol, int maxRow, bool quebrarLinhaAut,
                       std::string& principal, std::string& continuacao);
// The word-wrap: line breaks and runs of blanks become single blanks; words fill lines shorter
// than `maxCol`; once the main part would pass `maxCol` x `maxRow` characters or `maxRow` lines,
// every later word goes to the continuation (returned without the heading). The words
// "Observações destinadas ao Fisco:" keep a line of their own in either part.
void RetornarInfCplQuebraLinhaAutomatica(int maxCol, int maxRow, const std::string& texto,
                                         std::string& principal, std::string& continuacao);

}  // namespace qor
