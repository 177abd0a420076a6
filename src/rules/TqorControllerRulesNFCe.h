// The controller of one run of the business rules: selects the rule set of the note's schema
// package, runs it in catalogue order and stops at the first failing rule.
//
// Exception list: a rule whose code occurs anywhere in ExcecoesDeRegras is skipped (a plain,
// case-sensitive substring test: listing "GB12.1" also skips "GB12"). A list holding "only:"
// (any case) followed by a code runs that rule alone.
//
// The rule objects of a set are built the first time the controller runs it and kept for its
// later runs, so a container that saves note after note builds them once: a run points them to
// its note, its clock and the names it resolves, and takes them back when it ends (also when a
// rule raised).
//
// Not thread-safe: a controller belongs to the thread of the container that owns it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Relogio.h"
#include "base/Types.h"
#include "rules/TqorRule.h"

namespace qor {

class TqorControllerRulesNFCe {
 public:
  TqorControllerRulesNFCe();
  ~TqorControllerRulesNFCe();

  void SetNFCeDataSet(const TLeituraNota* dataSet) { dataSet_ = dataSet; }
  void SetExcecoesDeRegras(const std::string& v) { excecoes_ = v; }
  void SetVersaoEsquema(TVersaoEsquema v) { versaoEsquema_ = v; }
  // The clock the rules that compare dates with the present read (GB09.1, GB09_4, GB09_5,
  // GB28a); empty, the default, means the system clock.
  void SetRelogio(TRelogio relogio) { relogio_ = std::move(relogio); }

  // Runs the set of the schema package on the note, in order, up to the first failing rule.
  void AplicarRegras();
  bool EstaNaListaDeExcecoes(const std::string& codigo) const;

  // The manual version whose rules a schema package follows; pl_008b..pl_008f raise
  // EqorNFCeVersaoManualException.
  static TVersaoManual GetVersaoManualDoEsquema(TVersaoEsquema versao,
                                                const std::string& logDir = {});
  // The rules of a manual version, in the order they run.
  static std::vector<std::unique_ptr<TqorNFCeRule>> CarregarRegras(TVersaoManual versao);

 private:
  // A set's rule objects and the names its runs resolve.
  struct TConjuntoRegras {
    std::vector<std::unique_ptr<TqorNFCeRule>> regras;
    std::vector<TqorNFCeRule*> emEspera;  // consecutive rules of one kind not run yet
    TNomesDaNota nomes;
    bool emUso = false;
  };
  // The set of the version, built on its first run.
  TConjuntoRegras& Conjunto(TVersaoManual versao);
  void Executar(TConjuntoRegras& conjunto);

  const TLeituraNota* dataSet_ = nullptr;
  std::map<TVersaoManual, TConjuntoRegras> conjuntos_;
  std::string excecoes_;
  TVersaoEsquema versaoEsquema_ = TVersaoEsquema::pl_009g;
  TRelogio relogio_;
};

}  // namespace qor
