// qornfce consultar CHAVE and qornfce validar ARQ.xml COMANDO.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

int RunConsultar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe a chave de acesso");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConsultarNF(options.Positional()[0]) << "\n";
  return 0;
}

int RunValidar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Positional().size() != 2) throw UsageError("informe o arquivo XML e o comando");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string xml = ReadInput(options.Positional()[0]);
  try {
    nfce.ValidarXMLNFCe(xml, options.Positional()[1]);
  } catch (const EqorSchemaValidationException& invalid) {
    std::cerr << invalid.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace qor::cli
