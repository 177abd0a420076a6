// Filled templates against the official XSD package (xmllint --schema). Signed documents get
// the catalogue's own signature skeleton filled with made-up Base64 values, which the schema
// checks for shape and for the fixed algorithm identifiers.
//
// Bodies of the national environment (versions 2.00 and 2.01) are not covered: the package has
// no schema for those layouts.
#include "TemplateTestSupport.h"

namespace qor::testing {
namespace {

const std::string& kKey = kSampleKey;
const std::string kCnpj = "11222333000181";
const std::string kDigest = "1JOTcOPq4q3fcyTvh2TyF4M5UUU=";

std::string T(TVersaoManual v, const std::string& name) { return Load(v, "SP", name); }

// The outer XML of the first `tag` element of `xml` (text search, as the component does).
std::string Element(const std::string& xml, const std::string& tag) {
  auto begin = xml.find("<" + tag + " ");
  if (begin == std::string::npos) begin = xml.find("<" + tag + ">");
  const auto end = xml.find("</" + tag + ">", begin);
  if (begin == std::string::npos || end == std::string::npos) return {};
  return xml.substr(begin, end + tag.size() + 3 - begin);
}

std::string DropDeclaration(const std::string& xml) {
  return xml.rfind("<?xml", 0) == 0 ? xml.substr(xml.find("?>") + 2) : xml;
}

std::string Signature(const std::string& uri) {
  std::string sig = Fill(T(TVersaoManual::vm60, "signature_info.xml"), {uri});
  const std::pair<std::string, std::string> values[] = {
      {"DigestValue", kDigest},
      {"SignatureValue", std::string(340, 'A') + "AAA="},
      {"X509Certificate", "MIIB" + std::string(400, 'Q')}};
  for (const auto& [tag, value] : values) {
    const std::string empty = "<" + tag + "></" + tag + ">";
    const auto pos = sig.find(empty);
    EXPECT_NE(pos, std::string::npos) << tag << " is not empty in the skeleton";
    if (pos != std::string::npos)
      sig.replace(pos, empty.size(), "<" + tag + ">" + value + "</" + tag + ">");
  }
  return sig;
}

class Schema : public ::testing::TestWithParam<TVersaoManual> {
 protected:
  void SetUp() override { QOR_NEEDS_SCHEMAS(); }
  TVersaoManual v() const { return GetParam(); }
  std::string layout() const { return v() == TVersaoManual::vm60 ? "4.00" : "3.10"; }
  void ExpectValid(const std::string& xml, const std::string& xsd) {
    const std::string path = SchemaFile(xsd);
    ASSERT_FALSE(path.empty()) << xsd << " missing from the package";
    EXPECT_EQ(SchemaError(xml, path), "") << xsd << "\n" << xml;
  }
  // The sample batch with the sample item in its place.
  std::string SampleBatch() {
    return Fill(T(v(), "valida_cabecalho.xml"), {T(v(), "valida_item.xml")});
  }
};

TEST_P(Schema, QueriesOfStatusNoteAndReceipt) {
  ExpectValid(Fill(T(v(), "pedido_status.xml"), {"2", "35"}), "consStatServ_v" + layout() + ".xsd");
  ExpectValid(Fill(T(v(), "pedido_consultanf.xml"), {"1", kKey}),
              "consSitNFe_v" + layout() + ".xsd");
  ExpectValid(Fill(T(v(), "pedido_consultarecibo.xml"), {"2", "351000000123456"}),
              "consReciNFe_v" + layout() + ".xsd");
}

TEST_P(Schema, SampleBatchValidatesApartFromItsPlaceholder) {
  const std::string batch = SampleBatch();
  ExpectValid(batch, "enviNFe_v4.00.xsd");
  // The header check puts a note's own infNFe (items replaced by the sample) into the other
  // fixture.
  const std::string infNFe = Element(batch, "infNFe");
  ASSERT_FALSE(infNFe.empty());
  ExpectValid(Fill(T(v(), "valida_itemcabec.xml"), {infNFe}), "enviNFe_v4.00.xsd");
}

TEST_P(Schema, SampleNoteKeyIsConsistent) {
  const std::string batch = SampleBatch();
  const std::string id = XPath(batch, "string(//*[local-name()='infNFe']/@Id)");
  ASSERT_EQ(id.size(), 47u) << id;
  ASSERT_EQ(id.substr(0, 3), "NFe");
  const std::string key = id.substr(3);
  int sum = 0, weight = 2;
  for (auto it = key.rbegin() + 1; it != key.rend(); ++it) {
    sum += (*it - '0') * weight;
    weight = weight == 9 ? 2 : weight + 1;
  }
  const int rest = sum % 11;
  EXPECT_EQ(key.back() - '0', rest < 2 ? 0 : 11 - rest) << key;

  const auto ide = [&](const std::string& tag) {
    return XPath(batch, "string(//*[local-name()='ide']/*[local-name()='" + tag + "'])");
  };
  const auto pad = [](std::string s, std::size_t n) { return std::string(n - s.size(), '0') + s; };
  const std::string dhEmi = ide("dhEmi");
  const std::string cnpj = XPath(batch, "string(//*[local-name()='emit']/*[local-name()='CNPJ'])");
  EXPECT_EQ(key, ide("cUF") + dhEmi.substr(2, 2) + dhEmi.substr(5, 2) + cnpj + ide("mod") +
                     pad(ide("serie"), 3) + pad(ide("nNF"), 9) + ide("tpEmis") + ide("cNF") +
                     ide("cDV"));
  EXPECT_EQ(XPath(batch, "string(//*[local-name()='Reference']/@URI)"), "#" + id);
  EXPECT_EQ(XPath(batch, "string(/*/*[local-name()='idLote'])"), "001");
}

// The sample note has the 4.00 layout, so the batch and its distribution are checked for vm60.
class SchemaV4 : public Schema {};

TEST_P(SchemaV4, BatchRequestAndDistributionOfTheNote) {
  const std::string nfe = Element(SampleBatch(), "NFe");
  ASSERT_FALSE(nfe.empty());
  ExpectValid(Fill(T(v(), "pedido_enviarnota.xml"), {"1", nfe, ""}), "enviNFe_v4.00.xsd");
  const std::string infProt =
      "<infProt><tpAmb>2</tpAmb><verAplic>SP_NFE_PL009_V4</verAplic><chNFe>" + kKey +
      "</chNFe><dhRecbto>2024-01-15T10:30:05-03:00</dhRecbto><nProt>135240000000001</nProt>"
      "<digVal>" +
      kDigest + "</digVal><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt>";
  ExpectValid(Fill(T(v(), "envioxml_dest.xml"), {nfe, infProt}), "procNFe_v4.00.xsd");
}

TEST_P(Schema, VoidingRequestAndItsDistribution) {
  const std::string id =
      "35"
      "24" +
      kCnpj +
      "65"
      "001"
      "000000005"
      "000000007";
  const std::string infInut =
      Fill(T(v(), "infinut_inutilizarnf.xml"),
           {"ID" + id, "2", "35", "24", kCnpj, "65", "1", "5", "7", "NUMERACAO PULADA POR FALHA"});
  const std::string inutNFe =
      Fill(T(v(), "assinar_inutilizacao.xml"), {infInut, Signature("#ID" + id)});
  // The signed request goes out unchanged.
  const std::string request = Fill(T(v(), "pedido_inutilizarnf.xml"), {inutNFe});
  ExpectValid(request, "inutNFe_v" + layout() + ".xsd");

  const std::string ret =
      "<retInutNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"" + layout() +
      "\"><infInut><tpAmb>2</tpAmb><verAplic>SP_NFE_1.0</verAplic><cStat>102</cStat>"
      "<xMotivo>Inutilizacao de numero homologado</xMotivo><cUF>35</cUF><ano>24</ano><CNPJ>" +
      kCnpj +
      "</CNPJ><mod>65</mod><serie>1</serie><nNFIni>5</nNFIni><nNFFin>7</nNFFin>"
      "<dhRecbto>2024-01-15T11:00:00-03:00</dhRecbto><nProt>135240000000002</nProt></infInut>"
      "</retInutNFe>";
  ExpectValid(Fill(T(v(), "inutxml_dest.xml"), {DropDeclaration(inutNFe), ret}),
              "procInutNFe_v" + layout() + ".xsd");
}

TEST_P(Schema, CancellationEventsAndTheirDistribution) {
  const std::string id = "ID110111" + kKey + "01";
  const std::string infEvento = Fill(T(v(), "evento_cancelar.xml"),
                                     {id, "35", "2", kCnpj, kKey, "2024-01-15T11:00:00-03:00",
                                      "110111", "1", "135240000000001", "CANCELAMENTO POR ERRO"});
  const std::string evento = Fill(T(v(), "assinarevento.xml"), {infEvento, Signature("#" + id)});
  ExpectValid(Fill(T(v(), "evento_enviocancelar.xml"), {"1", evento}),
              "envEventoCancNFe_v1.00.xsd");

  const std::string idSub = "ID110112" + kKey + "01";
  const std::string infSub =
      Fill(T(v(), "evento_cancelar_substituicao.xml"),
           {idSub, "35", "2", kCnpj, kKey, "2024-01-15T11:00:00-03:00", "110112", "1", "35", "1",
            "APP 1.0", "135240000000001", "SUBSTITUIDA POR OUTRA NOTA",
            "35240111222333000181650010000000021123456788"});
  ExpectValid(Fill(T(v(), "evento_enviocancelar.xml"),
                   {"1", Fill(T(v(), "assinarevento.xml"), {infSub, Signature("#" + idSub)})}),
              "envEventoCancSubst_v1.00.xsd");

  const std::string retEvento =
      "<retEvento versao=\"1.00\"><infEvento><tpAmb>2</tpAmb><verAplic>SP_EVENTOS_1.0</verAplic>"
      "<cOrgao>35</cOrgao><cStat>135</cStat><xMotivo>Evento registrado</xMotivo><chNFe>" +
      kKey +
      "</chNFe><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento>"
      "<dhRegEvento>2024-01-15T11:00:05-03:00</dhRegEvento><nProt>135240000000003</nProt>"
      "</infEvento></retEvento>";
  for (const char* name : {"evento_dest.xml", "cancxmlevento_dest.xml"}) {
    ExpectValid(Fill(T(v(), name), {evento, retEvento}), "procEventoNFe_v1.00.xsd");
  }
}

// The package's eventoEPEC_v0.01.xsd does not compile (it redefines TCOrgaoIBGE of the basic
// types it includes), so the event is checked the way the standard splits it: the generic event
// schema for the batch, the NFC-e EPEC schema for the detail.
TEST_P(Schema, EpecBatchOnceSigned) {
  const std::string id = "ID110140" + kKey + "01";
  std::string evento =
      Fill(T(v(), "evento_epec.xml"),
           {id, "35", "2", "<CNPJ>" + kCnpj + "</CNPJ>", kKey, "2024-01-15T11:00:00-03:00", "35",
            "2024-01-15T10:30:00-03:00", "1", "111222333444",
            "<dest><UF>SP</UF><CPF>12345678909</CPF></dest>", "10.00", "1.80"});
  // Signing replaces the empty stand-in with the real signature.
  const std::string empty = "<Signature></Signature>";
  const auto pos = evento.find(empty);
  ASSERT_NE(pos, std::string::npos) << evento;
  evento.replace(pos, empty.size(), Signature("#" + id));
  ExpectValid(Fill(T(v(), "envio_epec.xml"), {"1", evento}), "envEvento_v1.00.xsd");

  std::string detalhe = Element(evento, "detEvento");
  ASSERT_FALSE(detalhe.empty());
  detalhe.insert(std::string("<detEvento").size(), std::string(" xmlns=\"") + kNFeNs + "\"");
  ExpectValid(detalhe, "e110140NFCe_v1.00.xsd");
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Schema,
                         ::testing::Values(TVersaoManual::vm50b, TVersaoManual::vm60),
                         [](const ::testing::TestParamInfo<TVersaoManual>& info) {
                           return VersionName(info.param);
                         });
INSTANTIATE_TEST_SUITE_P(Catalogue, SchemaV4, ::testing::Values(TVersaoManual::vm60),
                         [](const ::testing::TestParamInfo<TVersaoManual>& info) {
                           return VersionName(info.param);
                         });

}  // namespace
}  // namespace qor::testing
