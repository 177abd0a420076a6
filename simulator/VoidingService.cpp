#include "VoidingService.h"

#include <filesystem>

#include "Codes.h"
#include "DataArea.h"
#include "XmlSignature.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

// The first failure of the rules after the schema, or null.
const Outcome* Reject(const SoapRequest& request, const XmlDocument& inut,
                      const AuthorizationSettings& settings, const NoteStore& notes,
                      const std::string& currentYear) {
  const std::string tpAmb = inut.ValueTag("tpAmb"), cnpj = inut.ValueTag("CNPJ");
  if (!VerifyEnveloped(request.data, "infInut").empty()) return &codes::k297;
  if (!settings.tpAmbRecepcao.empty() && tpAmb != settings.tpAmbRecepcao) return &codes::k252;
  if (request.hasCabecCUF && inut.ValueTag("cUF") != request.cabecCUF) return &codes::k226;
  const std::string signer = SignerCnpj(request.data, "infInut");
  if (signer.empty() || signer.compare(0, 8, cnpj, 0, 8) != 0) return &codes::k213;
  const std::string ano = inut.ValueTag("ano");  // two digits: the schema says so
  if (ano < "06") return &codes::k454;
  if (ano > currentYear) return &codes::k453;
  const unsigned long serie = std::stoul(inut.ValueTag("serie"));
  const unsigned long first = std::stoul(inut.ValueTag("nNFIni"));
  const unsigned long last = std::stoul(inut.ValueTag("nNFFin"));
  const std::string mod = inut.ValueTag("mod");
  if (notes.BuscarNumeroUtilizado(tpAmb, cnpj, mod, serie, first, last)) return &codes::k241;
  if (notes.BuscarInutilizacao(tpAmb, cnpj, mod, serie, first, last)) return &codes::k256;
  return nullptr;
}

}  // namespace

ServiceAnswer AnswerVoiding(const ServiceRoute& route, const SoapRequest& request,
                            const AuthorizationSettings& settings, NoteStore& notes,
                            std::chrono::system_clock::time_point now) {
  const std::string versao(route.layout);
  const std::string dhRecbto = FormatDateTimeBrasilia(now);
  const Outcome* outcome = route.layout == "3.10" ? CheckCabecalho(route, request) : nullptr;
  if (outcome == nullptr) {
    const std::filesystem::path xsd =
        std::filesystem::path(settings.schemasFolder) / ("inutNFe_v" + versao + ".xsd");
    outcome = CheckDataArea(request.data, xsd.string());
  }

  // Answered for the request's environment and state, as far as the data lets them be read.
  const std::string tpAmb = GetValueTag("tpAmb", request.data);
  std::string cUF = GetValueTag("cUF", request.data);
  if (!IsStateCode(cUF)) cUF = IsStateCode(request.cabecCUF) ? request.cabecCUF : kFallbackCUF;
  RetInutCampos ret;
  ret.versao = versao;
  ret.tpAmb = tpAmb == "1" ? tpAmb : std::string("2");
  ret.cUF = cUF;
  ret.dhRecbto = dhRecbto;
  ServiceAnswer answer;
  answer.cUF = ret.cUF;
  if (outcome != nullptr) {
    ret.outcome = *outcome;
    answer.xml = BuildRetInutNFe(ret);
    return answer;
  }

  const XmlDocument inut = XmlDocument::Parse(request.data);
  ret.ano = inut.ValueTag("ano");
  ret.CNPJ = inut.ValueTag("CNPJ");
  ret.mod = inut.ValueTag("mod");
  ret.serie = inut.ValueTag("serie");
  ret.nNFIni = inut.ValueTag("nNFIni");
  ret.nNFFin = inut.ValueTag("nNFFin");
  if (const Outcome* rejection = Reject(request, inut, settings, notes, dhRecbto.substr(2, 2))) {
    ret.outcome = *rejection;
    answer.xml = BuildRetInutNFe(ret);
    return answer;
  }
  try {
    answer.xml = notes.RegistrarInutilizacao(request.data).retInutNFe;
  } catch (const NoteStoreConflict& conflict) {
    // Only a recording that raced this one (a test seeding the base while it runs) gets here.
    ret.outcome =
        conflict.reason() == NoteStoreConflict::Reason::NumeroUtilizado ? codes::k241 : codes::k256;
    answer.xml = BuildRetInutNFe(ret);
  }
  return answer;
}

}  // namespace qor::sim
