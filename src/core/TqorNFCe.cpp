#include "core/TqorNFCe.h"

#include <array>
#include <optional>
#include <vector>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConverter.h"
#include "danfce/TqorNFCeDanfce.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/GovUtils.h"
#include "platform/GovX.h"
#include "platform/HttpClient.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/Telemetria.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "templates/TqorNFCeTemplates.h"
#include "utils/Chave.h"
#include "utils/Paths.h"

#ifndef QORNFCE_VERSION
#define QORNFCE_VERSION "0.0.0.0"
#endif

namespace qor {

namespace {

constexpr const char* kCaracteresRemoverAcentos =
    "áéíóúàèìòùâêîôûäëïöüãõñçÁÉÍÓÚÀÈÌÒÙÂÊÎÔÛÄËÏÖÜÃÕÑÇºª";
constexpr const char* kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";
constexpr const char* kCnpjVazio = "00000000000000";

// The folder part of a configured folder: "x/Templates/" stays, "x/Templates" (a name without
// trailing separator) is taken as the folder it names when that folder exists, and as its
// parent folder otherwise.
std::string FolderOf(const std::string& expanded) {
  if (DirectoryExists(expanded)) return IncludeTrailingSlash(expanded);
  return ExtractFileDir(expanded);
}

std::string ClassNameOf(const std::exception& failure) {
  if (const auto* own = dynamic_cast<const EqorException*>(&failure)) return own->ClassName();
  if (dynamic_cast<const EqorGovException*>(&failure) != nullptr) return "EqorGovException";
  return "Exception";
}

}  // namespace

TqorNFCe::TqorNFCe() {
  LoadLocal();
  diretorioLogErro_.clear();
  versaoManual_ = TVersaoManual::vm60;
  caracteresRemoverAcentos_ = kCaracteresRemoverAcentos;
  ambiente_ = TAmbienteKind::akHomologacao;
  diretorioXmlDestinatario_ = "XmlDestinatario\\";
  maxSizeLoteEnvio_ = 500;
  sectionINI_ = "NFCE";
  salvarLogsEmDisco_ = true;
  diagnosticMode_ = true;
  atualizarArquivoServidores_ = true;
  // The services object's defaults are the component's own from the start, so that a value
  // the host sets before the first request is the one that holds.
  tipoCertificado_ = TCertificadoKind::ckFile;
  ignoreInvalidCertificates_ = true;
  serversIni_ = std::make_unique<TIniFile>();
  integrador_ = std::make_unique<TqorIntegrador>([this] { return diretorioLogErro_; });
}

TqorNFCe::~TqorNFCe() {
  gov_.reset();
  govUtils_.reset();
  serversIni_.reset();
  FreeTelemetria();
}

void TqorNFCe::LoadLocal() { ufCodes_.SetText(TabelaCodigosUF()); }

// ---- properties -----------------------------------------------------------------------------

void TqorNFCe::SetVersaoManual(TVersaoManual value) {
  const auto ordinal = static_cast<int>(value);
  if (ordinal < static_cast<int>(TVersaoManual::vm50) ||
      ordinal > static_cast<int>(TVersaoManual::vm60)) {
    throw EqorNFCeVersaoManualException(
        "O componente NFCe só aceita VersaoManual = vm50, vm50a, vm50b ou vm60", diretorioLogErro_);
  }
  versaoManual_ = value;
}

void TqorNFCe::SetUF(const std::string& value) {
  if (ufCodes_.IndexOfName(value) < 0 || value.empty()) {
    throw EqorNFCeCheckParamsException("a sigla da UF %s, é inválida.", {value}, diretorioLogErro_);
  }
  uf_ = UpperCase(value);
}

std::string TqorNFCe::GetVersao() const { return QORNFCE_VERSION; }

std::string TqorNFCe::GetDiretorioTemplates() const {
  const std::string value = diretorioTemplates_.empty() ? "Templates\\" : diretorioTemplates_;
  return UpdatePathVersaoManual(FolderOf(ExpandDataPath(value)));
}

std::string TqorNFCe::GetDiretorioEsquemas() const {
  const std::string value = diretorioEsquemas_.empty() ? "Esquemas\\" : diretorioEsquemas_;
  return UpdatePathVersaoManual(FolderOf(ExpandDataPath(value)));
}

std::string TqorNFCe::GetArquivoServidoresHom() const { return ExpandPath(arquivoServidoresHom_); }
std::string TqorNFCe::GetArquivoServidoresProd() const {
  return ExpandPath(arquivoServidoresProd_);
}

std::string TqorNFCe::GetDiretorioLog() {
  if (diretorioLog_.empty()) diretorioLog_ = "Log\\";
  return diretorioLog_;
}

void TqorNFCe::SetDiretorioXmlDestinatario(const std::string& v) {
  diretorioXmlDestinatario_ = v;
  if (!v.empty() && v.back() != '\\' && v.back() != '/') diretorioXmlDestinatario_ += "\\";
}

void TqorNFCe::SetDiretorioLogErro(const std::string& v) {
  diretorioLogErro_ = ExpandPath(v.empty() ? "LogErro\\" : v);
  if (!DirectoryExists(diretorioLogErro_)) ForceDirectories(diretorioLogErro_);
}

void TqorNFCe::SetDiretorioTemporario(const std::string& v) {
  if (!v.empty()) diretorioTemporario_ = ExpandPath(v);
  if (!diretorioTemporario_.empty() && !DirectoryExists(diretorioTemporario_)) {
    ForceDirectories(diretorioTemporario_);
  }
}

std::string TqorNFCe::GetDiretorioTemporario() {
  const std::string dir =
      ExpandPath(diretorioTemporario_.empty() ? "Temp\\" : diretorioTemporario_);
  if (!DirectoryExists(dir)) ForceDirectories(dir);
  return FixSlash(dir);
}

std::string TqorNFCe::GetDiretorioDestinatario() const {
  const std::string dir = FixSlash(ExpandPath(diretorioXmlDestinatario_));
  if (!DirectoryExists(dir)) ForceDirectories(dir);
  return dir;
}

std::string TqorNFCe::UpdatePathVersaoManual(const std::string& path) const {
  const auto ordinal = static_cast<int>(versaoManual_);
  if (ordinal < 0 || ordinal > static_cast<int>(TVersaoManual::vm60)) {
    throw EqorNFCeVersaoManualException(
        "Não foi possível completar o processo. A versão do manual não é válida.",
        diretorioLogErro_);
  }
  return RemoveVersaoManualDoPath(path) + NativePath(VersaoManualFolder(versaoManual_));
}

std::string TqorNFCe::GetTemplateFolder() const { return GetDiretorioTemplates() + uf_ + "/"; }

std::string TqorNFCe::LogFolder() { return FixSlash(ExpandPath(GetDiretorioLog())); }

// ---- services objects -----------------------------------------------------------------------

TqorGovX& TqorNFCe::GetGov() {
  if (!gov_) {
    gov_ = std::make_unique<TqorGovX>();
    gov_->OnCheckCertificate = [this](std::string& name) { DoOnCheckCertificate(name); };
    gov_->Get_SignerSettings().Mode = 3;
    gov_->Get_HttpSettings().ContentType = "application/soap+xml;charset=UTF-8;";
    nomeCertificado_.SetOnSetText([this](const std::string& text) { SetNomeCert(text); });
  }
  ConfigurarPropriedades();
  ConfigurarEmailSettings();
  return *gov_;
}

// Runs on every access to the services object, so a property changed between two requests (or
// loaded from the configuration) is the one the next request uses.
void TqorNFCe::ConfigurarPropriedades() {
  gov_->Configure("HttpLibs", httpLibs_);
  gov_->Get_SignerSettings().AllowedElementsFile =
      RemoveVersaoManualDoPath(GetDiretorioTemplates()) + "elementospermitidos.bin";
  THttpSettings& http = gov_->Get_HttpSettings();
  http.Proxy = proxy_;
  http.ProxyUser = usuario_;
  http.ProxyPassword = senha_;
  http.TimeOut = timeOut_;
  http.IgnoreInvalidCertificates = ignoreInvalidCertificates_;
  http.CABundle = ExpandPath(arquivoCadeiaCertificados_);
  http.ConexaoSegura = conexaoSegura_;
  TCertificateSettings& cert = gov_->Get_CertificateSettings();
  cert.Kind = static_cast<int>(tipoCertificado_);
  cert.Name = nomeCertificado_.Text();
  cert.Hash = hashCertificado_;
  cert.Path = ExpandPath(caminhoCertificado_);
  cert.Password = senhaCertificado_;
  gov_->Set_CertificateHash(hashCertificado_);
  gov_->Set_DiagnosticMode(diagnosticMode_);
}

TqorGovUtils& TqorNFCe::GetGovUtils() {
  if (!govUtils_) {
    govUtils_ = std::make_unique<TqorGovUtils>();
    govUtils_->Logs().OnLog = [this](const std::string& kind, const std::string& id,
                                     const std::string& file) { DoOnLogGov(kind, id, file); };
    govUtils_->Logs().OnLogContent = [this](const std::string& kind, const std::string& id,
                                            const std::string& file, const std::string& content) {
      DoOnLogContent(kind, id, file, content);
    };
  }
  govUtils_->Set_SaveLogToFile(salvarLogsEmDisco_);
  govUtils_->Logs().SetFileSystem(arquivos_);
  return *govUtils_;
}

void TqorNFCe::DoOnLogGov(const std::string& kind, const std::string& id, const std::string& file) {
  if (OnLog) OnLog(kind, id, file);
}

void TqorNFCe::DoOnLogContent(const std::string& kind, const std::string& id,
                              const std::string& file, const std::string& content) {
  if (OnLogContent) OnLogContent(kind, id, file, content);
}

void TqorNFCe::DoOnCheckCertificate(std::string& nomeCertificado) {
  if (OnCheckCertificate) OnCheckCertificate(nomeCertificado);
}

void TqorNFCe::SetNomeCert(const std::string& text) {
  TqorGovX& gov = GetGov();
  gov.Get_CertificateSettings().Name = text;
  if (!text.empty()) CheckCertificate();
}

void TqorNFCe::CheckCertificate() {
  try {
    GetGov().CheckCertificate();
  } catch (const EqorException&) {
    throw;
  } catch (const std::exception& failure) {
    throw EqorCertStoreException(failure.what(), diretorioLogErro_);
  }
}

// ---- checks ---------------------------------------------------------------------------------

void TqorNFCe::CheckConfig() {
  const std::string& logErro = diretorioLogErro_;
  if (uf_.empty()) throw EqorNFCeCheckParamsException("O campo UF está vazio.", logErro);
  if (cnpj_.empty()) throw EqorNFCeCheckParamsException("O campo CNPJ está vazio.", logErro);
  if (Utf8Length(cnpj_) != 14) {
    throw EqorNFCeCheckParamsException("O CNPJ não possui 14 digitos. %s", {cnpj_}, logErro);
  }
  const std::string logDir = LogFolder();
  if (!DirectoryExists(logDir) && !CreateDir(logDir)) {
    throw EqorNFCeCheckParamsException("O diretório para salvar os Logs, é inválido. %s",
                                       {GetDiretorioLog()}, logErro);
  }
  if (!FileExists(GetArquivoServidoresHom())) {
    throw EqorNFCeCheckParamsException("Caminho dos servidores de Homologação inválido. %s",
                                       {GetArquivoServidoresHom()}, logErro);
  }
  if (ambiente_ == TAmbienteKind::akProducao && !FileExists(GetArquivoServidoresProd())) {
    throw EqorNFCeCheckParamsException("Caminho dos servidores de Produção inválido. %s",
                                       {GetArquivoServidoresProd()}, logErro);
  }
  const std::string destDir = FixSlash(ExpandPath(diretorioXmlDestinatario_));
  if (!DirectoryExists(destDir) && !CreateDir(destDir)) {
    throw EqorNFCeCheckParamsException(
        "O caminho configurado para salvar o XMLDestinatario é inválido. %s", {destDir}, logErro);
  }
  if (maxSizeLoteEnvio_ < 1) {
    throw EqorNFCeCheckParamsException("O tamanho máximo para o lote está com valor menor que um.",
                                       logErro);
  }
}

void TqorNFCe::CheckParams(bool condition, const std::string& message) {
  if (condition) throw EqorNFCeEventoException(message, diretorioLogErro_);
}

// ---- server-address files -------------------------------------------------------------------

void TqorNFCe::LoadServers() {
  // Both the check and the load use the same expanded path, so the file checked is the file read.
  const std::string file = ambiente_ == TAmbienteKind::akProducao ? GetArquivoServidoresProd()
                                                                  : GetArquivoServidoresHom();
  // Read on every call, so an edit between two calls counts; parsed again only when its text
  // changed (the file lists every state's services, and parsing it costs more than a request).
  std::shared_ptr<const std::string> texto = SharedFileText(file);
  if (!texto) {
    serversIni_ = std::make_unique<TIniFile>();
    serversIniTexto_.reset();
    throw EqorFileNotFoundException("O arquivo de servidores informado não existe: %s", {file},
                                    diretorioLogErro_);
  }
  if (serversIni_ && serversIniTexto_ && serversIni_->FileName() == file &&
      (serversIniTexto_ == texto || *serversIniTexto_ == *texto)) {
    return;
  }
  serversIni_.reset();
  serversIniTexto_.reset();
  serversIni_ = std::make_unique<TIniFile>(file);
  serversIniTexto_ = std::move(texto);
}

TIniFile& TqorNFCe::GetServersIni() {
  LoadServers();
  return *serversIni_;
}

std::string TqorNFCe::GetWSAddress(const std::string& key) {
  TIniFile& ini = GetServersIni();
  const std::string address = ini.ReadString(uf_, key, "");
  if (address.empty()) {
    throw EqorNFCeAddressException("Servidor para %s não definido no arquivo: %s",
                                   {key, ini.FileName()}, diretorioLogErro_);
  }
  return address;
}

std::string TqorNFCe::GetIniVal(const std::string& key, const std::string& defaultValue) {
  return GetServersIni().ReadString(uf_, key, defaultValue);
}

std::string TqorNFCe::GetLocalCode() const { return ufCodes_.Values(uf_); }

// ---- templates and envelopes ----------------------------------------------------------------

std::string TqorNFCe::LoadTemplate(const std::string& name) {
  if (versaoManual_ == TVersaoManual::vm50 || versaoManual_ == TVersaoManual::vm50a) {
    if (FileExists(name)) return LoadFromFile(name);
    const std::string path = ExpandPath(GetTemplateFolder()) + name;
    if (!FileExists(path)) {
      throw EqorTemplateNotFoundException("Arquivo de template não encontrado: %s", {path},
                                          diretorioLogErro_);
    }
    return LoadFromFile(path);
  }
  return TqorNFCeTemplates::LoadTemplate(versaoManual_, uf_, name);
}

std::string TqorNFCe::EnveloparSoapEnvio(const std::string& xml) {
  const std::string soap = LoadTemplate("envio.soap");
  if (versaoManual_ == TVersaoManual::vm60) return Format(soap, {xml});
  return Format(soap, {GetLocalCode(), xml});
}

std::string TqorNFCe::DesenveloparSoap(const std::string& response) {
  std::optional<XmlDocument> parsed;
  try {
    parsed.emplace(XmlDocument::Parse(response));
  } catch (const EqorGovException&) {
    return response;  // not XML: handed back as it came
  }
  const XmlDocument& document = *parsed;
  // Its entities stay unexpanded references, which no part cut out of it could resolve.
  if (document.HasDocumentType()) return response;
  std::string result;
  if (document.SelectSingleNode("//*[local-name()='retInutNFe']", result)) return result;
  const std::string ns = document.RootNamespace();
  if (ns.empty() ||
      !document.SelectSingleNode("./soap:Envelope/soap:Body/*", result, {{"soap", ns}})) {
    return response;
  }
  // Some state services send their document escaped, as the text of the result element: that
  // text, read back, is the reply. Any other text is left inside its element.
  std::string texto;
  if (!document.SelectSingleNode("./soap:Envelope/soap:Body/*[1][not(*)]", texto, {{"soap", ns}},
                                 false)) {
    return result;
  }
  texto = Trim(texto);
  return IsValidXml(texto) ? texto : result;
}

// ---- cross-reference files ------------------------------------------------------------------

void TqorNFCe::SaveFileChavesTemporario(const std::string& batchLogFileName) {
  if (!salvarLogsEmDisco_) return;
  const std::string batch = LoadFromFile(LogFolder() + batchLogFileName);
  std::vector<std::string> ids;
  XPathSelectNodes(batch, "//*[local-name()='infNFe']/@Id", ids, {}, false);
  for (const std::string& id : ids) {
    SaveFileTemporario(id.size() > 3 ? id.substr(3) : id, batchLogFileName);
  }
}

void TqorNFCe::SaveFileTemporario(const std::string& name, const std::string& batchLogFileName) {
  if (!salvarLogsEmDisco_) return;
  if (!IsPlainFileName(name)) {
    throw EqorNFCeCheckParamsException("Nome de arquivo inválido para a referência do lote: %s",
                                       {QuoteForMessage(name)}, diretorioLogErro_);
  }
  TFileSystem& arquivos = arquivos_ != nullptr ? *arquivos_ : TFileSystem::Default();
  const std::string pasta = FixSlash(ExpandPath(diretorioXmlDestinatario_));
  arquivos.CreateDirectories(pasta);
  arquivos.SaveToFile(pasta + name, "env-lot=" + batchLogFileName);
}

TqorNFCe::TPonteiros TqorNFCe::LerPonteiros(const std::string& loteXml) {
  TPonteiros ponteiros;
  if (!salvarLogsEmDisco_) return ponteiros;
  std::vector<std::string> ids;
  XPathSelectNodes(loteXml, "//*[local-name()='infNFe']/@Id", ids, {}, false);
  const std::string pasta = FixSlash(ExpandPath(diretorioXmlDestinatario_));
  for (const std::string& id : ids) {
    const std::string nome = id.size() > 3 ? id.substr(3) : id;
    if (!IsPlainFileName(nome)) continue;  // refused when written, before anything is posted
    const std::string arquivo = pasta + nome;
    ponteiros.emplace_back(arquivo, FileExists(arquivo)
                                        ? std::optional<std::string>(LoadFromFile(arquivo))
                                        : std::nullopt);
  }
  return ponteiros;
}

void TqorNFCe::RestaurarPonteiros(const TPonteiros& anteriores) noexcept {
  TFileSystem& arquivos = arquivos_ != nullptr ? *arquivos_ : TFileSystem::Default();
  for (const auto& [arquivo, conteudo] : anteriores) {
    // Best effort: the failure being reported matters more; a pointer left behind names a
    // complete send log, whose note a key query settles.
    try {
      if (conteudo) {
        arquivos.SaveToFile(arquivo, *conteudo);
      } else if (FileExists(arquivo)) {
        arquivos.DeleteFile(arquivo);
      }
    } catch (const std::exception&) {
    }
  }
}

bool TqorNFCe::PedidoPodeTerChegado(const std::exception& falha) {
  if (const auto* resposta = dynamic_cast<const EqorGovReplyException*>(&falha)) {
    return resposta->Status() < 400 || resposta->Status() >= 500;
  }
  return dynamic_cast<const EqorGovException*>(&falha) != nullptr &&
         dynamic_cast<const EqorGovSemConexaoException*>(&falha) == nullptr;
}

// ---- telemetry ------------------------------------------------------------------------------

// Events are recorded only when the host asked for diagnostics and gave a log folder (a folder
// left at its default counts once it has been read, as the default is then stored).
bool TqorNFCe::Telemetry() { return diagnosticMode_ && !Trim(diretorioLog_).empty(); }

void TqorNFCe::SendTelemetryPing(const std::string& evento) {
  SendTelemetryException(evento, "", "");
}

void TqorNFCe::SendTelemetryException(const std::string& evento, const std::string& classe,
                                      const std::string& mensagem) {
  if (!Telemetry()) return;
  try {
    GetTelemetria().Evento(LogFolder() + "diagnosticmode/nfce/", cnpj_.empty() ? kCnpjVazio : cnpj_,
                           "NFCE", evento, GetVersao(), classe, mensagem);
  } catch (const std::exception& failure) {
    AppendExceptionLog(
        diretorioLogErro_, "nfce_exception.log", ClassNameOf(failure),
        std::string("Ocorreu um problema ao enviar dados para telemetria: ") + failure.what());
  }
}

void TqorNFCe::ReportFailure(const std::string& operation, const std::exception& failure) {
  SendTelemetryException(operation, ClassNameOf(failure), failure.what());
}

// ---- posting --------------------------------------------------------------------------------

std::string TqorNFCe::PostToService(const std::string& addressKey, const std::string& op,
                                    const std::string& envelope, const std::string& defaultAction,
                                    const std::string& defaultResultTag,
                                    const std::string& defaultNamespace,
                                    const TLogResposta& resposta) {
  const std::string url = GetWSAddress(addressKey);
  const std::string action = GetIniVal("SoapAction" + op, defaultAction);
  const std::string resultTag = GetIniVal("ResultTag" + op, defaultResultTag);
  const std::string targetNamespace = GetIniVal("TargetNamespace" + op, defaultNamespace);
  try {
    std::string reply = GetGov().PostSOAP(url, envelope, action, resultTag, targetNamespace);
    // An envelope without a Body carries no reply. The other operations hand it back as it
    // came; a sending and a receipt query, whose callers act on the protocols, refuse it.
    std::string ignored;
    if ((resposta.notaEnviada || resposta.tipo == "pro-rec") &&
        !XPathSelectSingleNode(reply, "/*[local-name()='Envelope']/*[local-name()='Body']", ignored,
                               {}, false)) {
      throw EqorGovReplyException(
          "A resposta de " + THttpClient::UrlForMessage(url) + " é um envelope SOAP sem corpo", 200,
          std::move(reply));
    }
    return reply;
  } catch (const EqorGovReplyException& failure) {
    GetGovUtils().Log(failure.Body(), resposta.tipo, resposta.id, resposta.arquivo, LogFolder());
    if (!resposta.notaEnviada || !PedidoPodeTerChegado(failure)) throw;
    throw EqorGovReplyException(std::string(failure.what()) + kSituacaoDesconhecida,
                                failure.Status(), failure.Body());
  } catch (const EqorGovException& failure) {
    if (!resposta.notaEnviada || !PedidoPodeTerChegado(failure)) throw;
    throw EqorGovException(std::string(failure.what()) + kSituacaoDesconhecida);
  }
}

// ---- service status -------------------------------------------------------------------------

std::string TqorNFCe::StatusDoServico() {
  return RunOperation("StatusDoServico", [this] {
    CheckConfig();
    UpdateIniServidores();
    CheckCertificate();
    const bool v4 = versaoManual_ == TVersaoManual::vm60;
    const std::string cUF = GetLocalCode();
    const std::string body = Format(LoadTemplate("pedido_status.xml"), {TpAmb(ambiente_), cUF});
    ValidarXMLNFCe(body, "STATUS");
    GetGovUtils().Log(body, "ped-sta", "", "", LogFolder());

    const std::string soapTemplate = LoadTemplate("pedido_status.soap");
    const std::string envelope =
        v4 ? Format(soapTemplate, {body}) : Format(soapTemplate, {cUF, body});
    const std::string service =
        std::string(kWsdl) + (v4 ? "NFeStatusServico4" : "NfeStatusServico2");
    const std::string response =
        GetIntegrador().GetAtivar()
            ? TrocarComIntegrador(CarregarTemplateStatusServico(
                                      EncodeBase64(envelope), VersaoDadosIntegrador(),
                                      GetValueTag("cUF", envelope), "NfeStatusServico2Soap12"),
                                  "ped-sta", "sta")
            : PostToService(v4 ? "NfeStatusServico4" : "NfeStatusServico3", "Status", envelope,
                            service + (v4 ? "/nfeStatusServicoNF4" : "/nfeStatusServicoNF2"),
                            v4 ? "nfeStatusServicoNF4Result" : "nfeStatusServicoNF2Result", service,
                            {"sta", "", "", false});

    const std::string reply = DesenveloparSoap(response);
    GetGovUtils().Log(reply, "sta", "", "", LogFolder());
    return reply;
  });
}

}  // namespace qor
