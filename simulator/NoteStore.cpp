#include "NoteStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "AtomicFile.h"
#include "Codes.h"
#include "StatusService.h"
#include "XmlSignature.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace {

constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr size_t kKeyLength = 44;
constexpr std::uint64_t kLastSequence = 9999999999ull;           // ten digits
constexpr std::uint64_t kLastReceiptSequence = 999999999999ull;  // twelve digits

bool IsKey(const std::string& text) {
  return text.size() == kKeyLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The element alone: the documents it goes into carry their own declaration.
std::string WithoutDeclaration(const std::string& xml) {
  std::string text = RemoveBOM(xml);
  size_t begin = 0;
  while (begin < text.size() && IsSpace(text[begin])) ++begin;
  if (text.compare(begin, 5, "<?xml") == 0) {
    size_t end = text.find("?>", begin);
    begin = end == std::string::npos ? text.size() : end + 2;
    while (begin < text.size() && IsSpace(text[begin])) ++begin;
  }
  size_t end = text.size();
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

XmlDocument ParseOrReject(const std::string& xml, const std::string& what) {
  try {
    return XmlDocument::Parse(xml);
  } catch (const std::exception& e) {
    throw std::invalid_argument(what + " não é XML bem formado: " + e.what());
  }
}

size_t CodePoints(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Tag(const std::string& name, const std::string& value) {
  return "<" + name + ">" + Escape(value) + "</" + name + ">";
}

std::string Now() { return FormatDateTimeBrasilia(std::chrono::system_clock::now()); }

bool IsReceipt(const std::string& text) {
  return text.size() == 15 && IsKey(text + std::string(kKeyLength - 15, '0'));
}

std::uint64_t ReceiptSequenceOf(const std::string& nRec) { return std::stoull(nRec.substr(3)); }

std::uint64_t SequenceOf(const std::string& nProt, const std::string& file) {
  if (nProt.size() != 15 || !IsKey(nProt + std::string(kKeyLength - 15, '0')))
    throw std::runtime_error("Simulador: base de notas: nProt inválido em " + file);
  return std::stoull(nProt.substr(5));
}

unsigned long Number(const std::string& text, const std::string& what) {
  if (text.empty() || text.size() > 9 || !IsKey(text + std::string(kKeyLength - text.size(), '0')))
    throw std::invalid_argument(what + " inválido: " + text);
  return std::stoul(text);
}

// The voiding the signed request describes; its homologation is added by the caller.
Inutilizacao ReadVoiding(const std::string& inutNFe) {
  XmlDocument doc = ParseOrReject(inutNFe, "o pedido de inutilização");
  if (doc.RootName() != "inutNFe" || doc.CountTag("infInut") != 1)
    throw std::invalid_argument("o documento não é um inutNFe com um infInut");
  Inutilizacao inut;
  const std::string id = doc.Attribute("infInut", "Id");
  inut.id = id.size() == 43 ? id.substr(2) : "";
  if (id.compare(0, 2, "ID") != 0 || !IsKey(inut.id + std::string(kKeyLength - 41, '0')))
    throw std::invalid_argument("Id de inutilização inválido: " + id);
  inut.tpAmb = doc.ValueTag("tpAmb");
  inut.cnpj = doc.ValueTag("CNPJ");
  inut.mod = doc.ValueTag("mod");
  inut.serie = Number(doc.ValueTag("serie"), "serie");
  inut.nNFIni = Number(doc.ValueTag("nNFIni"), "nNFIni");
  inut.nNFFin = Number(doc.ValueTag("nNFFin"), "nNFFin");
  if ((inut.tpAmb != "1" && inut.tpAmb != "2") || inut.cnpj.size() != 14 || inut.mod.empty() ||
      inut.nNFIni > inut.nNFFin)
    throw std::invalid_argument("pedido de inutilização incompleto: " + id);
  inut.inutNFe = inutNFe;
  return inut;
}

}  // namespace

std::string NotaRegistrada::ProcEventoNFe() const {
  if (!Cancelada()) return {};
  return std::string("<procEventoNFe versao=\"1.00\" xmlns=\"") + kNfeNs + "\">" + evento +
         retEvento + "</procEventoNFe>";
}

std::string BuildRetEvento(const RetEventoCampos& c) {
  const bool registered = !c.nProt.empty();
  std::string xEvento = c.tpEvento == "110111"   ? "Cancelamento registrado"
                        : c.tpEvento == "110112" ? "Cancelamento por substituicao registrado"
                                                 : "EPEC registrado";
  auto optional = [](const std::string& name, const std::string& value) {
    return value.empty() ? std::string() : Tag(name, value);
  };
  return std::string("<retEvento versao=\"1.00\" xmlns=\"") + kNfeNs + "\"><infEvento>" +
         Tag("tpAmb", c.tpAmb) + Tag("verAplic", std::string(kVerAplic)) + Tag("cOrgao", c.cOrgao) +
         Tag("cStat", std::string(c.outcome.cStat)) +
         Tag("xMotivo", std::string(c.outcome.xMotivo)) + optional("chNFe", c.chNFe) +
         optional("tpEvento", c.tpEvento) + (registered ? Tag("xEvento", xEvento) : "") +
         // EPEC's schema lets "0" and "01" through; the answer's type does not.
         optional("nSeqEvento", c.nSeqEvento.starts_with('0') ? "" : c.nSeqEvento) +
         Tag("dhRegEvento", c.dhRegEvento) + optional("nProt", c.nProt) +
         "</infEvento></retEvento>";
}

std::string BuildRetInutNFe(const RetInutCampos& c) {
  std::string range;
  if (!c.ano.empty())
    range = Tag("ano", c.ano) + Tag("CNPJ", c.CNPJ) + Tag("mod", c.mod) + Tag("serie", c.serie) +
            Tag("nNFIni", c.nNFIni) + Tag("nNFFin", c.nNFFin);
  return "<retInutNFe versao=\"" + Escape(c.versao) + "\" xmlns=\"" + kNfeNs + "\"><infInut>" +
         Tag("tpAmb", c.tpAmb) + Tag("verAplic", std::string(kVerAplic)) +
         Tag("cStat", std::string(c.outcome.cStat)) +
         Tag("xMotivo", std::string(c.outcome.xMotivo)) + Tag("cUF", c.cUF) + range +
         Tag("dhRecbto", c.dhRecbto) + (c.nProt.empty() ? "" : Tag("nProt", c.nProt)) +
         "</infInut></retInutNFe>";
}

std::string EpecRegistrado::ProcEventoNFe() const {
  return std::string("<procEventoNFe versao=\"1.00\" xmlns=\"") + kNfeNs + "\">" + evento +
         retEvento + "</procEventoNFe>";
}

std::string Inutilizacao::ProcInutNFe() const {
  const std::string versao = XmlDocument::Parse(inutNFe).Attribute("inutNFe", "versao");
  return "<ProcInutNFe versao=\"" + Escape(versao) + "\" xmlns=\"" + kNfeNs + "\">" + inutNFe +
         retInutNFe + "</ProcInutNFe>";
}

NoteStore::NoteStore(std::string folder, std::string keyPem, std::string certPem)
    : folder_(std::move(folder)), keyPem_(std::move(keyPem)), certPem_(std::move(certPem)) {}

std::string NoteStore::NextProtocol(const std::string& cUF) {
  if (sequence_ >= kLastSequence)
    throw std::runtime_error("Simulador: a sequência de protocolos se esgotou");
  ++sequence_;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%010llu", static_cast<unsigned long long>(sequence_));
  return "1" + cUF.substr(0, 2) + Now().substr(2, 2) + digits;
}

void NoteStore::Write(const std::string& name, const std::string& content) const {
  if (folder_.empty()) return;
  if (!ForceDirectories(folder_))
    throw std::runtime_error("Simulador: não foi possível criar a pasta " + folder_);
  WriteFileAtomically((std::filesystem::path(folder_) / name).string(), kDeclaration + content);
}

NotaRegistrada NoteStore::RegistrarAutorizacao(const std::string& chave, const std::string& tpAmb,
                                               const std::string& nfe, const std::string& nRec) {
  return Registrar(chave, tpAmb, nfe, codes::k100, nRec);
}

NotaRegistrada NoteStore::RegistrarDenegacao(const std::string& chave, const std::string& tpAmb,
                                             const std::string& nfe, const Outcome& motivo,
                                             const std::string& nRec) {
  if (motivo.cStat == codes::k100.cStat)
    throw std::invalid_argument("uma denegação não tem o cStat de uma autorização");
  return Registrar(chave, tpAmb, nfe, motivo, nRec);
}

NotaRegistrada NoteStore::Registrar(const std::string& chave, const std::string& tpAmb,
                                    const std::string& nfe, const Outcome& outcome,
                                    const std::string& nRec) {
  if (!IsKey(chave)) throw std::invalid_argument("chave de acesso inválida: " + chave);
  if (tpAmb != "1" && tpAmb != "2") throw std::invalid_argument("tpAmb inválido: " + tpAmb);

  NotaRegistrada nota;
  nota.chave = chave;
  nota.tpAmb = tpAmb;
  nota.cStat = outcome.cStat;
  nota.nRec = nRec;
  nota.nfe = WithoutDeclaration(nfe);
  std::string versao = "4.00";
  std::string digVal;
  if (nota.nfe.empty()) {
    // A seed has no signed note to digest; the key stands in for it, so the value is still
    // the digest of something that identifies the note.
    digVal = HashSha1Base64(chave);
  } else {
    XmlDocument doc = ParseOrReject(nota.nfe, "a NF-e");
    if (doc.RootName() != "NFe" || doc.CountTag("infNFe") != 1)
      throw std::invalid_argument("o documento não é uma NF-e com um infNFe");
    if (doc.Attribute("infNFe", "Id") != "NFe" + chave)
      throw std::invalid_argument("o Id do infNFe não é o da chave " + chave);
    const std::string notaAmb = doc.ValueTag("tpAmb");
    if (!notaAmb.empty() && notaAmb != tpAmb)
      throw std::invalid_argument("a NF-e é do ambiente " + notaAmb + ", não " + tpAmb);
    if (!doc.Attribute("infNFe", "versao").empty()) versao = doc.Attribute("infNFe", "versao");
    digVal = ElementDigest(nota.nfe, "infNFe");
  }

  std::lock_guard<std::mutex> lock(mutex_);
  if (notes_.count(chave) != 0)
    throw NoteStoreConflict(NoteStoreConflict::Reason::JaRegistrada,
                            "a chave " + chave + " já tem autorização");
  nota.nProt = NextProtocol(chave);
  nota.protNFe = "<protNFe versao=\"" + Escape(versao) + "\" xmlns=\"" + kNfeNs + "\"><infProt>" +
                 Tag("tpAmb", tpAmb) + Tag("verAplic", std::string(kVerAplic)) +
                 Tag("chNFe", chave) + Tag("dhRecbto", Now()) + Tag("nProt", nota.nProt) +
                 Tag("digVal", digVal) + Tag("cStat", std::string(outcome.cStat)) +
                 Tag("xMotivo", std::string(outcome.xMotivo)) + "</infProt></protNFe>";
  Write(chave + ".xml", nota.nfe.empty()
                            ? nota.protNFe
                            : "<nfeProc versao=\"" + Escape(versao) + "\" xmlns=\"" + kNfeNs +
                                  "\">" + nota.nfe + nota.protNFe + "</nfeProc>");
  notes_[chave] = nota;
  return nota;
}

NotaRegistrada NoteStore::RegistrarCancelamento(const std::string& chave, const std::string& evento,
                                                const Outcome& outcome) {
  if (outcome.cStat != codes::k135.cStat && outcome.cStat != codes::k155.cStat)
    throw std::invalid_argument("um cancelamento registra-se com 135 ou 155");
  const std::string event = WithoutDeclaration(evento);
  XmlDocument doc = ParseOrReject(event, "o evento");
  if (doc.RootName() != "evento" || doc.CountTag("infEvento") != 1)
    throw std::invalid_argument("o documento não é um evento com um infEvento");
  if (doc.ValueTag("chNFe") != chave)
    throw std::invalid_argument("o evento não é da chave " + chave);
  const std::string tpEvento = doc.ValueTag("tpEvento");
  if (tpEvento != "110111" && tpEvento != "110112")
    throw std::invalid_argument("o evento " + tpEvento + " não é um cancelamento");
  const std::string tpAmb = doc.ValueTag("tpAmb"), cOrgao = doc.ValueTag("cOrgao"),
                    nSeqEvento = doc.ValueTag("nSeqEvento");
  if (tpAmb.empty() || cOrgao.empty() || nSeqEvento.empty())
    throw std::invalid_argument("o evento não tem tpAmb, cOrgao e nSeqEvento");

  std::lock_guard<std::mutex> lock(mutex_);
  auto found = notes_.find(chave);
  if (found == notes_.end())
    throw NoteStoreConflict(NoteStoreConflict::Reason::NaoRegistrada,
                            "a chave " + chave + " não consta da base");
  if (found->second.Denegada())
    throw NoteStoreConflict(NoteStoreConflict::Reason::Denegada,
                            "a NF-e " + chave + " teve o uso denegado");
  if (found->second.Cancelada())
    throw NoteStoreConflict(NoteStoreConflict::Reason::JaCancelada,
                            "a NF-e " + chave + " já está cancelada");
  if (found->second.tpAmb != tpAmb)
    throw std::invalid_argument("o evento é do ambiente " + tpAmb + ", a NF-e do " +
                                found->second.tpAmb);

  NotaRegistrada nota = found->second;
  nota.evento = event;
  nota.retEvento = BuildRetEvento(
      {tpAmb, cOrgao, outcome, chave, tpEvento, nSeqEvento, Now(), NextProtocol(chave)});
  Write(chave + "-canc.xml", nota.ProcEventoNFe());
  found->second = nota;
  return nota;
}

NotaRegistrada NoteStore::RegistrarCancelamentoSemEvento(const std::string& chave,
                                                         const std::string& xJust) {
  const size_t length = CodePoints(xJust);
  if (length < 15 || length > 255)
    throw std::invalid_argument("a justificativa deve ter de 15 a 255 caracteres");
  std::optional<NotaRegistrada> nota = Buscar(chave);
  if (!nota)
    throw NoteStoreConflict(NoteStoreConflict::Reason::NaoRegistrada,
                            "a chave " + chave + " não consta da base");
  if (keyPem_.empty() || certPem_.empty())
    throw std::logic_error("a base de notas não tem certificado para assinar eventos");
  const std::string unsignedEvent =
      std::string("<evento versao=\"1.00\" xmlns=\"") + kNfeNs + "\"><infEvento Id=\"ID110111" +
      chave + "01\">" + Tag("cOrgao", chave.substr(0, 2)) + Tag("tpAmb", nota->tpAmb) +
      Tag("CNPJ", chave.substr(6, 14)) + Tag("chNFe", chave) + Tag("dhEvento", Now()) +
      Tag("tpEvento", "110111") + Tag("nSeqEvento", "1") + Tag("verEvento", "1.00") +
      "<detEvento versao=\"1.00\">" + Tag("descEvento", "Cancelamento") +
      Tag("nProt", nota->nProt) + Tag("xJust", xJust) + "</detEvento></infEvento></evento>";
  return RegistrarCancelamento(chave, SignEnveloped(unsignedEvent, "infEvento", keyPem_, certPem_));
}

EpecRegistrado NoteStore::RegistrarEpec(const std::string& evento) {
  EpecRegistrado epec;
  epec.evento = WithoutDeclaration(evento);
  XmlDocument doc = ParseOrReject(epec.evento, "o evento");
  if (doc.RootName() != "evento" || doc.CountTag("infEvento") != 1 ||
      doc.ValueTag("tpEvento") != "110140")
    throw std::invalid_argument("o documento não é um evento EPEC com um infEvento");
  epec.chave = doc.ValueTag("chNFe");
  epec.tpAmb = doc.ValueTag("tpAmb");
  const std::string cOrgao = doc.ValueTag("cOrgao"), nSeqEvento = doc.ValueTag("nSeqEvento");
  if (!IsKey(epec.chave) || (epec.tpAmb != "1" && epec.tpAmb != "2") || cOrgao.empty() ||
      nSeqEvento.empty())
    throw std::invalid_argument("o evento não tem chNFe, tpAmb, cOrgao e nSeqEvento");

  std::lock_guard<std::mutex> lock(mutex_);
  if (epecs_.count(epec.chave) != 0)
    throw NoteStoreConflict(NoteStoreConflict::Reason::JaInutilizada,
                            "a chave " + epec.chave + " já tem EPEC");
  epec.retEvento = BuildRetEvento({epec.tpAmb, cOrgao, codes::k136, epec.chave, "110140",
                                   nSeqEvento, Now(), NextProtocol(epec.chave)});
  Write(epec.chave + "-epec.xml", epec.ProcEventoNFe());
  epecs_[epec.chave] = epec;
  return epec;
}

std::optional<EpecRegistrado> NoteStore::BuscarEpec(const std::string& chave) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = epecs_.find(chave);
  if (found == epecs_.end()) return std::nullopt;
  return found->second;
}

Inutilizacao NoteStore::RegistrarInutilizacao(const std::string& inutNFe) {
  Inutilizacao inut = ReadVoiding(WithoutDeclaration(inutNFe));
  XmlDocument doc = XmlDocument::Parse(inut.inutNFe);
  const std::string cUF = doc.ValueTag("cUF");

  std::lock_guard<std::mutex> lock(mutex_);
  if (FindVoiding(inut.tpAmb, inut.cnpj, inut.mod, inut.serie, inut.nNFIni, inut.nNFFin))
    throw NoteStoreConflict(NoteStoreConflict::Reason::JaInutilizada,
                            "um número da faixa " + inut.id + " já está inutilizado");
  if (FindNumber(inut.tpAmb, inut.cnpj, inut.mod, inut.serie, inut.nNFIni, inut.nNFFin))
    throw NoteStoreConflict(NoteStoreConflict::Reason::NumeroUtilizado,
                            "um número da faixa " + inut.id + " já foi utilizado");
  inut.retInutNFe =
      BuildRetInutNFe({doc.Attribute("inutNFe", "versao"), inut.tpAmb, codes::k102, cUF,
                       doc.ValueTag("ano"), inut.cnpj, inut.mod, doc.ValueTag("serie"),
                       doc.ValueTag("nNFIni"), doc.ValueTag("nNFFin"), Now(), NextProtocol(cUF)});
  Write("inut-" + inut.id + ".xml", inut.ProcInutNFe());
  voidings_[inut.id] = inut;
  return inut;
}

std::optional<Inutilizacao> NoteStore::FindVoiding(const std::string& tpAmb,
                                                   const std::string& cnpj, const std::string& mod,
                                                   unsigned long serie, unsigned long nNFIni,
                                                   unsigned long nNFFin) const {
  for (const auto& [id, inut] : voidings_) {
    if (inut.tpAmb == tpAmb && inut.cnpj == cnpj && inut.mod == mod && inut.serie == serie &&
        inut.nNFIni <= nNFFin && nNFIni <= inut.nNFFin)
      return inut;
  }
  return std::nullopt;
}

std::optional<NotaRegistrada> NoteStore::FindNumber(const std::string& tpAmb,
                                                    const std::string& cnpj, const std::string& mod,
                                                    unsigned long serie, unsigned long nNFIni,
                                                    unsigned long nNFFin) const {
  for (const auto& [chave, nota] : notes_) {
    // cUF, AAMM, CNPJ (7-20), mod (21-22), serie (23-25), nNF (26-34).
    if (nota.tpAmb != tpAmb || chave.compare(6, 14, cnpj) != 0 || chave.compare(20, 2, mod) != 0 ||
        std::stoul(chave.substr(22, 3)) != serie)
      continue;
    const unsigned long nNF = std::stoul(chave.substr(25, 9));
    if (nNFIni <= nNF && nNF <= nNFFin) return nota;
  }
  return std::nullopt;
}

std::optional<Inutilizacao> NoteStore::BuscarInutilizacao(const std::string& tpAmb,
                                                          const std::string& cnpj,
                                                          const std::string& mod,
                                                          unsigned long serie, unsigned long nNFIni,
                                                          unsigned long nNFFin) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindVoiding(tpAmb, cnpj, mod, serie, nNFIni, nNFFin);
}

std::optional<NotaRegistrada> NoteStore::BuscarNumeroUtilizado(
    const std::string& tpAmb, const std::string& cnpj, const std::string& mod, unsigned long serie,
    unsigned long nNFIni, unsigned long nNFFin) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindNumber(tpAmb, cnpj, mod, serie, nNFIni, nNFFin);
}

std::optional<NotaRegistrada> NoteStore::Buscar(const std::string& chave) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = notes_.find(chave);
  if (found == notes_.end()) return std::nullopt;
  return found->second;
}

std::optional<NotaRegistrada> NoteStore::BuscarMesmoNumero(const std::string& chave,
                                                           const std::string& tpAmb) const {
  if (!IsKey(chave)) return std::nullopt;
  // CNPJ (or CPF), mod, serie, nNF and tpEmis.
  const std::string numero = chave.substr(6, 29);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [outra, nota] : notes_) {
    if (outra != chave && nota.tpAmb == tpAmb && outra.compare(6, 29, numero) == 0) return nota;
  }
  return std::nullopt;
}

std::string NoteStore::NovoRecibo(const std::string& cUF) {
  if (cUF.size() != 2 || !IsKey(cUF + std::string(kKeyLength - 2, '0')))
    throw std::invalid_argument("cUF inválido: " + cUF);
  std::lock_guard<std::mutex> lock(mutex_);
  if (receiptSequence_ >= kLastReceiptSequence)
    throw std::runtime_error("Simulador: a sequência de recibos se esgotou");
  ++receiptSequence_;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%012llu",
                static_cast<unsigned long long>(receiptSequence_));
  return cUF + "1" + digits;
}

void NoteStore::RegistrarLote(const Lote& lote) {
  if (!IsReceipt(lote.nRec)) throw std::invalid_argument("nRec inválido: " + lote.nRec);
  std::string document = "<retConsReciNFe versao=\"" + Escape(lote.versao) + "\" xmlns=\"" +
                         kNfeNs + "\">" + Tag("tpAmb", lote.tpAmb) +
                         Tag("verAplic", std::string(kVerAplic)) + Tag("nRec", lote.nRec) +
                         Tag("cStat", std::string(codes::k104.cStat)) +
                         Tag("xMotivo", std::string(codes::k104.xMotivo)) + Tag("cUF", lote.cUF) +
                         Tag("dhRecbto", lote.dhRecbto);
  for (const std::string& prot : lote.protNFe) document += prot;
  document += "</retConsReciNFe>";

  std::lock_guard<std::mutex> lock(mutex_);
  Write("lote-" + lote.nRec + ".xml", document);
  lotes_[lote.nRec] = lote;
  receiptSequence_ = std::max(receiptSequence_, ReceiptSequenceOf(lote.nRec));
}

std::optional<NoteStore::Lote> NoteStore::BuscarLote(const std::string& nRec) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = lotes_.find(nRec);
  if (found == lotes_.end()) return std::nullopt;
  return found->second;
}

size_t NoteStore::Quantidade() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notes_.size();
}

void NoteStore::Carregar() {
  if (folder_.empty()) return;
  std::map<std::string, NotaRegistrada> loaded;
  std::uint64_t sequence = 0;
  auto fail = [](const std::string& file, const std::string& why) {
    return std::runtime_error("Simulador: base de notas: " + file + ": " + why);
  };
  auto element = [&](const XmlDocument& doc, const std::string& xpath, const std::string& file) {
    std::string xml;
    if (!doc.SelectSingleNode(xpath, xml)) throw fail(file, "falta " + xpath);
    return xml;
  };
  auto read = [&](const std::string& file) {
    try {
      return XmlDocument::Parse(LoadFromFile((std::filesystem::path(folder_) / file).string()));
    } catch (const std::exception& e) {
      throw fail(file, e.what());
    }
  };

  const std::vector<std::string> files =
      DirectoryExists(folder_) ? ListFiles(folder_, "*.xml") : std::vector<std::string>{};
  // Notes first, then their cancellations ("-" sorts before ".", so one pass would not do).
  for (const std::string& file : files) {
    const std::string chave = file.substr(0, kKeyLength);
    if (file.size() != kKeyLength + 4 || !IsKey(chave)) continue;
    XmlDocument doc = read(file);
    NotaRegistrada nota;
    nota.protNFe = element(doc, "//*[local-name()='protNFe']", file);
    if (doc.RootName() == "nfeProc")
      nota.nfe = element(doc, "/*[local-name()='nfeProc']/*[local-name()='NFe']", file);
    XmlDocument prot = XmlDocument::Parse(nota.protNFe);
    nota.chave = prot.ValueTag("chNFe");
    nota.tpAmb = prot.ValueTag("tpAmb");
    nota.nProt = prot.ValueTag("nProt");
    nota.cStat = prot.ValueTag("cStat");
    if (nota.chave != chave) throw fail(file, "o protocolo é da chave " + nota.chave);
    sequence = std::max(sequence, SequenceOf(nota.nProt, file));
    loaded[chave] = std::move(nota);
  }
  for (const std::string& file : files) {
    const std::string chave = file.substr(0, kKeyLength);
    if (file.size() != kKeyLength + 9 || !IsKey(chave) || file.substr(kKeyLength) != "-canc.xml")
      continue;
    auto found = loaded.find(chave);
    if (found == loaded.end()) throw fail(file, "cancelamento de uma NF-e que não consta");
    XmlDocument doc = read(file);
    found->second.evento =
        element(doc, "/*[local-name()='procEventoNFe']/*[local-name()='evento']", file);
    found->second.retEvento =
        element(doc, "/*[local-name()='procEventoNFe']/*[local-name()='retEvento']", file);
    sequence = std::max(
        sequence, SequenceOf(XmlDocument::Parse(found->second.retEvento).ValueTag("nProt"), file));
  }

  // EPEC events and voidings stand alone.
  std::map<std::string, EpecRegistrado> epecs;
  std::map<std::string, Inutilizacao> voidings;
  for (const std::string& file : files) {
    const std::string chave = file.substr(0, kKeyLength);
    if (file.size() == kKeyLength + 9 && IsKey(chave) && file.substr(kKeyLength) == "-epec.xml") {
      XmlDocument doc = read(file);
      EpecRegistrado epec;
      epec.evento = element(doc, "/*[local-name()='procEventoNFe']/*[local-name()='evento']", file);
      epec.retEvento =
          element(doc, "/*[local-name()='procEventoNFe']/*[local-name()='retEvento']", file);
      XmlDocument ret = XmlDocument::Parse(epec.retEvento);
      epec.chave = ret.ValueTag("chNFe");
      epec.tpAmb = ret.ValueTag("tpAmb");
      if (epec.chave != chave) throw fail(file, "o registro é da chave " + epec.chave);
      sequence = std::max(sequence, SequenceOf(ret.ValueTag("nProt"), file));
      epecs[chave] = std::move(epec);
    } else if (file.size() == 50 && file.compare(0, 5, "inut-") == 0) {
      XmlDocument doc = read(file);
      Inutilizacao inut;
      try {
        inut = ReadVoiding(
            element(doc, "/*[local-name()='ProcInutNFe']/*[local-name()='inutNFe']", file));
      } catch (const std::invalid_argument& e) {
        throw fail(file, e.what());
      }
      inut.retInutNFe =
          element(doc, "/*[local-name()='ProcInutNFe']/*[local-name()='retInutNFe']", file);
      if (file.substr(5, 41) != inut.id) throw fail(file, "o pedido é da inutilização " + inut.id);
      sequence = std::max(sequence,
                          SequenceOf(XmlDocument::Parse(inut.retInutNFe).ValueTag("nProt"), file));
      voidings[inut.id] = std::move(inut);
    }
  }

  // Batches last: a note learns the receipt of the batch whose answer carries its protocol.
  std::map<std::string, Lote> lotes;
  std::uint64_t receiptSequence = 0;
  for (const std::string& file : files) {
    if (file.size() != 24 || file.compare(0, 5, "lote-") != 0 || !IsReceipt(file.substr(5, 15)))
      continue;
    XmlDocument doc = read(file);
    Lote lote;
    lote.nRec = doc.ValueTag("nRec");
    if (doc.RootName() != "retConsReciNFe" || lote.nRec != file.substr(5, 15))
      throw fail(file, "não é o retConsReciNFe do recibo " + file.substr(5, 15));
    lote.versao = doc.Attribute("retConsReciNFe", "versao");
    lote.tpAmb = doc.ValueTag("tpAmb");
    lote.cUF = doc.ValueTag("cUF");
    lote.dhRecbto = doc.ValueTag("dhRecbto");
    doc.SelectNodes("/*[local-name()='retConsReciNFe']/*[local-name()='protNFe']", lote.protNFe);
    for (const std::string& protNFe : lote.protNFe) {
      XmlDocument prot = XmlDocument::Parse(protNFe);
      auto nota = loaded.find(prot.ValueTag("chNFe"));
      if (nota != loaded.end() && !nota->second.nProt.empty() &&
          nota->second.nProt == prot.ValueTag("nProt"))
        nota->second.nRec = lote.nRec;
    }
    receiptSequence = std::max(receiptSequence, ReceiptSequenceOf(lote.nRec));
    lotes[lote.nRec] = std::move(lote);
  }

  std::lock_guard<std::mutex> lock(mutex_);
  notes_ = std::move(loaded);
  lotes_ = std::move(lotes);
  epecs_ = std::move(epecs);
  voidings_ = std::move(voidings);
  sequence_ = sequence;
  receiptSequence_ = receiptSequence;
}

}  // namespace qor::sim
