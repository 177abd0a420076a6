// qornfce <operação> [opções]: the command line over the NFC-e component.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "SimulatorCommand.h"

namespace {

constexpr const char* kUsage =
    "uso: qornfce <operação> [opções]\n"
    "\n"
    "operações:\n"
    "  status      consulta o status do serviço da SEFAZ da UF configurada\n"
    "  enviar      envia um lote de NFC-e assinadas (assíncrono): LOTE ARQ.xml [--compactar]\n"
    "  enviar-sincrono  envia uma NFC-e assinada (síncrono): LOTE ARQ.xml [--compactar]\n"
    "  consultar-recibo consulta o processamento de um lote: RECIBO\n"
    "  consultar   consulta a situação de uma NFC-e na SEFAZ: CHAVE\n"
    "  validar     valida um XML pelo esquema de um comando: ARQ.xml COMANDO (ex.: STATUS)\n"
    "  configurar  grava valores no arquivo de configuração ou o mostra (--mostrar)\n"
    "  converter   converte um lote TX2 em XML de NFC-e: ARQ.tx2 [--esquema pl_009g]\n"
    "  assinar     assina as NFC-e de um XML e escreve uma NFe por linha: ARQ.xml (- lê stdin)\n"
    "  assinar-evento  assina os eventos (infEvento) de um XML, um por linha: ARQ.xml\n"
    "  chave       calcula a chave de acesso: DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS\n"
    "  qrcode      escreve o link do QR Code de uma NFC-e assinada: ARQ.xml\n"
    "  logs        lista os arquivos de log: [FILTRO] [TEXTO] (ex.: logs EnvLot 4115)\n"
    "  simulador   executa o simulador de homologação em primeiro plano\n"
    "  demo        cria uma pasta de trabalho, inicia o simulador e percorre o caminho da NFC-e\n"
    "\n"
    "Use \"qornfce <operação> --help\" para as opções de cada operação.\n"
    "--config ARQ.ini (antes ou depois da operação) escolhe o arquivo de configuração.\n"
    "Códigos de saída: 0 sucesso, 1 a operação falhou (mensagem em stderr), 2 uso incorreto.\n";

}  // namespace

int main(int argc, char** argv) {
  // "qornfce --config FILE <operação> ..." is read as "qornfce <operação> ... --config FILE".
  std::vector<char*> args(argv, argv + argc);
  if (argc >= 3 && std::strcmp(argv[1], "--config") == 0) {
    std::rotate(args.begin() + 1, args.begin() + 3, args.end());
    argv = args.data();
  }
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << kUsage;
    return argc < 2 ? 2 : 0;
  }
  const std::string operation = argv[1];
  try {
    if (operation == "status") return qor::cli::RunStatus(argc, argv);
    if (operation == "demo") return qor::cli::RunDemo(argc, argv);
    if (operation == "consultar") return qor::cli::RunConsultar(argc, argv);
    if (operation == "validar") return qor::cli::RunValidar(argc, argv);
    if (operation == "configurar") return qor::cli::RunConfigurar(argc, argv);
    if (operation == "enviar") return qor::cli::RunEnviar(argc, argv);
    if (operation == "enviar-sincrono") return qor::cli::RunEnviarSincrono(argc, argv);
    if (operation == "consultar-recibo") return qor::cli::RunConsultarRecibo(argc, argv);
    if (operation == "converter") return qor::cli::RunConverter(argc, argv);
    if (operation == "assinar") return qor::cli::RunAssinar(argc, argv);
    if (operation == "assinar-evento") return qor::cli::RunAssinarEvento(argc, argv);
    if (operation == "chave") return qor::cli::RunChave(argc, argv);
    if (operation == "qrcode") return qor::cli::RunQRCode(argc, argv);
    if (operation == "logs") return qor::cli::RunLogs(argc, argv);
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
