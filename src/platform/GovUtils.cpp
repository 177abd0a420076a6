#include "platform/GovUtils.h"

#include <vector>

#include "platform/GovException.h"
#include "platform/SchemaValidator.h"

namespace qor {

namespace {

// Runs one validation, leaving its report in `report`. An invalid document raises: the callers
// rely on the exception, not on the result, to stop a request from being sent.
template <typename Run>
bool Validated(TStrings& report, const std::string& what, Run run) {
  std::vector<std::string> errors;
  report.Clear();
  bool valid;
  try {
    valid = run(errors);
  } catch (const EqorGovException& e) {
    // A missing schema or an unusable schemaLocation: the report says why nothing was checked.
    report.Add(e.what());
    throw;
  }
  TStrings lines;
  for (const std::string& e : errors) lines.Add(e);
  report.AddStrings(lines);
  if (!valid) {
    throw EqorGovException("XML não é válido segundo o esquema " + what + ":\r\n" + lines.Text());
  }
  return true;
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool TqorGovUtils::ValidateSchema(const std::string& xml, const std::string& xsdPath) {
  return Validated(errors_, FileNameOf(xsdPath), [&](std::vector<std::string>& errors) {
    return SchemaValidator::Validate(xml, xsdPath, errors);
  });
}

bool TqorGovUtils::ValidateSchemaByDirectory(const std::string& xml,
                                             const std::vector<std::string>& directories) {
  return Validated(errors_, "indicado no documento", [&](std::vector<std::string>& errors) {
    return SchemaValidator::ValidateByDirectory(xml, directories, errors);
  });
}

}  // namespace qor
