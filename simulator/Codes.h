// cStat and xMotivo of the NF-e standard's code table that the simulator answers with. Texts are
// the standard's, accents included: a client that compares them must see what a state service
// sends.
#pragma once

#include <string_view>

namespace qor::sim {

struct Outcome {
  std::string_view cStat;
  std::string_view xMotivo;
};

namespace codes {
inline constexpr Outcome k100{"100", "Autorizado o uso da NF-e"};
inline constexpr Outcome k101{"101", "Cancelamento de NF-e homologado"};
inline constexpr Outcome k107{"107", "Serviço em Operação"};
inline constexpr Outcome k135{"135", "Evento registrado e vinculado a NF-e"};
inline constexpr Outcome k215{"215", "Rejeição: Falha no schema XML"};
inline constexpr Outcome k217{"217", "Rejeição: NF-e não consta na base de dados da SEFAZ"};
inline constexpr Outcome k236{"236", "Rejeição: Chave de Acesso com dígito verificador inválido"};
inline constexpr Outcome k238{"238",
                              "Rejeição: Cabeçalho - Versão do arquivo XML superior a Versão "
                              "vigente"};
inline constexpr Outcome k239{"239", "Rejeição: Cabeçalho - Versão do arquivo XML não suportada"};
inline constexpr Outcome k242{"242", "Rejeição: Elemento nfeCabecMsg inexistente no SOAP Header"};
inline constexpr Outcome k404{"404", "Rejeição: Uso de prefixo de namespace não permitido"};
inline constexpr Outcome k409{"409",
                              "Rejeição: Campo cUF inexistente no elemento nfeCabecMsg do SOAP "
                              "Header"};
inline constexpr Outcome k410{"410",
                              "Rejeição: UF informada no campo cUF não é atendida pelo Web "
                              "Service"};
inline constexpr Outcome k411{"411",
                              "Rejeição: Campo versaoDados inexistente no elemento nfeCabecMsg do "
                              "SOAP Header"};
}  // namespace codes

// verAplic of every reply.
inline constexpr std::string_view kVerAplic = "SIM-QORNFCE-1.0";

}  // namespace qor::sim
