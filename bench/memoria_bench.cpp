// Memory of the offline road (Caminho.h) on one component: after 10 000 notes the resident set
// must be within 2 MB of what it was after the first 100 (nothing kept per note), and a 50-note
// batch must peak below 64 MB. Prints the figures and exits with 1 when a limit is passed.
//   bench_memoria [NOTAS]     (default 10000)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Amostras.h"
#include "Caminho.h"
#include "core/TqorNFCe.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// The process's peak resident set (VmHWM in /proc/self/status).
double PicoMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string linha; std::getline(status, linha);) {
    if (linha.rfind("VmHWM:", 0) == 0) return std::strtod(linha.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int notas = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (notas < 100) {
    std::fprintf(stderr, "uso: bench_memoria [NOTAS >= 100]\n");
    return 2;
  }
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  qor::bench::CaminhoOffline caminho(nfce);

  caminho.Percorrer(qor::bench::LoteDeNotas(50, 10));
  const double pico = PicoMiB();

  const std::string nota = qor::bench::NotaComItens(10);
  double depoisDe100 = 0;
  for (int n = 1; n <= notas; ++n) {
    caminho.Percorrer(nota);
    if (n == 100) depoisDe100 = qor::bench::ResidenteMiB();
  }
  const double fim = qor::bench::ResidenteMiB();
  const bool cresceuDemais = fim - depoisDe100 > 2.0;
  const bool picoAlto = pico >= 64.0;
  std::printf("pico do processo com um lote de 50 notas de 10 itens: %.1f MB (limite 64 MB)%s\n",
              pico, picoAlto ? "  ACIMA DO LIMITE" : "");
  std::printf(
      "residente após 100 notas: %.2f MB; após %d: %.2f MB; diferença %.2f MB "
      "(limite 2 MB)%s\n",
      depoisDe100, notas, fim, fim - depoisDe100, cresceuDemais ? "  ACIMA DO LIMITE" : "");
  return cresceuDemais || picoAlto ? 1 : 0;
}
