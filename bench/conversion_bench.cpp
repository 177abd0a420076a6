// TX2 to note XML (TqorNFCe::ConverterLoteParaXml) for notes of 1, 10 and 100 items, against
// the signature baseline. The note is the one-item sample with its item repeated.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "Baseline.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace {

std::string NotaComItens(const std::string& amostra, int itens) {
  const std::size_t inicio = amostra.find("INCLUIRITEM");
  const std::size_t fim = amostra.find("SALVARITEM\n") + 11;
  const std::string item = amostra.substr(inicio, fim - inicio);
  std::string nota = amostra.substr(0, inicio);
  for (int n = 1; n <= itens; ++n) {
    std::string copia = item;
    const std::size_t pos = copia.find("nItem_H02=1");
    copia.replace(pos, 11, "nItem_H02=" + std::to_string(n));
    nota += copia;
  }
  return nota + amostra.substr(fim);
}

void BM_Converter(benchmark::State& state, const std::string& amostra) {
  const std::string lote = NotaComItens(amostra, static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverterLoteParaXml(lote, qor::TLayoutConvKind::lkTXTDataSet,
                                                       qor::TVersaoEsquema::pl_009g));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = qor::ExecutableDir() + "exemplos/nfce-um-item-dinheiro.tx2";
  if (!qor::FileExists(path)) {
    std::fprintf(stderr, "sample note not copied beside the executable: %s\n", path.c_str());
    return 1;
  }
  const std::string amostra = qor::LoadFromFile(path);
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("ConverterLoteParaXml", BM_Converter, amostra)
      ->Arg(1)
      ->Arg(10)
      ->Arg(100);
  return qor::bench::RunWithRatios(argc, argv);
}
