// The DANFCE data built from notes converted from the TX2 samples and signed, given as the
// authorised nfeProc the distribution XML holds (protocol made here: cStat, nProt, dhRecbto,
// digVal) or as the bare signed NFe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "danfce/FormatosDanfce.h"
#include "danfce/TqorNFCeDanfceDados.h"
#include "platform/Text.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(FormatosDanfce, NumbersAreShownAsThePrintedDocumentWritesThem) {
  struct Caso {
    std::string entrada, virgula, duas, quatro;
  };
  for (const Caso& c :
       std::vector<Caso>{{"", "0,00", "0,00", "0,0000"},
                         {"15", "15", "15", "15"},
                         {"150", "150", "150", "150"},
                         {"1000000.5", "1.000.000,5", "1.000.000,50", "1.000.000,5000"},
                         {"1234.56", "1.234,56", "1.234,56", "1.234,5600"},
                         {"-1234.5", "-1.234,5", "-1.234,50", "-1.234,5000"},
                         {"2.12999", "2,12999", "2,12", "2,1299"},
                         {"0.5", "0,5", "0,50", "0,5000"}}) {
    SCOPED_TRACE(c.entrada);
    const std::string v = VirgulaDecimal(c.entrada);
    EXPECT_EQ(v, c.virgula);
    EXPECT_EQ(FormataValorDuasCasas(v), c.duas);
    EXPECT_EQ(FormataValorQuatroCasas(v), c.quatro);
  }
  EXPECT_EQ(CopiaValorDecimal("12,3400"), "3400");
  EXPECT_FALSE(ValorDecimalDiferenteDeZero("2,123400", 4));
  EXPECT_TRUE(ValorDecimalDiferenteDeZero("0,0012345", 4));
  EXPECT_EQ(RemoveZeroAposUltimoNumeroDecimal("0,0012300"), "0,00123");
}

TEST(FormatosDanfce, WordWrapKeepsEveryWordAndTheLimits) {
  const std::string texto = "um dois tres quatro cinco seis sete oito nove dez onze doze treze";
  std::string principal, continuacao;
  SeparaObservacoes(texto, 20, 2, true, principal, continuacao);
  std::vector<std::string> linhas;
  for (std::size_t de = 0, ate;; de = ate + 2) {
    ate = principal.find("\r\n", de);
    linhas.push_back(principal.substr(de, ate - de));
    if (ate == std::string::npos) break;
  }
  EXPECT_EQ(linhas.size(), 2u);
  for (const std::string& l : linhas) EXPECT_LT(l.size(), 20u) << l;
  const std::string cabecalho = std::string(kCabecalhoContinuacao) + "\r\n";
  ASSERT_TRUE(continuacao.starts_with(cabecalho));
  std::string juntas = principal + " " + continuacao.substr(cabecalho.size());
  ReplaceAll(juntas, "\r\n", " ");
  EXPECT_EQ(juntas, texto);
  // A long line without breaks is cut at the column limit when not word-wrapped.
  SeparaObservacoes(std::string(25, 'x'), 10, 7, false, principal, continuacao);
  EXPECT_EQ(principal, "xxxxxxxxxx\r\nxxxxxxxxxx\r\nxxxxx");
}

class DanfceDadosTest : public ::testing::Test {
 protected:
  // The samples converted and signed once for the program: note 1001 (one item, cash), 1002
  // (several items), 1003 (card and cash with change).
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    const auto& pki = test::SharedPki();
    TqorNFCe nfce;
    nfce.SetDiretorioLogErro(dir_->path() + "LogErro/");
    nfce.SetDiretorioLog(dir_->path() + "Log/");
    nfce.SetUF("SP");
    nfce.SetCNPJ(pki.cnpj);
    test::WriteFile(dir_->path() + "hom.ini",
                    "[SP]\nURLQRCODE=https://nfce.teste/qrcode\n[URLCONSULTACHAVE]\n"
                    "SP=https://nfce.teste/chave\n");
    nfce.SetArquivoServidoresHom(dir_->path() + "hom.ini");
    nfce.SetCaminhoCertificado(pki.companyPfx);
    nfce.SetSenhaCertificado(pki.password);
    nfce.GetDanfceSettings().SetIdTokenNFCe("000001");
    nfce.GetDanfceSettings().SetTokenNFCe("0123456789ABCDEF0123456789ABCDEF0123");
    const std::string exemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
    std::string tx2;
    for (const char* nome :
         {"nfce-um-item-dinheiro.tx2", "nfce-varios-itens.tx2", "nfce-cartao-troco.tx2"})
      tx2 += test::ReadFile(exemplos + nome);
    const std::string assinadas = nfce.AssinarNota(
        nfce.ConverterLoteParaXml(tx2, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
    notas_ = new std::vector<std::string>();
    for (std::size_t de = assinadas.find("<NFe "), ate; de != std::string::npos;
         de = assinadas.find("<NFe ", ate)) {
      ate = assinadas.find("</NFe>", de) + 6;
      notas_->push_back(assinadas.substr(de, ate - de));
    }
  }
  static void TearDownTestSuite() {
    delete notas_;
    delete dir_;
  }

  // The note as the distribution XML keeps it, with a protocol of status `cStat`.
  static std::string Proc(const std::string& nfe, const std::string& cStat = "100",
                          const std::string& nProt = "135260000012345",
                          const std::string& xMsg = "") {
    const std::size_t id = nfe.find("Id=\"NFe") + 7;
    return "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">" + nfe +
           "<protNFe versao=\"4.00\"><infProt><tpAmb>2</tpAmb><verAplic>SP_NFCE</verAplic>"
           "<chNFe>" +
           nfe.substr(id, 44) + "</chNFe><dhRecbto>2026-12-07T11:05:20-03:00</dhRecbto><nProt>" +
           nProt + "</nProt><digVal>" + Entre(nfe, "<DigestValue>", "</DigestValue>") +
           "</digVal><cStat>" + cStat + "</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>" +
           (xMsg.empty() ? "" : "<cMsg>200</cMsg><xMsg>" + xMsg + "</xMsg>") +
           "</infProt></protNFe></nfeProc>";
  }
  static std::string Entre(const std::string& t, const std::string& de, const std::string& ate) {
    const std::size_t i = t.find(de) + de.size();
    return t.substr(i, t.find(ate, i) - i);
  }
  // `texto` with its first `de` replaced by `para` (the test fails when there is none).
  static std::string Troca(std::string texto, const std::string& de, const std::string& para) {
    const std::size_t i = texto.find(de);
    EXPECT_NE(i, std::string::npos) << de;
    if (i != std::string::npos) texto.replace(i, de.size(), para);
    return texto;
  }
  static std::vector<std::string> Coluna(TqorDataSet& tabela, const std::string& campo) {
    std::vector<std::string> valores;
    for (std::size_t r = 0; r < tabela.StoredCount(); ++r)
      valores.push_back(tabela.StoredValue(r, tabela.FieldByName(campo)));
    return valores;
  }
  TqorNFCeDanfceDados& Popula(const std::string& xml, const std::string& params = "") {
    dados->SetDiretorioLogErro(dir_->path() + "LogErro/");
    dados->SetXml(xml);
    dados->PopulaDataSet(params);
    return *dados;
  }
  const std::string& Nota(std::size_t i) const { return notas_->at(i); }

  static test::TempDir* dir_;
  static std::vector<std::string>* notas_;
  std::unique_ptr<TqorNFCeDanfceDados> dados = std::make_unique<TqorNFCeDanfceDados60>();
};
test::TempDir* DanfceDadosTest::dir_ = nullptr;
std::vector<std::string>* DanfceDadosTest::notas_ = nullptr;

// The authorised documents the tests print are what the official schema accepts.
TEST_F(DanfceDadosTest, HandMadeAuthorisationFollowsTheOfficialSchema) {
  QOR_NEEDS_SCHEMAS();
  for (const std::string& nota : *notas_)
    EXPECT_EQ(test::SchemaError(Proc(nota, "100", "135260000012345", "a|b"), "procNFe_v4.00.xsd"),
              "");
}

TEST_F(DanfceDadosTest, BatchGivesOneRecordPerNoteAndDetailsCarryTheirNote) {
  ASSERT_EQ(notas_->size(), 3u);
  const std::string lote = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root>" + Proc(Nota(0)) +
                           Proc(Nota(1)) + Proc(Nota(2)) + "</root>";
  auto& d = Popula(lote);
  EXPECT_THAT(Coluna(d.Dados(), "nNF"), ElementsAre("000001001", "000001002", "000001003"));
  std::vector<std::string> porNota;
  for (std::size_t i = 0; i < 3; ++i) {
    std::size_t itens = 0;
    for (std::size_t at = 0; (at = Nota(i).find("<det ", at)) != std::string::npos; ++at) ++itens;
    porNota.push_back(std::to_string(itens));
    const std::vector<std::string> nNFItens = Coluna(d.DadosItens(), "nNF");
    EXPECT_EQ(std::count(nNFItens.begin(), nNFItens.end(), Coluna(d.Dados(), "nNF")[i]), itens);
  }
  EXPECT_THAT(Coluna(d.Dados(), "QuantidadeItensNota"), ElementsAreArray(porNota));
  EXPECT_NE(porNota[0], porNota[1]);
  EXPECT_THAT(Coluna(d.Dados(), "nProt"),
              ElementsAre("135260000012345", "135260000012345", "135260000012345"));
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("CodBarra")),
            Entre(Nota(0), "Id=\"NFe", "\""));
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("URLChave")),
            "https://nfce.teste/chave");
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("DtEmissao")).size(), 19u);
  // vUnCom 18.9000000000 and qCom 1.2500 of the samples.
  EXPECT_THAT(Coluna(d.DadosItens(), "ItemVUnit"), ::testing::Contains("18,9000"));
  EXPECT_THAT(Coluna(d.DadosItens(), "ItemQuantidade"), ::testing::Contains("1,2500"));
  EXPECT_EQ(Coluna(d.DadosPagamentos(), "nNF").back(), "000001003");
}

TEST_F(DanfceDadosTest, UnitPriceKeepsItsSignificantDecimals) {
  const std::string vUnCom = Entre(Nota(0), "<vUnCom>", "</vUnCom>");
  for (const auto& [entrada, saida] : std::vector<std::pair<std::string, std::string>>{
           {"2.123400", "2,1234"}, {"0.0012345", "0,0012345"}, {"1234.5", "1.234,5000"}}) {
    auto& d = Popula(Proc(Troca(Nota(0), "<vUnCom>" + vUnCom, "<vUnCom>" + entrada)));
    EXPECT_EQ(d.DadosItens().StoredValue(0, d.DadosItens().FieldByName("ItemVUnit")), saida);
  }
}

TEST_F(DanfceDadosTest, AdditionalInformationIsSplitAtTheRowLimit) {
  const std::string infCpl = Entre(Nota(1), "<infCpl>", "</infCpl>");
  dados->SetLineDelimiter("|");
  auto& d = Popula(Proc(Troca(Nota(1), infCpl, "L1|L2|L3|L4|L5|L6|L7|L8|L9|L10")));
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("ObsContribuinte")),
            "L1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\r\nL7");
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("ContinuaObsContribuinte")),
            "CONTINUAÇÃO DAS INFORMAÇÕES COMPLEMENTARES\r\nL8\r\nL9\r\nL10");
}

TEST_F(DanfceDadosTest, PreviewPhraseEvenOnAnAuthorisedNote) {
  dados->SetFraseHomologacao("HOMOLOGAÇÃO");
  EXPECT_EQ(
      Popula(Proc(Nota(0))).Dados().StoredValue(0, dados->Dados().FieldByName("FraseHomologacao")),
      "HOMOLOGAÇÃO");
  dados->SetValidarRegrasNegocio(false);
  auto& d = Popula(Proc(Nota(0)));
  EXPECT_EQ(d.Dados().StoredValue(0, d.Dados().FieldByName("FraseHomologacao")),
            "\rPREVISÃO DE DANFCE. SEM VALOR FISCAL");
}

TEST_F(DanfceDadosTest, PaymentNamesChangeAndAmountReceived) {
  const std::string nota = Troca(Nota(0), Entre(Nota(0), "<pag>", "</pag>"),
                                 "<detPag><tPag>TPAG<vPag>50.00</vPag></detPag>");
  struct Caso {
    std::string tPag, descricao;
  };
  for (const Caso& c : std::vector<Caso>{{"99</tPag><xPag>Vale da casa</xPag>", "Vale da casa"},
                                         {"99</tPag>", "Outros"},
                                         {"17</tPag>", "Pagamento Instantâneo (PIX)"},
                                         {"01</tPag>", "Dinheiro"},
                                         {"20</tPag>", "20"}}) {
    auto& d = Popula(Proc(Troca(nota, "TPAG", c.tPag)));
    EXPECT_THAT(Coluna(d.DadosPagamentos(), "descricaoFormaPagamento"), ElementsAre(c.descricao));
  }
  auto& d = Popula(Proc(Troca(nota, "TPAG", "01</tPag>")),
                   "Impressora=x\r\nParamsAvancados=VALORTROCO=1.5;VALORRECEBIDO=1234,5");
  EXPECT_THAT(Coluna(d.DadosPagamentos(), "valorPago"), ElementsAre("50,00"));
  EXPECT_THAT(Coluna(d.DadosPagamentos(), "valorTroco"), ElementsAre("1,50"));
  EXPECT_THAT(Coluna(d.DadosPagamentos(), "valorRecebido"), ElementsAre("1.234,50"));
  // The note's own change takes precedence over the parameter; every payment shows it.
  Popula(Proc(Nota(2)), "ParamsAvancados=VALORTROCO=1.5");
  EXPECT_THAT(Coluna(d.DadosPagamentos(), "valorTroco"),
              ::testing::Each(VirgulaDecimal(Entre(Nota(2), "<vTroco>", "</vTroco>"))));
  EXPECT_EQ(Coluna(d.DadosPagamentos(), "valorTroco").size(), 2u);
}

TEST_F(DanfceDadosTest, RefusalsLeaveNothingFilled) {
  const std::string contingencia = Troca(Nota(0), "<tpEmis>1</tpEmis>", "<tpEmis>4</tpEmis>");
  const std::string semAssinatura = Nota(0).substr(0, Nota(0).find("<Signature")) + "</NFe>";
  struct Caso {
    std::string xml, mensagem;
    bool v202 = false;
  };
  for (const Caso& c : std::vector<Caso>{
           {Nota(0), "O Xml não é válido para impressão em modo Normal"},
           {Proc(Nota(1)) + Proc(Nota(0), "110"), "Danfce não autorizada para Impressão."},
           {Proc(Nota(0), "100", ""), "Número de Protocolo não encontrado."},
           {contingencia, "Protocolo de EPEC não foi informado"},
           {semAssinatura, "A Nota não possui Assinatura", true}}) {
    SCOPED_TRACE(c.mensagem);
    if (c.v202) dados = std::make_unique<TqorNFCeDanfceDados202>();
    EXPECT_EQ(MessageOf<EqorNFCeReportException>([&] { Popula(c.xml); }), c.mensagem);
    EXPECT_EQ(dados->Dados().StoredCount(), 0u);
    EXPECT_EQ(dados->DadosItens().StoredCount(), 0u);
  }
}

TEST_F(DanfceDadosTest, ContingencyWithEpecProtocol) {
  const std::string nota =
      Troca(Troca(Nota(0), "<tpEmis>1</tpEmis>", "<tpEmis>4</tpEmis>"), "</ide>",
            "<dhCont>2026-12-07T11:00:00-03:00</dhCont><xJust>Falha de comunicacao com a "
            "SEFAZ</xJust></ide>");
  dados->SetProtocoloEPEC("135260000099999");
  dados->SetDataHoraEPEC("2026-12-07T11:01:00-03:00");
  dados->SetFraseContingencia("EMITIDA EM CONTINGÊNCIA");
  auto& d = Popula(nota);
  const auto campo = [&](const char* nome) {
    return d.Dados().StoredValue(0, d.Dados().FieldByName(nome));
  };
  EXPECT_EQ(campo("nProtEpec"), "135260000099999");
  EXPECT_EQ(campo("dhRecbto"), "2026-12-07T11:01:00-03:00");
  EXPECT_EQ(campo("nProt"), "");
  EXPECT_EQ(campo("FraseContingencia"),
            "EMITIDA EM CONTINGÊNCIA [Falha de comunicacao com a SEFAZ]");
  EXPECT_EQ(campo("dhContingencia"), "2026-12-07T11:00:00-03:00");
}

TEST_F(DanfceDadosTest, TotalsMessagesAndFreeTexts) {
  std::string nota = Nota(0);
  for (const char* campo : {"vFrete", "vSeg", "vOutro"}) {
    const std::string atual =
        "<" + std::string(campo) + ">" + Entre(nota, "<" + std::string(campo) + ">", "</") + "<";
    nota = Troca(nota, atual,
                 "<" + std::string(campo) + ">" +
                     (campo == std::string("vFrete") ? "3.30"
                      : campo == std::string("vSeg") ? "2.20"
                                                     : "1000.10") +
                     "<");
  }
  nota = Troca(nota, "<xProd>", "<xProd>A &amp; B ");
  const std::string params =
      "ParamsAvancados=textoLivre=linha 1|linha 2; IDENTIFICACAOVIA= Via do cliente ";
  auto& d = Popula(Proc(nota, "100", "135260000012345", "Sorteio|Nota premiada"), params);
  const auto campo = [&](const char* nome) {
    return d.Dados().StoredValue(0, d.Dados().FieldByName(nome));
  };
  EXPECT_EQ(campo("ValorAcrescimo"), "1.005,60");
  EXPECT_EQ(campo("xMsg"), "Nota premiada");
  EXPECT_EQ(campo("TextoLivre"), "linha 1\rlinha 2");
  EXPECT_EQ(campo("IdentificacaoVia"), " Via do cliente ");
  EXPECT_EQ(campo("ImprimirFrete"), "False");
  EXPECT_TRUE(d.DadosItens()
                  .StoredValue(0, d.DadosItens().FieldByName("ItemDescricao"))
                  .starts_with("A & B "));
  dados->SetImprimirFrete(true);
  Popula(Proc(nota, "100", "135260000012345", "a|b|c"));
  EXPECT_EQ(campo("ValorAcrescimo"), "1.002,30");
  EXPECT_EQ(campo("xMsg"), "b c");
  EXPECT_EQ(campo("ImprimirFrete"), "True");
}

// References of every kind (one record in each of the five sets per reference), duplicates,
// the observations to the taxpayer, the simplified-regime code of an item, an item of services,
// and the contingency data string of an emission off line (tpEmis 5).
TEST_F(DanfceDadosTest, ReferencesDuplicatesObservationsAndContingencyData) {
  std::string nota = Troca(Nota(0), "</ide>",
                           "<NFref><refNFe>35261211222333000181650010000010011102938470</refNFe>"
                           "</NFref><NFref><refECF><mod>2D</mod><nECF>7</nECF><nCOO>123</nCOO>"
                           "</refECF></NFref></ide>");
  nota = Troca(nota, "<tpEmis>1</tpEmis>", "<tpEmis>5</tpEmis>");
  nota = Troca(nota, "<emit>",
               "<dest><CPF>52998224725</CPF><enderDest><UF>RJ</UF></enderDest>"
               "</dest><emit>");
  nota = Troca(nota, "</transp>",
               "</transp><cobr><dup><nDup>001</nDup><dVenc>2027-01-15</dVenc><vDup>1234.50</vDup>"
               "</dup></cobr>");
  nota = Troca(nota, "</infNFe>",
               "<infAdic><obsCont xCampo=\"Pedido\"><xTexto>42</xTexto></obsCont></infAdic>"
               "</infNFe>");
  const std::string icms = "<ICMS>" + Entre(nota, "<ICMS>", "</ICMS>") + "</ICMS>";
  nota = Troca(nota, icms, "<ICMS><ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102></ICMS>");
  auto& d = Popula(Proc(nota));
  EXPECT_THAT(Coluna(d.DadosNFeReferenciada(), "ChaveNFeRef"),
              ElementsAre("35261211222333000181650010000010011102938470", ""));
  EXPECT_THAT(Coluna(d.DadosCupomFiscalReferenciado(), "NumeroCOOCupomFiscalRef"),
              ElementsAre("", "123"));
  for (TqorDataSet* conjunto : {&d.DadosNF1AReferenciada(), &d.DadosNFProdutorRuralReferenciada(),
                                &d.DadosCTeReferenciado()}) {
    EXPECT_EQ(conjunto->StoredCount(), 2u) << conjunto->Name();
  }
  const std::string nNF = d.Dados().StoredValue(0, d.Dados().FieldByName("nNF"));
  EXPECT_THAT(Coluna(d.DadosCTeReferenciado(), "nNF"), ElementsAre(nNF, nNF));
  EXPECT_THAT(Coluna(d.DadosCobranca(), "DtVencimento"), ElementsAre("15/01/2027"));
  EXPECT_THAT(Coluna(d.DadosCobranca(), "ValorDuplicata"), ElementsAre("1.234,50"));
  EXPECT_THAT(Coluna(d.InfAdicObsFisco(), "InfAdicObsFiscoCampo"), ElementsAre("Pedido"));
  EXPECT_THAT(Coluna(d.InfAdicObsFisco(), "InfAdicObsFiscoTexto"), ElementsAre("42"));
  EXPECT_THAT(Coluna(d.DadosItens(), "ItemCST"), ElementsAre("102"));
  // The contingency string: cUF of the recipient's state, tpEmis, the CPF zero-filled to 14.
  const std::string contingencia =
      d.Dados().StoredValue(0, d.Dados().FieldByName("CodBarraDadosNFe"));
  EXPECT_EQ(contingencia.size(), 36u);
  EXPECT_TRUE(contingencia.starts_with("33500052998224725")) << contingencia;
  EXPECT_TRUE(
      Coluna(Popula(Proc(Troca(nota, "</imposto>", "<ISSQN><vBC>1.00</vBC></ISSQN></imposto>")))
                 .DadosItens(),
             "ItemCST")
          .front()
          .empty());
}

TEST_F(DanfceDadosTest, VolumesAreListedAndSummedWhenAsked) {
  const std::string transp = "<transp>" + Entre(Nota(0), "<transp>", "</transp>") + "</transp>";
  const std::string nota =
      Troca(Nota(0), transp,
            "<transp><modFrete>1</modFrete><vol><qVol>1</qVol><esp>CX</esp><marca>M1</marca><nVol>7"
            "</nVol><pesoL>1000.500</pesoL><pesoB>1000.500</pesoB></vol><vol><qVol>2</qVol><esp>SC"
            "</esp><marca>M2</marca><nVol>8</nVol><pesoB>234.600</pesoB></vol></transp>");
  dados->SetImprimirVolume(true);
  auto& d = Popula(Proc(nota));
  const auto campo = [&](const char* nome) {
    return d.Dados().StoredValue(0, d.Dados().FieldByName(nome));
  };
  EXPECT_THAT(Coluna(d.Vol(), "VolPesoBruto"), ElementsAre("1.000,500", "234,600"));
  EXPECT_THAT(Coluna(d.Vol(), "VolPesoLiquido"), ElementsAre("1.000,500", ""));
  EXPECT_EQ(campo("VolEspecie"), "VER INF. COMP.");
  EXPECT_EQ(campo("VolQuantidade"), "3");
  EXPECT_EQ(campo("VolPesoBruto"), "1.235");
  EXPECT_EQ(campo("TraDescMod"), "1-Dest/Rem");
  EXPECT_TRUE(campo("ObsContribuinte")
                  .starts_with("Esp.: CX Marca: M1 Num.: 7\r\nEsp.: SC Marca: M2 Num.: 8"));
  dados->SetImprimirVolume(false);
  Popula(Proc(nota));
  EXPECT_EQ(campo("VolEspecie"), "SC");
  EXPECT_EQ(campo("VolPesoBruto"), "234,600");
}

}  // namespace
}  // namespace qor
