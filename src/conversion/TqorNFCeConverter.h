// The converter front: turns a batch in one of the input layouts into the batch of note XML
// texts, with the dictionaries of the template directory's "Conversor" folder.
//
// Not thread-safe.
#pragma once

#include <memory>
#include <string>

#include "base/Types.h"

namespace qor {

class TqorNFCeConvTXTDataSet;
class TqorNFCeDataSets;
class TStrings;

class TqorNFCeConverter {
 public:
  TqorNFCeConverter();
  ~TqorNFCeConverter();

  // The template folder (a separator is appended when missing).
  const std::string& GetDiretorioTemplates() const { return diretorioTemplates_; }
  void SetDiretorioTemplates(const std::string& v);
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }

  // The batch text (or the name of a file holding it) converted: one note XML per line, in
  // save order. Only lkTXTDataSet is a conversion this front makes; another kind raises
  // EqorNFCeConvertDateException "Layout de Conversão Inválido.".
  std::string ConvertToXml(const std::string& lote, TLayoutConvKind kind, TVersaoEsquema versao);
  // The first note of `xml` (note XML, a signed NFe, an nfeProc, a batch) read back into a new
  // container holding it as one saved note, with the dictionary of the template folder; the
  // protocol's eight name=value lines go to `dadosAutorizacao` when given. Failures as
  // TqorNFCeConvXmlToDataset::ConvertDataset raises them.
  std::unique_ptr<TqorNFCeDataSets> ConvertXmlToDataSet(const std::string& xml,
                                                        TVersaoEsquema versao,
                                                        TStrings* dadosAutorizacao = nullptr);
  // Template folder + "Conversor/" + name, expanded; a missing file raises
  // EqorTemplateNotFoundException "Arquivo de template do conversor não encontrado: %s".
  std::string GetTemplateCompletePath(const std::string& name) const;

 private:
  std::string diretorioTemplates_;
  std::string diretorioLogErro_;
  // Kept between batches so an unchanged dictionary is loaded once.
  std::unique_ptr<TqorNFCeConvTXTDataSet> parser_;
};

}  // namespace qor
