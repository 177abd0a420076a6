// The state's answer to one SOAP request, whoever carries it: the simulator's HTTPS server and
// the fake Integrador's folders both hand the request text here and send back what it returns.
//
// Thread-safety: as the services it calls; batches (notes, events, voidings) are answered under
// `batchMutex`, so their duplicate checks and recordings never interleave.
#pragma once

#include <mutex>
#include <string>

#include "AuthorizationService.h"
#include "Services.h"

namespace qor::sim {

class NoteStore;

struct DispatchContext {
  AuthorizationSettings settings;  // its schemasFolder serves every service
  NoteStore& notes;
  std::mutex& batchMutex;
  bool resultadoEscapado = false;  // the document as the escaped text of the result element
};

// The SOAP reply envelope to `soapText` posted to `route`, with the answer of the route's service.
// Throws SoapFault when the text is not a SOAP 1.2 request for that route.
std::string AnswerSoap(const ServiceRoute& route, const std::string& soapText,
                       const DispatchContext& context);

}  // namespace qor::sim
