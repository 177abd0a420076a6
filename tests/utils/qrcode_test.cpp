// QR-code links recomputed from the standard's recipe, hashed with an independent SHA-1
// (sha1sum) and matched against the qrCode patterns of the official leiauteNFe_v4.00.xsd.
#include "utils/QRCode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ctime>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "utils/Textos.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

constexpr const char* kCnpj = "11222333000181";
constexpr const char* kDhEmi = "2019-05-10T14:30:00-03:00";
constexpr const char* kDigest = "q1Bz3Wc6uVOAtFNZxb8xhQUXsCY=";  // 28 characters: 56 in hex
const std::string kHom = "https://hom.sefaz.exemplo.gov.br/nfce/qrcode";
const std::string kProd = "https://www.sefaz.exemplo.gov.br/nfce/qrcode";

std::string Chave(char tpEmis) {
  return std::string("3519051122233300018165001000000042") + tpEmis + "000012340";
}

struct Nota {
  char tpEmis = '1';
  std::string tpAmb = "2";
  std::string dest = "<CPF>12345678909</CPF>";
  std::string Xml() const {
    return "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" +
           Chave(tpEmis) + "\"><ide><cUF>35</cUF><dhEmi>" + kDhEmi + "</dhEmi><tpEmis>" + tpEmis +
           "</tpEmis><tpAmb>" + tpAmb + "</tpAmb></ide><emit><CNPJ>" + kCnpj +
           "</CNPJ></emit><dest>" + dest +
           "</dest><total><ICMSTot><vICMS>1.80</vICMS><vNF>1234.56</vNF></ICMSTot></total>"
           "</infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
           "<Reference URI=\"#NFe" +
           Chave(tpEmis) + "\"><DigestValue>" + kDigest +
           "</DigestValue></Reference></SignedInfo></Signature></NFe>";
  }
};

// SHA-1 of `text` by sha1sum, in upper case.
std::string Sha1(const std::string& text) {
  TempDir dir;
  WriteFile(dir / "in.txt", text);
  std::string out;
  EXPECT_EQ(RunCommand("sha1sum '" + dir / "in.txt" + "'", &out), 0);
  std::string hex = out.substr(0, 40);
  for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return hex;
}

std::string Hex(const std::string& ascii) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : ascii) hex += std::string{digits[c >> 4], digits[c & 15]};
  return hex;
}

// Whether `link` matches one of the qrCode patterns of the official layout, checked by xmllint
// against a schema that holds those patterns as the official file writes them.
bool MatchesOfficialPattern(const std::string& link) {
  const std::string xsd = ReadFile(test::SchemasFolder() + "/leiauteNFe_v4.00.xsd");
  const std::size_t element = xsd.find("name=\"qrCode\"");
  const std::size_t end = xsd.find("</xs:restriction>", element);
  EXPECT_NE(element, std::string::npos);
  std::string patterns;
  for (std::size_t p = xsd.find("<xs:pattern", element); p < end;
       p = xsd.find("<xs:pattern", p + 1)) {
    patterns += xsd.substr(p, xsd.find("/>", p) + 2 - p);
  }
  EXPECT_FALSE(patterns.empty());
  const std::string padroes = test::WriteScratch(
      "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"qrCode\">"
      "<xs:simpleType><xs:restriction base=\"xs:string\">" +
      patterns + "</xs:restriction></xs:simpleType></xs:element></xs:schema>");
  return test::SchemaError("<qrCode>" + Escape(link) + "</qrCode>", padroes).empty();
}

TStrings Parametros(const std::string& id, const std::string& csc) {
  TStrings p;
  p.Add("URLSefazProd=" + kProd);
  p.Add("URLSefazHom=" + kHom + "?");
  p.Add("IdTokenNFCe=" + id);
  p.Add("TokenNFCe=" + csc);
  return p;
}

TEST(QRCode, LinksOfEachVersionEmissionTypeAndEnvironment) {
  QOR_NEEDS_SCHEMAS();
  // With no CSC, homologation uses the default test CSC.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string cscTeste =
      std::string("11222333") + std::to_string(local.tm_year + 1900) + kSufixoCscHomologacao;
  EXPECT_EQ(GerarTokenHomologacao(kCnpj), cscTeste);
  EXPECT_EQ(cscTeste.size(), 16u);

  const std::string v100 = "&nVersao=100&tpAmb=";
  const std::string valores = "&vNF=1234.56&vICMS=1.80&digVal=" + Hex(kDigest);
  struct Row {
    const char* name;
    Nota nota;
    std::string id, csc, modelo;
    TVersaoManual versao;
    std::string address, parameters, hashedCsc;
  };
  const Row rows[] = {
      // The homologation address already ends its (empty) query part with "?".
      {"1.00 homologation with recipient", Nota{}, "000007", "CSC-SECRETO", "100",
       TVersaoManual::vm60, kHom + "?",
       "chNFe=" + Chave('1') + v100 + "2&cDest=12345678909&dhEmi=" + Hex(kDhEmi) + valores +
           "&cIdToken=000007",
       "CSC-SECRETO"},
      // No identifier: 000001; an empty CSC stays empty in production.
      {"1.00 production without recipient", Nota{'1', "1", ""}, "", "", "200", TVersaoManual::vm50b,
       kProd + "?",
       "chNFe=" + Chave('1') + v100 + "1&dhEmi=" + Hex(kDhEmi) + valores + "&cIdToken=000001", ""},
      // Identifier 000002 shown as 2.
      {"2.00 online homologation", Nota{}, "000002", "", "", TVersaoManual::vm60,
       kHom + "?p=", Chave('1') + "|2|2|2", cscTeste},
      // Offline contingency: day, value and digest join the parameters; empty identifier as 1.
      {"2.00 offline production", Nota{'9', "1"}, "", "ABCDEF123456", "200", TVersaoManual::vm60,
       kProd + "?p=", Chave('9') + "|2|1|10|1234.56|" + Hex(kDigest) + "|1", "ABCDEF123456"},
      // EPEC (tpEmis 4) takes the online form, which the layout admits for it.
      {"2.00 EPEC", Nota{'4'}, "3", "CSC", "", TVersaoManual::vm60,
       kHom + "?p=", Chave('4') + "|2|2|3", "CSC"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string link =
        MontaLinkQRCode(row.nota.Xml(), Parametros(row.id, row.csc), row.modelo, row.versao);
    const std::string hash = row.address.ends_with("?p=") ? "|" : "&cHashQRCode=";
    EXPECT_EQ(link, row.address + row.parameters + hash + Sha1(row.parameters + row.hashedCsc));
    EXPECT_TRUE(MatchesOfficialPattern(link)) << link;
  }
  // An address already ending in "?p=" is used as it is: doubling it would break the link.
  EXPECT_FALSE(MatchesOfficialPattern(kHom + "?p=p=" + rows[2].parameters + "|" +
                                      Sha1(rows[2].parameters + cscTeste)));
}

TEST(QRCode, AddressesValuesAndChecks) {
  EXPECT_EQ(tratarUrlSefaz("https://x/qr"), "https://x/qr?");
  EXPECT_EQ(tratarUrlSefaz("https://x/qr?"), "https://x/qr?");
  EXPECT_EQ(tratarUrlSefaz("https://x/qr?uf=SP"), "https://x/qr?uf=SP&");
  EXPECT_EQ(tratarUrlSefaz200("https://x/qr"), "https://x/qr?p=");
  EXPECT_EQ(tratarUrlSefaz200("https://x/qr?"), "https://x/qr?p=");
  EXPECT_EQ(tratarUrlSefaz200("https://x/qr?P="), "https://x/qr?P=");
  EXPECT_EQ(tratarUrlSefaz200("https://x/qr?uf=SP"), "https://x/qr?uf=SP&p=");
  EXPECT_EQ(getPontoDecimal("1.234,56"), "1234.56");
  EXPECT_EQ(getPontoDecimal("1234.56"), "1234.56");
  EXPECT_EQ(getPontoDecimal("10,5"), "10.5");
  EXPECT_EQ(StrToHex("2019-05"), "323031392d3035");
  EXPECT_EQ(StrToHex("ç€"), "e780");  // the code page's bytes

  TempDir dir;
  const std::string log = dir.path();
  const auto v1 = [&](const std::string& chave, const std::string& digest) {
    TrataLinkQRCode(chave, "100", "", kCnpj, Hex(kDhEmi), "1.00", "0", digest, "2", kHom, "", "",
                    kProd, log);
  };
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { v1(Chave('1'), "abc"); }),
            "Campo digestValue deve conter 56 caracteres para geração do QRCode.");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { v1(Chave('1').substr(1), ""); }),
            "Campo chNFe deve conter 44 caracteres para geração do QRCode.");
  EXPECT_NO_THROW(v1(Chave('1'), ""));  // no digest: no digest check
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] {
              TrataLinkQRCode200("", "2", "", kCnpj, kDhEmi, "1.00", "0", "", "2", kHom, "", "",
                                 kProd, "1", log);
            }),
            "Campo chNFe deve conter 44 caracteres para geração do QRCode.");

  // CSRT: 36 characters exactly; the hash is Base64 of SHA-1 of CSRT + key (openssl here).
  const std::string csrt(36, 'G');
  WriteFile(dir / "csrt.txt", csrt + Chave('1'));
  std::string esperado;
  ASSERT_EQ(RunCommand("openssl dgst -sha1 -binary '" + dir / "csrt.txt" + "' | base64", &esperado),
            0);
  EXPECT_EQ(HashCSRT(Chave('1'), csrt) + "\n", esperado);
  for (const std::string& errado : {std::string(35, 'G'), std::string(37, 'G'), std::string()}) {
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { HashCSRT(Chave('1'), errado, log); }),
              "aCSRT inválida para gerar a HashCSRT.");
  }
}

TEST(QRCode, ComponentReadsItsPrintParametersAndWrapsFailures) {
  TempDir dir;
  WriteFile(dir / "hom.ini", "[SP_6.0]\nURLQRCODE=" + kHom + "\n");
  WriteFile(dir / "prod.ini", "[SP]\nURLQRCODE=" + kProd + "\n");
  TqorNFCe nfce;
  nfce.SetDiretorioLogErro(dir / "LogErro/");
  nfce.SetDiretorioLog(dir / "Log/");
  nfce.SetUF("SP");
  nfce.SetArquivoServidoresHom(dir / "hom.ini");
  nfce.SetArquivoServidoresProd(dir / "prod.ini");
  nfce.GetDanfceSettings().SetIdTokenNFCe("000005");
  nfce.GetDanfceSettings().SetTokenNFCe("MEUCSC");

  const std::string online = Chave('1') + "|2|2|5";
  EXPECT_EQ(nfce.GetLinkQRCode(Nota{}.Xml()),
            kHom + "?p=" + online + "|" + Sha1(online + "MEUCSC"));
  // The model of the advanced parameters chooses version 1.00.
  nfce.GetDanfceSettings().SetParamsAvancados("textoLivre=x; ModeloQrCode=100");
  EXPECT_NE(nfce.GetLinkQRCode(Nota{}.Xml()).find("?chNFe=" + Chave('1') + "&nVersao=100&"),
            std::string::npos);
  // Without one, the model of qrcode.ini beside the executable (installed with 200).
  EXPECT_EQ(ObterModeloQrCode(""), "200");
  EXPECT_EQ(ObterModeloQrCode("a=1;modeloqrcode=100"), "100");

  EXPECT_EQ(MessageOf<EqorNFCeGetLinkQRCodeException>([&] { nfce.GetLinkQRCode(" "); }),
            "Arquivo xml informado vazio");
  const std::string semId = "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe/></NFe>";
  EXPECT_EQ(MessageOf<EqorNFCeGetLinkQRCodeException>([&] { nfce.GetLinkQRCode(semId); }),
            "Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: Campo chNFe "
            "deve conter 44 caracteres para geração do QRCode.");
  EXPECT_EQ(MessageOf<EqorNFCeGetLinkQRCodeException>([&] {
              nfce.GetLinkQRCode("<NFe>");
            }).rfind("Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: ", 0),
            0u);
  EXPECT_EQ(nfce.CalcularHashCSRT(Chave('1'), std::string(36, 'G')),
            HashCSRT(Chave('1'), std::string(36, 'G')));
}

}  // namespace
}  // namespace qor
