// Checks every state service runs before its own business rules: the 3.10 SOAP header, then on
// the data area (the document inside nfeDadosMsg) the schema and the ban on namespace prefixes.
#pragma once

#include <string>

#include "Codes.h"
#include "Services.h"
#include "Soap.h"

namespace qor::sim {

// Null when `data` is valid against the schema file `xsdPath` and written without namespace
// prefixes; otherwise the rejection (215, 404). Empty data fails the schema. Throws
// EqorGovException when the schema file is missing.
const Outcome* CheckDataArea(const std::string& data, const std::string& xsdPath);

// Null when the nfeCabecMsg of a 3.10 request names a state the service attends and the
// route's layout; otherwise the rejection (242, 409, 410, 411, 238, 239). The 3.10 services read
// these control values before the data area.
const Outcome* CheckCabecalho(const ServiceRoute& route, const SoapRequest& request);

}  // namespace qor::sim
