#include "ServiceDispatch.h"

#include <chrono>

#include "EventService.h"
#include "NoteStore.h"
#include "QueryService.h"
#include "Soap.h"
#include "StatusService.h"
#include "VoidingService.h"
#include "platform/Xml.h"

namespace qor::sim {

std::string AnswerSoap(const ServiceRoute& route, const std::string& soapText,
                       const DispatchContext& context) {
  const SoapRequest soap = ParseSoapRequest(soapText, route);
  const auto now = std::chrono::system_clock::now();
  ServiceAnswer answer;
  ServiceRoute replyRoute = route;
  switch (route.kind) {
    case ServiceKind::Status:
      answer = AnswerStatus(route, soap, context.settings.schemasFolder, now);
      break;
    case ServiceKind::Query:
      answer = AnswerQuery(route, soap, context.settings.schemasFolder, context.notes, now);
      break;
    case ServiceKind::Authorization: {
      {
        std::lock_guard<std::mutex> lock(context.batchMutex);
        answer = AnswerAuthorization(route, soap, context.settings, context.notes, now);
      }
      // The compressed operation has a reply element of its own in the 3.10 WSDL.
      if (soap.compressed) replyRoute.resultElement = route.zipResultElement;
      break;
    }
    case ServiceKind::ReceiptQuery:
      answer = AnswerReceiptQuery(route, soap, context.settings, context.notes, now);
      break;
    case ServiceKind::Event:
    case ServiceKind::Epec:
    case ServiceKind::Voiding: {
      std::lock_guard<std::mutex> lock(context.batchMutex);
      answer = route.kind == ServiceKind::Voiding
                   ? AnswerVoiding(route, soap, context.settings, context.notes, now)
                   : AnswerEvent(route, soap, context.settings, context.notes, now);
      break;
    }
  }
  const bool withHeader = route.layout == "3.10";
  return BuildSoapReply(replyRoute, context.resultadoEscapado ? Escape(answer.xml) : answer.xml,
                        withHeader ? answer.cUF : "");
}

}  // namespace qor::sim
