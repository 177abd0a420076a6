// Command-line options of the form "--name value" or "--flag", after the subcommand.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qor::cli {

// Bad usage: reported with exit code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Options {
 public:
  // `valued` lists the options that take a value, `flags` those that do not; anything else
  // starting with "--" is a UsageError. Other words are positional arguments.
  Options(int argc, char** argv, int first, const std::set<std::string>& valued,
          const std::set<std::string>& flags);

  bool Has(const std::string& name) const { return values_.count(name) > 0; }
  std::string Get(const std::string& name, const std::string& fallback = {}) const;
  int GetInt(const std::string& name, int fallback) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
};

}  // namespace qor::cli
