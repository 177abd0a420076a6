#include "templates/TqorNFCeTemplateVersaoUF_CE.h"

#include "templates/TemplateParts.h"

namespace qor {

std::string TqorNFCeTemplateVersaoUF_CE::getEnvio_Soap() const {
  if (servicos310()) {
    return tpl::Envelope3("RecepcaoEvento", "1.00", "nfeDadosMsg", "soap12",
                          tpl::EnvelopeNs::SoapOnly, tpl::kDeclBare);
  }
  return TqorNFCeTemplateVersaoUF::getEnvio_Soap();
}

// Prefixed header and body with the data version before the cUF. The namespace is the receipt
// query's own: a message in another service's namespace would not reach the receipt operation.
std::string TqorNFCeTemplateVersaoUF_CE::getPedidoConsultaRecibo_Soap() const {
  if (!servicos310()) return TqorNFCeTemplateVersaoUF::getPedidoConsultaRecibo_Soap();
  return "<soap:Envelope" + tpl::Xmlns("soap", tpl::kSoap12Ns) +
         tpl::Xmlns("rec", tpl::Wsdl("NfeRetAutorizacao")) +
         "><soap:Header><rec:nfeCabecMsg><rec:versaoDados>3.10</rec:versaoDados>"
         "<rec:cUF>%s</rec:cUF></rec:nfeCabecMsg></soap:Header><soap:Body><rec:nfeDadosMsg>%s"
         "</rec:nfeDadosMsg></soap:Body></soap:Envelope>";
}

}  // namespace qor
