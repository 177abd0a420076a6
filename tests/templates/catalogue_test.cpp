// Lookup rules of the catalogue and the form of every template.
#include <array>
#include <typeinfo>

#include "TemplateTestSupport.h"
#include "templates/TqorNFCeTemplateVersaoUF.h"
#include "templates/TqorNFCeTemplateVersaoUF_AN.h"
#include "templates/TqorNFCeTemplateVersaoUF_CE.h"

namespace qor::testing {
namespace {

constexpr TVersaoManual kVersions[] = {TVersaoManual::vm50b, TVersaoManual::vm60};

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

// A namespace declaration glued to what precedes it ("...\"xmlns:a=") is not XML at all.
bool HasGluedDeclaration(const std::string& text) {
  for (auto at = text.find("xmlns"); at != std::string::npos; at = text.find("xmlns", at + 1)) {
    const char after = at + 5 < text.size() ? text[at + 5] : '\0';
    if ((after == ':' || after == '=') && (at == 0 || !IsBlank(text[at - 1]))) return true;
  }
  return false;
}

TEST(TemplateLookup, NameIsLowerCasedAndMatchedExactly) {
  for (const TVersaoManual v : kVersions) {
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
  const std::vector<std::string> shared{"AC", "AL", "AM", "AP", "BA", "DF", "ES", "GO", "MA",
                                        "MG", "MS", "MT", "PA", "PB", "PE", "PI", "PR", "RJ",
                                        "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};
  for (const auto& uf : shared) {
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
  for (const TVersaoManual v : kVersions) {
    for (const auto& name : AllNames()) {
      const std::string base = Load(v, "SP", name);
      EXPECT_EQ(Load(v, "sp", name), base) << name;
      EXPECT_EQ(Load(v, "an", name), base) << name;
      EXPECT_EQ(Load(v, "ce", name), base) << name;
      EXPECT_EQ(Load(v, "ZZ", name), base) << name;
    }
    EXPECT_NE(Load(v, "AN", "pedido_status.xml"), Load(v, "SP", "pedido_status.xml"));
  }
  EXPECT_NE(Load(TVersaoManual::vm50b, "CE", "envio.soap"),
            Load(TVersaoManual::vm50b, "SP", "envio.soap"));
  // Ceará's envelopes differ only for the 3.10 services.
  EXPECT_EQ(Load(TVersaoManual::vm60, "CE", "envio.soap"),
            Load(TVersaoManual::vm60, "SP", "envio.soap"));
  EXPECT_EQ(Load(TVersaoManual::vm60, "CE", "pedido_consultarecibo.soap"),
            Load(TVersaoManual::vm60, "SP", "pedido_consultarecibo.soap"));
}

TEST(TemplateLookup, LayoutVersionFollowsTheManual) {
  TqorNFCeTemplateVersaoUF t;
  const std::pair<TVersaoManual, std::string> cases[] = {{TVersaoManual::vm50, "3.10"},
                                                         {TVersaoManual::vm50a, "3.10"},
                                                         {TVersaoManual::vm50b, "3.10"},
                                                         {TVersaoManual::vm60, "4.00"}};
  for (const auto& [v, expected] : cases) {
    t.setVersaoManual(v);
    EXPECT_EQ(t.getVersaoXml(), expected) << VersionName(v);
  }
}

TEST(TemplateContent, BatchVersionAndSynchronousFlag) {
  QOR_NEEDS_XMLLINT();
  const auto batch = [](TVersaoManual v, const std::string& uf) {
    return FilledSample(v, uf, "pedido_enviarnota.xml");
  };
  const std::string vm60 = batch(TVersaoManual::vm60, "SP");
  EXPECT_EQ(XPath(vm60, "string(/*[local-name()='enviNFe']/@versao)"), "4.00");
  EXPECT_EQ(XPath(vm60, "string(/*/*[local-name()='indSinc'])"), "0");
  EXPECT_EQ(XPath(vm60, "local-name(/*/*[2])"), "indSinc");  // right after idLote
  EXPECT_EQ(XPath(batch(TVersaoManual::vm50b, "SP"), "string(/*/@versao)"), "3.10");
  for (const TVersaoManual v : kVersions) {
    const std::string an = batch(v, "AN");
    EXPECT_EQ(XPath(an, "string(/*/@versao)"), "2.00");
    EXPECT_EQ(XPath(an, "count(//*[local-name()='indSinc'])"), "0");
    EXPECT_EQ(XPath(an, "string(/*/*[local-name()='idLote'])"), "1");
  }
}

TEST(TemplateContent, NationalEnvironmentKeepsItsLayoutVersions) {
  QOR_NEEDS_XMLLINT();
  const std::string root = "string(/*/@versao)";
  // {name, query, AN's value, the shared value for vm60}
  const std::vector<std::array<std::string, 4>> cases{
      {"assinar_inutilizacao.xml", root, "2.00", "4.00"},
      {"envioxml_dest.xml", root, "2.00", "4.00"},
      {"envioxml_dest.xml", "string(/*/*[local-name()='protNFe']/@versao)", "2.00", "4.00"},
      {"pedido_consultanf.xml", root, "2.01", "4.00"},
      {"pedido_consultarecibo.xml", root, "2.00", "4.00"},
      {"pedido_status.xml", root, "2.00", "4.00"},
      {"valida_cabecalho.xml", root, "2.00", "4.00"},
      {"valida_cabecalho.xml", "string(//*[local-name()='infNFe']/@versao)", "2.00", "4.00"},
      {"valida_cabecalho.xml", "count(//*[local-name()='indSinc'])", "0", "1"},
      {"valida_itemcabec.xml", root, "2.00", "4.00"},
      {"valida_itemcabec.xml", "count(//*[local-name()='indSinc'])", "0", "1"},
  };
  for (const TVersaoManual v : kVersions) {
    for (const auto& [name, query, an, shared] : cases) {
      SCOPED_TRACE(name + " " + VersionName(v));
      ExpectXPaths(FilledSample(v, "AN", name), {{query, an}});
      if (v == TVersaoManual::vm60) ExpectXPaths(FilledSample(v, "SP", name), {{query, shared}});
    }
  }
}

TEST(TemplateContent, EpecEventCarriesItsFixedValues) {
  QOR_NEEDS_XMLLINT();
  for (const TVersaoManual v : kVersions) {
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

TEST(TemplateContent, EnvelopeNamespaceDeclarationsAreSeparated) {
  int envelopes = 0;
  for (const TVersaoManual v : kVersions) {
    for (const std::string uf : {"SP", "AN", "CE"}) {
      for (const auto& name : AllNames()) {
        const std::string text = Load(v, uf, name);
        if (text.find("Envelope") == std::string::npos) continue;
        ++envelopes;
        EXPECT_FALSE(HasGluedDeclaration(text)) << name << " " << uf << "\n" << text;
        EXPECT_NE(text.find(" xmlns"), std::string::npos) << name;
      }
    }
  }
  EXPECT_EQ(envelopes, 2 * 3 * 10);
}

// ---- Every template, every version, a few states ----

struct Case {
  std::string name;
  TVersaoManual versao;
  std::string uf;
};

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const auto& name : AllNames()) {
    for (const TVersaoManual v : kVersions) {
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

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryTemplate, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return CaseId(info.param);
                         });

}  // namespace
}  // namespace qor::testing
