#include "DataArea.h"

#include <charconv>
#include <vector>

#include "platform/SchemaValidator.h"
#include "platform/Xml.h"

namespace qor::sim {

const Outcome* CheckDataArea(const std::string& data, const std::string& xsdPath) {
  std::vector<std::string> errors;
  if (data.empty() || !SchemaValidator::Validate(data, xsdPath, errors)) return &codes::k215;
  // A prefixed element passes the schema, yet the state services demand the default namespace,
  // because the signature digests are computed over the text as written.
  std::string prefixed;
  if (XPathSelectSingleNode(data, "//*[contains(name(), ':')]", prefixed)) return &codes::k404;
  return nullptr;
}

const Outcome* CheckCabecalho(const ServiceRoute& route, const SoapRequest& request) {
  if (!request.hasCabecMsg) return &codes::k242;
  if (!request.hasCabecCUF) return &codes::k409;
  if (!IsStateCode(request.cabecCUF)) return &codes::k410;
  if (!request.hasCabecVersaoDados) return &codes::k411;
  const std::string_view expected = HeaderVersaoDados(route);
  if (request.cabecVersaoDados != expected) {
    // from_chars ignores the host's locale, which may write decimals with a comma.
    double asked = 0, served = 0;
    const std::string& text = request.cabecVersaoDados;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), asked);
    std::from_chars(expected.data(), expected.data() + expected.size(), served);
    bool numeric = error == std::errc() && end == text.data() + text.size();
    return numeric && asked > served ? &codes::k238 : &codes::k239;
  }
  return nullptr;
}

}  // namespace qor::sim
