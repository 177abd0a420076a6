// The usage text alone, apart from the command it describes: the command line lists it in its
// help without linking the simulator's server.
#include <string>

#include "SimulatorCommand.h"

namespace qor::sim {

namespace {

constexpr const char* kCnpj = "11222333000181";
constexpr const char* kPassword = "1234";

}  // namespace

std::string SimulatorUsage(const std::string& name) {
  return "Uso: " + name +
         " [--porta N] [--pasta DIR] [--esquemas DIR] [--processamento-lote MS]\n"
         "       [--prazo-cancelamento MIN] [--resultado-escapado]\n"
         "\n"
         "Executa o simulador de homologação dos web services da SEFAZ em 127.0.0.1 até\n"
         "receber SIGINT (Ctrl+C) ou SIGTERM.\n"
         "\n"
         "  --porta N       porta TCP (padrão: uma porta livre escolhida pelo sistema)\n"
         "  --pasta DIR     pasta de trabalho (padrão: ./simulador-nfce); recebe a PKI de teste\n"
         "                  em DIR/pki (CNPJ " +
         kCnpj + ", senha do PKCS#12 \"" + kPassword +
         "\")\n"
         "                  e os arquivos nfceServidoresProd.ini e nfceServidoresHom.ini;\n"
         "                  as notas autorizadas e denegadas, os lotes recebidos, os eventos\n"
         "                  EPEC e as inutilizações ficam em DIR/notas entre execuções;\n"
         "                  o arquivo DIR/fora-do-ar tira o serviço do ar enquanto ele roda:\n"
         "                  recusar, 503, 108 ou sem-resposta MS; normal (ou sem o arquivo) o\n"
         "                  traz de volta\n"
         "  --esquemas DIR  pacote de esquemas XSD (padrão: Esquemas/vm60 dos dados, ou "
         "$QORNFCE_ESQUEMAS)\n"
         "  --processamento-lote MS\n"
         "                  por quanto tempo a consulta do recibo de um lote responde 105 \"Lote\n"
         "                  em processamento\" (padrão: 0, processado de imediato)\n"
         "  --prazo-cancelamento MIN\n"
         "                  minutos depois da autorização a partir dos quais um cancelamento\n"
         "                  é homologado fora de prazo, 155 (padrão: 30)\n"
         "  --resultado-escapado\n"
         "                  responde com o documento escapado, como texto do elemento de\n"
         "                  resultado, como fazem alguns serviços estaduais\n"
         "  --help          mostra esta ajuda\n";
}

}  // namespace qor::sim
