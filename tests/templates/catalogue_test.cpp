// The request template catalogue: lookup rules, the form of every template, each SOAP envelope's
// service namespaces (XPath through xmllint), the files written for vm50 and vm50a, and the
// filled templates against the official XSD package (xmllint --schema). xmllint is libxml2's own
// command-line tool, which the library under test did not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/Types.h"
#include "platform/Files.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "templates/TqorNFCeTemplateVersaoUF.h"
#include "templates/TqorNFCeTemplateVersaoUF_AN.h"
#include "templates/TqorNFCeTemplateVersaoUF_CE.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor::testing {
namespace {

using qor::test::SchemaError;
using qor::test::WriteScratch;
using V = TVersaoManual;

constexpr const char* kNFeNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
// Marker put into envelope bodies so a query can tell where the body landed.
constexpr const char* kMarkerNs = "urn:qornfce:teste";
constexpr const char* kMarkerBody = "<pedido xmlns=\"urn:qornfce:teste\">1</pedido>";
// Access key of the sample note of the validation fixtures.
const std::string kSampleKey = "35240111222333000181550010000000011123456788";
constexpr V kVersions[] = {V::vm50b, V::vm60};
// Every state and the national environment.
const std::vector<std::string> kUfs{"AC", "AL", "AM", "AN", "AP", "BA", "CE", "DF", "ES", "GO",
                                    "MA", "MG", "MS", "MT", "PA", "PB", "PE", "PI", "PR", "RJ",
                                    "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};

// Every name of the catalogue, in the catalogue's order.
const std::vector<std::string>& AllNames() {
  static const std::vector<std::string> names = [] {
    std::istringstream list(
        "assinar_inutilizacao.xml assinar_nota.xml assinarevento.xml cabec_consultanf.xml "
        "cancxmlevento_dest.xml envio.soap envioxml_dest.xml evento_cancelar.xml "
        "evento_cancelar_substituicao.xml evento_enviocancelar.xml evento_dest.xml "
        "infinut_inutilizarnf.xml inutxml_dest.xml pedido_consultanf.soap pedido_consultanf.xml "
        "pedido_consultarecibo.soap pedido_consultarecibo.xml pedido_enviarnfe.soap "
        "pedido_enviarnfezip.soap pedido_enviarnota.xml pedido_inutilizarnf.soap "
        "pedido_inutilizarnf.xml pedido_status.soap pedido_status.xml signature_info.xml "
        "qrcode.xml valida_cabecalho.xml valida_item.xml valida_itemcabec.xml envio_epec.xml "
        "pedido_envia_epec.soap evento_epec.xml envio_nfce_mfe.xml evento_cancelar_mfe.xml "
        "pedido_enviarnfe_integrador.soap pedido_cancelamfe_integrador.soap "
        "envio_nfce_sem_chave_mfe.xml hnfestatusservico2soap12.xml");
    return std::vector<std::string>(std::istream_iterator<std::string>(list), {});
  }();
  return names;
}

std::string Load(V v, const std::string& uf, const std::string& name) {
  return TqorNFCeTemplates::LoadTemplate(v, uf, name);
}

int CountPlaceholders(const std::string& text) {
  int n = 0;
  for (auto pos = text.find("%s"); pos != std::string::npos; pos = text.find("%s", pos + 2)) ++n;
  return n;
}

// Positional substitution, as the component fills its templates. Extra or missing values are
// the caller's fault and fail the test.
std::string Fill(const std::string& tpl, const std::vector<std::string>& values) {
  EXPECT_EQ(CountPlaceholders(tpl), static_cast<int>(values.size())) << tpl;
  std::string out;
  std::size_t from = 0;
  for (const auto& v : values) {
    const auto pos = tpl.find("%s", from);
    if (pos == std::string::npos) break;
    out.append(tpl, from, pos - from).append(v);
    from = pos + 2;
  }
  return out.append(tpl, from, std::string::npos);
}

// Plausible fill values per template; their number is the placeholder count the catalogue must
// have. Envelopes of vm50b take the cUF before the body.
std::vector<std::string> SampleArgs(const std::string& name, V v) {
  const bool v3 = v == V::vm50b;
  const std::vector<std::string> body =
      v3 ? std::vector<std::string>{"35", kMarkerBody} : std::vector<std::string>{kMarkerBody};
  static const std::map<std::string, std::vector<std::string>> fixed{
      {"assinar_inutilizacao.xml", {"<infInut Id=\"ID1\"/>", ""}},
      {"assinar_nota.xml", {"<infNFe Id=\"NFe1\"/>", ""}},
      {"assinarevento.xml", {"<infEvento Id=\"ID1\"/>", ""}},
      {"cabec_consultanf.xml", {}},
      {"cancxmlevento_dest.xml", {"<evento/>", "<retEvento/>"}},
      {"envioxml_dest.xml", {"<NFe/>", "<infProt/>"}},
      {"evento_cancelar.xml",
       {"ID110111" + kSampleKey + "01", "35", "2", "11222333000181", kSampleKey,
        "2024-01-15T11:00:00-03:00", "110111", "1", "135240000000001", "CANCELAMENTO POR ERRO"}},
      {"evento_cancelar_substituicao.xml",
       {"ID110112" + kSampleKey + "01", "35", "2", "11222333000181", kSampleKey,
        "2024-01-15T11:00:00-03:00", "110112", "1", "35", "1", "APP 1.0", "135240000000001",
        "SUBSTITUIDA POR OUTRA", kSampleKey}},
      {"evento_enviocancelar.xml", {"1", "<evento/>"}},
      {"evento_dest.xml", {"<evento/>", "<retEvento/>"}},
      {"infinut_inutilizarnf.xml",
       {"ID35", "2", "35", "24", "11222333000181", "65", "1", "5", "7", "NUMERACAO PULADA"}},
      {"inutxml_dest.xml", {"<inutNFe/>", "<retInutNFe/>"}},
      {"pedido_consultanf.xml", {"2", kSampleKey}},
      {"pedido_consultarecibo.xml", {"2", "351000000123456"}},
      {"pedido_enviarnota.xml", {"1", "<NFe/>", ""}},
      {"pedido_inutilizarnf.xml", {"<inutNFe/>"}},
      {"pedido_status.xml", {"2", "35"}},
      {"signature_info.xml", {"#NFe" + kSampleKey}},
      {"qrcode.xml", {"https://exemplo.test/qrcode?p=" + kSampleKey + "|2|2&x=<1>"}},
      {"valida_cabecalho.xml", {"<det nItem=\"1\"/>"}},
      {"valida_item.xml", {}},
      {"valida_itemcabec.xml", {"<infNFe Id=\"NFe1\"/>"}},
      {"envio_epec.xml", {"1", "<evento/>"}},
      {"pedido_envia_epec.soap", {"35", kMarkerBody}},
      {"evento_epec.xml",
       {"ID110140" + kSampleKey + "01", "35", "2", "<CNPJ>11222333000181</CNPJ>", kSampleKey,
        "2024-01-15T11:00:00-03:00", "35", "2024-01-15T10:30:00-03:00", "1", "111222333444",
        "<dest><UF>SP</UF><CPF>12345678909</CPF></dest>", "10.00", "1.80"}},
      {"envio_nfce_mfe.xml",
       {"7", "HNfeAutorizacaoLote12", "7", "4.00", "23", "PHNvYXA+", "1", "20240115103000",
        "10,00"}},
      {"pedido_enviarnfe_integrador.soap", {kMarkerBody}},
      {"pedido_cancelamfe_integrador.soap", {kMarkerBody}},
      {"envio_nfce_sem_chave_mfe.xml", {"7", "HNfeConsulta2Soap12", "7", "4.00", "PHNvYXA+"}},
      {"hnfestatusservico2soap12.xml",
       {"7", "HNfeStatusServico2Soap12", "PHNvYXA+", "7", "3.10", "23"}},
  };
  if (name.size() > 5 && name.ends_with(".soap") && !fixed.contains(name)) return body;
  if (name == "evento_cancelar_mfe.xml") {
    if (v3) return {"7", "HNfeRecepcaoEvento", "23", "1", "<soap:Envelope>&</soap:Envelope>"};
    return fixed.at("envio_nfce_mfe.xml");
  }
  return fixed.at(name);
}

std::string FilledSample(V v, const std::string& uf, const std::string& name) {
  return Fill(Load(v, uf, name), SampleArgs(name, v));
}

// stdout and stderr of a command, without the final line break.
std::string Run(const std::string& command) {
  std::string output;
  qor::test::RunCommand(command, &output);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

// One xmllint run over many documents: for each, empty when well-formed, else the report lines
// naming its file.
std::vector<std::string> WellFormedErrors(const std::vector<std::string>& xmls) {
  std::vector<std::string> paths;
  std::string command = "xmllint --noout --nonet";
  for (const auto& xml : xmls) {
    paths.push_back(WriteScratch(xml));
    command += " '" + paths.back() + "'";
  }
  std::istringstream output(Run(command));
  std::vector<std::string> errors(xmls.size());
  for (std::string line; std::getline(output, line);) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (line.rfind(paths[i] + ":", 0) == 0) errors[i] += line + "\n";
    }
  }
  return errors;
}

// Value of an XPath 1.0 expression (a count, a string, a boolean) over `xml`. The expression is
// passed in double quotes: use single quotes inside it.
std::string XPath(const std::string& xml, const std::string& expr) {
  return Run("xmllint --nonet --xpath \"" + expr + "\" '" + WriteScratch(xml) + "'");
}

// Several XPath checks ({expression, expected value}) over `xml` in one xmllint run; each
// mismatch fails the test naming its expression.
void ExpectXPaths(const std::string& xml,
                  const std::vector<std::pair<std::string, std::string>>& checks) {
  std::string expr = "concat(''";
  for (const auto& check : checks) expr += ",string(" + check.first + "),'|'";
  const std::string output = XPath(xml, expr + ")");
  std::size_t from = 0;
  for (const auto& [query, expected] : checks) {
    const auto bar = output.find('|', from);
    const std::string got = bar == std::string::npos ? output.substr(std::min(from, output.size()))
                                                     : output.substr(from, bar - from);
    EXPECT_EQ(got, expected) << query << "\n" << xml;
    from = bar == std::string::npos ? output.size() : bar + 1;
  }
}

const char* VersionName(V v) {
  return std::array{"vm50", "vm50a", "vm50b", "vm60"}[static_cast<int>(v)];
}

// "pedido_status.soap" -> "pedido_status_soap", for test names.
std::string Identifier(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// White space between a tag's end and the next tag's start.
bool HasBlankBetweenTags(const std::string& text) {
  for (auto gt = text.find('>'); gt != std::string::npos; gt = text.find('>', gt + 1)) {
    auto next = gt + 1;
    while (next < text.size() && IsBlank(text[next])) ++next;
    if (next > gt + 1 && next < text.size() && text[next] == '<') return true;
  }
  return false;
}

TEST(TemplateLookup, NameIsLowerCasedAndMatchedExactly) {
  for (const V v : kVersions) {
    const std::string status = Load(v, "SP", "pedido_status.xml");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(Load(v, "SP", "PEDIDO_STATUS.XML"), status);
    EXPECT_EQ(Load(v, "SP", "Pedido_Status.Xml"), status);
    EXPECT_EQ(Load(v, "SP", "pedido_status"), "");
    EXPECT_EQ(Load(v, "SP", " pedido_status.xml"), "");
    EXPECT_EQ(Load(v, "SP", "pedido_status.xml.bak"), "");
    EXPECT_EQ(Load(v, "SP", ""), "");
    // Callers spell the Integrador status template in mixed case.
    EXPECT_EQ(Load(v, "SP", "HNfeStatusServico2Soap12.xml"),
              Load(v, "SP", "hnfestatusservico2soap12.xml"));
  }
}

TEST(TemplateLookup, EveryStateGetsItsClassAndUnknownOnesTheBase) {
  for (const auto& uf : kUfs) {
    if (uf == "AN" || uf == "CE") continue;
    const auto t = CreateTemplateVersaoUF(uf);
    EXPECT_EQ(typeid(*t), typeid(TqorNFCeTemplateVersaoUF)) << uf;
  }
  EXPECT_NE(dynamic_cast<TqorNFCeTemplateVersaoUF_AN*>(CreateTemplateVersaoUF("AN").get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TqorNFCeTemplateVersaoUF_CE*>(CreateTemplateVersaoUF("CE").get()),
            nullptr);
  for (const std::string uf : {"an", "ce", "An", "XX", "", "AN ", "SPX"}) {
    const auto t = CreateTemplateVersaoUF(uf);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(typeid(*t), typeid(TqorNFCeTemplateVersaoUF)) << "'" << uf << "'";
  }
}

TEST(TemplateLookup, StateOverridesNeedTheUpperCaseUf) {
  for (const V v : kVersions) {
    for (const auto& name : AllNames()) {
      const std::string base = Load(v, "SP", name);
      EXPECT_EQ(Load(v, "sp", name), base) << name;
      EXPECT_EQ(Load(v, "an", name), base) << name;
      EXPECT_EQ(Load(v, "ce", name), base) << name;
      EXPECT_EQ(Load(v, "ZZ", name), base) << name;
    }
    EXPECT_NE(Load(v, "AN", "pedido_status.xml"), Load(v, "SP", "pedido_status.xml"));
  }
  EXPECT_NE(Load(V::vm50b, "CE", "envio.soap"), Load(V::vm50b, "SP", "envio.soap"));
  // Ceará's envelopes differ only for the 3.10 services.
  EXPECT_EQ(Load(V::vm60, "CE", "envio.soap"), Load(V::vm60, "SP", "envio.soap"));
  EXPECT_EQ(Load(V::vm60, "CE", "pedido_consultarecibo.soap"),
            Load(V::vm60, "SP", "pedido_consultarecibo.soap"));
}

TEST(TemplateLookup, LayoutVersionFollowsTheManual) {
  TqorNFCeTemplateVersaoUF t;
  const std::pair<V, std::string> cases[] = {
      {V::vm50, "3.10"}, {V::vm50a, "3.10"}, {V::vm50b, "3.10"}, {V::vm60, "4.00"}};
  for (const auto& [v, expected] : cases) {
    t.setVersaoManual(v);
    EXPECT_EQ(t.getVersaoXml(), expected) << VersionName(v);
  }
}

TEST(TemplateContent, LayoutVersionsOfTheNationalEnvironmentAndTheBatch) {
  QOR_NEEDS_XMLLINT();
  const std::string root = "string(/*/@versao)";
  const std::string indSinc = "count(//*[local-name()='indSinc'])";
  // {name, query, AN's value, the shared value for vm60}
  const std::vector<std::array<std::string, 4>> cases{
      {"pedido_enviarnota.xml", root, "2.00", "4.00"},
      {"pedido_enviarnota.xml", "string(/*/*[local-name()='idLote'])", "1", "1"},
      {"pedido_enviarnota.xml", indSinc, "0", "1"},
      {"pedido_enviarnota.xml", "string(/*/*[local-name()='indSinc'])", "", "0"},
      {"pedido_enviarnota.xml", "local-name(/*/*[2])", "NFe", "indSinc"},  // after idLote
      {"assinar_inutilizacao.xml", root, "2.00", "4.00"},
      {"envioxml_dest.xml", root, "2.00", "4.00"},
      {"envioxml_dest.xml", "string(/*/*[local-name()='protNFe']/@versao)", "2.00", "4.00"},
      {"pedido_consultanf.xml", root, "2.01", "4.00"},
      {"pedido_consultarecibo.xml", root, "2.00", "4.00"},
      {"pedido_status.xml", root, "2.00", "4.00"},
      {"valida_cabecalho.xml", root, "2.00", "4.00"},
      {"valida_cabecalho.xml", "string(//*[local-name()='infNFe']/@versao)", "2.00", "4.00"},
      {"valida_cabecalho.xml", indSinc, "0", "1"},
      {"valida_itemcabec.xml", root, "2.00", "4.00"},
      {"valida_itemcabec.xml", indSinc, "0", "1"},
  };
  for (const V v : kVersions) {
    for (const auto& [name, query, an, shared] : cases) {
      SCOPED_TRACE(name + " " + VersionName(v));
      ExpectXPaths(FilledSample(v, "AN", name), {{query, an}});
      if (v == V::vm60) ExpectXPaths(FilledSample(v, "SP", name), {{query, shared}});
    }
  }
  EXPECT_EQ(XPath(FilledSample(V::vm50b, "SP", "pedido_enviarnota.xml"), root), "3.10");
}

TEST(TemplateContent, EpecEventCarriesItsFixedValues) {
  QOR_NEEDS_XMLLINT();
  for (const V v : kVersions) {
    const std::string epec = FilledSample(v, "SP", "evento_epec.xml");
    const auto value = [&](const std::string& tag) {
      return XPath(epec, "string(//*[local-name()='" + tag + "'])");
    };
    EXPECT_EQ(value("tpEvento"), "110140");
    EXPECT_EQ(value("nSeqEvento"), "1");
    EXPECT_EQ(value("verEvento"), "1.00");
    EXPECT_EQ(value("descEvento"), "EPEC");
    EXPECT_EQ(value("tpAutor"), "1");
    EXPECT_EQ(value("verAplic"), "1");
    EXPECT_EQ(value("vICMS"), "1.80");
    EXPECT_EQ(XPath(epec, "namespace-uri(/*)"), "");
    EXPECT_EQ(XPath(epec, "string(/*/@versao)"), "1.00");
    EXPECT_EQ(XPath(epec, "local-name(/*/*[2])"), "Signature");
    EXPECT_EQ(XPath(epec, "count(/*/*[2]/node())"), "0");
  }
}

// ---- Every template, every version, a few states ----

struct Case {
  std::string name;
  V versao;
  std::string uf;
};

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const auto& name : AllNames()) {
    for (const V v : kVersions) {
      for (const std::string uf : {"SP", "AN", "CE", "rs"}) cases.push_back({name, v, uf});
    }
  }
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name << " " << VersionName(c.versao) << " " << c.uf;
}

std::string CaseId(const Case& c) {
  return Identifier(c.name) + "_" + VersionName(c.versao) + "_" + c.uf;
}

class EveryTemplate : public ::testing::TestWithParam<Case> {
 protected:
  // Checked in one xmllint run for the whole catalogue; each case reads its own result.
  static std::string WellFormedErrorOf(const Case& c) {
    static const std::map<std::string, std::string> errors = [] {
      std::map<std::string, std::string> byCase;
      const auto cases = AllCases();
      std::vector<std::string> filled;
      for (const auto& k : cases) filled.push_back(FilledSample(k.versao, k.uf, k.name));
      const auto reports = WellFormedErrors(filled);
      for (std::size_t i = 0; i < cases.size(); ++i) {
        byCase[CaseId(cases[i])] = reports[i].empty() ? "" : reports[i] + filled[i];
      }
      return byCase;
    }();
    return errors.at(CaseId(c));
  }
};

TEST_P(EveryTemplate, IsOneLineWithPlaceholdersOnly) {
  const auto& [name, v, uf] = GetParam();
  const std::string text = Load(v, uf, name);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n\t"), std::string::npos) << text;
  EXPECT_FALSE(HasBlankBetweenTags(text)) << text;
  std::string rest = text;
  for (auto pos = rest.find("%s"); pos != std::string::npos; pos = rest.find("%s", pos)) {
    rest.erase(pos, 2);
  }
  EXPECT_EQ(rest.find('%'), std::string::npos) << "stray percent sign in " << text;
  EXPECT_EQ(CountPlaceholders(text), static_cast<int>(SampleArgs(name, v).size())) << text;
}

TEST_P(EveryTemplate, FilledIsWellFormed) {
  QOR_NEEDS_XMLLINT();
  EXPECT_EQ(WellFormedErrorOf(GetParam()), "");
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return CaseId(info.param); }
INSTANTIATE_TEST_SUITE_P(Catalogue, EveryTemplate, ::testing::ValuesIn(AllCases()), CaseName);

// ---- envelopes

// The service of each envelope (and the data version of its header, when it has one) for vm50b,
// for vm50b at AN where that differs, and for vm60.
const std::map<std::string, std::array<std::string, 3>> kServices = {
    {"pedido_status.soap", {"NfeStatusServico2 3.10", "", "NFeStatusServico4"}},
    {"pedido_enviarnfe.soap", {"NfeAutorizacao 3.10", "NfeRecepcao2 2.00", "NFeAutorizacao4"}},
    {"pedido_enviarnfezip.soap", {"NfeAutorizacao 3.10", "", "NFeAutorizacao4"}},
    {"pedido_consultarecibo.soap",
     {"NfeRetAutorizacao 3.10", "NfeRetRecepcao2 2.00", "NFeRetAutorizacao4"}},
    {"pedido_consultanf.soap", {"NfeConsulta2 3.10", "", "NFeConsultaProtocolo4"}},
    {"pedido_inutilizarnf.soap", {"NfeInutilizacao2 3.10", "", "NFeInutilizacao4"}},
    {"envio.soap", {"RecepcaoEvento 1.00", "", "NFeRecepcaoEvento4"}},
    {"pedido_envia_epec.soap", {"RecepcaoEvento 1.00", "", "RecepcaoEvento 1.00"}},
    {"pedido_enviarnfe_integrador.soap", {"NFeAutorizacao4", "", "NFeAutorizacao4"}},
    {"pedido_cancelamfe_integrador.soap", {"NFeRecepcaoEvento4", "", "NFeRecepcaoEvento4"}},
};

class Envelope : public ::testing::TestWithParam<Case> {};

TEST_P(Envelope, BodyAndHeaderSitInTheServiceNamespace) {
  QOR_NEEDS_XMLLINT();
  const auto& [name, v, uf] = GetParam();
  const auto& services = kServices.at(name);
  std::string service = v == V::vm60 ? services[2] : services[0];
  if (v == V::vm50b && uf == "AN" && !services[1].empty()) service = services[1];
  const auto space = service.find(' ');
  // No data version: a version-4 envelope without header content.
  const std::string dataVersion = space == std::string::npos ? "" : service.substr(space + 1);
  const std::string tpl = Load(v, uf, name);
  const bool header = !dataVersion.empty();
  ASSERT_EQ(CountPlaceholders(tpl), header ? 2 : 1) << tpl;
  const std::string xml =
      header ? Fill(tpl, {"35", kMarkerBody}) : Fill(tpl, {std::string(kMarkerBody)});

  const std::string ws = "http://www.portalfiscal.inf.br/nfe/wsdl/" + service.substr(0, space);
  const std::string soap = "namespace-uri()='" + std::string(kSoap12Ns) + "'";
  const std::string inWs = " and namespace-uri()='" + ws + "'";
  const std::string body = "/*/*[2][local-name()='Body' and " + soap + "]/*[local-name()='" +
                           (name.ends_with("zip.soap") ? "nfeDadosMsgZip" : "nfeDadosMsg") + "'" +
                           inWs + "]";
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
    checks.push_back({cabec + "/*[local-name()='versaoDados'" + inWs + "]", dataVersion});
  } else {
    checks.push_back({"count(/*/*[1]/node())", "0"});
  }
  ExpectXPaths(xml, checks);
}

std::vector<Case> EnvelopeCases() {
  std::vector<Case> cases;
  for (const Case& c : AllCases()) {
    if (c.name.ends_with(".soap") && c.uf != "rs") cases.push_back(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, Envelope, ::testing::ValuesIn(EnvelopeCases()), CaseName);

TEST(EnvelopeShape, DeclarationsAndPrefixesOfTheSpecialCases) {
  const auto load = [](V v, const char* uf, const char* name) { return Load(v, uf, name); };
  // vm50b status keeps the SOAP-ENV prefix of its service description.
  EXPECT_EQ(load(V::vm50b, "SP", "pedido_status.soap")
                .rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope", 0),
            0u);
  // EPEC declares soap12, xsd, xsi in that order.
  const std::string epec = load(V::vm60, "SP", "pedido_envia_epec.soap");
  const auto soap12 = epec.find("xmlns:soap12="), xsd = epec.find("xmlns:xsd="),
             xsi = epec.find("xmlns:xsi=");
  ASSERT_NE(xsi, std::string::npos);
  EXPECT_LT(soap12, xsd);
  EXPECT_LT(xsd, xsi);
  // Ceará's event envelope: bare declaration and only the soap12 namespace.
  const std::string ce = load(V::vm50b, "CE", "envio.soap");
  EXPECT_EQ(ce.rfind("<?xml version=\"1.0\"?><soap12:Envelope", 0), 0u) << ce;
  EXPECT_EQ(ce.find("xmlns:xsi"), std::string::npos);
  EXPECT_EQ(ce.find("xmlns:xsd"), std::string::npos);
  // Ceará's receipt query: prefixed header, data version before the cUF, no declaration.
  const std::string rec = load(V::vm50b, "CE", "pedido_consultarecibo.soap");
  EXPECT_EQ(rec.rfind("<soap:Envelope", 0), 0u) << rec;
  EXPECT_LT(rec.find("<rec:versaoDados>3.10</rec:versaoDados>"), rec.find("<rec:cUF>%s"));
  // Version-4 envelopes have no declaration.
  EXPECT_EQ(load(V::vm60, "SP", "pedido_status.soap").rfind("<soap:Envelope", 0), 0u);
}

// ---- the files of vm50 and vm50a

const std::string kPasta = std::string(QORNFCE_BIN_DIR) + "/Templates/";

TEST(TemplateFiles, EveryStateAndNameHoldsTheCatalogueText) {
  for (const std::string vm : {"vm50/", "vm50a/"}) {
    for (const auto& uf : kUfs) {
      const std::string pasta = kPasta + vm + uf + "/";
      ASSERT_EQ(ListFiles(pasta, "*").size(), AllNames().size()) << pasta;
      for (const auto& name : AllNames()) {
        ASSERT_TRUE(FileExists(pasta + name)) << pasta + name;
        EXPECT_EQ(LoadFromFile(pasta + name), Load(V::vm50b, uf, name)) << pasta + name;
      }
    }
  }
}

// Anchors that do not go through the catalogue: the 3.10 services' envelopes (not the 4.00 ones
// the in-memory catalogue gives vm50 and vm50a), and the AN and CE overrides in their folders.
TEST(TemplateFiles, CarryTheLayout310AndTheStateOverrides) {
  struct Caso {
    const char* arquivo;
    const char* contem;
    const char* naoContem;
  };
  const Caso casos[] = {
      {"vm50/SP/pedido_status.xml", "versao=\"3.10\"", "4.00"},
      {"vm50/SP/pedido_status.soap", "<cUF>%s</cUF><versaoDados>3.10</versaoDados>",
       "NFeStatusServico4"},
      {"vm50a/RS/pedido_consultanf.soap", "wsdl/NfeConsulta2\"", "NFeConsultaProtocolo4"},
      {"vm50a/SP/pedido_enviarnota.xml", "<indSinc>0</indSinc>", "4.00"},
      {"vm50/AN/pedido_enviarnota.xml", "versao=\"2.00\"", "indSinc"},
      {"vm50a/AN/pedido_consultanf.xml", "versao=\"2.01\"", "3.10"},
      {"vm50a/AN/pedido_enviarnfe.soap", "wsdl/NfeRecepcao2\"", "NfeAutorizacao"},
      {"vm50/CE/pedido_consultarecibo.soap", "<rec:versaoDados>3.10</rec:versaoDados><rec:cUF>",
       "soap12:"},
      {"vm50a/CE/envio.soap", "<?xml version=\"1.0\"?>", "xmlns:xsd"},
      {"vm50a/SP/envio.soap", "xmlns:xsd", "<?xml version=\"1.0\"?>"},
  };
  for (const auto& caso : casos) {
    const std::string texto = LoadFromFile(kPasta + caso.arquivo);
    EXPECT_NE(texto.find(caso.contem), std::string::npos) << caso.arquivo << ": " << texto;
    EXPECT_EQ(texto.find(caso.naoContem), std::string::npos) << caso.arquivo << ": " << texto;
  }
}

// ---- against the official XSD package

const std::string& kKey = kSampleKey;
const std::string kCnpj = "11222333000181";
const std::string kDigest = "1JOTcOPq4q3fcyTvh2TyF4M5UUU=";

std::string T(V v, const std::string& name) { return Load(v, "SP", name); }

// Path to a schema of the official package, or empty when the package is not installed.
std::string SchemaFile(const std::string& file) {
  const std::filesystem::path dir(qor::test::SchemasFolder());
  if (dir.empty() || !std::filesystem::exists(dir / file)) return {};
  return (dir / file).string();
}

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
  std::string sig = Fill(T(V::vm60, "signature_info.xml"), {uri});
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

class Schema : public ::testing::TestWithParam<V> {
 protected:
  void SetUp() override { QOR_NEEDS_SCHEMAS(); }
  V v() const { return GetParam(); }
  std::string layout() const { return v() == V::vm60 ? "4.00" : "3.10"; }
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
  const std::string id = "3524" + kCnpj + "65001000000005000000007";
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
  // The events filled with the catalogue's sample values, whose Ids these are.
  const std::string id = "ID110111" + kKey + "01", idSub = "ID110112" + kKey + "01";
  const std::string evento =
      Fill(T(v(), "assinarevento.xml"),
           {FilledSample(v(), "SP", "evento_cancelar.xml"), Signature("#" + id)});
  ExpectValid(Fill(T(v(), "evento_enviocancelar.xml"), {"1", evento}),
              "envEventoCancNFe_v1.00.xsd");
  const std::string substituicao =
      Fill(T(v(), "assinarevento.xml"),
           {FilledSample(v(), "SP", "evento_cancelar_substituicao.xml"), Signature("#" + idSub)});
  ExpectValid(Fill(T(v(), "evento_enviocancelar.xml"), {"1", substituicao}),
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
  std::string evento = FilledSample(v(), "SP", "evento_epec.xml");  // with the Id above
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

std::string VersionParam(const ::testing::TestParamInfo<V>& info) {
  return VersionName(info.param);
}
INSTANTIATE_TEST_SUITE_P(Catalogue, Schema, ::testing::ValuesIn(kVersions), VersionParam);
INSTANTIATE_TEST_SUITE_P(Catalogue, SchemaV4, ::testing::Values(V::vm60), VersionParam);

}  // namespace
}  // namespace qor::testing
