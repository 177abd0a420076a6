// TX2 to note XML (TqorNFCe::ConverterLoteParaXml) for notes of 1, 10 and 100 items; a signed
// nfeProc read back into the datasets (TqorNFCe::ConverteXmlparaDataSet, which writes the note
// again on its save) for 10 and 100 items; the datasets of 10 items written as TX2
// (TqorNFCeDataSets::GerarTX2); all against the signature baseline. The note is the one-item
// sample with its item repeated. Then the resident set over 10 000 readings on one component,
// which must stay within 2 MB of what it was after the 100th (exit code 1 otherwise).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "Amostras.h"
#include "Baseline.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"

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

// The sample of `itens` items converted, signed and wrapped in an nfeProc with its protocol.
std::string NfeProc(int itens) {
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  const std::string nfe = nfce.AssinarNota(
      nfce.ConverterLoteParaXml(qor::bench::NotaComItens(itens), qor::TLayoutConvKind::lkTXTDataSet,
                                TVersaoEsquema::pl_009g));
  const std::string chave = nfe.substr(nfe.find("Id=\"NFe") + 7, 44);
  return "<nfeProc versao=\"4.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + nfe +
         "<protNFe versao=\"4.00\"><infProt><tpAmb>2</tpAmb><verAplic>SP_NFCE_PL_009_V400"
         "</verAplic><chNFe>" +
         chave +
         "</chNFe><dhRecbto>2026-12-07T10:15:05-03:00</dhRecbto><nProt>135260000000001</nProt>"
         "<digVal>2jmj7l5rSw0yVb/vlWAYkK/YBwk=</digVal><cStat>100</cStat><xMotivo>Autorizado o "
         "uso da NF-e</xMotivo></infProt></protNFe></nfeProc>";
}

void BM_ConverteXml(benchmark::State& state) {
  const std::string proc = NfeProc(static_cast<int>(state.range(0)));
  qor::TqorNFCe nfce;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nfce.ConverteXmlparaDataSet(proc, TVersaoEsquema::pl_009g));
  }
}

void BM_GerarTX2(benchmark::State& state) {
  qor::TqorNFCe nfce;
  const auto dataSets = nfce.ConverteXmlparaDataSet(NfeProc(static_cast<int>(state.range(0))),
                                                    TVersaoEsquema::pl_009g);
  for (auto _ : state) benchmark::DoNotOptimize(dataSets->GerarTX2());
}

double ResidenteMiB() {
  std::ifstream statm("/proc/self/statm");
  long total = 0, residentes = 0;
  statm >> total >> residentes;
  return static_cast<double>(residentes) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

int MemoriaDasLeituras() {
  const std::string proc = NfeProc(10);
  qor::TqorNFCe nfce;
  double depoisDe100 = 0;
  for (int n = 1; n <= 10000; ++n) {
    benchmark::DoNotOptimize(nfce.ConverteXmlparaDataSet(proc, TVersaoEsquema::pl_009g));
    if (n == 100) depoisDe100 = ResidenteMiB();
  }
  const double fim = ResidenteMiB();
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
  return qor::bench::RunWithRatios(argc, argv, [](double, double) { return MemoriaDasLeituras(); });
}
