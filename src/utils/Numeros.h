// Number helpers of the fiscal utilities: text to integer as the component's checks read it,
// and the tolerant comparison of money totals.
//
// Thread-safe: pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace qor {

// Decimal text to integer: an optional sign followed by decimal digits, nothing else (no blanks,
// no hexadecimal). Anything else, or a value out of range, throws EqorGovException with
// "'<texto>' não é um valor inteiro válido" — the conversion error of the services layer, not
// one of the component's exceptions, because it reports a programming slip or corrupt data
// rather than a rule of the fiscal standard.
int StrToInt(const std::string& text);
std::int64_t StrToInt64(const std::string& text);
// Same, giving `fallback` instead of throwing.
int StrToIntDef(const std::string& text, int fallback);
bool TryStrToInt64(const std::string& text, std::int64_t& value);

// True when reference - tolerance <= value <= reference + tolerance, computed in extended
// precision so that a total that differs by exactly the tolerance is still accepted.
bool CompareComTolerancia(long double value, long double reference, long double tolerance);

}  // namespace qor
