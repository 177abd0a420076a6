// qornfce contingencia emitir|transmitir|listar: the offline contingency queue.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "ComponentOptions.h"
#include "contingency/TqorContingencia.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"

namespace qor::cli {

namespace {

std::atomic<bool> gParar{false};

extern "C" void AoSinal(int) { gParar = true; }

// SIGINT and SIGTERM end the run between two notes: the note being sent finishes and is
// recorded, so a stop never leaves one half-done. Without SA_RESTART a wait is cut short.
void CapturarSinais() {
  struct sigaction acao {};
  acao.sa_handler = AoSinal;
  sigemptyset(&acao.sa_mask);
  sigaction(SIGINT, &acao, nullptr);
  sigaction(SIGTERM, &acao, nullptr);
}

std::string PastaDaFila(const Options& options) {
  const std::string pasta = options.Get("fila");
  return pasta.empty() ? HomeDir() + "Contingencia/" : FromCurrentDir(pasta) + "/";
}

std::set<std::string> Valoradas(std::initializer_list<const char*> proprias) {
  std::set<std::string> nomes = ComponentValuedOptions();
  for (const char* nome : proprias) nomes.insert(nome);
  return nomes;
}

std::string Duracao(std::chrono::seconds s) {
  const bool negativo = s.count() < 0;
  long long total = negativo ? -s.count() : s.count();
  char texto[48];
  std::snprintf(texto, sizeof texto, "%s%lldh%02lldm", negativo ? "-" : "", total / 3600,
                (total % 3600) / 60);
  return texto;
}

int Emitir(const Options& options) {
  if (options.Positional().size() != 2) throw UsageError("informe o arquivo da nota (ou - )");
  if (!options.Has("justificativa")) throw UsageError("informe --justificativa TEXTO");
  const std::string nota = ReadInput(options.Positional()[1]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TqorContingencia contingencia(nfce, PastaDaFila(options));
  std::cout << contingencia.EmitirOffline(nota, options.Get("justificativa")) << "\n";
  return 0;
}

int Transmitir(const Options& options) {
  if (options.Positional().size() != 1) throw UsageError("transmitir não recebe argumentos");
  const int max = options.GetInt("max", 0);
  const int vigiar = options.GetInt("vigiar", -1);
  if (max < 0) throw UsageError("--max deve ser 0 ou mais");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TqorContingencia contingencia(nfce, PastaDaFila(options));
  CapturarSinais();
  contingencia.SetInterrupcao(&gParar);
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const auto inicio = std::chrono::steady_clock::now();
  if (terminal) {
    contingencia.OnProgresso = [&](int feitas, int total) {
      const double segundos =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio).count();
      const double taxa = segundos > 0 ? feitas / segundos : 0;
      const double faltam = taxa > 0 ? (total - feitas) / taxa : 0;
      std::fprintf(stderr, "\r%d/%d notas, %.1f/s, faltam %.0fs   ", feitas, total, taxa, faltam);
      if (feitas == total) std::fputc('\n', stderr);
    };
  }
  // Waits in short steps so a signal ends the wait at once.
  const auto esperar = [](std::chrono::seconds quanto) {
    const auto fim = std::chrono::steady_clock::now() + quanto;
    while (!gParar && std::chrono::steady_clock::now() < fim) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  };
  TResultadoTransmissao total;
  for (;;) {
    const TResultadoTransmissao r = contingencia.Transmitir(max);
    if (r.filaEmUso) {
      if (vigiar < 0) {
        std::cout << "fila em uso por outro processo\n";
        return 0;
      }
      esperar(std::chrono::seconds(1));
      if (gParar) break;
      continue;
    }
    total.enviadas += r.enviadas;
    total.autorizadas += r.autorizadas;
    total.denegadas += r.denegadas;
    total.duplicadas += r.duplicadas;
    total.rejeitadas += r.rejeitadas;
    total.inutilizadas += r.inutilizadas;
    total.canceladas += r.canceladas;
    total.falhasTransporte += r.falhasTransporte;
    total.pendentes = r.pendentes;
    total.emVerificacao = r.emVerificacao;
    if (!r.ultimaFalha.empty()) total.ultimaFalha = r.ultimaFalha;
    for (const TArquivoDanificado& d : r.danificados) {
      std::cerr << "arquivo danificado: " << d.arquivo << ": " << d.motivo << "\n";
    }
    if (vigiar < 0 || gParar || r.interrompida || (r.pendentes == 0 && r.emVerificacao == 0)) {
      break;
    }
    esperar(std::chrono::seconds(vigiar));
    if (gParar) break;
  }
  std::cout << "enviadas " << total.enviadas << ", autorizadas " << total.autorizadas
            << ", denegadas " << total.denegadas << ", duplicadas " << total.duplicadas
            << ", rejeitadas " << total.rejeitadas << ", inutilizadas " << total.inutilizadas
            << ", canceladas " << total.canceladas << ", falhas de comunicação "
            << total.falhasTransporte << ", pendentes " << total.pendentes << ", em verificação "
            << total.emVerificacao << (gParar ? " (interrompida)" : "") << "\n";
  if (!total.ultimaFalha.empty()) std::cerr << "última falha: " << total.ultimaFalha << "\n";
  return 0;
}

int Listar(const Options& options) {
  if (options.Positional().size() != 1) throw UsageError("listar não recebe argumentos");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TqorContingencia contingencia(nfce, PastaDaFila(options));
  const TListagemContingencia listagem = contingencia.Listar();
  if (options.Has("json")) {
    std::cout << "[";
    bool primeiro = true;
    for (const TItemListagem& item : listagem.itens) {
      const TEntradaContingencia& e = item.entrada;
      std::cout << (primeiro ? "\n" : ",\n") << "  {\"chave\": " << JsonString(e.chave)
                << ", \"estado\": " << JsonString(NomeEstado(e.estado))
                << ", \"idadeSegundos\": " << item.idade.count()
                << ", \"restanteSegundos\": " << item.tempoRestante.count()
                << ", \"atrasada\": " << (item.atrasada ? "true" : "false")
                << ", \"tentativas\": " << e.tentativas << ", \"cStat\": " << JsonString(e.cStat)
                << ", \"xMotivo\": " << JsonString(e.xMotivo)
                << ", \"chaveRelacionada\": " << JsonString(e.chaveRelacionada) << "}";
      primeiro = false;
    }
    for (const TArquivoDanificado& d : listagem.danificados) {
      std::cout << (primeiro ? "\n" : ",\n") << "  {\"arquivo\": " << JsonString(d.arquivo)
                << ", \"estado\": \"danificada\", \"motivo\": " << JsonString(d.motivo) << "}";
      primeiro = false;
    }
    std::cout << (primeiro ? "]\n" : "\n]\n");
    return 0;
  }
  for (const TItemListagem& item : listagem.itens) {
    const TEntradaContingencia& e = item.entrada;
    std::cout << e.chave << "  " << NomeEstado(e.estado) << "  idade " << Duracao(item.idade)
              << "  prazo " << Duracao(item.tempoRestante) << (item.atrasada ? "  ATRASADA" : "");
    if (!e.cStat.empty()) std::cout << "  " << e.cStat << " " << e.xMotivo;
    if (!e.chaveRelacionada.empty()) std::cout << "  (relacionada: " << e.chaveRelacionada << ")";
    std::cout << "\n";
  }
  for (const TArquivoDanificado& d : listagem.danificados) {
    std::cout << d.arquivo << "  danificada  " << d.motivo << "\n";
  }
  return 0;
}

}  // namespace

int RunContingencia(int argc, char** argv) {
  auto flags = ComponentFlags();
  flags.insert("json");
  const Options options(argc, argv, 2, Valoradas({"fila", "justificativa", "max", "vigiar"}),
                        flags);
  if (options.Positional().empty()) throw UsageError("informe emitir, transmitir ou listar");
  const std::string& acao = options.Positional()[0];
  if (acao == "emitir") return Emitir(options);
  if (acao == "transmitir") return Transmitir(options);
  if (acao == "listar") return Listar(options);
  throw UsageError("ação desconhecida: " + acao + " (use emitir, transmitir ou listar)");
}

}  // namespace qor::cli
