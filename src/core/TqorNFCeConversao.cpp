#include "base/Exceptions.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
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
  std::string modelo = LoadTemplate("pedido_enviarnota.xml");
  if (templateDaVersaoNota_.empty() || modelo != templateDaVersaoNota_) {
    versaoNota_ = GetXMLAttributeByIndex(modelo, "enviNFe", "versao");
    templateDaVersaoNota_ = std::move(modelo);
  }
  const std::string& versao = versaoNota_;
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

std::unique_ptr<TqorNFCeDataSets> TqorNFCe::ConverteXmlparaDataSet(const std::string& xml,
                                                                   TVersaoEsquema versao,
                                                                   TStrings* dadosAutorizacao) {
  return RunOperation("ConverterXmlParaDataSet", [&] {
    try {
      // A document starts with "<" (after a byte-order mark or blanks); a file name has none.
      const bool arquivo = xml.find('<') == std::string::npos && FileExists(xml);
      TqorNFCeConverter& conversor = GetConversor();
      conversor.SetDiretorioTemplates(GetDiretorioTemplates());
      conversor.SetDiretorioLogErro(GetDiretorioLogErro());
      return conversor.ConvertXmlToDataSet(arquivo ? LoadFromFile(xml) : xml, versao,
                                           dadosAutorizacao);
    } catch (const std::exception& causa) {
      throw EqorNFCeDataSetsException(
          std::string("Ocorreu um erro durante a conversão do XML com a seguinte mensagem: ") +
              causa.what(),
          GetDiretorioLogErro());
    }
  });
}

}  // namespace qor
