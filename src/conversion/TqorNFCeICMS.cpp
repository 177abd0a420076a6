// Part N: the ICMS element of an item, chosen by its CST (or CSOSN) as the layout's decision
// table says, with the fields of that element in schema order.
#include <array>
#include <string_view>
#include <vector>

#include "conversion/TqorNFCeCustomDataSet.h"

namespace qor {

namespace {

using V = TVersaoEsquema;

struct IcmsElemento {
  std::string_view element;
  std::vector<std::string_view> fields;  // after orig_N11 and the CST or CSOSN field
};

// The forms of the newest layout (4.00 as published): fields in schema order.
const std::vector<std::string_view> kST = {"modBCST_N18",   "pMVAST_N19",  "pRedBCST_N20",
                                           "vBCST_N21",     "pICMSST_N22", "vICMSST_N23",
                                           "vBCFCPST_N23a", "pFCPST_N23b", "vFCPST_N23d"};

std::vector<std::string_view> Join(std::initializer_list<std::vector<std::string_view>> parts) {
  std::vector<std::string_view> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const IcmsElemento& Elemento(std::string_view code) {
  static const std::vector<std::pair<std::vector<std::string_view>, IcmsElemento>> kTabela = {
      {{"00"},
       {"ICMS00", {"modBC_N13", "vBC_N15", "pICMS_N16", "vICMS_N17", "pFCP_N17b", "vFCP_N17c"}}},
      {{"10"},
       {"ICMS10", Join({{"modBC_N13", "vBC_N15", "pICMS_N16", "vICMS_N17", "vBCFCP_N17a",
                         "pFCP_N17b", "vFCP_N17c"},
                        kST,
                        {"vICMSSTDeson_N33a", "motDesICMSST_N33b"}})}},
      {{"20"},
       {"ICMS20",
        {"modBC_N13", "pRedBC_N14", "vBC_N15", "pICMS_N16", "vICMS_N17", "vBCFCP_N17a", "pFCP_N17b",
         "vFCP_N17c", "vICMSDeson_N28a", "motDesICMS_N28"}}},
      {{"30"}, {"ICMS30", Join({kST, {"vICMSDeson_N28a", "motDesICMS_N28"}})}},
      // The published schema has no vICMS in ICMS40.
      {{"40", "41", "50"}, {"ICMS40", {"vICMSDeson_N28a", "motDesICMS_N28"}}},
      {{"51"},
       {"ICMS51",
        {"modBC_N13", "pRedBC_N14", "vBC_N15", "pICMS_N16", "vICMSOp_N16a", "pDif_N16b",
         "vICMSDif_N16c", "vICMS_N17", "vBCFCP_N17a", "pFCP_N17b", "vFCP_N17c", "pFCPDif_N17d",
         "vFCPDif_N17e", "vFCPEfet_N17f"}}},
      // The published schema has vBCFCPSTRet here, not vBCFCPST.
      {{"60"},
       {"ICMS60",
        {"vBCSTRet_N26", "pST_N26a", "vICMSSubstituto_N26b", "vICMSSTRet_N27", "vBCFCPSTRet_N27a",
         "pFCPSTRet_N27b", "vFCPSTRet_N27d", "pRedBCEfet_N34", "vBCEfet_N35", "pICMSEfet_N36",
         "vICMSEfet_N37"}}},
      {{"70"},
       {"ICMS70",
        Join({{"modBC_N13", "pRedBC_N14", "vBC_N15", "pICMS_N16", "vICMS_N17", "vBCFCP_N17a",
               "pFCP_N17b", "vFCP_N17c"},
              kST,
              {"vICMSDeson_N28a", "motDesICMS_N28", "vICMSSTDeson_N33a", "motDesICMSST_N33b"}})}},
      {{"90"},
       {"ICMS90",
        Join({{"modBC_N13", "vBC_N15", "pRedBC_N14", "pICMS_N16", "vICMS_N17", "vBCFCP_N17a",
               "pFCP_N17b", "vFCP_N17c"},
              kST,
              {"vICMSDeson_N28a", "motDesICMS_N28", "vICMSSTDeson_N33a", "motDesICMSST_N33b"}})}},
      {{"#Part"},
       {"ICMSPart", Join({{"modBC_N13", "vBC_N15", "pRedBC_N14", "pICMS_N16", "vICMS_N17"},
                          kST,
                          {"pBCOp_N25", "UFST_N24"}})}},
      {{"#ST"},
       {"ICMSST",
        {"vBCSTRet_N26", "pST_N26a", "vICMSSubstituto_N26b", "vICMSSTRet_N27", "vBCFCPSTRet_N27a",
         "pFCPSTRet_N27b", "vFCPSTRet_N27d", "vBCSTDest_N31", "vICMSSTDest_N32", "pRedBCEfet_N34",
         "vBCEfet_N35", "pICMSEfet_N36", "vICMSEfet_N37"}}},
      {{"101"}, {"ICMSSN101", {"pCredSN_N29", "vCredICMSSN_N30"}}},
      {{"102", "103", "300", "400"}, {"ICMSSN102", {}}},
      {{"201"}, {"ICMSSN201", Join({kST, {"pCredSN_N29", "vCredICMSSN_N30"}})}},
      {{"202", "203"}, {"ICMSSN202", kST}},
      {{"500"},
       {"ICMSSN500",
        {"vBCSTRet_N26", "pST_N26a", "vICMSSubstituto_N26b", "vICMSSTRet_N27", "vBCFCPSTRet_N27a",
         "pFCPSTRet_N27b", "vFCPSTRet_N27d", "pRedBCEfet_N34", "vBCEfet_N35", "pICMSEfet_N36",
         "vICMSEfet_N37"}}},
      {{"900"},
       {"ICMSSN900", Join({{"modBC_N13", "vBC_N15", "pRedBC_N14", "pICMS_N16", "vICMS_N17"},
                           kST,
                           {"pCredSN_N29", "vCredICMSSN_N30"}})}},
  };
  static const IcmsElemento kNenhum{};
  for (const auto& [codes, elemento] : kTabela) {
    for (std::string_view c : codes) {
      if (c == code) return elemento;
    }
  }
  return kNenhum;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Whether `field` of `element` exists at layout level `nivel`; `nome` receives the field name
// of that level (the exemption value was vICMSDeson_N27a before 4.00).
bool CampoNoNivel(std::string_view element, std::string_view field, V nivel,
                  std::string_view& nome) {
  nome = field;
  if (nivel >= V::pl_009g) return true;
  if (field == "vICMSSTDeson_N33a" || field == "motDesICMSST_N33b" || field == "pFCPDif_N17d" ||
      field == "vFCPDif_N17e" || field == "vFCPEfet_N17f" || field == "vICMSSubstituto_N26b") {
    return false;
  }
  if (nivel >= V::pl_009) return true;
  if (Contains(field, "FCP") || field == "pST_N26a" || Contains(field, "Efet")) return false;
  if (field == "vICMSDeson_N28a") nome = "vICMSDeson_N27a";
  if (nivel >= V::pl_008a) return true;
  if (field == "vICMSDeson_N28a") return false;
  if (element == "ICMS51" &&
      (field == "vICMSOp_N16a" || field == "pDif_N16b" || field == "vICMSDif_N16c")) {
    return false;
  }
  if (field == "motDesICMS_N28" && element != "ICMS40") return false;
  return true;
}

}  // namespace

void TqorNFCeCustomDataSet::ConvPartN(std::string& out) {
  const TXmlDataSetNFCe& n = Parte("N");
  const std::string& cst = ValorDe(n, "CST_N12");
  const std::string& csosn = ValorDe(n, "CSOSN_N12a");
  std::string_view code = cst;
  const char* codeField = "CST_N12";
  if ((cst == "10" || cst == "90") && !ValorDe(n, "UFST_N24").empty()) {
    code = "#Part";
  } else if (cst == "41" &&
             (!ValorDe(n, "vBCSTRet_N26").empty() || !ValorDe(n, "vICMSSTRet_N27").empty() ||
              !ValorDe(n, "vBCSTDest_N31").empty())) {
    code = "#ST";
  }
  const IcmsElemento* elemento = &Elemento(code);
  // A CSOSN of the simplified regime replaces the CST's element.
  if (const IcmsElemento& simples = Elemento(csosn);
      !csosn.empty() && !simples.element.empty() && simples.element.substr(0, 6) == "ICMSSN") {
    elemento = &simples;
    codeField = "CSOSN_N12a";
  }
  if (elemento->element.empty()) return;
  const V nivel = Nivel();
  Envolver(out, "ICMS", [this, &out, &n, elemento, codeField, nivel] {
    Envolver(out, elemento->element, [this, &out, &n, elemento, codeField, nivel] {
      AppendFieldsXML(out, n, {"orig_N11", codeField});
      for (std::string_view field : elemento->fields) {
        std::string_view nome;
        if (CampoNoNivel(elemento->element, field, nivel, nome)) AppendFieldsXML(out, n, {nome});
      }
    });
  });
}

}  // namespace qor
