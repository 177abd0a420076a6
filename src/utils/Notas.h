// Notes and events inside texts: counting, cutting and reading the few values other operations
// need from them.
//
// The XPath forms bind the prefix "tec" to the NF-e namespace; the text forms ("<infNFe " ...)
// work on any text, well-formed or not. Texts that are not well-formed XML make the XPath forms
// find nothing.
//
// Thread-safe: pure functions.
#pragma once

#include <string>
#include <vector>

#include "base/Types.h"
#include "platform/Xml.h"

namespace qor {

// The namespace of the NF-e standard's documents.
constexpr const char* kNamespaceNFe = "http://www.portalfiscal.inf.br/nfe";
// {"tec", kNamespaceNFe}: the binding the note queries use.
const XmlNamespaces& NamespaceTec();

// How many times "<infNFe " (with the blank) occurs in the text.
int GetNumNotas(const std::string& xml);
// The `indice`-th (from 0) note of the text: from its "<infNFe " up to and including the next
// "</infNFe>", or the next "</protNFe>" when `comProtocolo`. Empty when there is no such note or
// no closing tag.
std::string GetNota(int indice, const std::string& xml, bool comProtocolo = false);
// Where a note lies in its text, as GetNota cuts it: `inicio` at its "<infNFe ", `fim` just
// after its closing tag (npos when it has none).
struct TTrechoNota {
  std::size_t inicio = std::string::npos;
  std::size_t fim = std::string::npos;
};
// Every note of the text in one pass: element i is what GetNota(i, xml, comProtocolo) cuts. A
// batch of n notes is read once, not n times over.
std::vector<TTrechoNota> LocalizarNotas(const std::string& xml, bool comProtocolo = false);

// Number of infNFe elements: in the NF-e namespace (".//tec:infNFe") or, when not
// `comNamespace`, without a namespace (".//infNFe").
int GetNumNotasXPath(const std::string& xml, bool comNamespace = true);
// The `indice`-th (from 0) infNFe element, as XML (same namespace choice); empty when absent.
std::string getNotaXPath(const std::string& xml, int indice, bool comNamespace = true);
// The `indice`-th (from 0) element whose local name is `elemento`, as XML; empty when absent.
std::string getXmlNotaXPath(const std::string& xml, const std::string& elemento, int indice = 0);
// The access key of the first note: its infNFe Id without the "NFe" prefix; empty when absent.
std::string getIDNotaXPath(const std::string& xml);
std::string getIDNotaXPath(const XmlDocument& documento);
// The 44 characters after Id="NFe in the text (a text search); empty when absent.
std::string ObterNotaID(const std::string& xml);
// The text of nRec; empty when absent.
std::string ObterNumRecibo(const std::string& xml);
// Number of infEvento elements (any namespace) and the `indice`-th (from 0) of them as XML.
int ObterNumEventos(const std::string& xml);
std::string ObterEvento(const std::string& xml, int indice);

// The text of the first element whose local name is `tag`, with each `delimitadorLinha` written
// as the character reference "&#xD;" (a line break the printed document keeps). An empty
// delimiter leaves the text unchanged; a tag that is not an XML name gives an empty text.
std::string ValueTagTratado(const std::string& tag, const std::string& xml,
                            const std::string& delimitadorLinha);

// The Id of an event: "ID" + event code ("110111" cancellation, "110140" EPEC, "110112"
// cancellation by substitution) + key + sequence in two digits.
std::string GerarIdEvento(const std::string& chave, int sequencia, TTipoEvento tipo);

}  // namespace qor
