// The process-wide diagnostic event recorder.
//
// Each event is one JSON line appended to a daily file "telemetria-YYYYMMDD.jsonl" in the event
// folder (created when missing): time (ISO 8601, local, with offset), process and thread ids,
// CNPJ, product, event name, component version and, for a failure, the exception's class and
// message. Nothing is sent anywhere.
//
// Thread-safe without a lock: each event is one write(2) to a file opened with O_APPEND, which
// the kernel appends whole, between threads as between processes.
#pragma once

#include <string>

namespace qor {

class TqorTelemetria {
 public:
  // Records one event. Throws EqorGovException when the event cannot be written; the caller
  // decides what a lost event means (the component logs it and goes on).
  void Evento(const std::string& folder, const std::string& cnpj, const std::string& produto,
              const std::string& evento, const std::string& versao, const std::string& classe = {},
              const std::string& mensagem = {});
};

// The one recorder of the process, made on first use.
TqorTelemetria& GetTelemetria();
// Frees it (the component's destructor does); the next GetTelemetria makes a new one.
void FreeTelemetria();

}  // namespace qor
