#include "config/TqorImplantacao.h"

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace qor {

TqorImplantacao LerImplantacao(const std::string& arquivo, const std::string& logErro) {
  TqorImplantacao valores;
  if (!FileExists(arquivo)) return valores;
  const TIniFile ini(arquivo);
  const std::string secao = "Implantacao";
  valores.UrlServidoresProd = ini.ReadString(secao, "UrlServidoresProd", "");
  valores.UrlServidoresHom = ini.ReadString(secao, "UrlServidoresHom", "");
  valores.EnderecoProd = ini.ReadString(secao, "EnderecoProd", valores.EnderecoProd);
  valores.EnderecoHom = ini.ReadString(secao, "EnderecoHom", valores.EnderecoHom);
  valores.TempoLimiteDownload =
      ini.ReadInteger(secao, "TempoLimiteDownload", valores.TempoLimiteDownload);
  valores.PortaAtualizador = ini.ReadInteger(secao, "PortaAtualizador", valores.PortaAtualizador);
  valores.TempoLimiteAtualizador =
      ini.ReadInteger(secao, "TempoLimiteAtualizador", valores.TempoLimiteAtualizador);
  if (valores.PortaAtualizador < 1 || valores.PortaAtualizador > 65535) {
    throw EqorNFCeConfigException("Porta do atualizador local inválida em %s: %s",
                                  {arquivo, std::to_string(valores.PortaAtualizador)}, logErro);
  }
  return valores;
}

}  // namespace qor
