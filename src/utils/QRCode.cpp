#include "utils/QRCode.h"

#include <ctime>

#include "base/Exceptions.h"
#include "platform/Clock.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Notas.h"
#include "utils/Numeros.h"
#include "utils/Textos.h"

namespace qor {

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The CSC the hash is computed with: the configured one or, in homologation, the default test
// CSC. Production never invents one.
std::string CscEfetivo(const std::string& token, const std::string& tpAmb,
                       const std::string& cnpjEmitente) {
  if (token.empty() && tpAmb == "2") return GerarTokenHomologacao(cnpjEmitente);
  return token;
}

std::string Hash(const std::string& entrada, const std::string& logDir) {
  const std::string hash = HashSha1(entrada);
  CheckCount("cHashQRCode", hash, 40, logDir);
  return hash;
}

}  // namespace

std::string getPontoDecimal(const std::string& valor) {
  if (valor.find(',') == std::string::npos) return valor;
  std::string out;
  for (char c : valor) {
    if (c == '.') continue;
    out.push_back(c == ',' ? '.' : c);
  }
  return out;
}

void CheckCount(const std::string& nome, const std::string& valor, int tamanho,
                const std::string& logDir) {
  if (Utf8Length(valor) != static_cast<std::size_t>(tamanho)) {
    throw EqorNFCeCheckParamsException("Campo %s deve conter %d caracteres para geração do QRCode.",
                                       {nome, tamanho}, logDir);
  }
}

std::string tratarUrlSefaz(const std::string& url) {
  if (url.find('?') == std::string::npos) return url + "?";
  if (EndsWith(url, "?") || EndsWith(url, "&")) return url;
  return url + "&";
}

std::string tratarUrlSefaz200(const std::string& url) {
  if (EndsText("?p=", url)) return url;
  if (url.find('?') == std::string::npos) return url + "?p=";
  if (EndsWith(url, "?") || EndsWith(url, "&")) return url + "p=";
  return url + "&p=";
}

std::string GerarTokenHomologacao(const std::string& cnpjEmitente) {
  return Utf8Substr(cnpjEmitente, 0, 8) + std::to_string(NowLocal().tm.tm_year + 1900) +
         kSufixoCscHomologacao;
}

std::string TrataLinkQRCode(const std::string& chNFe, const std::string& nVersao,
                            const std::string& cDest, const std::string& cnpjEmitente,
                            const std::string& dhEmiHex, const std::string& vNF,
                            const std::string& vICMS, const std::string& digValHex,
                            const std::string& tpAmb, const std::string& urlHomologacao,
                            const std::string& idToken, const std::string& token,
                            const std::string& urlProducao, const std::string& logDir) {
  if (!digValHex.empty()) CheckCount("digestValue", digValHex, 56, logDir);
  CheckCount("chNFe", chNFe, 44, logDir);
  CheckCount("nVersao", nVersao, 3, logDir);
  CheckCount("tpAmb", tpAmb, 1, logDir);
  const std::string identificador = idToken.empty() ? "000001" : idToken;
  const auto parametros = [&](const std::string& cIdToken) {
    if (!cDest.empty()) {
      return Format(
          "chNFe=%s&nVersao=%s&tpAmb=%s&cDest=%s&dhEmi=%s&vNF=%s&vICMS=%s&digVal=%s&cIdToken=%s",
          {chNFe, nVersao, tpAmb, cDest, dhEmiHex, getPontoDecimal(vNF), getPontoDecimal(vICMS),
           digValHex, cIdToken});
    }
    return Format("chNFe=%s&nVersao=%s&tpAmb=%s&dhEmi=%s&vNF=%s&vICMS=%s&digVal=%s&cIdToken=%s",
                  {chNFe, nVersao, tpAmb, dhEmiHex, getPontoDecimal(vNF), getPontoDecimal(vICMS),
                   digValHex, cIdToken});
  };
  const std::string hash =
      Hash(parametros(identificador + CscEfetivo(token, tpAmb, cnpjEmitente)), logDir);
  const std::string base = tratarUrlSefaz(tpAmb == "2" ? urlHomologacao : urlProducao);
  return Format("%s%s&cHashQRCode=%s", {base, parametros(identificador), hash});
}

std::string TrataLinkQRCode200(const std::string& chNFe, const std::string& nVersao,
                               const std::string& /*cDest*/, const std::string& cnpjEmitente,
                               const std::string& dhEmi, const std::string& vNF,
                               const std::string& /*vICMS*/, const std::string& digValHex,
                               const std::string& tpAmb, const std::string& urlHomologacao,
                               const std::string& idToken, const std::string& token,
                               const std::string& urlProducao, const std::string& tpEmis,
                               const std::string& logDir) {
  CheckCount("chNFe", chNFe, 44, logDir);
  const std::string identificador =
      idToken.empty() ? std::string("1") : std::to_string(StrToIntDef(Trim(idToken), 0));
  const auto parametros = [&](const std::string& cIdToken) {
    if (tpEmis == "9") {
      return Format("%s|%s|%s|%s|%s|%s|%s", {chNFe, nVersao, tpAmb, Utf8Substr(dhEmi, 8, 2),
                                             getPontoDecimal(vNF), digValHex, cIdToken});
    }
    return Format("%s|%s|%s|%s", {chNFe, nVersao, tpAmb, cIdToken});
  };
  const std::string hash =
      Hash(parametros(identificador + CscEfetivo(token, tpAmb, cnpjEmitente)), logDir);
  const std::string base = tratarUrlSefaz200(tpAmb == "2" ? urlHomologacao : urlProducao);
  return Format("%s%s|%s", {base, parametros(identificador), hash});
}

std::string ObterModeloQrCode(const std::string& paramsAvancados) {
  const std::string modelo = Trim(ParametroAvancado(paramsAvancados, "ModeloQrCode"));
  if (!modelo.empty()) return modelo;
  const std::string arquivo = DataDir() + "qrcode.ini";
  const std::shared_ptr<const std::string> texto = SharedFileText(arquivo);
  if (!texto) return {};
  return Trim(TIniFile::FromText(*texto)->ReadString("modeloqrcode", "modelo", ""));
}

TCamposQRCode LerCamposQRCode(const XmlDocument& nota) {
  std::vector<std::string> v = nota.ValuesInside({{{"dest", "CNPJ"}, true},
                                                  {{"dest", "CPF"}, true},
                                                  {{"dest", "idEstrangeiro"}, true},
                                                  {{"emit", "CNPJ"}, true},
                                                  {{"ide", "dhEmi"}, true},
                                                  {{"total", "vNF"}, false},
                                                  {{"total", "vICMS"}, false},
                                                  {{"Signature", "SignedInfo", "Reference",
                                                    "DigestValue"},
                                                   false},
                                                  {{"ide", "tpAmb"}, true},
                                                  {{"tpEmis"}, false}});
  TCamposQRCode campos;
  campos.chave = getIDNotaXPath(nota);
  campos.destinatario = std::move(!v[0].empty() ? v[0] : !v[1].empty() ? v[1] : v[2]);
  campos.cnpjEmitente = std::move(v[3]);
  campos.dhEmi = std::move(v[4]);
  campos.vNF = std::move(v[5]);
  campos.vICMS = std::move(v[6]);
  campos.digestValue = std::move(v[7]);
  campos.tpAmb = std::move(v[8]);
  campos.tpEmis = std::move(v[9]);
  return campos;
}

std::string MontaLinkQRCode(const TCamposQRCode& campos, const TStrings& parametros,
                            const std::string& modelo, TVersaoManual versao,
                            const std::string& logDir) {
  const std::string prod = parametros.Values("URLSefazProd");
  const std::string hom = parametros.Values("URLSefazHom");
  const std::string idToken = parametros.Values("IdTokenNFCe");
  const std::string token = parametros.Values("TokenNFCe");
  const TCamposQRCode& c = campos;
  if (modelo != "100" && versao == TVersaoManual::vm60) {
    return TrataLinkQRCode200(c.chave, "2", c.destinatario, c.cnpjEmitente, c.dhEmi, c.vNF, c.vICMS,
                              StrToHex(c.digestValue), c.tpAmb, hom, idToken, token, prod, c.tpEmis,
                              logDir);
  }
  return TrataLinkQRCode(c.chave, "100", c.destinatario, c.cnpjEmitente, StrToHex(c.dhEmi), c.vNF,
                         c.vICMS, StrToHex(c.digestValue), c.tpAmb, hom, idToken, token, prod,
                         logDir);
}

std::string MontaLinkQRCode(const std::string& xml, const TStrings& parametros,
                            const std::string& modelo, TVersaoManual versao,
                            const std::string& logDir) {
  return MontaLinkQRCode(LerCamposQRCode(XmlDocument::Parse(xml)), parametros, modelo, versao,
                         logDir);
}

std::string HashCSRT(const std::string& chave, const std::string& csrt, const std::string& logDir) {
  if (csrt.empty() || Utf8Length(csrt) != 36) {
    throw EqorNFCeCheckParamsException("aCSRT inválida para gerar a HashCSRT.", logDir);
  }
  return HashSha1Base64(csrt + chave);
}

}  // namespace qor
