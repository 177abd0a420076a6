#include "DataArea.h"

#include <vector>

#include "platform/SchemaValidator.h"
#include "platform/Xml.h"

namespace qor::sim {

const Outcome* CheckDataArea(const std::string& data, const std::string& xsdPath) {
  std::vector<std::string> errors;
  if (data.empty() || !SchemaValidator::Validate(data, xsdPath, errors)) return &codes::k215;
  // A prefixed element passes the schema, yet the state services demand the default namespace,
  // because the signature digests are computed over the text as written.
  std::string prefixed;
  if (XPathSelectSingleNode(data, "//*[contains(name(), ':')]", prefixed)) return &codes::k404;
  return nullptr;
}

}  // namespace qor::sim
