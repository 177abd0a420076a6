#include "config/ConfigIni.h"

#include <exception>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "platform/SecretBox.h"
#include "platform/Text.h"

namespace qor {

namespace {

constexpr std::string_view kMarcaBase64 = "base64:";

bool PrecisaCodificar(const std::string& valor) {
  if (valor.empty()) return false;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return valor.find_first_of("\r\n") != std::string::npos || blank(valor.front()) ||
         blank(valor.back()) || valor.rfind(kMarcaBase64, 0) == 0;
}

[[noreturn]] void FalhaNaChave(const std::string& secao, const std::string& chave,
                               const std::exception& causa) {
  throw EqorGovException("Chave " + chave + " da seção " + secao + ": " + causa.what());
}

}  // namespace

std::string RetornaNomeArquivoConfig() { return "nfceConfig.ini"; }

std::string GetINIFilePath(const std::string& name) {
  const std::string programa = ExecutableDir();
  if (name.empty()) return programa + RetornaNomeArquivoConfig();
  const std::string nome = NativePath(name);
  if (FileExists(nome)) return nome;
  // A folder named without its trailing separator is the folder itself, not its parent.
  if (DirectoryExists(nome)) return IncludeTrailingSlash(nome) + RetornaNomeArquivoConfig();
  const std::string aoLado = programa + ExtractFileName(nome);
  if (!ExtractFileName(nome).empty() && FileExists(aoLado)) return aoLado;
  return programa + RetornaNomeArquivoConfig();
}

std::string LerTextoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                        const std::string& padrao) {
  const std::string valor = ini.ReadString(secao, chave, padrao);
  if (valor.rfind(kMarcaBase64, 0) != 0) return valor;
  try {
    return DecodeBase64(std::string_view(valor).substr(kMarcaBase64.size()));
  } catch (const std::exception& causa) {
    FalhaNaChave(secao, chave, causa);
  }
}

void GravarTextoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                    const std::string& valor) {
  ini.WriteString(
      secao, chave,
      PrecisaCodificar(valor) ? std::string(kMarcaBase64) + EncodeBase64(valor) : valor);
}

std::string LerProtegidoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                            const std::string& padrao) {
  const std::string valor = ini.ReadString(secao, chave, "");
  if (valor.empty()) return padrao;
  try {
    return Decrypt(valor);
  } catch (const std::exception& causa) {
    FalhaNaChave(secao, chave, causa);
  }
}

void GravarProtegidoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                        const std::string& valor) {
  ini.WriteString(secao, chave, valor.empty() ? std::string() : Encrypt(valor));
}

// ---- the catalogue of keys ------------------------------------------------------------------

const std::vector<ChaveConfig>& ChavesConfiguracao() {
  using T = TipoChaveConfig;
  using U = UsoChaveConfig;
  constexpr U rw = U::LidaEGravada;
  static const std::vector<ChaveConfig> chaves{
      {"", "DiretorioLogErro", T::Texto, rw},
      {"", "Repositorio", T::Texto, U::SomenteGravada},
      {"", "DiagnosticMode", T::Booleano, rw},
      {"", "CNPJ", T::Texto, rw},
      {"", "TipoCertificado", T::Texto, U::SomenteLida},
      {"", "DiretorioTemplates", T::Texto, rw},
      {"", "DiretorioEsquemas", T::Texto, rw},
      {"", "ArquivoServidoresHom", T::Texto, rw},
      {"", "ArquivoServidoresProd", T::Texto, rw},
      {"", "AtualizarArquivoServidores", T::Booleano, rw},
      {"", "Ambiente", T::Inteiro, rw},
      {"", "DiretorioLog", T::Texto, rw},
      {"", "ValidarEsquema", T::Booleano, U::SomenteLida},
      {"", "ValidarEsquemaAntesEnvio", T::Booleano, rw},
      {"", "IgnoreInvalidCertificates", T::Booleano, rw},
      {"", "ArquivoCadeiaCertificados", T::Texto, rw},
      {"", "CaminhoCertificado", T::Texto, rw},
      {"", "SenhaCertificado", T::Segredo, rw},
      {"", "NomeCertificado", T::Texto, rw},
      {"", "HashCertificado", T::Texto, rw},
      {"", "PinCode", T::Protegido, rw},
      {"", "ConexaoSegura", T::Booleano, rw},
      {"", "Proxy", T::Texto, rw},
      {"", "Senha", T::Segredo, rw},
      {"", "Usuario", T::Texto, rw},
      {"", "TimeOut", T::Inteiro, rw},
      {"", "CaracteresRemoverAcentos", T::Texto, rw},
      {"", "VersaoManual", T::Texto, rw},
      {"", "UF", T::Texto, rw},
      {"", "MaxSizeLoteEnvio", T::Inteiro, rw},
      {"", "DiretorioXmlDestinatario", T::Texto, rw},
      {"", "DiretorioTemporario", T::Texto, rw},
      {"", "SalvarLogsEmDisco", T::Booleano, rw},
      {"", "IdCSRT", T::Texto, rw},
      {"", "CSRT", T::Segredo, rw},
      {"", "HttpLibs", T::Texto, rw},
      {"", "UtilizarEscPOS", T::Booleano, rw},
      {"", "AnexarDanfcePDF", T::Booleano, rw},
      {"INTEGRADOR", "Ativar", T::Booleano, rw},
      {"INTEGRADOR", "DiretorioEntrada", T::Texto, rw},
      {"INTEGRADOR", "DiretorioSaida", T::Texto, rw},
      {"INTEGRADOR", "TimeOut", T::Inteiro, rw},
      {"INTEGRADOR", "NumeroSessao", T::Inteiro, rw},
      {"MAIL", "Servidor", T::Texto, U::SomenteLida},
      {"MAIL", "ServidorSmtp", T::Texto, rw},
      {"MAIL", "EmailRemetente", T::Texto, rw},
      {"MAIL", "EmailDestinatario", T::Texto, rw},
      {"MAIL", "Assunto", T::Texto, rw},
      {"MAIL", "Mensagem", T::Texto, rw},
      {"MAIL", "Usuario", T::Texto, rw},
      {"MAIL", "Senha", T::Segredo, rw},
      {"MAIL", "Porta", T::Inteiro, rw},
      {"MAIL", "Autenticacao", T::Booleano, rw},
      {"MAIL", "TimeOut", T::Inteiro, rw},
      {"MAIL", "CCo", T::Texto, rw},
      {"MAIL", "CC", T::Texto, rw},
      {"MAIL", "ConteudoHtml", T::Booleano, rw},
      {"MAIL", "UseSecureBlackBox", T::Booleano, rw},
      {"DANFCE", "FraseHomologacao", T::Texto, rw},
      {"DANFCE", "LogotipoEmitente", T::Texto, rw},
      {"DANFCE", "FraseContingencia", T::Texto, rw},
      {"DANFCE", "LineDelimiter", T::Texto, rw},
      {"DANFCE", "QtdeCopias", T::Inteiro, rw},
      {"DANFCE", "InfCplMaxCol", T::Inteiro, rw},
      {"DANFCE", "InfCplMaxRow", T::Inteiro, rw},
      {"DANFCE", "InfCplQuebrarLinhaAut", T::Booleano, rw},
      {"DANFCE", "ModeloDanfce", T::Texto, rw},
      {"DANFCE", "ModeloDanfceMensagemEletronica", T::Texto, rw},
      {"DANFCE", "FormatoDanfce", T::Texto, rw},
      {"DANFCE", "ExibirDetalhamento", T::Booleano, rw},
      {"DANFCE", "ExibirAcrescimoEDesconto", T::Booleano, rw},
      {"DANFCE", "TokenNFCe", T::Protegido, rw},
      {"DANFCE", "IdTokenNFCe", T::Protegido, rw},
      {"DANFCE", "ParamsAvancados", T::Texto, rw},
      {"DANFCE", "ImprimirFrete", T::Booleano, rw},
      {"DANFCE", "ImprimirFreteProduto", T::Booleano, rw},
      {"ESCPOS", "ModeloEscPos", T::Inteiro, rw},
      {"ESCPOS", "PortaEscPos", T::Texto, rw},
      {"ESCPOS", "ColunasFonteNormalEscPos", T::Inteiro, rw},
      {"ESCPOS", "EspacoEntreLinhasEscPos", T::Inteiro, rw},
      {"ESCPOS", "LinhasEntreCuponsEscPos", T::Inteiro, rw},
      {"ESCPOS", "CortaPapelEscPos", T::Booleano, rw},
      {"ESCPOS", "PaginaDeCodigoEscPos", T::Inteiro, rw},
      {"ESCPOS", "QtdeCopiasEscPos", T::Inteiro, rw},
      {"ESCPOS", "ImprimeNomeFantasiaEscPos", T::Booleano, rw},
      {"ESCPOS", "ImprimeDescAcrescItemEscPos", T::Booleano, rw},
      {"ESCPOS", "ResumidoEscPos", T::Booleano, rw},
  };
  return chaves;
}

const ChaveConfig* ProcurarChaveConfig(const std::string& secao, const std::string& chave,
                                       const std::string& secaoPrincipal) {
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    const std::string& nomeSecao = c.secao.empty() ? secaoPrincipal : c.secao;
    if (SameText(nomeSecao, secao) && SameText(c.chave, chave)) return &c;
  }
  return nullptr;
}

bool ChaveSecreta(const ChaveConfig& chave) {
  return chave.tipo == TipoChaveConfig::Protegido || chave.tipo == TipoChaveConfig::Segredo;
}

}  // namespace qor
