#include "platform/Xml.h"

#include <gtest/gtest.h>
#include <libxml/globals.h>
#include <libxml/parser.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "platform/GovUtils.h"
#include "platform/SchemaValidator.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

const char* kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";

const std::string kEnvelope =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><soap:Body>"
    "<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
    "<retConsStatServ versao=\"4.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
    "<tpAmb>2</tpAmb><verAplic>SP_NFE_PL009_V4</verAplic><cStat>107</cStat>"
    "<xMotivo>Serviço em Operação</xMotivo><cUF>35</cUF>"
    "</retConsStatServ></nfeResultMsg></soap:Body></soap:Envelope>";

const XmlNamespaces kBindings = {
    {"soap", kSoapNs},
    {"nfe", kNfeNs},
    {"w", "http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4"}};

TEST(Xml, XPathAndNodeXmlOnASoapEnvelope) {
  std::string value;
  ASSERT_TRUE(XPathSelectSingleNode(
      kEnvelope, "/soap:Envelope/soap:Body/w:nfeResultMsg/nfe:retConsStatServ/nfe:xMotivo", value,
      kBindings, false));
  EXPECT_EQ(value, "Serviço em Operação");
  ASSERT_TRUE(XPathSelectSingleNode(kEnvelope, "//*[local-name()='cStat']", value, {}, false));
  EXPECT_EQ(value, "107");
  EXPECT_FALSE(XPathSelectSingleNode(kEnvelope, "//cStat", value, {}, false));  // no namespace
  ASSERT_TRUE(XPathSelectSingleNode(kEnvelope, "count(//nfe:*)", value, kBindings));
  EXPECT_EQ(value, "6");

  EXPECT_THROW(XPathSelectSingleNode(kEnvelope, "//tec:cStat", value), EqorGovException);
  EXPECT_THROW(XPathSelectSingleNode(kEnvelope, "//*[", value), EqorGovException);

  // The outer XML of a node stands on its own: re-parsed by itself (and by xmllint, which we did
  // not write) it has the same name and namespace, even when the declaration sat on an ancestor.
  XmlDocument doc = XmlDocument::Parse(kEnvelope);
  std::string ret, body, cStat;
  ASSERT_TRUE(doc.SelectSingleNode("//nfe:retConsStatServ", ret, kBindings));
  ASSERT_TRUE(doc.SelectSingleNode("//soap:Body", body, kBindings));
  ASSERT_TRUE(doc.SelectSingleNode("//nfe:cStat", cStat, kBindings));
  EXPECT_EQ(cStat, "<cStat xmlns=\"http://www.portalfiscal.inf.br/nfe\">107</cStat>");
  EXPECT_EQ(ret.rfind("<retConsStatServ", 0), 0u) << ret;  // no XML declaration
  EXPECT_NE(ret.find("Serviço em Operação"), std::string::npos) << "UTF-8 kept as text: " << ret;

  XmlDocument again = XmlDocument::Parse(ret);
  EXPECT_EQ(again.RootName(), "retConsStatServ");
  EXPECT_EQ(again.RootNamespace(), kNfeNs);
  EXPECT_EQ(again.ValueTag("cUF"), "35");
  EXPECT_EQ(GetXMLNamespace(body), kSoapNs);
  EXPECT_EQ(GetXMLNamespace(cStat), kNfeNs);

  test::TempDir dir;
  test::WriteFile(dir / "body.xml", body);
  std::string output;
  EXPECT_EQ(test::RunCommand("xmllint --noout '" + dir.path() + "body.xml'", &output), 0) << output;
  EXPECT_EQ(output, "");
}

// The tree walks stand in for XPath searches: each answer is compared with what libxml2's XPath
// engine selects first for the same question, on a document built to trip a naive walk (the
// wanted name outside the wanted parent first, a nearer ancestor of the wrong name, namespaces).
TEST(Xml, TreeWalksSelectWhatTheEquivalentXPathSelectsFirst) {
  const std::string xml =
      "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><x:tag xmlns:x=\"urn:x\" x:Id=\"ns\"/>"
      "<infNFe versao=\"4.00\" Id=\"NFe1\"><emit><CNPJ>111</CNPJ></emit>"
      "<dest><enderDest><CNPJ>fundo</CNPJ></enderDest><CPF>222</CPF><CNPJ>333</CNPJ></dest>"
      "<det><imposto><vICMS>9.99</vICMS></imposto></det>"
      "<total><ICMSTot><vBC>1</vBC><vICMS>1.50</vICMS><vNF>10.00</vNF></ICMSTot></total>"
      "</infNFe><infNFeSupl Id=\"supl\"/>"
      "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo><Reference URI=\"#a\">"
      "<Transforms/><DigestValue>abc=</DigestValue></Reference></SignedInfo></Signature></NFe>";
  const XmlDocument doc = XmlDocument::Parse(xml);
  const auto xpath = [&doc](const std::string& query) {
    std::string value;
    doc.SelectSingleNode(query, value, {}, false);
    return value;
  };
  const auto el = [](const char* name) { return std::string("*[local-name()='") + name + "']"; };
  // One path alone.
  const auto dentro = [&doc](std::initializer_list<std::string_view> caminho, bool filhos) {
    return doc.ValuesInside({{caminho, filhos}}).front();
  };

  for (const auto& [pai, filho] : std::vector<std::pair<const char*, const char*>>{
           {"dest", "CNPJ"}, {"dest", "CPF"}, {"emit", "CNPJ"}, {"ide", "dhEmi"}}) {
    EXPECT_EQ(dentro({pai, filho}, true), xpath("//" + el(pai) + "/" + el(filho)))
        << pai << "/" << filho;
  }
  EXPECT_EQ(dentro({"dest", "CNPJ"}, true), "333");
  EXPECT_EQ(dentro({"dest", "CNPJ"}, false), "fundo");  // at any depth: the first
  EXPECT_EQ(dentro({"total", "vICMS"}, false), xpath("//" + el("total") + "//" + el("vICMS")));
  EXPECT_EQ(dentro({"total", "vICMS"}, false), "1.50");
  EXPECT_EQ(dentro({"total", "vICMS"}, true), "");  // ICMSTot sits between
  const std::string digest = "//" + el("Signature") + "//" + el("SignedInfo") + "//" +
                             el("Reference") + "//" + el("DigestValue");
  EXPECT_EQ(dentro({"Signature", "SignedInfo", "Reference", "DigestValue"}, false), xpath(digest));
  EXPECT_EQ(dentro({"Signature", "SignedInfo", "Reference", "DigestValue"}, false), "abc=");
  EXPECT_EQ(dentro({"Reference", "SignedInfo", "DigestValue"}, false), "");  // order
  EXPECT_EQ(dentro({"vNF"}, false), "10.00");
  // Several paths in one walk: each as it reads alone, whatever its neighbours found or missed.
  EXPECT_EQ(doc.ValuesInside({{{"total", "vICMS"}, false},
                              {{"dest", "CNPJ"}, true},
                              {{"ide", "dhEmi"}, true},
                              {{"Reference", "SignedInfo", "DigestValue"}, false},
                              {{"dest", "CNPJ"}, false},
                              {{"vNF"}, false}}),
            (std::vector<std::string>{"1.50", "333", "", "", "fundo", "10.00"}));

  std::string id = "unchanged";
  ASSERT_TRUE(doc.FindAttribute("", "Id", id));
  EXPECT_EQ(id, xpath("//@Id"));  // a namespaced x:Id is not an Id
  EXPECT_EQ(id, "NFe1");
  ASSERT_TRUE(doc.FindAttribute("infNFeSupl", "Id", id));
  EXPECT_EQ(id, xpath("(//" + el("infNFeSupl") + ")[1]/@Id"));
  EXPECT_FALSE(doc.FindAttribute("emit", "Id", id));
  EXPECT_EQ(id, "supl");  // left as it was
  // Restricted to a namespace: ".//p:infNFe/@Id".
  const XmlNamespaces nfe{{"p", "http://www.portalfiscal.inf.br/nfe"}};
  std::string porXPath;
  doc.SelectSingleNode(".//p:infNFe/@Id", porXPath, nfe, false);
  ASSERT_TRUE(doc.FindAttribute(nfe[0].second, "infNFe", "Id", id));
  EXPECT_EQ(id, porXPath);
  EXPECT_FALSE(doc.FindAttribute("urn:outro", "infNFe", "Id", id));
  EXPECT_FALSE(XmlDocument::Parse("<NFe><infNFe Id=\"NFe2\"/></NFe>")
                   .FindAttribute(nfe[0].second, "infNFe", "Id", id));
}

// The one-pass reader gives the tree the parsed document gives, values read as plain text.
TEST(Xml, ElementTreeInOnePassEqualsTheDocumentsTree) {
  const std::string xml =
      "<?xml version=\"1.0\"?><n:a xmlns:n=\"urn:x\" k=\"1 &amp;lt; 2 &#38; &quot;3&quot;\">"
      "<b>A &amp; B&#xD;</b>\n <c><![CDATA[<d>]]> e</c><n:f/></n:a>";
  std::function<void(const XmlElement&, const XmlElement&)> same = [&](const XmlElement& x,
                                                                       const XmlElement& y) {
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.attributes, y.attributes);
    EXPECT_EQ(x.text, y.text);
    ASSERT_EQ(x.children.size(), y.children.size());
    for (std::size_t i = 0; i < x.children.size(); ++i) same(x.children[i], y.children[i]);
  };
  const XmlElement tree = ParseElementTree(xml);
  same(tree, XmlDocument::Parse(xml).ElementTree());
  EXPECT_EQ(tree.attributes.at(0).second, "1 &lt; 2 & \"3\"");
  EXPECT_EQ(tree.children.at(0).text, "A & B\r");
  EXPECT_EQ(tree.children.at(1).text, "<d> e");
  EXPECT_THROW(ParseElementTree("<a><b></a>"), EqorGovException);
}

TEST(Xml, SelectNodesAndTagsByLocalName) {
  const std::string xml =
      "<retConsReciNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
      "<protNFe><infProt Id=\"ID1\"><chNFe>111</chNFe><cStat>100</cStat></infProt></protNFe>"
      "<protNFe><infProt Id=\"ID2\"><chNFe>222</chNFe><cStat>204</cStat></infProt></protNFe>"
      "<x:cStat xmlns:x=\"urn:other\">999</x:cStat></retConsReciNFe>";
  std::vector<std::string> nodes = {"stale"};
  ASSERT_TRUE(XPathSelectNodes(xml, ".//tec:infProt", nodes, {{"tec", kNfeNs}}));
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_NE(nodes[0].find("<chNFe>111</chNFe>"), std::string::npos) << nodes[0];
  EXPECT_NE(nodes[1].find("Id=\"ID2\""), std::string::npos) << nodes[1];
  ASSERT_TRUE(XPathSelectNodes(xml, "//*[local-name()='infProt']/@Id", nodes, {}, false));
  EXPECT_EQ(nodes, (std::vector<std::string>{"ID1", "ID2"}));
  EXPECT_FALSE(XPathSelectNodes(xml, "//*[local-name()='nada']", nodes));
  EXPECT_TRUE(nodes.empty());

  EXPECT_EQ(GetValueTag("cStat", xml), "100");
  EXPECT_EQ(GetValueTag("cStat", xml, 1), "204");
  EXPECT_EQ(GetValueTag("cStat", xml, 2), "999");  // local name, any namespace
  EXPECT_EQ(GetValueTag("cStat", xml, 3), "");
  EXPECT_EQ(GetValueTag("cStat", xml, -1), "");
  EXPECT_EQ(GetValueTag("infProt", xml, 1), "222204");
  EXPECT_EQ(GetXMLAttributeByIndex(xml, "infProt", "Id", 1), "ID2");
  EXPECT_EQ(GetXMLAttributeByIndex(xml, "infProt", "versao"), "");

  XmlDocument doc = XmlDocument::Parse(xml);
  EXPECT_EQ(doc.CountTag("cStat"), 3);
  EXPECT_EQ(doc.CountTag("protNFe"), 2);
  EXPECT_EQ(doc.RootName(), "retConsReciNFe");
}

// Parses with libxml2's process-wide defaults switched the way a signature library's set-up
// switches them, so a hardening that only relies on the defaults would fail here.
class XmlHostileDefaults : public ::testing::Test {
 protected:
  void SetUp() override {
    savedSubstitute_ = xmlSubstituteEntitiesDefault(1);
    savedLoadDtd_ = xmlLoadExtDtdDefaultValue;
    xmlLoadExtDtdDefaultValue = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
  }
  void TearDown() override {
    xmlSubstituteEntitiesDefault(savedSubstitute_);
    xmlLoadExtDtdDefaultValue = savedLoadDtd_;
  }
  int savedSubstitute_ = 0;
  int savedLoadDtd_ = 0;
};

TEST_F(XmlHostileDefaults, ExternalEntitiesAndDtdsAreNeverRead) {
  test::TempDir dir;
  test::WriteFile(dir / "secret.txt", "SEGREDO-DO-DISCO");
  test::WriteFile(dir / "ext.dtd", "<!ENTITY f SYSTEM \"file://" + dir.path() + "secret.txt\">");
  const std::vector<std::string> documents = {
      "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>a&e;b</x>",
      "<!DOCTYPE x [<!ENTITY e SYSTEM \"file://" + dir.path() + "secret.txt\">]><x>a&e;b</x>",
      "<!DOCTYPE x SYSTEM \"file://" + dir.path() + "ext.dtd\"><x>a&f;b</x>",
      "<!DOCTYPE x [<!ENTITY % p SYSTEM \"file://" + dir.path() + "ext.dtd\"> %p;]><x>a&f;b</x>",
  };
  for (const std::string& xml : documents) {
    std::string text = GetValueTag("x", xml);
    EXPECT_EQ(text.find("root:"), std::string::npos) << xml;
    EXPECT_EQ(text.find("SEGREDO"), std::string::npos) << xml;
    std::string node;
    if (XPathSelectSingleNode(xml, "/x", node)) {
      EXPECT_EQ(node.find("SEGREDO"), std::string::npos) << node;
      EXPECT_EQ(node.find("root:"), std::string::npos) << node;
    }
  }
  // The first document is well-formed; only its entity stays unread.
  EXPECT_EQ(GetValueTag("x", documents[0]), "ab");
}

TEST(Xml, NotWellFormedGivesNothingAndPrintsNothing) {
  const std::vector<std::string> broken = {"<a><b></a>",         "",           "texto", "<x:a/>",
                                           "<a>&undefined;</a>", "<a></a><b/>"};
  for (const std::string& xml : broken) {
    ::testing::internal::CaptureStderr();
    std::string value = "kept";
    std::vector<std::string> values = {"stale"};
    EXPECT_FALSE(IsValidXml(xml)) << xml;
    EXPECT_FALSE(XPathSelectSingleNode(xml, "/*", value)) << xml;
    EXPECT_EQ(value, "kept");
    EXPECT_FALSE(XPathSelectNodes(xml, "/*", values)) << xml;
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(GetValueTag("a", xml), "");
    EXPECT_EQ(GetXMLNamespace(xml), "");
    EXPECT_EQ(GetXMLAttributeByIndex(xml, "a", "b"), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "libxml2 printed for " << xml;
  }
  const std::string message =
      test::MessageOf<EqorGovException>([] { XmlDocument::Parse("<a>\n<b></a>"); });
  EXPECT_NE(message.find("line 2"), std::string::npos) << message;
  EXPECT_TRUE(IsValidXml("\xEF\xBB\xBF<a/>"));
}

TEST(Xml, TextForms) {
  EXPECT_EQ(RemoveBOM("\xEF\xBB\xBF<a/>"), "<a/>");
  EXPECT_EQ(RemoveBOM("<a/>"), "<a/>");
  const std::string raw = "a<b>&\"c\"'d' ção";
  EXPECT_EQ(Escape(raw), "a&lt;b&gt;&amp;&quot;c&quot;&apos;d&apos; ção");
  EXPECT_EQ(Unescape(Escape(raw)), raw);
  EXPECT_EQ(Unescape("&amp;lt; &#231;&#xE3;&#X6F; &#128512;"), "&lt; ção 😀");
  EXPECT_EQ(Unescape("&bogus; & &#xD800; &#0; &#x110000; &amp"),
            "&bogus; & &#xD800; &#0; &#x110000; &amp");
  // What Escape produces is what an XML parser reads back.
  EXPECT_EQ(GetValueTag("v", "<v>" + Escape(raw) + "</v>"), raw);
}

// ---- schema validation

namespace fs = std::filesystem;

std::string Schemas() { return test::SchemasFolder(); }

std::string ConsStatServ(const std::string& tpAmb, const std::string& rootAttributes = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"" +
         rootAttributes + ">\n<tpAmb>" + tpAmb + "</tpAmb><cUF>35</cUF><xServ>STATUS</xServ>" +
         "</consStatServ>";
}

std::string WithSchemaLocation(const std::string& location, const std::string& tpAmb = "2") {
  return ConsStatServ(tpAmb,
                      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                      "xsi:schemaLocation=\"" +
                          location + "\"");
}

// What xmllint, which we did not write, says of the same document and schema.
bool XmllintAccepts(const std::string& xml, const std::string& xsd) {
  return test::SchemaError(xml, xsd).empty();
}

TEST(SchemaValidator, OfficialConsStatServAndTheUtilitiesReport) {
  QOR_NEEDS_SCHEMAS();
  const std::string xsd = Schemas() + "/consStatServ_v4.00.xsd";
  std::vector<std::string> errors = {"stale"};
  EXPECT_TRUE(SchemaValidator::Validate(ConsStatServ("2"), xsd, errors));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(XmllintAccepts(ConsStatServ("2"), xsd));

  EXPECT_FALSE(SchemaValidator::Validate(ConsStatServ("3"), xsd, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("line 3: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("tpAmb"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].back(), '\n');
  EXPECT_FALSE(XmllintAccepts(ConsStatServ("3"), xsd));

  EXPECT_FALSE(SchemaValidator::Validate("<consStatServ>", xsd, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("line 1: ", 0), 0u) << errors[0];

  const std::string missing = test::MessageOf<EqorGovException>([&] {
    SchemaValidator::Validate(ConsStatServ("2"), Schemas() + "/naoExiste_v9.xsd", errors);
  });
  EXPECT_NE(missing.find("naoExiste_v9.xsd"), std::string::npos) << missing;

  // TqorGovUtils raises on an invalid document and keeps the report.
  TqorGovUtils utils;
  EXPECT_TRUE(utils.ValidateSchema(ConsStatServ("1"), xsd));
  EXPECT_TRUE(utils.Get_ValidatorErrors().Empty());
  const std::string invalid =
      test::MessageOf<EqorGovException>([&] { utils.ValidateSchema(ConsStatServ("3"), xsd); });
  EXPECT_NE(invalid.find("tpAmb"), std::string::npos) << invalid;
  ASSERT_EQ(utils.Get_ValidatorErrors().Count(), 1u);
  EXPECT_EQ(utils.Get_ValidatorErrors()[0].rfind("line 3: ", 0), 0u);

  EXPECT_TRUE(
      utils.ValidateSchemaByDirectory(WithSchemaLocation("consStatServ_v4.00.xsd"), Schemas()));
  EXPECT_TRUE(utils.Get_ValidatorErrors().Empty());
  EXPECT_THROW(utils.ValidateSchemaByDirectory(WithSchemaLocation("../x.xsd"), Schemas()),
               EqorGovException);
  ASSERT_EQ(utils.Get_ValidatorErrors().Count(), 1u);
  EXPECT_NE(utils.Get_ValidatorErrors()[0].find("../x.xsd"), std::string::npos);
}

TEST(SchemaValidator, ByDirectoryUsesOnlyAFileNameOfTheFolder) {
  QOR_NEEDS_SCHEMAS();
  std::vector<std::string> errors;
  EXPECT_TRUE(SchemaValidator::ValidateByDirectory(
      WithSchemaLocation("http://www.portalfiscal.inf.br/nfe consStatServ_v4.00.xsd"), Schemas(),
      errors));
  EXPECT_TRUE(SchemaValidator::ValidateByDirectory(WithSchemaLocation("consStatServ_v4.00.xsd"),
                                                   Schemas(), errors));
  EXPECT_FALSE(SchemaValidator::ValidateByDirectory(
      WithSchemaLocation("consStatServ_v4.00.xsd", "9"), Schemas(), errors));
  EXPECT_FALSE(errors.empty());

  for (const char* refused : {"../x.xsd", "http://www.portalfiscal.inf.br/nfe ../x.xsd",
                              "/etc/x.xsd", "sub\\x.xsd", ".."}) {
    SCOPED_TRACE(refused);
    const std::string message = test::MessageOf<EqorGovException>([&] {
      SchemaValidator::ValidateByDirectory(WithSchemaLocation(refused), Schemas(), errors);
    });
    EXPECT_NE(message.find("recusado"), std::string::npos) << message;
  }
  EXPECT_THROW(SchemaValidator::ValidateByDirectory(ConsStatServ("2"), Schemas(), errors),
               EqorGovException);  // names no schema
  EXPECT_THROW(SchemaValidator::ValidateByDirectory(WithSchemaLocation("ausente_v1.00.xsd"),
                                                    Schemas(), errors),
               EqorGovException);
}

const char* kIntSchema =
    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
    "<xs:include schemaLocation=\"types.xsd\"/><xs:element name=\"v\" type=\"T\"/></xs:schema>";

// The main schema with its element renamed.
const std::string kWSchema =
    std::string(kIntSchema).replace(std::string(kIntSchema).find("\"v\""), 3, "\"w\"");

std::string Types(int max) {
  return "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:simpleType name=\"T\">"
         "<xs:restriction base=\"xs:int\"><xs:maxInclusive value=\"" +
         std::to_string(max) + "\"/></xs:restriction></xs:simpleType></xs:schema>";
}

void Touch(const std::string& path, int secondsLater) {
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(secondsLater));
}

TEST(SchemaValidator, CacheFollowsTheFilesAndPathsItWasCompiledFrom) {
  test::TempDir dir;
  const std::string xsd = dir / "main.xsd";
  test::WriteFile(xsd, kIntSchema);
  test::WriteFile(dir / "types.xsd", Types(7));
  std::vector<std::string> errors;
  EXPECT_TRUE(SchemaValidator::Validate("<v>5</v>", xsd, errors));

  // Same size and modification time: the compiled schema is reused, the new text is not read.
  const auto stamp = fs::last_write_time(dir / "types.xsd");
  test::WriteFile(dir / "types.xsd", Types(3));
  fs::last_write_time(dir / "types.xsd", stamp);
  EXPECT_TRUE(SchemaValidator::Validate("<v>5</v>", xsd, errors));

  // A changed modification time of an included file brings a new compilation.
  Touch(dir / "types.xsd", 5);
  EXPECT_FALSE(SchemaValidator::Validate("<v>5</v>", xsd, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<v>3</v>", xsd, errors));

  // And so does one of the schema file itself.
  test::WriteFile(xsd, kWSchema);
  Touch(xsd, 10);
  EXPECT_FALSE(SchemaValidator::Validate("<v>3</v>", xsd, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<w>3</w>", xsd, errors));

  SchemaValidator::ClearCache();
  EXPECT_TRUE(SchemaValidator::Validate("<w>1</w>", xsd, errors));

  // A path that leads to another file is compiled again, though neither file changed.
  test::WriteFile(dir / "v.xsd", kIntSchema);
  const std::string link = dir / "atual.xsd";
  fs::create_symlink(dir / "v.xsd", link);
  EXPECT_TRUE(SchemaValidator::Validate("<v>3</v>", link, errors));
  fs::remove(link);
  fs::create_symlink(xsd, link);
  EXPECT_FALSE(SchemaValidator::Validate("<v>3</v>", link, errors));
  EXPECT_TRUE(SchemaValidator::Validate("<w>3</w>", link, errors));
}

TEST(SchemaValidator, ValidationReadsNothingOutsideTheText) {
  test::TempDir dir;
  test::WriteFile(dir / "types.xsd", Types(9));
  const std::string xsd = dir / "main.xsd";
  test::WriteFile(xsd, kIntSchema);
  test::WriteFile(dir / "segredo.txt", "SEGREDO-123");
  const std::string xml =
      "<!DOCTYPE v [<!ENTITY s SYSTEM \"file://" + dir.path() + "segredo.txt\">]><v>&s;</v>";
  std::vector<std::string> errors;
  SchemaValidator::Validate(xml, xsd, errors);
  for (const std::string& error : errors) {
    EXPECT_EQ(error.find("SEGREDO"), std::string::npos) << error;
  }
  // A value of the document itself does reach the messages.
  EXPECT_FALSE(SchemaValidator::Validate("<v>VALOR-456</v>", xsd, errors));
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors[0].find("VALOR-456"), std::string::npos) << errors[0];
}

TEST(SchemaValidator, IncludesStayInsideTheSchemaFolder) {
  test::TempDir dir;
  fs::create_directories(dir / "pkg");
  test::WriteFile(dir / "outside.xsd", Types(7));
  const std::vector<std::string> locations = {"../outside.xsd", dir / "outside.xsd",
                                              "file://" + dir.path() + "outside.xsd",
                                              "http://127.0.0.1:9/types.xsd"};
  for (const std::string& location : locations) {
    std::string schema = kIntSchema;
    schema.replace(schema.find("types.xsd"), 9, location);
    test::WriteFile(dir / "pkg/main.xsd", schema);
    Touch(dir / "pkg/main.xsd", 1);
    std::vector<std::string> errors;
    SCOPED_TRACE(location);
    const std::string message = test::MessageOf<EqorGovException>(
        [&] { SchemaValidator::Validate("<v>1</v>", dir / "pkg/main.xsd", errors); });
    EXPECT_NE(message.find("recusado"), std::string::npos) << message;
  }
  // A symbolic link inside the folder that points outside it is refused as well.
  fs::create_symlink(dir / "outside.xsd", dir / "pkg/types.xsd");
  test::WriteFile(dir / "pkg/main.xsd", kIntSchema);
  Touch(dir / "pkg/main.xsd", 2);
  std::vector<std::string> errors;
  EXPECT_THROW(SchemaValidator::Validate("<v>1</v>", dir / "pkg/main.xsd", errors),
               EqorGovException);
}

TEST(SchemaValidator, ConcurrentValidationsShareOneSchema) {
  test::TempDir dir;
  test::WriteFile(dir / "main.xsd", kIntSchema);
  test::WriteFile(dir / "types.xsd", Types(50));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        std::vector<std::string> errors;
        int value = (t * 40 + i) % 100;
        bool valid = SchemaValidator::Validate("<v>" + std::to_string(value) + "</v>",
                                               dir / "main.xsd", errors);
        if (valid != (value <= 50) || valid != errors.empty()) ++wrong;
        if (t == 0 && i % 10 == 0) SchemaValidator::ClearCache();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qor
