// The distribution XML of a registered cancellation (procEventoNFe of a 110111 or 110112 event),
// from the cancellation's request and reply texts.
//
// Not thread-safe.
#pragma once

#include <string>

namespace qor {

class TqorNFCeEventoXmlCancelamentoDestinatario {
 public:
  std::string IdNFCe;      // the event Id ("ID" is added when missing)
  std::string LogPedCanc;  // the request (envEvento) text
  std::string LogRetCanc;  // the reply (retEnvEvento or retEvento) text
  // "cancxmlevento_dest.xml": procEventoNFe with the evento in the first placeholder and the
  // retEvento in the second.
  std::string Template;
  std::string DiretorioLogErro;

  // Checks that the request holds IdNFCe, that request and reply name the same key and that the
  // reply registered the event (135, 136, 155), all EqorNFCeCheckParamsException; then
  // Format(Template, first evento, first retEvento) of the texts without XML declarations and
  // CR LF pairs.
  std::string GerarXmlCancelamentoDestinatario();
};

// What the free function needs from the component: its folders and the "cancxmlevento_dest.xml"
// template as the component loads it for its manual version and UF.
struct TCancelamentoDestinatarioConfig {
  std::string DiretorioLog;
  std::string DiretorioLogErro;
  std::string Template;
};

// The cancellation distribution of `chave` from a request log and a reply log (texts, names in
// the log folder or full paths); written as UTF-8 into `arquivo` when given. An event Id is taken
// from the request's infEvento, so an event of any sequence number assembles. A request without
// an evento element gives an empty text. The request must hold infEvento of type 110111 or
// 110112 ("O conteúdo do Log de pedido de Cancelamento é inválido.") and the reply a retEvento
// ("O conteúdo do Log de Retorno de Cancelamento é inválido."), EqorNFCeXmlDestinatarioException.
std::string GerarXMLCancelamentoDestinatario(const std::string& chave, const std::string& logPedido,
                                             const std::string& logRetorno,
                                             const std::string& arquivo,
                                             const TCancelamentoDestinatarioConfig& config);

}  // namespace qor
