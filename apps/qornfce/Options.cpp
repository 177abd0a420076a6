#include "Options.h"

namespace qor::cli {

Options::Options(int argc, char** argv, int first, const std::set<std::string>& valued,
                 const std::set<std::string>& flags) {
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      positional_.push_back(word);
      continue;
    }
    const std::string name = word.substr(2);
    if (flags.count(name) > 0) {
      values_[name] = "1";
    } else if (valued.count(name) > 0) {
      if (i + 1 >= argc) throw UsageError("a opção --" + name + " precisa de um valor");
      values_[name] = argv[++i];
    } else {
      throw UsageError("opção desconhecida: " + word);
    }
  }
}

std::string Options::Get(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

int Options::GetInt(const std::string& name, int fallback) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  try {
    std::size_t used = 0;
    const int value = std::stoi(it->second, &used);
    if (used != it->second.size()) throw std::invalid_argument(name);
    return value;
  } catch (const std::logic_error&) {
    throw UsageError("valor inválido para --" + name + ": " + it->second);
  }
}

}  // namespace qor::cli
