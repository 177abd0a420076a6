// The component's configuration: the settings objects, the INI file (load and save, key by key
// in the file's order), what is pushed into the services object before each request, and the
// print parameter text.
#include <exception>
#include <memory>
#include <string>

#include "config/ConfigIni.h"
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "utils/Conversoes.h"
#include "utils/Paths.h"

namespace qor {

namespace {

constexpr const char* kIntegrador = "INTEGRADOR";
constexpr const char* kMail = "MAIL";
constexpr const char* kDanfce = "DANFCE";
constexpr const char* kEscPos = "ESCPOS";

// The accents the configuration file removes when it does not say otherwise (shorter than the
// component's own default, which a file written elsewhere does not expect).
constexpr const char* kAcentosPadraoIni = "áéíóúàèìòùâêîôûäëïöü";

// The certificate store a kind is saved as ("Repositorio"; never read back).
std::string Repositorio(TCertificadoKind kind) {
  switch (kind) {
    case TCertificadoKind::ckMemory:
      return "MEMORY_STORE";
    case TCertificadoKind::ckLocalMachine:
      return "LOCAL_MACHINE_STORE";
    case TCertificadoKind::ckFile:
      return "CURRENT_USER_STORE";
    case TCertificadoKind::ckActiveDiretory:
      return "ACTIVE_DIRECTORY_USER_STORE";
    case TCertificadoKind::ckSmartCard:
      return "SMART_CARD_USER_STORE";
  }
  return {};
}

// Booleans of the print parameter text.
std::string Flag(bool value) { return value ? "-1" : "0"; }

// The server-address file `file` (expanded), which must exist.
std::unique_ptr<TIniFile> ArquivoServidores(const std::string& file, const std::string& logErro) {
  if (!FileExists(file)) {
    throw EqorFileNotFoundException("O arquivo de servidores informado não existe: %s", {file},
                                    logErro);
  }
  return std::make_unique<TIniFile>(file);
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
    SaveToFile(file, copia->Text());
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao salvar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
  configIni_ = std::make_unique<TIniFile>(file);
}

// Each key goes through its property's setter in the file's order, so the setters' checks run
// in that order and what was applied before a failing key stays applied.
void TqorNFCe::Carregar(const TIniFile& ini) {
  try {
    const std::string s = sectionINI_;
    SetDiretorioLogErro(LerTextoIni(ini, s, "DiretorioLogErro", ""));
    SetDiretorioLog(LerTextoIni(ini, s, "DiretorioLog", "\\Log"));
    SetDiagnosticMode(ini.ReadBool(s, "DiagnosticMode", diagnosticMode_));
    SetCNPJ(LerTextoIni(ini, s, "CNPJ", ""));
    SetTipoCertificado(StrToTipoCertificado(LerTextoIni(ini, s, "TipoCertificado", "")));
    SetDiretorioTemplates(LerTextoIni(ini, s, "DiretorioTemplates", "\\Templates"));
    SetDiretorioEsquemas(LerTextoIni(ini, s, "DiretorioEsquemas", "\\Esquemas"));
    SetArquivoServidoresHom(LerTextoIni(ini, s, "ArquivoServidoresHom", "nfceServidoresHom.ini"));
    SetArquivoServidoresProd(
        LerTextoIni(ini, s, "ArquivoServidoresProd", "nfceServidoresProd.ini"));
    SetAtualizarArquivoServidores(ini.ReadBool(s, "AtualizarArquivoServidores", true));
    // The file holds tpAmb (1 production, 2 homologation), not the enumeration's ordinal.
    const int ambiente = ini.ReadInteger(s, "Ambiente", 2);
    if (ambiente != 1 && ambiente != 2) {
      throw EqorNFCeCheckParamsException(
          "Ambiente %d inválido. Utilize: 1 (produção) ou 2 (homologação)", {ambiente},
          diretorioLogErro_);
    }
    SetAmbiente(ambiente == 1 ? TAmbienteKind::akProducao : TAmbienteKind::akHomologacao);
    // Files written before ValidarEsquemaAntesEnvio existed say ValidarEsquema; it wins.
    SetValidarEsquemaAntesEnvio(ini.ValueExists(s, "ValidarEsquema")
                                    ? ini.ReadBool(s, "ValidarEsquema", false)
                                    : ini.ReadBool(s, "ValidarEsquemaAntesEnvio", false));
    SetIgnoreInvalidCertificates(ini.ReadBool(s, "IgnoreInvalidCertificates", false));
    // Not in files written elsewhere: an absent key keeps what the host set.
    SetArquivoCadeiaCertificados(
        LerTextoIni(ini, s, "ArquivoCadeiaCertificados", arquivoCadeiaCertificados_));
    SetCaminhoCertificado(LerTextoIni(ini, s, "CaminhoCertificado", ""));
    SetSenhaCertificado(LerTextoIni(ini, s, "SenhaCertificado", ""));
    nomeCertificado_.SetTextStr(LerTextoIni(ini, s, "NomeCertificado", ""));
    SetHashCertificado(LerTextoIni(ini, s, "HashCertificado", ""));
    SetPinCode(LerProtegidoIni(ini, s, "PinCode", ""));
    SetConexaoSegura(ini.ReadBool(s, "ConexaoSegura", true));
    SetProxy(LerTextoIni(ini, s, "Proxy", ""));
    SetSenha(LerTextoIni(ini, s, "Senha", ""));
    SetUsuario(LerTextoIni(ini, s, "Usuario", ""));
    SetTimeOut(ini.ReadInteger(s, "TimeOut", 0));
    SetCaracteresRemoverAcentos(LerTextoIni(ini, s, "CaracteresRemoverAcentos", kAcentosPadraoIni));
    SetVersaoManual(StrToVersaoManual(
        LerTextoIni(ini, s, "VersaoManual", VersaoManualToStr(versaoManual_)), diretorioLogErro_));
    // A file saved before any UF was set says "UF=": it loads as no UF (which CheckConfig
    // reports) rather than failing the whole load.
    const std::string uf = LerTextoIni(ini, s, "UF", "SP");
    if (uf.empty()) {
      uf_.clear();
    } else {
      SetUF(uf);
    }
    SetMaxSizeLoteEnvio(ini.ReadInteger(s, "MaxSizeLoteEnvio", 500));
    SetDiretorioXmlDestinatario(
        LerTextoIni(ini, s, "DiretorioXmlDestinatario", "XmlDestinatario\\"));
    SetDiretorioTemporario(
        LerTextoIni(ini, s, "DiretorioTemporario", ExpandPath(GetSpecialDirectories(1))));
    SetSalvarLogsEmDisco(ini.ReadBool(s, "SalvarLogsEmDisco", true));
    SetIdCSRT(LerTextoIni(ini, s, "IdCSRT", ""));
    SetCSRT(LerTextoIni(ini, s, "CSRT", ""));
    SetHttpLibs(LerTextoIni(ini, s, "HttpLibs", ""));
    SetUtilizarEscPOS(ini.ReadBool(s, "UtilizarEscPOS", false));

    // Ativar first: the folders are checked only when the file activates the exchange.
    TqorIntegrador& integrador = GetIntegrador();
    integrador.SetAtivar(ini.ReadBool(kIntegrador, "Ativar", false));
    integrador.SetDiretorioEntrada(
        LerTextoIni(ini, kIntegrador, "DiretorioEntrada", "C:\\Integrador\\Input"));
    integrador.SetDiretorioSaida(
        LerTextoIni(ini, kIntegrador, "DiretorioSaida", "C:\\Integrador\\Output"));
    integrador.SetTimeOut(ini.ReadInteger(kIntegrador, "TimeOut", 30));
    integrador.SetNumeroSessao(ini.ReadInteger(kIntegrador, "NumeroSessao", 111111));

    TqorEmailSettings& mail = GetEmailSettings();
    mail.SetServidorSmtp(ini.ValueExists(kMail, "Servidor")
                             ? LerTextoIni(ini, kMail, "Servidor", "")
                             : LerTextoIni(ini, kMail, "ServidorSmtp", ""));
    mail.SetEmailRemetente(LerTextoIni(ini, kMail, "EmailRemetente", ""));
    mail.SetEmailDestinatario(LerTextoIni(ini, kMail, "EmailDestinatario", ""));
    mail.SetAssunto(LerTextoIni(ini, kMail, "Assunto", ""));
    mail.SetMensagem(LerTextoIni(ini, kMail, "Mensagem", ""));
    mail.SetUsuario(LerTextoIni(ini, kMail, "Usuario", ""));
    mail.SetSenha(LerTextoIni(ini, kMail, "Senha", ""));
    mail.SetPorta(ini.ReadInteger(kMail, "Porta", 0));
    mail.SetAutenticacao(ini.ReadBool(kMail, "Autenticacao", false));
    mail.SetTimeOut(ini.ReadInteger(kMail, "TimeOut", 30000));
    mail.SetCCo(LerTextoIni(ini, kMail, "CCo", ""));
    mail.SetCC(LerTextoIni(ini, kMail, "CC", ""));
    mail.SetConteudoHtml(ini.ReadBool(kMail, "ConteudoHtml", false));
    mail.SetUseSecureBlackBox(ini.ReadBool(kMail, "UseSecureBlackBox", false));
    mail.SetAnexarDanfcePDF(ini.ReadBool(s, "AnexarDanfcePDF", true));

    TDanfceSettings& danfce = GetDanfceSettings();
    danfce.SetFraseHomologacao(
        LerTextoIni(ini, kDanfce, "FraseHomologacao", danfce.GetFraseHomologacao()));
    danfce.SetLogotipoEmitente(LerTextoIni(ini, kDanfce, "LogotipoEmitente", ""));
    danfce.SetFraseContingencia(
        LerTextoIni(ini, kDanfce, "FraseContingencia", danfce.GetFraseContingencia()));
    danfce.SetLineDelimiter(LerTextoIni(ini, kDanfce, "LineDelimiter", danfce.GetLineDelimiter()));
    danfce.SetQtdeCopias(ini.ReadInteger(kDanfce, "QtdeCopias", 1));
    danfce.SetInfCplMaxCol(ini.ReadInteger(kDanfce, "InfCplMaxCol", 68));
    danfce.SetInfCplMaxRow(ini.ReadInteger(kDanfce, "InfCplMaxRow", 7));
    danfce.SetInfCplQuebrarLinhaAut(ini.ReadBool(kDanfce, "InfCplQuebrarLinhaAut", false));
    danfce.SetModeloDanfce(LerTextoIni(ini, kDanfce, "ModeloDanfce", danfce.GetModeloDanfce()));
    danfce.SetModeloDanfceMensagemEletronica(
        LerTextoIni(ini, kDanfce, "ModeloDanfceMensagemEletronica",
                    danfce.GetModeloDanfceMensagemEletronica()));
    danfce.SetFormatoDanfce(StrToFormatoDanfce(
        LerTextoIni(ini, kDanfce, "FormatoDanfce", FormatoDanfceToStr(danfce.GetFormatoDanfce())),
        diretorioLogErro_));
    danfce.SetExibirDetalhamento(
        ini.ReadBool(kDanfce, "ExibirDetalhamento", danfce.GetExibirDetalhamento()));
    danfce.SetExibirAcrescimoEDesconto(
        ini.ReadBool(kDanfce, "ExibirAcrescimoEDesconto", danfce.GetExibirAcrescimoEDesconto()));
    danfce.SetTokenNFCe(LerProtegidoIni(ini, kDanfce, "TokenNFCe", danfce.GetTokenNFCe()));
    danfce.SetIdTokenNFCe(LerProtegidoIni(ini, kDanfce, "IdTokenNFCe", danfce.GetIdTokenNFCe()));
    danfce.SetParamsAvancados(
        LerTextoIni(ini, kDanfce, "ParamsAvancados", danfce.GetParamsAvancados()));
    danfce.SetImprimirFrete(ini.ReadBool(kDanfce, "ImprimirFrete", danfce.GetImprimirFrete()));
    danfce.SetImprimirFreteProduto(
        ini.ReadBool(kDanfce, "ImprimirFreteProduto", danfce.GetImprimirFreteProduto()));

    TEscPosSettings& pos = GetEscPosSettings();
    pos.SetModeloEscPos(ini.ReadInteger(kEscPos, "ModeloEscPos", pos.GetModeloEscPos()));
    pos.SetPortaEscPos(LerTextoIni(ini, kEscPos, "PortaEscPos", pos.GetPortaEscPos()));
    pos.SetColunasFonteNormalEscPos(
        ini.ReadInteger(kEscPos, "ColunasFonteNormalEscPos", pos.GetColunasFonteNormalEscPos()));
    pos.SetEspacoEntreLinhasEscPos(
        ini.ReadInteger(kEscPos, "EspacoEntreLinhasEscPos", pos.GetEspacoEntreLinhasEscPos()));
    pos.SetLinhasEntreCuponsEscPos(
        ini.ReadInteger(kEscPos, "LinhasEntreCuponsEscPos", pos.GetLinhasEntreCuponsEscPos()));
    pos.SetCortaPapelEscPos(ini.ReadBool(kEscPos, "CortaPapelEscPos", pos.GetCortaPapelEscPos()));
    pos.SetPaginaDeCodigoEscPos(
        ini.ReadInteger(kEscPos, "PaginaDeCodigoEscPos", pos.GetPaginaDeCodigoEscPos()));
    pos.SetQtdeCopiasEscPos(
        ini.ReadInteger(kEscPos, "QtdeCopiasEscPos", pos.GetQtdeCopiasEscPos()));
    pos.SetImprimeNomeFantasiaEscPos(
        ini.ReadBool(kEscPos, "ImprimeNomeFantasiaEscPos", pos.GetImprimeNomeFantasiaEscPos()));
    pos.SetImprimeDescAcrescItemEscPos(
        ini.ReadBool(kEscPos, "ImprimeDescAcrescItemEscPos", pos.GetImprimeDescAcrescItemEscPos()));
    pos.SetResumidoEscPos(ini.ReadBool(kEscPos, "ResumidoEscPos", pos.GetResumidoEscPos()));
  } catch (const std::exception& causa) {
    throw EqorNFCeConfigException(std::string("Erro ao carregar configurações: ") + causa.what(),
                                  diretorioLogErro_);
  }
}

void TqorNFCe::Salvar(TIniFile& ini) {
  try {
    const std::string s = sectionINI_;
    GravarTextoIni(ini, s, "DiretorioLogErro", diretorioLogErro_);
    ini.WriteString(s, "Repositorio", Repositorio(tipoCertificado_));
    ini.WriteBool(s, "DiagnosticMode", diagnosticMode_);
    GravarTextoIni(ini, s, "CNPJ", cnpj_);
    GravarTextoIni(ini, s, "DiretorioTemplates", GetDiretorioTemplates());
    GravarTextoIni(ini, s, "DiretorioEsquemas", GetDiretorioEsquemas());
    GravarTextoIni(ini, s, "ArquivoServidoresHom", GetArquivoServidoresHom());
    GravarTextoIni(ini, s, "ArquivoServidoresProd", GetArquivoServidoresProd());
    ini.WriteString(s, "Ambiente", GetTipoAmbiente(ambiente_));
    GravarTextoIni(ini, s, "DiretorioLog", GetDiretorioLog());
    if (ini.ValueExists(s, "ValidarEsquema")) {
      ini.WriteBool(s, "ValidarEsquema", validarEsquemaAntesEnvio_);
    }
    ini.WriteBool(s, "ValidarEsquemaAntesEnvio", validarEsquemaAntesEnvio_);
    ini.WriteBool(s, "IgnoreInvalidCertificates", ignoreInvalidCertificates_);
    GravarTextoIni(ini, s, "ArquivoCadeiaCertificados", arquivoCadeiaCertificados_);
    std::string nomes = nomeCertificado_.Text();
    std::erase_if(nomes, [](char c) { return c == '\r' || c == '\n'; });
    GravarTextoIni(ini, s, "NomeCertificado", nomes);
    GravarTextoIni(ini, s, "HashCertificado", hashCertificado_);
    GravarTextoIni(ini, s, "CaminhoCertificado", caminhoCertificado_);
    GravarTextoIni(ini, s, "SenhaCertificado", senhaCertificado_);
    GravarProtegidoIni(ini, s, "PinCode", pinCode_);
    ini.WriteBool(s, "ConexaoSegura", conexaoSegura_);
    GravarTextoIni(ini, s, "Proxy", proxy_);
    GravarTextoIni(ini, s, "Senha", senha_);
    GravarTextoIni(ini, s, "Usuario", usuario_);
    ini.WriteInteger(s, "TimeOut", timeOut_);
    GravarTextoIni(ini, s, "CaracteresRemoverAcentos", caracteresRemoverAcentos_);
    ini.WriteString(s, "VersaoManual", VersaoManualToStr(versaoManual_));
    GravarTextoIni(ini, s, "UF", uf_);
    ini.WriteBool(s, "AtualizarArquivoServidores", atualizarArquivoServidores_);
    ini.WriteInteger(s, "MaxSizeLoteEnvio", maxSizeLoteEnvio_);
    GravarTextoIni(ini, s, "DiretorioXmlDestinatario", diretorioXmlDestinatario_);
    // The folder the property reads as, without creating it: saving changes nothing on disk
    // but the file.
    GravarTextoIni(ini, s, "DiretorioTemporario",
                   diretorioTemporario_.empty() ? ExpandPath("Temp\\") : diretorioTemporario_);
    ini.WriteBool(s, "SalvarLogsEmDisco", salvarLogsEmDisco_);
    GravarTextoIni(ini, s, "IdCSRT", idCSRT_);
    GravarTextoIni(ini, s, "CSRT", csrt_);
    GravarTextoIni(ini, s, "HttpLibs", httpLibs_);
    ini.WriteBool(s, "UtilizarEscPOS", utilizarEscPOS_);

    const TqorIntegrador& integrador = GetIntegrador();
    ini.WriteBool(kIntegrador, "Ativar", integrador.GetAtivar());
    GravarTextoIni(ini, kIntegrador, "DiretorioEntrada", integrador.GetDiretorioEntrada());
    GravarTextoIni(ini, kIntegrador, "DiretorioSaida", integrador.GetDiretorioSaida());
    ini.WriteInteger(kIntegrador, "TimeOut", integrador.GetTimeOut());
    ini.WriteInteger(kIntegrador, "NumeroSessao", integrador.GetNumeroSessao());

    const TqorEmailSettings& mail = GetEmailSettings();
    GravarTextoIni(ini, kMail, ini.ValueExists(kMail, "Servidor") ? "Servidor" : "ServidorSmtp",
                   mail.GetServidorSmtp());
    GravarTextoIni(ini, kMail, "EmailRemetente", mail.GetEmailRemetente());
    GravarTextoIni(ini, kMail, "Assunto", mail.GetAssunto());
    GravarTextoIni(ini, kMail, "Mensagem", mail.GetMensagem());
    GravarTextoIni(ini, kMail, "Usuario", mail.GetUsuario());
    GravarTextoIni(ini, kMail, "Senha", mail.GetSenha());
    ini.WriteInteger(kMail, "TimeOut", mail.GetTimeOut());
    GravarTextoIni(ini, kMail, "EmailDestinatario", mail.GetEmailDestinatario());
    GravarTextoIni(ini, kMail, "CCo", mail.GetCCo());
    GravarTextoIni(ini, kMail, "CC", mail.GetCC());
    ini.WriteBool(kMail, "Autenticacao", mail.GetAutenticacao());
    ini.WriteInteger(kMail, "Porta", mail.GetPorta());
    ini.WriteBool(kMail, "ConteudoHtml", mail.GetConteudoHtml());
    ini.WriteBool(kMail, "UseSecureBlackBox", mail.GetUseSecureBlackBox());
    ini.WriteBool(s, "AnexarDanfcePDF", mail.GetAnexarDanfcePDF());

    const TDanfceSettings& danfce = GetDanfceSettings();
    GravarTextoIni(ini, kDanfce, "LogotipoEmitente", danfce.GetLogotipoEmitente());
    GravarTextoIni(ini, kDanfce, "FraseContingencia", danfce.GetFraseContingencia());
    GravarTextoIni(ini, kDanfce, "FraseHomologacao", danfce.GetFraseHomologacao());
    GravarTextoIni(ini, kDanfce, "ModeloDanfce", danfce.GetModeloDanfce());
    GravarTextoIni(ini, kDanfce, "ModeloDanfceMensagemEletronica",
                   danfce.GetModeloDanfceMensagemEletronica());
    ini.WriteString(kDanfce, "FormatoDanfce", FormatoDanfceToStr(danfce.GetFormatoDanfce()));
    ini.WriteBool(kDanfce, "ExibirDetalhamento", danfce.GetExibirDetalhamento());
    ini.WriteBool(kDanfce, "ExibirAcrescimoEDesconto", danfce.GetExibirAcrescimoEDesconto());
    GravarProtegidoIni(ini, kDanfce, "TokenNFCe", danfce.GetTokenNFCe());
    GravarProtegidoIni(ini, kDanfce, "IdTokenNFCe", danfce.GetIdTokenNFCe());
    GravarTextoIni(ini, kDanfce, "LineDelimiter", danfce.GetLineDelimiter());
    ini.WriteInteger(kDanfce, "QtdeCopias", danfce.GetQtdeCopias());
    ini.WriteInteger(kDanfce, "InfCplMaxCol", danfce.GetInfCplMaxCol());
    ini.WriteInteger(kDanfce, "InfCplMaxRow", danfce.GetInfCplMaxRow());
    GravarTextoIni(ini, kDanfce, "ParamsAvancados", danfce.GetParamsAvancados());
    ini.WriteBool(kDanfce, "InfCplQuebrarLinhaAut", danfce.GetInfCplQuebrarLinhaAut());
    ini.WriteBool(kDanfce, "ImprimirFrete", danfce.GetImprimirFrete());
    ini.WriteBool(kDanfce, "ImprimirFreteProduto", danfce.GetImprimirFreteProduto());

    const TEscPosSettings& pos = GetEscPosSettings();
    ini.WriteInteger(kEscPos, "ModeloEscPos", pos.GetModeloEscPos());
    GravarTextoIni(ini, kEscPos, "PortaEscPos", pos.GetPortaEscPos());
    ini.WriteInteger(kEscPos, "ColunasFonteNormalEscPos", pos.GetColunasFonteNormalEscPos());
    ini.WriteInteger(kEscPos, "EspacoEntreLinhasEscPos", pos.GetEspacoEntreLinhasEscPos());
    ini.WriteInteger(kEscPos, "LinhasEntreCuponsEscPos", pos.GetLinhasEntreCuponsEscPos());
    ini.WriteBool(kEscPos, "CortaPapelEscPos", pos.GetCortaPapelEscPos());
    ini.WriteInteger(kEscPos, "PaginaDeCodigoEscPos", pos.GetPaginaDeCodigoEscPos());
    ini.WriteInteger(kEscPos, "QtdeCopiasEscPos", pos.GetQtdeCopiasEscPos());
    ini.WriteBool(kEscPos, "ImprimeNomeFantasiaEscPos", pos.GetImprimeNomeFantasiaEscPos());
    ini.WriteBool(kEscPos, "ImprimeDescAcrescItemEscPos", pos.GetImprimeDescAcrescItemEscPos());
    ini.WriteBool(kEscPos, "ResumidoEscPos", pos.GetResumidoEscPos());
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
