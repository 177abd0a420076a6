// The command line as a till calls it, once per sale: a fresh `qornfce` process each iteration
// (posix_spawn, then wait), started in a working folder with its nfceConfig.ini, the executable
// and its data being the build's bin/. Timed: the whole process, from spawn to exit, with the
// page cache warm (the first run of each command is not timed). Commands: `assinar` of one
// converted 10-item note, `converter` of that note's TX2, and `status --help`, which loads the
// program and its libraries and does nothing else; beside them, the floor: a program that loads
// the same shared libraries and exits at once (qornfce-processo-vazio).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

extern char** environ;

namespace {

struct PastaDoCaixa {
  std::string pasta;  // the till's working folder, with nfceConfig.ini
  std::string nota;   // a converted, unsigned 10-item note
  std::string tx2;    // the same note as TX2
};

// The working folder of the till: a configuration saved by the component itself (the test
// company's certificate, SP in homologation, logs in the folder, telemetry off as in the other
// benchmarks) and the two input files.
const PastaDoCaixa& Caixa() {
  static const PastaDoCaixa caixa = [] {
    const qor::bench::Ambiente& ambiente = qor::bench::AmbienteDeTeste();
    PastaDoCaixa c;
    c.pasta = ambiente.pasta + "caixa/";
    std::filesystem::create_directories(c.pasta);
    qor::TqorNFCe nfce;
    qor::bench::Configurar(nfce);
    nfce.SaveConfig(c.pasta + "nfceConfig.ini");
    c.tx2 = c.pasta + "nota.tx2";
    c.nota = c.pasta + "nota.xml";
    const std::string tx2 = qor::bench::NotaComItens(10);
    qor::SaveToFile(c.tx2, tx2);
    qor::SaveToFile(c.nota, nfce.ConverterLoteParaXml(tx2, qor::TLayoutConvKind::lkTXTDataSet,
                                                      qor::TVersaoEsquema::pl_009g));
    return c;
  }();
  return caixa;
}

// Runs `programa args...` (a program beside this one) in the till's folder, standard output to
// /dev/null, and returns its wait status; the child's CPU time (user and system) is added to
// `cpuNs`.
int Executar(const std::string& nome, const std::vector<std::string>& args, double& cpuNs) {
  const std::string programa = qor::ExecutableDir() + nome;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programa.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_addopen(&acoes, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&acoes, Caixa().pasta.c_str());
  pid_t pid = -1;
  const int erro = posix_spawn(&pid, programa.c_str(), &acoes, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&acoes);
  if (erro != 0) return -1;
  int status = 0;
  rusage uso{};
  if (::wait4(pid, &status, 0, &uso) != pid) return -1;
  cpuNs += (uso.ru_utime.tv_sec + uso.ru_stime.tv_sec) * 1e9 +
           (uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) * 1e3;
  return status;
}

// The child's CPU per process of each run of each command (one value per repetition), for the
// figure printed at the end.
std::map<std::string, std::vector<double>>& CpuDosFilhos() {
  static std::map<std::string, std::vector<double>> cpu;
  return cpu;
}

void MedirPrograma(benchmark::State& state, const std::string& nome,
                   const std::vector<std::string>& args) {
  std::string linha = nome;
  for (const std::string& a : args) linha += " " + std::filesystem::path(a).filename().string();
  double cpuNs = 0;
  // Once untimed: the executable, its libraries and data in the page cache.
  if (Executar(nome, args, cpuNs) != 0) {
    state.SkipWithError("o comando falhou (veja a saída de erro)");
    return;
  }
  cpuNs = 0;
  for (auto _ : state) {
    if (Executar(nome, args, cpuNs) != 0) {
      state.SkipWithError("o comando falhou (veja a saída de erro)");
      return;
    }
  }
  // The child's CPU, user and system, per process.
  const double porProcesso = cpuNs / static_cast<double>(state.iterations());
  state.counters["cpu_filho_ms"] = benchmark::Counter(porProcesso / 1e6);
  CpuDosFilhos()[linha].push_back(porProcesso);
}

void MedirComando(benchmark::State& state, const std::vector<std::string>& args) {
  MedirPrograma(state, "qornfce", args);
}

void BM_Assinar(benchmark::State& state) {
  MedirComando(state, {"assinar", "--config", Caixa().pasta + "nfceConfig.ini", Caixa().nota});
}

void BM_Converter(benchmark::State& state) {
  MedirComando(state, {"converter", "--config", Caixa().pasta + "nfceConfig.ini", Caixa().tx2});
}

void BM_StatusHelp(benchmark::State& state) { MedirComando(state, {"status", "--help"}); }

void BM_ProcessoVazio(benchmark::State& state) {
  MedirPrograma(state, "qornfce-processo-vazio", {});
}

}  // namespace

int main(int argc, char** argv) {
  Caixa();
  qor::bench::RegisterBaseline();
  using Medida = std::pair<const char*, void (*)(benchmark::State&)>;
  for (const auto& [nome, funcao] : {Medida{"cli/assinar-nota-10-itens", BM_Assinar},
                                     Medida{"cli/converter-nota-10-itens", BM_Converter},
                                     Medida{"cli/status--help", BM_StatusHelp},
                                     Medida{"cli/processo-vazio", BM_ProcessoVazio}}) {
    benchmark::RegisterBenchmark(nome, funcao)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  // On a busy machine a process mostly waits for a core: its own CPU time against the
  // signature's is the steadier figure.
  return qor::bench::RunWithRatios(argc, argv, [](double, double cpuNs) {
    if (cpuNs <= 0) return 0;
    std::printf(
        "\nCPU of the child process (user and system, median of the runs) in signatures "
        "of CPU:\n");
    for (auto& [nome, valores] : CpuDosFilhos()) {
      std::sort(valores.begin(), valores.end());
      std::printf("  %-52s %8.1f\n", nome.c_str(), valores[valores.size() / 2] / cpuNs);
    }
    return 0;
  });
}
