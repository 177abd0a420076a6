// A regular expression of XML Schema (the value of an `xs:pattern` facet), compiled once by
// libxml2 and matched against whole values, as a schema validator matches them: the pattern is
// anchored at both ends and follows the XML Schema syntax, not ECMAScript's.
//
// Thread-safe: a compiled pattern is only read by Matches, so one object may serve every thread.
#pragma once

#include <memory>
#include <string>

namespace qor {

class XsdPattern {
 public:
  // Compiles `pattern`. A pattern libxml2 cannot compile throws EqorGovException naming it.
  explicit XsdPattern(const std::string& pattern);
  ~XsdPattern();
  XsdPattern(const XsdPattern&) = delete;
  XsdPattern& operator=(const XsdPattern&) = delete;

  // Whether the whole of `value` is in the pattern's language (a value holding a NUL never is).
  bool Matches(const std::string& value) const;
  const std::string& Pattern() const { return pattern_; }
  // Whether Matches runs on the automaton built here rather than on libxml2's matcher (a
  // pattern of ASCII literals and ranges, groups, alternatives and quantifiers).
  bool Fast() const;

 private:
  struct Compiled;
  std::string pattern_;
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace qor
