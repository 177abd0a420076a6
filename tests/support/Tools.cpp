#include "support/Tools.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

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

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v '" + tool + "' >/dev/null") == 0;
}

std::set<std::string> QrCodes(const std::string& images) {
  std::string out;
  // zbarimg may say more than the codes on stdout (D-Bus notices): only its codes count.
  RunCommand("zbarimg --raw -q --nodbus " + images + " 2>/dev/null", &out);
  std::istringstream lines(out);
  std::set<std::string> codes;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("http")) codes.insert(line);
  }
  return codes;
}

std::set<std::string> QrCodesOfPdf(const std::string& pdf, const std::string& scratch) {
  RunCommand("pdftoppm -r 203 -png '" + pdf + "' '" + scratch + "'");
  return QrCodes("'" + scratch + "'-*.png");
}

std::set<std::string> QrCodesOfHtml(const std::string& html, const std::string& screenshot) {
  RunCommand("HOME=" + std::filesystem::path(screenshot).parent_path().string() +
             " chromium --headless --no-sandbox --disable-gpu --window-size=600,3000"
             " --screenshot='" +
             screenshot + "' 'file://" + html + "' >/dev/null 2>&1");
  return QrCodes("'" + screenshot + "'");
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

std::string NFe(const std::string& nota) {
  std::smatch id;
  std::regex_search(nota, id, std::regex("Id=\"(NFe[0-9]{44})\""));
  return "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + nota +
         "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
         "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
         "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
         "<Reference URI=\"#" +
         id.str(1) +
         "\"><Transforms>"
         "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
         "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
         "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>"
         "<DigestValue>2jmj7l5rSw0yVb/vlWAYkK/YBwk=</DigestValue></Reference></SignedInfo>"
         "<SignatureValue>c2lnbmF0dXJl</SignatureValue><KeyInfo><X509Data>"
         "<X509Certificate>Y2VydGlmaWNhdGU=</X509Certificate></X509Data></KeyInfo></Signature>"
         "</NFe>";
}

bool ToolsRequired() {
  const char* env = std::getenv("QORNFCE_REQUIRE_TOOLS");
  return env != nullptr && std::string(env) == "1";
}

std::string KeyInGroupsOfFour(const std::string& key) {
  std::string out;
  for (std::size_t i = 0; i < key.size(); i += 4) out += (i ? " " : "") + key.substr(i, 4);
  return out;
}

}  // namespace qor::test
