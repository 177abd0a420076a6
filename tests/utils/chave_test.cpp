// Access keys and check digits against values worked out from the standard's rules (modulus 11
// with weights 2..9 from the right, the IBGE municipality rule, the GS1 check digit), and QR-code
// links recomputed from the standard's recipe, hashed with an independent SHA-1 (sha1sum) and
// matched against the qrCode patterns of the official leiauteNFe_v4.00.xsd.
#include "utils/Chave.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <functional>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "utils/QRCode.h"
#include "utils/Textos.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

// dhEmi 2015-03-20T10:15:00-03:00, cUF 41, CNPJ 11222333000181, model 65, series 1, number 123,
// tpEmis 1, cNF 4567. Body sum with weights 2..9 from the right is 399; 399 mod 11 = 3; 11 - 3 = 8.
constexpr const char* kDhEmi = "2015-03-20T10:15:00-03:00";
constexpr const char* kCnpj = "11222333000181";
constexpr const char* kChave = "41150311222333000181650010000001231000045678";

TEST(Chave, CurrentLayoutPlacesEveryFieldAndTheModulus11Digit) {
  TempDir dir;
  const std::string chave =
      CalculaChave(kDhEmi, "41", kCnpj, "65", "1", "123", "1", "4567", dir.path());
  EXPECT_EQ(chave, kChave);
  // A date without time gives the same key; a one-digit cUF is filled, an empty series is 000.
  EXPECT_EQ(CalculaChave("2015-03-20", "41", kCnpj, "65", "1", "123", "1", "4567"), kChave);
  const std::string semSerie = CalculaChave(kDhEmi, "5", kCnpj, "65", "", "1", "1", "1");
  EXPECT_EQ(semSerie.substr(0, 2) + semSerie.substr(22, 3), "05000");
  // Remainders 1 (cNF 2) and 0 (cNF 7) both give the digit 0.
  EXPECT_EQ(CalculaChave(kDhEmi, "41", kCnpj, "65", "1", "123", "1", "2").back(), '0');
  EXPECT_EQ(CalculaChave(kDhEmi, "41", kCnpj, "65", "1", "123", "1", "7").back(), '0');
  EXPECT_EQ(DigVerificador(std::string(kChave).substr(0, 43), 9, true), "3");
  EXPECT_EQ(DigVerificador("", 9, false), "0");  // sum 0: remainder 0
  // Legacy layout: no tpEmis, cNF filled to 9; remainder 10 gives 1.
  EXPECT_EQ(CalculaChave("2015-03-20", "41", kCnpj, "65", "1", "123", "123456789"),
            "41150311222333000181650010000001231234567891");
  EXPECT_THROW(DigVerificador("12a4", 9, false), EqorGovException);
}

TEST(Chave, ChecksComeInTheirOrderWithTheirMessages) {
  TempDir dir;
  const std::string log = dir.path();
  // An empty CNPJ fails the integer test before anything else, an empty tpEmis its length test
  // before the required-fields test.
  const std::pair<std::function<void()>, std::string> casos[] = {
      {[&] { CalculaChave(kDhEmi, "", "", "", "", "", "", "", log); },
       "O campo CNPJ:  deve ser um número Inteiro"},
      {[&] { CalculaChave("x", "", kCnpj, "", "", "", "", "", log); },
       "O valor do tipo de emissão(tpEmis) \"\" é inesperado."},
      {[&] { CalculaChave(kDhEmi, "41", kCnpj, "65", "1", "1", "1", "123456789", log); },
       "O Código da nota(cNF) \"123456789\", excede o máximo de 8 dígitos (Manual 4.01)"},
      {[&] { CalculaChave("2015-3-20", "41", kCnpj, "65", "1", "1", "1", "1", log); },
       "2015-3-20 Data de Emissão no Formato inválido. Utilizar AAAA-MM-DD para versão "
       "manual 4.0ou AAAA-MM-DDThh:mm:ssTZD para versão manual 5.0"},
      {[&] { CalculaChave(kDhEmi, "", kCnpj, "65", "1", "", "1", "1", log); },
       "Os Campos: Código da UF Emitente =  \rCNPJ do Emitente = 11222333000181 \rCódigo do "
       "Modelo do Documento Fiscal = 65 \rNúmero da Nota Fiscal = \rTipo de emissão = "
       "1\rCódigo (controle do sistema) Nota Fiscal = 1\rsão campos obrigatórios para o "
       "cálculo do dígito verificador."},
      {[&] { CalculaChave(kDhEmi, "41", kCnpj, "65", "1", "1", "1"); },
       "2015-03-20T10:15:00-03:00 Data de Emissão no Formato inválido. Utilizar YYYY-MM-DD"},
      {[&] { CalculaChave("2015-03-20", "41", "12.3", "65", "1", "1", "1"); },
       "O campo CNPJ: 12.3 deve ser um número Inteiro"}};
  for (const auto& [chamada, mensagem] : casos)
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(chamada), mensagem);
  EXPECT_NE(test::ReadFile(dir / "nfce_exception.log").find("EqorNFCeCheckParamsException"),
            std::string::npos);
}

TEST(Chave, DecodeAndAuthenticity) {
  const TqorDecodeChaveNFCe c = DecodeChave(kChave, TVersaoManual::vm60);
  EXPECT_EQ(c.cUF + "|" + c.AAMM + "|" + c.CNPJ + "|" + c.mod + "|" + c.serie + "|" + c.nNF + "|" +
                c.tpEmis + "|" + c.cNF + "|" + c.cDV,
            "41|1503|11222333000181|65|001|000000123|1|00004567|8");
  EXPECT_TRUE(ValidaAutenticidadeDV(kChave, TVersaoManual::vm60));
  std::string alterada = kChave;
  alterada.back() = '9';
  EXPECT_FALSE(ValidaAutenticidadeDV(alterada, TVersaoManual::vm50b));
  TempDir dir;
  for (const std::string& errada : {std::string(kChave).substr(0, 43), std::string(kChave) + "1"}) {
    const std::string esperada =
        "A Chave da NFCe " + errada + " deve possuir exatamente 44 dígitos.";
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                  [&] { DecodeChave(errada, TVersaoManual::vm60, dir.path()); }),
              esperada);
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                  [&] { ValidaAutenticidadeDV(errada, TVersaoManual::vm60, dir.path()); }),
              esperada);
  }
}

TEST(Chave, StateCodes) {
  std::string codigos;
  for (const char* uf : {"sp", "AC", "TO", "AN", "XX", ""}) codigos += GetCodeUF(uf) + ",";
  EXPECT_EQ(codigos, "35,12,17,91,,,");
}

TEST(Chave, MunicipalityDigitAndItsNineExceptions) {
  // 4,1,0,6,9,0 weighted 1,2,1,2,1,2: 4+2+0+(12 -> 3)+9+0 = 18, digit 10 - 8 = 2.
  EXPECT_EQ(CalcDigVerificadorCodMunicipio("410690"), "2");
  EXPECT_TRUE(ValidaCodigoMunicipio("4106902"));
  EXPECT_FALSE(ValidaCodigoMunicipio("4106903"));
  EXPECT_TRUE(ValidaCodigoMunicipio("3550308"));
  EXPECT_TRUE(ValidaCodigoMunicipio("3304557"));
  EXPECT_EQ(CalcDigVerificadorCodMunicipio("520393"), "0");  // total 20: a multiple of 10
  EXPECT_FALSE(ValidaCodigoMunicipio(""));
  EXPECT_FALSE(ValidaCodigoMunicipio("41069022"));
  // Their digits by the rule would be 1, 6, 7, 1, 5, 9, 6, 0, 3.
  const char* excecoes[] = {"2201919", "2201988", "2202251", "2611533", "3117836",
                            "3152131", "4305871", "5203939", "5203962"};
  for (const std::string codigo : excecoes) {
    EXPECT_NE(CalcDigVerificadorCodMunicipio(codigo.substr(0, 6)), codigo.substr(6)) << codigo;
    EXPECT_TRUE(ValidaCodigoMunicipio(codigo)) << codigo;
  }
  EXPECT_THROW(ValidaCodigoMunicipio("41O6902"), EqorGovException);
}

TEST(Chave, GtinDigits) {
  for (const std::string gtin :
       {"96385074", "036000291452", "4006381333931", "00012345600012", "376104250021234569"}) {
    EXPECT_TRUE(ValidaEAN(gtin)) << gtin;
    std::string errado = gtin;
    errado.back() = errado.back() == '9' ? '0' : static_cast<char>(errado.back() + 1);
    EXPECT_FALSE(ValidaEAN(errado)) << errado;
  }
  EXPECT_TRUE(ValidaEAN(""));
  EXPECT_FALSE(ValidaEAN("00000000"));
  EXPECT_FALSE(ValidaEAN(std::string(18, '0')));
  EXPECT_FALSE(ValidaEAN("1234567895"));  // 10 digits
  EXPECT_THROW(ValidaEAN("40063813339X1"), EqorGovException);
}

TEST(Chave, ContingencyDataString) {
  // 35, tpEmis 9, CNPJ, vNF 1234.56 as 00000000123456, indicators 1 and 2, day 05: remainder 5.
  const std::string dados = CalculaDadosDaNFCe("35", "9", kCnpj, "123456", "1", "2", "05");
  EXPECT_EQ(dados, "359112223330001810000000012345612056");
  EXPECT_EQ(dados.size(), 36u);
  TempDir dir;
  EXPECT_EQ(MessageOf<EqorNFCeCheckTXT>(
                [&] { CalculaDadosDaNFCe("35", "9", "abc", "1", "1", "2", "05", dir.path()); }),
            "O campo CNPJ: abc deve ser um número Inteiro");
}

// ---- QR-code links

constexpr const char* kDhEmiQr = "2019-05-10T14:30:00-03:00";
constexpr const char* kDigest = "q1Bz3Wc6uVOAtFNZxb8xhQUXsCY=";  // 28 characters: 56 in hex
const std::string kHom = "https://hom.sefaz.exemplo.gov.br/nfce/qrcode";
const std::string kProd = "https://www.sefaz.exemplo.gov.br/nfce/qrcode";

std::string ChaveQr(char tpEmis) {
  return std::string("3519051122233300018165001000000042") + tpEmis + "000012340";
}

struct Nota {
  char tpEmis = '1';
  std::string tpAmb = "2";
  std::string dest = "<CPF>12345678909</CPF>";
  std::string Xml() const {
    return "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" +
           ChaveQr(tpEmis) + "\"><ide><cUF>35</cUF><dhEmi>" + kDhEmiQr + "</dhEmi><tpEmis>" +
           tpEmis + "</tpEmis><tpAmb>" + tpAmb + "</tpAmb></ide><emit><CNPJ>" + kCnpj +
           "</CNPJ></emit><dest>" + dest +
           "</dest><total><ICMSTot><vICMS>1.80</vICMS><vNF>1234.56</vNF></ICMSTot></total>"
           "</infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
           "<Reference URI=\"#NFe" +
           ChaveQr(tpEmis) + "\"><DigestValue>" + kDigest +
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
       "chNFe=" + ChaveQr('1') + v100 + "2&cDest=12345678909&dhEmi=" + Hex(kDhEmiQr) + valores +
           "&cIdToken=000007",
       "CSC-SECRETO"},
      // No identifier: 000001; an empty CSC stays empty in production.
      {"1.00 production without recipient", Nota{'1', "1", ""}, "", "", "200", TVersaoManual::vm50b,
       kProd + "?",
       "chNFe=" + ChaveQr('1') + v100 + "1&dhEmi=" + Hex(kDhEmiQr) + valores + "&cIdToken=000001",
       ""},
      // Identifier 000002 shown as 2.
      {"2.00 online homologation", Nota{}, "000002", "", "", TVersaoManual::vm60,
       kHom + "?p=", ChaveQr('1') + "|2|2|2", cscTeste},
      // Offline contingency: day, value and digest join the parameters; empty identifier as 1.
      {"2.00 offline production", Nota{'9', "1"}, "", "ABCDEF123456", "200", TVersaoManual::vm60,
       kProd + "?p=", ChaveQr('9') + "|2|1|10|1234.56|" + Hex(kDigest) + "|1", "ABCDEF123456"},
      // EPEC (tpEmis 4) takes the online form, which the layout admits for it.
      {"2.00 EPEC", Nota{'4'}, "3", "CSC", "", TVersaoManual::vm60,
       kHom + "?p=", ChaveQr('4') + "|2|2|3", "CSC"},
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
    TrataLinkQRCode(chave, "100", "", kCnpj, Hex(kDhEmiQr), "1.00", "0", digest, "2", kHom, "", "",
                    kProd, log);
  };
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { v1(ChaveQr('1'), "abc"); }),
            "Campo digestValue deve conter 56 caracteres para geração do QRCode.");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { v1(ChaveQr('1').substr(1), ""); }),
            "Campo chNFe deve conter 44 caracteres para geração do QRCode.");
  EXPECT_NO_THROW(v1(ChaveQr('1'), ""));  // no digest: no digest check
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] {
              TrataLinkQRCode200("", "2", "", kCnpj, kDhEmiQr, "1.00", "0", "", "2", kHom, "", "",
                                 kProd, "1", log);
            }),
            "Campo chNFe deve conter 44 caracteres para geração do QRCode.");

  // CSRT: 36 characters exactly; the hash is Base64 of SHA-1 of CSRT + key (openssl here).
  const std::string csrt(36, 'G');
  WriteFile(dir / "csrt.txt", csrt + ChaveQr('1'));
  std::string esperado;
  ASSERT_EQ(RunCommand("openssl dgst -sha1 -binary '" + dir / "csrt.txt" + "' | base64", &esperado),
            0);
  EXPECT_EQ(HashCSRT(ChaveQr('1'), csrt) + "\n", esperado);
  for (const std::string& errado : {std::string(35, 'G'), std::string(37, 'G'), std::string()}) {
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { HashCSRT(ChaveQr('1'), errado, log); }),
              "aCSRT inválida para gerar a HashCSRT.");
  }
}

TEST(QRCode, ComponentKeysAndLinksFromItsPrintParametersAndWrappedFailures) {
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

  // The key takes cNF before tpEmis and reports under its telemetry names.
  EXPECT_EQ(nfce.CalculaChaveNFCe(kDhEmi, "41", kCnpj, "65", "1", "123", "4567", "1"), kChave);
  EXPECT_THROW(nfce.CalculaChaveNFCe(kDhEmi, "41", kCnpj, "65", "1", "123", "4567", "12"),
               EqorNFCeCheckParamsException);
  const auto arquivos = ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(arquivos.size(), 1u);
  const std::string eventos = test::ReadFile(dir / "Log/diagnosticmode/nfce/" + arquivos[0]);
  EXPECT_NE(eventos.find("\"CalculaChaveNFCe\""), std::string::npos) << eventos;
  EXPECT_NE(eventos.find("\"CalculaChaveNCFe\""), std::string::npos) << eventos;
  EXPECT_NE(test::ReadFile(dir / "LogErro/nfce_exception.log").find("(tpEmis) \"12\""),
            std::string::npos);

  const std::string online = ChaveQr('1') + "|2|2|5";
  EXPECT_EQ(nfce.GetLinkQRCode(Nota{}.Xml()),
            kHom + "?p=" + online + "|" + Sha1(online + "MEUCSC"));
  // The model of the advanced parameters chooses version 1.00.
  nfce.GetDanfceSettings().SetParamsAvancados("textoLivre=x; ModeloQrCode=100");
  EXPECT_NE(nfce.GetLinkQRCode(Nota{}.Xml()).find("?chNFe=" + ChaveQr('1') + "&nVersao=100&"),
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
  EXPECT_EQ(nfce.CalcularHashCSRT(ChaveQr('1'), std::string(36, 'G')),
            HashCSRT(ChaveQr('1'), std::string(36, 'G')));
}

}  // namespace
}  // namespace qor
