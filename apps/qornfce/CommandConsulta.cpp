// qornfce consultar CHAVE and qornfce validar ARQ.xml COMANDO.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

int RunConsultar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Has("help")) {
    std::cout << "uso: qornfce consultar CHAVE [opções]\n"
                 "Consulta a situação da NFC-e de chave de acesso CHAVE (consSitNFe) e escreve\n"
                 "a resposta da SEFAZ.\n\n"
              << ComponentOptionsHelp();
    return 0;
  }
  if (options.Positional().size() != 1) throw UsageError("informe a chave de acesso");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConsultarNF(options.Positional()[0]) << "\n";
  return 0;
}

int RunValidar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Has("help")) {
    std::cout << "uso: qornfce validar ARQ.xml COMANDO [opções]\n"
                 "Valida o XML pelo esquema do COMANDO no Mapping.txt da pasta de esquemas\n"
                 "(ENVIO, CONSULTARECIBO, CONSULTANF, INUTILIZACAO, STATUS, XMLDESTINATARIO,\n"
                 "ENVIOCANCEVENTO, ENVIOCANCEVENTOSUBSTITUICAO), ou pelo que o próprio XML\n"
                 "indica em schemaLocation. Um XML inválido sai com 1 e o relatório em stderr.\n\n"
              << ComponentOptionsHelp();
    return 0;
  }
  if (options.Positional().size() != 2) throw UsageError("informe o arquivo XML e o comando");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string xml = LoadFromFile(FromCurrentDir(options.Positional()[0]));
  try {
    nfce.ValidarXMLNFCe(xml, options.Positional()[1]);
  } catch (const EqorSchemaValidationException& invalid) {
    std::cerr << invalid.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace qor::cli
