#include "templates/TqorNFCeTemplateVersaoUF_AN.h"

#include "templates/AmostraLote.h"
#include "templates/TemplateParts.h"

namespace qor {

using tpl::RaizNFe;

std::string TqorNFCeTemplateVersaoUF_AN::getAssinarInutilizacao_Xml() const {
  return std::string(tpl::kDeclBare) + RaizNFe("inutNFe", "2.00", "%s%s");
}

std::string TqorNFCeTemplateVersaoUF_AN::getEnvioXmlDest_Xml() const {
  return std::string(tpl::kDeclUtf8) + "<nfeProc" + tpl::Versao("2.00") +
         tpl::Xmlns("", tpl::kNFeNs) + ">%s" + RaizNFe("protNFe", "2.00", "%s") + "</nfeProc>";
}

std::string TqorNFCeTemplateVersaoUF_AN::getPedidoConsultaNf_Xml() const {
  return RaizNFe("consSitNFe", "2.01",
                 "<tpAmb>%s</tpAmb><xServ>CONSULTAR</xServ><chNFe>%s</chNFe>");
}

std::string TqorNFCeTemplateVersaoUF_AN::getPedidoConsultaRecibo_Soap() const {
  if (servicos310()) return tpl::Envelope3("NfeRetRecepcao2", "2.00");
  return TqorNFCeTemplateVersaoUF::getPedidoConsultaRecibo_Soap();
}

std::string TqorNFCeTemplateVersaoUF_AN::getPedidoConsultaRecibo_Xml() const {
  return RaizNFe("consReciNFe", "2.00", "<tpAmb>%s</tpAmb><nRec>%s</nRec>");
}

std::string TqorNFCeTemplateVersaoUF_AN::getPedidoEnviarNfe_Soap() const {
  if (servicos310()) return tpl::Envelope3("NfeRecepcao2", "2.00");
  return TqorNFCeTemplateVersaoUF::getPedidoEnviarNfe_Soap();
}

// The 2.00 batch predates synchronous sending: no indSinc.
std::string TqorNFCeTemplateVersaoUF_AN::getPedidoEnviarNota_Xml() const {
  return RaizNFe("enviNFe", "2.00", "<idLote>%s</idLote>%s%s");
}

std::string TqorNFCeTemplateVersaoUF_AN::getPedidoStatus_Xml() const {
  return RaizNFe("consStatServ", "2.00", "<tpAmb>%s</tpAmb><cUF>%s</cUF><xServ>STATUS</xServ>");
}

std::string TqorNFCeTemplateVersaoUF_AN::getValidaCabecalho_Xml() const {
  return tpl::AmostraValidaCabecalho("2.00", false);
}

std::string TqorNFCeTemplateVersaoUF_AN::getValidaItemCabec_Xml() const {
  return tpl::AmostraValidaItemCabec("2.00", false);
}

}  // namespace qor
