#include "Ambiente.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/TqorNFCe.h"

namespace qor::fuzz {

namespace {

struct PastaDoProcesso {
  std::string caminho;
  PastaDoProcesso() {
    std::error_code erro;
    std::string modelo = (std::filesystem::temp_directory_path(erro) / "qornfce-fuzz-XXXXXX");
    if (erro || ::mkdtemp(modelo.data()) == nullptr) {
      std::fprintf(stderr, "fuzz: cannot create a scratch folder\n");
      std::abort();
    }
    caminho = modelo + "/";
    std::filesystem::create_directories(caminho + "LogErro", erro);
  }
  ~PastaDoProcesso() {
    std::error_code erro;
    std::filesystem::remove_all(caminho, erro);
  }
};

}  // namespace

const std::string& Pasta() {
  static const PastaDoProcesso pasta;
  return pasta.caminho;
}

std::string PastaLogErro() { return Pasta() + "LogErro/"; }

void PodarLogs() {
  static unsigned chamadas = 0;
  if (++chamadas % 4096 != 0) return;
  std::error_code erro;
  for (const auto& arquivo : std::filesystem::directory_iterator(PastaLogErro(), erro)) {
    std::filesystem::remove_all(arquivo.path(), erro);
  }
}

TqorNFCe& Componente() {
  static const std::unique_ptr<TqorNFCe> componente = [] {
    auto nfce = std::make_unique<TqorNFCe>();
    nfce->SetDiretorioLog(Pasta() + "Log/");
    nfce->SetDiretorioLogErro(PastaLogErro());
    nfce->SetDiretorioXmlDestinatario(Pasta() + "XmlDestinatario/");
    nfce->SetDiretorioTemporario(Pasta() + "Temp/");
    nfce->SetDiagnosticMode(false);
    nfce->SetSalvarLogsEmDisco(false);
    nfce->SetUF("SP");
    nfce->SetCNPJ("11222333000181");
    return nfce;
  }();
  return *componente;
}

unsigned long& Completas() {
  static unsigned long completas = 0;
  return completas;
}

void Mostrar(const std::exception& recusa) {
  static const bool mostrar = std::getenv("QORNFCE_FUZZ_MOSTRAR") != nullptr;
  if (mostrar) std::fprintf(stderr, "fuzz: refused: %.300s\n", recusa.what());
}

void Confere(bool condicao, const char* oQue, const std::string& detalhe) {
  if (condicao) return;
  std::fprintf(stderr, "fuzz: %s\n%s\n", oQue, detalhe.c_str());
  std::abort();
}

}  // namespace qor::fuzz
