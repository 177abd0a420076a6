// TX2 to note XML (TqorNFCe::ConverterLoteParaXml) for notes of 1, 10 and 100 items, against
// the signature baseline. The note is the one-item sample with its item repeated. Also the
// positional TXT sample (two items) through its dictionaries (TqorNFCeConvDic::Converter).
#include <benchmark/benchmark.h>

#include "Amostras.h"
#include "Baseline.h"
#include "conversion/TqorNFCeConvDic.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace {

void BM_Converter(benchmark::State& state) {
  const std::string lote = qor::bench::NotaComItens(static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverterLoteParaXml(lote, qor::TLayoutConvKind::lkTXTDataSet,
                                                       qor::TVersaoEsquema::pl_009g));
  }
}

void BM_ConverterTxt(benchmark::State& state) {
  qor::TqorNFCeConvDic conversor;
  conversor.SetDiretorioTemplates(qor::ExecutableDir() + "Templates/vm60/");
  conversor.setArquivo(qor::ExecutableDir() + "exemplos/nfce-dicionario.txt");
  for (auto _ : state) benchmark::DoNotOptimize(conversor.Converter());
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("ConverterLoteParaXml", BM_Converter)->Arg(1)->Arg(10)->Arg(100);
  benchmark::RegisterBenchmark("Converter", BM_ConverterTxt);
  return qor::bench::RunWithRatios(argc, argv);
}
