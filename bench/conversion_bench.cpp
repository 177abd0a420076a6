// TX2 to note XML (TqorNFCe::ConverterLoteParaXml) for notes of 1, 10 and 100 items; a signed
// nfeProc read back into the datasets (TqorNFCe::ConverteXmlparaDataSet, which writes the note
// again on its save) for 10 and 100 items; the datasets of 10 items written as TX2
// (TqorNFCeDataSets::GerarTX2); the positional TXT sample (two items) through its dictionaries
// (TqorNFCeConvDic::Converter); all against the signature baseline. The note is the one-item
// sample with its item repeated. Then the resident set over 10 000 readings on one component,
// which must stay within 2 MB of what it was after the 100th (exit code 1 otherwise).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "Amostras.h"
#include "Baseline.h"
#include "conversion/TqorNFCeConvDic.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace {

using qor::TVersaoEsquema;

void BM_Converter(benchmark::State& state) {
  const std::string lote = qor::bench::NotaComItens(static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverterLoteParaXml(lote, qor::TLayoutConvKind::lkTXTDataSet,
                                                       TVersaoEsquema::pl_009g));
  }
}

void BM_ConverteXml(benchmark::State& state) {
  const std::string proc = qor::bench::NotaAutorizada(static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverteXmlparaDataSet(proc, TVersaoEsquema::pl_009g));
  }
}

void BM_GerarTX2(benchmark::State& state) {
  qor::TqorNFCe nfce;
  const auto dataSets = nfce.ConverteXmlparaDataSet(
      qor::bench::NotaAutorizada(static_cast<int>(state.range(0))), TVersaoEsquema::pl_009g);
  for (auto _ : state) benchmark::DoNotOptimize(dataSets->GerarTX2());
}

void BM_ConverterTxt(benchmark::State& state) {
  qor::TqorNFCeConvDic conversor;
  conversor.SetDiretorioTemplates(qor::ExecutableDir() + "Templates/vm60/");
  conversor.setArquivo(qor::ExecutableDir() + "exemplos/nfce-dicionario.txt");
  for (auto _ : state) benchmark::DoNotOptimize(conversor.Converter());
}

int MemoriaDasLeituras() {
  const std::string proc = qor::bench::NotaAutorizada(10);
  qor::TqorNFCe nfce;
  double depoisDe100 = 0;
  for (int n = 1; n <= 10000; ++n) {
    benchmark::DoNotOptimize(nfce.ConverteXmlparaDataSet(proc, TVersaoEsquema::pl_009g));
    if (n == 100) depoisDe100 = qor::bench::ResidenteMiB();
  }
  const double fim = qor::bench::ResidenteMiB();
  const bool demais = fim - depoisDe100 > 2.0;
  std::printf(
      "ConverteXmlparaDataSet: residente após 100 leituras %.2f MB; após 10000 %.2f MB; "
      "diferença %.2f MB (limite 2 MB)%s\n",
      depoisDe100, fim, fim - depoisDe100, demais ? "  ACIMA DO LIMITE" : "");
  return demais ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("ConverterLoteParaXml", BM_Converter)->Arg(1)->Arg(10)->Arg(100);
  benchmark::RegisterBenchmark("ConverteXmlparaDataSet", BM_ConverteXml)->Arg(10)->Arg(100);
  benchmark::RegisterBenchmark("GerarTX2", BM_GerarTX2)->Arg(10);
  benchmark::RegisterBenchmark("Converter", BM_ConverterTxt);
  return qor::bench::RunWithRatios(argc, argv, [](double, double) { return MemoriaDasLeituras(); });
}
