#include "conversion/TqorNFCeConverter.h"
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Xml.h"

namespace qor {

namespace {
// The version attribute of the batch template's enviNFe; the text last read is kept with its
// version (per thread), so converting note after note does not parse the same template again.
std::string VersaoDoTemplate(const std::string& modelo) {
  thread_local std::string ultimoModelo;
  thread_local std::string ultimaVersao;
  if (ultimoModelo.empty() || modelo != ultimoModelo) {
    ultimaVersao = GetXMLAttributeByIndex(modelo, "enviNFe", "versao");
    ultimoModelo = modelo;
  }
  return ultimaVersao;
}

const char* SufixoConversao(TLayoutConvKind kind) {
  switch (kind) {
    case TLayoutConvKind::lkTXTDic:
      return "_DIC";
    case TLayoutConvKind::lkTXTDataSet:
      return "_TX2";
    case TLayoutConvKind::lkTXTRec:
      return "_REC";
  }
  return "";
}
}  // namespace

TqorNFCeConverter& TqorNFCe::GetConversor() {
  if (!conversor_) {
    conversor_ = std::make_unique<TqorNFCeConverter>();
    conversor_->SetDiretorioTemplates(GetDiretorioTemplates());
  }
  return *conversor_;
}

std::string TqorNFCe::GetVersaoNota() {
  const std::string versao = VersaoDoTemplate(LoadTemplate("pedido_enviarnota.xml"));
  if (versao.empty()) {
    throw EqorNFCeException("O template pedido_enviarnota.xml não possui o atributo versao.",
                            GetDiretorioLogErro());
  }
  return versao;
}

std::string TqorNFCe::ConverterLoteParaXml(const std::string& lote, TLayoutConvKind kind,
                                           TVersaoEsquema versao) {
  return RunOperation(std::string("ConverterLoteParaXml") + SufixoConversao(kind), [&] {
    TqorNFCeConverter& conversor = GetConversor();
    conversor.SetDiretorioTemplates(GetDiretorioTemplates());
    conversor.SetDiretorioLogErro(GetDiretorioLogErro());
    GetVersaoNota();
    return conversor.ConvertToXml(lote, kind, versao);
  });
}

}  // namespace qor
