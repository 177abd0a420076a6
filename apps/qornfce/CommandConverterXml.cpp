// qornfce converter-xml ARQ.xml [--esquema pl_009g] [--formato tx2|xml|autorizacao]: the first
// note of an XML (a note, a signed NFe, an nfeProc) read back into the datasets and written as
// TX2 (the default), as the note XML the datasets give again, or as the protocol's eight
// name=value lines; "-" reads the XML from standard input.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"

namespace qor::cli {

int RunConverterXml(int argc, char** argv) {
  auto valued = ComponentValuedOptions();
  valued.insert("esquema");
  valued.insert("formato");
  const Options options(argc, argv, 2, valued, ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo XML");
  const std::string nomeEsquema = options.Get("esquema", "pl_009g");
  int esquema = 0;
  while (esquema <= static_cast<int>(TVersaoEsquema::pl_009g) &&
         ToString(static_cast<TVersaoEsquema>(esquema)) != nomeEsquema) {
    ++esquema;
  }
  if (esquema > static_cast<int>(TVersaoEsquema::pl_009g)) {
    throw UsageError("esquema desconhecido: " + nomeEsquema + " (pl_006n ... pl_009g)");
  }
  const std::string formato = options.Get("formato", "tx2");
  if (formato != "tx2" && formato != "xml" && formato != "autorizacao") {
    throw UsageError("formato desconhecido: " + formato + " (tx2, xml, autorizacao)");
  }
  // The text, never a name: ReadInput refuses a name that is not a readable file.
  const std::string xml = ReadInput(options.Positional()[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TStrings autorizacao;
  const auto dataSets =
      nfce.ConverteXmlparaDataSet(xml, static_cast<TVersaoEsquema>(esquema), &autorizacao);
  if (formato == "tx2") {
    std::cout << dataSets->GerarTX2();
  } else if (formato == "xml") {
    std::cout << dataSets->GetLoteNFCe()[0] << "\n";
  } else {
    for (const std::string& linha : autorizacao.Lines()) std::cout << linha << "\n";
  }
  return 0;
}

}  // namespace qor::cli
