// Options that configure the component, shared by the operations that talk to the state.
#pragma once

#include <set>
#include <string>

#include "Options.h"

namespace qor {
class TqorNFCe;
}

namespace qor::cli {

// Names of the valued options ApplyComponentOptions reads, and of its flags.
const std::set<std::string>& ComponentValuedOptions();
const std::set<std::string>& ComponentFlags();
// Help text of those options.
const char* ComponentOptionsHelp();
// Loads the configuration file (--config, ConfigFile.h) and then sets the component's properties
// from the options given. Relative paths on the command line are relative to the current folder.
void ApplyComponentOptions(const Options& options, TqorNFCe& nfce);
// `path` made absolute from the current folder (empty stays empty).
std::string FromCurrentDir(const std::string& path);
// The bytes of the input file named on the command line, or of standard input for "-". A name
// that is not a readable regular file (missing, a folder) throws a failure naming it: exit 1,
// as every other file that cannot be read, while a missing argument is bad usage (exit 2).
std::string ReadInput(const std::string& name);

}  // namespace qor::cli
