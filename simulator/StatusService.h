// The service-status service (NFeStatusServico4 for layout 4.00, NfeStatusServico2 for 3.10).
#pragma once

#include <chrono>
#include <string>

#include "Services.h"
#include "Soap.h"

namespace qor::sim {

struct ServiceAnswer {
  std::string xml;  // the state's document (here retConsStatServ), without XML declaration
  std::string cUF;  // the cUF it answers for, echoed in the 3.10 reply header
};

// Checks the 3.10 SOAP header (when the route's layout asks for one), then the data area against
// consStatServ_v<layout>.xsd in `schemasFolder` (CheckDataArea), and answers retConsStatServ:
// 107 when everything holds, otherwise the first rejection found. The answer always validates
// against retConsStatServ_v<layout>.xsd: a tpAmb the request does not make readable becomes "2"
// (the simulator is a homologation service) and an unreadable cUF becomes the header's, or 43.
// Throws EqorGovException when the schema file is missing.
ServiceAnswer AnswerStatus(const ServiceRoute& route, const SoapRequest& request,
                           const std::string& schemasFolder,
                           std::chrono::system_clock::time_point now);

// Brasília time (UTC-3, without daylight saving since 2019) in the schemas' TDateTimeUTC form,
// "YYYY-MM-DDThh:mm:ss-03:00".
std::string FormatDateTimeBrasilia(std::chrono::system_clock::time_point when);

}  // namespace qor::sim
