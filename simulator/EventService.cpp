#include "EventService.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "Codes.h"
#include "DataArea.h"
#include "QueryService.h"
#include "XmlSignature.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";

std::string Tag(const std::string& name, const std::string& value) {
  return "<" + name + ">" + Escape(value) + "</" + name + ">";
}

// A field of the event's infEvento, or of its detEvento; empty when absent.
std::string Field(const XmlDocument& evento, const std::string& name, bool detalhe = false) {
  std::string value;
  evento.SelectSingleNode("/*[local-name()='evento']/*[local-name()='infEvento']/" +
                              std::string(detalhe ? "*[local-name()='detEvento']/" : "") +
                              "*[local-name()='" + name + "']",
                          value, {}, false);
  return value;
}

// "YYYY-MM-DDThh:mm:ss±hh:mm" (the protocols' dhRecbto) as a time point; nothing when unreadable.
std::optional<std::chrono::system_clock::time_point> ParseDateTime(const std::string& text) {
  std::tm tm{};
  int offsetHours = 0, offsetMinutes = 0;
  char sign = 0;
  if (text.size() != 25 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &tm.tm_year, &tm.tm_mon,
                  &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &sign, &offsetHours,
                  &offsetMinutes) != 9 ||
      (sign != '-' && sign != '+'))
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const auto offset = std::chrono::minutes(offsetHours * 60 + offsetMinutes);
  const auto local = std::chrono::system_clock::from_time_t(timegm(&tm));
  return sign == '-' ? local + offset : local - offset;
}

// The cancellation's outcome once it passes every rule: 155 when the deadline has passed since
// the note was authorised.
const Outcome& CancellationOutcome(const NotaRegistrada& nota,
                                   const AuthorizationSettings& settings,
                                   std::chrono::system_clock::time_point now) {
  const auto authorised = ParseDateTime(GetValueTag("dhRecbto", nota.protNFe));
  return authorised && now - *authorised >= settings.prazoCancelamento ? codes::k155 : codes::k135;
}

// Judges one event and, when it may be registered, registers it; returns its retEvento.
std::string ProcessEvent(const std::string& eventoXml, bool epec,
                         const AuthorizationSettings& settings, NoteStore& notes,
                         std::chrono::system_clock::time_point now) {
  const XmlDocument evento = XmlDocument::Parse(eventoXml);
  RetEventoCampos ret{Field(evento, "tpAmb"),
                      Field(evento, "cOrgao"),
                      codes::k135,
                      Field(evento, "chNFe"),
                      Field(evento, "tpEvento"),
                      Field(evento, "nSeqEvento"),
                      FormatDateTimeBrasilia(now),
                      {}};
  const std::string& chave = ret.chNFe;
  const std::string nSeq = ret.nSeqEvento.size() == 1 ? "0" + ret.nSeqEvento : ret.nSeqEvento;
  auto reject = [&](const Outcome& outcome) {
    ret.outcome = outcome;
    return BuildRetEvento(ret);
  };

  if (!VerifyEnveloped(eventoXml, "infEvento").empty()) return reject(codes::k297);
  if (!settings.tpAmbRecepcao.empty() && ret.tpAmb != settings.tpAmbRecepcao)
    return reject(codes::k252);
  if (evento.Attribute("infEvento", "Id") != "ID" + ret.tpEvento + chave + nSeq)
    return reject(codes::k572);
  if (!HasValidCheckDigit(chave)) return reject(codes::k236);

  try {
    if (epec) {
      if (notes.BuscarEpec(chave)) return reject(codes::k573);
      return notes.RegistrarEpec(eventoXml).retEvento;
    }
    std::optional<NotaRegistrada> nota = notes.Buscar(chave);
    if (!nota || nota->tpAmb != ret.tpAmb) return reject(codes::k494);
    if (nota->Cancelada()) {
      const XmlDocument prior = XmlDocument::Parse(nota->retEvento);
      const bool same = prior.ValueTag("tpEvento") == ret.tpEvento &&
                        prior.ValueTag("nSeqEvento") == ret.nSeqEvento;
      return reject(same ? codes::k573 : codes::k218);
    }
    if (nota->Denegada()) return reject(codes::k205);
    if (Field(evento, "nProt", true) != nota->nProt) return reject(codes::k222);
    if (ret.tpEvento == "110112") {
      const std::string chaveRef = Field(evento, "chNFeRef", true);
      std::optional<NotaRegistrada> ref = notes.Buscar(chaveRef);
      if (chaveRef == chave || !ref || ref->tpAmb != ret.tpAmb || ref->Denegada() ||
          ref->Cancelada() || chaveRef.compare(6, 14, chave, 6, 14) != 0)
        return reject(codes::k494);
    }
    return notes.RegistrarCancelamento(chave, eventoXml, CancellationOutcome(*nota, settings, now))
        .retEvento;
  } catch (const NoteStoreConflict&) {
    // Only a recording that raced this one (a test seeding the base while it runs) gets here.
    return reject(epec ? codes::k573 : codes::k218);
  }
}

std::string RetEnvEvento(const std::string& idLote, const std::string& tpAmb,
                         const std::string& cOrgao, const Outcome& outcome,
                         const std::string& retEventos = {}) {
  return std::string("<retEnvEvento versao=\"1.00\" xmlns=\"") + kNfeNs + "\">" +
         Tag("idLote", idLote) + Tag("tpAmb", tpAmb) + Tag("verAplic", std::string(kVerAplic)) +
         Tag("cOrgao", cOrgao) + Tag("cStat", std::string(outcome.cStat)) +
         Tag("xMotivo", std::string(outcome.xMotivo)) + retEventos + "</retEnvEvento>";
}

bool IsOrgao(const std::string& code) { return IsStateCode(code) || code == "90" || code == "91"; }

}  // namespace

ServiceAnswer AnswerEvent(const ServiceRoute& route, const SoapRequest& request,
                          const AuthorizationSettings& settings, NoteStore& notes,
                          std::chrono::system_clock::time_point now) {
  const bool epec = route.kind == ServiceKind::Epec;
  const Outcome* refusal = route.layout == "3.10" ? CheckCabecalho(route, request) : nullptr;
  if (refusal == nullptr) {
    const std::string schema = epec ? "eventoEPEC_v1.00.xsd"
                               : GetValueTag("tpEvento", request.data) == "110112"
                                   ? "envEventoCancSubst_v1.00.xsd"
                                   : "envEventoCancNFe_v1.00.xsd";
    refusal = CheckDataArea(request.data,
                            (std::filesystem::path(settings.schemasFolder) / schema).string());
  }

  // Answered for the first event's environment and organ, as far as the data lets them be read.
  std::string tpAmb = GetValueTag("tpAmb", request.data);
  if (tpAmb != "1" && tpAmb != "2") tpAmb = "2";
  std::string cOrgao = GetValueTag("cOrgao", request.data);
  if (!IsOrgao(cOrgao)) cOrgao = IsStateCode(request.cabecCUF) ? request.cabecCUF : "91";
  std::string idLote = GetValueTag("idLote", request.data);
  if (idLote.empty() || idLote.size() > 15 || idLote.find_first_not_of("0123456789") != idLote.npos)
    idLote = "0";

  ServiceAnswer answer;
  answer.cUF = IsStateCode(cOrgao) ? cOrgao : std::string(kFallbackCUF);
  if (refusal != nullptr) {
    answer.xml = RetEnvEvento(idLote, tpAmb, cOrgao, *refusal);
    return answer;
  }
  std::vector<std::string> eventos;
  XmlDocument::Parse(request.data)
      .SelectNodes("/*[local-name()='envEvento']/*[local-name()='evento']", eventos);
  std::string retEventos;
  for (const std::string& evento : eventos)
    retEventos += ProcessEvent(evento, epec, settings, notes, now);
  answer.xml = RetEnvEvento(idLote, tpAmb, cOrgao, codes::k128, retEventos);
  return answer;
}

}  // namespace qor::sim
