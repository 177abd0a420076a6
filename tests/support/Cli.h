// Runs the qornfce command line as a user would, with stdout and stderr kept apart.
#pragma once

#include <string>

#include "support/TempDir.h"

namespace qor::test {

struct CliRun {
  int status;
  std::string out, err;
};

// `qornfce <args>` from the build's bin folder; the outputs pass through files in `dir`.
CliRun Cli(const std::string& args, const TempDir& dir);

}  // namespace qor::test
