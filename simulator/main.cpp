#include "SimulatorCommand.h"

int main(int argc, char** argv) { return qor::sim::RunSimulatorCommand(argc, argv); }
