// The road of notes, against the signature baseline: offline (TX2 to XML, the vm60 rules, the
// signature with the QR-code supplement, the batch checked against the official schema) for one
// 10-item note and for a batch of 50, per note; the schema check of the signed batch alone; and
// one synchronous authorisation round trip to the simulator on loopback, the TLS connection
// reused.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "Amostras.h"
#include "Baseline.h"
#include "Caminho.h"
#include "Simulator.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {

// The road's steps, summed over the iterations of every repetition, by the notes of a batch.
struct EtapasSomadas {
  qor::bench::CaminhoOffline::Etapas tempos;
  double notas = 0;
};
std::map<int, EtapasSomadas> etapasPorLote;

void BM_CaminhoOffline(benchmark::State& state) {
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  qor::bench::CaminhoOffline caminho(nfce);
  const int notas = static_cast<int>(state.range(0));
  const std::string tx2 = qor::bench::LoteDeNotas(notas, 10);
  // Certificate, dictionary and schema loaded outside the timing; the conversion with the rules
  // is the component's own.
  const std::string assinadas = caminho.Percorrer(tx2);
  if (nfce.AssinarNota(nfce.ConverterLoteParaXml(tx2, qor::TLayoutConvKind::lkTXTDataSet,
                                                 qor::TVersaoEsquema::pl_009g)) != assinadas) {
    state.SkipWithError("a conversão com as regras difere de ConverterLoteParaXml");
    return;
  }
  const qor::bench::CaminhoOffline::Etapas antes = caminho.TemposDasEtapas();
  for (auto _ : state) benchmark::DoNotOptimize(caminho.Percorrer(tx2));
  if (notas > 1) state.counters[qor::bench::kNotasPorIteracao] = notas;
  const qor::bench::CaminhoOffline::Etapas& depois = caminho.TemposDasEtapas();
  EtapasSomadas& soma = etapasPorLote[notas];
  soma.tempos.conversao += depois.conversao - antes.conversao;
  soma.tempos.assinatura += depois.assinatura - antes.assinatura;
  soma.tempos.validacao += depois.validacao - antes.validacao;
  soma.notas += static_cast<double>(state.iterations()) * notas;
}

// Each step of the road per note, in signatures of real time: the road of one note against the
// 50-note batch, where each step runs over the whole batch before the next begins.
int ImprimirEtapas(double assinaturaNs) {
  if (assinaturaNs <= 0 || etapasPorLote.empty()) return 0;
  std::printf("\nEach step of the offline road per note, real time in signatures:\n");
  std::printf("  %-12s %10s %14s %16s\n", "notes", "TX2 to XML", "AssinarNota", "ValidarXMLNFCe");
  for (const auto& [notas, soma] : etapasPorLote) {
    const auto porNota = [&](std::chrono::nanoseconds tempo) {
      return static_cast<double>(tempo.count()) / soma.notas / assinaturaNs;
    };
    std::printf("  %-12d %10.3f %14.3f %16.3f\n", notas, porNota(soma.tempos.conversao),
                porNota(soma.tempos.assinatura), porNota(soma.tempos.validacao));
  }
  return 0;
}

void BM_ValidarLote(benchmark::State& state) {
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  const std::string enviNFe = qor::Format(
      nfce.LoadTemplate("pedido_enviarnota.xml"),
      {"1", qor::bench::CaminhoOffline(nfce).Percorrer(qor::bench::NotaComItens(10)), ""});
  for (auto _ : state) nfce.ValidarXMLNFCe(enviNFe, "ENVIO");
}

void BM_IdaEVoltaSincrona(benchmark::State& state) {
  const qor::bench::Ambiente& ambiente = qor::bench::AmbienteDeTeste();
  qor::sim::SimulatorOptions options;
  options.workFolder = ambiente.pasta + "simulador-" + std::to_string(::getpid());
  options.schemasFolder = qor::ExecutableDir() + "Esquemas/vm60";
  options.caCert = ambiente.pki.caCert;
  options.serverCert = ambiente.pki.serverCert;
  options.serverKey = ambiente.pki.serverKey;
  qor::sim::Simulator simulator(options);
  simulator.Start();
  const std::string hom = ambiente.pasta + "hom-simulador.ini";
  simulator.WriteServerFiles(ambiente.pasta + "prod-simulador.ini", hom);

  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  nfce.SetArquivoServidoresHom(hom);
  nfce.SetSalvarLogsEmDisco(false);
  const std::string nota = nfce.AssinarNota(
      nfce.ConverterLoteParaXml(qor::bench::NotaComItens(10), qor::TLayoutConvKind::lkTXTDataSet,
                                qor::TVersaoEsquema::pl_009g));
  // The first sending authorises; the next ones are answered as duplicates, after the same
  // checks on both sides.
  nfce.EnviarNFSincrono("1", nota, false);
  const int handshakes = simulator.HandshakeCount();
  for (auto _ : state) benchmark::DoNotOptimize(nfce.EnviarNFSincrono("1", nota, false));
  if (simulator.HandshakeCount() != handshakes)
    state.SkipWithError("a conexão TLS não foi reaproveitada");
  simulator.Stop();
  std::filesystem::remove_all(options.workFolder);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("CaminhoOffline/notas-de-10-itens", BM_CaminhoOffline)
      ->Arg(1)
      ->Arg(50);
  benchmark::RegisterBenchmark("ValidarXMLNFCe/lote-assinado-10-itens", BM_ValidarLote);
  benchmark::RegisterBenchmark("EnviarNFSincrono/loopback-10-itens", BM_IdaEVoltaSincrona)
      ->UseRealTime();
  return qor::bench::RunWithRatios(argc, argv,
                                   [](double realNs, double) { return ImprimirEtapas(realNs); });
}
