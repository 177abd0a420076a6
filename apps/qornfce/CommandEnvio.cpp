// qornfce enviar LOTE ARQ.xml, enviar-sincrono LOTE ARQ.xml and consultar-recibo RECIBO.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

namespace {

int Enviar(int argc, char** argv, bool sincrono) {
  auto flags = ComponentFlags();
  flags.insert("compactar");
  const Options options(argc, argv, 2, ComponentValuedOptions(), flags);
  if (options.Positional().size() != 2) throw UsageError("informe o número do lote e o arquivo");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string notas = ReadInput(options.Positional()[1]);
  const std::string& lote = options.Positional()[0];
  const bool compactar = options.Has("compactar");
  std::cout << (sincrono ? nfce.EnviarNFSincrono(lote, notas, compactar)
                         : nfce.EnviarNF(lote, notas, compactar))
            << "\n";
  return 0;
}

}  // namespace

int RunEnviar(int argc, char** argv) { return Enviar(argc, argv, false); }
int RunEnviarSincrono(int argc, char** argv) { return Enviar(argc, argv, true); }

int RunConsultarRecibo(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o número do recibo");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConsultarRecibo(options.Positional()[0]) << "\n";
  return 0;
}

}  // namespace qor::cli
