// qornfce assinar ARQ.xml and qornfce assinar-evento ARQ.xml: notes and events signed with the
// company's certificate, one signed document per line.
#include <iostream>
#include <string>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Xml.h"

namespace qor::cli {

namespace {

// The text of the file named on the command line, or of standard input for "-".
std::string Entrada(const Options& options) {
  if (options.Positional().size() != 1) throw UsageError("informe um arquivo XML (ou - )");
  return RemoveBOM(ReadInput(options.Positional()[0]));
}

// The signed documents (concatenated, each ending in `fim`) written one per line.
void UmPorLinha(const std::string& assinados, const std::string& fim) {
  std::size_t inicio = 0;
  for (std::size_t at = assinados.find(fim); at != std::string::npos;
       at = assinados.find(fim, inicio)) {
    std::cout << assinados.substr(inicio, at + fim.size() - inicio) << "\n";
    inicio = at + fim.size();
  }
  if (inicio < assinados.size()) std::cout << assinados.substr(inicio) << "\n";
}

}  // namespace

int RunAssinar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const std::string entrada = Entrada(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  UmPorLinha(nfce.AssinarNota(entrada), "</NFe>");
  return 0;
}

int RunAssinarEvento(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const std::string entrada = Entrada(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  UmPorLinha(nfce.AssinarEvento(entrada), "</evento>");
  return 0;
}

}  // namespace qor::cli
