// The printing options of the component: the DANFCE report (TDanfceSettings) and the thermal
// receipt printer (TEscPosSettings). Plain values with the defaults a new component prints with;
// the INI configuration loads and saves them key by key and LoadDanfceSettings turns them into
// the print parameter text.
//
// Not thread-safe: owned by one component.
#pragma once

#include <string>

#include "base/Types.h"

namespace qor {

class TDanfceSettings {
 public:
  // The two template paths are made absolute here, in the installation data (DataDir).
  TDanfceSettings();
  virtual ~TDanfceSettings() = default;

  const std::string& GetFraseContingencia() const { return fraseContingencia_; }
  void SetFraseContingencia(const std::string& v) { fraseContingencia_ = v; }
  const std::string& GetFraseHomologacao() const { return fraseHomologacao_; }
  void SetFraseHomologacao(const std::string& v) { fraseHomologacao_ = v; }
  int GetQtdeCopias() const { return qtdeCopias_; }
  void SetQtdeCopias(int v) { qtdeCopias_ = v; }
  const std::string& GetLogotipoEmitente() const { return logotipoEmitente_; }
  void SetLogotipoEmitente(const std::string& v) { logotipoEmitente_ = v; }
  // The marker that stands for a line break in free texts ("|").
  const std::string& GetLineDelimiter() const { return lineDelimiter_; }
  void SetLineDelimiter(const std::string& v) { lineDelimiter_ = v; }
  int GetInfCplMaxCol() const { return infCplMaxCol_; }
  void SetInfCplMaxCol(int v) { infCplMaxCol_ = v; }
  int GetInfCplMaxRow() const { return infCplMaxRow_; }
  void SetInfCplMaxRow(int v) { infCplMaxRow_ = v; }
  const std::string& GetModeloDanfce() const { return modeloDanfce_; }
  void SetModeloDanfce(const std::string& v) { modeloDanfce_ = v; }
  const std::string& GetModeloDanfceMensagemEletronica() const {
    return modeloDanfceMensagemEletronica_;
  }
  void SetModeloDanfceMensagemEletronica(const std::string& v) {
    modeloDanfceMensagemEletronica_ = v;
  }
  TFormatoDanfce GetFormatoDanfce() const { return formatoDanfce_; }
  void SetFormatoDanfce(TFormatoDanfce v) { formatoDanfce_ = v; }
  bool GetExibirDetalhamento() const { return exibirDetalhamento_; }
  void SetExibirDetalhamento(bool v) { exibirDetalhamento_ = v; }
  bool GetExibirAcrescimoEDesconto() const { return exibirAcrescimoEDesconto_; }
  void SetExibirAcrescimoEDesconto(bool v) { exibirAcrescimoEDesconto_ = v; }
  // The CSC token and its identifier (secrets: stored protected in the configuration file).
  const std::string& GetTokenNFCe() const { return tokenNFCe_; }
  void SetTokenNFCe(const std::string& v) { tokenNFCe_ = v; }
  const std::string& GetIdTokenNFCe() const { return idTokenNFCe_; }
  void SetIdTokenNFCe(const std::string& v) { idTokenNFCe_ = v; }
  // Free "name=value" pairs separated by semicolons.
  const std::string& GetParamsAvancados() const { return paramsAvancados_; }
  void SetParamsAvancados(const std::string& v) { paramsAvancados_ = v; }
  bool GetInfCplQuebrarLinhaAut() const { return infCplQuebrarLinhaAut_; }
  void SetInfCplQuebrarLinhaAut(bool v) { infCplQuebrarLinhaAut_ = v; }
  bool GetImprimirFrete() const { return imprimirFrete_; }
  void SetImprimirFrete(bool v) { imprimirFrete_ = v; }
  bool GetImprimirFreteProduto() const { return imprimirFreteProduto_; }
  void SetImprimirFreteProduto(bool v) { imprimirFreteProduto_ = v; }

 private:
  std::string fraseContingencia_;
  std::string fraseHomologacao_;
  int qtdeCopias_ = 1;
  std::string logotipoEmitente_;
  std::string lineDelimiter_;
  int infCplMaxCol_ = 68;
  int infCplMaxRow_ = 7;
  std::string modeloDanfce_;
  std::string modeloDanfceMensagemEletronica_;
  TFormatoDanfce formatoDanfce_ = TFormatoDanfce::fdNormal;
  bool exibirDetalhamento_ = false;
  bool exibirAcrescimoEDesconto_ = false;
  std::string tokenNFCe_;
  std::string idTokenNFCe_;
  std::string paramsAvancados_;
  bool infCplQuebrarLinhaAut_ = false;
  bool imprimirFrete_ = false;
  bool imprimirFreteProduto_ = false;
};

class TEscPosSettings {
 public:
  virtual ~TEscPosSettings() = default;

  int GetModeloEscPos() const { return modeloEscPos_; }
  void SetModeloEscPos(int v) { modeloEscPos_ = v; }
  const std::string& GetPortaEscPos() const { return portaEscPos_; }
  void SetPortaEscPos(const std::string& v) { portaEscPos_ = v; }
  int GetColunasFonteNormalEscPos() const { return colunasFonteNormalEscPos_; }
  void SetColunasFonteNormalEscPos(int v) { colunasFonteNormalEscPos_ = v; }
  int GetEspacoEntreLinhasEscPos() const { return espacoEntreLinhasEscPos_; }
  void SetEspacoEntreLinhasEscPos(int v) { espacoEntreLinhasEscPos_ = v; }
  int GetLinhasEntreCuponsEscPos() const { return linhasEntreCuponsEscPos_; }
  void SetLinhasEntreCuponsEscPos(int v) { linhasEntreCuponsEscPos_ = v; }
  bool GetCortaPapelEscPos() const { return cortaPapelEscPos_; }
  void SetCortaPapelEscPos(bool v) { cortaPapelEscPos_ = v; }
  int GetPaginaDeCodigoEscPos() const { return paginaDeCodigoEscPos_; }
  void SetPaginaDeCodigoEscPos(int v) { paginaDeCodigoEscPos_ = v; }
  int GetQtdeCopiasEscPos() const { return qtdeCopiasEscPos_; }
  void SetQtdeCopiasEscPos(int v) { qtdeCopiasEscPos_ = v; }
  bool GetResumidoEscPos() const { return resumidoEscPos_; }
  void SetResumidoEscPos(bool v) { resumidoEscPos_ = v; }
  bool GetImprimeDescAcrescItemEscPos() const { return imprimeDescAcrescItemEscPos_; }
  void SetImprimeDescAcrescItemEscPos(bool v) { imprimeDescAcrescItemEscPos_ = v; }
  bool GetImprimeNomeFantasiaEscPos() const { return imprimeNomeFantasiaEscPos_; }
  void SetImprimeNomeFantasiaEscPos(bool v) { imprimeNomeFantasiaEscPos_ = v; }

 private:
  int modeloEscPos_ = 1;
  std::string portaEscPos_;
  int colunasFonteNormalEscPos_ = 48;
  int espacoEntreLinhasEscPos_ = 10;
  int linhasEntreCuponsEscPos_ = 3;
  bool cortaPapelEscPos_ = true;
  int paginaDeCodigoEscPos_ = 2;
  int qtdeCopiasEscPos_ = 1;
  bool resumidoEscPos_ = false;
  bool imprimeDescAcrescItemEscPos_ = false;
  bool imprimeNomeFantasiaEscPos_ = false;
};

// `path` made absolute in the read-only data (ExpandDataPath), with a manual-version folder
// ("Vm60") written in the case of the folder that exists on disk, or else in the lower case the
// component creates ("vm60"): folder names differ by case on this system, the configured texts
// do not.
std::string ExpandPathPastaVersao(const std::string& path);

}  // namespace qor
