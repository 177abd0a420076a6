#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"

namespace qor::cli {

int RunStatus(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (!options.Positional().empty())
    throw UsageError("argumento inesperado: " + options.Positional()[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.StatusDoServico() << "\n";
  return 0;
}

}  // namespace qor::cli
