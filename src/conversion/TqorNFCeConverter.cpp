#include "conversion/TqorNFCeConverter.h"

#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "core/Exceptions.h"
#include "platform/Files.h"
#include "utils/Paths.h"

namespace qor {

void TqorNFCeConverter::SetDiretorioTemplates(const std::string& v) {
  diretorioTemplates_ = v.empty() ? v : FixSlash(v);
}

std::string TqorNFCeConverter::GetTemplateCompletePath(const std::string& name) const {
  const std::string path = ExpandPath(diretorioTemplates_ + "Conversor/" + name);
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
  TqorNFCeConvTXTDataSet parser;
  parser.SetDiretorioLogErro(diretorioLogErro_);
  parser.SetVersaoEsquema(versao);
  parser.SetXMLDicionario(GetTemplateCompletePath("NFCeDataSets.xml"));
  parser.SetTXT(lote);
  return parser.Converter();
}

}  // namespace qor
