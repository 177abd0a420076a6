// qornfce converter ARQ.tx2 [--esquema pl_009g]: the TX2 batch converted into note XML.
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
}  // namespace

int RunConverter(int argc, char** argv) {
  auto valued = ComponentValuedOptions();
  valued.insert("esquema");
  const Options options(argc, argv, 2, valued, ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo TX2");
  const TVersaoEsquema esquema = ParseEsquema(options.Get("esquema", "pl_009g"));
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConverterLoteParaXml(FromCurrentDir(options.Positional()[0]),
                                         TLayoutConvKind::lkTXTDataSet, esquema);
  return 0;
}

}  // namespace qor::cli
