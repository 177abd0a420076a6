// The component's configuration: the settings objects, the INI file (load and save, key by key
// in the file's order), what is pushed into the services object before each request, and the
// print parameter text.
#include <exception>
#include <memory>
#include <string>

#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "core/ChavesConfiguracao.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "utils/Conversoes.h"
#include "utils/Paths.h"

namespace qor {

namespace {

// Booleans of the print parameter text.
std::string Flag(bool value) { return value ? "-1" : "0"; }

// The server-address file `file` (expanded), which must exist.
std::unique_ptr<TIniFile> ArquivoServidores(const std::string& file, const std::string& logErro) {
  const std::shared_ptr<const std::string> texto = SharedFileText(file);
  if (!texto) {
    throw EqorFileNotFoundException("O arquivo de servidores informado não existe: %s", {file},
                                    logErro);
  }
  return TIniFile::FromText(*texto);
}

// The QR-code base address of a state: section "<UF>_<version text>", else section "<UF>".
std::string UrlQrCode(const TIniFile& servidores, const std::string& uf,
                      const std::string& versao) {
  const std::string url = servidores.ReadString(uf + "_" + versao, "URLQRCODE", "");
  return url.empty() ? servidores.ReadString(uf, "URLQRCODE", "") : url;
}

}  // namespace

// ---- settings objects -----------------------------------------------------------------------

TDanfceSettings& TqorNFCe::GetDanfceSettings() {
  if (!danfceSettings_) danfceSettings_ = std::make_unique<TDanfceSettings>();
  return *danfceSettings_;
}

void TqorNFCe::SetDanfceSettings(std::unique_ptr<TDanfceSettings> settings) {
  danfceSettings_ = std::move(settings);
}

TEscPosSettings& TqorNFCe::GetEscPosSettings() {
  if (!escPosSettings_) escPosSettings_ = std::make_unique<TEscPosSettings>();
  return *escPosSettings_;
}

void TqorNFCe::SetEscPosSettings(std::unique_ptr<TEscPosSettings> settings) {
  escPosSettings_ = std::move(settings);
}

TqorEmailSettings& TqorNFCe::GetEmailSettings() {
  if (!emailSettings_) emailSettings_ = std::make_unique<TqorEmailSettings>();
  return *emailSettings_;
}

TIniFile& TqorNFCe::GetConfigINI() {
  if (!configIni_) configIni_ = std::make_unique<TIniFile>(GetINIFilePath(""));
  return *configIni_;
}

void TqorNFCe::SetConfigINI(std::unique_ptr<TIniFile> ini) { configIni_ = std::move(ini); }

// ---- load and save --------------------------------------------------------------------------

// The load pings after loading, so the event follows the settings just read; a failure is
// reported under the operation's name like any other.
void TqorNFCe::LoadConfig(const std::string& fileName) {
  try {
    const std::string path = GetINIFilePath(fileName);
    if (!FileExists(path)) {
      throw EqorConfigINIException("Arquivo %s não foi encontrado", {path}, diretorioLogErro_);
    }
    configIni_ = std::make_unique<TIniFile>(path);
    CarregarConfiguracoes();
  } catch (const std::exception& failure) {
    ReportFailure("LoadConfig", failure);
    throw;
  }
  SendTelemetryPing("LoadConfig");
}

void TqorNFCe::LoadConfig(const TIniFile* ini) {
  try {
    if (ini == nullptr) {
      throw EqorConfigINIException("O parâmetro não pode ser nil para realizar o LoadConfig",
                                   diretorioLogErro_);
    }
    configIni_ = std::make_unique<TIniFile>();
    Carregar(*ini);
  } catch (const std::exception& failure) {
    ReportFailure("LoadConfig", failure);
    throw;
  }
  SendTelemetryPing("LoadConfig");
}

void TqorNFCe::SaveConfig(const std::string& fileName) {
  RunOperation("SaveConfig", [&] {
    if (!fileName.empty()) configIni_ = std::make_unique<TIniFile>(fileName);
    SalvarConfiguracoes();
  });
}

void TqorNFCe::SaveConfig(TIniFile* ini) {
  RunOperation("SaveConfig", [&] {
    if (ini == nullptr) {
      throw EqorConfigINIException("Parâmetro não pode ser nil para realizar o SaveConfig",
                                   diretorioLogErro_);
    }
    configIni_ = std::make_unique<TIniFile>();
    Salvar(*ini);
  });
}

void TqorNFCe::CarregarConfiguracoes() { Carregar(GetConfigINI()); }

// A file-backed INI writes itself on every key; the configuration is written instead as one
// whole file (through an in-memory copy of it), so the file is never left half-saved and the
// save costs one write, not one per key.
void TqorNFCe::SalvarConfiguracoes() {
  TIniFile& ini = GetConfigINI();
  const std::string file = ini.FileName();
  if (file.empty()) {
    Salvar(ini);
    return;
  }
  std::unique_ptr<TIniFile> copia;
  try {
    copia = TIniFile::FromText(FileExists(file) ? LoadFromFile(file) : std::string());
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao salvar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
  Salvar(*copia);
  try {
    SavePrivateFile(file, copia->Text());
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao salvar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
  configIni_ = std::make_unique<TIniFile>(file);
}

// Each key goes through its property's setter in the catalogue's order, so the setters' checks
// run in that order and what was applied before a failing key stays applied.
void TqorNFCe::Carregar(const TIniFile& ini) {
  try {
    CarregarChaves(*this, ini, sectionINI_);
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao carregar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
}

void TqorNFCe::Salvar(TIniFile& ini) {
  try {
    GravarChaves(*this, ini, sectionINI_);
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao salvar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
}

// ---- what each request takes from the configuration -----------------------------------------

void TqorNFCe::ConfigurarEmailSettings() {
  const TqorEmailSettings& from = GetEmailSettings();
  TEmailSettings& to = gov_->Get_EmailSettings();
  to.Server = from.GetServidorSmtp();
  to.Port = from.GetPorta();
  to.UserName = from.GetUsuario();
  to.Password = from.GetSenha();
  to.Authenticate = from.GetAutenticacao();
  to.TimeOut = from.GetTimeOut();
  to.From = from.GetEmailRemetente();
  to.To = from.GetEmailDestinatario();
  to.Cc = from.GetCC();
  to.Bcc = from.GetCCo();
  to.Subject = from.GetAssunto();
  to.Body = from.GetMensagem();
  to.Html = from.GetConteudoHtml();
  // The mail server is checked as the state's servers are: the same switch, and the same bundle
  // added to the system store (which holds the public CAs mail servers use).
  to.IgnoreInvalidCertificates = ignoreInvalidCertificates_;
  to.CABundle = ExpandPath(arquivoCadeiaCertificados_);
}

void TqorNFCe::LoadDanfceSettings() {
  const TDanfceSettings& d = GetDanfceSettings();
  const std::string versao = VersaoManualToStr(versaoManual_);
  // The file of the environment in force must exist; the other environment's file is read
  // when there is one, so a homologation-only installation needs no production file.
  const auto url = [&](const std::string& file, TAmbienteKind of) {
    if (of != ambiente_ && !FileExists(file)) return std::string();
    return UrlQrCode(*ArquivoServidores(file, diretorioLogErro_), uf_, versao);
  };
  const std::string urlProd = url(GetArquivoServidoresProd(), TAmbienteKind::akProducao);
  const std::string urlHom = url(GetArquivoServidoresHom(), TAmbienteKind::akHomologacao);

  // One line per parameter: a line break inside a value would start a line of its own, so it
  // is written as the line delimiter, which the DANFCE prints as a line break anyway.
  const std::string delimiter = d.GetLineDelimiter();
  const auto line = [&delimiter](const std::string& name, const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\r' || value[i] == '\n') {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        text += delimiter;
      } else {
        text += value[i];
      }
    }
    return name + "=" + text;
  };
  TStrings params;
  params.Add(line("QtdeCopias", std::to_string(d.GetQtdeCopias())));
  params.Add(line("Versao", versao));
  params.Add(line("LogotipoEmitente", d.GetLogotipoEmitente()));
  params.Add(line("FraseContingencia", d.GetFraseContingencia()));
  params.Add(line("FraseHomologacao", d.GetFraseHomologacao()));
  params.Add(line("VersaoManual", versao));
  params.Add(line("LineDelimiter", delimiter));
  params.Add(line("InfCplMaxCol", std::to_string(d.GetInfCplMaxCol())));
  params.Add(line("InfCplMaxRow", std::to_string(d.GetInfCplMaxRow())));
  params.Add(line("InfCplQuebrarLinhaAut", Flag(d.GetInfCplQuebrarLinhaAut())));
  params.Add(line("ModeloDanfce", d.GetModeloDanfce()));
  params.Add(line("ModeloDanfceMensagemEletronica", d.GetModeloDanfceMensagemEletronica()));
  params.Add(line("URLSefazProd", urlProd));
  params.Add(line("URLSefazHom", urlHom));
  params.Add(line("ExibirDetalhamento", Flag(d.GetExibirDetalhamento())));
  params.Add(line("ExibirAcrescimoEDesconto", Flag(d.GetExibirAcrescimoEDesconto())));
  params.Add(line("ImprimirFrete", Flag(d.GetImprimirFrete())));
  params.Add(line("ImprimirFreteProduto", Flag(d.GetImprimirFreteProduto())));
  params.Add(line("TokenNFCe", d.GetTokenNFCe()));
  params.Add(line("IdTokenNFCe", d.GetIdTokenNFCe()));
  params.Add(line("ParamsAvancados", d.GetParamsAvancados()));
  params.Add(line("UFConfigIni", uf_));
  // Replaced whole, so a failure above leaves the previous text.
  paramsDanfce_.SetText(params.Text());
}

}  // namespace qor
