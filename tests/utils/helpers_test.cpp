// Dates, numbers, texts and note helpers of the fiscal utilities, and the text forms of the
// enumerations (every value both ways, and the refusals with their messages).
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "utils/Conversoes.h"
#include "utils/DataHora.h"
#include "utils/Notas.h"
#include "utils/Numeros.h"
#include "utils/Paths.h"
#include "utils/Textos.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

TEST(Helpers, DatesAndTimes) {
  EXPECT_EQ(ConverteData("2015-03-05T10:11:12-03:00"), "05/03/2015 10:11:12");
  EXPECT_EQ(ConverteData("2015-03-05"), "05/03/2015");
  EXPECT_EQ(ConverteData(""), "");
  EXPECT_EQ(ConverteHora("07:08:09"), "07:08:09");
  EXPECT_EQ(ConverteHora(""), "");
  TempDir dir;
  const std::string log = dir.path();
  // Refusals: 'D' ConverteData, 'H' ConverteHora, 'X' XmlDateToDateTime.
  const struct {
    char funcao;
    std::string texto, mensagem;
  } recusas[] = {
      {'D', "2015-3-05", "datas: data inválida"},  {'D', "15-03-2015", "datas: ano inválido"},
      {'D', "2015-13-05", "datas: mês inválido"},  {'D', "2015-03-xx", "datas: dia inválido"},
      {'H', "7:08:09", "horas: hora inválida"},    {'H', "24:00:00", "horas: hora inválida"},
      {'H', "23:60:00", "horas: minuto inválido"}, {'H', "23:59:6x", "horas: segundo inválido"},
      {'X', "20x5-02-01", "datas: ano inválido"},  {'X', "2015-a2-01", "datas: mês inválido"},
      {'X', "2015-02-b1", "datas: dia inválido"},  {'X', "2015-02-29", "datas: data inválida"},
      {'X', "2015-13-01", "datas: data inválida"}};
  for (const auto& r : recusas) {
    EXPECT_EQ(MessageOf<EqorNFCeConvertDateException>([&] {
                if (r.funcao == 'D') ConverteData(r.texto, log);
                if (r.funcao == 'H') ConverteHora(r.texto, log);
                if (r.funcao == 'X') XmlDateToDateTime(r.texto, log);
              }),
              "Erro na conversão de " + r.mensagem)
        << r.texto;
  }
  EXPECT_EQ(XmlDateToDateTime("2016-02-29T10:00:00-03:00"),
            std::chrono::year_month_day(std::chrono::year(2016), std::chrono::February,
                                        std::chrono::day(29)));

  EXPECT_TRUE(IsXsdDateTime("2015-03-05T10:11:12"));
  EXPECT_TRUE(IsXsdDateTime("2015-03-05T10:11:12-03:00"));
  EXPECT_FALSE(IsXsdDateTime("2015-03-05 10:11:12"));
  EXPECT_TRUE(SeguePadrao("aZ9-", "&@#-"));
  EXPECT_FALSE(SeguePadrao("AZ9-", "&@#-"));
  EXPECT_TRUE(ValidaDataHoraEvento(" "));
  EXPECT_TRUE(ValidaDataHoraEvento("05/03/2015 10:11"));
  EXPECT_FALSE(ValidaDataHoraEvento("31/02/2015"));
  EXPECT_EQ(FormataDataHoraEvento("2015-03-05T10:11:12-03:00"), "2015-03-05T10:11:12-03:00");
  EXPECT_EQ(FormataDataHoraEvento("05/03/2015 10:11:12"), "2015-03-05T10:11:12");
  EXPECT_TRUE(SeguePadrao(FormataDataHoraEvento(""), "####-##-##T##:##:##"));
  EXPECT_EQ(MessageOf<EqorNFCeConvertDateException>([&] { FormataDataHoraEvento("ontem", log); }),
            "Erro na conversão de datas: data inválida");
}

TEST(Helpers, NumbersAndTolerance) {
  for (const auto& [valor, dentro] :
       {std::pair{10.01, true}, {9.99, true}, {10.02, false}, {9.98, false}})
    EXPECT_EQ(CompareComTolerancia(valor, 10, 0.01), dentro) << valor;
  EXPECT_TRUE(CompareComTolerancia(10, 10, 0));
  EXPECT_EQ(StrToInt("+42"), 42);
  for (const char* errado : {"", "-", "4 2", "0x1A", "99999999999999999999"}) {
    EXPECT_THROW(StrToInt64(errado), EqorGovException) << errado;
  }
}

TEST(Helpers, TextsAndTheDelimitedParser) {
  TqorStringParse parse;
  parse.SetText("a;b;c");
  EXPECT_EQ(parse.GetText(), "a;b;c;");
  EXPECT_EQ(parse.GetCount(), 3);
  EXPECT_EQ(parse.GetItem(2), "b");
  EXPECT_EQ(parse.GetItem(3), "c");
  EXPECT_EQ(parse.GetItem(4), "");
  EXPECT_EQ(parse.GetItem(0), "");
  parse.SetDemiliter("|");
  parse.SetText("1|2||4|");
  EXPECT_EQ(parse.GetCount(), 4);
  EXPECT_EQ(parse.GetItem(3), "");
  EXPECT_EQ(parse.GetItem(4), "4");

  EXPECT_EQ(SplitString("a;b,,c", ";,"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_TRUE(SplitString("", ";").empty());
  EXPECT_EQ(HexToString("41e7"), "Aç");
  EXPECT_EQ(HexToString(StrToHex("Ação")), "Ação");
  EXPECT_THROW(HexToString("4"), EqorGovException);
  EXPECT_THROW(HexToString("zz"), EqorGovException);
  EXPECT_EQ(EscapeCaracteres("d'Avila \"x\""), "d&apos;Avila &quot;x&quot;");
  EXPECT_EQ(RemoveCDATA("<qrCode><![CDATA[http://x/?a=1]]></qrCode>"),
            "<qrCode>http://x/?a=1</qrCode>");
  EXPECT_TRUE(ValidaExisteLink("https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx?p=1|2"));
  EXPECT_TRUE(ValidaExisteLink("www.fazenda.pr.gov.br/nfce/qrcode?"));
  EXPECT_FALSE(ValidaExisteLink("1.234,56"));
  EXPECT_FALSE(ValidaExisteLink("sem link"));
  EXPECT_TRUE(ValidaAssinatura("<NFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\">"));
  EXPECT_TRUE(
      ValidaAssinatura("<ds:Signature Id='s' xmlns:ds='http://www.w3.org/2000/09/xmldsig#'>"));
  EXPECT_FALSE(ValidaAssinatura("<NFe><Signature><SignedInfo/></Signature></NFe>"));
  EXPECT_FALSE(ValidaAssinatura("<xSignature xmlns=\"http://www.w3.org/2000/09/xmldsig#\">"));
  // Documents joined under one root: the mark and every declaration go, an unclosed one whole.
  EXPECT_EQ(SemDeclaracoesXml("\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>\r\n<?xml version='1.0' "
                              "encoding='UTF-8' ?><b/><?xml"),
            "<a/>\r\n<b/>");
  EXPECT_EQ(ParametroAvancado("LarguraBobina=58; textoLivre = a=b ;x", "TEXTOLIVRE"), " a=b ");
  EXPECT_EQ(ParametroAvancado("x=1", "y"), "");
}

TEST(Helpers, NotesAndEventsInTexts) {
  const std::string chave = "35190511222333000181650010000000411000012343";
  const std::string nota =
      "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" + chave +
      "\"><infAdic><infCpl>linha 1|linha 2</infCpl></infAdic></infNFe></NFe>";
  const std::string lote =
      "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><nRec>351000000000015</nRec>" + nota +
      nota + "</enviNFe>";
  EXPECT_EQ(GetNumNotas(lote), 2);
  EXPECT_EQ(GetNota(1, lote).rfind("<infNFe ", 0), 0u);
  EXPECT_EQ(GetNota(1, lote).substr(GetNota(1, lote).size() - 9), "</infNFe>");
  EXPECT_EQ(GetNota(2, lote), "");
  EXPECT_EQ(GetNota(0, lote, true), "");  // no protocol to close it
  // One pass over a batch cuts what GetNota cuts, note by note: with and without protocols, and
  // for a last note left open.
  const std::string protocolo = "<protNFe><infProt><nProt>1</nProt></infProt></protNFe>";
  const std::string misto = "<nfeProc>" + nota + protocolo + "</nfeProc>" + nota +
                            "<infNFe Id=\"NFe" + chave + "\"><ide>";
  for (const std::string& texto : {lote, misto}) {
    for (const bool comProtocolo : {false, true}) {
      const std::vector<TTrechoNota> trechos = LocalizarNotas(texto, comProtocolo);
      ASSERT_EQ(static_cast<int>(trechos.size()), GetNumNotas(texto));
      for (std::size_t i = 0; i < trechos.size(); ++i) {
        SCOPED_TRACE(std::to_string(i) + (comProtocolo ? " with protocol" : ""));
        const std::string cortada =
            trechos[i].fim == std::string::npos
                ? std::string()
                : texto.substr(trechos[i].inicio, trechos[i].fim - trechos[i].inicio);
        EXPECT_EQ(cortada, GetNota(static_cast<int>(i), texto, comProtocolo));
      }
    }
  }
  EXPECT_EQ(LocalizarNotas(misto, true)[0].fim, misto.find("</protNFe>") + 10);
  EXPECT_EQ(LocalizarNotas(misto)[2].fim, std::string::npos);
  EXPECT_EQ(GetNumNotasXPath(lote), 2);
  EXPECT_EQ(GetNumNotasXPath(lote, false), 0);
  EXPECT_EQ(GetXMLAttributeByIndex(getNotaXPath(lote, 1), "infNFe", "Id"), "NFe" + chave);
  EXPECT_EQ(getXmlNotaXPath(lote, "infCpl", 1),
            "<infCpl xmlns=\"http://www.portalfiscal.inf.br/nfe\">linha 1|linha 2</infCpl>");
  EXPECT_EQ(getIDNotaXPath(lote), chave);
  EXPECT_EQ(ObterNotaID(lote), chave);
  EXPECT_EQ(ObterNumRecibo(lote), "351000000000015");
  EXPECT_EQ(ValueTagTratado("infCpl", lote, "|"), "linha 1&#xD;linha 2");
  EXPECT_EQ(ValueTagTratado("x']|//*['", lote, "|"), "");
  const std::string eventos =
      "<envEvento><evento><infEvento Id=\"A\"/></evento><evento><infEvento "
      "Id=\"B\"/></evento></envEvento>";
  EXPECT_EQ(ObterNumEventos(eventos), 2);
  EXPECT_EQ(ObterEvento(eventos, 1), "<infEvento Id=\"B\"/>");
  EXPECT_EQ(ObterEvento(eventos, 2), "");
  EXPECT_EQ(GerarIdEvento(chave, 1, TTipoEvento::teCancelamento), "ID110111" + chave + "01");
  EXPECT_EQ(GerarIdEvento(chave, 12, TTipoEvento::teEPEC), "ID110140" + chave + "12");
  EXPECT_EQ(GerarIdEvento(chave, 2, TTipoEvento::teCancelamentoSubstituicao),
            "ID110112" + chave + "02");
  EXPECT_EQ(GetActualDir(), ExecutableDir());
}

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
  TempDir dir;
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
