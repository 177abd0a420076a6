// Text forms of the enumerations: every value both ways, and the refusals with their messages.
#include "utils/Conversoes.h"

#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "platform/Text.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;

TEST(Conversoes, EveryValueRoundTripsThroughItsText) {
  for (int i = 0; i <= static_cast<int>(TVersaoEsquema::pl_009g); ++i) {
    const auto v = static_cast<TVersaoEsquema>(i);
    EXPECT_EQ(StrToVersaoEsquema(VersaoEsquemaToStr(v)), v) << VersaoEsquemaToStr(v);
  }
  EXPECT_EQ(VersaoEsquemaToStr(TVersaoEsquema::pl_008i1), "pl_008i1");
  EXPECT_EQ(StrToVersaoEsquema("PL_009G"), TVersaoEsquema::pl_009g);

  const char* manuais[] = {"5.0", "5.0a", "5.0b", "6.0"};
  const char* sefaz[] = {"3.00", "3.10", "3.10", "4.00"};
  for (int i = 0; i < 4; ++i) {
    const auto v = static_cast<TVersaoManual>(i);
    EXPECT_EQ(VersaoManualToStr(v), manuais[i]);
    EXPECT_EQ(StrToVersaoManual(manuais[i]), v);
    EXPECT_EQ(VersaoManualToVersaoSefaz(v), sefaz[i]);
  }
  for (int i = 0; i < 5; ++i) {
    const auto v = static_cast<TCertificadoKind>(i);
    EXPECT_EQ(StrToTipoCertificado(LowerCase(TipoCertificadoToString(v))), v);
  }
  EXPECT_EQ(TipoCertificadoToString(TCertificadoKind::ckActiveDiretory), "ACTIVEDIRECTORY");
  EXPECT_EQ(StrToTipoCertificado(""), TCertificadoKind::ckFile);
  EXPECT_EQ(StrToTipoCertificado("CURRENT_USER_STORE"), TCertificadoKind::ckFile);
  EXPECT_EQ(FormatoDanfceToStr(TFormatoDanfce::fdMensagemEletronica), "MENSAGEMELETRONICA");
  EXPECT_EQ(StrToFormatoDanfce("Normal"), TFormatoDanfce::fdNormal);
  EXPECT_EQ(GetTipoAmbiente(TAmbienteKind::akProducao), "1");
  EXPECT_EQ(GetTipoAmbiente(TAmbienteKind::akHomologacao), "2");
  std::string autores;
  for (int i = 0; i < 6; ++i) autores += GetTipoAutor(static_cast<TTipoAutor>(i));
  EXPECT_EQ(autores, "123569");
}

TEST(Conversoes, UnknownTextsAreRefusedWithTheirMessages) {
  test::TempDir dir;
  EXPECT_EQ(
      MessageOf<EqorNFCeVersaoManualException>([&] { StrToVersaoManual("vm60", dir.path()); }),
      "Versão do Manual informada: vm60 não é suportada. \rUtilize: 5.0, 5.0a, 5.0b ou 6.0");
  EXPECT_EQ(
      MessageOf<EqorNFCeFormatoDanfceInvalidoException>(
          [&] { StrToFormatoDanfce("A4", dir.path()); }),
      "Formato Danfce informado: A4 não é suportado. \rUtilize: NORMAL ou MENSAGEMELETRONICA");
  EXPECT_EQ(MessageOf<EqorNFCeVersaoEsquemaInvalidaException>(
                [&] { StrToVersaoEsquema("pl_010", dir.path()); }),
            "Versão de Esquema informado: pl_010 não é suportada. \rUtilize: pl_006n, pl_006p, "
            "pl_006q,pl_006r, pl_007a, pl_008a, pl_008b, pl_008c, pl_008d, pl_008e, pl_008f, "
            "pl_008g, pl_008h, pl_008i, pl_008i1, pl_009, pl_009g");
  // Each class logs where it belongs: the schema version is a dataset exception.
  EXPECT_NE(test::ReadFile(dir / "nfce_exception.log").find("EqorNFCeVersaoManualException"),
            std::string::npos);
  EXPECT_NE(test::ReadFile(dir / "nfceDataSets_exception.log")
                .find("EqorNFCeVersaoEsquemaInvalidaException"),
            std::string::npos);
}

TEST(Conversoes, ValidaOrgaoAcceptsTheStateCodesAndTheNationalBodies) {
  std::string aceitos;
  for (int orgao = 0; orgao <= 100; ++orgao) {
    if (ValidaOrgao(orgao)) aceitos += std::to_string(orgao) + " ";
  }
  EXPECT_EQ(aceitos,
            "11 12 13 14 15 16 17 21 22 23 24 25 26 27 28 29 31 32 33 35 41 42 43 50 51 52 53 "
            "90 91 ");
}

}  // namespace
}  // namespace qor
