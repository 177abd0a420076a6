// TqorNFCe::AssinarNota of a converted 1-item and 10-item note (the one-item sample with its
// item repeated) against the signature baseline: accent removal, contingency check, signature,
// QR-code link and urlChave, clean-up. The certificate is loaded before the timing, as a
// component signing many notes has it; the server-address file is read on every call, as the
// component does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "Baseline.h"
#include "TestPki.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace {

std::string NotaComItens(const std::string& amostra, int itens) {
  const std::size_t inicio = amostra.find("INCLUIRITEM");
  const std::size_t fim = amostra.find("SALVARITEM\n") + 11;
  const std::string item = amostra.substr(inicio, fim - inicio);
  std::string nota = amostra.substr(0, inicio);
  for (int n = 1; n <= itens; ++n) {
    std::string copia = item;
    copia.replace(copia.find("nItem_H02=1"), 11, "nItem_H02=" + std::to_string(n));
    nota += copia;
  }
  return nota + amostra.substr(fim);
}

void BM_AssinarNota(benchmark::State& state, const std::string& amostra) {
  const auto pasta = std::filesystem::temp_directory_path() / "qornfce-bench-pki";
  const qor::sim::TestPki pki = qor::sim::CreateTestPki(pasta.string(), "11222333000181", "1234");
  const std::string servidores = (pasta / "servidores-hom.ini").string();
  qor::SaveToFile(servidores,
                  "[SP]\nURLQRCODE=https://nfce.sefaz.teste/qrcode\n[URLCONSULTACHAVE]\n"
                  "SP=https://nfce.sefaz.teste/consulta-chave\n");
  qor::TqorNFCe nfce;
  nfce.SetDiagnosticMode(false);
  nfce.SetDiretorioLogErro((pasta / "LogErro").string() + "/");
  nfce.SetUF("SP");
  nfce.SetCNPJ(pki.cnpj);
  nfce.SetArquivoServidoresHom(servidores);
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetSenhaCertificado(pki.password);
  const std::string nota =
      nfce.ConverterLoteParaXml(NotaComItens(amostra, static_cast<int>(state.range(0))),
                                qor::TLayoutConvKind::lkTXTDataSet, qor::TVersaoEsquema::pl_009g);
  nfce.AssinarNota(nota);  // loads the certificate, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(nfce.AssinarNota(nota));
  state.counters["bytes"] = static_cast<double>(nota.size());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = qor::ExecutableDir() + "exemplos/nfce-um-item-dinheiro.tx2";
  if (!qor::FileExists(path)) {
    std::fprintf(stderr, "sample note not copied beside the executable: %s\n", path.c_str());
    return 1;
  }
  const std::string amostra = qor::LoadFromFile(path);
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("AssinarNota", BM_AssinarNota, amostra)->Arg(1)->Arg(10);
  return qor::bench::RunWithRatios(argc, argv);
}
