// qornfce enviar LOTE ARQ.xml, enviar-sincrono LOTE ARQ.xml and consultar-recibo RECIBO.
#include <iostream>
#include <iterator>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

namespace {

// The signed notes: a file, or standard input for "-".
std::string LerNotas(const std::string& arquivo) {
  if (arquivo == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  return LoadFromFile(FromCurrentDir(arquivo));
}

int Enviar(int argc, char** argv, bool sincrono) {
  auto flags = ComponentFlags();
  flags.insert("compactar");
  const Options options(argc, argv, 2, ComponentValuedOptions(), flags);
  const char* nome = sincrono ? "enviar-sincrono" : "enviar";
  if (options.Has("help")) {
    std::cout << "uso: qornfce " << nome << " LOTE ARQ.xml [--compactar] [opções]\n"
              << (sincrono ? "Envia uma NFC-e assinada para autorização síncrona (indSinc 1) e\n"
                             "escreve a resposta da SEFAZ com o protocolo.\n"
                           : "Envia um lote de NFC-e assinadas (enviNFe, indSinc 0) e escreve a\n"
                             "resposta da SEFAZ com o número do recibo.\n")
              << "LOTE é o número do lote (idLote); ARQ.xml as notas assinadas (\"-\": entrada\n"
                 "padrão), como \"qornfce assinar\" as escreve. --compactar envia o lote em\n"
                 "nfeDadosMsgZip (gzip + Base64).\n\n"
              << ComponentOptionsHelp();
    return 0;
  }
  if (options.Positional().size() != 2) throw UsageError("informe o número do lote e o arquivo");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string notas = LerNotas(options.Positional()[1]);
  const std::string& lote = options.Positional()[0];
  const bool compactar = options.Has("compactar");
  std::cout << (sincrono ? nfce.EnviarNFSincrono(lote, notas, compactar)
                         : nfce.EnviarNF(lote, notas, compactar))
            << "\n";
  return 0;
}

}  // namespace

int RunEnviar(int argc, char** argv) { return Enviar(argc, argv, false); }
int RunEnviarSincrono(int argc, char** argv) { return Enviar(argc, argv, true); }

int RunConsultarRecibo(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Has("help")) {
    std::cout << "uso: qornfce consultar-recibo RECIBO [opções]\n"
                 "Consulta o processamento do lote de recibo RECIBO (15 dígitos) e escreve a\n"
                 "resposta da SEFAZ; grava o XML de distribuição das notas autorizadas.\n\n"
              << ComponentOptionsHelp();
    return 0;
  }
  if (options.Positional().size() != 1) throw UsageError("informe o número do recibo");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.ConsultarRecibo(options.Positional()[0]) << "\n";
  return 0;
}

}  // namespace qor::cli
