#include "utils/XmlLogs.h"

#include <memory>
#include <vector>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Notas.h"
#include "utils/Numeros.h"
#include "utils/Paths.h"

namespace qor {

namespace {

// The text of a log file: without byte-order mark, and in UTF-8 whatever it was written in.
std::string ReadLogFile(const std::string& path) {
  std::string text = RemoveBOM(LoadFromFile(path));
  return IsValidUtf8(text) ? text : Cp1252ToUtf8(text);
}

template <typename NotFound>
std::string Load(const std::string& log, const std::string& pasta, const std::string& logDir) {
  const std::size_t first = log.find_first_not_of(" \t\r\n");
  // A text that opens a tag (or has a mark) is XML: it never names a file, and long texts stay
  // out of the file-system calls.
  if (first != std::string::npos && (log[first] == '<' || log.rfind("\xEF\xBB\xBF", 0) == 0)) {
    return RemoveBOM(log);
  }
  const std::string path = NativePath(log);
  if (!path.empty() && path[0] == '/') {
    if (!FileExists(path)) throw NotFound("Arquivo de Log %s não existe.", {log}, logDir);
    return ReadLogFile(path);
  }
  const std::string nome = ExtractFileName(path);
  if (IsPlainFileName(nome)) {
    // Only the name part is used, so a log argument never reaches outside the log folder.
    const std::string candidato =
        Trim(pasta).empty() ? ExpandPath(nome) : FixSlash(ExpandPath(pasta)) + nome;
    if (FileExists(candidato)) return ReadLogFile(candidato);
  }
  return RemoveBOM(log);
}

void ChecaChave(const std::string& chave, const std::string& logDir) {
  if (!chave.empty() && (chave[0] == 'N' || chave[0] == 'n')) {
    throw EqorNFCeCheckParamsException("A Chave deve ser composta apenas por Números", logDir);
  }
}

void ChecaLista(const TStrings* lista, const std::string& logDir) {
  if (lista == nullptr) {
    throw EqorNFCeCheckParamsException("Lista não foi instanciada.", logDir);
  }
}

std::unique_ptr<XmlDocument> Parse(const std::string& xml) {
  try {
    return std::make_unique<XmlDocument>(XmlDocument::Parse(xml));
  } catch (const EqorGovException&) {
    return nullptr;
  }
}

// The first node of `xpath` whose XML holds `chave` (ignoring ASCII case when asked); empty
// when none does, or when there is no key to look for.
std::string FirstHolding(const std::string& xml, const std::string& xpath, const std::string& chave,
                         const XmlNamespaces& namespaces = {}, bool ignorarCaixa = false) {
  if (chave.empty()) return {};
  const auto documento = Parse(xml);
  std::vector<std::string> nodes;
  if (!documento || !documento->SelectNodes(xpath, nodes, namespaces)) return {};
  const std::string procurada = ignorarCaixa ? LowerCase(chave) : chave;
  for (const std::string& node : nodes) {
    if ((ignorarCaixa ? LowerCase(node) : node).find(procurada) != std::string::npos) return node;
  }
  return {};
}

// The text of `relative` inside each node of `xpath`, in document order (empty for a node that
// lacks it).
std::vector<std::string> ValuesInEach(const XmlDocument& documento, const std::string& xpath,
                                      const std::string& relative,
                                      const XmlNamespaces& namespaces) {
  std::string count;
  documento.SelectSingleNode("count(" + xpath + ")", count, namespaces, false);
  std::vector<std::string> values;
  const int n = StrToIntDef(count, 0);
  for (int i = 1; i <= n; ++i) {
    std::string value;
    documento.SelectSingleNode("(" + xpath + ")[" + std::to_string(i) + "]/" + relative, value,
                               namespaces, false);
    values.push_back(Trim(value));
  }
  return values;
}

}  // namespace

// ---- note logs --------------------------------------------------------------------------------

std::string TqorNFCeXMLLogs::LoadLog(const std::string& log, const std::string& pasta,
                                     const std::string& logDir) {
  return Load<EqorNFCeLogNotFoundException>(log, pasta, logDir);
}

std::string TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(const std::string& chave,
                                                      const std::string& log,
                                                      const std::string& pasta,
                                                      const std::string& logDir) {
  ChecaChave(chave, logDir);
  const std::string xml = LoadLog(log, pasta, logDir);
  if (Trim(xml).empty()) throw EqorNFCeCheckParamsException("Arquivo de Log Vazio", logDir);
  const auto documento = Parse(xml);
  std::vector<std::string> filhos;
  if (!documento || !documento->SelectNodes("/*/*", filhos)) {
    throw EqorNFCeCheckParamsException("Arquivo Log não contém Chave de NFCe ou é inválido.",
                                       logDir);
  }
  if (chave.empty()) return {};
  const std::string procurada = LowerCase(chave);
  for (const std::string& filho : filhos) {
    if (LowerCase(filho).find(procurada) != std::string::npos) return filho;
  }
  return {};
}

std::string TqorNFCeXMLLogs::AchaInfProtLogConsRec(const std::string& chave, const std::string& log,
                                                   const std::string& pasta,
                                                   const std::string& logDir) {
  ChecaChave(chave, logDir);
  return FirstHolding(LoadLog(log, pasta, logDir), ".//tec:infProt", chave, NamespaceTec());
}

std::string TqorNFCeXMLLogs::AchaInfProtLogConsNF(const std::string& chave, const std::string& log,
                                                  const std::string& pasta,
                                                  const std::string& logDir) {
  ChecaChave(chave, logDir);
  const auto documento = Parse(LoadLog(log, pasta, logDir));
  std::string infProt;
  if (!documento) return infProt;
  // Only the protocol of this key: a reply may carry another note's.
  const std::vector<std::string> chaves =
      ValuesInEach(*documento, ".//tec:infProt", "tec:chNFe", NamespaceTec());
  for (std::size_t i = 0; i < chaves.size(); ++i) {
    if (chaves[i] != chave) continue;
    documento->SelectSingleNode("(.//tec:infProt)[" + std::to_string(i + 1) + "]", infProt,
                                NamespaceTec());
    break;
  }
  return infProt;
}

void TqorNFCeXMLLogs::ListaChavesLogRecibo(const std::string& log, int cStat, TStrings* lista,
                                           const std::string& pasta, const std::string& logDir) {
  if (cStat == 0) throw EqorNFCeCheckParamsException("O cStat deve ser informado.", logDir);
  ChecaLista(lista, logDir);
  const auto documento = Parse(LoadLog(log, pasta, logDir));
  if (!documento) return;
  const std::vector<std::string> status =
      ValuesInEach(*documento, ".//tec:protNFe", ".//tec:cStat", NamespaceTec());
  const std::vector<std::string> chaves =
      ValuesInEach(*documento, ".//tec:protNFe", ".//tec:chNFe", NamespaceTec());
  for (std::size_t i = 0; i < status.size(); ++i) {
    std::int64_t valor = 0;
    if (TryStrToInt64(status[i], valor) && valor == cStat) lista->Add(chaves[i]);
  }
}

void TqorNFCeXMLLogs::ListaChavesLogEnv(const std::string& log, TStrings* lista,
                                        const std::string& pasta, const std::string& logDir) {
  ChecaLista(lista, logDir);
  const auto documento = Parse(LoadLog(log, pasta, logDir));
  std::vector<std::string> ids;
  if (!documento) return;
  documento->SelectNodes(".//tec:infNFe/@Id", ids, NamespaceTec(), false);
  for (const std::string& id : ids) lista->Add(id.size() > 3 ? id.substr(3) : std::string());
}

// ---- event logs -------------------------------------------------------------------------------

std::string TqorEventosXMLLogs::LoadLog(const std::string& log, const std::string& pasta,
                                        const std::string& logDir) {
  return Load<EqorNFCeEventoLogNotFoundException>(log, pasta, logDir);
}

std::string TqorEventosXMLLogs::AchaEventosAssinadaLogEnvio(const std::string& id,
                                                            const std::string& log,
                                                            const std::string& pasta,
                                                            const std::string& logDir) {
  ChecaChave(id, logDir);
  return FirstHolding(LoadLog(log, pasta, logDir), "//*[local-name()='evento']", id);
}

std::string TqorEventosXMLLogs::AchaInfChaveLogConsRec(const std::string& chave,
                                                       const std::string& log,
                                                       const std::string& pasta,
                                                       const std::string& logDir) {
  ChecaChave(chave, logDir);
  return FirstHolding(LoadLog(log, pasta, logDir), "//*[local-name()='retEnvEvento']", chave);
}

std::string TqorEventosXMLLogs::getIDNotaXPath(const std::string& xml) {
  std::string id;
  XPathSelectSingleNode(xml, ".//*[local-name()='infNFe']/@Id", id, {}, false);
  return id.size() > 3 ? id.substr(3) : std::string();
}

void TqorEventosXMLLogs::ListaChavesLogEnv(const std::string& log, TStrings* lista,
                                           const std::string& pasta, const std::string& logDir) {
  ChecaLista(lista, logDir);
  const auto documento = Parse(LoadLog(log, pasta, logDir));
  if (!documento) return;
  for (const std::string& chave :
       ValuesInEach(*documento, "//*[local-name()='infEvento']", "*[local-name()='chNFe']", {})) {
    lista->Add(chave);
  }
}

}  // namespace qor
