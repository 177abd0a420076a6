// TqorNFCeDanfce: the print class between the component and the report engine. It reads the
// print parameter text (Params, "name=value" lines), builds the report data of the XML with the
// data builder of its manual version, gives each note its QR-code link, and drives the engine:
// print on a CUPS queue, a PNG preview, an export to PDF, HTML, TXT or PNG, or the layout check.
//
// Each of Imprimir, Visualizar, Exportar and Editar runs LoadParams, PopulaDataSet, the engine
// call and ClearDataSet. Any failure is raised as EqorException with the same message and
// DiretorioLogErro (the refusals of the data builder and of the parameters keep their own
// class: EqorNFCeReportException, EqorNFCeConfigException).
//
// Not thread-safe: one object per component.
#pragma once

#include <memory>
#include <string>

#include "base/Types.h"
#include "danfce/TqorNFCeDanfceDados.h"

namespace qor {

class TqorGovX;

class TqorNFCeDanfce {
 public:
  TqorNFCeDanfce();
  TqorNFCeDanfce(const TqorNFCeDanfce&) = delete;
  TqorNFCeDanfce& operator=(const TqorNFCeDanfce&) = delete;
  ~TqorNFCeDanfce();

  TVersaoManual GetVersao() const { return versao_; }
  // Replaces the data builder by the one of `versao` (vm50, vm50a, vm50b: the 5.0 builder; vm60:
  // the 6.0 one) with the default phrases.
  void SetVersao(TVersaoManual versao);
  TqorNFCeDanfceDados& GetDados() { return *dados_; }
  const std::string& GetXML() const { return xml_; }
  void SetXML(const std::string& xml) { xml_ = xml; }
  const std::string& GetParams() const { return params_; }
  void SetParams(const std::string& params) { params_ = params; }
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }

  void Imprimir();
  // The PNG image of the report, written in `pasta`; returns its path.
  std::string Visualizar(const std::string& pasta);
  void Exportar();
  // Loads and checks the layout and returns its path.
  std::string Editar();

  // Applies Params to the builder and to the engine's settings; chooses the layout by the tpImp
  // of the XML. A layout that does not exist raises "Arquivo \"%s\" não encontrado.".
  void LoadParams();
  // Builds the report data, gives each note its QR-code link and hands the serialised data to
  // the engine.
  void PopulaDataSet();
  void ClearDataSet();

  // The engine's services object (made on first use, one copy).
  TqorGovX& GetGov();

 private:
  template <typename Body>
  auto Executar(Body&& body) -> decltype(body());
  // The QR-code link of the current Dados record, `nota` being its note's text.
  std::string GerarURLQrCode(const std::string& nota);

  TVersaoManual versao_ = TVersaoManual::vm60;
  std::unique_ptr<TqorNFCeDanfceDados> dados_;
  std::unique_ptr<TqorGovX> gov_;
  std::string xml_, params_, diretorioLogErro_;
  std::string modeloNormal_, modeloMensagemEletronica_;
  std::string ufConfigIni_, urlSefazProd_, urlSefazHom_, tokenNFCe_, idTokenNFCe_;
  std::string paramsAvancados_;
  std::string larguraBobina_ = "80";
};

}  // namespace qor
