// The offline road of a TX2 batch on one component, as a till runs it before sending: TX2 to
// note XML with the vm60 business rules checked as each note is saved, the signature with the
// QR-code supplement, and the enviNFe checked against the official schema.
#pragma once

#include <chrono>
#include <string>

#include "conversion/TqorNFCeConvTXTDataSet.h"

namespace qor {
class TqorNFCe;
}

namespace qor::bench {

class CaminhoOffline {
 public:
  // `nfce` configured with Configurar (Amostras.h); it must outlive this object.
  explicit CaminhoOffline(TqorNFCe& nfce);
  // Runs the road on `tx2` (one or more notes, at most 50) and returns the signed notes. A
  // failure of any step raises as the component raises it.
  std::string Percorrer(const std::string& tx2);

  // Real time spent in each step, summed over every call of Percorrer: the cost of a step can
  // then be read inside the road, where the steps before it have used the caches.
  struct Etapas {
    std::chrono::nanoseconds conversao{};   // TX2 to XML with the rules
    std::chrono::nanoseconds assinatura{};  // AssinarNota
    std::chrono::nanoseconds validacao{};   // the enviNFe against the schema
  };
  const Etapas& TemposDasEtapas() const { return etapas_; }

 private:
  TqorNFCe& nfce_;
  std::string enviNFe_;
  TqorNFCeConvTXTDataSet regras_;  // the dictionary read once, as a till's converter keeps it
  Etapas etapas_;
};

}  // namespace qor::bench
