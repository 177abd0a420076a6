// Text forms of the enumerations: every value both ways, and the refusals with their messages.
#include "utils/Conversoes.h"

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;

TEST(Conversoes, EveryValueRoundTripsThroughItsText) {
  const char* esquemas[] = {"pl_006n", "pl_006p", "pl_006q",  "pl_006r", "pl_007a", "pl_008a",
                            "pl_008b", "pl_008c", "pl_008d",  "pl_008e", "pl_008f", "pl_008g",
                            "pl_008h", "pl_008i", "pl_008i1", "pl_009",  "pl_009g"};
  for (int i = 0; i < 17; ++i) {
    const auto v = static_cast<TVersaoEsquema>(i);
    EXPECT_EQ(VersaoEsquemaToStr(v), esquemas[i]);
    EXPECT_EQ(StrToVersaoEsquema(esquemas[i]), v);
  }
  EXPECT_EQ(StrToVersaoEsquema("PL_009G"), TVersaoEsquema::pl_009g);

  const char* manuais[] = {"5.0", "5.0a", "5.0b", "6.0"};
  const char* sefaz[] = {"3.00", "3.10", "3.10", "4.00"};
  for (int i = 0; i < 4; ++i) {
    const auto v = static_cast<TVersaoManual>(i);
    EXPECT_EQ(VersaoManualToStr(v), manuais[i]);
    EXPECT_EQ(StrToVersaoManual(manuais[i]), v);
    EXPECT_EQ(VersaoManualToVersaoSefaz(v), sefaz[i]);
  }

  const char* certificados[] = {"MEMORY", "LOCALMACHINE", "FILE", "ACTIVEDIRECTORY", "SMARTCARD"};
  for (int i = 0; i < 5; ++i) {
    const auto v = static_cast<TCertificadoKind>(i);
    EXPECT_EQ(TipoCertificadoToString(v), certificados[i]);
    EXPECT_EQ(StrToTipoCertificado(certificados[i]), v);
  }
  EXPECT_EQ(StrToTipoCertificado("smartcard"), TCertificadoKind::ckSmartCard);
  EXPECT_EQ(StrToTipoCertificado(""), TCertificadoKind::ckFile);
  EXPECT_EQ(StrToTipoCertificado("CURRENT_USER_STORE"), TCertificadoKind::ckFile);

  EXPECT_EQ(FormatoDanfceToStr(TFormatoDanfce::fdNormal), "NORMAL");
  EXPECT_EQ(FormatoDanfceToStr(TFormatoDanfce::fdMensagemEletronica), "MENSAGEMELETRONICA");
  EXPECT_EQ(StrToFormatoDanfce("MensagemEletronica"), TFormatoDanfce::fdMensagemEletronica);

  EXPECT_EQ(GetTipoAmbiente(TAmbienteKind::akProducao), "1");
  EXPECT_EQ(GetTipoAmbiente(TAmbienteKind::akHomologacao), "2");
  const char* autores[] = {"1", "2", "3", "5", "6", "9"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(GetTipoAutor(static_cast<TTipoAutor>(i)), autores[i]);
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
  int aceitos = 0;
  for (int orgao = 0; orgao <= 100; ++orgao) aceitos += ValidaOrgao(orgao) ? 1 : 0;
  EXPECT_EQ(aceitos, 7 + 9 + 3 + 1 + 3 + 4 + 2);
  for (int orgao : {11, 17, 21, 29, 31, 33, 35, 41, 43, 50, 53, 90, 91}) {
    EXPECT_TRUE(ValidaOrgao(orgao)) << orgao;
  }
  for (int orgao : {10, 18, 20, 30, 34, 36, 40, 44, 49, 54, 89, 92}) {
    EXPECT_FALSE(ValidaOrgao(orgao)) << orgao;
  }
}

}  // namespace
}  // namespace qor
