#include "platform/InstallationFolders.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/GovException.h"

#ifndef QORNFCE_DATADIR
#error "QORNFCE_DATADIR (the installed data folder) is set by the build"
#endif
#ifndef QORNFCE_DATADIR_FROM_LIBDIR
#error "QORNFCE_DATADIR_FROM_LIBDIR (the data folder relative to the library's) is set by the build"
#endif

namespace qor {

namespace {

bool HoldsInstallationData(const std::string& folder) {
  return !folder.empty() && DirectoryExists(IncludeTrailingSlash(folder) + "Templates");
}

std::string FromEnvironment(const EnvironmentReader& env, const char* name) {
  const char* value = env(name);
  if (value == nullptr || *value == '\0') return std::string();
  // A relative folder in the environment is the caller's, relative to its current folder.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(value, ec);
  return IncludeTrailingSlash(ExpandPathFrom(ec ? std::string(value) : absolute.string(), "/"));
}

// The installation's data folder as this library finds it: <dir of the loaded library>/
// <relative path from the library folder to share/qornfce> when that holds templates, else the
// data folder of the prefix the library was built for.
std::string InstalledDataDir() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&InstalledDataDir), &info) != 0 &&
      info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    const std::string beside =
        ExpandPathFrom(QORNFCE_DATADIR_FROM_LIBDIR "/", ExtractFileDir(info.dli_fname));
    if (HoldsInstallationData(beside)) return beside;
  }
  return IncludeTrailingSlash(QORNFCE_DATADIR);
}

}  // namespace

InstallationFolders ResolveInstallationFolders(const std::string& exeDir,
                                               const EnvironmentReader& env,
                                               const std::string& installedData) {
  if (HoldsInstallationData(exeDir)) {
    return {IncludeTrailingSlash(exeDir), IncludeTrailingSlash(exeDir)};
  }
  InstallationFolders folders;
  folders.data = FromEnvironment(env, "QORNFCE_DATA");
  if (folders.data.empty()) folders.data = IncludeTrailingSlash(installedData);
  folders.home = FromEnvironment(env, "QORNFCE_HOME");
  if (folders.home.empty()) {
    std::string base = FromEnvironment(env, "XDG_DATA_HOME");
    if (base.empty()) {
      const std::string home = FromEnvironment(env, "HOME");
      base = (home.empty() ? std::string("/") : home) + ".local/share/";
    }
    folders.home = base + "qornfce/";
  }
  return folders;
}

const InstallationFolders& GetInstallationFolders() {
  static const InstallationFolders folders = [] {
    InstallationFolders resolved =
        ResolveInstallationFolders(ExecutableDir(), &std::getenv, InstalledDataDir());
    if (!ForceDirectories(resolved.home)) {
      throw EqorGovException("Não foi possível criar a pasta de trabalho do componente " +
                             resolved.home + " (QORNFCE_HOME)");
    }
    return resolved;
  }();
  return folders;
}

std::string ExpandDataPath(const std::string& path) { return ExpandPathFrom(path, DataDir()); }

}  // namespace qor
