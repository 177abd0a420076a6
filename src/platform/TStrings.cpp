#include "platform/TStrings.h"

#include <stdexcept>
#include <utility>

namespace qor {

namespace {

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string NameOf(const std::string& line) {
  std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

}  // namespace

void TStrings::Changed() {
  if (OnChange) OnChange(*this);
}

void TStrings::Add(std::string line) {
  lines_.push_back(std::move(line));
  Changed();
}

void TStrings::Insert(std::size_t index, const std::string& line) {
  if (index > lines_.size()) throw std::out_of_range("TStrings::Insert: index out of range");
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), line);
  Changed();
}

void TStrings::Delete(std::size_t index) {
  if (index >= lines_.size()) throw std::out_of_range("TStrings::Delete: index out of range");
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStrings::Clear() {
  lines_.clear();
  Changed();
}

std::vector<std::string> TStrings::TakeLines() {
  std::vector<std::string> lines = std::move(lines_);
  lines_.clear();
  Changed();
  return lines;
}

void TStrings::AddStrings(const TStrings& other) {
  // Copy first: `other` may be this very list.
  std::vector<std::string> copy = other.lines_;
  lines_.insert(lines_.end(), copy.begin(), copy.end());
  Changed();
}

std::string TStrings::Text() const {
  std::string out;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += lines_[i];
  }
  return out;
}

void TStrings::SetText(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      start = i;
    } else {
      ++i;
    }
  }
  // A final line break ends the last line; it does not open an empty one.
  if (start < text.size()) lines.push_back(text.substr(start));
  lines_ = std::move(lines);
  Changed();
}

int TStrings::IndexOf(const std::string& line) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i] == line) return static_cast<int>(i);
  }
  return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::size_t eq = lines_[i].find('=');
    if (eq != std::string::npos && SameAscii(lines_[i].substr(0, eq), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string TStrings::Names(std::size_t i) const { return NameOf(lines_.at(i)); }

std::string TStrings::ValueFromIndex(std::size_t i) const {
  const std::string& line = lines_.at(i);
  std::size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(static_cast<std::size_t>(i));
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (i < 0) {
    lines_.push_back(name + "=" + value);
  } else {
    // Keep the name as it was written; only the value changes.
    std::string& line = lines_[static_cast<std::size_t>(i)];
    line = line.substr(0, line.find('=') + 1) + value;
  }
  Changed();
}

}  // namespace qor
