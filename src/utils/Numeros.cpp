#include "utils/Numeros.h"

#include <charconv>
#include <limits>

#include "platform/GovException.h"

namespace qor {

bool TryStrToInt64(const std::string& text, std::int64_t& value) {
  std::size_t digits = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) digits = 1;
  if (digits == text.size()) return false;
  for (std::size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  // from_chars takes a minus sign but not a plus sign.
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  std::int64_t parsed = 0;
  const auto [ptr, ec] = std::from_chars(begin, text.data() + text.size(), parsed, 10);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::int64_t StrToInt64(const std::string& text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value)) {
    throw EqorGovException("'" + text + "' não é um valor inteiro válido");
  }
  return value;
}

int StrToInt(const std::string& text) {
  const std::int64_t value = StrToInt64(text);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    throw EqorGovException("'" + text + "' não é um valor inteiro válido");
  }
  return static_cast<int>(value);
}

int StrToIntDef(const std::string& text, int fallback) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max()) {
    return fallback;
  }
  return static_cast<int>(value);
}

bool CompareComTolerancia(long double value, long double reference, long double tolerance) {
  return reference - tolerance <= value && value <= reference + tolerance;
}

}  // namespace qor
