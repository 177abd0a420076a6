#include "support/Tools.h"

#include <cstdlib>
#include <filesystem>

#include "support/TempDir.h"

namespace qor::test {

bool HaveXmllint() {
  static const bool have = RunCommand("xmllint --version") == 0;
  return have;
}

std::string SchemasFolder() {
  const char* env = std::getenv("QORNFCE_ESQUEMAS");
  const std::string dir = env != nullptr ? env : QORNFCE_SCHEMAS_DIR;
  if (dir.empty() || !std::filesystem::exists(dir + "/consStatServ_v4.00.xsd")) return {};
  return dir;
}

bool ToolsRequired() {
  const char* env = std::getenv("QORNFCE_REQUIRE_TOOLS");
  return env != nullptr && std::string(env) == "1";
}

}  // namespace qor::test
