// The subcommands of the qornfce command line. Each returns the process exit code:
// 0 success, 1 the operation raised (message on stderr), 2 bad usage.
#pragma once

namespace qor::cli {

int RunStatus(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunConsultar(int argc, char** argv);
int RunValidar(int argc, char** argv);
int RunConfigurar(int argc, char** argv);
int RunChave(int argc, char** argv);
int RunQRCode(int argc, char** argv);
int RunLogs(int argc, char** argv);
int RunConverter(int argc, char** argv);
int RunEnviar(int argc, char** argv);
int RunEnviarSincrono(int argc, char** argv);
int RunConsultarRecibo(int argc, char** argv);
int RunAssinar(int argc, char** argv);
int RunAssinarEvento(int argc, char** argv);

}  // namespace qor::cli
