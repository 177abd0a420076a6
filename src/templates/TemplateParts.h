// Building blocks shared by the template classes: namespaces, declarations and the two SOAP
// envelope shapes of the NF-e services. Internal to the templates library.
#pragma once

#include <string>
#include <string_view>

namespace qor::tpl {

inline constexpr std::string_view kNFeNs = "http://www.portalfiscal.inf.br/nfe";
inline constexpr std::string_view kDSigNs = "http://www.w3.org/2000/09/xmldsig#";
inline constexpr std::string_view kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view kXsdNs = "http://www.w3.org/2001/XMLSchema";
inline constexpr std::string_view kWsdlBase = "http://www.portalfiscal.inf.br/nfe/wsdl/";

inline constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
inline constexpr std::string_view kDeclUtf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// The signer emits this bare declaration and the cleaning after signing removes exactly this
// text, so the signing wrappers must use it.
inline constexpr std::string_view kDeclBare = "<?xml version=\"1.0\"?>";

// ` versao="..."`.
std::string Versao(std::string_view versao);

// <tag xmlns="NF-e ns" versao="...">content</tag>
std::string RaizNFe(std::string_view tag, std::string_view versao, std::string_view content);

// WSDL namespace of web service `service` ("NFeStatusServico4" -> ".../wsdl/NFeStatusServico4").
std::string Wsdl(std::string_view service);

// ` xmlns:prefix="uri"` (or ` xmlns="uri"` for an empty prefix). The leading blank is what
// keeps consecutive declarations apart.
std::string Xmlns(std::string_view prefix, std::string_view uri);

// The version-4 envelope: soap:Envelope declaring soap and `prefix` = W(service), an empty
// header, and the body element `prefix`:`bodyElement` whose content is the single placeholder.
std::string Envelope4(std::string_view prefix, std::string_view service,
                      std::string_view bodyElement = "nfeDadosMsg");

// Order of the namespace declarations on a version-3 envelope.
enum class EnvelopeNs {
  XsiXsdSoap,  // the usual order
  SoapXsdXsi,  // EPEC reception
  SoapOnly     // Ceará's event reception
};

// The version-3 envelope: a header `nfeCabecMsg` (default namespace W(service)) with the cUF
// placeholder and the fixed data version, and a body element `bodyElement` in the same
// namespace holding the body placeholder.
std::string Envelope3(std::string_view service, std::string_view dataVersion,
                      std::string_view bodyElement = "nfeDadosMsg",
                      std::string_view envelopePrefix = "soap12",
                      EnvelopeNs order = EnvelopeNs::XsiXsdSoap,
                      std::string_view declaration = kDecl);

// Integrador message: identifier placeholder, component `componente`, method-name placeholder and
// the given <Parametro> elements.
std::string Integrador(std::string_view declaration, std::string_view componente,
                       std::string_view parametros);
// One <Parametro> with `nome` and a `valor` text (usually "%s"); `comentario` goes between them.
std::string Parametro(std::string_view nome, std::string_view valor = "%s",
                      std::string_view comentario = {});

}  // namespace qor::tpl
