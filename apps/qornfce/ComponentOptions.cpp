#include "ComponentOptions.h"

#include <filesystem>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "ConfigFile.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"

namespace qor::cli {

const std::set<std::string>& ComponentValuedOptions() {
  static const std::set<std::string> names{"config",
                                           "uf",
                                           "cnpj",
                                           "ambiente",
                                           "versao-manual",
                                           "certificado",
                                           "senha-certificado",
                                           "servidores-hom",
                                           "servidores-prod",
                                           "log",
                                           "log-erro",
                                           "xml-destinatario",
                                           "timeout",
                                           "cadeia-ca",
                                           "esquemas",
                                           "templates"};
  return names;
}

const std::set<std::string>& ComponentFlags() {
  static const std::set<std::string> names{"verificar-servidor"};
  return names;
}

const char* ComponentOptionsHelp() {
  return "  --config ARQ.ini           arquivo de configuração (padrão: nfceConfig.ini ao lado do\n"
         "                             executável, quando existe); as opções abaixo o sobrepõem\n"
         "  --uf UF                    sigla da UF do emitente (ex.: SP)\n"
         "  --cnpj CNPJ                CNPJ do emitente, 14 dígitos\n"
         "  --ambiente 1|2             1 produção, 2 homologação (padrão 2)\n"
         "  --versao-manual vm60|vm50b versão do manual (padrão vm60)\n"
         "  --certificado ARQ.pfx      certificado A1 (PKCS#12) da empresa\n"
         "  --senha-certificado SENHA  senha do certificado\n"
         "  --servidores-hom ARQ.ini   arquivo de servidores de homologação\n"
         "  --servidores-prod ARQ.ini  arquivo de servidores de produção\n"
         "  --log PASTA                pasta dos logs de pedidos e respostas\n"
         "  --log-erro PASTA           pasta dos logs de exceções\n"
         "  --xml-destinatario PASTA   pasta do XML do destinatário\n"
         "  --timeout MS               tempo limite da comunicação, em milissegundos\n"
         "  --cadeia-ca ARQ.pem        autoridades certificadoras aceitas para o servidor\n"
         "  --verificar-servidor       verifica o certificado do servidor (padrão: não verifica)\n"
         "  --esquemas PASTA           pasta dos esquemas XSD\n"
         "  --templates PASTA          pasta dos templates\n";
}

std::string FromCurrentDir(const std::string& path) {
  if (path.empty()) return path;
  std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  if ((path.back() == '/' || path.back() == '\\') && absolute.back() != '/') absolute += '/';
  return absolute;
}

std::string ReadInput(const std::string& name) {
  if (name == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
  const std::string path = FromCurrentDir(name);
  if (!FileExists(path)) {
    throw std::runtime_error("Arquivo não encontrado ou não é um arquivo comum: " + name);
  }
  return LoadFromFile(path);
}

namespace {

TAmbienteKind ParseAmbiente(const std::string& value) {
  if (value == "1" || value == "producao" || value == "produção") return TAmbienteKind::akProducao;
  if (value == "2" || value == "homologacao" || value == "homologação") {
    return TAmbienteKind::akHomologacao;
  }
  throw UsageError("ambiente inválido: " + value + " (use 1 ou 2)");
}

TVersaoManual ParseVersaoManual(const std::string& value) {
  for (auto v :
       {TVersaoManual::vm50, TVersaoManual::vm50a, TVersaoManual::vm50b, TVersaoManual::vm60}) {
    if (ToString(v) == value) return v;
  }
  throw UsageError("versão do manual inválida: " + value + " (use vm50, vm50a, vm50b ou vm60)");
}

}  // namespace

void ApplyComponentOptions(const Options& options, TqorNFCe& nfce) {
  // The error-log folder first, so that a refused value below is logged where the user asked;
  // then the configuration file, whose single properties the options below override.
  if (options.Has("log-erro")) nfce.SetDiretorioLogErro(FromCurrentDir(options.Get("log-erro")));
  LoadConfigFile(options, nfce);
  if (options.Has("log-erro")) nfce.SetDiretorioLogErro(FromCurrentDir(options.Get("log-erro")));
  if (options.Has("versao-manual"))
    nfce.SetVersaoManual(ParseVersaoManual(options.Get("versao-manual")));
  if (options.Has("ambiente")) nfce.SetAmbiente(ParseAmbiente(options.Get("ambiente")));
  if (options.Has("uf")) nfce.SetUF(options.Get("uf"));
  if (options.Has("cnpj")) nfce.SetCNPJ(options.Get("cnpj"));
  if (options.Has("log")) nfce.SetDiretorioLog(FromCurrentDir(options.Get("log")) + "/");
  if (options.Has("xml-destinatario")) {
    nfce.SetDiretorioXmlDestinatario(FromCurrentDir(options.Get("xml-destinatario")));
  }
  if (options.Has("servidores-hom")) {
    nfce.SetArquivoServidoresHom(FromCurrentDir(options.Get("servidores-hom")));
  }
  if (options.Has("servidores-prod")) {
    nfce.SetArquivoServidoresProd(FromCurrentDir(options.Get("servidores-prod")));
  }
  if (options.Has("esquemas"))
    nfce.SetDiretorioEsquemas(FromCurrentDir(options.Get("esquemas")) + "/");
  if (options.Has("templates"))
    nfce.SetDiretorioTemplates(FromCurrentDir(options.Get("templates")) + "/");
  if (options.Has("certificado"))
    nfce.SetCaminhoCertificado(FromCurrentDir(options.Get("certificado")));
  if (options.Has("senha-certificado")) nfce.SetSenhaCertificado(options.Get("senha-certificado"));
  if (options.Has("timeout")) nfce.SetTimeOut(options.GetInt("timeout", 0));
  if (options.Has("cadeia-ca"))
    nfce.SetArquivoCadeiaCertificados(FromCurrentDir(options.Get("cadeia-ca")));
  if (options.Has("verificar-servidor")) nfce.SetIgnoreInvalidCertificates(false);
}

}  // namespace qor::cli
