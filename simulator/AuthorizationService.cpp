#include "AuthorizationService.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

#include "Codes.h"
#include "DataArea.h"
#include "QueryService.h"
#include "XmlSignature.h"
#include "platform/Crypto.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";

// A verdict whose text may carry the standard's variable part ("[nRec:...]").
struct Verdict {
  std::string cStat, xMotivo;
  Verdict(const Outcome& outcome, const std::string& detail = {})
      : cStat(outcome.cStat), xMotivo(std::string(outcome.xMotivo) + detail) {}
};

std::string Tag(const std::string& name, const std::string& value) {
  return "<" + name + ">" + Escape(value) + "</" + name + ">";
}

std::string Xsd(const std::string& folder, const std::string& name, std::string_view layout) {
  return (std::filesystem::path(folder) / (name + "_v" + std::string(layout) + ".xsd")).string();
}

// tpAmb and cUF of an answer: the request's when it makes them readable, else homologation (the
// simulator is a homologation service) and the header's UF, else the fallback.
std::string AnswerTpAmb(const std::string& tpAmb) {
  return tpAmb == "1" || tpAmb == "2" ? tpAmb : "2";
}
std::string AnswerCUF(const std::string& cUF, const SoapRequest& request) {
  if (IsStateCode(cUF)) return cUF;
  return IsStateCode(request.cabecCUF) ? request.cabecCUF : std::string(kFallbackCUF);
}

// ---- one note ------------------------------------------------------------------------------

// A field of a group of infNFe ("ide", "cUF"); empty when absent.
std::string Field(const XmlDocument& nfe, const std::string& group, const std::string& name) {
  std::string value;
  nfe.SelectSingleNode("/*[local-name()='NFe']/*[local-name()='infNFe']/*[local-name()='" + group +
                           "']/*[local-name()='" + name + "']",
                       value, {}, false);
  return value;
}

std::string ZeroPadded(const std::string& digits, size_t width) {
  return digits.size() >= width ? digits : std::string(width - digits.size(), '0') + digits;
}

// The access key the note's own fields compose: cUF, AAMM of the issue date, the emitter's
// CNPJ (a CPF takes 14 positions with leading zeros), mod, serie, nNF, tpEmis, cNF, cDV.
std::string KeyOfFields(const XmlDocument& nfe) {
  std::string issued = Field(nfe, "ide", "dhEmi");
  if (issued.empty()) issued = Field(nfe, "ide", "dEmi");  // layouts before 3.10
  const std::string aamm = issued.size() >= 7 ? issued.substr(2, 2) + issued.substr(5, 2) : "";
  std::string emitter = Field(nfe, "emit", "CNPJ");
  if (emitter.empty()) emitter = ZeroPadded(Field(nfe, "emit", "CPF"), 14);
  return Field(nfe, "ide", "cUF") + aamm + emitter + Field(nfe, "ide", "mod") +
         ZeroPadded(Field(nfe, "ide", "serie"), 3) + ZeroPadded(Field(nfe, "ide", "nNF"), 9) +
         Field(nfe, "ide", "tpEmis") + ZeroPadded(Field(nfe, "ide", "cNF"), 8) +
         Field(nfe, "ide", "cDV");
}

// The standard's "[nRec:...]" suffix; empty for a note seeded without a batch.
std::string ReceiptDetail(const std::string& nRec, const char* separator = " ") {
  return nRec.empty() ? std::string() : separator + ("[nRec:" + nRec + "]");
}

// The rejection of a note, or nothing when it may be recorded. The order is the standard's:
// the signature, the key, the emitter against the signer, then the base.
std::optional<Verdict> Reject(const std::string& nfeXml, const XmlDocument& nfe,
                              const std::string& chave, const std::string& tpAmb,
                              const AuthorizationSettings& settings, const NoteStore& notes) {
  if (!VerifyEnveloped(nfeXml, "infNFe").empty()) return Verdict(codes::k297);
  if (!settings.caCert.empty() && !VerifyEnveloped(nfeXml, "infNFe", settings.caCert).empty())
    return Verdict(codes::k293);
  if (!HasValidCheckDigit(chave)) return Verdict(codes::k253);
  if (KeyOfFields(nfe) != chave) return Verdict(codes::k502);
  const std::string signer = SignerCnpj(nfeXml, "infNFe");
  const std::string emitter = Field(nfe, "emit", "CNPJ");
  if (signer.empty() || emitter.size() != 14 || signer.compare(0, 8, emitter, 0, 8) != 0)
    return Verdict(codes::k213);
  if (std::optional<NotaRegistrada> prior = notes.Buscar(chave)) {
    return prior->Denegada() ? Verdict(codes::k205, ReceiptDetail(prior->nRec))
                             : Verdict(codes::k204, ReceiptDetail(prior->nRec));
  }
  if (std::optional<NotaRegistrada> other = notes.BuscarMesmoNumero(chave, tpAmb)) {
    return Verdict(codes::k539, " [chNFe: " + other->chave + "]" + ReceiptDetail(other->nRec, ""));
  }
  const unsigned long nNF = std::stoul(chave.substr(25, 9));
  if (notes.BuscarInutilizacao(tpAmb, chave.substr(6, 14), chave.substr(20, 2),
                               std::stoul(chave.substr(22, 3)), nNF, nNF))
    return Verdict(codes::k206);
  return std::nullopt;
}

// The protNFe of a rejected note: no protocol number, nothing recorded.
std::string RejectionProtNFe(const std::string& versao, const std::string& tpAmb,
                             const std::string& chave, const std::string& dhRecbto,
                             const Verdict& verdict) {
  return "<protNFe versao=\"" + Escape(versao) + "\" xmlns=\"" + kNfeNs + "\"><infProt>" +
         Tag("tpAmb", tpAmb) + Tag("verAplic", std::string(kVerAplic)) + Tag("chNFe", chave) +
         Tag("dhRecbto", dhRecbto) + Tag("cStat", verdict.cStat) + Tag("xMotivo", verdict.xMotivo) +
         "</infProt></protNFe>";
}

// Judges one note of a batch received under `nRec` and returns its protNFe; an authorised or
// denied note is recorded in `notes`.
std::string ProcessNote(const std::string& nfeXml, const std::string& versao,
                        const std::string& nRec, const std::string& dhRecbto,
                        const AuthorizationSettings& settings, NoteStore& notes) {
  const XmlDocument nfe = XmlDocument::Parse(nfeXml);
  const std::string id = nfe.Attribute("infNFe", "Id");  // the schema made it "NFe" + 44 digits
  const std::string chave = id.size() == 47 ? id.substr(3) : std::string(44, '0');
  const std::string tpAmb = AnswerTpAmb(Field(nfe, "ide", "tpAmb"));

  if (std::optional<Verdict> rejection = Reject(nfeXml, nfe, chave, tpAmb, settings, notes))
    return RejectionProtNFe(versao, tpAmb, chave, dhRecbto, *rejection);
  try {
    const std::string cpf = Field(nfe, "dest", "CPF");
    if (!settings.cpfDestinatarioIrregular.empty() && cpf == settings.cpfDestinatarioIrregular)
      return notes.RegistrarDenegacao(chave, tpAmb, nfeXml, codes::k302, nRec).protNFe;
    return notes.RegistrarAutorizacao(chave, tpAmb, nfeXml, nRec).protNFe;
  } catch (const NoteStoreConflict&) {
    // Only a recording that raced this one (the service is serialised; a test seeding the
    // base while it runs) gets here: the key is in the base now.
    std::optional<NotaRegistrada> prior = notes.Buscar(chave);
    return RejectionProtNFe(versao, tpAmb, chave, dhRecbto,
                            prior && prior->Denegada()
                                ? Verdict(codes::k205, ReceiptDetail(prior->nRec))
                                : Verdict(codes::k204, ReceiptDetail(prior ? prior->nRec : "")));
  }
}

// ---- answers -------------------------------------------------------------------------------

std::string RetEnviNFe(const std::string& versao, const std::string& tpAmb, const Verdict& verdict,
                       const std::string& cUF, const std::string& dhRecbto,
                       const std::string& tail = {}) {
  return "<retEnviNFe versao=\"" + versao + "\" xmlns=\"" + kNfeNs + "\">" + Tag("tpAmb", tpAmb) +
         Tag("verAplic", std::string(kVerAplic)) + Tag("cStat", verdict.cStat) +
         Tag("xMotivo", verdict.xMotivo) + Tag("cUF", cUF) + Tag("dhRecbto", dhRecbto) + tail +
         "</retEnviNFe>";
}

std::string RetConsReciNFe(const std::string& versao, const std::string& tpAmb,
                           const std::string& nRec, const Verdict& verdict, const std::string& cUF,
                           const std::string& dhRecbto, const std::string& tail = {}) {
  return "<retConsReciNFe versao=\"" + versao + "\" xmlns=\"" + kNfeNs + "\">" +
         Tag("tpAmb", tpAmb) + Tag("verAplic", std::string(kVerAplic)) + Tag("nRec", nRec) +
         Tag("cStat", verdict.cStat) + Tag("xMotivo", verdict.xMotivo) + Tag("cUF", cUF) +
         Tag("dhRecbto", dhRecbto) + tail + "</retConsReciNFe>";
}

// The average answer time the receipt promises, in whole seconds (TMed: 1 to 4 digits).
std::string AverageSeconds(std::chrono::milliseconds processing) {
  const long long seconds = (processing.count() + 999) / 1000;
  return std::to_string(std::clamp(seconds, 1LL, 9999LL));
}

}  // namespace

ServiceAnswer AnswerAuthorization(const ServiceRoute& route, const SoapRequest& request,
                                  const AuthorizationSettings& settings, NoteStore& notes,
                                  std::chrono::system_clock::time_point now) {
  const std::string versao(route.layout);
  const std::string dhRecbto = FormatDateTimeBrasilia(now);
  std::string data = request.data;

  std::optional<Verdict> refusal;
  if (route.layout == "3.10") {
    if (const Outcome* header = CheckCabecalho(route, request)) refusal.emplace(*header);
  }
  if (!refusal && request.compressed) {
    try {
      data = GUnzipString(DecodeBase64(request.data));
    } catch (const std::exception&) {
      refusal.emplace(codes::k244);
    }
  }
  if (!refusal) {
    if (const Outcome* schema = CheckDataArea(data, Xsd(settings.schemasFolder, "enviNFe", versao)))
      refusal.emplace(schema == &codes::k215 ? codes::k225 : *schema);
  }

  std::vector<std::string> nfes;
  std::string indSinc, cUF, firstTpAmb;
  if (!refusal) {
    const XmlDocument batch = XmlDocument::Parse(data);
    batch.SelectNodes("/*[local-name()='enviNFe']/*[local-name()='NFe']", nfes);
    batch.SelectSingleNode("/*[local-name()='enviNFe']/*[local-name()='indSinc']", indSinc, {},
                           false);
    if (indSinc == "1" && nfes.size() > 1) refusal.emplace(codes::k452);
    cUF = batch.ValueTag("cUF");
    firstTpAmb = batch.ValueTag("tpAmb");
  }
  // Answered for the first note's state and environment, as far as the data lets them be read.
  ServiceAnswer answer;
  if (refusal) {
    answer.cUF = AnswerCUF(GetValueTag("cUF", data), request);
    answer.xml =
        RetEnviNFe(versao, AnswerTpAmb(GetValueTag("tpAmb", data)), *refusal, answer.cUF, dhRecbto);
    return answer;
  }

  answer.cUF = AnswerCUF(cUF, request);
  NoteStore::Lote lote;
  lote.nRec = notes.NovoRecibo(answer.cUF);
  lote.tpAmb = AnswerTpAmb(firstTpAmb);
  lote.cUF = answer.cUF;
  lote.versao = versao;
  lote.dhRecbto = dhRecbto;
  lote.recebidoEm = std::chrono::steady_clock::now();
  for (const std::string& nfe : nfes)
    lote.protNFe.push_back(ProcessNote(nfe, versao, lote.nRec, dhRecbto, settings, notes));
  notes.RegistrarLote(lote);

  answer.xml =
      indSinc == "1"
          ? RetEnviNFe(versao, lote.tpAmb, Verdict(codes::k104), answer.cUF, dhRecbto,
                       lote.protNFe.front())
          : RetEnviNFe(versao, lote.tpAmb, Verdict(codes::k103), answer.cUF, dhRecbto,
                       "<infRec>" + Tag("nRec", lote.nRec) +
                           Tag("tMed", AverageSeconds(settings.tempoProcessamento)) + "</infRec>");
  return answer;
}

ServiceAnswer AnswerReceiptQuery(const ServiceRoute& route, const SoapRequest& request,
                                 const AuthorizationSettings& settings, const NoteStore& notes,
                                 std::chrono::system_clock::time_point now) {
  const std::string versao(route.layout);
  const Outcome* outcome = route.layout == "3.10" ? CheckCabecalho(route, request) : nullptr;
  if (outcome == nullptr)
    outcome = CheckDataArea(request.data, Xsd(settings.schemasFolder, "consReciNFe", versao));

  const std::string tpAmb = AnswerTpAmb(GetValueTag("tpAmb", request.data));
  std::string nRec = GetValueTag("nRec", request.data);
  if (nRec.size() != 15 || nRec.find_first_not_of("0123456789") != std::string::npos)
    nRec = std::string(15, '0');

  std::optional<NoteStore::Lote> lote;
  if (outcome == nullptr) {
    lote = notes.BuscarLote(nRec);
    if (lote && lote->tpAmb != tpAmb) lote.reset();  // the two environments keep apart
    if (!lote) outcome = &codes::k106;
  }

  ServiceAnswer answer;
  answer.cUF = AnswerCUF(lote ? lote->cUF : nRec.substr(0, 2), request);
  if (outcome != nullptr) {
    answer.xml = RetConsReciNFe(versao, tpAmb, nRec, Verdict(*outcome), answer.cUF,
                                FormatDateTimeBrasilia(now));
  } else if (lote->recebidoEm &&
             std::chrono::steady_clock::now() < *lote->recebidoEm + settings.tempoProcessamento) {
    answer.xml = RetConsReciNFe(versao, tpAmb, nRec, Verdict(codes::k105), answer.cUF,
                                FormatDateTimeBrasilia(now));
  } else {
    std::string prots;
    for (const std::string& prot : lote->protNFe) prots += prot;
    answer.xml = RetConsReciNFe(versao, tpAmb, nRec, Verdict(codes::k104), answer.cUF,
                                lote->dhRecbto, prots);
  }
  return answer;
}

}  // namespace qor::sim
