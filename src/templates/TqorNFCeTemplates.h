// The built-in request template catalogue (manual versions vm50b and vm60).
//
// Every XML body, SOAP envelope and distribution document the component produces starts from a
// named template: a single-line text with positional "%s" placeholders filled in order. Most
// templates are shared by every state; the national environment (AN) and Ceará (CE) replace a
// few. The texts themselves live in TqorNFCeTemplateVersaoUF and its state subclasses.
//
// Thread-safety: stateless; LoadTemplate may be called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/Types.h"

namespace qor {

class TqorNFCeTemplates {
 public:
  TqorNFCeTemplates() = delete;

  // The text of template `name` ("pedido_status.xml", "envio.soap", ...; compared after ASCII
  // lower-casing) for manual version `versao` and state `uf` (exact, case-sensitive: "AN" and
  // "CE" select their own texts, anything else the shared ones). A name the catalogue lacks
  // gives an empty text.
  static std::string LoadTemplate(TVersaoManual versao, const std::string& uf,
                                  const std::string& name);

  // What a folder of template files must hold to stand in for the catalogue: every state and
  // the national environment ("AC" ... "TO", with "AN"), and every template name (lower case),
  // both in catalogue order.
  static std::vector<std::string_view> UFs();
  static std::vector<std::string_view> Nomes();
};

}  // namespace qor
