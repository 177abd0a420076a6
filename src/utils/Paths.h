// Path helpers of the component: where relative paths are anchored and how the
// manual-version sub-folders are handled. A backslash in a configured path is a separator.
#pragma once

#include <string>

namespace qor {

// Appends "/" to a non-empty path that does not end in a separator.
std::string FixSlash(const std::string& path);
// (ExpandPath and ExpandDataPath, the anchoring of relative paths, are the platform's:
// platform/Files.h and platform/InstallationFolders.h.)
// The executable's folder with a trailing "/"; EqorNFCeDirNotFoundException
// ("Não foi possível encontrar o Diretório Atual: " + folder) when it no longer exists.
std::string GetActualDir(const std::string& logDir = {});
// Removes one trailing manual-version folder ("vm60", "vm50a", "vm50b", "vm50", any case) from
// a folder path; the result ends in a separator.
std::string RemoveVersaoManualDoPath(const std::string& path);

}  // namespace qor
