// The TX2 parser: reads the host's TX2 text line by line into a TqorNFCeDataSets and returns
// the batch of notes it saved.
//
// A line is a command (INCLUIR, INCLUIRITEM, SALVARITEM, INCLUIRCOBRANCA, SALVARCOBRANCA,
// SALVAR, CANCELAR, INCLUIRPARTE=<group>, SALVARPARTE=<group>; the key before "=" trimmed and
// compared case-sensitively) or an assignment "field=value": the value is trimmed and its five
// XML special characters escaped (an entity already escaped in the input is kept as it was).
// Empty lines are skipped. A failure on an assignment line is raised as
// EqorNFCeConvTX2Exception naming the zero-based line index, the line and the cause; a failure
// on a command line passes unchanged. A line holding a control character (a tab only inside the
// name or the value), U+FFFE or U+FFFF is refused the same way, naming the field and the column.
// Any error aborts the whole batch.
//
// A parser may convert several texts: the container it filled is kept and reused while the
// schema version, the dictionary path and the dictionary file stay the same (it is emptied
// first), so the dictionary is not loaded again for every batch.
//
// Not thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "conversion/TqorNFCeDataSets.h"

namespace qor {

class TqorNFCeConvTXTDataSet {
 public:
  TqorNFCeConvTXTDataSet();
  ~TqorNFCeConvTXTDataSet();

  void SetVersaoEsquema(TVersaoEsquema v) { versaoEsquema_ = v; }
  void SetXMLDicionario(const std::string& path) { xmlDicionario_ = path; }
  void SetDiretorioLogErro(const std::string& v);
  // The text to convert, or the name of a file holding it. An empty result raises
  // EqorNFCeDataSetsException "Conteúdo a ser convertido é inválido.". A leading UTF-8 byte-order
  // mark is skipped; a text that is not valid UTF-8 is read whole as Windows-1252.
  void SetTXT(const std::string& value);

  // The notes saved, each XML text followed by a line break, in save order.
  std::string Converter();
  // Parses and hands the filled container over.
  void Converter(std::unique_ptr<TqorNFCeDataSets>& out);

  // The container the text is parsed into (its rule switches and exception list are kept
  // across conversions).
  TqorNFCeDataSets& DataSets() { return *dataSets_; }

  // XML-escapes a TX2 value, keeping entities that were already escaped.
  static std::string EscaparValor(std::string_view value);

 private:
  void PopulaDataset();
  void ExecutarLinha(std::string_view line);
  // Refuses a line holding a character no note may hold, naming the line (`index`) and field.
  void VerificarCaracteres(std::string_view line, std::size_t index) const;

  std::string texto_;             // the text being converted, in UTF-8
  bool verificarLinhas_ = false;  // whether texto_ may hold a character VerificarCaracteres refuses
  std::string xmlDicionario_;
  TVersaoEsquema versaoEsquema_ = TVersaoEsquema::pl_009g;
  std::string diretorioLogErro_;
  std::unique_ptr<TqorNFCeDataSets> dataSets_;
  // What dataSets_ was last loaded with; `carregado` false until then.
  struct {
    bool carregado = false;
    TVersaoEsquema versao{};
    std::string dicionario;
    std::chrono::system_clock::time_point idade{};
  } carga_;
};

}  // namespace qor
