#include "utils/Notas.h"

#include <cctype>
#include <memory>

#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "utils/Numeros.h"

namespace qor {

namespace {

// Parses `xml`, or gives no document when it is not well-formed: the queries then find nothing.
bool TryParse(const std::string& xml, std::unique_ptr<XmlDocument>& documento) {
  try {
    documento = std::make_unique<XmlDocument>(XmlDocument::Parse(xml));
    return true;
  } catch (const EqorGovException&) {
    return false;
  }
}

std::string NthNode(const std::string& xml, const std::string& xpath, int indice,
                    const XmlNamespaces& namespaces = {}) {
  std::unique_ptr<XmlDocument> documento;
  if (indice < 0 || !TryParse(xml, documento)) return {};
  std::string value;
  documento->SelectSingleNode("(" + xpath + ")[" + std::to_string(indice + 1) + "]", value,
                              namespaces);
  return value;
}

int CountNodes(const std::string& xml, const std::string& xpath,
               const XmlNamespaces& namespaces = {}) {
  std::unique_ptr<XmlDocument> documento;
  if (!TryParse(xml, documento)) return 0;
  std::string value;
  documento->SelectSingleNode("count(" + xpath + ")", value, namespaces, false);
  return StrToIntDef(value, 0);
}

bool IsXmlName(const std::string& name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool letter = std::isalpha(c) || c == '_' || c >= 0x80;
    if (!letter && (i == 0 || !(std::isdigit(c) || c == '-' || c == '.'))) return false;
  }
  return true;
}

std::string SemPrefixo(const std::string& id) {
  return id.size() > 3 ? id.substr(3) : std::string();
}

TTrechoNota TrechoDaNota(const std::string& xml, std::size_t inicio, bool comProtocolo) {
  const std::string_view fecha = comProtocolo ? "</protNFe>" : "</infNFe>";
  const std::size_t pos = FindFirst(xml, fecha, inicio);
  return {inicio, pos == std::string::npos ? pos : pos + fecha.size()};
}

}  // namespace

const XmlNamespaces& NamespaceTec() {
  static const XmlNamespaces kTec{{"tec", kNamespaceNFe}};
  return kTec;
}

int GetNumNotas(const std::string& xml) {
  int count = 0;
  for (std::size_t pos = FindFirst(xml, "<infNFe "); pos != std::string::npos;
       pos = FindFirst(xml, "<infNFe ", pos + 1)) {
    ++count;
  }
  return count;
}

std::string GetNota(int indice, const std::string& xml, bool comProtocolo) {
  if (indice < 0) return {};
  std::size_t inicio = FindFirst(xml, "<infNFe ");
  for (int i = 0; i < indice && inicio != std::string::npos; ++i) {
    inicio = FindFirst(xml, "<infNFe ", inicio + 1);
  }
  if (inicio == std::string::npos) return {};
  const TTrechoNota trecho = TrechoDaNota(xml, inicio, comProtocolo);
  if (trecho.fim == std::string::npos) return {};
  return xml.substr(trecho.inicio, trecho.fim - trecho.inicio);
}

std::vector<TTrechoNota> LocalizarNotas(const std::string& xml, bool comProtocolo) {
  std::vector<TTrechoNota> trechos;
  bool fechamentoEsgotado = false;  // no closing tag after a note: none after the later ones
  for (std::size_t inicio = FindFirst(xml, "<infNFe "); inicio != std::string::npos;
       inicio = FindFirst(xml, "<infNFe ", inicio + 1)) {
    trechos.push_back(fechamentoEsgotado ? TTrechoNota{inicio, std::string::npos}
                                         : TrechoDaNota(xml, inicio, comProtocolo));
    fechamentoEsgotado = trechos.back().fim == std::string::npos;
  }
  return trechos;
}

int GetNumNotasXPath(const std::string& xml, bool comNamespace) {
  return comNamespace ? CountNodes(xml, ".//tec:infNFe", NamespaceTec())
                      : CountNodes(xml, ".//infNFe");
}

std::string getNotaXPath(const std::string& xml, int indice, bool comNamespace) {
  return comNamespace ? NthNode(xml, ".//tec:infNFe", indice, NamespaceTec())
                      : NthNode(xml, ".//infNFe", indice);
}

std::string getXmlNotaXPath(const std::string& xml, const std::string& elemento, int indice) {
  if (!IsXmlName(elemento)) return {};
  return NthNode(xml, "//*[local-name()='" + elemento + "']", indice);
}

std::string getIDNotaXPath(const XmlDocument& documento) {
  std::string id;
  documento.FindAttribute(kNamespaceNFe, "infNFe", "Id", id);
  return SemPrefixo(id);
}

std::string getIDNotaXPath(const std::string& xml) {
  std::unique_ptr<XmlDocument> documento;
  return TryParse(xml, documento) ? getIDNotaXPath(*documento) : std::string();
}

std::string ObterNotaID(const std::string& xml) {
  const std::size_t pos = xml.find("Id=\"NFe");
  if (pos == std::string::npos) return {};
  return xml.substr(pos + 7, 44);
}

std::string ObterNumRecibo(const std::string& xml) { return GetValueTag("nRec", xml); }

int ObterNumEventos(const std::string& xml) {
  return CountNodes(xml, "//*[local-name()='infEvento']");
}

std::string ObterEvento(const std::string& xml, int indice) {
  return NthNode(xml, "//*[local-name()='infEvento']", indice);
}

std::string ValueTagTratado(const std::string& tag, const std::string& xml,
                            const std::string& delimitadorLinha) {
  if (!IsXmlName(tag)) return {};
  std::string value;
  XPathSelectSingleNode(xml, ".//*[local-name()='" + tag + "']", value, {}, false);
  if (delimitadorLinha.empty()) return value;
  for (std::size_t pos = value.find(delimitadorLinha); pos != std::string::npos;
       pos = value.find(delimitadorLinha, pos + 5)) {
    value.replace(pos, delimitadorLinha.size(), "&#xD;");
  }
  return value;
}

std::string GerarIdEvento(const std::string& chave, int sequencia, TTipoEvento tipo) {
  const char* codigo = tipo == TTipoEvento::teEPEC                       ? "110140"
                       : tipo == TTipoEvento::teCancelamentoSubstituicao ? "110112"
                                                                         : "110111";
  return Format("ID%s%s%2.2d", {codigo, chave, sequencia});
}

}  // namespace qor
