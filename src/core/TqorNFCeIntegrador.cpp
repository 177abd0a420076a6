// The Integrador exchange: the service requests of the MFe road as files in two folders.
#include <chrono>
#include <optional>
#include <thread>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Clock.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovUtils.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr std::chrono::milliseconds kRodada{500};
constexpr int kRodadasMinimas = 4;
constexpr std::string_view kSucesso = "Enviado com sucesso + Retorno SEFAZ-CE";

// "YYYY-MM-DD-HH-NN-SS-Z" of the present instant, milliseconds without leading zeros.
std::string Carimbo() {
  const LocalTime t = NowLocal();
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d-%d", t.tm.tm_year + 1900,
                t.tm.tm_mon + 1, t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec, t.millis);
  return text;
}

std::string Pasta(const std::string& configurada) {
  return IncludeTrailingSlash(ExpandPath(NativePath(configurada)));
}

bool SoDigitos(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The reply of `arquivo` for `identificador`, or nothing: a file that is not XML (half-written,
// or not a reply at all), has a retorno that names another number or none, or another
// Identificador is not ours.
std::optional<std::string> Examinar(const std::string& texto, const std::string& identificador) {
  std::string semDeclaracao = texto;
  constexpr std::string_view kDeclaracao = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  for (std::size_t at; (at = FindText(semDeclaracao, kDeclaracao)) != std::string::npos;) {
    semDeclaracao.erase(at, kDeclaracao.size());
  }
  std::optional<XmlDocument> documento;
  try {
    documento.emplace(XmlDocument::Parse(semDeclaracao));
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::string retorno;
  if (documento->SelectSingleNode("/*[local-name()='Integrador']//*[local-name()='Resposta']"
                                  "//*[local-name()='retorno']",
                                  retorno, {}, false)) {
    const std::string numero = retorno.size() >= 8 ? retorno.substr(2, 6) : std::string();
    if (!SoDigitos(numero)) return std::nullopt;
    const bool igual = SoDigitos(identificador) ? std::stoll(numero) == std::stoll(identificador)
                                                : SameText(numero, identificador);
    if (igual) return retorno;
    return std::nullopt;
  }
  std::string valor;
  if (documento->SelectSingleNode("/*[local-name()='Integrador']//*[local-name()="
                                  "'Identificador']//*[local-name()='Valor']",
                                  valor, {}, false) &&
      SameText(valor, identificador)) {
    return semDeclaracao;
  }
  return std::nullopt;
}

}  // namespace

std::string TqorNFCe::VersaoDadosIntegrador() const {
  switch (versaoManual_) {
    case TVersaoManual::vm50:
      return "3.00";
    case TVersaoManual::vm50a:
    case TVersaoManual::vm50b:
      return "3.10";
    default:
      return "4.00";
  }
}

std::string TqorNFCe::GetLogFileNameIntegrador(const std::string& tipo) {
  return Carimbo() + "-" + std::to_string(GetIntegrador().GetNumeroSessao()) + "-" + tipo +
         "-nfce.xml";
}

std::string TqorNFCe::FormataDataHoraIntegrador(const std::string& xml) {
  std::string dataHora = GetValueTag("dhEmi", xml);
  if (dataHora.empty()) dataHora = GetValueTag("dhEvento", xml);
  if (dataHora.empty()) {
    const LocalTime t = NowLocal();
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm.tm_year + 1900,
                  t.tm.tm_mon + 1, t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec);
    dataHora = text;
  }
  std::string digitos;
  for (const char c : Utf8Substr(dataHora, 0, 19)) {
    if (c != '-' && c != ':' && c != 'T' && c != 't' && c != ' ') digitos += c;
  }
  return digitos;
}

// ---- messages -------------------------------------------------------------------------------

namespace {
std::string Metodo(TAmbienteKind ambiente, const std::string& metodo) {
  return ambiente == TAmbienteKind::akHomologacao ? "H" + metodo : metodo;
}
}  // namespace

std::string TqorNFCe::CarregarTemplateEnvioMFe(const std::string& dados,
                                               const std::string& versaoDados,
                                               const std::string& cUF, const std::string& dataHora,
                                               const std::string& valor, const std::string& numero,
                                               const std::string& metodo) {
  const std::string sessao = std::to_string(GetIntegrador().GetNumeroSessao());
  return Format(LoadTemplate("envio_nfce_mfe.xml"),
                {sessao, Metodo(ambiente_, metodo), sessao, versaoDados, cUF, dados, numero,
                 dataHora, valor});
}

std::string TqorNFCe::CarregarTemplateEnvioMFeSemChaveHora(const std::string& dados,
                                                           const std::string& versaoDados,
                                                           const std::string& metodo) {
  const std::string sessao = std::to_string(GetIntegrador().GetNumeroSessao());
  return Format(LoadTemplate("envio_nfce_sem_chave_mfe.xml"),
                {sessao, Metodo(ambiente_, metodo), sessao, versaoDados, dados});
}

std::string TqorNFCe::CarregarTemplateStatusServico(const std::string& dados,
                                                    const std::string& versaoDados,
                                                    const std::string& cUF,
                                                    const std::string& metodo) {
  const std::string sessao = std::to_string(GetIntegrador().GetNumeroSessao());
  return Format(LoadTemplate("HNfeStatusServico2Soap12.xml"),
                {sessao, Metodo(ambiente_, metodo), dados, sessao, versaoDados, cUF});
}

std::string TqorNFCe::CarregarTemplateCancelamentoMFe(
    const std::string& dados, const std::string& versaoDados, const std::string& cUF,
    const std::string& dataHora, const std::string& valor, const std::string& numero,
    const std::string& metodo) {
  const std::string sessao = std::to_string(GetIntegrador().GetNumeroSessao());
  const std::string modelo = LoadTemplate("evento_cancelar_mfe.xml");
  if (modelo.find("xmlNfceCancelamento") != std::string::npos) {
    return Format(modelo, {sessao, Metodo(ambiente_, metodo), cUF, numero, dados});
  }
  return Format(modelo, {sessao, Metodo(ambiente_, metodo), sessao, versaoDados, cUF, dados, numero,
                         dataHora, valor});
}

// ---- the exchange ---------------------------------------------------------------------------

std::string TqorNFCe::ComunicarIntegrador(const std::string& xml,
                                          const std::string& identificador) {
  TqorIntegrador& integrador = GetIntegrador();
  if (Trim(xml).empty()) {
    throw EqorNFCeCheckParamsException("Xml de comunicação não pode ser vazio.", diretorioLogErro_);
  }
  if (integrador.GetAtivar() &&
      (integrador.GetDiretorioEntrada().empty() || integrador.GetDiretorioSaida().empty())) {
    throw EqorNFCeCheckParamsException(
        "As propriedades \"DiretorioEntrada\" ou \"DiretorioSaida\" não podem ser vazias se a "
        "propriedade \"Ativar\" estiver configurada como verdadeiro. DiretorioEntrada: %s "
        "DiretorioSaida: %s",
        {integrador.GetDiretorioEntrada(), integrador.GetDiretorioSaida()}, diretorioLogErro_);
  }
  TFileSystem& arquivos = arquivos_ != nullptr ? *arquivos_ : TFileSystem::Default();
  try {
    const std::string entrada = Pasta(integrador.GetDiretorioEntrada());
    const std::string saida = Pasta(integrador.GetDiretorioSaida());
    // The output folder is cleared before the request exists, not after: a quick Integrador's
    // reply would otherwise be deleted with the stale ones and the note's fate left unknown.
    for (const std::string& nome : arquivos.ListFiles(saida, "*")) {
      if (!arquivos.DeleteFile(saida + nome)) {
        throw EqorNFCeIntegradorException(
            "Ocorreu um problema ao limpar diretório output: Não foi possível apagar o arquivo \"" +
                saida + nome + "\".",
            diretorioLogErro_);
      }
    }
    // Written whole under a temporary name, then renamed: the Integrador never reads half.
    SaveToFileUtf8(entrada + Carimbo() + "_" + identificador + ".xml", xml);
    const auto inicio = std::chrono::steady_clock::now();
    const auto prazo = std::chrono::seconds(std::max(0, integrador.GetTimeOut()));
    for (int rodadas = 1;; ++rodadas) {
      std::this_thread::sleep_for(kRodada);
      for (const std::string& nome : arquivos.ListFiles(saida, "*.xml")) {
        std::string texto;
        try {
          texto = arquivos.LoadFromFile(saida + nome);
        } catch (const std::exception&) {
          continue;  // gone meanwhile
        }
        if (auto resposta = Examinar(texto, identificador)) {
          arquivos.RenameFile(saida + nome, LogFolder() + nome);
          return *resposta;
        }
      }
      if (rodadas >= kRodadasMinimas && std::chrono::steady_clock::now() - inicio >= prazo) break;
    }
    throw EqorNFCeIntegradorException(
        "Não obteve retorno do Integrador, verifique se o mesmo está executando na máquina ou se "
        "as propriedades DiretorioEntrada e DiretorioSaida foram configurados corretamente.",
        diretorioLogErro_);
  } catch (const std::exception& failure) {
    throw EqorNFCeIntegradorException(
        std::string("Ocorreu um problema ao comunicar com Integrador: ") + failure.what(),
        diretorioLogErro_);
  }
}

std::string TqorNFCe::PegaRespostaSefazIntegrador(const std::string& resposta) {
  if (!ContainsText(resposta, kSucesso)) return resposta;
  TqorStringParse itens;
  itens.SetDemiliter("|");
  itens.SetText(resposta);
  std::string item = itens.GetItem(7);
  if (item.empty()) return {};
  // The retorno of an XML reply reaches here read by an XML parser, which turns CR LF into LF.
  ReplaceAll(item, "\r\n", "");
  ReplaceAll(item, "\n", "");
  const auto incorreta = [&] {
    return EqorNFCeIntegradorException("Integrador não respondeu corretamente, resposta: " + item,
                                       diretorioLogErro_);
  };
  if (ContainsText(item, "Internal Server Error")) throw incorreta();
  std::string soap;
  try {
    soap = DecodeBase64(item);
  } catch (const std::exception&) {
    throw incorreta();
  }
  if (!IsValidUtf8(soap)) throw incorreta();
  // Line feeds as CR LF; a CR LF already there stays one.
  std::string texto;
  texto.reserve(soap.size());
  for (std::size_t i = 0; i < soap.size(); ++i) {
    if (soap[i] == '\n' && (i == 0 || soap[i - 1] != '\r')) texto += '\r';
    texto += soap[i];
  }
  return texto;
}

std::string TqorNFCe::TrocarComIntegrador(const std::string& mensagem,
                                          const std::string& tipoPedido,
                                          const std::string& tipoResposta) {
  TqorGovUtils& utils = GetGovUtils();
  utils.Log(mensagem, tipoPedido, "", GetLogFileNameIntegrador(tipoPedido), LogFolder());
  const std::string resposta = DesenveloparSoap(PegaRespostaSefazIntegrador(
      ComunicarIntegrador(mensagem, std::to_string(GetIntegrador().GetNumeroSessao()))));
  utils.Log(resposta, tipoResposta, "", GetLogFileNameIntegrador(tipoResposta), LogFolder());
  return resposta;
}

}  // namespace qor
