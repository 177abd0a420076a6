// A list of text lines with "name=value" access: the string list shared by every part of the
// component that keeps lines (the UF code table, certificate names, validator errors, print
// parameters, log listings).
//
// Text() joins the lines with CR LF (no trailing break); SetText() splits on CR LF, LF or CR.
// Names compare case-insensitively (ASCII), as the component's lookups do.
// OnChange, when set, runs after every change of the content (Add, SetText, Clear, Set...).
//
// Not thread-safe: one owner at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qor {

class TStrings {
 public:
  TStrings() = default;

  std::size_t Count() const { return lines_.size(); }
  bool Empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t i) const { return lines_.at(i); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Add(std::string line);
  void Insert(std::size_t index, const std::string& line);
  void Delete(std::size_t index);
  void Clear();
  // Empties the list and hands its lines over (one change).
  std::vector<std::string> TakeLines();
  void AddStrings(const TStrings& other);

  std::string Text() const;
  void SetText(const std::string& text);

  // Index of the first line equal to `line` (case-sensitive), or -1.
  int IndexOf(const std::string& line) const;
  // Index of the first line whose name (text before the first '=') equals `name`, or -1.
  int IndexOfName(const std::string& name) const;
  // Name part and value part of line `i`.
  std::string Names(std::size_t i) const;
  std::string ValueFromIndex(std::size_t i) const;
  // Value of the first line named `name`; empty when absent.
  std::string Values(const std::string& name) const;
  // Replaces the value of the line named `name`, or appends "name=value".
  void SetValue(const std::string& name, const std::string& value);

  std::function<void(const TStrings&)> OnChange;

 private:
  void Changed();
  std::vector<std::string> lines_;
};

}  // namespace qor
