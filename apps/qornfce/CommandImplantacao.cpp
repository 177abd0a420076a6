// Deployment commands: the refresh of the server files, the certificate store, the local updater.
#include <chrono>
#include <ctime>
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/TStrings.h"

namespace qor::cli {

namespace {

void SemArgumentos(const Options& options) {
  if (!options.Positional().empty())
    throw UsageError("argumento inesperado: " + options.Positional()[0]);
}

// The file's date, or nothing when there is no file.
std::chrono::system_clock::time_point DataDe(const std::string& arquivo) {
  return FileExists(arquivo) ? FileAge(arquivo) : std::chrono::system_clock::time_point{};
}

}  // namespace

int RunAtualizarServidores(int argc, char** argv) {
  std::set<std::string> flags = ComponentFlags();
  flags.insert("--forcar");
  const Options options(argc, argv, 2, ComponentValuedOptions(), flags);
  SemArgumentos(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string arquivos[2] = {nfce.GetArquivoServidoresProd(), nfce.GetArquivoServidoresHom()};
  if (options.Has("--forcar")) {
    for (const std::string& arquivo : arquivos) {
      if (FileExists(arquivo)) SetFileAge(arquivo, std::chrono::system_clock::time_point{});
    }
  }
  const auto antes = std::make_pair(DataDe(arquivos[0]), DataDe(arquivos[1]));
  const auto agora = std::chrono::system_clock::now();
  nfce.UpdateIniServidores();
  const auto depois = std::make_pair(DataDe(arquivos[0]), DataDe(arquivos[1]));
  if (depois != antes) {
    std::cout << "Arquivos de servidores atualizados:\n  " << arquivos[0] << "\n  " << arquivos[1]
              << "\n";
    return 0;
  }
  const auto idade = [&](std::chrono::system_clock::time_point data) {
    return std::chrono::floor<std::chrono::hours>(agora > data ? agora - data : data - agora);
  };
  if (idade(antes.first).count() < 4 && idade(antes.second).count() < 4) {
    std::cout << "Arquivos de servidores com menos de 4 horas: nada a atualizar.\n";
    return 0;
  }
  const TqorImplantacao& locais = nfce.GetImplantacao();
  if (!nfce.GetAtualizarArquivoServidores() || locais.UrlServidoresProd.empty() ||
      locais.UrlServidoresHom.empty()) {
    std::cout << "Atualização dos arquivos de servidores desligada ou sem endereços em "
                 "nfceImplantacao.ini: nada a atualizar.\n";
    return 0;
  }
  std::cerr << "qornfce: os arquivos de servidores não foram atualizados (os anteriores "
               "continuam em uso); o motivo está no evento UpdateIniServidores da pasta de "
               "logs.\n";
  return 1;
}

int RunListarCertificados(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  SemArgumentos(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TStrings lista;
  nfce.ListarCertificados(&lista);
  for (std::size_t i = 0; i < lista.Count(); ++i) std::cout << lista[i] << "\n";
  return 0;
}

int RunRemoverCertificado(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o SERIAL do certificado");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  if (!nfce.RemoverCertificado(options.Positional()[0])) {
    std::cerr << "qornfce: nenhum certificado do repositório tem o serial "
              << options.Positional()[0] << "\n";
    return 1;
  }
  std::cout << "Certificado " << options.Positional()[0] << " removido.\n";
  return 0;
}

int RunVencimentoCertificado(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  SemArgumentos(options);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::time_t t = std::chrono::system_clock::to_time_t(nfce.GetVencimentoCertificado());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[32];
  std::strftime(texto, sizeof texto, "%d/%m/%Y %H:%M:%S UTC", &tm);
  std::cout << texto << "\n";
  return 0;
}

int RunAtualizarVersao(int argc, char** argv) {
  std::set<std::string> flags = ComponentFlags();
  flags.insert({"--reiniciar-aplicacao", "--nao-atualizar-rtms", "--nao-mostrar-progresso"});
  const Options options(argc, argv, 2, ComponentValuedOptions(), flags);
  if (options.Positional().size() != 1) throw UsageError("informe a VERSAO (ex.: 4.0.1.2)");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::set<TAutoUpdaterNFCeOption> opcoes;
  if (options.Has("--reiniciar-aplicacao"))
    opcoes.insert(TAutoUpdaterNFCeOption::auNFCeReiniciarAplicacao);
  if (options.Has("--nao-atualizar-rtms"))
    opcoes.insert(TAutoUpdaterNFCeOption::auNFCeNaoAtualizarRTMs);
  if (options.Has("--nao-mostrar-progresso"))
    opcoes.insert(TAutoUpdaterNFCeOption::auNFCeNaoMostrarProgresso);
  if (!nfce.AtualizarVersao(options.Positional()[0], opcoes)) {
    std::cerr << "qornfce: o atualizador local não respondeu nada.\n";
    return 1;
  }
  std::cout << "Atualização para a versão " << options.Positional()[0] << " pedida.\n";
  return 0;
}

}  // namespace qor::cli
