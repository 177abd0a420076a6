// qornfce-demo: the program `qornfce demo` replaces itself with (Commands.cpp says why). Same
// arguments as the command line's, argv[1] being "demo"; same exit codes.
#include <iostream>

#include "Commands.h"
#include "Options.h"

int main(int argc, char** argv) {
  try {
    return qor::cli::RunDemo(argc, argv);
  } catch (const qor::cli::UsageError& error) {
    std::cerr << "qornfce demo: " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
}
