// The simulator's base of notes: every note it authorised or denied, keyed by the 44-digit
// access key, with its protocol and, once cancelled, the cancellation event and the
// registration of that event; every batch the authorisation service received, keyed by its
// receipt number; the EPEC events, by key; the voided ranges, by their Id. The query services
// answer from it; the sending, event and voiding services record into it; tests seed it
// directly.
//
// Persistence: each note is one file in the store's folder, "<chave>.xml", holding the
// distribution document nfeProc (the note and its protocol: cStat 100, or the denial), or the
// protNFe alone for a note recorded without its XML; a cancellation adds "<chave>-canc.xml"
// holding procEventoNFe (the event and its registration); an EPEC event, whose key the base need
// not hold, is "<chave>-epec.xml", also a procEventoNFe; a voided range is "inut-<Id>.xml" (the
// 41 digits of infInut's Id), holding ProcInutNFe (the signed request and its homologation); a
// batch is "lote-<nRec>.xml", holding the retConsReciNFe its receipt query answers once
// processed (one protNFe per note: the authorised or denied note's protocol, or the note's
// rejection). Every file is written whole (temporary name, fsync, rename) before the recording
// call returns, so a simulator restarted on the same folder answers as before. The signed parts
// come back from disk as the XML parser serialises them: their canonical form, and so their
// signatures and digests, do not change.
//
// Protocol numbers (nProt, 15 digits): "1" (a state authority), the cUF of the key (or of the
// voiding), the last two digits of the year in Brasília, then a 10-digit sequence that notes,
// events and voidings share and that continues after the highest number found at load. They
// never repeat, and for one UF and year they always increase. Receipt numbers (nRec, 15
// digits): the cUF, "1", then a 12-digit sequence of their own, continued in the same way.
//
// Thread-safe: every operation takes the store's lock; a recording writes its file under it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Codes.h"

namespace qor::sim {

// One note as the base knows it. XML fields are outer XML without an XML declaration, each
// declaring the NF-e namespace itself.
struct NotaRegistrada {
  std::string chave;
  std::string tpAmb;    // "1" production, "2" homologation
  std::string cStat;    // of the protocol: "100" authorised, else the denial (302)
  std::string nProt;    // of the authorisation or the denial
  std::string protNFe;  // protNFe with infProt: cStat 100 "Autorizado o uso da NF-e" or the denial
  std::string nRec;     // receipt of the batch that brought the note; empty for a seed
  std::string nfe;      // the signed NFe as recorded; empty for a note seeded without it
  std::string evento;   // the cancellation event (signed); empty while not cancelled
  std::string retEvento;  // its registration, cStat 135; empty while not cancelled

  bool Cancelada() const { return !retEvento.empty(); }
  bool Denegada() const { return cStat != codes::k100.cStat; }
  // procEventoNFe (versao "1.00") holding evento and retEvento; empty while not cancelled.
  std::string ProcEventoNFe() const;
};

// A recording the state of the base forbids. The services answer these with their cStat.
class NoteStoreConflict : public std::logic_error {
 public:
  enum class Reason {
    NaoRegistrada,   // the key is not in the base
    JaRegistrada,    // an authorisation (or a denial) for the key exists
    JaCancelada,     // the note has a cancellation already
    Denegada,        // the note's use was denied: there is nothing to cancel
    JaInutilizada,   // a number of the range is voided already (or the key has an EPEC already)
    NumeroUtilizado  // a note of the base has a number of the range
  };
  NoteStoreConflict(Reason reason, const std::string& message)
      : std::logic_error(message), reason_(reason) {}
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
};

// What a retEvento (versao "1.00") reports of one event. A registration carries nProt, and then
// xEvento too (named after tpEvento); a rejection has neither.
struct RetEventoCampos {
  std::string tpAmb, cOrgao;
  Outcome outcome;
  std::string chNFe, tpEvento, nSeqEvento;  // left out when empty
  std::string dhRegEvento, nProt;
};
std::string BuildRetEvento(const RetEventoCampos& campos);

// What a retInutNFe reports. The range (ano to nNFFin) is left out when `ano` is empty, nProt
// when empty.
struct RetInutCampos {
  std::string versao, tpAmb;
  Outcome outcome;
  std::string cUF, ano, CNPJ, mod, serie, nNFIni, nNFFin;
  std::string dhRecbto, nProt;
};
std::string BuildRetInutNFe(const RetInutCampos& campos);

// An EPEC event (110140) as the base keeps it: the signed evento and its registration (136).
struct EpecRegistrado {
  std::string chave, tpAmb, evento, retEvento;
  std::string ProcEventoNFe() const;
};

// A voided range of one emitter's series, in one environment.
struct Inutilizacao {
  std::string id;  // the 41 digits after "ID" in infInut's Id
  std::string tpAmb, cnpj, mod;
  unsigned long serie = 0, nNFIni = 0, nNFFin = 0;
  std::string inutNFe, retInutNFe;  // the signed request; its homologation (102)
  std::string ProcInutNFe() const;
};

class NoteStore {
 public:
  // `folder` holds the files (created on the first recording); empty keeps the base in memory
  // only. `keyPem` and `certPem` sign the events the store builds itself
  // (RegistrarCancelamentoSemEvento); they are read only then.
  NoteStore(std::string folder, std::string keyPem, std::string certPem);
  NoteStore(const NoteStore&) = delete;
  NoteStore& operator=(const NoteStore&) = delete;

  // Replaces what is in memory with the notes of the folder (nothing to do without a folder).
  // Throws std::runtime_error naming a file that cannot be read or does not hold what its name
  // says.
  void Carregar();

  // Records the authorisation of `chave` (44 digits) in environment `tpAmb` ("1" or "2") and
  // returns the note with its new protocol. `nfe` is the signed NFe as received (an XML
  // declaration before it is dropped); the protocol's digVal is then the Base64 SHA-1 of its
  // canonical infNFe (the signature's DigestValue) and the protocol's versao is infNFe's.
  // Without `nfe` (a seed) digVal is the Base64 SHA-1 of the key's 44 characters and versao
  // "4.00".
  // Throws std::invalid_argument for a malformed key or tpAmb, or an NFe that does not parse,
  // has no infNFe, or whose Id or tpAmb name another key or environment; NoteStoreConflict
  // (JaRegistrada) when the key is there already; std::runtime_error when the file cannot be
  // written (nothing is recorded then).
  // `nRec` is the receipt of the batch that brought the note (empty for a seed).
  NotaRegistrada RegistrarAutorizacao(const std::string& chave, const std::string& tpAmb,
                                      const std::string& nfe = {}, const std::string& nRec = {});

  // Records the denial of use of `chave` as RegistrarAutorizacao records an authorisation, with
  // `motivo` (301, 302, ...) in the protocol instead of 100. The number stays spent: the base
  // answers for the key from then on. Same failures as RegistrarAutorizacao.
  NotaRegistrada RegistrarDenegacao(const std::string& chave, const std::string& tpAmb,
                                    const std::string& nfe, const Outcome& motivo,
                                    const std::string& nRec = {});

  // Records the cancellation of an authorised note by the author's signed `evento` (tpEvento
  // 110111, or 110112 for cancellation by substitution, with infEvento naming `chave`) and
  // builds its registration: retEvento versao "1.00" with `outcome` (135, or 155 for a
  // cancellation past the deadline; std::invalid_argument for another), the event's cOrgao,
  // tpEvento and nSeqEvento, dhRegEvento and a new nProt. The event is kept as given (without
  // an XML declaration); checking its schema and signature is the receiving service's work.
  // Throws std::invalid_argument for an event that does not parse, lacks those fields, names
  // another key or another environment than the note's; NoteStoreConflict (NaoRegistrada,
  // Denegada, JaCancelada); std::runtime_error when the file cannot be written.
  NotaRegistrada RegistrarCancelamento(const std::string& chave, const std::string& evento,
                                       const Outcome& outcome = codes::k135);

  // For seeds, before the cancellation service exists: builds the author's event itself
  // (tpEvento 110111, nSeqEvento 1, the CNPJ and cOrgao of the key, the note's nProt and
  // `xJust`), signs it with the store's certificate and records it by RegistrarCancelamento.
  // `xJust` must have 15 to 255 characters (std::invalid_argument otherwise).
  NotaRegistrada RegistrarCancelamentoSemEvento(const std::string& chave, const std::string& xJust);

  // The note of `chave`, or nothing.
  std::optional<NotaRegistrada> Buscar(const std::string& chave) const;
  // A note other than `chave` with the same emitter, model, series, number and tpEmis (key
  // positions 7 to 35) in the same environment, or nothing: the same note sent again under
  // another key (another cNF or issue month).
  std::optional<NotaRegistrada> BuscarMesmoNumero(const std::string& chave,
                                                  const std::string& tpAmb) const;
  size_t Quantidade() const;  // notes, authorised or denied

  // ---- EPEC events and voidings ------------------------------------------------------------

  // Records the signed EPEC `evento` (tpEvento 110140) and builds its registration: retEvento
  // with 136, the event's cOrgao, tpAmb and nSeqEvento, dhRegEvento and a new nProt. Throws
  // std::invalid_argument for an event that does not parse or lacks those fields;
  // NoteStoreConflict (JaInutilizada) when the key has an EPEC already; std::runtime_error when
  // the file cannot be written.
  EpecRegistrado RegistrarEpec(const std::string& evento);
  std::optional<EpecRegistrado> BuscarEpec(const std::string& chave) const;

  // Records the voiding of the range of the signed `inutNFe` and builds its homologation:
  // retInutNFe of the request's versao with 102, the range and a new nProt. Throws
  // std::invalid_argument for a request that does not parse or lacks a field; NoteStoreConflict
  // (JaInutilizada) when a number of the range is voided already, (NumeroUtilizado) when a note
  // of the base has one; std::runtime_error when the file cannot be written.
  Inutilizacao RegistrarInutilizacao(const std::string& inutNFe);
  // A voiding of the emitter `cnpj`'s `mod` and `serie` in `tpAmb` whose range meets
  // [nNFIni, nNFFin], or nothing.
  std::optional<Inutilizacao> BuscarInutilizacao(const std::string& tpAmb, const std::string& cnpj,
                                                 const std::string& mod, unsigned long serie,
                                                 unsigned long nNFIni, unsigned long nNFFin) const;
  // A note (authorised or denied) of the emitter `cnpj` in `tpAmb` with that `mod` and `serie`
  // and a number in [nNFIni, nNFFin], or nothing.
  std::optional<NotaRegistrada> BuscarNumeroUtilizado(const std::string& tpAmb,
                                                      const std::string& cnpj,
                                                      const std::string& mod, unsigned long serie,
                                                      unsigned long nNFIni,
                                                      unsigned long nNFFin) const;

  // ---- batches of the authorisation service --------------------------------------------

  struct Lote {
    std::string nRec, tpAmb, cUF;
    std::string versao;                // layout of the batch, and of its receipt query's answer
    std::string dhRecbto;              // when it was received, Brasília time
    std::vector<std::string> protNFe;  // one per note, in batch order, each declaring the namespace
    // When it arrived in this run, for the processing time; empty for a batch loaded from disk,
    // which was processed long ago.
    std::optional<std::chrono::steady_clock::time_point> recebidoEm;
  };

  // Hands out the next receipt number for a batch of state `cUF` (two digits).
  std::string NovoRecibo(const std::string& cUF);
  // Records a batch (std::invalid_argument for an nRec that is not 15 digits; std::runtime_error
  // when the file cannot be written). Recording the same nRec again replaces it.
  void RegistrarLote(const Lote& lote);
  std::optional<Lote> BuscarLote(const std::string& nRec) const;

 private:
  NotaRegistrada Registrar(const std::string& chave, const std::string& tpAmb,
                           const std::string& nfe, const Outcome& outcome, const std::string& nRec);
  // `cUF` is the first two characters of the text given (a key, or a state code).
  std::string NextProtocol(const std::string& cUF);  // REQUIRES: mutex_ held
  std::optional<Inutilizacao> FindVoiding(const std::string& tpAmb, const std::string& cnpj,
                                          const std::string& mod, unsigned long serie,
                                          unsigned long nNFIni,
                                          unsigned long nNFFin) const;  // REQUIRES: mutex_ held
  std::optional<NotaRegistrada> FindNumber(const std::string& tpAmb, const std::string& cnpj,
                                           const std::string& mod, unsigned long serie,
                                           unsigned long nNFIni,
                                           unsigned long nNFFin) const;  // REQUIRES: mutex_ held
  void Write(const std::string& name, const std::string& content) const;

  const std::string folder_;
  const std::string keyPem_, certPem_;
  mutable std::mutex mutex_;
  std::map<std::string, NotaRegistrada> notes_;
  std::map<std::string, Lote> lotes_;
  std::map<std::string, EpecRegistrado> epecs_;   // by key
  std::map<std::string, Inutilizacao> voidings_;  // by Id
  std::uint64_t sequence_ = 0;                    // last sequence part of an nProt handed out
  std::uint64_t receiptSequence_ = 0;             // last sequence part of an nRec handed out
};

}  // namespace qor::sim
