// The whole rule set of layout 4.00 (vm60) on a 10-item note, against the signature baseline.
#include <benchmark/benchmark.h>

#include "Amostras.h"
#include "Baseline.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"

namespace {

void BM_Regras(benchmark::State& state) {
  qor::TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(qor::ExecutableDir() + "Templates/vm60/Conversor/NFCeDataSets.xml");
  parser.SetTXT(qor::bench::NotaComItens(static_cast<int>(state.range(0))));
  std::unique_ptr<qor::TqorNFCeDataSets> ds;
  parser.Converter(ds);
  ds->SetRelogio(qor::bench::InstanteDaAmostra);
  for (auto _ : state) ds->AplicarRegrasDeNegocio(qor::TTipoRegraKind::rkSefaz);
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("AplicarRegrasDeNegocio/vm60", BM_Regras)->Arg(10);
  return qor::bench::RunWithRatios(argc, argv);
}
