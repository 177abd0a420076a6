// Schema validation of the requests, the schema already compiled, against the signature baseline.
#include <benchmark/benchmark.h>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"
#include "platform/Format.h"
#include "templates/TqorNFCeTemplates.h"

namespace {

void Validate(benchmark::State& state, const std::string& document, const std::string& command) {
  qor::TqorNFCe nfce;
  nfce.ValidarXMLNFCe(document, command);  // compiles the schema once, outside the timing
  for (auto _ : state) nfce.ValidarXMLNFCe(document, command);
}

void BM_ValidarStatus(benchmark::State& state) {
  using qor::TqorNFCeTemplates;
  Validate(state,
           qor::Format(
               TqorNFCeTemplates::LoadTemplate(qor::TVersaoManual::vm60, "SP", "pedido_status.xml"),
               {"2", "35"}),
           "STATUS");
}

void BM_ValidarLoteUmItem(benchmark::State& state) {
  using qor::TqorNFCeTemplates;
  const auto vm60 = qor::TVersaoManual::vm60;
  Validate(state,
           qor::Format(TqorNFCeTemplates::LoadTemplate(vm60, "SP", "valida_cabecalho.xml"),
                       {TqorNFCeTemplates::LoadTemplate(vm60, "SP", "valida_item.xml")}),
           "ENVIO");
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("ValidarXMLNFCe/STATUS", BM_ValidarStatus);
  benchmark::RegisterBenchmark("ValidarXMLNFCe/ENVIO-1-item", BM_ValidarLoteUmItem);
  return qor::bench::RunWithRatios(argc, argv);
}
