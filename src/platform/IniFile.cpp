#include "platform/IniFile.h"

#include <charconv>
#include <climits>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/GovException.h"

namespace qor {

namespace {

// A line of the file. Pairs are kept parsed; everything else (comments, blank lines, text that
// is neither) is kept as it was read, so rewriting the file changes only what was written.
struct Entry {
  bool pair = false;
  std::string key;
  std::string value;
  std::string raw;
};

struct Section {
  std::string name;  // empty for the lines before the first header
  std::vector<Entry> entries;
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string TrimBlanks(std::string_view text) {
  const char* blanks = " \t";
  std::string_view::size_type first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  std::string_view::size_type last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

bool ParseLong(const std::string& text, long long& out) {
  std::string t = TrimBlanks(text);
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (begin != end && *begin == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, end, out);
  return ec == std::errc() && ptr == end && begin != end;
}

// A number that does not fit gives the default rather than a wrapped value.
bool ParseInt(const std::string& text, int& out) {
  long long value = 0;
  if (!ParseLong(text, value) || value < INT_MIN || value > INT_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

struct TIniFile::Impl {
  std::string fileName;
  std::vector<Section> sections;  // sections[0] is the unnamed preamble

  Impl() { sections.push_back(Section{}); }

  void Parse(std::string_view text) {
    sections.clear();
    sections.push_back(Section{});
    // Every leading mark goes (an editor may add one to a file that had one): a mark left at
    // the start of the first line would hide a header there until the text is written and
    // read again.
    while (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Section* current = &sections.front();
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t eol = text.find_first_of("\r\n", pos);
      std::string_view line = text.substr(pos, eol == std::string_view::npos ? eol : eol - pos);
      if (eol == std::string_view::npos) {
        pos = text.size();
      } else {
        pos = eol + 1;
        if (text[eol] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
      }
      std::string trimmed = TrimBlanks(line);
      if (!trimmed.empty() && trimmed.front() == '[' && trimmed.find(']') != std::string::npos) {
        std::string name =
            TrimBlanks(std::string_view(trimmed).substr(1, trimmed.find_last_of(']') - 1));
        // A repeated header continues the first section of that name, as lookups would.
        current = Find(name);
        if (current == nullptr) {
          sections.push_back(Section{name, {}});
          current = &sections.back();
        }
        continue;
      }
      Entry entry;
      std::string::size_type eq = trimmed.find('=');
      bool comment = trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#';
      if (!comment && eq != std::string::npos && eq > 0 && !current->name.empty()) {
        entry.pair = true;
        entry.key = TrimBlanks(std::string_view(trimmed).substr(0, eq));
        entry.value = TrimBlanks(std::string_view(trimmed).substr(eq + 1));
      } else {
        entry.raw = std::string(line);
      }
      current->entries.push_back(std::move(entry));
    }
  }

  Section* Find(const std::string& name) {
    for (std::size_t i = 1; i < sections.size(); ++i) {
      if (SameName(sections[i].name, name)) return &sections[i];
    }
    return nullptr;
  }
  const Section* Find(const std::string& name) const { return const_cast<Impl*>(this)->Find(name); }

  static Entry* FindKey(Section& section, const std::string& key) {
    for (Entry& e : section.entries) {
      if (e.pair && SameName(e.key, key)) return &e;
    }
    return nullptr;
  }

  const Entry* FindKey(const std::string& section, const std::string& key) const {
    const Section* s = Find(section);
    return s == nullptr ? nullptr : FindKey(const_cast<Section&>(*s), key);
  }

  std::string Text() const {
    std::string out;
    for (const Section& s : sections) {
      // Every section but the preamble has its header, "[]" too: without it, the lines of a
      // section with an empty name would join the section before when the text is read again.
      if (&s != &sections.front()) out += "[" + s.name + "]\n";
      for (const Entry& e : s.entries) out += (e.pair ? e.key + "=" + e.value : e.raw) + "\n";
    }
    return out;
  }

  // Before a write, a file-backed object takes in what another object or process wrote since it
  // was loaded, so that writing one key never reverts the others.
  void Reload() {
    if (!fileName.empty() && FileExists(fileName)) Parse(LoadFromFile(fileName));
  }

  void Save() {
    if (!fileName.empty()) SaveToFile(fileName, Text());
  }

  void Set(const std::string& section, const std::string& key, const std::string& value) {
    // A line break would end the value early and let the rest be read as other keys or sections.
    auto breaks = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
    if (TrimBlanks(section).empty() || breaks(section) || section.find(']') != std::string::npos ||
        TrimBlanks(section) != section) {
      throw EqorGovException("Nome de seção inválido para arquivo INI: \"" + section + "\".");
    }
    if (TrimBlanks(key).empty() || breaks(key) || key.find('=') != std::string::npos ||
        TrimBlanks(key) != key || key.front() == '[' || key.front() == ';' || key.front() == '#') {
      throw EqorGovException("Nome de chave inválido para arquivo INI: \"" + key + "\".");
    }
    if (breaks(value)) {
      throw EqorGovException("O valor da chave \"" + key + "\" da seção \"" + section +
                             "\" contém quebra de linha e não pode ser gravado em arquivo INI.");
    }
    Reload();
    Section* s = Find(section);
    if (s == nullptr) {
      // Keep sections apart with a blank line, as a person editing the file would.
      Section& last = sections.back();
      if (!last.entries.empty() && !(!last.entries.back().pair && last.entries.back().raw.empty()))
        last.entries.push_back(Entry{});
      sections.push_back(Section{section, {}});
      s = &sections.back();
    }
    if (Entry* e = FindKey(*s, key)) {
      e->value = value;
    } else {
      // After the section's last pair, not after the blank line or comment that may introduce the
      // next section.
      std::size_t at = 0;
      for (std::size_t i = 0; i < s->entries.size(); ++i) {
        if (s->entries[i].pair) at = i + 1;
      }
      Entry entry;
      entry.pair = true;
      entry.key = key;
      entry.value = value;
      s->entries.insert(s->entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    }
    Save();
  }
};

TIniFile::TIniFile() : impl_(std::make_unique<Impl>()) {}

TIniFile::TIniFile(const std::string& fileName) : impl_(std::make_unique<Impl>()) {
  impl_->fileName = fileName;
  // Anything at the path that is not a loadable file (a folder, no permission) is an error; only
  // a missing file is an empty INI.
  if (FileExists(fileName) || DirectoryExists(fileName)) impl_->Parse(LoadFromFile(fileName));
}

std::unique_ptr<TIniFile> TIniFile::FromText(const std::string& text) {
  auto ini = std::make_unique<TIniFile>();
  ini->impl_->Parse(text);
  return ini;
}

TIniFile::~TIniFile() = default;

const std::string& TIniFile::FileName() const { return impl_->fileName; }

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const Entry* e = impl_->FindKey(section, key);
  return e == nullptr ? defaultValue : e->value;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
  const Entry* e = impl_->FindKey(section, key);
  int value = 0;
  return (e != nullptr && ParseInt(e->value, value)) ? value : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
  const Entry* e = impl_->FindKey(section, key);
  if (e == nullptr) return defaultValue;
  long long value = 0;
  if (ParseLong(e->value, value)) return value != 0;
  if (SameName(e->value, "true")) return true;
  if (SameName(e->value, "false")) return false;
  return defaultValue;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  impl_->Set(section, key, value);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  impl_->Set(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  impl_->Set(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(const std::string& section) const {
  return impl_->Find(section) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return impl_->FindKey(section, key) != nullptr;
}

void TIniFile::ReadSections(TStrings& sections) const {
  sections.Clear();
  for (std::size_t i = 1; i < impl_->sections.size(); ++i) sections.Add(impl_->sections[i].name);
}

void TIniFile::ReadSection(const std::string& section, TStrings& keys) const {
  keys.Clear();
  if (const Section* s = impl_->Find(section)) {
    for (const Entry& e : s->entries) {
      if (e.pair) keys.Add(e.key);
    }
  }
}

void TIniFile::ReadSectionValues(const std::string& section, TStrings& lines) const {
  lines.Clear();
  if (const Section* s = impl_->Find(section)) {
    for (const Entry& e : s->entries) {
      if (e.pair) lines.Add(e.key + "=" + e.value);
    }
  }
}

void TIniFile::EraseSection(const std::string& section) {
  impl_->Reload();
  for (std::size_t i = 1; i < impl_->sections.size(); ++i) {
    if (SameName(impl_->sections[i].name, section)) {
      impl_->sections.erase(impl_->sections.begin() + static_cast<std::ptrdiff_t>(i));
      // The blank line that kept the erased section apart now only trails the file.
      if (i == impl_->sections.size()) {
        std::vector<Entry>& last = impl_->sections.back().entries;
        while (!last.empty() && !last.back().pair && TrimBlanks(last.back().raw).empty()) {
          last.pop_back();
        }
      }
      impl_->Save();
      return;
    }
  }
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  impl_->Reload();
  Section* s = impl_->Find(section);
  if (s == nullptr) return;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
    if (it->pair && SameName(it->key, key)) {
      s->entries.erase(it);
      impl_->Save();
      return;
    }
  }
}

std::string TIniFile::Text() const { return impl_->Text(); }

void TIniFile::UpdateFile() { impl_->Save(); }

}  // namespace qor
