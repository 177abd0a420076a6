// The TX2 parser and the note model (life cycle, commands, escaping and every failure message, on
// the installed dictionary); then the corpus (tests/conversion/corpus) and the samples
// (data/exemplos) converted with their schema packages and checked by xmllint against the
// official XSD package, with the facts each corpus file is there for: the element the ICMS, PIS
// and COFINS decision tables give for every code, payments, recipients, and what each older
// package writes differently.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;
using test::WriteFile;
using V = TVersaoEsquema;

const std::string kTemplates = std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/";
const std::string kDicionario = kTemplates + "Conversor/NFCeDataSets.xml";
const std::string kCorpus = std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/corpus/";
const std::string kExemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
const char* const kAmostras[] = {"nfce-um-item-dinheiro.tx2", "nfce-varios-itens.tx2",
                                 "nfce-cartao-troco.tx2", "nfce-consumidor-identificado.tx2",
                                 "nfce-simples-nacional.tx2"};

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

// The batch of a TX2 text or file.
std::string Lote(const std::string& tx2, V versao = V::pl_009g) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetVersaoEsquema(versao);
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  return parser.Converter();
}

// The notes of a batch, in SALVAR order.
std::vector<std::string> Linhas(const std::string& lote) {
  std::vector<std::string> notas;
  std::size_t start = 0;
  for (std::size_t end; (end = lote.find("\r\n", start)) != std::string::npos; start = end + 2) {
    notas.push_back(lote.substr(start, end - start));
  }
  EXPECT_EQ(start, lote.size()) << "every note ends with a line break";
  return notas;
}

std::vector<std::string> Notas(const std::string& tx2, V versao = V::pl_009g) {
  return Linhas(Lote(tx2, versao));
}

template <typename E>
std::string FalhaDe(const std::string& tx2) {
  return MessageOf<E>([&] { Lote(tx2); });
}

std::string Entre(const std::string& xml, const std::string& tag) {
  const std::size_t start = xml.find("<" + tag + ">");
  const std::size_t end = xml.find("</" + tag + ">");
  if (start == std::string::npos || end == std::string::npos) return {};
  return xml.substr(start + tag.size() + 2, end - start - tag.size() - 2);
}

TEST(Tx2, OneNotePerSaveInOrderWithTheKeyComputed) {
  const auto notas = Notas(Nota(7) + Nota(8, Item(1) + Item(2)));
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
    EXPECT_EQ(lote, Lote(texto));
    // Read after the conversion: loading the dictionary makes a new model.
    const TStrings& loteNFCe = parser.DataSets().GetLoteNFCe();
    const auto notas = Linhas(lote);
    ASSERT_EQ(loteNFCe.Count(), notas.size()) << "LoteNFCe holds this text's notes only";
    for (std::size_t i = 0; i < notas.size(); ++i) EXPECT_EQ(loteNFCe[i], notas[i]);
  }
}

TEST(Tx2, ASecondIncluirDiscardsTheOpenNote) {
  const auto notas = Notas(Format(kCabecalho, {"5"}) + Item(1) + Item(2) + Nota(6));
  ASSERT_EQ(notas.size(), 1u);
  EXPECT_NE(notas[0].find("<nNF>6</nNF>"), std::string::npos);
  EXPECT_EQ(notas[0].find("nItem=\"2\""), std::string::npos);
}

TEST(Tx2, IncluirParteDropsAnEmptyPendingRecordAndNullOrCashWritesNothing) {
  const std::string pagamentos =
      "INCLUIRPARTE=YA\nINCLUIRPARTE=YA\ntPag_YA02=03\nvPag_YA03=0.50\ntpIntegra_YA04a=2\n"
      "INCLUIRPARTE=YA\ntPag_YA02=01\nvPag_YA03=0.50\ntpIntegra_YA04a=1\nCNPJ_YA05=11222333000181\n"
      "tBand_YA06=01\ncAut_YA07=123\nSALVARPARTE=YA\n";
  const std::string nota = Notas(Nota(1, Item(1, "CST_Q06=07\nvBC_Q07=NULL\n"), pagamentos))[0];
  EXPECT_NE(nota.find("<PIS><PISNT><CST>07</CST></PISNT></PIS>"), std::string::npos);
  // The footer's cash payment, the card and the second cash payment (cash never carries card
  // data); no empty detPag.
  EXPECT_EQ(Entre(nota, "pag"),
            "<detPag><tPag>01</tPag><vPag>1.00</vPag></detPag>"
            "<detPag><tPag>03</tPag><vPag>0.50</vPag><card><tpIntegra>2</tpIntegra></card>"
            "</detPag><detPag><tPag>01</tPag><vPag>0.50</vPag></detPag>");
}

TEST(Tx2, ValuesAreEscapedOnceAndWrittenAsHeld) {
  const std::string nota = Notas(
      Nota(1, Item(1),
           "infCpl_Z03=  A&B <x> \"q\" 'a' &amp; &lt;ok&gt; Ação  \n"
           "INCLUIRPARTE=OBSCONT\nxCampo_Z05=Caixa\nxTexto_Z06=01\nSALVARPARTE=OBSCONT\n"))[0];
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
    const std::string nota = Notas(Nota(1, item))[0];
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
  EXPECT_NO_THROW(Lote(Nota(1, Item(1), "xNome_C03=" + std::string(59, 'x') + "&\n")));

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
        "</NFCeDataSets>",
        "<NFCeDataSets><A><campos><campo nome=\"x_A01\" tamanho=\"1\" tipo=\"TNenhum\"/>"
        "</campos><link/></A></NFCeDataSets>"}) {
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

// Models loaded from one dictionary share its declarations: what one model's field or group
// is told to change stays in that model.
TEST(Tx2, ModelsOfOneDictionaryKeepTheirChangesToThemselves) {
  TqorNFCeDataSets um, outro;
  um.SetXMLDicionario(kDicionario);
  outro.SetXMLDicionario(kDicionario);
  TXmlFieldNFCe& campo = um.Campo("vProd_I11");
  const std::string dica = campo.GetDica();
  campo.SetDica("outra dica");
  campo.SetEnum("1,2");
  campo.SetTpNode("atributo");
  EXPECT_EQ(campo.GetDica(), "outra dica");
  EXPECT_EQ(campo.GetEnumText(), "1,2");
  EXPECT_FALSE(campo.IsElement());
  const TXmlFieldNFCe& dele = outro.Campo("vProd_I11");
  EXPECT_EQ(dele.GetDica(), dica);
  EXPECT_TRUE(dele.Enum().empty());
  EXPECT_TRUE(dele.IsElement());
  // A model loaded after the change reads the dictionary as written.
  TqorNFCeDataSets novo;
  novo.SetXMLDicionario(kDicionario);
  EXPECT_EQ(novo.Campo("vProd_I11").GetDica(), dica);
}

TEST(Tx2, ConverterFrontAndComponent) {
  TempDir dir;
  TqorNFCeConverter conversor;
  conversor.SetDiretorioTemplates(dir.path());
  EXPECT_EQ(MessageOf<EqorNFCeConvertDateException>(
                [&] { conversor.ConvertToXml(Nota(), TLayoutConvKind::lkTXTRec, V::pl_009g); }),
            "Layout de Conversão Inválido.");
  EXPECT_EQ(
      MessageOf<EqorTemplateNotFoundException>(
          [&] { conversor.ConvertToXml(Nota(), TLayoutConvKind::lkTXTDataSet, V::pl_009g); }),
      "Arquivo de template do conversor não encontrado: " + (dir / "Conversor/NFCeDataSets.xml"));

  // A converter keeps its dictionary between batches; a batch that failed half-way leaves
  // nothing behind for the next one (the open item would otherwise refuse the next item).
  TqorNFCeConverter reutilizado;
  reutilizado.SetDiretorioTemplates(kTemplates);
  const auto converter = [&](const std::string& tx2) {
    return reutilizado.ConvertToXml(tx2, TLayoutConvKind::lkTXTDataSet, V::pl_009g);
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
  EXPECT_EQ(
      Linhas(nfce.ConverterLoteParaXml(dir / "lote.tx2", TLayoutConvKind::lkTXTDataSet, V::pl_009g))
          .size(),
      2u);
  const auto files = ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(test::ReadFile(dir / "Log/diagnosticmode/nfce/" + files[0])
                .find("\"ConverterLoteParaXml_TX2\""),
            std::string::npos);
}

// ---- the corpus and the samples

// The element names found right after each `<wrapper>` ("ICMS" gives ICMS00, ICMSSN102, ...).
std::vector<std::string> Elementos(const std::string& nota, const std::string& wrapper) {
  std::vector<std::string> names;
  const std::regex re("<" + wrapper + "><([A-Za-z0-9]+)>");
  for (std::sregex_iterator it(nota.begin(), nota.end(), re), end; it != end; ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

TEST(SchemaCorpus, EveryNoteValidatesAgainstItsPackage) {
  QOR_NEEDS_SCHEMAS();
  struct Lote {
    std::string arquivo;
    std::vector<V> pacotes;
    const char* xsd;
    std::size_t notas;
  };
  const std::vector<V> k400 = {V::pl_009g, V::pl_009};
  std::vector<Lote> lotes = {
      {kCorpus + "icms-regime-normal.tx2", k400, "nfe_v4.00.xsd", 2},
      {kCorpus + "icms-simples-nacional.tx2", k400, "nfe_v4.00.xsd", 1},
      {kCorpus + "pagamentos-destinatarios.tx2", k400, "nfe_v4.00.xsd", 4},
      {kCorpus + "leiaute-310.tx2",
       {V::pl_008g, V::pl_008h, V::pl_008i, V::pl_008i1},
       "nfe_v3.10.xsd",
       2},
      {kCorpus + "leiaute-antigo.tx2", {V::pl_008a, V::pl_008g, V::pl_008h}, "nfe_v3.10.xsd", 1},
  };
  for (const char* amostra : kAmostras)
    lotes.push_back({kExemplos + amostra, k400, "nfe_v4.00.xsd", 1});
  for (const Lote& lote : lotes) {
    for (V pacote : lote.pacotes) {
      SCOPED_TRACE(lote.arquivo + " with " + ToString(pacote));
      std::vector<std::string> notas;
      try {
        notas = Notas(lote.arquivo, pacote);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "conversion failed: " << e.what();
        continue;
      }
      EXPECT_EQ(notas.size(), lote.notas);
      for (std::size_t i = 0; i < notas.size(); ++i) {
        EXPECT_EQ(test::SchemaError(test::NFe(notas[i]), lote.xsd), "")
            << "note " << i + 1 << ": " << notas[i];
      }
    }
  }
}

// Per note, the ICMS element and the PIS form of each item in order (COFINS follows PIS: the
// corpus gives both taxes the same CST).
TEST(SchemaCorpus, DecisionTablesGiveTheElementOfEachCode) {
  struct Tabela {
    std::string arquivo;
    std::vector<V> pacotes;
    std::vector<std::vector<std::string>> icms, pis;
  };
  const std::vector<std::string> outr(10, "PISOutr");
  const std::vector<Tabela> tabelas = {
      {kCorpus + "icms-regime-normal.tx2",
       {V::pl_009g, V::pl_009},
       {{"ICMS00", "ICMS10", "ICMS20", "ICMS30", "ICMS40", "ICMS40", "ICMSST", "ICMS40"},
        {"ICMS51", "ICMS60", "ICMS70", "ICMS90", "ICMSPart", "ICMSPart", "ICMSSN102"}},
       {{"PISAliq", "PISAliq", "PISQtde", "PISNT", "PISNT", "PISNT", "PISNT", "PISNT"},
        {"PISNT", "PISOutr", "PISOutr", "PISAliq", "PISAliq", "PISAliq", "PISAliq"}}},
      {kCorpus + "icms-simples-nacional.tx2",
       {V::pl_009g, V::pl_009},
       {{"ICMSSN101", "ICMSSN102", "ICMSSN102", "ICMSSN102", "ICMSSN102", "ICMSSN201", "ICMSSN202",
         "ICMSSN202", "ICMSSN500", "ICMSSN900"}},
       {outr}},
      {kCorpus + "leiaute-310.tx2",
       {V::pl_008g, V::pl_008h},
       {{"ICMS00", "ICMS20", "ICMS60", "ICMS40", "ICMS60"},
        {"ICMSSN102", "ICMSSN500", "ICMSSN900"}},
       {{"PISAliq", "PISNT", "PISNT", "PISNT", "PISNT"}, {"PISNT", "PISNT", "PISNT"}}},
  };
  for (const Tabela& tabela : tabelas) {
    for (V pacote : tabela.pacotes) {
      SCOPED_TRACE(tabela.arquivo + " with " + ToString(pacote));
      const std::vector<std::string> notas = Notas(tabela.arquivo, pacote);
      ASSERT_EQ(notas.size(), tabela.icms.size());
      for (std::size_t i = 0; i < notas.size(); ++i) {
        EXPECT_EQ(Elementos(notas[i], "ICMS"), tabela.icms[i]) << "note " << i + 1;
        EXPECT_EQ(Elementos(notas[i], "PIS"), tabela.pis[i]) << "note " << i + 1;
        std::vector<std::string> cofins = tabela.pis[i];
        for (std::string& forma : cofins) forma.replace(0, 3, "COFINS");
        EXPECT_EQ(Elementos(notas[i], "COFINS"), cofins) << "note " << i + 1;
      }
    }
  }
}

TEST(SchemaCorpus, NotesCarryTheFactsTheirFilesAreFor) {
  struct Fatos {
    const char* arquivo;
    V pacote;
    std::size_t nota;                  // zero-based
    std::vector<std::string> trechos;  // "!trecho": one the note must not have
  };
  const char* normal = "icms-regime-normal.tx2";
  const char* pagamentos = "pagamentos-destinatarios.tx2";
  const char* l310 = "leiaute-310.tx2";
  const char* antigo = "leiaute-antigo.tx2";
  const std::string natOpIndPag = "<natOp>VENDA AO CONSUMIDOR</natOp><indPag>0</indPag><mod>";
  // One row per note, its file, package and number first.
  // clang-format off
  const Fatos fatos[] = {
      // CST 41 with ST values, CST 00 with CSOSN 102, the 4.00 additions.
      {normal, V::pl_009g, 0, {
        "<ICMSST><orig>0</orig><CST>41</CST><vBCSTRet>100.00</vBCSTRet><vICMSSTRet>18.00"
        "</vICMSSTRet><vBCSTDest>100.00</vBCSTDest><vICMSSTDest>12.00</vICMSSTDest></ICMSST>",
        "<ICMS40><orig>0</orig><CST>40</CST><vICMSDeson>18.00</vICMSDeson><motDesICMS>9"
        "</motDesICMS></ICMS40>",
        "<vICMSSTDeson>1.00</vICMSSTDeson><motDesICMSST>9</motDesICMSST>",
        "<natOp>VENDA AO CONSUMIDOR</natOp><mod>"}},
      {normal, V::pl_009g, 1, {
        "<ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102>",
        "<pBCOp>100.00</pBCOp><UFST>RJ</UFST></ICMSPart>",
        "<vICMS>12.00</vICMS><vBCFCP>100.00</vBCFCP><pFCP>2.00</pFCP><vFCP>2.00</vFCP><pFCPDif>"
        "50.00</pFCPDif><vFCPDif>1.00</vFCPDif><vFCPEfet>1.00</vFCPEfet></ICMS51>",
        "<PISST><vBC>100.00</vBC><pPIS>1.65</pPIS><vPIS>1.65</vPIS><indSomaPISST>0"
        "</indSomaPISST></PISST>",
        "<COFINSST><qBCProd>1.0000</qBCProd><vAliqProd>0.4600</vAliqProd><vCOFINS>0.46</vCOFINS>"
        "<indSomaCOFINSST>1</indSomaCOFINSST></COFINSST>"}},
      {normal, V::pl_009, 0, {"!vICMSSTDeson"}},
      {normal, V::pl_009, 1, {"!pFCPDif"}},
      // Recipients, payments (no card fields for the cash payment), additional information,
      // technical contact.
      {pagamentos, V::pl_009g, 0, {
        "<dest><CPF>12345678909</CPF><xNome>JOSE DA SILVA</xNome><enderDest><xLgr>",
        "<pag><detPag><tPag>01</tPag><vPag>50.00</vPag></detPag><vTroco>20.00</vTroco></pag>",
        "<infCpl>Pedido 123 &amp; cia &lt;balcao&gt;</infCpl><obsCont xCampo=\"Vendedor\">"
        "<xTexto>Maria</xTexto></obsCont><obsCont xCampo=\"Caixa\"><xTexto>03</xTexto></obsCont>"
        "</infAdic><infRespTec><CNPJ>44555666000181</CNPJ><xContato>Suporte Qornfce</xContato>"
        "<email>suporte@qornfce.com.br</email><fone>1140028922</fone></infRespTec></infNFe>"}},
      {pagamentos, V::pl_009g, 1, {
        "<dest><CNPJ>33444555000181</CNPJ><xNome>EMPRESA CLIENTE LTDA</xNome><indIEDest>9"
        "</indIEDest></dest>",
        "<detPag><tPag>03</tPag><vPag>20.00</vPag><card><tpIntegra>1</tpIntegra><CNPJ>"
        "99888777000100</CNPJ><tBand>02</tBand><cAut>AUT123456</cAut></card></detPag><detPag>"
        "<tPag>01</tPag><vPag>20.00</vPag></detPag><vTroco>10.00</vTroco>"}},
      {pagamentos, V::pl_009g, 2, {
        "<dest><idEstrangeiro>AB1234567</idEstrangeiro><xNome>JOHN SMITH</xNome>",
        "<detPag><tPag>04</tPag><vPag>10.00</vPag><card><tpIntegra>2</tpIntegra></card></detPag>"
        "<detPag><tPag>01</tPag><vPag>20.00</vPag></detPag></pag>", "!NAOVAI"}},
      {pagamentos, V::pl_009g, 3, {"<detPag><indPag>0</indPag><tPag>17</tPag>", "!<dest>"}},
      // Layout 3.10: indPag in ide, one pag per payment, 3.10 exemption id, CEST from pl_008h.
      {l310, V::pl_008g, 0, {
        natOpIndPag, "</transp><pag><tPag>01</tPag><vPag>50.00</vPag></pag><pag>",
        "<card><tpIntegra>1</tpIntegra><CNPJ>",
        "<vICMSDeson>2.52</vICMSDeson><motDesICMS>9</motDesICMS></ICMS20>", "!FCP", "!<CEST>"}},
      {l310, V::pl_008h, 0, {
        "<NCM>22021000</NCM><CEST>0300700</CEST><CFOP>", "</infNFe><infNFeSupl><qrCode>https://"}},
      {l310, V::pl_008h, 1, {"!infNFeSupl"}},
      // The oldest packages.
      {antigo, V::pl_006n, 0, {
        natOpIndPag,
        "</cobr><pag><tPag>01</tPag><vPag>30.00</vPag></pag><pag><tPag>03</tPag><vPag>35.48"
        "</vPag><card><CNPJ>",
        "<comb><cProdANP>210203001</cProdANP><UFCons>SP</UFCons></comb>",
        "!<autXML>", "!infNFeSupl", "!vICMSDeson", "!vTotTrib"}},
      {antigo, V::pl_007a, 0, {
        "<imposto><vTotTrib>26.55</vTotTrib><ICMS>",
        "<vNF>65.48</vNF><vTotTrib>26.55</vTotTrib></ICMSTot>",
        "<comb><cProdANP>210203001</cProdANP>", "!<autXML>", "!vICMSDeson", "!infNFeSupl"}},
      {antigo, V::pl_008a, 0, {
        "</dest><autXML><CNPJ>44555666000181</CNPJ></autXML><det ",
        "<ICMS40><orig>0</orig><CST>40</CST><vICMSDeson>0.49</vICMSDeson><motDesICMS>9"
        "</motDesICMS></ICMS40>",
        "<vICMS>0.00</vICMS><vICMSDeson>0.49</vICMSDeson><vBCST>",
        "<comb><cProdANP>320102001</cProdANP><UFCons>SP</UFCons></comb>",
        "</cobr><pag><tPag>01</tPag>", "!tpIntegra", "!infNFeSupl"}},
      {antigo, V::pl_008g, 0, {
        "</cobr><pag><tPag>01</tPag>", "<card><tpIntegra>1</tpIntegra>",
        "<encerrante><nBico>3</nBico>", "</infNFe><infNFeSupl><qrCode>"}},
  };
  // clang-format on
  std::map<std::pair<std::string, V>, std::vector<std::string>> convertidas;
  for (const Fatos& f : fatos) {
    auto [it, nova] = convertidas.try_emplace({f.arquivo, f.pacote});
    if (nova) it->second = Notas(kCorpus + f.arquivo, f.pacote);
    ASSERT_LT(f.nota, it->second.size()) << f.arquivo;
    const std::string& nota = it->second[f.nota];
    SCOPED_TRACE(std::string(f.arquivo) + " with " + ToString(f.pacote) + ", note " +
                 std::to_string(f.nota + 1) + ":\n" + nota);
    for (const std::string& trecho : f.trechos) {
      if (trecho[0] == '!') {
        EXPECT_EQ(nota.find(trecho.substr(1)), std::string::npos) << trecho;
      } else {
        EXPECT_NE(nota.find(trecho), std::string::npos) << trecho;
      }
    }
  }
}

// ---- the samples: homologation notes of the SP test emitter whose totals add up

long long Centavos(const std::string& valor) { return std::llround(std::stod(valor) * 100); }

// Sum of every `<campo>` inside every `<bloco>` element.
long long Soma(const std::string& nota, const std::string& bloco, const std::string& campo) {
  long long soma = 0;
  const std::regex blocos("<" + bloco + ">(.*?)</" + bloco + ">");
  const std::regex campos("<" + campo + ">([0-9.]+)</" + campo + ">");
  for (std::sregex_iterator b(nota.begin(), nota.end(), blocos), end; b != end; ++b) {
    const std::string conteudo = (*b)[1];
    for (std::sregex_iterator c(conteudo.begin(), conteudo.end(), campos); c != end; ++c) {
      soma += Centavos((*c)[1]);
    }
  }
  return soma;
}

TEST(SchemaCorpus, SamplesAreHomologationNotesWhoseTotalsAddUp) {
  for (const char* exemplo : kAmostras) {
    SCOPED_TRACE(exemplo);
    const std::vector<std::string> notas = Notas(kExemplos + exemplo);
    ASSERT_EQ(notas.size(), 1u);
    const std::string& nota = notas[0];
    for (const char* trecho : {"<ide><cUF>35</cUF>", "<cMunFG>3550308</cMunFG>", "<tpAmb>2</tpAmb>",
                               "<emit><CNPJ>11222333000181</CNPJ>",
                               "<cMun>3550308</cMun><xMun>São Paulo</xMun><UF>SP</UF>"}) {
      EXPECT_NE(nota.find(trecho), std::string::npos) << trecho;
    }
    const std::string homologacao =
        "<xProd>NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL</xProd>";
    EXPECT_EQ(nota.compare(nota.find("<xProd>", nota.find("<det nItem=\"1\">")), homologacao.size(),
                           homologacao),
              0)
        << "the first item's xProd";
    const auto total = [&nota](const char* campo) { return Soma(nota, "ICMSTot", campo); };
    EXPECT_EQ(total("vProd"), Soma(nota, "prod", "vProd"));
    EXPECT_EQ(total("vDesc"), Soma(nota, "prod", "vDesc"));
    EXPECT_EQ(total("vBC"), Soma(nota, "ICMS", "vBC"));
    EXPECT_EQ(total("vICMS"), Soma(nota, "ICMS", "vICMS"));
    EXPECT_EQ(total("vST"), Soma(nota, "ICMS", "vICMSST"));
    EXPECT_EQ(total("vPIS"), Soma(nota, "PIS", "vPIS"));
    EXPECT_EQ(total("vCOFINS"), Soma(nota, "COFINS", "vCOFINS"));
    EXPECT_EQ(total("vTotTrib"), Soma(nota, "imposto", "vTotTrib"));
    EXPECT_EQ(total("vNF"), total("vProd") - total("vDesc") - total("vICMSDeson") + total("vST") +
                                total("vFCPST") + total("vFrete") + total("vSeg") +
                                total("vOutro") + total("vII") + total("vIPI") +
                                total("vIPIDevol"));
    EXPECT_EQ(Soma(nota, "pag", "vPag") - Soma(nota, "pag", "vTroco"), total("vNF"));
  }
}

}  // namespace
}  // namespace qor
