// The configuration file (nfceConfig.ini) the subcommands run from.
#pragma once

#include <string>

#include "Options.h"

namespace qor {
class TqorNFCe;
}

namespace qor::cli {

// The file of --config (relative to the current folder; a folder means its nfceConfig.ini), or
// else the component's own: nfceConfig.ini beside the executable. `named` tells which.
std::string ConfigFilePath(const Options& options, bool& named);
// Loads the configuration file into `nfce`. A file named by --config must exist
// (EqorConfigINIException "Arquivo %s não foi encontrado"); when none is named and the default
// one does not exist, `nfce` keeps its defaults. When the file holds secrets, a warning goes to
// standard error if it, or the installation key file, may be read by group or others.
void LoadConfigFile(const Options& options, TqorNFCe& nfce);

}  // namespace qor::cli
