// qornfce chave / qrcode / logs: the fiscal utilities of the component on the command line.
#include <iostream>
#include <string>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor::cli {

namespace {

// Options common to the three commands: the component's, parsed from the word after the
// subcommand. `--help` prints `usage` and the component options.
bool Help(const Options& options, const char* usage) {
  if (!options.Has("help")) return false;
  std::cout << usage << "\n" << ComponentOptionsHelp();
  return true;
}

TLogFilter ParseFiltro(const std::string& nome) {
  for (int i = 0; i <= static_cast<int>(TLogFilter::lfEnvSincRet); ++i) {
    const auto filtro = static_cast<TLogFilter>(i);
    if (SameText(ToString(filtro).substr(2), nome)) return filtro;
  }
  throw UsageError("filtro de log desconhecido: " + nome +
                   " (use Xml, NFCe, EnvLot, Rec, PedRec, ProRec, Den, CaneveEnv, CaneveRet, "
                   "CaneveSubEnv, CaneveSubRet, PedInu, Inu, PedSit, Sit, PedSta, Sta, Custom, "
                   "EnvSincLot ou EnvSincRet)");
}

}  // namespace

int RunChave(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (Help(
          options,
          "uso: qornfce chave DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS [opções]\n"
          "Calcula a chave de acesso de 44 dígitos (com o dígito verificador).\n"
          "DATA é AAAA-MM-DD ou AAAA-MM-DDThh:mm:ss-03:00 (dhEmi); CNF vem antes de TPEMIS.\n"
          "Exemplo: qornfce chave 2015-03-20T10:15:00-03:00 41 11222333000181 65 1 123 4567 1\n")) {
    return 0;
  }
  const auto& args = options.Positional();
  if (args.size() != 8) {
    throw UsageError("esperados 8 argumentos (DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS), recebidos " +
                     std::to_string(args.size()));
  }
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.CalculaChaveNFCe(args[0], args[1], args[2], args[3], args[4], args[5], args[6],
                                     args[7])
            << "\n";
  return 0;
}

int RunQRCode(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (Help(options,
           "uso: qornfce qrcode ARQ.xml [opções]\n"
           "Escreve o link do QR Code (qrCode de infNFeSupl) de uma NFC-e assinada.\n"
           "Endereços: chave URLQRCODE dos arquivos de servidores (seção UF_versão ou UF);\n"
           "CSC: DANFCE.IdTokenNFCe e DANFCE.TokenNFCe da configuração (em homologação, sem CSC,\n"
           "é usado o CSC padrão de teste).\n")) {
    return 0;
  }
  const auto& args = options.Positional();
  if (args.size() != 1) throw UsageError("informe um arquivo XML (qornfce qrcode ARQ.xml)");
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const std::string arquivo = FromCurrentDir(args[0]);
  if (!FileExists(arquivo)) throw UsageError("arquivo não encontrado: " + args[0]);
  std::cout << nfce.GetLinkQRCode(RemoveBOM(LoadFromFile(arquivo))) << "\n";
  return 0;
}

int RunLogs(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (Help(options,
           "uso: qornfce logs [FILTRO] [TEXTO] [opções]\n"
           "Lista os arquivos da pasta de logs, um por linha, com o caminho completo.\n"
           "FILTRO (padrão Xml): Xml, NFCe, EnvLot, Rec, PedRec, ProRec, Den, CaneveEnv,\n"
           "CaneveRet, CaneveSubEnv, CaneveSubRet, PedInu, Inu, PedSit, Sit, PedSta, Sta,\n"
           "EnvSincLot, EnvSincRet, ou Custom com TEXTO como máscara (ex.: Custom '*4115*').\n"
           "TEXTO: só os nomes que o contêm antes do sufixo do filtro (ex.: EnvLot 4115).\n")) {
    return 0;
  }
  const auto& args = options.Positional();
  if (args.size() > 2) throw UsageError("argumento inesperado: " + args[2]);
  const TLogFilter filtro = args.empty() ? TLogFilter::lfXml : ParseFiltro(args[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TStrings lista;
  nfce.ListarLogs(&lista, filtro, args.size() > 1 ? args[1] : std::string());
  for (const std::string& nome : lista.Lines()) std::cout << nome << "\n";
  return 0;
}

}  // namespace qor::cli
