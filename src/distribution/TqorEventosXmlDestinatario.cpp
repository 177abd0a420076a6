#include "distribution/TqorEventosXmlDestinatario.h"

#include <filesystem>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Xml.h"
#include "utils/XmlLogs.h"

namespace qor {

std::string TqorEventosXmlDestinatario::GerarXmlDestinatario() {
  const std::string envio = TqorEventosXMLLogs::LoadLog(LogEnvio, DiretorioLog, DiretorioLogErro);
  const std::string resposta =
      TqorEventosXMLLogs::LoadLog(LogConsRec, DiretorioLog, DiretorioLogErro);
  const std::string evento =
      TqorEventosXMLLogs::AchaEventosAssinadaLogEnvio(IdEvento, envio, "", DiretorioLogErro);
  if (evento.empty()) {
    throw EqorNFCeEventoXmlDestinatario("Evento Id: %s não encontrada no Log : %s ",
                                        {IdEvento, LogEnvio}, DiretorioLogErro);
  }
  std::string retEvento;
  XPathSelectSingleNode(resposta, "//*[local-name()='retEvento']", retEvento);
  const std::string xml = Format(Template, {evento, retEvento});
  if (!SalvarComo.empty()) {
    ForceDirectories(std::filesystem::path(SalvarComo).parent_path().string());
    SaveToFileUtf8(SalvarComo, xml);
    if (OnGenerateXMLDestinatario) OnGenerateXMLDestinatario(SalvarComo, xml);
  }
  return xml;
}

}  // namespace qor
