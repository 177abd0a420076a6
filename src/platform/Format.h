// Message formatting with the printf-like patterns the component's messages are written in.
//
// Format("Servidor para %s não definido no arquivo: %s", {key, file}) fills the placeholders in
// order. Supported: %s (any argument as text), %d (integer), %x/%X (hexadecimal), %f and %.Nf
// (fixed point), width and precision as in "%2.2d" (precision on an integer pads with zeros to
// that many digits), the left-justify flag "-", and "%%" for a percent sign. A placeholder
// without an argument, or an argument of the wrong kind for %d, throws std::invalid_argument:
// a wrong message format is a programming error, never user data.
//
// Details: %f without a precision gives 2 decimals (the default of the formatter the messages
// were written for); numbers never follow the C locale's decimal separator ("." always).
// Widths and %.Ns precisions count code points. Also accepted: %u (as %d), the "0" flag
// (zero padding), "*" for a width or precision taken from the next integer argument, and an
// argument index ("%1:s") that moves the argument cursor. Extra arguments are ignored.
//
// Thread-safe: pure function.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace qor {

// One argument of a Format call. A text argument refers to the text it was made from, without
// copying it (a batch of notes is an argument too): it lives for the call only.
class FormatArg {
 public:
  FormatArg(const std::string& s) : value_(std::string_view(s)) {}
  FormatArg(std::string_view s) : value_(s) {}
  FormatArg(const char* s) : value_(std::string_view(s ? s : "")) {}
  FormatArg(int v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned long long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(double v) : value_(v) {}

  const std::variant<std::string_view, std::int64_t, double>& value() const { return value_; }

 private:
  std::variant<std::string_view, std::int64_t, double> value_;
};

using FormatArgs = std::initializer_list<FormatArg>;

std::string Format(std::string_view format, FormatArgs args);

}  // namespace qor
