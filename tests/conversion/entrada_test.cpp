// What the converter takes from outside: the text's encoding and characters, numbers held to
// the schema type the dictionary declares (the declarations checked against the official
// package), and how much of a value a message quotes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "base/Exceptions.h"
#include "conversion/TiposDoEsquema.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "platform/XsdPattern.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

const std::string kDicionario =
    std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/Conversor/NFCeDataSets.xml";
const std::string kAmostra =
    LoadFromFile(std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/nfce-um-item-dinheiro.tx2");

// The sample with the line of `campo` replaced by `linha`.
std::string Com(const std::string& campo, const std::string& linha) {
  std::string tx2 = kAmostra;
  const std::size_t at = tx2.find("\n" + campo + "=") + 1;
  return tx2.replace(at, tx2.find('\n', at) - at, linha);
}

std::string Converter(const std::string& tx2, const std::string& logErro = {}) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetDiretorioLogErro(logErro);
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  return parser.Converter();
}

TEST(Entrada, UTF8IsReadAsItIsAnythingElseAsWindows1252AndTheNoteIsWellFormed) {
  QOR_NEEDS_XMLLINT();
  TempDir dir;
  const std::string cp1252 = Com("xMun_C11", "xMun_C11=S\xE3o Paulo \x93\x80\x94");
  test::WriteFile(dir / "cp1252.tx2", cp1252);
  const struct {
    std::string entrada, esperado;
  } casos[] = {
      {kAmostra, "<xMun>São Paulo</xMun>"},
      {"\xEF\xBB\xBF" + kAmostra, "<xMun>São Paulo</xMun>"},
      {cp1252, "<xMun>São Paulo “€”</xMun>"},
      {dir / "cp1252.tx2", "<xMun>São Paulo “€”</xMun>"},
      // One byte that is not UTF-8 makes the whole text Windows-1252.
      {Com("xFant_C04", "xFant_C04=Caf\xE9"), "<xMun>SÃ£o Paulo</xMun>"},
  };
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.esperado);
    const std::string nota = Converter(caso.entrada);
    EXPECT_NE(nota.find(caso.esperado), std::string::npos) << nota;
    test::WriteFile(dir / "nota.xml", nota);
    std::string erro;
    EXPECT_EQ(test::RunCommand("xmllint --noout '" + dir / "nota.xml" + "'", &erro), 0) << erro;
  }
}

TEST(Entrada, ControlCharactersAreRefusedNamingLineAndField) {
  const std::string linha =
      "Não foi possível converter a Linha: [" +
      std::to_string(
          std::count(kAmostra.begin(), kAmostra.begin() + kAmostra.find("xProd_I04"), '\n')) +
      "] ";
  const struct {
    std::string valor, causa;
  } casos[] = {
      {std::string("PRO\0DUTO", 8), "U+0000 na coluna 14"},
      {"PRO\tDUTO", "U+0009 na coluna 14"},
      {"PRODUTO\x7F!", "U+007F na coluna 18"},
      {"PRODUTO \xC2\x85", "U+0085 na coluna 19"},
      {"PRODUTO \xEF\xBF\xBF", "U+FFFF na coluna 19"},
      {"PRODUTO \x81", "U+0081 na coluna 19"},  // undefined in Windows-1252
  };
  for (const auto& caso : casos) {
    const std::string erro = MessageOf<EqorNFCeConvTX2Exception>(
        [&] { Converter(Com("xProd_I04", "xProd_I04=" + caso.valor)); });
    EXPECT_EQ(erro.rfind(linha, 0), 0u) << erro;
    EXPECT_NE(erro.find("Erro: O campo [xProd_I04] contém o caractere não permitido " + caso.causa),
              std::string::npos)
        << erro;
  }
  // Tabs around a value are white space.
  EXPECT_NE(Converter(Com("xProd_I04", "xProd_I04=\tPRODUTO\t")).find("<xProd>PRODUTO</xProd>"),
            std::string::npos);
}

TEST(Entrada, NumbersAreHeldToTheirSchemaTypeAndRefusalsNameTheField) {
  const struct {
    std::string campo, valor;
    bool aceito;
  } casos[] = {
      {"vProd_I11", "9", true},
      {"vProd_I11", "null", true},
      {"vProd_I11", "9,00", false},
      {"vProd_I11", "abc", false},
      {"vProd_I11", "9e0", false},
      {"vProd_I11", "09.00", false},
      {"vProd_I11", "9.0", false},
      {"qCom_I10", "2.5", true},
      {"qCom_I10", "2.12345", false},
      {"nNF_B08", "-1", false},
      {"serie_B07", "01", false},
      {"vTroco_YA09", "1.000", false},
      // Fields without a numeric type that enter the access key are named as well.
      {"cNF_B03", "-1", false},
      {"dhEmi_B09", "2026-1x-07T10:15:00-03:00", false},
  };
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.campo + "=" + caso.valor);
    const std::string tx2 = Com(caso.campo, caso.campo + "=" + caso.valor);
    if (caso.aceito) {
      EXPECT_NO_THROW(Converter(tx2));
      continue;
    }
    // At the line for a typed field (the line named too), at the save for the key's fields.
    const std::string erro = MessageOf<EqorException>([&] { Converter(tx2); });
    EXPECT_NE(erro.find("Conteúdo " + caso.valor + " é inválido para o campo " + caso.campo + " ["),
              std::string::npos)
        << erro;
  }
}

TEST(Entrada, MessagesQuoteAtMost200CharactersOfAValue) {
  const std::string enorme(10 << 20, '7');
  for (const std::string& linha :
       {"xProd_I04=" + enorme, "vProd_I11=" + enorme, enorme, "INCLUIRPARTE=" + enorme}) {
    TempDir dir;
    const std::string erro =
        MessageOf<EqorException>([&] { Converter(Com("xProd_I04", linha), dir.path()); });
    EXPECT_LT(erro.size(), 2 * kQuoteLimit + 300) << erro.substr(0, 400);
    EXPECT_NE(erro.find("777..."), std::string::npos) << erro.substr(0, 400);
    EXPECT_LT(test::ReadFile(dir / "nfceDataSets_exception.log").size(), 4 * kQuoteLimit + 600);
  }
}

// ---- the dictionary's types against the official package ----------------------------------

void Percorrer(const XmlElement& e, const std::function<void(const XmlElement&)>& f) {
  f(e);
  for (const XmlElement& c : e.children) Percorrer(c, f);
}
std::string Atributo(const XmlElement& e, const std::string& nome) {
  for (const auto& [n, v] : e.attributes) {
    if (n == nome) return v.rfind("nfe:", 0) == 0 ? v.substr(4) : v;
  }
  return {};
}

TEST(Entrada, DictionaryTypesAreTheNumericTypesThePackageGivesEachElement) {
  QOR_NEEDS_SCHEMAS();
  // The package's named types whose patterns admit nothing but digits and a point, and the types
  // it gives each element or attribute name (a restriction's base for an anonymous type). Every
  // field whose name the package types as a decimal (its TDec_ family) only must declare one.
  std::map<std::string, std::string> numericos;
  std::map<std::string, std::set<std::string>> tiposDoNome;
  for (const char* xsd : {"tiposBasico_v4.00.xsd", "leiauteNFe_v4.00.xsd"}) {
    Percorrer(
        XmlDocument::Parse(LoadFromFile(test::SchemasFolder() + "/" + xsd)).ElementTree(),
        [&](const XmlElement& e) {
          if (e.name == "simpleType" && !Atributo(e, "name").empty()) {
            std::string padrao;
            Percorrer(e, [&](const XmlElement& p) {
              if (p.name == "pattern") padrao += (padrao.empty() ? "" : "|") + Atributo(p, "value");
            });
            if (!padrao.empty() &&
                std::regex_match(padrao, std::regex(R"((\\\.|[0-9\[\](){},?|-])+)"))) {
              numericos[Atributo(e, "name")] = padrao;
            }
          }
          if ((e.name == "element" || e.name == "attribute") && !Atributo(e, "name").empty()) {
            std::string tipo = Atributo(e, "type");
            Percorrer(e, [&](const XmlElement& r) {
              if (tipo.empty() && r.name == "restriction") tipo = Atributo(r, "base");
            });
            tiposDoNome[Atributo(e, "name")].insert(tipo);
          }
        });
  }
  for (const TipoDoEsquema& tipo : TiposDoEsquema()) {
    EXPECT_EQ(numericos[std::string(tipo.nome)], tipo.padrao) << tipo.nome;
  }
  std::size_t tipados = 0;
  Percorrer(XmlDocument::Parse(LoadFromFile(kDicionario)).ElementTree(), [&](const XmlElement& c) {
    if (c.name != "campo") return;
    const std::string nome = Atributo(c, "nome"), tipo = Atributo(c, "tipo");
    const std::set<std::string>& doEsquema = tiposDoNome[nome.substr(0, nome.find('_'))];
    if (!tipo.empty()) {
      ++tipados;
      EXPECT_TRUE(numericos.count(tipo) && doEsquema.count(tipo)) << nome << " tipo=" << tipo;
    } else if (!doEsquema.empty()) {
      EXPECT_FALSE(std::all_of(doEsquema.begin(), doEsquema.end(),
                               [](const std::string& t) { return t.rfind("TDec_", 0) == 0; }))
          << nome << " has no tipo, but the package types it a decimal";
    }
  });
  EXPECT_GT(tipados, 150u);
}

TEST(Entrada, PatternsMatchWhatTheRegularExpressionMatches) {
  // Every text of up to four characters from the numbers' alphabet, and longer numbers.
  std::vector<std::string> textos{
      "",        "1234567890123.45", "12345678901234",         "100.0000",
      "1.e5",    "0.0001",           "99999999999.1234567890", "1 ",
      "\xD9\xA1"};
  std::vector<std::string> nivel{""};
  for (int n = 0; n < 4; ++n) {
    std::vector<std::string> proximo;
    for (const std::string& t : nivel) {
      for (char c : std::string("019.,-e")) proximo.push_back(t + c);
    }
    textos.insert(textos.end(), proximo.begin(), proximo.end());
    nivel = std::move(proximo);
  }
  ASSERT_GT(textos.size(), 2000u);
  for (const TipoDoEsquema& tipo : TiposDoEsquema()) {
    const XsdPattern padrao{std::string(tipo.padrao)};
    EXPECT_TRUE(padrao.Fast()) << tipo.nome;
    const std::regex re{std::string(tipo.padrao)};
    for (const std::string& t : textos) {
      EXPECT_EQ(padrao.Matches(t), std::regex_match(t, re)) << tipo.nome << " '" << t << "'";
    }
  }
  // Outside the automaton's subset libxml2 matches, with the schema's own syntax ("\d", "^").
  const XsdPattern geral{R"(\d{2}^[!-ÿ]+)"};
  EXPECT_FALSE(geral.Fast());
  EXPECT_TRUE(geral.Matches("12^é"));
  EXPECT_FALSE(geral.Matches("12é"));
  EXPECT_THROW(XsdPattern("([0-9]"), EqorGovException);
}

}  // namespace
}  // namespace qor
