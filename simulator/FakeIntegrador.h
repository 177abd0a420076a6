// A fake of the Integrador middleware (the MFe road of Ceará), for the tests and for trying the
// component by hand: it watches an input folder for request files, journals each request and
// answers, in a file of the output folder, with the simulator's own reply for the service the
// request names (ServiceDispatch.h), in process: no network, no simulator running.
//
// A reply is "|"-separated text holding "Enviado com sucesso + Retorno SEFAZ-CE" and, as its
// seventh item, the Base64 of the SOAP reply broken into lines by CR LF. Modes (FakeMode) bend
// it to the faults a real one shows.
//
// Not thread-safe: one loop on the calling thread.
#pragma once

#include <csignal>
#include <memory>
#include <string>

namespace qor::sim {

enum class FakeMode {
  Retorno,        // the text in Integrador/Resposta/retorno, whose characters 3-8 are the id
  Identificador,  // no retorno: the reply found by Integrador/Identificador/Valor
  OutroPrimeiro,  // a reply for another id written first, then ours
  Atraso,         // ours written `atrasoMs` after the request was read
  Mudo,           // journals, never answers
  NaoXml,         // a reply that is not XML
  Metade,         // ours written in two halves 700 ms apart
  Item7Vazio,     // the seventh item empty
  ErroInterno,    // the seventh item "HTTP/1.1 500 Internal Server Error"
  SemSucesso      // a reply without the success text
};

struct FakeIntegradorOptions {
  std::string entrada, saida;  // the folders the component writes to and reads from
  std::string pasta;           // journal in pasta/diario/NNNN/, the base of notes in pasta/notas
  std::string esquemas;        // the official XSD package the services validate with
  FakeMode modo = FakeMode::Retorno;
  int atrasoMs = 0;
};

// Handles every request file ("*.xml") waiting in `entrada` (each is removed once read) and
// returns how many it handled. `stop`, when given, cuts an Atraso wait short.
class FakeIntegrador {
 public:
  explicit FakeIntegrador(FakeIntegradorOptions options);
  ~FakeIntegrador();
  FakeIntegrador(const FakeIntegrador&) = delete;
  FakeIntegrador& operator=(const FakeIntegrador&) = delete;
  int AtenderPendentes(const volatile std::sig_atomic_t* stop = nullptr);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// `qornfce-integrador-falso --entrada DIR --saida DIR [--modo M[:MS]] [--pasta DIR]
// [--esquemas DIR]`: serves until SIGINT or SIGTERM. Returns 0 after a clean stop, 1 when it
// cannot start, 2 on bad usage.
int RunFakeIntegradorCommand(int argc, char** argv);

}  // namespace qor::sim
