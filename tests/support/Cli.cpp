#include "support/Cli.h"

namespace qor::test {

CliRun Cli(const std::string& args, const TempDir& dir) {
  static const std::string cli = std::string(QORNFCE_BIN_DIR) + "/qornfce";
  CliRun run;
  run.status = RunCommand("(" + cli + " " + args + " >'" + dir / "out.txt" + "' 2>'" +
                          dir / "err.txt" + "')");
  run.out = ReadFile(dir / "out.txt");
  run.err = ReadFile(dir / "err.txt");
  return run;
}

}  // namespace qor::test
