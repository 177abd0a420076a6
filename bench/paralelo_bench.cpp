// Every core: the offline road of one 10-item note (Caminho.h) on one thread and on N threads
// (N = the processors online), each thread with a component of its own, as a back office runs
// one component per till. Beside it, the raw signature of the baseline on 1 and N threads in the
// same run: the hardware's own scaling (a shared or throttled machine gives less than N), which
// the road is held against. Throughput on N threads over one thread, for both, is printed at
// the end; the target is the road's at least 0.9 of the signature's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Amostras.h"
#include "Baseline.h"
#include "Caminho.h"
#include "core/TqorNFCe.h"

namespace {

void BM_AssinaturaBruta(benchmark::State& state) {
  const std::string text(2048, 'x');  // as the baseline signs
  std::vector<unsigned char> signature(512);
  for (auto _ : state) {
    if (!qor::bench::SignWithCompanyKey(text, signature)) {
      state.SkipWithError("EVP_DigestSign failed");
      return;
    }
    benchmark::DoNotOptimize(signature.data());
  }
}

void BM_CaminhoOffline(benchmark::State& state) {
  // Made on this thread, before the timing (the threads start timing together): the
  // component, its dictionary, and one note through the road, which loads the certificate and
  // the schema.
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  qor::bench::CaminhoOffline caminho(nfce);
  const std::string tx2 = qor::bench::NotaComItens(10);
  const std::string primeira = caminho.Percorrer(tx2);
  for (auto _ : state) {
    if (caminho.Percorrer(tx2) != primeira) {
      state.SkipWithError("a nota assinada mudou entre duas passagens");
      return;
    }
  }
}

int Threads() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 1 ? static_cast<int>(online) : 2;
}

// The real time of the benchmark `name` run on `threads` threads, 0 when it did not run.
double Tempo(const qor::bench::TemposReais& tempos, const std::string& name, int threads) {
  const auto it = tempos.find(name + "/real_time/threads:" + std::to_string(threads));
  return it != tempos.end() ? it->second : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  const int n = Threads();
  qor::bench::RegisterBaseline();
  using Medida = std::pair<const char*, void (*)(benchmark::State&)>;
  for (const auto& [name, function] : {Medida{"AssinaturaBruta", BM_AssinaturaBruta},
                                       Medida{"CaminhoOffline/nota-10-itens", BM_CaminhoOffline}}) {
    // Real time: with threads, one iteration's figure is the wall time over the iterations of
    // every thread, the inverse of the throughput.
    benchmark::RegisterBenchmark(name, function)->Threads(1)->Threads(n)->UseRealTime();
  }
  return qor::bench::RunWithRatios(
      argc, argv, [n](double, double, const qor::bench::TemposReais& tempos) {
        const double a1 = Tempo(tempos, "AssinaturaBruta", 1);
        const double an = Tempo(tempos, "AssinaturaBruta", n);
        const double c1 = Tempo(tempos, "CaminhoOffline/nota-10-itens", 1);
        const double cn = Tempo(tempos, "CaminhoOffline/nota-10-itens", n);
        if (a1 <= 0 || an <= 0 || c1 <= 0 || cn <= 0) return 0;  // filtered out
        const double assinatura = a1 / an;
        const double caminho = c1 / cn;
        std::printf(
            "\nThroughput on %d threads over one thread:\n"
            "  raw signature        %6.3f\n"
            "  offline road         %6.3f\n"
            "  road / signature     %6.3f  (target >= 0.9)\n",
            n, assinatura, caminho, caminho / assinatura);
        return 0;
      });
}
