// qornfce converter ARQ.tx2 [--esquema pl_009g]: the TX2 batch converted into note XML; "-" reads
// the batch from standard input.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"

namespace qor::cli {

namespace {
TVersaoEsquema ParseEsquema(const std::string& text) {
  for (int v = 0; v <= static_cast<int>(TVersaoEsquema::pl_009g); ++v) {
    if (ToString(static_cast<TVersaoEsquema>(v)) == text) return static_cast<TVersaoEsquema>(v);
  }
  throw UsageError("esquema desconhecido: " + text + " (pl_006n ... pl_009g)");
}

// The TX2 text of standard input ("-") or of the file named (ReadInput refuses a name that is not
// a readable regular file, which the component would read as TX2 text).
std::string Entrada(const std::string& nome) {
  std::string texto = ReadInput(nome);
  // Text of one line without a break would be taken for a file name.
  if (texto.find_first_of("\r\n") == std::string::npos) texto += "\n";
  return texto;
}
}  // namespace

int RunConverter(int argc, char** argv) {
  auto valued = ComponentValuedOptions();
  valued.insert("esquema");
  const Options options(argc, argv, 2, valued, ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo TX2");
  const TVersaoEsquema esquema = ParseEsquema(options.Get("esquema", "pl_009g"));
  const std::string entrada = Entrada(options.Positional()[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConverterLoteParaXml(entrada, TLayoutConvKind::lkTXTDataSet, esquema);
  return 0;
}

}  // namespace qor::cli
