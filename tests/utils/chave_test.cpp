// Access keys and check digits against values worked out from the standard's rules (modulus 11
// with weights 2..9 from the right, the IBGE municipality rule, the GS1 check digit).
#include "utils/Chave.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

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
  const TqorDecodeChaveNFCe campos = DecodeChave(kChave, TVersaoManual::vm60);
  EXPECT_EQ(campos.cUF, "41");
  EXPECT_EQ(campos.AAMM, "1503");
  EXPECT_EQ(campos.CNPJ, kCnpj);
  EXPECT_EQ(campos.mod, "65");
  EXPECT_EQ(campos.serie, "001");
  EXPECT_EQ(campos.nNF, "000000123");
  EXPECT_EQ(campos.tpEmis, "1");
  EXPECT_EQ(campos.cNF, "00004567");
  EXPECT_EQ(campos.cDV, "8");
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
  EXPECT_EQ(GetCodeUF("sp"), "35");
  EXPECT_EQ(GetCodeUF("AC"), "12");
  EXPECT_EQ(GetCodeUF("TO"), "17");
  EXPECT_EQ(GetCodeUF("AN"), "91");
  EXPECT_EQ(GetCodeUF("XX"), "");
  EXPECT_EQ(GetCodeUF(""), "");
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

TEST(Chave, ComponentTakesCnfBeforeTpEmisAndReportsUnderItsTelemetryNames) {
  TempDir dir;
  TqorNFCe nfce;
  nfce.SetDiretorioLogErro(dir / "LogErro/");
  nfce.SetDiretorioLog(dir / "Log/");
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
}

}  // namespace
}  // namespace qor
