// TqorNFCe::AssinarNota of a converted 1-item and 10-item note (the one-item sample with its
// item repeated) against the signature baseline: accent removal, contingency check, signature,
// QR-code link and urlChave, clean-up. The certificate is loaded before the timing, as a
// component signing many notes has it; the server-address file is read on every call, as the
// component does. The same signing through the C interface (qor_nfce_assinar_nota: the handle
// checked, the text copied in and out) is set beside it, and its cost over the C++ call printed.
#include <benchmark/benchmark.h>

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
  for (auto _ : state) {
    Exigir(qor_nfce_assinar_nota(nfce, nota.c_str(), &assinada), "qor_nfce_assinar_nota");
    benchmark::DoNotOptimize(assinada);
    qor_free(assinada);
  }
  qor_nfce_free(nfce);
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("AssinarNota", BM_AssinarNota)->Arg(1)->Arg(10);
  benchmark::RegisterBenchmark("AssinarNotaInterfaceC", BM_AssinarNotaInterfaceC)->Arg(10);
  return qor::bench::RunWithRatios(
      argc, argv, [](double, double, const qor::bench::TemposReais& tempos) {
        const auto cpp = tempos.find("AssinarNota/10");
        const auto c = tempos.find("AssinarNotaInterfaceC/10");
        if (cpp == tempos.end() || c == tempos.end()) return 0;
        std::printf("Interface C sobre C++, 10 itens: %+.1f %% (alvo: até +5 %%)\n",
                    (c->second / cpp->second - 1.0) * 100.0);
        return 0;
      });
}
