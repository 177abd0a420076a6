// The offline queue on disk: one file per note, named by its access key, in a folder per state.
//
//   <pasta>/pendentes/     notes issued offline, still to reach the state
//          /verificacao/   online attempts whose fate is unknown (the state may have them)
//          /autorizadas/ /denegadas/ /duplicadas/ /rejeitadas/ /inutilizadas/ /canceladas/
//          /danificadas/   files that could not be read back, moved aside for the operator
//          /fila.lock      the transmitter's lock (flock); /inicio-contingencia the outage start
//
// A file is an <entradaContingencia> document holding the signed NFe and what the queue knows of
// it (attempts, the state's last cStat and xMotivo, the related key), with the SHA-1 of the NFe
// text, so a file that is cut short or altered is recognised. Every write goes through the file
// seam as a temporary file, fsync, rename and fsync of the folder; a change of state is a rename
// between folders followed by the fsync of both. A process killed at any instant leaves each
// note whole in exactly one folder (at worst in the folder it was leaving, with its new record).
//
// Failures raise EqorNFCeContingenciaException with the path and the system's reason.
// Not thread-safe; several processes may use one queue (see TqorContingencia for who locks).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Exceptions.h"

namespace qor {

class TFileSystem;

QOR_DECLARE_EXCEPTION(EqorNFCeContingenciaException, EqorNFCeException, EqorNFCeException::kNomeLog)

enum class TEstadoContingencia {
  ecPendente,
  ecEmVerificacao,
  ecAutorizada,
  ecDenegada,
  ecDuplicada,
  ecRejeitada,
  ecInutilizada,
  ecCancelada,
  ecDanificada
};

// Every state, in the order listings show them.
const std::vector<TEstadoContingencia>& EstadosContingencia();
// "pendente", "em verificação", "autorizada", ... as the operator reads it.
std::string NomeEstado(TEstadoContingencia estado);
// The folder of the state: "pendentes", "verificacao", ...
std::string PastaEstado(TEstadoContingencia estado);

using TInstante = std::chrono::system_clock::time_point;

struct TEntradaContingencia {
  std::string chave;
  TEstadoContingencia estado = TEstadoContingencia::ecPendente;
  std::string nota;          // the signed NFe (for an attempt in verification, the online one)
  TInstante emitidaEm{};     // dhEmi of the note: the deadline counts from it
  TInstante registradaEm{};  // when the queue took it (for an attempt: when it was sent)
  int tentativas = 0;        // transmissions that met a transport failure
  TInstante proximaTentativa{};
  std::string cStat, xMotivo;    // the state's last answer about it
  std::string chaveRelacionada;  // duplicate: the key already authorised; attempt: the offline
                                 // note that replaced it
  std::string nProt;
  std::string arquivo;  // full path of its file (filled when read)
};

// A file of the queue that could not be read back.
struct TArquivoDanificado {
  std::string arquivo;  // where it was found (or, once moved aside, where it is now)
  std::string motivo;
};

class TFilaContingencia {
 public:
  // `arquivos` is not owned (nullptr: TFileSystem::Default()).
  TFilaContingencia(std::string pasta, TFileSystem* arquivos);

  const std::string& Pasta() const { return pasta_; }
  // Creates the folders; raises when one cannot be made or written (a path under a regular
  // file, a read-only file system).
  void Preparar();
  std::string ArquivoDe(TEstadoContingencia estado, const std::string& chave) const;
  std::string ArquivoTrava() const { return pasta_ + "fila.lock"; }
  // The folder holding `chave`, if any.
  bool Localizar(const std::string& chave, TEstadoContingencia& estado) const;

  // Writes the entry into its state's folder (new or replacing).
  void Gravar(const TEntradaContingencia& entrada);
  // Writes the entry's record in place (unless `comRegistro` is false: the file keeps the record
  // it has), then renames it into the folder of `novo`.
  void Mover(TEntradaContingencia& entrada, TEstadoContingencia novo, bool comRegistro = true);

  // The entries of a state, oldest issue first. Files that cannot be read go to `danificados`;
  // with `moverDanificados` they are renamed into danificadas/ (never deleted).
  std::vector<TEntradaContingencia> Ler(TEstadoContingencia estado,
                                        std::vector<TArquivoDanificado>& danificados,
                                        bool moverDanificados);

  // The start of the outage in force, when one is recorded.
  bool InicioContingencia(TInstante& inicio) const;
  void GravarInicioContingencia(TInstante inicio);
  void EncerrarContingencia();

  // The text of an entry's file, and back; Decodificar raises with the reason when the text is
  // not a whole, unaltered entry.
  static std::string Codificar(const TEntradaContingencia& entrada);
  static TEntradaContingencia Decodificar(const std::string& texto);

 private:
  TFileSystem& Fs() const;
  std::string pasta_;
  TFileSystem* arquivos_;
};

// Seconds since the epoch, and back.
std::int64_t Segundos(TInstante instante);
TInstante DeSegundos(std::int64_t segundos);

}  // namespace qor
