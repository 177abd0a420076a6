// What the fuzz targets share: the scratch folder, the component set up once, the rule on
// which exceptions are answers, and the consistency check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Exceptions.h"
#include "platform/GovException.h"

namespace qor {
class TqorNFCe;
}

namespace qor::fuzz {

// A folder of the process's own under the system's temporary folder, with a trailing "/";
// removed with its contents when the process ends normally.
const std::string& Pasta();
// Pasta() + "LogErro/": where every refusal is logged.
std::string PastaLogErro();
// Empties the exception-log folder now and then, so that millions of refusals do not fill the
// disk.
void PodarLogs();

// A component for the operations that need one: folders in Pasta(), SP, homologation, no
// telemetry, no logs of its own. Made on first use.
TqorNFCe& Componente();

inline std::string Texto(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Prints a refusal when QORNFCE_FUZZ_MOSTRAR is set: to see how far the seeds get.
void Mostrar(const std::exception& recusa);

// How many bodies given to Tolerando ran to their end, in this process: a target whose seeds
// are all refused tests nothing past its first check (a missing dictionary, say).
unsigned long& Completas();

// Runs `corpo`; a refusal of the family or of the services layer is an answer, anything else
// goes on to the fuzzer.
template <typename Corpo>
void Tolerando(Corpo&& corpo) {
  try {
    corpo();
    ++Completas();
  } catch (const EqorException& recusa) {
    Mostrar(recusa);
  } catch (const EqorGovException& recusa) {
    Mostrar(recusa);
  }
}

// Prints `oQue` with `detalhe` and aborts when `condicao` does not hold.
void Confere(bool condicao, const char* oQue, const std::string& detalhe = {});

}  // namespace qor::fuzz
