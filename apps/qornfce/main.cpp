// qornfce <operação> [opções]: the command line over the NFC-e component.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"

int main(int argc, char** argv) {
  // "qornfce --config FILE <operação> ..." is read as "qornfce <operação> ... --config FILE".
  std::vector<char*> args(argv, argv + argc);
  if (argc >= 3 && std::strcmp(argv[1], "--config") == 0) {
    std::rotate(args.begin() + 1, args.begin() + 3, args.end());
    argv = args.data();
  }
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    (argc < 2 ? std::cerr : std::cout) << qor::cli::GeneralUsage();
    return argc < 2 ? 2 : 0;
  }
  const std::string operation = argv[1];
  const qor::cli::Command* command = qor::cli::FindCommand(operation);
  if (command == nullptr) {
    std::cerr << "qornfce: operação desconhecida: " << operation << "\n\n"
              << qor::cli::GeneralUsage();
    return 2;
  }
  // Asking for help wins over whatever else the line holds, so a half-typed line still shows
  // how to complete it.
  if (std::any_of(argv + 2, argv + argc,
                  [](const char* a) { return std::strcmp(a, "--help") == 0; })) {
    std::cout << command->usage;
    return 0;
  }
  try {
    return command->run(argc, argv);
  } catch (const qor::cli::UsageError& error) {
    std::cerr << "qornfce " << operation << ": " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
