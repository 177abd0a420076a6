#include "rules/TqorControllerRulesNFCe.h"

#include "conversion/TqorNFCeCustomDataSet.h"
#include "core/Exceptions.h"
#include "platform/Text.h"
#include "rules/CatalogoRegras.h"

namespace qor {

TqorControllerRulesNFCe::TqorControllerRulesNFCe() = default;
TqorControllerRulesNFCe::~TqorControllerRulesNFCe() = default;

TVersaoManual TqorControllerRulesNFCe::GetVersaoManualDoEsquema(TVersaoEsquema versao,
                                                                const std::string& logDir) {
  using V = TVersaoEsquema;
  if (versao <= V::pl_007a) return TVersaoManual::vm50;
  if (versao == V::pl_008a) return TVersaoManual::vm50b;
  if (versao <= V::pl_008f) {
    throw EqorNFCeVersaoManualException(
        "A Versão de Esquema não está referenciada a nenhuma versão de Manual de Integração.",
        logDir);
  }
  if (versao <= V::pl_008i1) return TVersaoManual::vm50b;
  return TVersaoManual::vm60;
}

std::vector<std::unique_ptr<TqorNFCeRule>> TqorControllerRulesNFCe::CarregarRegras(
    TVersaoManual versao) {
  const unsigned conjunto = 1u << static_cast<int>(versao);
  std::vector<std::unique_ptr<TqorNFCeRule>> regras;
  for (std::string_view codigo : OrdemRegras(versao)) {
    for (const TRegraCatalogo& row : CatalogoRegras()) {
      if (row.codigo == codigo && (row.conjuntos & conjunto) != 0) {
        regras.push_back(row.criar(row, versao));
        break;
      }
    }
  }
  return regras;
}

void TqorControllerRulesNFCe::LoadRulesWebSefaz() {
  const std::string logDir = dataSet_ ? dataSet_->GetDiretorioLogErro() : std::string();
  regras_ = CarregarRegras(GetVersaoManualDoEsquema(versaoEsquema_, logDir));
}

bool TqorControllerRulesNFCe::EstaNaListaDeExcecoes(const std::string& codigo) const {
  if (LowerCase(excecoes_).find("only:") != std::string::npos) {
    // The code is the text from the sixth character on, as the list is written "only:CODE";
    // that rule runs, and it alone.
    const std::string unico = excecoes_.size() > 5 ? excecoes_.substr(5) : std::string();
    if (!unico.empty()) return codigo != unico;
  }
  return excecoes_.find(codigo) != std::string::npos;
}

void TqorControllerRulesNFCe::ExecuteRules() {
  for (const auto& regra : regras_) {
    regra->SetDataSet(dataSet_);
    regra->SetRelogio(relogio_);
    if (!EstaNaListaDeExcecoes(regra->GetCodigo())) regra->execute();
  }
}

void TqorControllerRulesNFCe::AplicarRegras() {
  struct Limpeza {
    std::vector<std::unique_ptr<TqorNFCeRule>>& regras;
    ~Limpeza() { regras.clear(); }
  } limpeza{regras_};
  LoadRulesWebSefaz();
  ExecuteRules();
}

}  // namespace qor
