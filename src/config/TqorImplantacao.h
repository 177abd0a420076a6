// Deployment values: where the server-address archives are downloaded from, the "endereco="
// line each downloaded file must carry, and the port of the local updater.
//
// They live in one place, the file "nfceImplantacao.ini" of the installation data (DataDir),
// section [Implantacao] (README, "Implantação"); a host may also set them on the component. With no
// archive address configured the server files are never downloaded.
#pragma once

#include <string>

namespace qor {

struct TqorImplantacao {
  // Addresses of the gzip archives of the production and homologation server files.
  std::string UrlServidoresProd;
  std::string UrlServidoresHom;
  // The national portal's web-service pages the downloaded files name in their "endereco=" line.
  std::string EnderecoProd = "http://www.nfe.fazenda.gov.br/portal/webServices.aspx";
  std::string EnderecoHom = "http://hom.nfe.fazenda.gov.br/portal/webServices.aspx";
  int TempoLimiteDownload = 30000;  // milliseconds per archive
  // The local updater listens on http://127.0.0.1:<PortaAtualizador>/.
  int PortaAtualizador = 3210;
  int TempoLimiteAtualizador = 60000;  // milliseconds
};

// The values of `arquivo` (keys as the member names above); a file that does not exist gives
// the defaults. A port outside 1-65535 throws EqorNFCeConfigException.
TqorImplantacao LerImplantacao(const std::string& arquivo, const std::string& logErro);

}  // namespace qor
