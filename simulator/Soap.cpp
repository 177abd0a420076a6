#include "Soap.h"

#include <cctype>
#include <exception>
#include <optional>

#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

const char* const kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";
const char* const kEnvelopeClose = "</soap:Envelope>";

std::string Text(const XmlDocument& doc, const std::string& xpath, const XmlNamespaces& ns,
                 bool& found) {
  std::string value;
  found = doc.SelectSingleNode(xpath, value, ns, false);
  return value;
}

}  // namespace

SoapRequest ParseSoapRequest(const std::string& text, const ServiceRoute& route) {
  std::optional<XmlDocument> doc;
  try {
    doc.emplace(XmlDocument::Parse(RemoveBOM(text)));
  } catch (const std::exception& e) {
    throw SoapFault(FaultCode::Sender, std::string("Mensagem SOAP mal formada: ") + e.what());
  }
  if (doc->RootName() != "Envelope" || doc->RootNamespace() != kSoap12Namespace) {
    throw SoapFault(FaultCode::VersionMismatch,
                    "O elemento raiz da mensagem não é o Envelope do SOAP 1.2 (" +
                        doc->RootNamespace() + ":" + doc->RootName() + ").");
  }
  const XmlNamespaces ns{{"s", kSoap12Namespace}, {"w", std::string(route.wsdlNamespace)}};
  std::string ignored;
  if (!doc->SelectSingleNode("/s:Envelope/s:Body", ignored, ns)) {
    throw SoapFault(FaultCode::Sender, "O Envelope SOAP não contém o elemento Body.");
  }

  SoapRequest request;
  std::string message;
  if (doc->SelectSingleNode("/s:Envelope/s:Body/*[1][local-name()='nfeDadosMsg']", ignored, ns))
    message = "nfeDadosMsg";
  else if (!route.zipResultElement.empty() &&
           doc->SelectSingleNode("/s:Envelope/s:Body/*[1][local-name()='nfeDadosMsgZip']", ignored,
                                 ns))
    message = "nfeDadosMsgZip";
  if (!message.empty()) {
    const std::string path = "/s:Envelope/s:Body/w:" + message;
    // A state service dispatches on the qualified name: nfeDadosMsg of another service's
    // namespace is a request this endpoint does not have.
    if (!doc->SelectSingleNode(path, ignored, ns)) {
      throw SoapFault(FaultCode::Sender, "O elemento " + message + " não está no namespace " +
                                             std::string(route.wsdlNamespace) + ".");
    }
    request.compressed = message == "nfeDadosMsgZip";
    if (request.compressed || !doc->SelectSingleNode(path + "/*[1]", request.data, ns)) {
      doc->SelectSingleNode(path, request.data, ns, false);
      request.data = Trim(request.data);
    }
  } else {
    doc->SelectSingleNode("/s:Envelope/s:Body/*[1]", request.data, ns);
  }

  request.hasCabecMsg = doc->SelectSingleNode("/s:Envelope/s:Header/w:nfeCabecMsg", ignored, ns);
  if (request.hasCabecMsg) {
    request.cabecCUF =
        Text(*doc, "/s:Envelope/s:Header/w:nfeCabecMsg/w:cUF", ns, request.hasCabecCUF);
    request.cabecVersaoDados = Text(*doc, "/s:Envelope/s:Header/w:nfeCabecMsg/w:versaoDados", ns,
                                    request.hasCabecVersaoDados);
  }
  return request;
}

std::string BuildSoapReply(const ServiceRoute& route, const std::string& result,
                           const std::string& cabecCUF) {
  const std::string wsdl(route.wsdlNamespace);
  std::string reply = kEnvelopeOpen;
  if (!cabecCUF.empty()) {
    reply += "<soap:Header><nfeCabecMsg xmlns=\"" + wsdl + "\"><cUF>" + Escape(cabecCUF) +
             "</cUF><versaoDados>" + std::string(HeaderVersaoDados(route)) +
             "</versaoDados></nfeCabecMsg></soap:Header>";
  }
  reply += "<soap:Body><" + std::string(route.resultElement) + " xmlns=\"" + wsdl + "\">" + result +
           "</" + std::string(route.resultElement) + "></soap:Body>";
  reply += kEnvelopeClose;
  return reply;
}

std::string BuildSoapFault(FaultCode code, const std::string& reason) {
  std::string reply = kEnvelopeOpen;
  const char* value = "soap:Receiver";
  switch (code) {
    case FaultCode::VersionMismatch:
      value = "soap:VersionMismatch";
      // SOAP 1.2 Messaging Framework, 5.4.7: a VersionMismatch fault tells the sender which
      // envelope the node understands.
      reply +=
          "<soap:Header><soap:Upgrade><soap:SupportedEnvelope qname=\"ns1:Envelope\""
          " xmlns:ns1=\"http://www.w3.org/2003/05/soap-envelope\"/></soap:Upgrade></soap:Header>";
      break;
    case FaultCode::Sender:
      value = "soap:Sender";
      break;
    case FaultCode::Receiver:
      break;
  }
  reply += "<soap:Body><soap:Fault><soap:Code><soap:Value>";
  reply += value;
  reply += "</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"pt-BR\">" + Escape(reason) +
           "</soap:Text></soap:Reason></soap:Fault></soap:Body>";
  reply += kEnvelopeClose;
  return reply;
}

std::string BuildEnvelopeWithoutBody() {
  return std::string(kEnvelopeOpen) + "<soap:Header/>" + kEnvelopeClose;
}

int HttpStatusFor(FaultCode code) { return code == FaultCode::Sender ? 400 : 500; }

bool IsSoap12ContentType(const std::string& contentType) {
  std::string mediaType = contentType.substr(0, contentType.find(';'));
  std::string trimmed;
  for (char c : mediaType) {
    if (!std::isspace(static_cast<unsigned char>(c)))
      trimmed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return trimmed == "application/soap+xml";
}

}  // namespace qor::sim
