// qornfce <operação> [opções]: the command line over the NFC-e component.
#include <cstring>
#include <iostream>
#include <string>

#include "Commands.h"
#include "Options.h"
#include "SimulatorCommand.h"

namespace {

constexpr const char* kUsage =
    "uso: qornfce <operação> [opções]\n"
    "\n"
    "operações:\n"
    "  status      consulta o status do serviço da SEFAZ da UF configurada\n"
    "  simulador   executa o simulador de homologação em primeiro plano\n"
    "  demo        cria uma pasta de trabalho, inicia o simulador e percorre o caminho da NFC-e\n"
    "\n"
    "Use \"qornfce <operação> --help\" para as opções de cada operação.\n"
    "Códigos de saída: 0 sucesso, 1 a operação falhou (mensagem em stderr), 2 uso incorreto.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? 2 : 0;
  }
  const std::string operation = argv[1];
  try {
    if (operation == "status") return qor::cli::RunStatus(argc, argv);
    if (operation == "demo") return qor::cli::RunDemo(argc, argv);
    if (operation == "simulador") return qor::sim::RunSimulatorCommand(argc - 1, argv + 1);
  } catch (const qor::cli::UsageError& error) {
    std::cerr << "qornfce " << operation << ": " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  std::cerr << "qornfce: operação desconhecida: " << operation << "\n\n" << kUsage;
  return 2;
}
