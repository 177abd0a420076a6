#include "templates/TqorNFCeTemplateVersaoUF.h"

#include "templates/AmostraLote.h"
#include "templates/TemplateParts.h"

namespace qor {

using tpl::Envelope3;
using tpl::Envelope4;
using tpl::kNFeNs;
using tpl::Parametro;
using tpl::RaizNFe;
using tpl::Versao;
using tpl::Xmlns;

namespace {

// The fields shared by both cancellation events, from Id through verEvento.
constexpr std::string_view kInfEventoCancelamentoInicio =
    "<infEvento Id=\"%s\"><cOrgao>%s</cOrgao><tpAmb>%s</tpAmb><CNPJ>%s</CNPJ>"
    "<chNFe>%s</chNFe><dhEvento>%s</dhEvento><tpEvento>%s</tpEvento>"
    "<nSeqEvento>%s</nSeqEvento><verEvento>1.00</verEvento>";

}  // namespace

std::string TqorNFCeTemplateVersaoUF::getVersaoXml() const {
  return versaoManual_ >= TVersaoManual::vm60 ? "4.00" : "3.10";
}

// ---- Request bodies ----

std::string TqorNFCeTemplateVersaoUF::getAssinarInutilizacao_Xml() const {
  return std::string(tpl::kDeclBare) + RaizNFe("inutNFe", getVersaoXml(), "%s%s");
}

std::string TqorNFCeTemplateVersaoUF::getAssinarNota_Xml() const {
  return "<NFe" + Xmlns("", kNFeNs) + ">%s%s</NFe>";
}

std::string TqorNFCeTemplateVersaoUF::getAssinarEvento_Xml() const {
  return RaizNFe("evento", "1.00", "%s%s");
}

std::string TqorNFCeTemplateVersaoUF::getCabecConsultaNf_Xml() const {
  const std::string v = getVersaoXml();
  return std::string(tpl::kDeclUtf8) +
         RaizNFe("cabecMsg", v, "<versaoDados>" + v + "</versaoDados>");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoStatus_Xml() const {
  return RaizNFe("consStatServ", getVersaoXml(),
                 "<tpAmb>%s</tpAmb><cUF>%s</cUF><xServ>STATUS</xServ>");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoEnviarNota_Xml() const {
  return RaizNFe("enviNFe", getVersaoXml(), "<idLote>%s</idLote><indSinc>0</indSinc>%s%s");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoConsultaRecibo_Xml() const {
  return RaizNFe("consReciNFe", getVersaoXml(), "<tpAmb>%s</tpAmb><nRec>%s</nRec>");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoConsultaNf_Xml() const {
  return RaizNFe("consSitNFe", getVersaoXml(),
                 "<tpAmb>%s</tpAmb><xServ>CONSULTAR</xServ><chNFe>%s</chNFe>");
}

// The signed voiding request goes out exactly as signed.
std::string TqorNFCeTemplateVersaoUF::getPedidoInutilizarNf_Xml() const { return "%s"; }

std::string TqorNFCeTemplateVersaoUF::getInfInutInutilizarNf_Xml() const {
  return "<infInut Id=\"%s\"><tpAmb>%s</tpAmb><xServ>INUTILIZAR</xServ><cUF>%s</cUF>"
         "<ano>%s</ano><CNPJ>%s</CNPJ><mod>%s</mod><serie>%s</serie><nNFIni>%s</nNFIni>"
         "<nNFFin>%s</nNFFin><xJust>%s</xJust></infInut>";
}

// ---- Event bodies ----

std::string TqorNFCeTemplateVersaoUF::getEventoCancelar_Xml() const {
  return std::string(kInfEventoCancelamentoInicio) +
         "<detEvento versao=\"1.00\"><descEvento>Cancelamento</descEvento><nProt>%s</nProt>"
         "<xJust>%s</xJust></detEvento></infEvento>";
}

std::string TqorNFCeTemplateVersaoUF::getEventoCancelarSubstituicao_Xml() const {
  return std::string(kInfEventoCancelamentoInicio) +
         "<detEvento versao=\"1.00\"><descEvento>Cancelamento por substituicao</descEvento>"
         "<cOrgaoAutor>%s</cOrgaoAutor><tpAutor>%s</tpAutor><verAplic>%s</verAplic>"
         "<nProt>%s</nProt><xJust>%s</xJust><chNFeRef>%s</chNFeRef></detEvento></infEvento>";
}

std::string TqorNFCeTemplateVersaoUF::getEventoEnvio_Xml() const {
  return RaizNFe("envEvento", "1.00", "<idLote>%s</idLote>%s");
}

std::string TqorNFCeTemplateVersaoUF::getEnvioEpec_Xml() const {
  return "<envEvento" + Versao("1.00") + Xmlns("", kNFeNs) + "><idLote>%s</idLote>%s</envEvento>";
}

// The empty Signature only stands in for the real one in the unsigned batch: it has no XML-DSig
// namespace, so the signature-presence check does not mistake an unsigned EPEC for a signed
// one, and signing rebuilds each event from its infEvento.
std::string TqorNFCeTemplateVersaoUF::getEventoEpec_Xml() const {
  return "<evento versao=\"1.00\"><infEvento Id=\"%s\"><cOrgao>%s</cOrgao><tpAmb>%s</tpAmb>%s"
         "<chNFe>%s</chNFe><dhEvento>%s</dhEvento><tpEvento>110140</tpEvento>"
         "<nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
         "<descEvento>EPEC</descEvento><cOrgaoAutor>%s</cOrgaoAutor><tpAutor>1</tpAutor>"
         "<verAplic>1</verAplic><dhEmi>%s</dhEmi><tpNF>%s</tpNF><IE>%s</IE>%s<vNF>%s</vNF>"
         "<vICMS>%s</vICMS></detEvento></infEvento><Signature></Signature></evento>";
}

// ---- SOAP envelopes ----

std::string TqorNFCeTemplateVersaoUF::getPedidoStatus_Soap() const {
  if (servicos310()) return Envelope3("NfeStatusServico2", "3.10", "nfeDadosMsg", "SOAP-ENV");
  return Envelope4("nfes", "NFeStatusServico4");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoEnviarNfe_Soap() const {
  if (servicos310()) return Envelope3("NfeAutorizacao", "3.10");
  return Envelope4("nfe", "NFeAutorizacao4");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoEnviarNfeZip_Soap() const {
  if (servicos310()) return Envelope3("NfeAutorizacao", "3.10", "nfeDadosMsgZip");
  return Envelope4("nfe", "NFeAutorizacao4", "nfeDadosMsgZip");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoConsultaRecibo_Soap() const {
  if (servicos310()) return Envelope3("NfeRetAutorizacao", "3.10");
  return Envelope4("nfer", "NFeRetAutorizacao4");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoConsultaNf_Soap() const {
  if (servicos310()) return Envelope3("NfeConsulta2", "3.10");
  return Envelope4("nfec", "NFeConsultaProtocolo4");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoInutilizarNf_Soap() const {
  if (servicos310()) return Envelope3("NfeInutilizacao2", "3.10");
  return Envelope4("nfe", "NFeInutilizacao4");
}

std::string TqorNFCeTemplateVersaoUF::getEnvio_Soap() const {
  if (servicos310()) return Envelope3("RecepcaoEvento", "1.00");
  return Envelope4("nfer", "NFeRecepcaoEvento4");
}

// The EPEC reception service kept the version-3 envelope in every manual version.
std::string TqorNFCeTemplateVersaoUF::getPedidoEnviaEpec_Soap() const {
  return Envelope3("RecepcaoEvento", "1.00", "nfeDadosMsg", "soap12", tpl::EnvelopeNs::SoapXsdXsi);
}

// The Integrador forwards to the version-4 services whatever the manual version.
std::string TqorNFCeTemplateVersaoUF::getPedidoEnviarNfeIntegrador_Soap() const {
  return Envelope4("nfe", "NFeAutorizacao4");
}

std::string TqorNFCeTemplateVersaoUF::getPedidoCancelaMFeIntegrador_Xml() const {
  return Envelope4("nfer", "NFeRecepcaoEvento4");
}

// ---- Distribution XML ----

std::string TqorNFCeTemplateVersaoUF::getEnvioXmlDest_Xml() const {
  const std::string v = getVersaoXml();
  return std::string(tpl::kDeclUtf8) + "<nfeProc" + Versao(v) + Xmlns("", kNFeNs) + ">%s" +
         RaizNFe("protNFe", v, "%s") + "</nfeProc>";
}

std::string TqorNFCeTemplateVersaoUF::getCancXmlEventoDest_Xml() const {
  return std::string(tpl::kDecl) + RaizNFe("procEventoNFe", "1.00", "%s%s");
}

std::string TqorNFCeTemplateVersaoUF::getEventoDest_Xml() const {
  return std::string(tpl::kDecl) + RaizNFe("procEventoNFe", "1.00", "%s%s");
}

std::string TqorNFCeTemplateVersaoUF::getInutXmlDest_Xml() const {
  return std::string(tpl::kDeclUtf8) + RaizNFe("ProcInutNFe", getVersaoXml(), "%s%s");
}

// ---- Signature and QR code ----

std::string TqorNFCeTemplateVersaoUF::getSignatureInfo_Xml() const {
  const std::string dsig(tpl::kDSigNs);
  const std::string c14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
  return "<Signature" + Xmlns("", tpl::kDSigNs) +
         "><SignedInfo><CanonicalizationMethod Algorithm=\"" + c14n +
         "\"/><SignatureMethod Algorithm=\"" + dsig +
         "rsa-sha1\"/><Reference URI=\"%s\"><Transforms><Transform Algorithm=\"" + dsig +
         "enveloped-signature\"/><Transform Algorithm=\"" + c14n +
         "\"/></Transforms><DigestMethod Algorithm=\"" + dsig +
         "sha1\"/><DigestValue></DigestValue></Reference></SignedInfo>"
         "<SignatureValue></SignatureValue><KeyInfo><X509Data><X509Certificate>"
         "</X509Certificate></X509Data></KeyInfo></Signature>";
}

// CDATA keeps the "&" of the link as written, so the signer need not escape it.
std::string TqorNFCeTemplateVersaoUF::getQrcode_Xml() const {
  return "<qrCode><![CDATA[%s]]></qrCode>";
}

// ---- Validation fixtures ----

std::string TqorNFCeTemplateVersaoUF::getValidaCabecalho_Xml() const {
  return tpl::AmostraValidaCabecalho("4.00", true);
}

std::string TqorNFCeTemplateVersaoUF::getValidaItem_Xml() const {
  return std::string(tpl::AmostraItem());
}

std::string TqorNFCeTemplateVersaoUF::getValidaItemCabec_Xml() const {
  return tpl::AmostraValidaItemCabec("4.00", true);
}

// ---- Integrador (MFe) messages ----

std::string TqorNFCeTemplateVersaoUF::getEnvioNFCeMFe_Xml() const {
  return tpl::Integrador(tpl::kDeclUtf8, "NFCE",
                         Parametro("numeroSessao") + Parametro("versaoDados") + Parametro("cUF") +
                             Parametro("dados") + Parametro("NumeroNFCe") +
                             Parametro("DataHoraNFCeGerado") + Parametro("ValorNFCe"));
}

// Only Ceará routes through the Integrador, hence its cUF written in.
std::string TqorNFCeTemplateVersaoUF::getEnvioNFCeSemChaveMFe_Xml() const {
  return tpl::Integrador({}, "NFCE",
                         Parametro("numeroSessao") + Parametro("versaoDados") +
                             Parametro("cUF", "23") + Parametro("dados"));
}

std::string TqorNFCeTemplateVersaoUF::getEventoCancelarMFe_Xml() const {
  if (servicos310()) {
    return tpl::Integrador(tpl::kDeclUtf8, "NFCE-NFE",
                           Parametro("uf") + Parametro("numLote") +
                               Parametro("xmlNfceCancelamento", "<![CDATA[%s]]>"));
  }
  return getEnvioNFCeMFe_Xml();
}

std::string TqorNFCeTemplateVersaoUF::getHNFeStatusServico2_Xml() const {
  constexpr std::string_view kTipo = "<!--string-->";
  return tpl::Integrador("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>", "NFCE",
                         Parametro("dados", "%s", kTipo) + Parametro("numeroSessao", "%s", kTipo) +
                             Parametro("versaoDados", "%s", kTipo) + Parametro("cUF", "%s", kTipo));
}

}  // namespace qor
