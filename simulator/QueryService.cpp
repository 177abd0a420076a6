#include "QueryService.h"

#include <filesystem>

#include "Codes.h"
#include "DataArea.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

}  // namespace

bool HasValidCheckDigit(std::string_view chave) {
  if (chave.size() != 44 || !AllDigits(chave)) return false;
  int sum = 0, weight = 2;
  for (size_t i = 43; i-- > 0;) {
    sum += (chave[i] - '0') * weight;
    weight = weight == 9 ? 2 : weight + 1;
  }
  const int remainder = sum % 11;
  const int digit = remainder < 2 ? 0 : 11 - remainder;
  return chave[43] - '0' == digit;
}

ServiceAnswer AnswerQuery(const ServiceRoute& route, const SoapRequest& request,
                          const std::string& schemasFolder, const NoteStore& notes,
                          std::chrono::system_clock::time_point now) {
  const std::string layout(route.layout);
  const Outcome* outcome = route.layout == "3.10" ? CheckCabecalho(route, request) : nullptr;
  if (outcome == nullptr) {
    const std::string xsd =
        (std::filesystem::path(schemasFolder) / ("consSitNFe_v" + layout + ".xsd")).string();
    outcome = CheckDataArea(request.data, xsd);
  }

  std::string tpAmb = GetValueTag("tpAmb", request.data);
  if (tpAmb != "1" && tpAmb != "2") tpAmb = "2";
  std::string chave = GetValueTag("chNFe", request.data);
  if (chave.size() != 44 || !AllDigits(chave)) chave = std::string(44, '0');

  std::optional<NotaRegistrada> nota;
  std::string denialMotivo;
  Outcome denial;  // a denied note is answered with its protocol's own cStat and xMotivo
  if (outcome == nullptr && !HasValidCheckDigit(chave)) outcome = &codes::k236;
  if (outcome == nullptr) {
    nota = notes.Buscar(chave);
    // One simulator serves both environments; a note authorised in one is unknown to the
    // other, as the two bases of a state authority are separate.
    if (nota && nota->tpAmb != tpAmb) nota.reset();
    if (nota && nota->Denegada()) {
      denialMotivo = GetValueTag("xMotivo", nota->protNFe);
      denial = Outcome{nota->cStat, denialMotivo};
      outcome = &denial;
    } else {
      outcome = !nota ? &codes::k217 : nota->Cancelada() ? &codes::k101 : &codes::k100;
    }
  }

  std::string cUF = chave.substr(0, 2);
  if (!IsStateCode(cUF)) cUF = IsStateCode(request.cabecCUF) ? request.cabecCUF : kFallbackCUF;

  ServiceAnswer answer;
  answer.cUF = cUF;
  answer.xml = "<retConsSitNFe versao=\"" + layout +
               "\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><tpAmb>" + tpAmb +
               "</tpAmb><verAplic>" + std::string(kVerAplic) + "</verAplic><cStat>" +
               std::string(outcome->cStat) + "</cStat><xMotivo>" + std::string(outcome->xMotivo) +
               "</xMotivo><cUF>" + cUF + "</cUF><dhRecbto>" + FormatDateTimeBrasilia(now) +
               "</dhRecbto><chNFe>" + chave + "</chNFe>";
  if (nota) answer.xml += nota->protNFe + nota->ProcEventoNFe();
  answer.xml += "</retConsSitNFe>";
  return answer;
}

}  // namespace qor::sim
