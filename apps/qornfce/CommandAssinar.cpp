// qornfce assinar ARQ.xml and qornfce assinar-evento ARQ.xml: notes and events signed with the
// company's certificate, one signed document per line.
#include <iostream>
#include <iterator>
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
  const std::string nome = options.Positional()[0];
  if (nome == "-") {
    return RemoveBOM(std::string(std::istreambuf_iterator<char>(std::cin), {}));
  }
  const std::string arquivo = FromCurrentDir(nome);
  if (!FileExists(arquivo)) throw UsageError("arquivo não encontrado: " + nome);
  return RemoveBOM(LoadFromFile(arquivo));
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

bool Ajuda(const Options& options, const char* uso) {
  if (!options.Has("help")) return false;
  std::cout << uso << "\n" << ComponentOptionsHelp();
  return true;
}

}  // namespace

int RunAssinar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (Ajuda(options,
            "uso: qornfce assinar ARQ.xml [opções]\n"
            "Assina as NFC-e do arquivo (um lote enviNFe, uma NFe, ou as notas que o comando\n"
            "converter escreve, uma por linha; \"-\" lê a entrada padrão) e escreve cada NFe\n"
            "assinada, com seu infNFeSupl (QR Code e, no manual 6.0, urlChave), em uma linha.\n"
            "Certificado, UF, arquivos de servidores, CSC (DANFCE.IdTokenNFCe/TokenNFCe) e\n"
            "CSRT (NFCE.IdCSRT/CSRT) vêm da configuração e das opções.\n")) {
    return 0;
  }
  const std::string entrada = Entrada(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  UmPorLinha(nfce.AssinarNota(entrada), "</NFe>");
  return 0;
}

int RunAssinarEvento(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (Ajuda(options,
            "uso: qornfce assinar-evento ARQ.xml [opções]\n"
            "Assina cada infEvento do arquivo (\"-\" lê a entrada padrão) dentro de um evento\n"
            "versão 1.00 e escreve cada evento assinado em uma linha.\n")) {
    return 0;
  }
  const std::string entrada = Entrada(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  UmPorLinha(nfce.AssinarEvento(entrada), "</evento>");
  return 0;
}

}  // namespace qor::cli
