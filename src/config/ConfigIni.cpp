#include "config/ConfigIni.h"

#include <exception>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/SecretBox.h"

namespace qor {

namespace {

constexpr std::string_view kMarcaBase64 = "base64:";
constexpr std::string_view kMarcaSegredo = "enc:";

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
  const std::string programa = HomeDir();
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

std::string LerSegredoIni(const TIniFile& ini, const std::string& secao, const std::string& chave,
                          const std::string& padrao) {
  const std::string valor = ini.ReadString(secao, chave, "");
  if (valor.rfind(kMarcaSegredo, 0) != 0) return LerTextoIni(ini, secao, chave, padrao);
  try {
    return Decrypt(valor.substr(kMarcaSegredo.size()));
  } catch (const std::exception& causa) {
    FalhaNaChave(secao, chave, causa);
  }
}

void GravarSegredoIni(TIniFile& ini, const std::string& secao, const std::string& chave,
                      const std::string& valor) {
  ini.WriteString(secao, chave,
                  valor.empty() ? std::string() : std::string(kMarcaSegredo) + Encrypt(valor));
}

}  // namespace qor
