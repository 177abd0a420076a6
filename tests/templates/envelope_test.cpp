// Every SOAP envelope, filled, puts the body into the right element of the right service
// namespace (checked with XPath through xmllint).
#include "TemplateTestSupport.h"

namespace qor::testing {
namespace {

struct Expected {
  std::string service;      // W(service) is the message namespace
  std::string dataVersion;  // empty: version-4 envelope without header content
  std::string body = "nfeDadosMsg";
};

struct EnvelopeCase {
  std::string name;
  TVersaoManual versao;
  std::string uf;
  Expected expected;
};

// The services of the NF-e standard per envelope, manual version and state.
Expected ExpectedFor(const std::string& name, TVersaoManual v, const std::string& uf) {
  const bool v3 = v == TVersaoManual::vm50b;
  if (name == "pedido_status.soap")
    return v3 ? Expected{"NfeStatusServico2", "3.10"} : Expected{"NFeStatusServico4", ""};
  if (name == "pedido_enviarnfe.soap") {
    if (v3 && uf == "AN") return {"NfeRecepcao2", "2.00"};
    return v3 ? Expected{"NfeAutorizacao", "3.10"} : Expected{"NFeAutorizacao4", ""};
  }
  if (name == "pedido_enviarnfezip.soap")
    return v3 ? Expected{"NfeAutorizacao", "3.10", "nfeDadosMsgZip"}
              : Expected{"NFeAutorizacao4", "", "nfeDadosMsgZip"};
  if (name == "pedido_consultarecibo.soap") {
    if (v3 && uf == "AN") return {"NfeRetRecepcao2", "2.00"};
    return v3 ? Expected{"NfeRetAutorizacao", "3.10"} : Expected{"NFeRetAutorizacao4", ""};
  }
  if (name == "pedido_consultanf.soap")
    return v3 ? Expected{"NfeConsulta2", "3.10"} : Expected{"NFeConsultaProtocolo4", ""};
  if (name == "pedido_inutilizarnf.soap")
    return v3 ? Expected{"NfeInutilizacao2", "3.10"} : Expected{"NFeInutilizacao4", ""};
  if (name == "envio.soap")
    return v3 ? Expected{"RecepcaoEvento", "1.00"} : Expected{"NFeRecepcaoEvento4", ""};
  if (name == "pedido_envia_epec.soap") return {"RecepcaoEvento", "1.00"};
  if (name == "pedido_enviarnfe_integrador.soap") return {"NFeAutorizacao4", ""};
  if (name == "pedido_cancelamfe_integrador.soap") return {"NFeRecepcaoEvento4", ""};
  ADD_FAILURE() << "no expectation for " << name;
  return {};
}

std::vector<EnvelopeCase> Cases() {
  std::vector<EnvelopeCase> cases;
  for (const auto& name : AllNames()) {
    if (!name.ends_with(".soap")) continue;
    for (const TVersaoManual v : {TVersaoManual::vm50b, TVersaoManual::vm60}) {
      for (const std::string uf : {"SP", "AN", "CE"}) {
        cases.push_back({name, v, uf, ExpectedFor(name, v, uf)});
      }
    }
  }
  return cases;
}

class Envelope : public ::testing::TestWithParam<EnvelopeCase> {};

TEST_P(Envelope, BodyAndHeaderSitInTheServiceNamespace) {
  QOR_NEEDS_XMLLINT();
  const auto& [name, v, uf, expected] = GetParam();
  const std::string tpl = Load(v, uf, name);
  const bool header = !expected.dataVersion.empty();
  ASSERT_EQ(CountPlaceholders(tpl), header ? 2 : 1) << tpl;
  const std::string xml =
      header ? Fill(tpl, {"35", kMarkerBody}) : Fill(tpl, {std::string(kMarkerBody)});

  const std::string ws = "http://www.portalfiscal.inf.br/nfe/wsdl/" + expected.service;
  const std::string soap = "namespace-uri()='" + std::string(kSoap12Ns) + "'";
  const std::string inWs = " and namespace-uri()='" + ws + "'";
  const std::string body = "/*/*[2][local-name()='Body' and " + soap + "]/*[local-name()='" +
                           expected.body + "'" + inWs + "]";
  const std::string cabec = "/*/*[1]/*[local-name()='nfeCabecMsg'" + inWs + "]";
  std::vector<std::pair<std::string, std::string>> checks{
      {"count(/*[local-name()='Envelope' and " + soap + "])", "1"},
      // Exactly a header and then a body.
      {"count(/*/*)", "2"},
      {"count(/*/*[1][local-name()='Header' and " + soap + "])", "1"},
      {"count(" + body + ")", "1"},
      {"count(" + body + "/*[local-name()='pedido' and namespace-uri()='" + kMarkerNs + "'])", "1"},
      {"count(/*/*[2]/*)", "1"},
  };
  if (header) {
    checks.push_back({cabec + "/*[local-name()='cUF'" + inWs + "]", "35"});
    checks.push_back({cabec + "/*[local-name()='versaoDados'" + inWs + "]", expected.dataVersion});
  } else {
    checks.push_back({"count(/*/*[1]/node())", "0"});
  }
  ExpectXPaths(xml, checks);
}

void PrintTo(const EnvelopeCase& c, std::ostream* os) {
  *os << c.name << " " << VersionName(c.versao) << " " << c.uf;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Envelope, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<EnvelopeCase>& info) {
                           return Identifier(info.param.name) + "_" +
                                  VersionName(info.param.versao) + "_" + info.param.uf;
                         });

TEST(EnvelopeShape, DeclarationsAndPrefixesOfTheSpecialCases) {
  const auto load = [](TVersaoManual v, const char* uf, const char* name) {
    return Load(v, uf, name);
  };
  // vm50b status keeps the SOAP-ENV prefix of its service description.
  EXPECT_EQ(load(TVersaoManual::vm50b, "SP", "pedido_status.soap")
                .rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope", 0),
            0u);
  // EPEC declares soap12, xsd, xsi in that order.
  const std::string epec = load(TVersaoManual::vm60, "SP", "pedido_envia_epec.soap");
  const auto soap12 = epec.find("xmlns:soap12="), xsd = epec.find("xmlns:xsd="),
             xsi = epec.find("xmlns:xsi=");
  ASSERT_NE(xsi, std::string::npos);
  EXPECT_LT(soap12, xsd);
  EXPECT_LT(xsd, xsi);
  // Ceará's event envelope: bare declaration and only the soap12 namespace.
  const std::string ce = load(TVersaoManual::vm50b, "CE", "envio.soap");
  EXPECT_EQ(ce.rfind("<?xml version=\"1.0\"?><soap12:Envelope", 0), 0u) << ce;
  EXPECT_EQ(ce.find("xmlns:xsi"), std::string::npos);
  EXPECT_EQ(ce.find("xmlns:xsd"), std::string::npos);
  // Ceará's receipt query: prefixed header, data version before the cUF, no declaration.
  const std::string rec = load(TVersaoManual::vm50b, "CE", "pedido_consultarecibo.soap");
  EXPECT_EQ(rec.rfind("<soap:Envelope", 0), 0u) << rec;
  EXPECT_LT(rec.find("<rec:versaoDados>3.10</rec:versaoDados>"), rec.find("<rec:cUF>%s"));
  // Version-4 envelopes have no declaration.
  EXPECT_EQ(load(TVersaoManual::vm60, "SP", "pedido_status.soap").rfind("<soap:Envelope", 0), 0u);
}

}  // namespace
}  // namespace qor::testing
