// The offline queue's transmission against the synchronous round trip (bench_caminho's
// EnviarNFSincrono/loopback), both to the simulator on loopback over a reused TLS connection,
// in the same run. Transmitir sends queues of 50 signed notes (signed when issued, not timed);
// its cost per note is the client thread's CPU time, with the queue and the recipient folder on
// tmpfs so that no fsync is in it (waits for the server are not CPU either), and it must stay
// within 0.5 raw signatures of the round trip's (exit code 1 otherwise). The queue's own file
// work per note on the disk (the record written, then moved between state folders, with all
// their fsyncs) is reported beside it, in CPU and real time. The round trip with notes the state
// authorises (100, not the duplicate's 204) is shown too: it is what a transmission sends. The
// three are measured round by round, interleaved, and each figure is the median of its rounds;
// the difference is the median of each round's own difference. Each round also times raw
// signatures as the baseline makes them, and its figures are in that round's signatures: a host
// that slows down or speeds up between the baseline and the rounds, or from one round to the
// next, moves the measures and their unit together.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "Amostras.h"
#include "Baseline.h"
#include "Simulator.h"
#include "contingency/TqorContingencia.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace {

constexpr int kNotas = 50;
constexpr int kRodadas = 10;

double CpuDaThreadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

// The thread's CPU time in user mode only. Linux divides a thread's exact CPU time between user
// and kernel mode by sampling at the clock tick, so this split is indicative only.
double CpuUsuarioNs() {
  rusage uso{};
  getrusage(RUSAGE_THREAD, &uso);
  return uso.ru_utime.tv_sec * 1e9 + uso.ru_utime.tv_usec * 1e3;
}

double AgoraNs() {
  return std::chrono::duration<double, std::nano>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double Mediana(std::vector<double> valores) {
  std::sort(valores.begin(), valores.end());
  const std::size_t n = valores.size();
  return n == 0 ? 0 : n % 2 ? valores[n / 2] : (valores[n / 2 - 1] + valores[n / 2]) / 2;
}

// Per-note figures of each round of a measure; the medians over the rounds are reported, so
// that a round disturbed by the machine does not move the result.
struct Medida {
  std::vector<double> cpu, usuario, real;  // nanoseconds per note, one value per round
  template <typename F>
  void Somar(int notas, F&& f) {
    const double c0 = CpuDaThreadNs(), u0 = CpuUsuarioNs(), r0 = AgoraNs();
    f();
    cpu.push_back((CpuDaThreadNs() - c0) / notas);
    usuario.push_back((CpuUsuarioNs() - u0) / notas);
    real.push_back((AgoraNs() - r0) / notas);
  }
  // The medians of each round's figure in that round's unit (`unidade`: one signature's CPU
  // time in each round).
  double Cpu(const std::vector<double>& unidade) const { return EmUnidades(cpu, unidade); }
  double Usuario(const std::vector<double>& unidade) const { return EmUnidades(usuario, unidade); }
  static double EmUnidades(const std::vector<double>& valores, const std::vector<double>& unidade) {
    std::vector<double> razoes;
    for (std::size_t i = 0; i < valores.size() && i < unidade.size(); ++i) {
      razoes.push_back(valores[i] / unidade[i]);
    }
    return Mediana(razoes);
  }
  double Real() const { return Mediana(real); }
};

int Medir(double baseReal, double baseCpu) {
  if (baseReal <= 0 || baseCpu <= 0) return 0;
  const qor::bench::Ambiente& ambiente = qor::bench::AmbienteDeTeste();
  const std::string pasta = ambiente.pasta + "contingencia-" + std::to_string(::getpid()) + "/";
  qor::ForceDirectories(pasta);
  // The queue and the recipient folder of the timed transmission on tmpfs, where an fsync costs
  // nothing: the disk's part is measured apart, below, on the benchmark folder's disk.
  const std::string shm = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/" : pasta;
  const std::string memoria = shm + "qornfce-contingencia-" + std::to_string(::getpid()) + "/";
  qor::ForceDirectories(memoria);
  qor::sim::SimulatorOptions options;
  options.workFolder = pasta + "simulador";
  options.schemasFolder = qor::ExecutableDir() + "Esquemas/vm60";
  options.caCert = ambiente.pki.caCert;
  options.serverCert = ambiente.pki.serverCert;
  options.serverKey = ambiente.pki.serverKey;
  qor::sim::Simulator simulator(options);
  simulator.Start();
  const std::string hom = pasta + "hom-simulador.ini";
  simulator.WriteServerFiles(pasta + "prod-simulador.ini", hom);

  qor::TqorNFCe nfce;
  qor::bench::Configurar(nfce);
  nfce.SetArquivoServidoresHom(hom);
  nfce.SetSalvarLogsEmDisco(false);
  nfce.SetDiretorioXmlDestinatario(memoria + "XmlDestinatario/");
  const std::string modelo = qor::bench::NotaComItens(10);
  int numero = 1;
  const auto nota = [&] {
    std::string tx2 = modelo;
    const std::size_t at = tx2.find("nNF_B08=");
    tx2.replace(at, tx2.find('\n', at) - at, "nNF_B08=" + std::to_string(++numero));
    return nfce.ConverterLoteParaXml(tx2, qor::TLayoutConvKind::lkTXTDataSet,
                                     qor::TVersaoEsquema::pl_009g);
  };

  // Three measures, interleaved round by round so that a drift of the machine falls on all of
  // them alike: the round trip as bench_caminho measures it (one note sent again and again,
  // answered as a duplicate after the same checks); the same with notes the state authorises
  // (100), as a transmission sends them; and Transmitir of a queue of 50 notes issued offline.
  const std::string assinada = nfce.AssinarNota(nota());
  nfce.EnviarNFSincrono("1", assinada, false);
  qor::TqorContingencia contingencia(nfce, memoria + "fila");
  Medida idaEVolta, novas, transmissao, assinaturas;
  const std::string textoAssinado(2048, 'x');  // what the baseline signs
  std::vector<unsigned char> assinatura(512);
  std::vector<double> diferencas;
  const int handshakes = simulator.HandshakeCount();
  for (int rodada = 0; rodada < kRodadas; ++rodada) {
    bool assinou = true;
    assinaturas.Somar(kNotas, [&] {
      for (int i = 0; i < kNotas; ++i) {
        assinou = qor::bench::SignWithCompanyKey(textoAssinado, assinatura) && assinou;
      }
    });
    if (!assinou) {
      std::fprintf(stderr, "EVP_DigestSign falhou na rodada %d\n", rodada + 1);
      return 1;
    }
    idaEVolta.Somar(kNotas, [&] {
      for (int i = 0; i < kNotas; ++i) nfce.EnviarNFSincrono("1", assinada, false);
    });
    std::vector<std::string> lote;
    for (int i = 0; i < kNotas; ++i) lote.push_back(nfce.AssinarNota(nota()));
    novas.Somar(kNotas, [&] {
      for (const std::string& n : lote) nfce.EnviarNFSincrono("1", n, false);
    });
    for (int i = 0; i < kNotas; ++i) contingencia.EmitirOffline(nota(), "Sem acesso a SEFAZ agora");
    qor::TResultadoTransmissao r;
    transmissao.Somar(kNotas, [&] { r = contingencia.Transmitir(); });
    if (r.autorizadas != kNotas) {
      std::fprintf(stderr, "Transmitir autorizou %d de %d notas\n", r.autorizadas, kNotas);
      return 1;
    }
    diferencas.push_back((transmissao.cpu.back() - idaEVolta.cpu.back()) / assinaturas.cpu.back());
  }
  const bool umaConexao = simulator.HandshakeCount() == handshakes;

  // The queue's file work alone: each record written durably, then moved to another state.
  qor::TFilaContingencia fila(pasta + "fila-arquivos", nullptr);
  fila.Preparar();
  std::vector<qor::TEntradaContingencia> entradas(kNotas * kRodadas);
  for (std::size_t i = 0; i < entradas.size(); ++i) {
    entradas[i].chave = std::to_string(35000000 + i) + std::string(36, '0');
    entradas[i].nota = "<NFe><infNFe Id=\"NFe" + entradas[i].chave + "\">" +
                       assinada.substr(0, 6000) + "</infNFe></NFe>";
  }
  Medida arquivos;
  arquivos.Somar(static_cast<int>(entradas.size()), [&] {
    for (qor::TEntradaContingencia& e : entradas) {
      fila.Gravar(e);
      fila.Mover(e, qor::TEstadoContingencia::ecAutorizada);
    }
  });
  simulator.Stop();
  std::filesystem::remove_all(pasta);
  std::filesystem::remove_all(memoria);

  const double diferenca = Mediana(diferencas);
  std::printf(
      "\nPor nota, em assinaturas RSA-2048 (as da própria rodada para a CPU, a de referência para "
      "o tempo real): CPU da thread do cliente em modo usuário, CPU total (usuário + núcleo, onde "
      "entra o trabalho dos fsync) e tempo real:\n");
  std::printf("  %-44s %8s %8s %8s\n", "", "usuário", "total", "real");
  const auto linha = [&](const char* nome, const Medida& m, const std::vector<double>& unidade) {
    std::printf("  %-44s %8.3f %8.3f %8.3f\n", nome, m.Usuario(unidade), m.Cpu(unidade),
                m.Real() / baseReal);
  };
  linha("assinatura RSA-2048 das rodadas", assinaturas, std::vector<double>(kRodadas, baseCpu));
  linha("EnviarNFSincrono, ida e volta (bench_caminho)", idaEVolta, assinaturas.cpu);
  linha("EnviarNFSincrono de notas novas (100)", novas, assinaturas.cpu);
  linha("Transmitir, fila de 50 notas assinadas", transmissao, assinaturas.cpu);
  linha("arquivos da fila (gravar + mover, fsync)", arquivos, {baseCpu});
  std::printf("  %-44s %8.3f  (alvo: no máximo 0.5)\n", "Transmitir menos ida e volta, CPU total",
              diferenca);
  std::printf("  %-44s %8.2f ms reais por nota, fsync incluído\n", "arquivos da fila",
              arquivos.Real() / 1e6);
  std::printf("  %-44s %s\n", "uma conexão TLS para todas as notas", umaConexao ? "sim" : "NÃO");
  return diferenca <= 0.5 && umaConexao ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  qor::bench::RegisterBaseline();
  return qor::bench::RunWithRatios(argc, argv, Medir);
}
