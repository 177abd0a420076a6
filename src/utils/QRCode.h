// The consumer's consult link of an NFC-e (the text of its QR code) in the two forms of the
// standard, and the technical-responsible hash (CSRT).
//
// Version 1.00 (manual versions before 6.0, or model "100"): the address, then
// "chNFe=...&nVersao=100&tpAmb=...[&cDest=...]&dhEmi=<hex>&vNF=...&vICMS=...&digVal=<hex>
// &cIdToken=<6 digits>&cHashQRCode=<hash>".
// Version 2.00: the address ending in "?p=", then "chave|2|tpAmb|cIdToken|hash" for a note
// issued online, or "chave|2|tpAmb|dia|vNF|digVal<hex>|cIdToken|hash" for one issued in offline
// contingency (tpEmis 9). Every emission type other than 9 uses the online form: only the offline
// contingency carries day, value and digest, and the standard defines no third form.
// The hash is the SHA-1, in 40 upper-case hexadecimal digits, of the parameter text with the
// CSC written right after the identifier.
//
// Failures raise EqorNFCeCheckParamsException logged in `logDir` (the component's
// DiretorioLogErro; empty means the executable's folder).
//
// Thread-safe: pure functions (GerarTokenHomologacao reads the clock, ObterModeloQrCode a file).
#pragma once

#include <string>

#include "base/Types.h"
#include "platform/TStrings.h"
#include "platform/Xml.h"

namespace qor {

// The fixed last four digits of the default homologation CSC.
constexpr const char* kSufixoCscHomologacao = "0000";

// "1.234,56" -> "1234.56": with a comma, every "." is dropped and every "," becomes ".". A value
// without a comma is returned as it is.
std::string getPontoDecimal(const std::string& valor);
// Raises "Campo %s deve conter %d caracteres para geração do QRCode." when `valor` does not have
// exactly `tamanho` characters.
void CheckCount(const std::string& nome, const std::string& valor, int tamanho,
                const std::string& logDir = {});

// The base address of a version 1.00 link: "?" appended to an address without a query part; an
// address that already has parameters gets "&" so that the link's own parameters stay apart;
// one ending in "?" or "&" is used as it is.
std::string tratarUrlSefaz(const std::string& url);
// The base address of a version 2.00 link, ending in "?p=": "?p=" appended to an address without
// a query part, "p=" to one ending in "?" or "&", "&p=" to one with parameters of its own; an
// address already ending in "?p=" (any case) is used as it is.
std::string tratarUrlSefaz200(const std::string& url);
// The CSC used in homologation when none is configured: the first 8 characters of the issuer's
// CNPJ, the current year (4 digits) and kSufixoCscHomologacao.
std::string GerarTokenHomologacao(const std::string& cnpjEmitente);

// The version 1.00 link. `dhEmiHex` and `digValHex` are already in hexadecimal (StrToHex).
// Checks: digVal (when given) 56 characters, chNFe 44, nVersao 3, tpAmb 1, and the hash 40.
std::string TrataLinkQRCode(const std::string& chNFe, const std::string& nVersao,
                            const std::string& cDest, const std::string& cnpjEmitente,
                            const std::string& dhEmiHex, const std::string& vNF,
                            const std::string& vICMS, const std::string& digValHex,
                            const std::string& tpAmb, const std::string& urlHomologacao,
                            const std::string& idToken, const std::string& token,
                            const std::string& urlProducao, const std::string& logDir = {});
// The version 2.00 link. `dhEmi` is the plain text (its characters 9-10 are the day);
// `cDest` and `vICMS` are not part of this version. Checks: chNFe 44 and the hash 40.
std::string TrataLinkQRCode200(const std::string& chNFe, const std::string& nVersao,
                               const std::string& cDest, const std::string& cnpjEmitente,
                               const std::string& dhEmi, const std::string& vNF,
                               const std::string& vICMS, const std::string& digValHex,
                               const std::string& tpAmb, const std::string& urlHomologacao,
                               const std::string& idToken, const std::string& token,
                               const std::string& urlProducao, const std::string& tpEmis,
                               const std::string& logDir = {});

// The QR model: "ModeloQrCode" of the ";"-separated name=value pairs `paramsAvancados`, or, when
// that is empty, key "modelo" of section "modeloqrcode" of "qrcode.ini" beside the executable.
std::string ObterModeloQrCode(const std::string& paramsAvancados);
// The values of a note the QR-code link is made of.
struct TCamposQRCode {
  std::string chave;         // of the infNFe Id, without its prefix
  std::string destinatario;  // the recipient's CNPJ, CPF or idEstrangeiro
  std::string cnpjEmitente, dhEmi, vNF, vICMS, tpAmb, tpEmis;
  std::string digestValue;  // of the note's signature
};
// The values read from a parsed note (vNF and vICMS of the totals; the signature's DigestValue,
// empty in a note not signed yet).
TCamposQRCode LerCamposQRCode(const XmlDocument& nota);

// The link of a signed note made of `campos`, with the addresses and CSC of the print parameter
// list `parametros` ("URLSefazProd", "URLSefazHom", "IdTokenNFCe", "TokenNFCe"). Version 2.00
// when `modelo` is not "100" and `versao` is vm60, else version 1.00.
std::string MontaLinkQRCode(const TCamposQRCode& campos, const TStrings& parametros,
                            const std::string& modelo, TVersaoManual versao,
                            const std::string& logDir = {});
// The same with the values read from one parse of `xml`. A text that is not XML raises the
// services layer's EqorGovException.
std::string MontaLinkQRCode(const std::string& xml, const TStrings& parametros,
                            const std::string& modelo, TVersaoManual versao,
                            const std::string& logDir = {});

// Base64 of the SHA-1 of the CSRT followed by the key; a CSRT of other than 36 characters (or
// empty) raises "aCSRT inválida para gerar a HashCSRT.".
std::string HashCSRT(const std::string& chave, const std::string& csrt,
                     const std::string& logDir = {});

}  // namespace qor
