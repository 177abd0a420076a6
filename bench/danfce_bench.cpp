// The DANFCE of a 10-item note through TqorGovX::ExportReport (layout read, data filled, file
// written and synced) in each format, and the PDF made in memory only, against the signature
// baseline; and the resident set after 10 and
// after 1 000 PDFs made by one object, which must stay flat (fonts are loaded once).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Baseline.h"
#include "platform/DataSet.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/Report.h"

namespace {

std::unique_ptr<qor::TqorDataSet> Set(const char* name, std::initializer_list<const char*> f) {
  auto set = std::make_unique<qor::TqorDataSet>(name);
  for (const char* field : f) set->AddField(field);
  set->Open();
  return set;
}

void Add(qor::TqorDataSet& set, std::initializer_list<std::pair<const char*, std::string>> v) {
  set.Append();
  for (const auto& [field, value] : v) set.SetValue(field, value);
  set.Post();
}

// One note of 10 items and two payments, with every field the layout names.
std::string TenItemNote() {
  auto dados = Set("Dados", {"CodBarra",
                             "Serie",
                             "DtEmissao",
                             "nNF",
                             "tpEmis",
                             "tpAmb",
                             "EmitNome",
                             "EmitCNPJ",
                             "EmitIE",
                             "EmitLogradouro",
                             "EmitNumero",
                             "EmitComplemento",
                             "EmitBairro",
                             "EmitMun",
                             "EmitUF",
                             "DestNome",
                             "DestCNPJ",
                             "ValorTotProd",
                             "Desconto",
                             "ValorAcrescimo",
                             "ValorTotNota",
                             "ValorTotTrib",
                             "QuantidadeItensNota",
                             "nProt",
                             "nProtEpec",
                             "dhRecbto",
                             "FraseHomologacao",
                             "FraseContingencia",
                             "URLQRCode",
                             "URLChave",
                             "ObsContribuinte",
                             "xMsg",
                             "TextoLivre",
                             "IdentificacaoVia",
                             "TarjaCancelada",
                             "ExibirDetalhamentoNFCe"});
  auto itens = Set("DadosItens", {"nNF", "Item", "ItemCodigo", "ItemDescricao", "ItemUnidade",
                                  "ItemQuantidade", "ItemVUnit", "ItemVTotal", "ItemObs"});
  auto pags = Set("DadosPagamentos", {"nNF", "descricaoFormaPagamento", "valorPago", "valorTroco"});
  const std::string key = "35240811222333000181650010000000011000000010";
  Add(*dados, {{"CodBarra", key},
               {"Serie", "1"},
               {"DtEmissao", "01/08/2024 10:00:00"},
               {"nNF", "000000001"},
               {"tpEmis", "1"},
               {"tpAmb", "2"},
               {"EmitNome", "EMPRESA TESTE LTDA"},
               {"EmitCNPJ", "11.222.333/0001-81"},
               {"EmitIE", "111.111.111.111"},
               {"EmitLogradouro", "RUA A"},
               {"EmitNumero", "1"},
               {"EmitBairro", "CENTRO"},
               {"EmitMun", "SÃO PAULO"},
               {"EmitUF", "SP"},
               {"ValorTotProd", "100,00"},
               {"Desconto", "0,00"},
               {"ValorAcrescimo", "0,00"},
               {"ValorTotNota", "100,00"},
               {"ValorTotTrib", "15,00"},
               {"QuantidadeItensNota", "10"},
               {"nProt", "135240000000001"},
               {"dhRecbto", "01/08/2024 10:00:02"},
               {"FraseHomologacao", "SEM VALOR FISCAL"},
               {"URLQRCode", "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=" + key +
                                 "|2|2|1|5A2E4C3F1B0D9E8F7A6B5C4D3E2F1A0B9C8D7E6F"},
               {"URLChave", "https://www.homologacao.nfce.fazenda.sp.gov.br/consulta"},
               {"ExibirDetalhamentoNFCe", "True"}});
  for (int i = 1; i <= 10; ++i) {
    Add(*itens, {{"nNF", "000000001"},
                 {"Item", std::to_string(i)},
                 {"ItemCodigo", std::to_string(1000 + i)},
                 {"ItemDescricao", "PRODUTO DE TESTE NÚMERO " + std::to_string(i)},
                 {"ItemUnidade", "UN"},
                 {"ItemQuantidade", "1,0000"},
                 {"ItemVUnit", "10,0000"},
                 {"ItemVTotal", "10,00"}});
  }
  Add(*pags, {{"nNF", "000000001"},
              {"descricaoFormaPagamento", "Dinheiro"},
              {"valorPago", "50,00"},
              {"valorTroco", "0,00"}});
  Add(*pags, {{"nNF", "000000001"},
              {"descricaoFormaPagamento", "Cartão de Crédito"},
              {"valorPago", "50,00"},
              {"valorTroco", "0,00"}});
  return qor::SerializeTDataSourceList({dados.get(), itens.get(), pags.get()});
}

struct TBench {
  TBench() {
    qor::TPrintSettings& s = govx.Get_PrintSettings();
    s.TemplateFile = qor::ExecutableDir() + "Templates/vm60/Danfce/retrato.rtm";
    s.ReportData = TenItemNote();
    s.Variables = "LarguraBobina=80";
  }
  void Export(int format) {
    govx.Get_PrintSettings().ExportFormat = format;
    govx.Get_PrintSettings().SaveAs = (folder / ("danfce." + std::to_string(format))).string();
    govx.ExportReport();
  }
  qor::TqorGovX govx;
  std::filesystem::path folder = std::filesystem::temp_directory_path();
};

void Format(benchmark::State& state, int format) {
  TBench bench;
  bench.Export(format);  // fonts loaded outside the timing, as in a till that has printed before
  for (auto _ : state) bench.Export(format);
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

// The same PDF made in memory only: the engine without the file's write and sync.
void PdfInMemory(benchmark::State& state) {
  TBench bench;
  const qor::TPrintSettings& s = bench.govx.Get_PrintSettings();
  qor::report::Render(s, qor::report::TFormat::Pdf);
  for (auto _ : state) benchmark::DoNotOptimize(qor::report::Render(s, qor::report::TFormat::Pdf));
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long total = 0, resident = 0;
  statm >> total >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void Memory(benchmark::State& state) {
  TBench bench;
  for (auto _ : state) {
    for (int i = 0; i < 10; ++i) bench.Export(1);
    state.counters["rss_kb_after_10"] = static_cast<double>(ResidentKb());
    for (int i = 10; i < 1000; ++i) bench.Export(1);
    state.counters["rss_kb_after_1000"] = static_cast<double>(ResidentKb());
  }
}

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("DANFCE/10-itens/PDF", Format, 1);
  benchmark::RegisterBenchmark("DANFCE/10-itens/HTML", Format, 2);
  benchmark::RegisterBenchmark("DANFCE/10-itens/TXT", Format, 3);
  benchmark::RegisterBenchmark("DANFCE/10-itens/PNG", Format, 4);
  benchmark::RegisterBenchmark("DANFCE/10-itens/PDF-em-memoria", PdfInMemory);
  benchmark::RegisterBenchmark("DANFCE/memoria-1000-PDF", Memory)->Iterations(1);
  return qor::bench::RunWithRatios(argc, argv);
}
