// A fresh folder per test, removed with everything in it when the object goes.
#pragma once

#include <string>

namespace qor::test {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  // The folder with a trailing "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Text of a file (empty when it does not exist).
std::string ReadFile(const std::string& path);
// Writes a file whole (test fixtures only).
void WriteFile(const std::string& path, const std::string& content);
// Runs a shell command; returns its exit status and fills `output` with stdout and stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace qor::test
