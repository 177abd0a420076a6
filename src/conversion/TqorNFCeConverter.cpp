#include "conversion/TqorNFCeConverter.h"

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConvXmlToDataset.h"
#include "conversion/TqorNFCeDataSets.h"
#include "platform/Files.h"
#include "platform/InstallationFolders.h"
#include "utils/Paths.h"

namespace qor {

TqorNFCeConverter::TqorNFCeConverter() = default;
TqorNFCeConverter::~TqorNFCeConverter() = default;

void TqorNFCeConverter::SetDiretorioTemplates(const std::string& v) {
  diretorioTemplates_ = v.empty() ? v : FixSlash(v);
}

std::string TqorNFCeConverter::GetTemplateCompletePath(const std::string& name) const {
  const std::string path = ExpandDataPath(diretorioTemplates_ + "Conversor/" + name);
  if (!FileExists(path)) {
    throw EqorTemplateNotFoundException("Arquivo de template do conversor não encontrado: %s",
                                        {path}, diretorioLogErro_);
  }
  return path;
}

std::string TqorNFCeConverter::ConvertToXml(const std::string& lote, TLayoutConvKind kind,
                                            TVersaoEsquema versao) {
  if (kind != TLayoutConvKind::lkTXTDataSet) {
    throw EqorNFCeConvertDateException("Layout de Conversão Inválido.", diretorioLogErro_);
  }
  const std::string dicionario = GetTemplateCompletePath("NFCeDataSets.xml");
  if (!parser_) parser_ = std::make_unique<TqorNFCeConvTXTDataSet>();
  parser_->SetDiretorioLogErro(diretorioLogErro_);
  parser_->SetVersaoEsquema(versao);
  parser_->SetXMLDicionario(dicionario);
  parser_->SetTXT(lote);
  return parser_->Converter();
}

std::unique_ptr<TqorNFCeDataSets> TqorNFCeConverter::ConvertXmlToDataSet(
    const std::string& xml, TVersaoEsquema versao, TStrings* dadosAutorizacao) {
  TqorNFCeConvXmlToDataset leitor;
  leitor.SetDiretorioLogErro(diretorioLogErro_);
  leitor.SetVersaoEsquema(versao);
  leitor.setXmlDicionario(GetTemplateCompletePath("NFCeDataSets.xml"));
  leitor.setXML(xml);
  std::unique_ptr<TqorNFCeDataSets> dataSets = leitor.ConvertDataset();
  if (dadosAutorizacao != nullptr) {
    dadosAutorizacao->Clear();
    dadosAutorizacao->AddStrings(leitor.GetDadosAutorizacao());
  }
  return dataSets;
}

}  // namespace qor
