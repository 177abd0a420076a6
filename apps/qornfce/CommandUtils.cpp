// qornfce chave / qrcode / logs: the fiscal utilities of the component on the command line.
#include <iostream>
#include <string>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor::cli {

namespace {

TLogFilter ParseFiltro(const std::string& nome) {
  for (int i = 0; i <= static_cast<int>(TLogFilter::lfEnvSincRet); ++i) {
    const auto filtro = static_cast<TLogFilter>(i);
    if (SameText(ToString(filtro).substr(2), nome)) return filtro;
  }
  throw UsageError("filtro de log desconhecido: " + nome +
                   " (use Xml, NFCe, EnvLot, Rec, PedRec, ProRec, Den, CaneveEnv, CaneveRet, "
                   "CaneveSubEnv, CaneveSubRet, PedInu, Inu, PedSit, Sit, PedSta, Sta, Custom, "
                   "EnvSincLot ou EnvSincRet)");
}

}  // namespace

int RunChave(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const auto& args = options.Positional();
  if (args.size() != 8) {
    throw UsageError("esperados 8 argumentos (DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS), recebidos " +
                     std::to_string(args.size()));
  }
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.CalculaChaveNFCe(args[0], args[1], args[2], args[3], args[4], args[5], args[6],
                                     args[7])
            << "\n";
  return 0;
}

int RunQRCode(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const auto& args = options.Positional();
  if (args.size() != 1) throw UsageError("informe um arquivo XML (qornfce qrcode ARQ.xml)");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.GetLinkQRCode(RemoveBOM(ReadInput(args[0]))) << "\n";
  return 0;
}

int RunLogs(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const auto& args = options.Positional();
  if (args.size() > 2) throw UsageError("argumento inesperado: " + args[2]);
  const TLogFilter filtro = args.empty() ? TLogFilter::lfXml : ParseFiltro(args[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TStrings lista;
  nfce.ListarLogs(&lista, filtro, args.size() > 1 ? args[1] : std::string());
  for (const std::string& nome : lista.Lines()) std::cout << nome << "\n";
  return 0;
}

}  // namespace qor::cli
