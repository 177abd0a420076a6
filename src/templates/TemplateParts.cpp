#include "templates/TemplateParts.h"

namespace qor::tpl {

std::string Wsdl(std::string_view service) {
  std::string ns(kWsdlBase);
  ns += service;
  return ns;
}

std::string Xmlns(std::string_view prefix, std::string_view uri) {
  std::string decl = " xmlns";
  if (!prefix.empty()) {
    decl += ':';
    decl += prefix;
  }
  decl += "=\"";
  decl += uri;
  decl += '"';
  return decl;
}

std::string Versao(std::string_view versao) { return " versao=\"" + std::string(versao) + "\""; }

std::string RaizNFe(std::string_view tag, std::string_view versao, std::string_view content) {
  const std::string t(tag);
  return "<" + t + Xmlns("", kNFeNs) + Versao(versao) + ">" + std::string(content) + "</" + t + ">";
}

std::string Envelope4(std::string_view prefix, std::string_view service,
                      std::string_view bodyElement) {
  const std::string body = std::string(prefix) + ":" + std::string(bodyElement);
  return "<soap:Envelope" + Xmlns("soap", kSoap12Ns) + Xmlns(prefix, Wsdl(service)) +
         "><soap:Header/><soap:Body><" + body + ">%s</" + body + "></soap:Body></soap:Envelope>";
}

std::string Envelope3(std::string_view service, std::string_view dataVersion,
                      std::string_view bodyElement, std::string_view envelopePrefix,
                      EnvelopeNs order, std::string_view declaration) {
  const std::string p(envelopePrefix);
  std::string ns;
  switch (order) {
    case EnvelopeNs::XsiXsdSoap:
      ns = Xmlns("xsi", kXsiNs) + Xmlns("xsd", kXsdNs) + Xmlns(p, kSoap12Ns);
      break;
    case EnvelopeNs::SoapXsdXsi:
      ns = Xmlns(p, kSoap12Ns) + Xmlns("xsd", kXsdNs) + Xmlns("xsi", kXsiNs);
      break;
    case EnvelopeNs::SoapOnly:
      ns = Xmlns(p, kSoap12Ns);
      break;
  }
  const std::string wsdl = Xmlns("", Wsdl(service));
  const std::string body(bodyElement);
  return std::string(declaration) + "<" + p + ":Envelope" + ns + "><" + p + ":Header><nfeCabecMsg" +
         wsdl + "><cUF>%s</cUF><versaoDados>" + std::string(dataVersion) +
         "</versaoDados></nfeCabecMsg></" + p + ":Header><" + p + ":Body><" + body + wsdl +
         ">%s</" + body + "></" + p + ":Body></" + p + ":Envelope>";
}

std::string Integrador(std::string_view declaration, std::string_view componente,
                       std::string_view parametros) {
  return std::string(declaration) +
         "<Integrador><Identificador><Valor>%s</Valor></Identificador><Componente Nome=\"" +
         std::string(componente) + "\"><Metodo Nome=\"%s\"><Parametros>" + std::string(parametros) +
         "</Parametros></Metodo></Componente></Integrador>";
}

std::string Parametro(std::string_view nome, std::string_view valor, std::string_view comentario) {
  return "<Parametro><Nome>" + std::string(nome) + "</Nome>" + std::string(comentario) + "<Valor>" +
         std::string(valor) + "</Valor></Parametro>";
}

}  // namespace qor::tpl
