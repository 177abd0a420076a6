// INI files: "[section]" headers and "key=value" lines, UTF-8. Sections and keys compare
// case-insensitively (ASCII) and keep the case they were first written with. Lines starting
// with ';' or '#' are comments. Booleans are written "1"/"0" and read as true for any non-zero
// integer or "true"; integers that do not parse give the default.
//
// A file-backed object (constructed with a file name) loads the file when it exists and writes
// every change back at once, atomically. An in-memory object (default constructor or FromText)
// never touches the disk.
//
// Not thread-safe per object.
#pragma once

#include <memory>
#include <string>

#include "platform/TStrings.h"

namespace qor {

class TIniFile {
 public:
  TIniFile();  // in memory
  // File-backed. A missing file is an empty INI (created on the first write); an unreadable
  // one throws EqorGovException.
  explicit TIniFile(const std::string& fileName);
  static std::unique_ptr<TIniFile> FromText(const std::string& text);

  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;
  ~TIniFile();

  const std::string& FileName() const;  // empty for an in-memory object

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  void ReadSections(TStrings& sections) const;
  void ReadSection(const std::string& section, TStrings& keys) const;
  void ReadSectionValues(const std::string& section, TStrings& lines) const;  // "key=value"
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

  std::string Text() const;  // the whole content as it would be written
  void UpdateFile();         // writes a file-backed object now (no-op in memory)

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor
