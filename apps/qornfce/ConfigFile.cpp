#include "ConfigFile.h"

#include "ComponentOptions.h"
#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

std::string ConfigFilePath(const Options& options, bool& named) {
  named = options.Has("config");
  if (!named) return GetINIFilePath("");
  const std::string path = FromCurrentDir(options.Get("config"));
  if (DirectoryExists(path)) return IncludeTrailingSlash(path) + RetornaNomeArquivoConfig();
  return path;
}

void LoadConfigFile(const Options& options, TqorNFCe& nfce) {
  bool named = false;
  const std::string path = ConfigFilePath(options, named);
  if (FileExists(path)) {
    nfce.LoadConfig(path);
  } else if (named) {
    // Checked here rather than left to LoadConfig, whose path rule would fall back to the file
    // beside the executable and run from a configuration the user did not name.
    throw EqorConfigINIException("Arquivo %s não foi encontrado", {path},
                                 nfce.GetDiretorioLogErro());
  }
}

}  // namespace qor::cli
