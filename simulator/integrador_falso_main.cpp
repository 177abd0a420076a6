#include "FakeIntegrador.h"

int main(int argc, char** argv) { return qor::sim::RunFakeIntegradorCommand(argc, argv); }
