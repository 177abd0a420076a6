// The road of one note, against the signature baseline: offline (TX2 to XML, signature with the
// QR-code supplement, the batch checked against the official schema) and one synchronous
// authorisation round trip to the simulator on loopback, the TLS connection reused.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "Amostras.h"
#include "Baseline.h"
#include "Simulator.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace {

void BM_CaminhoOffline(benchmark::State& state) {
  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  const std::string tx2 = qor::bench::NotaComItens(1);
  const std::string enviNFe = nfce.LoadTemplate("pedido_enviarnota.xml");
  const auto caminho = [&] {
    const std::string nota = nfce.AssinarNota(nfce.ConverterLoteParaXml(
        tx2, qor::TLayoutConvKind::lkTXTDataSet, qor::TVersaoEsquema::pl_009g));
    nfce.ValidarXMLNFCe(qor::Format(enviNFe, {"1", nota, ""}), "ENVIO");
    return nota;
  };
  caminho();  // certificate, dictionary and schema loaded outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(caminho());
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
  const std::string nota = nfce.AssinarNota(nfce.ConverterLoteParaXml(
      qor::bench::NotaComItens(1), qor::TLayoutConvKind::lkTXTDataSet,
      qor::TVersaoEsquema::pl_009g));
  // The first sending authorises; the next ones are answered as duplicates, after the same
  // checks on both sides.
  nfce.EnviarNFSincrono("1", nota, false);
  for (auto _ : state) benchmark::DoNotOptimize(nfce.EnviarNFSincrono("1", nota, false));
  simulator.Stop();
  std::filesystem::remove_all(options.workFolder);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::FileExists(qor::ExecutableDir() + "Esquemas/vm60/enviNFe_v4.00.xsd")) {
    std::fprintf(stderr, "official schema package not copied beside the executable\n");
    return 1;
  }
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("CaminhoOffline/1-nota", BM_CaminhoOffline);
  benchmark::RegisterBenchmark("EnviarNFSincrono/loopback", BM_IdaEVoltaSincrona)
      ->UseRealTime();
  return qor::bench::RunWithRatios(argc, argv);
}
