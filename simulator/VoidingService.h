// The voiding services: NFeInutilizacao4 / NfeInutilizacao2 (layouts 4.00 and 3.10), which void
// ranges of numbers an emitter will never use, keeping them in the base of notes.
#pragma once

#include <chrono>

#include "AuthorizationService.h"
#include "NoteStore.h"
#include "Services.h"
#include "Soap.h"
#include "StatusService.h"

namespace qor::sim {

// inutNFe -> retInutNFe (versao of the route's layout), the first failure of:
//   the 3.10 SOAP header (CheckCabecalho);
//   215  inutNFe_v<layout>.xsd (404 for a namespace prefix);
//   297  the signature of infInut (VerifyEnveloped with the certificate in KeyInfo);
//   252  tpAmb is not settings.tpAmbRecepcao (when that is set);
//   226  cUF is not the state the 3.10 header names (the 4.00 services have no header, and the
//        simulator answers every state on one address: there is nothing to compare with);
//   213  the CNPJ base (8 digits) differs from the signer certificate's;
//   454  ano before 06; 453 after the current year (two digits, Brasília time);
//   241  a note of the base (authorised or denied) has a number of the range;
//   256  a number of the range is voided already;
//   102  homologated: recorded (NoteStore::RegistrarInutilizacao) with a new nProt.
// After the schema the answer echoes the range (ano to nNFFin); cUF is the request's (else the
// header's, else 43), tpAmb the request's (else "2"). The answer validates against
// retInutNFe_v<layout>.xsd.
// REQUIRES: calls do not overlap with each other or with the authorisation service.
// Throws EqorGovException when a schema file is missing, std::runtime_error when the base cannot
// write.
ServiceAnswer AnswerVoiding(const ServiceRoute& route, const SoapRequest& request,
                            const AuthorizationSettings& settings, NoteStore& notes,
                            std::chrono::system_clock::time_point now);

}  // namespace qor::sim
