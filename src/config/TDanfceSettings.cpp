#include "config/TDanfceSettings.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"

namespace qor {

namespace {

bool IsVersionFolder(const std::string& name) {
  for (const char* version : std::array{"vm50", "vm50a", "vm50b", "vm60"}) {
    if (SameText(name, version)) return true;
  }
  return false;
}

// The name of the entry of `parent` that equals `name` ignoring case, or `lowerCase(name)`.
std::string OnDiskCase(const std::string& parent, const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_directory(parent + name, ec)) return name;
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (SameText(entry, name) && it->is_directory(ec)) return entry;
  }
  return LowerCase(name);
}

}  // namespace

std::string ExpandPathPastaVersao(const std::string& path) {
  const std::string expanded = ExpandDataPath(path);
  std::string result;
  std::size_t start = 0;
  while (start <= expanded.size()) {
    std::size_t end = expanded.find('/', start);
    if (end == std::string::npos) end = expanded.size();
    const std::string part = expanded.substr(start, end - start);
    result += IsVersionFolder(part) ? OnDiskCase(result, part) : part;
    if (end < expanded.size()) result += '/';
    start = end + 1;
  }
  return result;
}

TDanfceSettings::TDanfceSettings()
    : fraseContingencia_("Danfce em contingência - Impresso em decorrência de problemas técnicos"),
      fraseHomologacao_("SEM VALOR FISCAL"),
      lineDelimiter_("|"),
      modeloDanfce_(ExpandPathPastaVersao("Templates\\Vm60\\Danfce\\retrato.rtm")),
      modeloDanfceMensagemEletronica_(modeloDanfce_) {}

}  // namespace qor
