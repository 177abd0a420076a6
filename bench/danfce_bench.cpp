// The DANFCE as a till makes it, against the signature baseline. The note is the 10-item sample
// converted, signed with the test certificate and wrapped into an authorised nfeProc (protNFe
// with cStat 100 and the signature's digest), all once, before anything is timed. Then, with the
// print class as the component drives it:
//   - the report data: LoadParams and PopulaDataSet (the data builder, the QR-code link, the
//     serialised data sets handed to the engine), and ClearDataSet;
//   - each export (TXT, HTML, PDF, PNG): the same steps and the engine writing the file;
//   - the ESC/POS receipt: the same data laid out by TqorNFCeEscPos and written to /dev/null.
// The first export of the process loads the fonts (fontconfig, pango): it is timed on its own
// before the benchmarks and printed apart; the benchmarks run after it.
//
// Exports go to a tmpfs folder (/dev/shm when there is one, else the temporary folder): a file is
// written atomically and synced, and the sync is the disk's cost, not the engine's. One PDF
// benchmark writes to the temporary folder of the disk, for reference.
//
// Last, one object makes 1 000 PDFs: the resident set after the 10th and after the 1 000th must
// stay within 2 MB (nothing kept per report). The program exits with 1 when it does not.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Amostras.h"
#include "Baseline.h"
#include "config/TDanfceSettings.h"
#include "core/TqorNFCe.h"
#include "danfce/TqorNFCeDanfce.h"
#include "danfce/TqorNFCeEscPos.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/Xml.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPdf = 1, kHtml = 2, kTxt = 3, kPng = 4;

const std::string& NotaAutorizada() {
  static const std::string proc = qor::bench::NotaAutorizada(10);
  return proc;
}

fs::path PastaEmMemoria() {
  const fs::path shm = "/dev/shm";
  fs::path pasta = fs::is_directory(shm) ? shm : fs::temp_directory_path();
  pasta /= "qornfce-bench-danfce";
  fs::create_directories(pasta);
  return pasta;
}

fs::path PastaDoDisco() {
  const fs::path pasta = fs::temp_directory_path() / "qornfce-bench-danfce";
  fs::create_directories(pasta);
  return pasta;
}

// The print parameters the component hands over with its default DANFCE settings (SP,
// homologation), the export format and the file.
std::string Parametros(int formato, const fs::path& arquivo) {
  const std::string modelos = qor::ExecutableDir() + "Templates/vm60/Danfce/";
  const std::string modelo = modelos + (formato == kTxt ? "retrato_texto.rtm" : "retrato.rtm");
  return "QtdeCopias=1\nFraseHomologacao=SEM VALOR FISCAL\nLineDelimiter=|\n"
         "InfCplMaxCol=68\nInfCplMaxRow=7\nModeloDanfce=" +
         modelo + "\nModeloDanfceMensagemEletronica=" + modelos +
         "mensagem_eletronica.rtm\n"
         "URLSefazHom=https://nfce.sefaz.teste/qrcode\nExibirDetalhamento=1\n"
         "ExibirAcrescimoEDesconto=1\nUFConfigIni=SP\nFormatoExportacao=" +
         std::to_string(formato) + "\nSalvarComo=" + arquivo.string() + "\n";
}

// One print object set up for `formato`, writing to `pasta`.
struct TDanfce {
  TDanfce(int formato, const fs::path& pasta) : formato(formato) {
    danfce.SetXML(NotaAutorizada());
    danfce.SetParams(Parametros(formato, pasta / ("danfce." + std::to_string(formato))));
  }
  // Exportar's steps; the format is set on the engine after LoadParams, which knows 1 to 3 only.
  void Exportar() {
    danfce.LoadParams();
    danfce.GetGov().Get_PrintSettings().ExportFormat = formato;
    danfce.PopulaDataSet();
    danfce.GetGov().ExportReport();
    danfce.ClearDataSet();
  }
  int formato;
  qor::TqorNFCeDanfce danfce;
};

void Dados(benchmark::State& state) {
  TDanfce d(kPdf, PastaEmMemoria());
  for (auto _ : state) {
    d.danfce.LoadParams();
    d.danfce.PopulaDataSet();
    benchmark::DoNotOptimize(d.danfce.GetGov().Get_PrintSettings().ReportData.data());
    d.danfce.ClearDataSet();
  }
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

void Exportacao(benchmark::State& state, int formato, bool disco) {
  TDanfce d(formato, disco ? PastaDoDisco() : PastaEmMemoria());
  d.Exportar();
  for (auto _ : state) d.Exportar();
  state.counters["bytes"] =
      static_cast<double>(fs::file_size(d.danfce.GetGov().Get_PrintSettings().SaveAs));
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

// The component's receipt: the same data, laid out for a 48-column printer that draws the QR code
// itself, the whole receipt written to the port in one go.
void EscPos(benchmark::State& state) {
  TDanfce d(kPdf, PastaEmMemoria());
  qor::TEscPosSettings settings;
  settings.SetPortaEscPos("/dev/null");
  qor::TqorNFCeEscPos impressora;
  impressora.POS_Configurar(settings);
  const std::string qrCode = qor::GetValueTag("qrCode", NotaAutorizada());
  const auto recibo = [&] {
    d.danfce.LoadParams();
    d.danfce.PopulaDataSet();
    impressora.POS_Ativar();
    qor::TqorNFCeDanfceDados& dados = d.danfce.GetDados();
    impressora.ImprimirDados(dados.Dados(), dados.DadosItens(), dados.DadosPagamentos(), qrCode, 1);
    impressora.POS_Desativar();
    d.danfce.ClearDataSet();
  };
  recibo();
  for (auto _ : state) recibo();
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

double ThreadCpuNs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

struct TTempo {
  double real = 0, cpu = 0;  // nanoseconds
};

template <typename Body>
TTempo Medir(Body&& body) {
  const auto inicio = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuNs();
  body();
  return {
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - inicio).count(),
      ThreadCpuNs() - cpu};
}

}  // namespace

int main(int argc, char** argv) {
  // The first PDF of the process, fonts loaded, and the second one, timed before the benchmarks.
  TTempo primeira, segunda;
  {
    TDanfce d(kPdf, PastaEmMemoria());
    NotaAutorizada();
    primeira = Medir([&] { d.Exportar(); });
    segunda = Medir([&] { d.Exportar(); });
  }

  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("DANFCE/10-itens/dados", Dados);
  benchmark::RegisterBenchmark("DANFCE/10-itens/TXT", Exportacao, kTxt, false);
  benchmark::RegisterBenchmark("DANFCE/10-itens/HTML", Exportacao, kHtml, false);
  benchmark::RegisterBenchmark("DANFCE/10-itens/ESC-POS", EscPos);
  benchmark::RegisterBenchmark("DANFCE/10-itens/PDF", Exportacao, kPdf, false);
  benchmark::RegisterBenchmark("DANFCE/10-itens/PNG", Exportacao, kPng, false);
  benchmark::RegisterBenchmark("DANFCE/10-itens/PDF-no-disco", Exportacao, kPdf, true);

  return qor::bench::RunWithRatios(argc, argv, [&](double realNs, double cpuNs) {
    if (realNs > 0 && cpuNs > 0) {
      std::printf("  %-52s %8.3f %8.3f\n", "primeiro PDF do processo (carga das fontes)",
                  primeira.real / realNs, primeira.cpu / cpuNs);
      std::printf("  %-52s %8.3f %8.3f\n", "segundo PDF do processo", segunda.real / realNs,
                  segunda.cpu / cpuNs);
    }
    std::printf("\nprimeiro PDF: %.1f ms (CPU %.1f ms); segundo: %.1f ms (CPU %.1f ms)\n",
                primeira.real / 1e6, primeira.cpu / 1e6, segunda.real / 1e6, segunda.cpu / 1e6);

    TDanfce d(kPdf, PastaEmMemoria());
    for (int i = 0; i < 10; ++i) d.Exportar();
    const double depoisDe10 = qor::bench::ResidenteMiB();
    for (int i = 10; i < 1000; ++i) d.Exportar();
    const double depoisDe1000 = qor::bench::ResidenteMiB();
    const bool cresceuDemais = depoisDe1000 - depoisDe10 > 2.0;
    std::printf(
        "residente após 10 PDFs: %.2f MB; após 1000: %.2f MB; diferença %.2f MB "
        "(limite 2 MB)%s\n",
        depoisDe10, depoisDe1000, depoisDe1000 - depoisDe10,
        cresceuDemais ? "  ACIMA DO LIMITE" : "");
    return cresceuDemais ? 1 : 0;
  });
}
