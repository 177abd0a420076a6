// The outside tools the tests prove behaviour with (xmllint, the official XSD package), and the
// guard a test puts first when it needs one of them.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qor::test {

// Whether xmllint runs from PATH (checked once per program).
bool HaveXmllint();

// The official XSD package folder (layout 4.00), or empty when it lacks consStatServ_v4.00.xsd.
// QORNFCE_ESQUEMAS in the environment overrides the folder the build was configured with.
std::string SchemasFolder();

// True when QORNFCE_REQUIRE_TOOLS=1: CI sets it so that a machine without a tool fails the
// tests that need it instead of passing with them skipped.
bool ToolsRequired();

// What a tool says of a document (written to a scratch file): empty when it accepts it, else its
// report. xmllint against `xsd`, a file of the official package or a path; xmlsec1 verifying the
// signature of the NF-e element `element` (infNFe, infEvento) against the authority in `caPem`.
std::string SchemaError(const std::string& xml, const std::string& xsd);
std::string SignatureError(const std::string& xml, const std::string& element,
                           const std::string& caPem);

// The note as the signing step leaves it: inside NFe with the NF-e namespace, followed by a
// signature whose values are placeholders but whose form satisfies the package's xmldsig schema.
std::string NFe(const std::string& nota);

// Whether `tool` runs from PATH.
bool HaveTool(const std::string& tool);
// The texts of the QR codes zbarimg reads in the images `images` (a shell pattern allowed).
std::set<std::string> QrCodes(const std::string& images);
// The same in every page of `pdf`, drawn at 203 dpi by pdftoppm into `scratch` + "-N.png".
std::set<std::string> QrCodesOfPdf(const std::string& pdf, const std::string& scratch);
// The same in a headless chromium's screenshot of the page `html`, saved as `screenshot`.
std::set<std::string> QrCodesOfHtml(const std::string& html, const std::string& screenshot);

// An access key as the DANFCE prints it: groups of four digits separated by blanks.
std::string KeyInGroupsOfFour(const std::string& key);

// Writes `xml` to a new file of the scratch folder and returns its path.
std::string WriteScratch(const std::string& xml);

}  // namespace qor::test

// First statement of a test body or SetUp: skips the test when `present` is false, or fails it
// when the tools are required. Either way the enclosing function returns.
#define QOR_NEEDS(present, what)                                                       \
  do {                                                                                 \
    if (!(present)) {                                                                  \
      if (::qor::test::ToolsRequired())                                                \
        GTEST_FAIL() << what << " is missing and QORNFCE_REQUIRE_TOOLS=1 requires it"; \
      else                                                                             \
        GTEST_SKIP() << what << " is missing";                                         \
    }                                                                                  \
  } while (false)

// The checkers of the DANFCE: poppler-utils, zbar-tools and chromium.
#define QOR_NEEDS_DANFCE_TOOLS()                                                         \
  QOR_NEEDS(::qor::test::HaveTool("pdftotext") && ::qor::test::HaveTool("pdffonts") &&   \
                ::qor::test::HaveTool("pdftoppm") && ::qor::test::HaveTool("zbarimg") && \
                ::qor::test::HaveTool("chromium"),                                       \
            "poppler-utils, zbar-tools or chromium")

#define QOR_NEEDS_XMLLINT() QOR_NEEDS(::qor::test::HaveXmllint(), "xmllint (libxml2-utils)")

// The tests read the package through xmllint as well as in-process, so both must be there.
#define QOR_NEEDS_SCHEMAS()                                                    \
  do {                                                                         \
    QOR_NEEDS_XMLLINT();                                                       \
    QOR_NEEDS(!::qor::test::SchemasFolder().empty(),                           \
              "the official XSD package (the folder QORNFCE_ESQUEMAS names)"); \
  } while (false)
