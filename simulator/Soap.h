// SOAP 1.2 as the state services speak it: reading a request envelope, writing a reply or a
// Fault.
//
// Faults follow the SOAP 1.2 HTTP binding (W3C SOAP 1.2 Adjuncts, 7.5.2): env:Sender answers HTTP
// 400, every other fault code HTTP 500. A request that is not well-formed XML or lacks the
// Body is the sender's fault; a root element other than the SOAP 1.2 Envelope is a
// VersionMismatch, answered with the Upgrade header that names the envelope we support.
#pragma once

#include <stdexcept>
#include <string>

#include "Services.h"

namespace qor::sim {

inline constexpr const char* kSoap12Namespace = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kSoap12ContentType = "application/soap+xml; charset=utf-8";

enum class FaultCode { VersionMismatch, Sender, Receiver };

// A request the simulator refuses at the SOAP level, before any service sees it.
class SoapFault : public std::runtime_error {
 public:
  SoapFault(FaultCode code, const std::string& reason) : std::runtime_error(reason), code_(code) {}
  FaultCode code() const { return code_; }

 private:
  FaultCode code_;
};

struct SoapRequest {
  // Outer XML of the service's data: the first element inside nfeDadosMsg (or, when nfeDadosMsg
  // holds only text, that text: a client may send the document escaped), or the first element
  // of the Body when the client left nfeDadosMsg out. Empty when there is none.
  // With `compressed`, the text of nfeDadosMsgZip as sent (Base64 of the gzip of the document).
  std::string data;
  bool compressed = false;
  // nfeCabecMsg of the SOAP Header (the 3.10 envelopes carry one).
  bool hasCabecMsg = false;
  bool hasCabecCUF = false;
  bool hasCabecVersaoDados = false;
  std::string cabecCUF;
  std::string cabecVersaoDados;
};

// Reads a request posted to `route`. nfeDadosMsgZip is read only for a route that has a
// zipResultElement. Throws SoapFault when the text is not a SOAP 1.2 envelope with a Body, or
// when nfeDadosMsg (nfeDadosMsgZip) is not in the service's WSDL namespace.
SoapRequest ParseSoapRequest(const std::string& text, const ServiceRoute& route);

// The reply envelope: Body > route.resultElement (in the WSDL namespace) > `result`. When
// `cabecCUF` is not empty a Header with nfeCabecMsg (cUF, versaoDados = HeaderVersaoDados) goes
// first, as the 3.10 services answer.
std::string BuildSoapReply(const ServiceRoute& route, const std::string& result,
                           const std::string& cabecCUF = {});

std::string BuildSoapFault(FaultCode code, const std::string& reason);

// An envelope without a Body, for the NoSoapBody fault mode.
std::string BuildEnvelopeWithoutBody();

int HttpStatusFor(FaultCode code);

// True when a Content-Type header names the SOAP 1.2 media type (parameters ignored).
bool IsSoap12ContentType(const std::string& contentType);

}  // namespace qor::sim
