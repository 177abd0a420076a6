#include "ConfigFile.h"

#include <cstdio>
#include <iostream>

#include "ComponentOptions.h"
#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "core/ChavesConfiguracao.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/SecretBox.h"

namespace qor::cli {

std::string ConfigFilePath(const Options& options, bool& named) {
  named = options.Has("config");
  if (!named) return GetINIFilePath("");
  const std::string path = FromCurrentDir(options.Get("config"));
  if (DirectoryExists(path)) return IncludeTrailingSlash(path) + RetornaNomeArquivoConfig();
  return path;
}

namespace {

// A warning on standard error when `path` may be read by other users of the machine.
void AvisarSeLegivel(const std::string& path, const char* oQue) {
  const int mode = FileMode(path);
  if (mode < 0 || (mode & 077) == 0) return;
  char modo[16];
  std::snprintf(modo, sizeof modo, "%04o", static_cast<unsigned>(mode & 07777));
  std::cerr << "qornfce: aviso: " << path << " " << oQue
            << " e pode ser lido por outros usuários (modo " << modo << "); use chmod 600\n";
}

// Whether the configuration loaded holds a password, the CSRT, a PIN or a CSC.
bool GuardaSegredos(TqorNFCe& nfce) {
  for (const ChaveConfig& chave : ChavesConfiguracao()) {
    if (ChaveSecreta(chave) && chave.ler != nullptr && !chave.ler(nfce).empty()) return true;
  }
  return false;
}

}  // namespace

void LoadConfigFile(const Options& options, TqorNFCe& nfce) {
  bool named = false;
  const std::string path = ConfigFilePath(options, named);
  if (FileExists(path)) {
    nfce.LoadConfig(path);
    if (GuardaSegredos(nfce)) {
      AvisarSeLegivel(path, "guarda senhas ou chaves");
      AvisarSeLegivel(SecretKeyFilePath(), "é a chave que protege as senhas da configuração");
    }
  } else if (named) {
    // Checked here rather than left to LoadConfig, whose path rule would fall back to the file
    // beside the executable and run from a configuration the user did not name.
    throw EqorConfigINIException("Arquivo %s não foi encontrado", {path},
                                 nfce.GetDiretorioLogErro());
  }
}

}  // namespace qor::cli
