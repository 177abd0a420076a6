#include "Services.h"

#include <array>

namespace qor::sim {

namespace {

#define QOR_WSDL "http://www.portalfiscal.inf.br/nfe/wsdl/"

// Paths follow the names the state services publish (".asmx" endpoints named after the WSDL
// service), so a log of the component's requests reads like one against a real service.
constexpr std::array kRoutes{
    ServiceRoute{"NfeStatusServico4", "/ws/NFeStatusServico4.asmx", "4.00",
                 QOR_WSDL "NFeStatusServico4", "nfeResultMsg", ServiceKind::Status},
    ServiceRoute{"NfeStatusServico3", "/ws/NfeStatusServico2.asmx", "3.10",
                 QOR_WSDL "NfeStatusServico2", "nfeStatusServicoNF2Result", ServiceKind::Status},
    // The 3.10 WSDL names the reply of each operation (nfeAutorizacaoLote,
    // nfeAutorizacaoLoteZip); the 4.00 one answers both with nfeResultMsg.
    ServiceRoute{"NfeRecepcao4", "/ws/NFeAutorizacao4.asmx", "4.00", QOR_WSDL "NFeAutorizacao4",
                 "nfeResultMsg", ServiceKind::Authorization, "nfeResultMsg"},
    ServiceRoute{"NfeRecepcao3", "/ws/NfeAutorizacao.asmx", "3.10", QOR_WSDL "NfeAutorizacao",
                 "nfeAutorizacaoLoteResult", ServiceKind::Authorization,
                 "nfeAutorizacaoLoteZipResult"},
    ServiceRoute{"NfeRetRecepcao4", "/ws/NFeRetAutorizacao4.asmx", "4.00",
                 QOR_WSDL "NFeRetAutorizacao4", "nfeResultMsg", ServiceKind::ReceiptQuery},
    ServiceRoute{"NfeRetRecepcao3", "/ws/NfeRetAutorizacao.asmx", "3.10",
                 QOR_WSDL "NfeRetAutorizacao", "nfeRetAutorizacaoLoteResult",
                 ServiceKind::ReceiptQuery},
    ServiceRoute{"NfeConsulta4", "/ws/NFeConsultaProtocolo4.asmx", "4.00",
                 QOR_WSDL "NFeConsultaProtocolo4", "nfeResultMsg", ServiceKind::Query},
    ServiceRoute{"NfeConsulta3", "/ws/NfeConsulta2.asmx", "3.10", QOR_WSDL "NfeConsulta2",
                 "nfeConsultaNF2Result", ServiceKind::Query},
    ServiceRoute{"NfeInutilizacao4", "/ws/NFeInutilizacao4.asmx", "4.00",
                 QOR_WSDL "NFeInutilizacao4", "nfeResultMsg", ServiceKind::Voiding},
    ServiceRoute{"NfeInutilizacao3", "/ws/NfeInutilizacao2.asmx", "3.10",
                 QOR_WSDL "NfeInutilizacao2", "nfeInutilizacaoNF2Result", ServiceKind::Voiding},
    ServiceRoute{"nfeRecepcaoEvento4", "/ws/NFeRecepcaoEvento4.asmx", "4.00",
                 QOR_WSDL "NFeRecepcaoEvento4", "nfeResultMsg", ServiceKind::Event},
    ServiceRoute{"nfeRecepcaoEvento3", "/ws/RecepcaoEvento.asmx", "3.10", QOR_WSDL "RecepcaoEvento",
                 "nfeRecepcaoEventoResult", ServiceKind::Event},
    // EPEC keeps the 3.10-style envelope (with nfeCabecMsg) for every manual version.
    ServiceRoute{"NfeRecepcaoEPEC", "/ws/RecepcaoEPEC.asmx", "3.10", QOR_WSDL "RecepcaoEvento",
                 "nfeRecepcaoEventoResult", ServiceKind::Epec},
};

#undef QOR_WSDL

constexpr std::array kUfCodes{
    UfCode{"AC", "12"}, UfCode{"AL", "27"}, UfCode{"AP", "16"}, UfCode{"AM", "13"},
    UfCode{"BA", "29"}, UfCode{"CE", "23"}, UfCode{"DF", "53"}, UfCode{"ES", "32"},
    UfCode{"GO", "52"}, UfCode{"MA", "21"}, UfCode{"MT", "51"}, UfCode{"MS", "50"},
    UfCode{"MG", "31"}, UfCode{"PA", "15"}, UfCode{"PB", "25"}, UfCode{"PR", "41"},
    UfCode{"PE", "26"}, UfCode{"PI", "22"}, UfCode{"RJ", "33"}, UfCode{"RN", "24"},
    UfCode{"RS", "43"}, UfCode{"RO", "11"}, UfCode{"RR", "14"}, UfCode{"SC", "42"},
    UfCode{"SP", "35"}, UfCode{"SE", "28"}, UfCode{"TO", "17"}, UfCode{"AN", "91"},
};

}  // namespace

std::span<const ServiceRoute> ServiceRoutes() { return kRoutes; }

std::string_view HeaderVersaoDados(const ServiceRoute& route) {
  return route.kind == ServiceKind::Event || route.kind == ServiceKind::Epec ? "1.00"
                                                                             : route.layout;
}

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace

// The state services run on servers whose paths ignore case; a client that writes
// "nfestatusservico4.asmx" reaches the service there, and so it does here.
const ServiceRoute* FindRoute(std::string_view path) {
  for (const ServiceRoute& route : kRoutes) {
    if (SameIgnoringCase(route.path, path)) return &route;
  }
  return nullptr;
}

std::span<const UfCode> UfCodes() { return kUfCodes; }

bool IsStateCode(std::string_view code) {
  for (const UfCode& uf : kUfCodes) {
    if (uf.code == code && uf.uf != "AN") return true;
  }
  return false;
}

}  // namespace qor::sim
