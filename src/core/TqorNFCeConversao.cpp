#include "conversion/TqorNFCeConverter.h"
#include "core/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Xml.h"

namespace qor {

namespace {
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
  const std::string versao =
      GetXMLAttributeByIndex(LoadTemplate("pedido_enviarnota.xml"), "enviNFe", "versao");
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
