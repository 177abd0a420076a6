#include "StatusService.h"

#include <ctime>
#include <filesystem>

#include "Codes.h"
#include "DataArea.h"
#include "platform/Xml.h"

namespace qor::sim {

std::string FormatDateTimeBrasilia(std::chrono::system_clock::time_point when) {
  std::time_t t = std::chrono::system_clock::to_time_t(when - std::chrono::hours(3));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S-03:00", &tm);
  return text;
}

ServiceAnswer AnswerStatus(const ServiceRoute& route, const SoapRequest& request,
                           const std::string& schemasFolder,
                           std::chrono::system_clock::time_point now) {
  const std::string layout(route.layout);
  const Outcome* outcome = route.layout == "3.10" ? CheckCabecalho(route, request) : nullptr;
  if (outcome == nullptr) {
    const std::string xsd =
        (std::filesystem::path(schemasFolder) / ("consStatServ_v" + layout + ".xsd")).string();
    outcome = CheckDataArea(request.data, xsd);
    if (outcome == nullptr) outcome = &codes::k107;
  }

  std::string tpAmb = GetValueTag("tpAmb", request.data);
  if (tpAmb != "1" && tpAmb != "2") tpAmb = "2";
  std::string cUF = GetValueTag("cUF", request.data);
  if (!IsStateCode(cUF)) cUF = IsStateCode(request.cabecCUF) ? request.cabecCUF : kFallbackCUF;

  ServiceAnswer answer;
  answer.cUF = cUF;
  answer.xml = "<retConsStatServ versao=\"" + layout +
               "\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><tpAmb>" + tpAmb +
               "</tpAmb><verAplic>" + std::string(kVerAplic) + "</verAplic><cStat>" +
               std::string(outcome->cStat) + "</cStat><xMotivo>" + std::string(outcome->xMotivo) +
               "</xMotivo><cUF>" + cUF + "</cUF><dhRecbto>" + FormatDateTimeBrasilia(now) +
               "</dhRecbto><tMed>1</tMed></retConsStatServ>";
  return answer;
}

}  // namespace qor::sim
