// The TX2 corpus (tests/conversion/corpus) and the samples (data/exemplos), converted with their
// schema package and checked by xmllint against the official XSD package, plus the facts each
// corpus file is there for: the element the ICMS, PIS and COFINS decision tables give for every
// code, payments, recipients, and what each older package writes differently.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::TempDir;
using V = TVersaoEsquema;

const std::string kCorpus = std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/corpus/";
const std::string kExemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";

// The notes of a TX2 file, in SALVAR order.
std::vector<std::string> Converter(const std::string& arquivo, V versao) {
  TqorNFCeConvTXTDataSet conversor;
  conversor.SetVersaoEsquema(versao);
  conversor.SetXMLDicionario(std::string(QORNFCE_BIN_DIR) +
                             "/Templates/vm60/Conversor/NFCeDataSets.xml");
  conversor.SetTXT(arquivo);
  const std::string lote = conversor.Converter();
  std::vector<std::string> notas;
  for (std::size_t inicio = 0, fim; (fim = lote.find("\r\n", inicio)) != std::string::npos;
       inicio = fim + 2) {
    notas.push_back(lote.substr(inicio, fim - inicio));
  }
  return notas;
}

// The note as the signing step leaves it: inside NFe, followed by a signature whose values are
// placeholders but whose form satisfies the package's xmldsig schema.
std::string NFe(const std::string& nota) {
  std::smatch id;
  std::regex_search(nota, id, std::regex("Id=\"(NFe[0-9]{44})\""));
  return "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + nota +
         "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
         "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
         "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
         "<Reference URI=\"#" +
         id.str(1) +
         "\"><Transforms>"
         "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
         "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
         "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>"
         "<DigestValue>2jmj7l5rSw0yVb/vlWAYkK/YBwk=</DigestValue></Reference></SignedInfo>"
         "<SignatureValue>c2lnbmF0dXJl</SignatureValue><KeyInfo><X509Data>"
         "<X509Certificate>Y2VydGlmaWNhdGU=</X509Certificate></X509Data></KeyInfo></Signature>"
         "</NFe>";
}

// xmllint's report on the note; empty when the schema accepts it.
std::string Rejeicao(const std::string& nota, const std::string& xsd) {
  return test::SchemaError(NFe(nota), xsd);
}

// The element names found right after each `<wrapper>` ("ICMS" gives ICMS00, ICMSSN102, ...).
std::vector<std::string> Elementos(const std::string& nota, const std::string& wrapper) {
  std::vector<std::string> names;
  const std::regex re("<" + wrapper + "><([A-Za-z0-9]+)>");
  for (std::sregex_iterator it(nota.begin(), nota.end(), re), end; it != end; ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

struct Lote {
  std::string arquivo;
  std::vector<V> pacotes;
  const char* xsd;
  std::size_t notas;
};

TEST(SchemaCorpus, EveryNoteValidatesAgainstItsPackage) {
  QOR_NEEDS_SCHEMAS();
  const std::vector<V> k400 = {V::pl_009g, V::pl_009};
  const std::vector<Lote> lotes = {
      {kCorpus + "icms-regime-normal.tx2", k400, "nfe_v4.00.xsd", 2},
      {kCorpus + "icms-simples-nacional.tx2", k400, "nfe_v4.00.xsd", 1},
      {kCorpus + "pagamentos-destinatarios.tx2", k400, "nfe_v4.00.xsd", 4},
      {kCorpus + "leiaute-310.tx2",
       {V::pl_008g, V::pl_008h, V::pl_008i, V::pl_008i1},
       "nfe_v3.10.xsd",
       2},
      {kCorpus + "leiaute-antigo.tx2", {V::pl_008a, V::pl_008g, V::pl_008h}, "nfe_v3.10.xsd", 1},
      {kExemplos + "nfce-um-item-dinheiro.tx2", k400, "nfe_v4.00.xsd", 1},
      {kExemplos + "nfce-varios-itens.tx2", k400, "nfe_v4.00.xsd", 1},
      {kExemplos + "nfce-cartao-troco.tx2", k400, "nfe_v4.00.xsd", 1},
      {kExemplos + "nfce-consumidor-identificado.tx2", k400, "nfe_v4.00.xsd", 1},
      {kExemplos + "nfce-simples-nacional.tx2", k400, "nfe_v4.00.xsd", 1},
  };
  for (const Lote& lote : lotes) {
    for (V pacote : lote.pacotes) {
      SCOPED_TRACE(lote.arquivo + " with " + ToString(pacote));
      std::vector<std::string> notas;
      try {
        notas = Converter(lote.arquivo, pacote);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "conversion failed: " << e.what();
        continue;
      }
      EXPECT_EQ(notas.size(), lote.notas);
      for (std::size_t i = 0; i < notas.size(); ++i) {
        EXPECT_EQ(Rejeicao(notas[i], lote.xsd), "") << "note " << i + 1 << ": " << notas[i];
      }
    }
  }
}

// Per note, the ICMS element and the PIS form of each item in order (COFINS follows PIS: the
// corpus gives both taxes the same CST).
struct Tabela {
  std::string arquivo;
  std::vector<V> pacotes;
  std::vector<std::vector<std::string>> icms, pis;
};

TEST(SchemaCorpus, DecisionTablesGiveTheElementOfEachCode) {
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
      const std::vector<std::string> notas = Converter(tabela.arquivo, pacote);
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

struct Fato {
  const char* arquivo;
  V pacote;
  std::size_t nota;  // zero-based
  const char* trecho;
  bool presente;
};

TEST(SchemaCorpus, NotesCarryTheFactsTheirFilesAreFor) {
  const char* normal = "icms-regime-normal.tx2";
  const char* pagamentos = "pagamentos-destinatarios.tx2";
  const char* l310 = "leiaute-310.tx2";
  const char* antigo = "leiaute-antigo.tx2";
  const Fato fatos[] = {
      // CST 41 with ST values, CST 00 with CSOSN 102, the 4.00 additions.
      {normal, V::pl_009g, 0,
       "<ICMSST><orig>0</orig><CST>41</CST><vBCSTRet>100.00</vBCSTRet><vICMSSTRet>18.00"
       "</vICMSSTRet><vBCSTDest>100.00</vBCSTDest><vICMSSTDest>12.00</vICMSSTDest></ICMSST>",
       true},
      {normal, V::pl_009g, 0,
       "<ICMS40><orig>0</orig><CST>40</CST><vICMSDeson>18.00</vICMSDeson><motDesICMS>9"
       "</motDesICMS></ICMS40>",
       true},
      {normal, V::pl_009g, 0, "<vICMSSTDeson>1.00</vICMSSTDeson><motDesICMSST>9</motDesICMSST>",
       true},
      {normal, V::pl_009g, 0, "<natOp>VENDA AO CONSUMIDOR</natOp><mod>", true},
      {normal, V::pl_009g, 1, "<ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102>", true},
      {normal, V::pl_009g, 1, "<pBCOp>100.00</pBCOp><UFST>RJ</UFST></ICMSPart>", true},
      {normal, V::pl_009g, 1,
       "<vICMS>12.00</vICMS><vBCFCP>100.00</vBCFCP><pFCP>2.00</pFCP><vFCP>2.00</vFCP><pFCPDif>"
       "50.00</pFCPDif><vFCPDif>1.00</vFCPDif><vFCPEfet>1.00</vFCPEfet></ICMS51>",
       true},
      {normal, V::pl_009g, 1,
       "<PISST><vBC>100.00</vBC><pPIS>1.65</pPIS><vPIS>1.65</vPIS><indSomaPISST>0"
       "</indSomaPISST></PISST>",
       true},
      {normal, V::pl_009g, 1,
       "<COFINSST><qBCProd>1.0000</qBCProd><vAliqProd>0.4600</vAliqProd><vCOFINS>0.46</vCOFINS>"
       "<indSomaCOFINSST>1</indSomaCOFINSST></COFINSST>",
       true},
      {normal, V::pl_009, 0, "vICMSSTDeson", false},
      {normal, V::pl_009, 1, "pFCPDif", false},
      // Recipients, payments, additional information, technical contact.
      {pagamentos, V::pl_009g, 0,
       "<dest><CPF>12345678909</CPF><xNome>JOSE DA SILVA</xNome><enderDest><xLgr>", true},
      {pagamentos, V::pl_009g, 0,
       "<pag><detPag><tPag>01</tPag><vPag>50.00</vPag></detPag>"
       "<vTroco>20.00</vTroco></pag>",
       true},
      {pagamentos, V::pl_009g, 0,
       "<infCpl>Pedido 123 &amp; cia &lt;balcao&gt;</infCpl><obsCont xCampo=\"Vendedor\">"
       "<xTexto>Maria</xTexto></obsCont><obsCont xCampo=\"Caixa\"><xTexto>03</xTexto></obsCont>"
       "</infAdic><infRespTec><CNPJ>44555666000181</CNPJ><xContato>Suporte Qornfce</xContato>"
       "<email>suporte@qornfce.com.br</email><fone>1140028922</fone></infRespTec></infNFe>",
       true},
      {pagamentos, V::pl_009g, 1,
       "<dest><CNPJ>33444555000181</CNPJ><xNome>EMPRESA CLIENTE LTDA</xNome><indIEDest>9"
       "</indIEDest></dest>",
       true},
      {pagamentos, V::pl_009g, 1,
       "<detPag><tPag>03</tPag><vPag>20.00</vPag><card><tpIntegra>1</tpIntegra><CNPJ>"
       "99888777000100</CNPJ><tBand>02</tBand><cAut>AUT123456</cAut></card></detPag><detPag>"
       "<tPag>01</tPag><vPag>20.00</vPag></detPag><vTroco>10.00</vTroco>",
       true},
      {pagamentos, V::pl_009g, 2,
       "<dest><idEstrangeiro>AB1234567</idEstrangeiro><xNome>JOHN SMITH</xNome>", true},
      {pagamentos, V::pl_009g, 2,
       "<detPag><tPag>04</tPag><vPag>10.00</vPag><card><tpIntegra>2</tpIntegra></card></detPag>"
       "<detPag><tPag>01</tPag><vPag>20.00</vPag></detPag></pag>",
       true},
      {pagamentos, V::pl_009g, 2, "NAOVAI", false},  // card fields of the cash payment
      {pagamentos, V::pl_009g, 3, "<dest>", false},
      {pagamentos, V::pl_009g, 3, "<detPag><indPag>0</indPag><tPag>17</tPag>", true},
      // Layout 3.10: indPag in ide, one pag per payment, 3.10 exemption id, CEST from pl_008h.
      {l310, V::pl_008g, 0, "<natOp>VENDA AO CONSUMIDOR</natOp><indPag>0</indPag><mod>", true},
      {l310, V::pl_008g, 0, "</transp><pag><tPag>01</tPag><vPag>50.00</vPag></pag><pag>", true},
      {l310, V::pl_008g, 0, "<card><tpIntegra>1</tpIntegra><CNPJ>", true},
      {l310, V::pl_008g, 0, "<vICMSDeson>2.52</vICMSDeson><motDesICMS>9</motDesICMS></ICMS20>",
       true},
      {l310, V::pl_008g, 0, "FCP", false},
      {l310, V::pl_008g, 0, "<CEST>", false},
      {l310, V::pl_008h, 0, "<NCM>22021000</NCM><CEST>0300700</CEST><CFOP>", true},
      {l310, V::pl_008h, 0, "</infNFe><infNFeSupl><qrCode>https://", true},
      {l310, V::pl_008h, 1, "infNFeSupl", false},
      // The oldest packages.
      {antigo, V::pl_006n, 0, "<natOp>VENDA AO CONSUMIDOR</natOp><indPag>0</indPag><mod>", true},
      {antigo, V::pl_006n, 0, "<autXML>", false},
      {antigo, V::pl_006n, 0,
       "</cobr><pag><tPag>01</tPag><vPag>30.00</vPag></pag><pag><tPag>03</tPag><vPag>35.48"
       "</vPag><card><CNPJ>",
       true},
      {antigo, V::pl_006n, 0, "infNFeSupl", false},
      {antigo, V::pl_006n, 0, "vICMSDeson", false},
      {antigo, V::pl_006n, 0, "<comb><cProdANP>210203001</cProdANP><UFCons>SP</UFCons></comb>",
       true},
      {antigo, V::pl_006n, 0, "vTotTrib", false},
      {antigo, V::pl_007a, 0, "<imposto><vTotTrib>26.55</vTotTrib><ICMS>", true},
      {antigo, V::pl_007a, 0, "<vNF>65.48</vNF><vTotTrib>26.55</vTotTrib></ICMSTot>", true},
      {antigo, V::pl_007a, 0, "<autXML>", false},
      {antigo, V::pl_007a, 0, "vICMSDeson", false},
      {antigo, V::pl_007a, 0, "<comb><cProdANP>210203001</cProdANP>", true},
      {antigo, V::pl_007a, 0, "infNFeSupl", false},
      {antigo, V::pl_008a, 0, "</dest><autXML><CNPJ>44555666000181</CNPJ></autXML><det ", true},
      {antigo, V::pl_008a, 0,
       "<ICMS40><orig>0</orig><CST>40</CST><vICMSDeson>0.49</vICMSDeson><motDesICMS>9"
       "</motDesICMS></ICMS40>",
       true},
      {antigo, V::pl_008a, 0, "<vICMS>0.00</vICMS><vICMSDeson>0.49</vICMSDeson><vBCST>", true},
      {antigo, V::pl_008a, 0, "<comb><cProdANP>320102001</cProdANP><UFCons>SP</UFCons></comb>",
       true},
      {antigo, V::pl_008a, 0, "</cobr><pag><tPag>01</tPag>", true},
      {antigo, V::pl_008a, 0, "tpIntegra", false},
      {antigo, V::pl_008a, 0, "infNFeSupl", false},
      {antigo, V::pl_008g, 0, "</cobr><pag><tPag>01</tPag>", true},
      {antigo, V::pl_008g, 0, "<card><tpIntegra>1</tpIntegra>", true},
      {antigo, V::pl_008g, 0, "<encerrante><nBico>3</nBico>", true},
      {antigo, V::pl_008g, 0, "</infNFe><infNFeSupl><qrCode>", true},
  };
  std::map<std::pair<std::string, V>, std::vector<std::string>> convertidas;
  for (const Fato& fato : fatos) {
    auto [it, nova] = convertidas.try_emplace({fato.arquivo, fato.pacote});
    if (nova) it->second = Converter(kCorpus + fato.arquivo, fato.pacote);
    const std::vector<std::string>& notas = it->second;
    ASSERT_LT(fato.nota, notas.size()) << fato.arquivo;
    EXPECT_EQ(notas[fato.nota].find(fato.trecho) != std::string::npos, fato.presente)
        << fato.arquivo << " with " << ToString(fato.pacote) << ", note " << fato.nota + 1
        << (fato.presente ? " lacks " : " has ") << fato.trecho << "\n"
        << notas[fato.nota];
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
  for (const char* exemplo :
       {"nfce-um-item-dinheiro.tx2", "nfce-varios-itens.tx2", "nfce-cartao-troco.tx2",
        "nfce-consumidor-identificado.tx2", "nfce-simples-nacional.tx2"}) {
    SCOPED_TRACE(exemplo);
    const std::vector<std::string> notas = Converter(kExemplos + exemplo, V::pl_009g);
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
