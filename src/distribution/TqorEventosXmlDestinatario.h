// The distribution XML of a registered event (procEventoNFe: the signed evento joined with the
// state's retEvento), assembled from the event's request and reply (texts, file names in the log
// folder, or full paths), and written when a file is named.
//
// Not thread-safe.
#pragma once

#include <functional>
#include <string>

namespace qor {

class TqorEventosXmlDestinatario {
 public:
  std::string LogConsRec;  // the event's reply
  std::string LogEnvio;    // the event's request
  std::string SalvarComo;  // the file to write; empty: only the text is returned
  std::string DiretorioXmlDestinatario;
  std::string DiretorioLog;
  std::string DiretorioLogErro;
  std::string IdEvento;  // the Id of the event's infEvento
  // "evento_dest.xml": procEventoNFe with the evento in the first placeholder and the retEvento
  // in the second.
  std::string Template;
  std::function<void(const std::string& arquivo, const std::string& xml)> OnGenerateXMLDestinatario;

  // The procEventoNFe of IdEvento: the request's evento holding that Id (else
  // EqorNFCeEventoXmlDestinatario "Evento Id: %s não encontrada no Log : %s ") and the reply's
  // first retEvento. Written as UTF-8 without byte-order mark into SalvarComo when set, which
  // then runs OnGenerateXMLDestinatario.
  std::string GerarXmlDestinatario();
};

}  // namespace qor
