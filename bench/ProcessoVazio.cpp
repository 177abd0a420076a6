// The floor of a cold command: a program that loads the shared libraries the command line loads
// (linked whether it uses them or not), runs their start-up and the C++ runtime's, and exits.
// bench_cli_frio spawns it beside `qornfce`: what a fresh process of this machine costs before
// any work of ours.
#include <string>

int main(int argc, char** argv) {
  const std::string nome = argc > 0 ? argv[0] : "";
  return nome.empty() ? 1 : 0;
}
