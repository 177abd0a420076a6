// TqorContingencia: offline contingency (tpEmis 9) for the host's TqorNFCe, with a durable
// queue that transmits itself once the state is back and reconciles every reply.
//
// The host keeps one beside its TqorNFCe, over a queue folder (FilaContingencia.h). At the till
// it calls Emitir: the note goes online, or, when the state cannot be reached, is issued
// offline and queued, and the printed DANFCE carries the offline QR link. Transmitir (from the
// host's timer, or `qornfce contingencia transmitir`) sends the queue; Listar shows it.
//
// Who may run what at once: any number of processes may Emitir/EmitirOffline into one queue
// (each note is one new file, written whole). Transmitir takes the queue's flock first, so one
// transmitter at a time sends, and a note is never sent twice at once.
//
// Failures raise the EqorException family: bad input and queue-folder failures as
// EqorNFCeContingenciaException, before anything is stored; the component's own failures pass
// as they come. A transport failure never leaves Emitir or Transmitir: it is what they handle.
//
// Not thread-safe: one instance from one thread at a time, as its TqorNFCe.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/Relogio.h"
#include "contingency/FilaContingencia.h"

namespace qor {

class TqorNFCe;
class TFileSystem;

// The next unused number (nNF) of `serie`, from the host's numbering: asked for when an online
// attempt may have reached the state, so its number can no longer be reused offline.
using TOnNovoNumero = std::function<std::string(const std::string& serie)>;
// Progress of a transmission: notes handled so far and the total of the round.
using TOnProgressoContingencia = std::function<void(int feitas, int total)>;

struct TResultadoEmissao {
  bool offline = false;  // issued offline and queued
  std::string nota;      // the signed note to print (the offline one when offline)
  std::string chave;     // its key
  std::string resposta;  // the state's reply to the online attempt, when one came
  std::string motivo;    // why it went offline (the transport failure or the cStat)
  // When the online attempt may have reached the state: its key, kept "em verificação".
  std::string chaveEmVerificacao;
};

struct TResultadoTransmissao {
  bool filaEmUso = false;  // another process holds the queue: nothing was done
  bool interrompida = false;
  int enviadas = 0;  // notes posted (transport failures included)
  int autorizadas = 0, denegadas = 0, duplicadas = 0, rejeitadas = 0;
  int inutilizadas = 0, canceladas = 0;
  int falhasTransporte = 0;
  int pendentes = 0;      // still pending after the round
  int emVerificacao = 0;  // attempts still unresolved after the round
  // The earliest moment a pending note or attempt may be tried again (epoch when none waits).
  TInstante proximaTentativa{};
  std::string ultimaFalha;  // the last transport failure's message
  std::vector<TArquivoDanificado> danificados;
};

struct TItemListagem {
  TEntradaContingencia entrada;
  std::chrono::seconds idade{0};          // since issue
  std::chrono::seconds tempoRestante{0};  // to the deadline (negative: past it)
  bool atrasada = false;                  // still to reach the state and past the deadline
};

struct TListagemContingencia {
  std::vector<TItemListagem> itens;
  std::vector<TArquivoDanificado> danificados;
};

class TqorContingencia {
 public:
  // `nfce` is the host's configured component and must outlive this object; `pasta` the queue
  // folder (created on first write).
  TqorContingencia(TqorNFCe& nfce, const std::string& pasta);
  TqorContingencia(const TqorContingencia&) = delete;
  TqorContingencia& operator=(const TqorContingencia&) = delete;

  // Takes the converted, unsigned note (one NFe, tpEmis 1) and issues it offline: tpEmis 9,
  // dhCont (the start of the outage the queue keeps, never later than dhEmi), xJust, the key's
  // check digit, the key and Id computed again; signs it (AssinarNota: the QR link takes the
  // offline form) and queues it. Returns the signed note. Raises, storing nothing, for a note
  // without ide, one already in contingency, a justification outside 15-256 characters, a key
  // already queued, or a queue folder that cannot be written.
  std::string EmitirOffline(const std::string& xmlNota, const std::string& justificativa);

  // The till's call: signs the note and sends it (EnviarNFSincrono). Any reply of the state is
  // the result (authorised, denied, rejected), except cStat 108/109. On a transport failure or
  // 108/109 the note is issued offline (EmitirOffline) and the result says so. When the state
  // certainly did not get the note (no connection, TLS failure, 108/109) the offline note keeps
  // the number; when it may have (time-out after sending, HTTP 5xx, a reply that is no SOAP)
  // the offline note takes a new number from OnNovoNumero, and the attempt is queued "em
  // verificação" under its key (without OnNovoNumero: the attempt is queued and
  // EqorNFCeContingenciaException raised).
  TResultadoEmissao Emitir(const std::string& xmlNota, const std::string& justificativa);

  // Sends pending notes oldest first, at most `max` (0: all), over the component's one
  // connection, and settles the attempts in verification. Returns at once with filaEmUso when
  // another process transmits (or, with `esperaTrava` above zero, after waiting that long for
  // it). A transport failure (or 108/109) ends the round and sets the note's next try after a
  // back-off (30 s, doubling, at most 15 min); notes whose next try has not come are skipped.
  // Replies: 100/150 nfeProc written, "autorizada"; 204 queried by key and, authorised, the
  // nfeProc made from the query; 110/301/302 "denegada" (-den.xml written); 539 "duplicada"
  // with both keys; any other rejection "rejeitada" with cStat and xMotivo, never resent.
  // Attempts in verification are queried from EsperaVerificacao after they were sent: 217 has
  // the number voided and only 102 closes it ("inutilizada"); an authorised attempt, once the
  // offline note that replaced it is authorised, is cancelled by substitution (110112) pointing
  // at it ("cancelada"; a refused event makes it "duplicada" with the event's cStat).
  // Damaged files are moved into danificadas/ and reported.
  TResultadoTransmissao Transmitir(
      int max = 0, std::chrono::milliseconds esperaTrava = std::chrono::milliseconds(0));

  // Every entry with its state, age and time left; notes still to reach the state past the
  // deadline flagged. Damaged files are reported, not moved. Reads only.
  TListagemContingencia Listar();

  // ---- settings ------------------------------------------------------------------------
  // How long after issue a note must reach the state (default 24 h; states differ).
  std::chrono::minutes GetPrazo() const { return prazo_; }
  void SetPrazo(std::chrono::minutes prazo) { prazo_ = prazo; }
  // How long after an uncertain attempt it is first queried (default 10 min).
  std::chrono::seconds GetEsperaVerificacao() const { return esperaVerificacao_; }
  void SetEsperaVerificacao(std::chrono::seconds espera) { esperaVerificacao_ = espera; }
  void SetRelogio(TRelogio relogio) { relogio_ = std::move(relogio); }
  // The file operations of the queue; not owned (nullptr: TFileSystem::Default()).
  void SetFileSystem(TFileSystem* arquivos);
  // A flag the host (a signal handler) sets to stop a transmission between two notes.
  void SetInterrupcao(const std::atomic<bool>* parar) { parar_ = parar; }
  const TFilaContingencia& Fila() const { return fila_; }

  TOnNovoNumero OnNovoNumero;
  TOnProgressoContingencia OnProgresso;

 private:
  TInstante Agora() const;
  // The offline form of `xmlNota` (unsigned), numbered `nNF` when given.
  std::string NotaOffline(const std::string& xmlNota, const std::string& justificativa,
                          const std::string& nNF);
  std::string Enfileirar(const std::string& assinada, TEstadoContingencia estado,
                         const std::string& chaveRelacionada);
  // One pending note sent; false when the round must stop (transport failure).
  bool TransmitirNota(TEntradaContingencia& entrada, TResultadoTransmissao& resultado);
  // One attempt in verification settled, when its time has come; false on a transport failure.
  bool Verificar(TEntradaContingencia& entrada, TResultadoTransmissao& resultado);
  // The nfeProc of an authorised note from the state's reply, when not written already.
  void GarantirNfeProc(const TEntradaContingencia& entrada, const std::string& resposta);
  void AdiarTentativa(TEntradaContingencia& entrada, const std::string& falha,
                      TResultadoTransmissao& resultado);
  // `resposta` set to what `pedido` (a request to the state) returns; when it raises, the entry
  // is deferred (AdiarTentativa) and the result is false.
  bool PerguntarAoEstado(TEntradaContingencia& entrada, TResultadoTransmissao& resultado,
                         std::string& resposta, const std::function<std::string()>& pedido);

  TqorNFCe& nfce_;
  TFilaContingencia fila_;
  std::chrono::minutes prazo_{24 * 60};
  std::chrono::seconds esperaVerificacao_{10 * 60};
  TRelogio relogio_;
  const std::atomic<bool>* parar_ = nullptr;
  std::string pasta_;
  std::string nfeProc_;  // the distribution template, read on first use
  // Within one Transmitir: the recipient folder, and whether the state has answered yet (the
  // outage's start is cleared once).
  std::string destinatario_;
  bool servicoRespondeu_ = false;
};

}  // namespace qor
