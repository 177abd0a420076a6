// The note-situation query (NFeConsultaProtocolo4 for layout 4.00, NfeConsulta2 for 3.10),
// answered from the simulator's base of notes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "NoteStore.h"
#include "Services.h"
#include "Soap.h"
#include "StatusService.h"

namespace qor::sim {

// Checks the 3.10 SOAP header (when the route's layout asks for one), then the data area against
// consSitNFe_v<layout>.xsd in `schemasFolder` (CheckDataArea), then the key's check digit, and
// answers retConsSitNFe from `notes`:
//   100 with the note's protNFe; 101 with the protNFe and the procEventoNFe of its cancellation;
//   the denial's own cStat (302) with the protNFe of a note whose use was denied;
//   217 for a key the base does not hold in the request's environment; 236 for a wrong check
//   digit; the first rejection of the checks otherwise.
// The answer always validates against retConsSitNFe_v<layout>.xsd: a tpAmb the request does not
// make readable becomes "2", a key that is not 44 digits is answered as 44 zeros (the schema
// demands one), and cUF is the key's UF (else the header's, else 43).
// Throws EqorGovException when the schema file is missing.
ServiceAnswer AnswerQuery(const ServiceRoute& route, const SoapRequest& request,
                          const std::string& schemasFolder, const NoteStore& notes,
                          std::chrono::system_clock::time_point now);

// True when `chave` is 44 digits whose last is the modulo-11 check digit of the other 43
// (weights 2 to 9 from the right; a remainder of 0 or 1 gives 0, else 11 - remainder).
bool HasValidCheckDigit(std::string_view chave);

}  // namespace qor::sim
