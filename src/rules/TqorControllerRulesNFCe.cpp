#include "rules/TqorControllerRulesNFCe.h"

#include <string_view>

#include "base/Exceptions.h"
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

TqorControllerRulesNFCe::TConjuntoRegras& TqorControllerRulesNFCe::Conjunto(TVersaoManual versao) {
  TConjuntoRegras& conjunto = conjuntos_[versao];
  if (conjunto.regras.empty()) conjunto.regras = CarregarRegras(versao);
  return conjunto;
}

bool TqorControllerRulesNFCe::EstaNaListaDeExcecoes(const std::string& codigo) const {
  if (ContainsText(excecoes_, "only:")) {
    // The code is the text from the sixth character on, as the list is written "only:CODE";
    // that rule runs, and it alone.
    const std::string_view unico =
        excecoes_.size() > 5 ? std::string_view(excecoes_).substr(5) : std::string_view();
    if (!unico.empty()) return codigo != unico;
  }
  return excecoes_.find(codigo) != std::string::npos;
}

void TqorControllerRulesNFCe::AplicarRegras() {
  const std::string logDir = dataSet_ ? dataSet_->GetDiretorioLogErro() : std::string();
  const TVersaoManual versao = GetVersaoManualDoEsquema(versaoEsquema_, logDir);
  TConjuntoRegras& conjunto = Conjunto(versao);
  if (!conjunto.emUso) return Executar(conjunto);
  // A run started from inside a run of the same set (a host's clock that saves another note
  // through this container) gets rule objects of its own.
  TConjuntoRegras proprio;
  proprio.regras = CarregarRegras(versao);
  Executar(proprio);
}

void TqorControllerRulesNFCe::Executar(TConjuntoRegras& conjunto) {
  // The rules keep no pointer to this run's note or clock once it ends.
  struct Devolucao {
    TConjuntoRegras& conjunto;
    ~Devolucao() {
      for (const auto& regra : conjunto.regras) {
        regra->SetDataSet(nullptr);
        regra->SetRelogio(nullptr);
        regra->SetNomes(nullptr);
      }
      conjunto.nomes.Iniciar(nullptr);
      conjunto.emEspera.clear();
      conjunto.emUso = false;
    }
  } devolucao{conjunto};
  conjunto.emUso = true;
  conjunto.nomes.Iniciar(dataSet_);
  for (const auto& regra : conjunto.regras) {
    regra->SetDataSet(dataSet_);
    regra->SetRelogio(relogio_);
    regra->SetNomes(&conjunto.nomes);
  }
  // Consecutive rules of a kind that runs together (those walking the items) run in one go,
  // which reports what running them one by one would.
  std::vector<TqorNFCeRule*>& emEspera = conjunto.emEspera;
  TqorNFCeRule::TExecucaoConjunta executarEmEspera = nullptr;
  const auto executarPendentes = [&] {
    if (executarEmEspera) executarEmEspera(emEspera);
    emEspera.clear();
  };
  for (const auto& regra : conjunto.regras) {
    if (EstaNaListaDeExcecoes(regra->GetCodigo())) continue;
    const TqorNFCeRule::TExecucaoConjunta conjunta = regra->ExecucaoConjunta();
    if (conjunta != executarEmEspera) executarPendentes();
    executarEmEspera = conjunta;
    if (conjunta) {
      emEspera.push_back(regra.get());
    } else {
      regra->execute();
    }
  }
  executarPendentes();
}

}  // namespace qor
