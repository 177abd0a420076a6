#include "Baseline.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "TestPki.h"

namespace qor::bench {

namespace {

std::string PkiFolder() {
  const auto folder = std::filesystem::temp_directory_path() / "qornfce-bench-pki";
  return folder.string();
}

EVP_PKEY* LoadCompanyKey() {
  const sim::TestPki pki = sim::CreateTestPki(PkiFolder(), "11222333000181", "1234");
  FILE* file = std::fopen(pki.companyKeyPem.c_str(), "r");
  if (file == nullptr) throw std::runtime_error("cannot open " + pki.companyKeyPem);
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key == nullptr) throw std::runtime_error("cannot read " + pki.companyKeyPem);
  return key;
}

void BM_RsaSha1Signature(benchmark::State& state) {
  const std::string text(2048, 'x');  // about the canonical SignedInfo and more
  std::vector<unsigned char> signature(512);
  for (auto _ : state) {
    if (!SignWithCompanyKey(text, signature)) state.SkipWithError("EVP_DigestSign failed");
    benchmark::DoNotOptimize(signature.data());
  }
}

}  // namespace

namespace {

// The company's key, made (the whole test PKI, on a machine where it was never made) and read
// on the first call.
EVP_PKEY* CompanyKey() {
  static EVP_PKEY* key = LoadCompanyKey();
  return key;
}

}  // namespace

bool SignWithCompanyKey(std::string_view text, std::vector<unsigned char>& signature) {
  EVP_PKEY* key = CompanyKey();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::size_t size = signature.size();
  const bool ok =
      EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, key) == 1 &&
      EVP_DigestSign(ctx, signature.data(), &size,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 1;
  EVP_MD_CTX_free(ctx);
  return ok;
}

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.benchmark_name().rfind(kBaselineName, 0) == 0) {
        if (run.aggregate_name == "mean") baselineMean_ = run.GetAdjustedRealTime();
        if (run.aggregate_name == "stddev") baselineStddev_ = run.GetAdjustedRealTime();
      }
      // With --benchmark_repetitions, the median stands for the runs; the other aggregates
      // are not times.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      // A benchmark that handles several notes an iteration says how many: its figures are
      // given per note.
      const auto notas = run.counters.find(kNotasPorIteracao);
      const bool porNota = notas != run.counters.end() && notas->second.value > 0;
      const double divisor = porNota ? notas->second.value : 1.0;
      // In nanoseconds whatever unit the benchmark prints in, so that one in milliseconds is
      // set against the baseline's nanoseconds as it should be.
      const double ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      times_[run.benchmark_name() + (porNota ? " (por nota)" : "")] = {
          run.GetAdjustedRealTime() * ns / divisor, run.GetAdjustedCPUTime() * ns / divisor};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The baseline's real and CPU time (its median with repetitions); zeros when it did not run.
  std::pair<double, double> Baseline() const {
    const auto median = times_.find(std::string(kBaselineName) + "_median");
    const auto single = times_.find(kBaselineName);
    const auto it = median != times_.end() ? median : single;
    if (it == times_.end()) return {0, 0};
    return {it->second.real, it->second.cpu};
  }
  // The coefficient of variation of the baseline's real time over its repetitions; 0 without
  // repetitions. Every ratio is divided by the baseline, so a baseline that moved between its
  // repetitions (a neighbour busy while it ran) moves every ratio with it.
  double BaselineVariation() const {
    return baselineMean_ > 0 ? baselineStddev_ / baselineMean_ : 0.0;
  }
  // Every benchmark's real time, the medians standing for their runs when there are any.
  TemposReais Tempos() const {
    const bool medianas = times_.count(std::string(kBaselineName) + "_median") != 0;
    const std::string sufixo = "_median";
    TemposReais tempos;
    for (const auto& [name, time] : times_) {
      const std::size_t at = name.find(sufixo);
      if (medianas && at == std::string::npos) continue;
      tempos[medianas ? name.substr(0, at) + name.substr(at + sufixo.size()) : name] = time.real;
    }
    return tempos;
  }
  void PrintRatios() const {
    // With repetitions, medians are set against the baseline's median.
    const bool medianas = times_.count(std::string(kBaselineName) + "_median") != 0;
    const std::string sufixo = medianas ? "_median" : "";
    const auto baseline = times_.find(kBaselineName + sufixo);
    if (baseline == times_.end() || baseline->second.real <= 0) return;
    std::cout << "\nAs multiples of one raw RSA-2048 signature (" << baseline->second.real << " "
              << benchmark::GetTimeUnitString(benchmark::kNanosecond)
              << "); real time, and the CPU time of the benchmark's own thread (work done on\n"
                 "other threads, such as the simulator's, is not in it):\n";
    std::printf("  %-52s %8s %8s\n", "", "real", "CPU");
    for (const auto& [name, time] : times_) {
      if (name == baseline->first) continue;
      if (medianas && name.find(sufixo) == std::string::npos) continue;
      std::printf("  %-52s %8.3f %8.3f\n", name.c_str(), time.real / baseline->second.real,
                  time.cpu / baseline->second.cpu);
    }
  }

 private:
  struct Times {
    double real = 0, cpu = 0;
  };
  std::map<std::string, Times> times_;
  double baselineMean_ = 0, baselineStddev_ = 0;
};

// The largest coefficient of variation of the baseline's repetitions that still gives ratios.
constexpr double kMaxBaselineVariation = 0.05;

}  // namespace

void RegisterBaseline() {
  benchmark::RegisterBenchmark(kBaselineName, BM_RsaSha1Signature)->Unit(benchmark::kNanosecond);
}

int RunWithRatios(int argc, char** argv) {
  return RunWithRatios(argc, argv, [](double, double) { return 0; });
}

int RunWithRatios(int argc, char** argv,
                  const std::function<int(double realNs, double cpuNs)>& after) {
  return RunWithRatios(argc, argv, [&after](double real, double cpu, const TemposReais&) {
    return after(real, cpu);
  });
}

int RunWithRatios(
    int argc, char** argv,
    const std::function<int(double realNs, double cpuNs, const TemposReais&)>& after) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The key is made before anything is timed: on a machine where the benchmarks never ran, its
  // creation (the test PKI) would otherwise fall inside the baseline's first measurement.
  CompanyKey();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (const double variation = reporter.BaselineVariation(); variation > kMaxBaselineVariation) {
    std::fprintf(stderr,
                 "\nThe baseline's repetitions vary by %.2f %% (coefficient of variation, more "
                 "than %.0f %%): the machine was not steady, no ratios are given. Run again.\n",
                 variation * 100, kMaxBaselineVariation * 100);
    benchmark::Shutdown();
    return 3;
  }
  reporter.PrintRatios();
  const auto [real, cpu] = reporter.Baseline();
  const int status = after(real, cpu, reporter.Tempos());
  benchmark::Shutdown();
  return status;
}

}  // namespace qor::bench
