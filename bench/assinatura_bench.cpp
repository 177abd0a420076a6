// TqorNFCe::AssinarNota of a converted 1-item and 10-item note (the one-item sample with its
// item repeated) against the signature baseline: accent removal, contingency check, signature,
// QR-code link and urlChave, clean-up. The certificate is loaded before the timing, as a
// component signing many notes has it; the server-address file is read on every call, as the
// component does.
#include <benchmark/benchmark.h>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"

namespace {

void BM_AssinarNota(benchmark::State& state) {
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  const std::string nota =
      nfce.ConverterLoteParaXml(qor::bench::NotaComItens(static_cast<int>(state.range(0))),
                                qor::TLayoutConvKind::lkTXTDataSet, qor::TVersaoEsquema::pl_009g);
  nfce.AssinarNota(nota);  // loads the certificate, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(nfce.AssinarNota(nota));
  state.counters["bytes"] = static_cast<double>(nota.size());
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("AssinarNota", BM_AssinarNota)->Arg(1)->Arg(10);
  return qor::bench::RunWithRatios(argc, argv);
}
