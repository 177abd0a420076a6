// Helpers for the template tests: placeholder filling, plausible fill values per template, and
// XML checks through xmllint (libxml2's own command-line tool, which the library under test did
// not write).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/Types.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor::testing {

inline constexpr const char* kNFeNs = "http://www.portalfiscal.inf.br/nfe";
inline constexpr const char* kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
// Marker put into envelope bodies so a query can tell where the body landed.
inline constexpr const char* kMarkerNs = "urn:qornfce:teste";
inline constexpr const char* kMarkerBody = "<pedido xmlns=\"urn:qornfce:teste\">1</pedido>";
// Access key of the sample note of the validation fixtures.
inline const std::string kSampleKey = "35240111222333000181550010000000011123456788";

// Every name of the catalogue, in the catalogue's order.
inline const std::vector<std::string>& AllNames() {
  static const std::vector<std::string> names{"assinar_inutilizacao.xml",
                                              "assinar_nota.xml",
                                              "assinarevento.xml",
                                              "cabec_consultanf.xml",
                                              "cancxmlevento_dest.xml",
                                              "envio.soap",
                                              "envioxml_dest.xml",
                                              "evento_cancelar.xml",
                                              "evento_cancelar_substituicao.xml",
                                              "evento_enviocancelar.xml",
                                              "evento_dest.xml",
                                              "infinut_inutilizarnf.xml",
                                              "inutxml_dest.xml",
                                              "pedido_consultanf.soap",
                                              "pedido_consultanf.xml",
                                              "pedido_consultarecibo.soap",
                                              "pedido_consultarecibo.xml",
                                              "pedido_enviarnfe.soap",
                                              "pedido_enviarnfezip.soap",
                                              "pedido_enviarnota.xml",
                                              "pedido_inutilizarnf.soap",
                                              "pedido_inutilizarnf.xml",
                                              "pedido_status.soap",
                                              "pedido_status.xml",
                                              "signature_info.xml",
                                              "qrcode.xml",
                                              "valida_cabecalho.xml",
                                              "valida_item.xml",
                                              "valida_itemcabec.xml",
                                              "envio_epec.xml",
                                              "pedido_envia_epec.soap",
                                              "evento_epec.xml",
                                              "envio_nfce_mfe.xml",
                                              "evento_cancelar_mfe.xml",
                                              "pedido_enviarnfe_integrador.soap",
                                              "pedido_cancelamfe_integrador.soap",
                                              "envio_nfce_sem_chave_mfe.xml",
                                              "hnfestatusservico2soap12.xml"};
  return names;
}

inline std::string Load(TVersaoManual v, const std::string& uf, const std::string& name) {
  return TqorNFCeTemplates::LoadTemplate(v, uf, name);
}

inline int CountPlaceholders(const std::string& text) {
  int n = 0;
  for (auto pos = text.find("%s"); pos != std::string::npos; pos = text.find("%s", pos + 2)) ++n;
  return n;
}

// Positional substitution, as the component fills its templates. Extra or missing values are
// the caller's fault and fail the test.
inline std::string Fill(const std::string& tpl, const std::vector<std::string>& values) {
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
inline std::vector<std::string> SampleArgs(const std::string& name, TVersaoManual v) {
  const bool v3 = v == TVersaoManual::vm50b;
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

inline std::string FilledSample(TVersaoManual v, const std::string& uf, const std::string& name) {
  return Fill(Load(v, uf, name), SampleArgs(name, v));
}

// ---- xmllint ----

struct ToolResult {
  int status = -1;
  std::string output;  // stdout and stderr, without the final line break
};

inline ToolResult Run(const std::string& command) {
  ToolResult r;
  r.status = qor::test::RunCommand(command, &r.output);
  while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == '\r')) {
    r.output.pop_back();
  }
  return r;
}

using qor::test::SchemaError;
using qor::test::WriteScratch;

// One xmllint run over many documents: for each, empty when well-formed, else the report lines
// naming its file.
inline std::vector<std::string> WellFormedErrors(const std::vector<std::string>& xmls) {
  std::vector<std::string> paths;
  std::string command = "xmllint --noout --nonet";
  for (const auto& xml : xmls) {
    paths.push_back(WriteScratch(xml));
    command += " '" + paths.back() + "'";
  }
  const std::string output = Run(command).output;
  std::vector<std::string> errors(xmls.size());
  std::size_t start = 0;
  while (start < output.size()) {
    auto end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (line.rfind(paths[i] + ":", 0) == 0) errors[i] += line + "\n";
    }
    start = end + 1;
  }
  return errors;
}

// Value of an XPath 1.0 expression (a count, a string, a boolean) over `xml`. The expression is
// passed in double quotes: use single quotes inside it.
inline std::string XPath(const std::string& xml, const std::string& expr) {
  return Run("xmllint --nonet --xpath \"" + expr + "\" '" + WriteScratch(xml) + "'").output;
}

// Several XPath checks ({expression, expected value}) over `xml` in one xmllint run; each
// mismatch fails the test naming its expression.
inline void ExpectXPaths(const std::string& xml,
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

// Path to a schema of the official package, or empty when the package is not installed.
inline std::string SchemaFile(const std::string& file) {
  const std::filesystem::path dir(qor::test::SchemasFolder());
  if (dir.empty() || !std::filesystem::exists(dir / file)) return {};
  return (dir / file).string();
}

inline std::string VersionName(TVersaoManual v) {
  switch (v) {
    case TVersaoManual::vm50:
      return "vm50";
    case TVersaoManual::vm50a:
      return "vm50a";
    case TVersaoManual::vm50b:
      return "vm50b";
    case TVersaoManual::vm60:
      return "vm60";
  }
  return "?";
}

// "pedido_status.soap" -> "pedido_status_soap", for test names.
inline std::string Identifier(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

}  // namespace qor::testing
