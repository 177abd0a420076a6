// The road of notes, against the signature baseline: offline (TX2 to XML, the vm60 rules, the
// signature with the QR-code supplement, the batch checked against the official schema) for one
// 10-item note and for a batch of 50, per note; the schema check of the signed batch alone; and
// one synchronous authorisation round trip to the simulator on loopback, the TLS connection
// reused.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "Amostras.h"
#include "Baseline.h"
#include "Caminho.h"
#include "Simulator.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {

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
  for (auto _ : state) benchmark::DoNotOptimize(caminho.Percorrer(tx2));
  if (notas > 1) state.counters[qor::bench::kNotasPorIteracao] = notas;
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
  return qor::bench::RunWithRatios(argc, argv);
}
