// TqorNFCe::AssinarNota of a converted 1-item and 10-item note (the one-item sample with its
// item repeated) against the signature baseline: accent removal, contingency check, signature,
// QR-code link and urlChave, clean-up. The certificate is loaded before the timing, as a
// component signing many notes has it; the server-address file is read on every call, as the
// component does. The same signing through the C interface (qor_nfce_assinar_nota: the handle
// checked, the text copied in and out) is timed call by call beside the C++ call, the two taking
// turns in one loop, and its cost over the C++ call printed: a machine that slows down between
// two benchmarks run one after the other would otherwise move that figure by more than the
// interface costs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "Amostras.h"
#include "Baseline.h"
#include "capi/qornfce.h"
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

void Exigir(qor_status status, const char* chamada) {
  if (status != QOR_OK) throw std::runtime_error(std::string(chamada) + " falhou");
}

// The time of the C++ calls and of the C calls of the paired benchmark, over its repetitions.
std::chrono::duration<double> tempoCpp{}, tempoC{};

// Each iteration signs the note once through the C interface and once through a C++ component
// set up the same way, in alternating order; the iteration's time is the C call's (its CPU time
// holds both calls).
void BM_AssinarNotaInterfaceC(benchmark::State& state) {
  qor::TqorNFCe conversor;
  qor::bench::Configurar(conversor);
  const std::string nota = conversor.ConverterLoteParaXml(
      qor::bench::NotaComItens(static_cast<int>(state.range(0))),
      qor::TLayoutConvKind::lkTXTDataSet, qor::TVersaoEsquema::pl_009g);
  // The handle gets the same settings as Configurar gives the C++ component.
  qor_nfce* nfce = nullptr;
  Exigir(qor_nfce_new(&nfce), "qor_nfce_new");
  const std::pair<const char*, std::string> propriedades[] = {
      {"DiagnosticMode", "0"},
      {"UF", "SP"},
      {"CNPJ", conversor.GetCNPJ()},
      {"CaminhoCertificado", conversor.GetCaminhoCertificado()},
      {"SenhaCertificado", conversor.GetSenhaCertificado()},
      {"ArquivoServidoresHom", conversor.GetArquivoServidoresHom()},
      {"DiretorioLog", conversor.GetDiretorioLog()},
      {"DiretorioLogErro", conversor.GetDiretorioLogErro()},
      {"DiretorioXmlDestinatario", conversor.GetDiretorioXmlDestinatario()},
  };
  for (const auto& [nome, valor] : propriedades) {
    Exigir(qor_nfce_definir(nfce, nome, valor.c_str()), nome);
  }
  char* assinada = nullptr;
  Exigir(qor_nfce_assinar_nota(nfce, nota.c_str(), &assinada), "qor_nfce_assinar_nota");
  qor_free(assinada);  // the certificate loaded, outside the timing
  conversor.AssinarNota(nota);
  using Relogio = std::chrono::steady_clock;
  const auto viaC = [&] {
    const Relogio::time_point inicio = Relogio::now();
    Exigir(qor_nfce_assinar_nota(nfce, nota.c_str(), &assinada), "qor_nfce_assinar_nota");
    benchmark::DoNotOptimize(assinada);
    qor_free(assinada);
    const std::chrono::duration<double> tempo = Relogio::now() - inicio;
    tempoC += tempo;
    return tempo.count();
  };
  const auto viaCpp = [&] {
    const Relogio::time_point inicio = Relogio::now();
    benchmark::DoNotOptimize(conversor.AssinarNota(nota));
    tempoCpp += Relogio::now() - inicio;
  };
  bool cPrimeiro = true;
  for (auto _ : state) {
    double segundos = 0;
    if (cPrimeiro) {
      segundos = viaC();
      viaCpp();
    } else {
      viaCpp();
      segundos = viaC();
    }
    cPrimeiro = !cPrimeiro;
    state.SetIterationTime(segundos);
  }
  qor_nfce_free(nfce);
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("AssinarNota", BM_AssinarNota)->Arg(1)->Arg(10);
  benchmark::RegisterBenchmark("AssinarNotaInterfaceC", BM_AssinarNotaInterfaceC)
      ->Arg(10)
      ->UseManualTime();
  return qor::bench::RunWithRatios(argc, argv, [](double, double) {
    if (tempoCpp.count() <= 0) return 0;
    std::printf(
        "Interface C sobre C++, 10 itens, chamadas alternadas: %+.1f %% (alvo: até +5 %%)\n",
        (tempoC / tempoCpp - 1.0) * 100.0);
    return 0;
  });
}
