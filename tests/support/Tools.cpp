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

std::string WriteScratch(const std::string& xml) {
  static const TempDir* dir = new TempDir();  // lives until the program ends
  static int counter = 0;
  const std::string file = *dir / ("doc" + std::to_string(++counter) + ".xml");
  WriteFile(file, xml);
  return file;
}

namespace {

std::string Report(const std::string& command) {
  std::string out;
  return RunCommand(command, &out) == 0 ? std::string() : out.empty() ? command : out;
}

}  // namespace

std::string SchemaError(const std::string& xml, const std::string& xsd) {
  const std::string path = xsd.find('/') == std::string::npos ? SchemasFolder() + "/" + xsd : xsd;
  return Report("xmllint --noout --nonet --schema '" + path + "' '" + WriteScratch(xml) + "'");
}

std::string SignatureError(const std::string& xml, const std::string& element,
                           const std::string& caPem) {
  return Report("xmlsec1 --verify --id-attr:Id http://www.portalfiscal.inf.br/nfe:" + element +
                " --trusted-pem '" + caPem + "' '" + WriteScratch(xml) + "'");
}

bool ToolsRequired() {
  const char* env = std::getenv("QORNFCE_REQUIRE_TOOLS");
  return env != nullptr && std::string(env) == "1";
}

}  // namespace qor::test
