// TX2 to note XML (TqorNFCe::ConverterLoteParaXml) for notes of 1, 10 and 100 items, against
// the signature baseline. The note is the one-item sample with its item repeated.
#include <benchmark/benchmark.h>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"

namespace {

void BM_Converter(benchmark::State& state) {
  const std::string lote = qor::bench::NotaComItens(static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverterLoteParaXml(lote, qor::TLayoutConvKind::lkTXTDataSet,
                                                       qor::TVersaoEsquema::pl_009g));
  }
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("ConverterLoteParaXml", BM_Converter)
      ->Arg(1)
      ->Arg(10)
      ->Arg(100);
  return qor::bench::RunWithRatios(argc, argv);
}
