#include "utils/Paths.h"

#include <array>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace qor {

std::string FixSlash(const std::string& path) { return IncludeTrailingSlash(path); }

std::string GetActualDir(const std::string& logDir) {
  const std::string dir = ExecutableDir();
  if (!DirectoryExists(dir)) {
    throw EqorNFCeDirNotFoundException("Não foi possível encontrar o Diretório Atual: " + dir,
                                       logDir);
  }
  return dir;
}

std::string RemoveVersaoManualDoPath(const std::string& path) {
  std::string folder = NativePath(path);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string last = UpperCase(ExtractFileName(folder));
  for (const char* version : std::array{"VM60", "VM50A", "VM50B", "VM50"}) {
    if (last == version) {
      folder.resize(folder.size() - last.size());
      return FixSlash(folder);
    }
  }
  return FixSlash(folder);
}

}  // namespace qor
