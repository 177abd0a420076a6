// Deployment: the refresh of the server-address files, the certificate store, the local updater.
#include <atomic>
#include <chrono>
#include <exception>
#include <regex>
#include <string>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"

namespace qor {

namespace {

using Clock = std::chrono::system_clock;

constexpr auto kIdadeMaxima = std::chrono::hours(4);

// Whole hours between the file's date and now (either way round) reach 4; a file that cannot be
// dated (missing, or not configured) is as old as can be. One stat.
bool Velho(const std::string& arquivo, Clock::time_point agora) {
  const std::optional<Clock::time_point> idade = TryFileAge(arquivo);
  if (!idade) return true;
  const Clock::time_point data = *idade;
  const auto diferenca = agora > data ? agora - data : data - agora;
  return std::chrono::floor<std::chrono::hours>(diferenca) >= kIdadeMaxima;
}

// Whether `texto` has the line "endereco=<endereco>" (the key in any case, blanks around ignored).
bool TemEndereco(const std::string& texto, const std::string& endereco) {
  const std::string esperado = "endereco=" + LowerCase(endereco);
  std::size_t inicio = 0;
  while (inicio < texto.size()) {
    std::size_t fim = texto.find('\n', inicio);
    if (fim == std::string::npos) fim = texto.size();
    if (LowerCase(Trim(texto.substr(inicio, fim - inicio))) == esperado) return true;
    inicio = fim + 1;
  }
  return false;
}

// A name beside `alvo` no other refresh (of this or another process) uses; the prefix is the
// one whose leftovers, after a crash, the next whole-file write in the folder removes.
std::string NomeTemporario(const std::string& alvo) {
  static std::atomic<unsigned> contador{0};
  return ExtractFileDir(alvo) + ".qor-tmp-srv-" + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(CurrentThreadId()) + "-" + std::to_string(++contador) + "-" +
         ExtractFileName(alvo);
}

struct Alvo {
  std::string arquivo, origem, endereco;
  std::string temporario, copia;
  bool trocado = false;
};

}  // namespace

// ---- server-address files -------------------------------------------------------------------

TqorImplantacao& TqorNFCe::GetImplantacao() {
  if (!implantacao_) {
    implantacao_ = std::make_unique<TqorImplantacao>(
        LerImplantacao(DataDir() + "nfceImplantacao.ini", diretorioLogErro_));
  }
  return *implantacao_;
}

std::unique_ptr<TIniFile> TqorNFCe::LoadIniFile(const std::string& arquivo) {
  const std::string caminho = ExtractFileDir(ExpandPath(arquivo)) + ExtractFileName(arquivo);
  if (!FileExists(caminho)) {
    throw EqorFileNotFoundException("O arquivo de servidores informado não existe: %s", {caminho},
                                    diretorioLogErro_);
  }
  return std::make_unique<TIniFile>(caminho);
}

void TqorNFCe::UpdateIniServidores() {
  if (!atualizarArquivoServidores_) return;
  SendTelemetryPing("UpdateIniServidores");
  try {
    const Clock::time_point agora = Clock::now();
    Alvo alvos[2] = {{GetArquivoServidoresProd(), {}, {}, {}, {}},
                     {GetArquivoServidoresHom(), {}, {}, {}, {}}};
    if (!Velho(alvos[0].arquivo, agora) && !Velho(alvos[1].arquivo, agora)) return;
    const TqorImplantacao& locais = GetImplantacao();
    if (locais.UrlServidoresProd.empty() || locais.UrlServidoresHom.empty()) return;
    alvos[0].origem = locais.UrlServidoresProd;
    alvos[0].endereco = locais.EnderecoProd;
    alvos[1].origem = locais.UrlServidoresHom;
    alvos[1].endereco = locais.EnderecoHom;

    // Removes what this refresh left beside the files, whatever happened.
    const auto limpar = [&alvos] {
      for (Alvo& alvo : alvos) {
        if (!alvo.temporario.empty()) DeleteFile(alvo.temporario);
        if (!alvo.copia.empty()) DeleteFile(alvo.copia);
      }
    };
    try {
      for (Alvo& alvo : alvos) {
        if (!FileExists(alvo.arquivo)) continue;
        alvo.copia = ExtractFileDir(alvo.arquivo) + "bkp_" + ExtractFileName(alvo.arquivo);
        CopyFile(alvo.arquivo, alvo.copia);
      }
      TqorGovX& gov = GetGov();
      for (Alvo& alvo : alvos) {
        alvo.temporario = NomeTemporario(alvo.arquivo);
        gov.UpdateResource(alvo.origem, alvo.temporario, locais.TempoLimiteDownload);
        if (!TemEndereco(LoadFromFile(alvo.temporario), alvo.endereco)) {
          throw EqorNFCeException(
              "O arquivo de servidores baixado de %s não contém a linha "
              "\"endereco=%s\".",
              {alvo.origem, alvo.endereco}, diretorioLogErro_);
        }
      }
      for (Alvo& alvo : alvos) {
        RenameFile(alvo.temporario, alvo.arquivo);
        alvo.temporario.clear();
        alvo.trocado = true;
      }
      for (Alvo& alvo : alvos) SetFileAge(alvo.arquivo, agora);
    } catch (...) {
      // Only a failure between the two renames leaves one file replaced: it goes back to its
      // copy, so the pair stays the pair it was.
      for (Alvo& alvo : alvos) {
        if (!alvo.trocado || alvo.copia.empty()) continue;
        try {
          CopyFile(alvo.copia, alvo.arquivo);
        } catch (const std::exception&) {
          // The new file stays: whole, and checked.
        }
      }
      limpar();
      throw;
    }
    limpar();
  } catch (const std::exception& falha) {
    ReportFailure("UpdateIniServidores", falha);
  }
}

// ---- certificates ---------------------------------------------------------------------------

std::string TqorNFCe::GetRepositorioCertificados() {
  if (tipoCertificado_ == TCertificadoKind::ckFile) {
    if (Trim(caminhoCertificado_).empty()) {
      throw EqorCertStoreException(
          "Certificado não informado: indique o arquivo PKCS#12 em CaminhoCertificado.",
          diretorioLogErro_);
    }
    return ExtractFileDir(ExpandPath(caminhoCertificado_));
  }
  return GetSpecialDirectories(3) + "certificados/";
}

void TqorNFCe::ListarCertificados(TStrings* aList) {
  RunOperation("ListarCertificados", [&] {
    if (aList == nullptr) {
      throw EqorNFCeCheckParamsException("A lista do certificado não foi instanciada. ",
                                         diretorioLogErro_);
    }
    const auto linhas = GetGov().ListCertificates(GetRepositorioCertificados(), senhaCertificado_);
    aList->Clear();
    for (const std::string& linha : linhas) aList->Add(linha);
  });
}

bool TqorNFCe::RemoverCertificado(const std::string& serial) {
  SendTelemetryPing("RemoverCertificado");
  try {
    return GetGov().RemoveCertificate(GetRepositorioCertificados(), senhaCertificado_, serial);
  } catch (const std::exception& falha) {
    SendTelemetryException("RemoverCertificado", "qorCertStoreException", falha.what());
    throw EqorCertStoreException(falha.what(), diretorioLogErro_);
  }
}

std::chrono::system_clock::time_point TqorNFCe::GetVencimentoCertificado() {
  return RunOperation("GetVencimentoCertificado", [&] { return GetGov().CertificateExpiration(); });
}

// ---- local updater --------------------------------------------------------------------------

bool TqorNFCe::AtualizarVersao(const std::string& aVersao,
                               const std::set<TAutoUpdaterNFCeOption>& opcoes) {
  return RunOperation("AtualizarVersao", [&] {
    if (Trim(aVersao).empty()) {
      throw EqorNFCeAutoUpdaterException("Favor preencher o parâmetro aVersao", diretorioLogErro_);
    }
    static const std::regex versao(R"(\d+(\.\d+)+)");
    if (!std::regex_match(aVersao, versao)) {
      throw EqorNFCeAutoUpdaterException("Parâmetro aVersao com valor inválido.",
                                         diretorioLogErro_);
    }
    const auto opcao = [&opcoes](TAutoUpdaterNFCeOption o) {
      return opcoes.count(o) != 0 ? "1" : "0";
    };
    TStrings parametros;
    parametros.Add("pastaEsquemas=" + GetDiretorioEsquemas());
    parametros.Add("pastaTemplates=" + GetDiretorioTemplates());
    parametros.Add("pastaInis=" + ExtractFileDir(ambiente_ == TAmbienteKind::akProducao
                                                     ? GetArquivoServidoresProd()
                                                     : GetArquivoServidoresHom()));
    parametros.Add(std::string("reiniciarAplicacao=") +
                   opcao(TAutoUpdaterNFCeOption::auNFCeReiniciarAplicacao));
    parametros.Add(std::string("naoAtualizarRTMs=") +
                   opcao(TAutoUpdaterNFCeOption::auNFCeNaoAtualizarRTMs));
    parametros.Add(std::string("naoMostrarProgresso=") +
                   opcao(TAutoUpdaterNFCeOption::auNFCeNaoMostrarProgresso));
    std::string saida;
    const std::string endereco =
        "http://127.0.0.1:" + std::to_string(GetImplantacao().PortaAtualizador) + "/";
    return RequestAutoUpdaterLocal("NFCE", aVersao, saida, CurrentProcessId(), 1000000000, endereco,
                                   "GET", parametros.Text());
  });
}

bool TqorNFCe::RequestAutoUpdaterLocal(const std::string& produto, const std::string& versao,
                                       std::string& saida, long long processo, long long numero,
                                       const std::string& endereco, const std::string& metodo,
                                       const std::string& parametros) {
  return GetGov().RequestAutoUpdaterLocal(produto, versao, saida, processo, numero, endereco,
                                          metodo, parametros,
                                          GetImplantacao().TempoLimiteAtualizador);
}

}  // namespace qor
