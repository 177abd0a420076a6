// The subcommands of the qornfce command line. The table below is the only list of them: the
// general usage text, the dispatch and each subcommand's --help all come from it, so adding a
// subcommand means adding one row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor::cli {

// Runs a subcommand: argv[1] is its name, its arguments follow. Returns the process exit code
// (0 success, 1 the operation raised, 2 bad usage); a UsageError thrown is bad usage, any other
// exception a failure.
using CommandRun = int (*)(int argc, char** argv);

struct Command {
  std::string name;
  std::string summary;  // one line of the general usage text
  std::string usage;    // what `qornfce <name> --help` prints
  CommandRun run;
};

// The table, in the order the general usage lists it.
const std::vector<Command>& Commands();
// The row named `name`, or nullptr.
const Command* FindCommand(std::string_view name);
// What `qornfce --help` prints.
std::string GeneralUsage();

int RunStatus(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunConsultar(int argc, char** argv);
int RunValidar(int argc, char** argv);
int RunConfigurar(int argc, char** argv);
int RunChave(int argc, char** argv);
int RunQRCode(int argc, char** argv);
int RunLogs(int argc, char** argv);
int RunConverter(int argc, char** argv);
int RunConverterTxt(int argc, char** argv);
int RunGerarNotas(int argc, char** argv);
int RunConverterXml(int argc, char** argv);
int RunEnviar(int argc, char** argv);
int RunEnviarSincrono(int argc, char** argv);
int RunConsultarRecibo(int argc, char** argv);
int RunAssinar(int argc, char** argv);
int RunAssinarEvento(int argc, char** argv);
int RunCancelar(int argc, char** argv);
int RunCancelarSubstituicao(int argc, char** argv);
int RunInutilizar(int argc, char** argv);
int RunEpec(int argc, char** argv);
int RunDanfce(int argc, char** argv);
int RunEnviarEmail(int argc, char** argv);
int RunAtualizarServidores(int argc, char** argv);
int RunListarCertificados(int argc, char** argv);
int RunRemoverCertificado(int argc, char** argv);
int RunVencimentoCertificado(int argc, char** argv);
int RunAtualizarVersao(int argc, char** argv);
int RunContingencia(int argc, char** argv);

}  // namespace qor::cli
