#include "distribution/TqorNFCeEventoXmlCancelamentoDestinatario.h"

#include <filesystem>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/XmlLogs.h"

namespace qor {

namespace {

// The texts as the procEventoNFe takes them: the first of each XML declaration form and every
// CR LF pair gone.
std::string SemDeclaracao(std::string texto) {
  for (const char* declaracao :
       {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"}) {
    if (const std::size_t at = texto.find(declaracao); at != std::string::npos) {
      texto.erase(at, std::string_view(declaracao).size());
    }
  }
  ReplaceAll(texto, "\r\n", "");
  return texto;
}

std::string Primeiro(const std::string& xml, const char* elemento) {
  std::string valor;
  XPathSelectSingleNode(xml, std::string("//*[local-name()='") + elemento + "']", valor);
  return valor;
}

}  // namespace

std::string TqorNFCeEventoXmlCancelamentoDestinatario::GerarXmlCancelamentoDestinatario() {
  const auto falha = [this](const char* mensagem) {
    throw EqorNFCeCheckParamsException(mensagem, DiretorioLogErro);
  };
  std::string id = IdNFCe;
  if (!id.empty() && (id[0] == 'N' || id[0] == 'n')) {
    falha("A Chave deve ser composta apenas por Números");
  }
  if (id.find("ID") == std::string::npos) id = "ID" + id;
  std::string infEvento;
  XPathSelectSingleNode(LogPedCanc, "//*[local-name()='infEvento']", infEvento);
  if (id.size() <= 2 || infEvento.find(id) == std::string::npos) {
    falha("ID informado não confere com a chave do log de pedido de cancelamento.");
  }
  if (GetValueTag("chNFe", LogPedCanc) != GetValueTag("chNFe", LogRetCanc)) {
    falha(
        "A chave do log de pedido de cancelamento não confere com a chave do log de retorno de "
        "cancelamento.");
  }
  const std::string cStat = GetValueTag("cStat", Primeiro(LogRetCanc, "retEvento"));
  if (cStat != "135" && cStat != "136" && cStat != "155") {
    falha("Não se trata de cancelamento de NF-e homologado.");
  }
  if (Template.empty()) {
    throw EqorNFCeXmlDestinatarioException("O arquivo de template não foi configurado.",
                                           DiretorioLogErro);
  }
  const std::string evento = Primeiro(SemDeclaracao(LogPedCanc), "evento");
  if (evento.empty()) {
    throw EqorNFCeXmlDestinatarioException(
        "Não foi encontrado evento de NF-e no envio do cancelamento.", DiretorioLogErro);
  }
  const std::string retEvento = Primeiro(SemDeclaracao(LogRetCanc), "retEvento");
  if (retEvento.empty()) {
    throw EqorNFCeXmlDestinatarioException(
        "Não foi encontrado retorno do evento de NF-e no retorno do cancelamento.",
        DiretorioLogErro);
  }
  return Format(Template, {evento, retEvento});
}

std::string GerarXMLCancelamentoDestinatario(const std::string& chave, const std::string& logPedido,
                                             const std::string& logRetorno,
                                             const std::string& arquivo,
                                             const TCancelamentoDestinatarioConfig& config) {
  const std::string pedido =
      TqorEventosXMLLogs::LoadLog(logPedido, config.DiretorioLog, config.DiretorioLogErro);
  if (Primeiro(pedido, "evento").empty()) return {};
  const std::string lower = LowerCase(pedido);
  if (pedido.find("infEvento") == std::string::npos ||
      (lower.find("<tpevento>110111</tpevento>") == std::string::npos &&
       lower.find("<tpevento>110112</tpevento>") == std::string::npos)) {
    throw EqorNFCeXmlDestinatarioException(
        "O conteúdo do Log de pedido de Cancelamento é inválido.", config.DiretorioLogErro);
  }
  const std::string retorno =
      TqorEventosXMLLogs::LoadLog(logRetorno, config.DiretorioLog, config.DiretorioLogErro);
  if (retorno.find("retEvento") == std::string::npos) {
    throw EqorNFCeXmlDestinatarioException(
        "O conteúdo do Log de Retorno de Cancelamento é inválido.", config.DiretorioLogErro);
  }
  TqorNFCeEventoXmlCancelamentoDestinatario destinatario;
  destinatario.LogPedCanc = pedido;
  destinatario.LogRetCanc = retorno;
  destinatario.Template = config.Template;
  destinatario.DiretorioLogErro = config.DiretorioLogErro;
  // The Id of the event the request holds for this key, whatever its sequence number (a fixed
  // "01" would refuse every event but the first).
  std::vector<std::string> ids;
  XPathSelectNodes(pedido, "//*[local-name()='infEvento']/@Id", ids, {}, false);
  for (const std::string& id : ids) {
    if (id.find(chave) != std::string::npos) destinatario.IdNFCe = id;
  }
  if (destinatario.IdNFCe.empty()) {
    const bool substituicao = pedido.find("<tpEvento>110112</tpEvento>") != std::string::npos;
    destinatario.IdNFCe = (substituicao ? "110112" : "110111") + chave + "01";
  }
  const std::string xml = destinatario.GerarXmlCancelamentoDestinatario();
  if (!arquivo.empty()) {
    const std::string caminho = ExpandPath(arquivo);
    ForceDirectories(std::filesystem::path(caminho).parent_path().string());
    SaveToFileUtf8(caminho, xml);
  }
  return xml;
}

}  // namespace qor
