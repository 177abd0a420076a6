#include "platform/Format.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace qor {

namespace {

// Widths and precisions of %s count code points, so that a padded column of accented text lines
// up the same as one of plain ASCII.
std::size_t CodePoints(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string FirstCodePoints(std::string_view s, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (seen == count) return std::string(s.substr(0, i));
      ++seen;
    }
  }
  return std::string(s);
}

std::string DoubleToText(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string FixedToText(double v, int precision) {
  // to_chars is locale-independent: a host that calls setlocale() for a comma decimal separator
  // must not change what goes into XML values and messages.
  std::vector<char> buf(static_cast<std::size_t>(precision) + 400);
  auto res =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, precision);
  if (res.ec != std::errc()) throw std::invalid_argument("Format: value out of range for %f");
  return std::string(buf.data(), res.ptr);
}

struct Directive {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
  char conv = 0;
};

[[noreturn]] void Fail(std::string_view format, const std::string& why) {
  throw std::invalid_argument("Format(\"" + std::string(format) + "\"): " + why);
}

std::string Pad(std::string body, const Directive& directive, bool numeric) {
  if (directive.width < 0) return body;
  std::size_t len = CodePoints(body);
  std::size_t width = static_cast<std::size_t>(directive.width);
  if (len >= width) return body;
  std::size_t fill = width - len;
  if (directive.left) return body + std::string(fill, ' ');
  if (directive.zero && numeric && directive.precision < 0) {
    std::size_t sign = (!body.empty() && (body[0] == '-' || body[0] == '+')) ? 1 : 0;
    return body.substr(0, sign) + std::string(fill, '0') + body.substr(sign);
  }
  return std::string(fill, ' ') + body;
}

std::string Integer(std::int64_t v, const Directive& directive) {
  bool negative = v < 0;
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  std::string digits = std::to_string(magnitude);
  if (directive.precision > 0 && digits.size() < static_cast<std::size_t>(directive.precision)) {
    digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
  }
  return negative ? "-" + digits : digits;
}

std::string Hex(std::int64_t v, const Directive& directive) {
  // A negative value prints as its two's complement in the smallest of 32 or 64 bits that holds
  // it, as a register dump would show it.
  std::uint64_t bits = static_cast<std::uint64_t>(v);
  if (v < 0 && v >= std::numeric_limits<std::int32_t>::min()) bits &= 0xFFFFFFFFull;
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, bits, 16);
  std::string digits(buf, res.ptr);
  if (directive.conv == 'X') {
    for (char& c : digits) {
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  if (directive.precision > 0 && digits.size() < static_cast<std::size_t>(directive.precision)) {
    digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
  }
  return digits;
}

}  // namespace

std::string Format(std::string_view format, FormatArgs args) {
  std::vector<const FormatArg*> list;
  list.reserve(args.size());
  std::size_t size = format.size();
  for (const FormatArg& a : args) {
    list.push_back(&a);
    const auto* text = std::get_if<std::string_view>(&a.value());
    size += text != nullptr ? text->size() : 16;
  }

  std::string out;
  out.reserve(size);
  std::size_t next = 0;  // index of the next argument
  std::size_t i = 0;
  auto readNumber = [&](int& target) {
    std::size_t start = i;
    long value = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
      value = value * 10 + (format[i] - '0');
      if (value > 100000) Fail(format, "width or precision too large");
      ++i;
    }
    if (i > start) target = static_cast<int>(value);
    return i > start;
  };
  auto takeArg = [&]() -> const FormatArg& {
    if (next >= list.size()) Fail(format, "placeholder without an argument");
    return *list[next++];
  };
  auto takeInt = [&]() -> int {
    const auto& v = takeArg().value();
    if (!std::holds_alternative<std::int64_t>(v)) Fail(format, "'*' needs an integer argument");
    return static_cast<int>(std::get<std::int64_t>(v));
  };

  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      std::size_t pct = format.find('%', i);
      if (pct == std::string_view::npos) pct = format.size();
      out.append(format.substr(i, pct - i));
      i = pct;
      continue;
    }
    ++i;
    if (i >= format.size()) Fail(format, "'%' at the end of the format");
    if (format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    Directive directive;
    // An explicit argument index ("%1:s") moves the argument cursor, as the original message
    // formats allow; the following placeholders continue from there.
    {
      std::size_t save = i;
      int index = -1;
      if (readNumber(index) && i < format.size() && format[i] == ':') {
        next = static_cast<std::size_t>(index);
        ++i;
      } else {
        i = save;
      }
    }
    for (; i < format.size(); ++i) {
      if (format[i] == '-') {
        directive.left = true;
      } else if (format[i] == '0') {
        directive.zero = true;
      } else {
        break;
      }
    }
    if (i < format.size() && format[i] == '*') {
      directive.width = takeInt();
      if (directive.width < 0) {
        directive.left = true;
        directive.width = -directive.width;
      }
      ++i;
    } else {
      readNumber(directive.width);
    }
    if (i < format.size() && format[i] == '.') {
      ++i;
      directive.precision = 0;
      if (i < format.size() && format[i] == '*') {
        directive.precision = takeInt();
        ++i;
      } else {
        readNumber(directive.precision);
      }
    }
    if (i >= format.size()) Fail(format, "incomplete placeholder");
    directive.conv = format[i++];

    switch (directive.conv) {
      case 's': {
        const auto& v = takeArg().value();
        const auto* s = std::get_if<std::string_view>(&v);
        if (s != nullptr && directive.width < 0 && directive.precision < 0) {
          out += *s;  // the common case, and the one with large texts: no copy on the way
          break;
        }
        std::string text;
        if (s != nullptr) {
          text = std::string(*s);
        } else if (const auto* n = std::get_if<std::int64_t>(&v)) {
          text = std::to_string(*n);
        } else {
          text = DoubleToText(std::get<double>(v));
        }
        if (directive.precision >= 0)
          text = FirstCodePoints(text, static_cast<std::size_t>(directive.precision));
        out += Pad(std::move(text), directive, false);
        break;
      }
      case 'd':
      case 'u':
      case 'x':
      case 'X': {
        const auto& v = takeArg().value();
        const auto* n = std::get_if<std::int64_t>(&v);
        if (n == nullptr) {
          Fail(format, std::string("%") + directive.conv + " needs an integer argument");
        }
        out += Pad(directive.conv == 'd' || directive.conv == 'u' ? Integer(*n, directive)
                                                                  : Hex(*n, directive),
                   directive, true);
        break;
      }
      case 'f': {
        const auto& v = takeArg().value();
        double d;
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
          d = static_cast<double>(*n);
        } else if (const auto* f = std::get_if<double>(&v)) {
          d = *f;
        } else {
          Fail(format, "%f needs a numeric argument");
        }
        // Two decimals when none are given: the messages' formats were written for a formatter
        // whose %f default is 2, and amounts are what they print.
        out +=
            Pad(FixedToText(d, directive.precision < 0 ? 2 : directive.precision), directive, true);
        break;
      }
      default:
        Fail(format, std::string("unsupported conversion '%") + directive.conv + "'");
    }
  }
  return out;
}

}  // namespace qor
