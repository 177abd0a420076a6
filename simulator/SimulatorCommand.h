// The simulator's command line, shared by `qornfce-simulador` and `qornfce simulador`.
#pragma once

#include <string>

namespace qor::sim {

// The usage text of the command, `name` being how the user calls it.
std::string SimulatorUsage(const std::string& name);

// `<command> [--porta N] [--pasta DIR] [--esquemas DIR] [--processamento-lote MS]
// [--resultado-escapado]`: makes the test PKI in DIR/pki (CNPJ
// 11222333000181, password "1234"), starts the simulator on 127.0.0.1, writes
// DIR/nfceServidoresProd.ini and DIR/nfceServidoresHom.ini, prints where everything is and
// serves until SIGINT or SIGTERM. argv[0] is the command's name as the user typed it (used in
// the usage text); the options follow.
//
// Defaults: port 0 (chosen by the system), folder "./simulador-nfce", schemas the
// "Esquemas/vm60" folder beside the executable.
//
// Returns 0 after a clean stop, 1 when the simulator cannot start, 2 on bad usage.
// Blocks SIGINT and SIGTERM in the calling thread (and so in the server threads it starts) to
// receive them synchronously.
int RunSimulatorCommand(int argc, char** argv);

}  // namespace qor::sim
