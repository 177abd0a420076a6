// Every core: the offline road of one 10-item note (Caminho.h) on one thread and on N threads
// (N = the processors online), each thread with a component of its own, as a back office runs
// one component per till. Beside it, the raw signature of the baseline on 1 and N threads: the
// hardware's own scaling (a shared or throttled machine gives less than N), which the road is
// held against. The four are measured in rounds, one after the other within each round, so
// that a machine slowing down or speeding up during the run moves the one-thread and the
// N-thread figures alike (measured minutes apart, they read anything from 0.76 to 1.16 on this
// project's shared machine). Throughput on N threads over one thread, for both, is printed at
// the end; the target is the road's at least 0.9 of the signature's.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Amostras.h"
#include "Baseline.h"
#include "Caminho.h"
#include "core/TqorNFCe.h"

namespace {

constexpr int kRodadas = 10;
constexpr int kNotasPorRodada = 100;        // per thread: about 0.15 s of road
constexpr int kAssinaturasPorRodada = 400;  // per thread: about the same time

enum class Trabalho { kCaminho, kAssinatura };

// N threads, each with its component made and one note run through the road before any timing
// (which loads the certificate and the schema), that do a piece of work together when asked.
class Equipe {
 public:
  explicit Equipe(int threads) : inicio_(threads + 1), fim_(threads + 1) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this, i] { Trabalhar(i); });
    inicio_.arrive_and_wait();  // every component ready
    fim_.arrive_and_wait();
    if (falhou_) {
      Parar();
      throw std::runtime_error(falha_);
    }
  }
  ~Equipe() { Parar(); }

  // The first `ativos` threads do `trabalho` at once; the wall time until the last finished.
  double Rodar(Trabalho trabalho, int ativos) {
    trabalho_ = trabalho;
    ativos_ = ativos;
    const auto inicio = std::chrono::steady_clock::now();
    inicio_.arrive_and_wait();
    fim_.arrive_and_wait();
    if (falhou_) throw std::runtime_error(falha_);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
  }

 private:
  void Trabalhar(int indice) {
    qor::TqorNFCe nfce;
    std::unique_ptr<qor::bench::CaminhoOffline> caminho;
    std::string primeira;
    const std::string tx2 = qor::bench::NotaComItens(10);
    const std::string texto(2048, 'x');  // as the baseline signs
    std::vector<unsigned char> assinatura(512);
    try {
      qor::bench::Configurar(nfce);
      caminho = std::make_unique<qor::bench::CaminhoOffline>(nfce);
      primeira = caminho->Percorrer(tx2);
    } catch (const std::exception& e) {
      Falhar(e.what());
    }
    inicio_.arrive_and_wait();
    fim_.arrive_and_wait();
    for (;;) {
      inicio_.arrive_and_wait();
      if (parar_) return;
      try {
        if (indice < ativos_ && !falhou_) Fazer(*caminho, tx2, primeira, texto, assinatura);
      } catch (const std::exception& e) {
        Falhar(e.what());
      }
      fim_.arrive_and_wait();
    }
  }

  void Fazer(qor::bench::CaminhoOffline& caminho, const std::string& tx2,
             const std::string& primeira, const std::string& texto,
             std::vector<unsigned char>& assinatura) {
    if (trabalho_ == Trabalho::kCaminho) {
      for (int i = 0; i < kNotasPorRodada; ++i) {
        if (caminho.Percorrer(tx2) != primeira)
          Falhar("a nota assinada mudou entre duas passagens");
      }
    } else {
      for (int i = 0; i < kAssinaturasPorRodada; ++i) {
        if (!qor::bench::SignWithCompanyKey(texto, assinatura)) Falhar("EVP_DigestSign failed");
      }
    }
  }

  void Falhar(const std::string& mensagem) {
    const std::lock_guard<std::mutex> guarda(mutex_);
    if (!falhou_) falha_ = mensagem;
    falhou_ = true;
  }

  void Parar() {
    if (threads_.empty()) return;
    parar_ = true;
    inicio_.arrive_and_wait();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  std::barrier<> inicio_, fim_;
  std::vector<std::thread> threads_;
  // Written by the caller between the barriers, read by the threads after them.
  Trabalho trabalho_ = Trabalho::kCaminho;
  int ativos_ = 0;
  bool parar_ = false;
  std::mutex mutex_;
  std::atomic<bool> falhou_ = false;
  std::string falha_;  // the first failure of a thread, read by the caller after the barrier
};

int Threads() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 1 ? static_cast<int>(online) : 2;
}

int MedirEmRodadas(double assinaturaNs) {
  const int n = Threads();
  Equipe equipe(n);
  // Sums over the rounds of the wall time of one round's work: [work][0 = one thread, 1 = N].
  double tempos[2][2] = {};
  std::vector<double> razoes;
  for (int rodada = 0; rodada < kRodadas; ++rodada) {
    double desta[2][2] = {};
    for (const Trabalho trabalho : {Trabalho::kCaminho, Trabalho::kAssinatura}) {
      const int t = trabalho == Trabalho::kCaminho ? 0 : 1;
      // Alternate which goes first, so that a steady drift favours neither.
      if (rodada % 2 == 0) {
        desta[t][0] = equipe.Rodar(trabalho, 1);
        desta[t][1] = equipe.Rodar(trabalho, n);
      } else {
        desta[t][1] = equipe.Rodar(trabalho, n);
        desta[t][0] = equipe.Rodar(trabalho, 1);
      }
      tempos[t][0] += desta[t][0];
      tempos[t][1] += desta[t][1];
    }
    razoes.push_back((desta[0][0] / desta[0][1]) / (desta[1][0] / desta[1][1]));
  }
  // Throughput on N threads over one: N times the work in the N-thread time, against the work.
  const double caminho = n * tempos[0][0] / tempos[0][1];
  const double assinatura = n * tempos[1][0] / tempos[1][1];
  std::sort(razoes.begin(), razoes.end());
  std::printf(
      "\nThroughput on %d threads over one thread, %d rounds (each: the road and the raw\n"
      "signature on one thread and on %d, taking turns):\n"
      "  raw signature        %6.3f\n"
      "  offline road         %6.3f\n"
      "  road / signature     %6.3f  (target >= 0.9; the rounds alone %.3f to %.3f)\n",
      n, kRodadas, n, assinatura, caminho, caminho / assinatura, razoes.front(), razoes.back());
  if (assinaturaNs > 0) {
    std::printf("  the road on one thread: %.3f signatures a note\n",
                tempos[0][0] / (kRodadas * kNotasPorRodada) * 1e9 / assinaturaNs);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  qor::bench::RegisterBaseline();
  return qor::bench::RunWithRatios(argc, argv,
                                   [](double realNs, double) { return MedirEmRodadas(realNs); });
}
