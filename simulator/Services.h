// The simulator's table of web services: for each address key the component looks up in the
// server-address file, the path the simulator serves it on, the layout it speaks, the WSDL
// namespace of its SOAP messages and the element that wraps its reply.
//
// One table feeds both the routing and WriteServerFiles, so a file can never name a path the
// server does not route.
#pragma once

#include <span>
#include <string_view>

namespace qor::sim {

enum class ServiceKind {
  Status,         // consStatServ -> retConsStatServ
  Query,          // consSitNFe -> retConsSitNFe, from the base of notes
  Authorization,  // enviNFe (plain or compressed) -> retEnviNFe, recording into the base
  ReceiptQuery,   // consReciNFe -> retConsReciNFe, from the batches the base keeps
  Event,          // envEvento of cancellations (110111, 110112) -> retEnvEvento
  Epec,           // envEvento of EPEC (110140) -> retEnvEvento
  Voiding         // inutNFe -> retInutNFe, recording the range into the base
};

struct ServiceRoute {
  std::string_view addressKey;     // key in a UF section of the server-address file
  std::string_view path;           // path on the simulator
  std::string_view layout;         // "4.00" or "3.10": layout of the data the service accepts
  std::string_view wsdlNamespace;  // namespace of nfeDadosMsg / nfeCabecMsg / the result
  std::string_view resultElement;  // child of the reply's SOAP Body
  ServiceKind kind;
  // Services that also take their data compressed (nfeDadosMsgZip, gzip + Base64): the child of
  // the reply's Body for that operation. Empty for the others.
  std::string_view zipResultElement = {};
};

std::span<const ServiceRoute> ServiceRoutes();

// The versaoDados the nfeCabecMsg of a route names, in requests and replies: the event services
// name the events' layout ("1.00"), the others their own.
std::string_view HeaderVersaoDados(const ServiceRoute& route);

// The route served on `path`, or null.
const ServiceRoute* FindRoute(std::string_view path);

// UF abbreviations and their IBGE codes, in the order the server-address files list them;
// "AN" (the national environment, 91) last.
struct UfCode {
  std::string_view uf;
  std::string_view code;
};
std::span<const UfCode> UfCodes();

// True when `code` is one of the 27 state codes the schemas accept in cUF (91 is not one).
bool IsStateCode(std::string_view code);

// RS hosts the virtual authoriser that serves most NFC-e states: the least surprising UF to
// answer for when the request names none the schema accepts.
inline constexpr std::string_view kFallbackCUF = "43";

// Paths of the consumer pages named by URLQRCODE and URLCONSULTACHAVE.
inline constexpr std::string_view kQrCodePath = "/consulta-qrcode";
inline constexpr std::string_view kConsultaChavePath = "/consulta-chave";

}  // namespace qor::sim
