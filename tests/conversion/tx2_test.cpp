// The TX2 parser and the note model: life cycle, commands, escaping and every failure message,
// on the installed dictionary.
#include <gtest/gtest.h>

#include <regex>
#include <utility>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;
using test::WriteFile;

const std::string kTemplates = std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/";
const std::string kDicionario = kTemplates + "Conversor/NFCeDataSets.xml";

const char* const kCabecalho =
    "INCLUIR\nversao_A02=4.00\ncUF_B02=35\ncNF_B03=1234\nnatOp_B04=VENDA\nmod_B06=65\n"
    "serie_B07=1\nnNF_B08=%s\ndhEmi_B09=2026-12-07T10:15:00-03:00\ntpNF_B11=1\n"
    "idDest_B11a=1\ncMunFG_B12=3550308\ntpImp_B21=4\ntpEmis_B22=1\ntpAmb_B24=2\n"
    "finNFe_B25=1\nindFinal_B25a=1\nindPres_B25b=1\nprocEmi_B26=0\nverProc_B27=1.0\n"
    "CNPJ_C02=11222333000181\nxNome_C03=EMPRESA TESTE\nxLgr_C06=Rua A\nnro_C07=1\n"
    "xBairro_C09=Centro\ncMun_C10=3550308\nxMun_C11=Sao Paulo\nUF_C12=SP\nIE_C17=111222333444\n"
    "CRT_C21=3\n";

std::string Item(int n, const std::string& extra = {}) {
  return "INCLUIRITEM\nnItem_H02=" + std::to_string(n) + "\ncProd_I02=P" + std::to_string(n) +
         "\ncEAN_I03=SEM GTIN\nxProd_I04=PRODUTO\nNCM_I05=22021000\nCFOP_I08=5102\n"
         "uCom_I09=UN\nqCom_I10=1.0000\nvUnCom_I10a=1.00\nvProd_I11=1.00\n"
         "cEANTrib_I12=SEM GTIN\nuTrib_I13=UN\nqTrib_I14=1.0000\nvUnTrib_I14a=1.00\n"
         "indTot_I17b=1\norig_N11=0\nCST_N12=00\nmodBC_N13=3\nvBC_N15=1.00\npICMS_N16=18.00\n"
         "vICMS_N17=0.18\n" +
         extra + "SALVARITEM\n";
}

const char* const kRodape =
    "vBC_W03=1.00\nvICMS_W04=0.18\nvBCST_W05=0.00\nvST_W06=0.00\nvProd_W07=1.00\n"
    "vFrete_W08=0.00\nvSeg_W09=0.00\nvDesc_W10=0.00\nvII_W11=0.00\nvIPI_W12=0.00\n"
    "vPIS_W13=0.00\nvCOFINS_W14=0.00\nvOutro_W15=0.00\nvNF_W16=1.00\nmodFrete_X02=9\n"
    "INCLUIRPARTE=YA\ntPag_YA02=01\nvPag_YA03=1.00\nSALVARPARTE=YA\n";

std::string Nota(int nNF = 1, const std::string& itens = Item(1), const std::string& fim = {}) {
  return Format(kCabecalho, {std::to_string(nNF)}) + itens + kRodape + fim + "SALVAR\n";
}

std::string Converter(const std::string& tx2, TVersaoEsquema versao = TVersaoEsquema::pl_009g) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetVersaoEsquema(versao);
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  return parser.Converter();
}

std::vector<std::string> Linhas(const std::string& lote) {
  std::vector<std::string> notas;
  std::size_t start = 0;
  for (std::size_t end; (end = lote.find("\r\n", start)) != std::string::npos; start = end + 2) {
    notas.push_back(lote.substr(start, end - start));
  }
  EXPECT_EQ(start, lote.size()) << "every note ends with a line break";
  return notas;
}

template <typename E>
std::string FalhaDe(const std::string& tx2) {
  return MessageOf<E>([&] { Converter(tx2); });
}

std::string Entre(const std::string& xml, const std::string& tag) {
  const std::size_t start = xml.find("<" + tag + ">");
  const std::size_t end = xml.find("</" + tag + ">");
  if (start == std::string::npos || end == std::string::npos) return {};
  return xml.substr(start + tag.size() + 2, end - start - tag.size() - 2);
}

TEST(Tx2, OneNotePerSaveInOrderWithTheKeyComputed) {
  const auto notas = Linhas(Converter(Nota(7) + Nota(8, Item(1) + Item(2))));
  ASSERT_EQ(notas.size(), 2u);
  EXPECT_EQ(notas[0].rfind("<infNFe Id=\"NFe3526121122233300018165001000000007", 0), 0u)
      << notas[0];
  EXPECT_NE(notas[0].find("<cNF>00001234</cNF>"), std::string::npos);
  // The check digit written in ide is the key's last digit.
  const std::string id = notas[1].substr(15, 44);
  EXPECT_EQ(Entre(notas[1], "cDV"), id.substr(43));
  EXPECT_NE(notas[1].find("<nNF>8</nNF>"), std::string::npos);
  EXPECT_NE(notas[1].find("<det nItem=\"2\">"), std::string::npos);
  EXPECT_EQ(notas[0].find("<det nItem=\"2\">"), std::string::npos) << "items do not leak";
  EXPECT_EQ(notas[1].substr(notas[1].size() - 9), "</infNFe>");
}

TEST(Tx2, HandlesContinueAcrossNotesAndCancelLeavesNoTrace) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(Nota(1) + Format(kCabecalho, {"2"}) + Item(1) + "CANCELAR\n" + Nota(3));
  std::unique_ptr<TqorNFCeDataSets> ds;
  parser.Converter(ds);
  ASSERT_EQ(ds->GetLoteNFCe().Count(), 2u);
  EXPECT_NE(ds->GetLoteNFCe()[1].find("<nNF>3</nNF>"), std::string::npos);
  // Three notes started, one item each: the last item is the third record ever of group H.
  TXmlDataSetNFCe& h = ds->FindDataSet("H");
  h.First();
  EXPECT_EQ(h.Value("handle"), "3");
  EXPECT_EQ(h.RecordCount(), 1u);
}

TEST(Tx2, TextAfterTextOnOneParserGivesWhatAFreshParserGives) {
  // The parser reuses the last note's buffer for the next: no text may carry anything over,
  // whether it is longer, shorter or holds more notes than the one before.
  const std::string longa = Nota(1, Item(1) + Item(2) + Item(3));
  const std::string curta = Nota(2);
  const std::string dupla = Nota(3, Item(1) + Item(2)) + Nota(4);
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  for (const std::string& texto : {longa, curta, dupla, longa, curta}) {
    parser.SetTXT(texto);
    const std::string lote = parser.Converter();
    EXPECT_EQ(lote, Converter(texto));
    // Read after the conversion: loading the dictionary makes a new model.
    const TStrings& loteNFCe = parser.DataSets().GetLoteNFCe();
    const auto notas = Linhas(lote);
    ASSERT_EQ(loteNFCe.Count(), notas.size()) << "LoteNFCe holds this text's notes only";
    for (std::size_t i = 0; i < notas.size(); ++i) EXPECT_EQ(loteNFCe[i], notas[i]);
  }
}

TEST(Tx2, ASecondIncluirDiscardsTheOpenNote) {
  const auto notas = Linhas(Converter(Format(kCabecalho, {"5"}) + Item(1) + Item(2) + Nota(6)));
  ASSERT_EQ(notas.size(), 1u);
  EXPECT_NE(notas[0].find("<nNF>6</nNF>"), std::string::npos);
  EXPECT_EQ(notas[0].find("nItem=\"2\""), std::string::npos);
}

TEST(Tx2, IncluirParteDropsAnEmptyPendingRecordAndPostsAFilledOne) {
  const std::string pagamentos =
      "INCLUIRPARTE=YA\nINCLUIRPARTE=YA\ntPag_YA02=03\nvPag_YA03=0.50\ntpIntegra_YA04a=2\n"
      "INCLUIRPARTE=YA\ntPag_YA02=01\nvPag_YA03=0.50\ntpIntegra_YA04a=1\nCNPJ_YA05=11222333000181\n"
      "tBand_YA06=01\ncAut_YA07=123\nSALVARPARTE=YA\n";
  const std::string nota = Linhas(Converter(Nota(1, Item(1), pagamentos)))[0];
  // The footer's cash payment, the card and the second cash payment; no empty detPag.
  EXPECT_EQ(Entre(nota, "pag"),
            "<detPag><tPag>01</tPag><vPag>1.00</vPag></detPag>"
            "<detPag><tPag>03</tPag><vPag>0.50</vPag><card><tpIntegra>2</tpIntegra></card>"
            "</detPag><detPag><tPag>01</tPag><vPag>0.50</vPag></detPag>");
}

TEST(Tx2, ValuesAreEscapedOnceAndWrittenAsHeld) {
  const std::string nota = Linhas(Converter(
      Nota(1, Item(1),
           "infCpl_Z03=  A&B <x> \"q\" 'a' &amp; &lt;ok&gt; Ação  \n"
           "INCLUIRPARTE=OBSCONT\nxCampo_Z05=Caixa\nxTexto_Z06=01\nSALVARPARTE=OBSCONT\n")))[0];
  EXPECT_NE(nota.find("<infAdic><infCpl>A&amp;B &lt;x&gt; &quot;q&quot; &apos;a&apos; &amp; "
                      "&lt;ok&gt; Ação</infCpl><obsCont xCampo=\"Caixa\"><xTexto>01</xTexto>"
                      "</obsCont></infAdic>"),
            std::string::npos)
      << nota;
  // Only the five predefined entities count as escaped already; anything else after "&" is text.
  const std::pair<const char*, const char*> casos[] = {
      {"sem nada", "sem nada"},
      {"a'b\"c<d>e&f", "a&apos;b&quot;c&lt;d&gt;e&amp;f"},
      {"&apos;&quot;&lt;&gt;&amp;", "&apos;&quot;&lt;&gt;&amp;"},
      {"&amp;amp;", "&amp;amp;"},
      {"&#39; &nbsp; &amp &", "&amp;#39; &amp;nbsp; &amp;amp &amp;"},
      {"<&lt;>", "&lt;&lt;&gt;"},
  };
  for (const auto& [valor, esperado] : casos) {
    EXPECT_EQ(TqorNFCeConvTXTDataSet::EscaparValor(valor), esperado) << valor;
  }
}

TEST(Tx2, NullValuesAndCashPaymentsWriteNothing) {
  const std::string nota = Linhas(
      Converter(Nota(1, Item(1, "CST_Q06=07\nvBC_Q07=NULL\n"),
                     "INCLUIRPARTE=YA\ntPag_YA02=01\nvPag_YA03=2.00\ntpIntegra_YA04a=1\n"
                     "CNPJ_YA05=11222333000181\ntBand_YA06=01\ncAut_YA07=9\nSALVARPARTE=YA\n")))[0];
  EXPECT_NE(nota.find("<PIS><PISNT><CST>07</CST></PISNT></PIS>"), std::string::npos);
  EXPECT_EQ(nota.find("<card>"), std::string::npos) << "cash never carries card data";
}

struct IcmsCaso {
  const char* campos;
  const char* esperado;
};

TEST(Tx2, IcmsDecisionTableRowByRow) {
  const IcmsCaso casos[] = {
      {"CST_N12=00\n", "<ICMS00><orig>0</orig><CST>00</CST></ICMS00>"},
      {"CST_N12=41\n", "<ICMS40><orig>0</orig><CST>41</CST></ICMS40>"},
      {"CST_N12=41\nvBCSTDest_N31=1.00\nvICMSSTDest_N32=0.10\n",
       "<ICMSST><orig>0</orig><CST>41</CST><vBCSTDest>1.00</vBCSTDest>"},
      {"CST_N12=00\nCSOSN_N12a=102\n", "<ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102>"},
      {"CST_N12=90\nUFST_N24=RJ\npBCOp_N25=50.00\n", "<ICMSPart><orig>0</orig><CST>90</CST>"},
      {"CST_N12=60\nvBCSTRet_N26=1.00\nvICMSSTRet_N27=0.10\n",
       "<ICMS60><orig>0</orig><CST>60</CST><vBCSTRet>1.00</vBCSTRet><vICMSSTRet>0.10"},
      {"CST_N12=50\n", "<ICMS40><orig>0</orig><CST>50</CST></ICMS40>"},
      {"CSOSN_N12a=500\n", "<ICMSSN500><orig>0</orig><CSOSN>500</CSOSN>"},
      {"CST_N12=02\n", "<imposto><PIS>"},  // no element in the table: no ICMS at all
  };
  for (const IcmsCaso& caso : casos) {
    // The base item's ICMS fields are replaced: only orig and the case's fields remain.
    std::string item = Item(1, "INCLUIRPARTE=N\norig_N11=0\n" + std::string(caso.campos) +
                                   "CST_Q06=07\nSALVARPARTE=N\n");
    const std::string nota = Linhas(Converter(Nota(1, item)))[0];
    EXPECT_NE(nota.find(caso.esperado), std::string::npos) << caso.campos << nota;
  }
}

TEST(Tx2, EnumerationsAreCheckedAtThePostNotAtTheLine) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(Format(kCabecalho, {"1"}) + "INCLUIRITEM\nnItem_H02=1\norig_N11=9\n");
  std::unique_ptr<TqorNFCeDataSets> ds;
  // The text ends inside the note: the value was taken without complaint.
  EXPECT_EQ(MessageOf<EqorNFCeDataSetsException>([&] { parser.Converter(ds); }),
            "NFCe não foi Salva.");
  const std::string message = FalhaDe<EqorDataSetException>(
      Format(kCabecalho, {"1"}) + Item(1, "INCLUIRPARTE=N\norig_N11=9\nSALVARPARTE=N\n"));
  EXPECT_EQ(message.rfind("Conteúdo 9 é inválido para o campo orig_N11 [", 0), 0u) << message;
  EXPECT_NE(message.find("]."), std::string::npos);
  EXPECT_NE(message.find("\r\nDica: "), std::string::npos);
}

TEST(Tx2, FailuresOfTheTextAndTheirMessages) {
  // Assignment lines name the zero-based index and the line.
  EXPECT_EQ(FalhaDe<EqorNFCeConvTX2Exception>("INCLUIR\ncUF_B02 =35\n"),
            "Não foi possível converter a Linha: [1] cUF_B02 =35\rErro: Campo cUF_B02  não "
            "encontrado");
  EXPECT_EQ(FalhaDe<EqorNFCeConvTX2Exception>("INCLUIR\nincluiritem\n"),
            "Não foi possível converter a Linha: [1] incluiritem\rErro: Campo incluiritem não "
            "encontrado");
  const std::string longo =
      FalhaDe<EqorNFCeConvTX2Exception>("INCLUIR\nxNome_C03=" + std::string(61, 'x') + "\n");
  EXPECT_NE(longo.find("excede o tamanho máximo de 60 caracteres"), std::string::npos) << longo;
  // A 60-character name with an escaped ampersand counts the ampersand once.
  EXPECT_NO_THROW(Converter(Nota(1, Item(1), "xNome_C03=" + std::string(59, 'x') + "&\n")));

  EXPECT_EQ(FalhaDe<EqorNFCeDataSetsException>(Format(kCabecalho, {"1"}) + Item(1)),
            "NFCe não foi Salva.");
  EXPECT_EQ(FalhaDe<EqorNFCeDataSetsException>("INCLUIR\nINCLUIRITEM\nINCLUIRITEM\n"),
            "Item não salvo");
  EXPECT_EQ(FalhaDe<EqorDataSetException>("INCLUIR\nINCLUIRPARTE=NAOEXISTE\n"),
            "Parte NAOEXISTE não encontrada.");
  const std::string requerido =
      FalhaDe<EqorDataSetException>("INCLUIR\nINCLUIRITEM\ncProd_I02=1\nSALVARITEM\n");
  EXPECT_EQ(requerido.rfind("O Campo [nItem_H02] referente a [", 0), 0u) << requerido;
  EXPECT_NE(requerido.find("] deve ser preenchido.\r\nDica: "), std::string::npos);

  EXPECT_EQ(MessageOf<EqorNFCeDataSetsException>([] {
              TqorNFCeConvTXTDataSet parser;
              parser.SetTXT(" \r\n\n");
            }),
            "Conteúdo a ser convertido é inválido.");
}

TEST(Tx2, FailuresOfTheDictionaryAndTheContainer) {
  TempDir dir;
  TqorNFCeDataSets ds;
  EXPECT_EQ(
      MessageOf<EqorDataSetFileNotFoundException>([&] { ds.SetXMLDicionario(dir / "nada.xml"); }),
      "Arquivo:  " + (dir / "nada.xml") + " não encontrado.");
  for (const char* ruim :
       {"<NFCeDataSets><A><campos>", "<NFCeDataSets><A><campos/></A></NFCeDataSets>",
        "<NFCeDataSets><A><campos><campo tamanho=\"1\"/></campos><link/></A></NFCeDataSets>",
        "<NFCeDataSets><I><campos><campo nome=\"handle\" tamanho=\"9\"/></campos>"
        "<link mastersource=\"H\" masterfield=\"handle\" keyfield=\"handle\"/></I>"
        "</NFCeDataSets>"}) {
    WriteFile(dir / "ruim.xml", ruim);
    EXPECT_EQ(
        MessageOf<EqorDataSetLoadTemplateException>([&] { ds.SetXMLDicionario(dir / "ruim.xml"); }),
        "Erro no arquivo " + (dir / "ruim.xml") + " .")
        << ruim;
  }
  // A dictionary without the groups of the model's lists.
  WriteFile(dir / "curto.xml", "<NFCeDataSets><A><campos/><link/></A></NFCeDataSets>");
  EXPECT_EQ(MessageOf<EqorDataSetException>([&] { ds.SetXMLDicionario(dir / "curto.xml"); }),
            "Parte B não encontrada.");

  TqorNFCeDataSets semDicionario;
  EXPECT_EQ(MessageOf<EqorNFCeDataSetConfigException>([&] { semDicionario.Salvar(); }),
            "Arquivo Estrutura do XML não configurado.");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { semDicionario.Campo("", "1"); }),
            "O Grupo deve ser informado para encontrar o campo desejado.");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { semDicionario.Campo("B", "1"); }),
            "Não existem DataSets carregados. Verifique se o XMLDicionário foi informado.");
  // Every named version has a model; a number cast by a host names none and is printed as is.
  EXPECT_EQ(MessageOf<EqorNFCeVersaoEsquemaInvalidaException>(
                [&] { semDicionario.SetVersaoEsquema(static_cast<TVersaoEsquema>(99)); }),
            "Versão de esquema não suportada 99, o NFCeDataSets suporta apenas versões de esquema "
            "a partir de pl_006n");

  WriteFile(dir / "rec.xml",
            "<NFCeDataSets><A><campos><campo nome=\"handle\" tamanho=\"9\"/>"
            "<campo nome=\"x_A01\" tamanho=\"9\" visible=\"s\" rec=\"A=1, B=2\"/></campos>"
            "<link/></A></NFCeDataSets>");
  // The plain dataset model has no group lists, so a one-group dictionary loads.
  TqorXMLDataSetNFCe modelo;
  modelo.SetXMLDicionario(dir / "rec.xml");
  EXPECT_EQ(modelo.Campo("X_A01").FieldName(), "x_A01");
  EXPECT_EQ(MessageOf<EqorDataSetFieldNotFoundException>([&] { modelo.Campo("y"); }),
            "Campo y não encontrado");
  ds.SetXMLDicionario(kDicionario);
  EXPECT_EQ(MessageOf<EqorDataSetFieldNotFoundException>([&] { ds.Campo("B", "99"); }),
            "Não foi encontrado campo configurado para o Grupo B na posição 99");
}

TEST(Tx2, ConverterFrontAndComponent) {
  TempDir dir;
  TqorNFCeConverter conversor;
  conversor.SetDiretorioTemplates(dir.path());
  EXPECT_EQ(MessageOf<EqorNFCeConvertDateException>([&] {
              conversor.ConvertToXml(Nota(), TLayoutConvKind::lkTXTRec, TVersaoEsquema::pl_009g);
            }),
            "Layout de Conversão Inválido.");
  EXPECT_EQ(
      MessageOf<EqorTemplateNotFoundException>([&] {
        conversor.ConvertToXml(Nota(), TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
      }),
      "Arquivo de template do conversor não encontrado: " + (dir / "Conversor/NFCeDataSets.xml"));

  // A converter keeps its dictionary between batches; a batch that failed half-way leaves
  // nothing behind for the next one (the open item would otherwise refuse the next item).
  TqorNFCeConverter reutilizado;
  reutilizado.SetDiretorioTemplates(kTemplates);
  const auto converter = [&](const std::string& tx2) {
    return reutilizado.ConvertToXml(tx2, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
  };
  EXPECT_THROW(converter(Format(kCabecalho, {"1"}) + "INCLUIRITEM\nnItem_H02=1\nxyz=1\n"),
               EqorNFCeConvTX2Exception);
  EXPECT_EQ(Linhas(converter(Nota(9))).size(), 1u);
  EXPECT_EQ(Linhas(converter(Nota(9) + Nota(10))).size(), 2u) << "the batch starts empty";

  // The component converts a file, and records the ping with the kind's suffix.
  TqorNFCe nfce;
  nfce.SetDiretorioLog(dir / "Log/");
  nfce.SetCNPJ("11222333000181");
  nfce.SetDiretorioTemplates(std::string(QORNFCE_BIN_DIR) + "/Templates/");
  WriteFile(dir / "lote.tx2", Nota(1) + Nota(2));
  EXPECT_EQ(Linhas(nfce.ConverterLoteParaXml(dir / "lote.tx2", TLayoutConvKind::lkTXTDataSet,
                                             TVersaoEsquema::pl_009g))
                .size(),
            2u);
  const auto files = ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(test::ReadFile(dir / "Log/diagnosticmode/nfce/" + files[0])
                .find("\"ConverterLoteParaXml_TX2\""),
            std::string::npos);
}

}  // namespace
}  // namespace qor
