#pragma once
// The two roots every relative folder and default file of the component resolves against.
//
// When the executable's folder holds the installation data (a "Templates" folder beside it: the
// build tree, a till's program folder deployed with its data), both roots are that folder, as
// they always were. Otherwise the library was loaded by a program that knows nothing of it
// (python3, a JVM, a host installed elsewhere), and:
//  - read-only data (templates, schema mappings, qrcode.ini, examples) comes from $QORNFCE_DATA,
//    else from the installation's own data folder: <prefix>/share/qornfce/, found beside the
//    loaded library, else the prefix compiled in;
//  - what the component writes (logs, recipient XML, temporary files, the default
//    configuration) goes under $QORNFCE_HOME, else $XDG_DATA_HOME/qornfce/
//    (~/.local/share/qornfce/), which is created; never beside the host's executable or under
//    the prefix.
#include <functional>
#include <string>

namespace qor {

struct InstallationFolders {
  std::string data;  // read-only root, trailing "/"
  std::string home;  // writable root, trailing "/"
};

using EnvironmentReader = std::function<const char*(const char*)>;

// Decides the roots for a process whose executable lies in `exeDir`, with the environment read
// through `env`; `installedData` is the installation's data folder. Creates nothing.
InstallationFolders ResolveInstallationFolders(const std::string& exeDir,
                                               const EnvironmentReader& env,
                                               const std::string& installedData);

// This process's roots, decided once; the writable root is created on first use (an
// EqorGovException names it when it cannot be).
const InstallationFolders& GetInstallationFolders();
inline std::string DataDir() { return GetInstallationFolders().data; }
inline std::string HomeDir() { return GetInstallationFolders().home; }

// A read-only path made absolute against DataDir(), as ExpandPath does against HomeDir().
std::string ExpandDataPath(const std::string& path);

}  // namespace qor
