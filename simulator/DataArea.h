// Checks every state service runs on the data area (the document inside nfeDadosMsg) before its
// own business rules: the schema, then the ban on namespace prefixes.
#pragma once

#include <string>

#include "Codes.h"

namespace qor::sim {

// Null when `data` is valid against the schema file `xsdPath` and written without namespace
// prefixes; otherwise the rejection (215, 404). Empty data fails the schema. Throws
// EqorGovException when the schema file is missing.
const Outcome* CheckDataArea(const std::string& data, const std::string& xsdPath);

}  // namespace qor::sim
