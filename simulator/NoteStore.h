// The simulator's base of notes: every note it authorised, keyed by the 44-digit access key,
// with its authorisation protocol and, once cancelled, the cancellation event and the
// registration of that event. The query service answers from it; the sending and cancellation
// services record into it; tests seed it directly.
//
// Persistence: each note is one file in the store's folder, "<chave>.xml", holding the
// distribution document nfeProc (the note and its protocol), or the protNFe alone for a note
// recorded without its XML; a cancellation adds "<chave>-canc.xml" holding procEventoNFe (the
// event and its registration). Every file is written whole (temporary name, fsync, rename)
// before the recording call returns, so a simulator restarted on the same folder answers as
// before. The signed parts come back from disk as the XML parser serialises them: their
// canonical form, and so their signatures and digests, do not change.
//
// Protocol numbers (nProt, 15 digits): "1" (a state authority), the cUF of the key, the last two
// digits of the year in Brasília, then a 10-digit sequence that notes and events share and that
// continues after the highest number found at load. They never repeat, and for one UF and year
// they always increase.
//
// Thread-safe: every operation takes the store's lock; a recording writes its file under it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace qor::sim {

// One note as the base knows it. XML fields are outer XML without an XML declaration, each
// declaring the NF-e namespace itself.
struct NotaRegistrada {
  std::string chave;
  std::string tpAmb;      // "1" production, "2" homologation
  std::string nProt;      // of the authorisation
  std::string protNFe;    // protNFe with infProt: cStat 100 "Autorizado o uso da NF-e"
  std::string nfe;        // the signed NFe as recorded; empty for a note seeded without it
  std::string evento;     // the cancellation event (signed); empty while not cancelled
  std::string retEvento;  // its registration, cStat 135; empty while not cancelled

  bool Cancelada() const { return !retEvento.empty(); }
  // procEventoNFe (versao "1.00") holding evento and retEvento; empty while not cancelled.
  std::string ProcEventoNFe() const;
};

// A recording the state of the base forbids. The services answer these with their cStat.
class NoteStoreConflict : public std::logic_error {
 public:
  enum class Reason {
    NaoRegistrada,  // the key is not in the base
    JaRegistrada,   // an authorisation for the key exists
    JaCancelada     // the note has a cancellation already
  };
  NoteStoreConflict(Reason reason, const std::string& message)
      : std::logic_error(message), reason_(reason) {}
  Reason reason() const { return reason_; }

 private:
  Reason reason_;
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
  NotaRegistrada RegistrarAutorizacao(const std::string& chave, const std::string& tpAmb,
                                      const std::string& nfe = {});

  // Records the cancellation of an authorised note by the author's signed `evento` (tpEvento
  // 110111, or 110112 for cancellation by substitution, with infEvento naming `chave`) and
  // builds its registration: retEvento versao "1.00" with cStat 135, the event's cOrgao,
  // tpEvento and nSeqEvento, dhRegEvento and a new nProt. The event is kept as given (without
  // an XML declaration); checking its schema and signature is the receiving service's work.
  // Throws std::invalid_argument for an event that does not parse, lacks those fields, names
  // another key or another environment than the note's; NoteStoreConflict (NaoRegistrada,
  // JaCancelada); std::runtime_error when the file cannot be written.
  NotaRegistrada RegistrarCancelamento(const std::string& chave, const std::string& evento);

  // For seeds, before the cancellation service exists: builds the author's event itself
  // (tpEvento 110111, nSeqEvento 1, the CNPJ and cOrgao of the key, the note's nProt and
  // `xJust`), signs it with the store's certificate and records it by RegistrarCancelamento.
  // `xJust` must have 15 to 255 characters (std::invalid_argument otherwise).
  NotaRegistrada RegistrarCancelamentoSemEvento(const std::string& chave, const std::string& xJust);

  // The note of `chave`, or nothing.
  std::optional<NotaRegistrada> Buscar(const std::string& chave) const;
  size_t Quantidade() const;

 private:
  std::string NextProtocol(const std::string& chave);  // REQUIRES: mutex_ held
  void Write(const std::string& name, const std::string& content) const;

  const std::string folder_;
  const std::string keyPem_, certPem_;
  mutable std::mutex mutex_;
  std::map<std::string, NotaRegistrada> notes_;
  std::uint64_t sequence_ = 0;  // last sequence part of an nProt handed out
};

}  // namespace qor::sim
