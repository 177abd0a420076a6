#include "conversion/TqorNFCeCustomDataSet.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/Exceptions.h"
#include "platform/Text.h"
#include "utils/Chave.h"

namespace qor {

namespace {

using V = TVersaoEsquema;

template <typename List>
bool Contem(const List& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

TqorNFCeCustomDataSet::TqorNFCeCustomDataSet() { SetActiveMasterSource(true); }
TqorNFCeCustomDataSet::~TqorNFCeCustomDataSet() = default;

std::unique_ptr<TXmlFieldNFCe> TqorNFCeCustomDataSet::CreateXmlField(TXmlDataSetNFCe& group,
                                                                     std::size_t index) {
  return std::make_unique<TqorNFCeXMLField>(group, index);
}

void TqorNFCeCustomDataSet::GetAtributosComplementares(
    TXmlFieldNFCe& field, const std::unordered_map<std::string, std::string>& attributes) {
  TqorXMLDataSetNFCe::GetAtributosComplementares(field, attributes);
  const auto rec = attributes.find("rec");
  if (rec != attributes.end()) static_cast<TqorNFCeXMLField&>(field).SetRec(rec->second);
}

void TqorNFCeCustomDataSet::SetXMLDicionario(const std::string& path) {
  listaNFE_.clear();
  listaItem_.clear();
  std::fill(std::begin(letras_), std::end(letras_), nullptr);
  icmsUFDest_ = nullptr;
  TqorXMLDataSetNFCe::SetXMLDicionario(path);
  if (path.empty()) return;
  MapeaDataSetsParaPropriedades();
  for (const std::string& name : AddDataSetsListaNFE()) listaNFE_.push_back(&Parte(name));
  for (const std::string& name : AddDataSetsListaItemNFCe()) listaItem_.push_back(&Parte(name));
}

std::vector<std::string> TqorNFCeCustomDataSet::AddDataSetsListaNFE() const {
  return {"A", "B", "C", "D", "E", "F", "G", "X", "W", "Y", "Z", "REBOQUE", "VOL", "LACRE",
          "PROCREF", "OBSCONT", "MANAGER"};
}

std::vector<std::string> TqorNFCeCustomDataSet::AddDataSetsListaItemNFCe() const {
  return {"H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V", "DI", "ADI",
          "L1"};
}

void TqorNFCeCustomDataSet::MapeaDataSetsParaPropriedades() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    letras_[letter - 'A'] = FindDataSetOrNull(std::string(1, letter));
  }
  icmsUFDest_ = Nivel() >= V::pl_008h ? FindDataSetOrNull("ICMSUFDest") : nullptr;
}

TXmlDataSetNFCe* TqorNFCeCustomDataSet::Grupo(char letter) const {
  return letter >= 'A' && letter <= 'Z' ? letras_[letter - 'A'] : nullptr;
}

// ---- life cycle ---------------------------------------------------------------------------

void TqorNFCeCustomDataSet::CheckParams() const {
  if (GetXMLDicionario().empty()) {
    throw EqorNFCeDataSetConfigException("Arquivo Estrutura do XML não configurado.",
                                         GetDiretorioLogErro());
  }
}

void TqorNFCeCustomDataSet::Incluir() {
  ClearDataSets();
  SetState(TDataSetState::dsInsert);
  for (TXmlDataSetNFCe* group : listaNFE_) Incluir(*group);
}

void TqorNFCeCustomDataSet::IncluirItem() {
  if (stateItem_ == TDataSetState::dsEdit || stateItem_ == TDataSetState::dsInsert) {
    throw EqorNFCeDataSetsException("Item não salvo", GetDiretorioLogErro());
  }
  for (TXmlDataSetNFCe* group : listaItem_) Incluir(*group);
  stateItem_ = TDataSetState::dsInsert;
}

void TqorNFCeCustomDataSet::SalvarItem() {
  CheckParams();
  for (TXmlDataSetNFCe* group : listaItem_) {
    if (group->Editing()) group->Post();
  }
  stateItem_ = TDataSetState::dsBrowse;
}

void TqorNFCeCustomDataSet::Salvar() {
  CheckParams();
  SalvarItem();
  for (TXmlDataSetNFCe* group : listaNFE_) {
    if (group->Editing()) {
      group->Post();
      group->First();
    }
  }
  GetLoteNFCe().Add(ConverterAuto());
  SetState(TDataSetState::dsBrowse);
}

void TqorNFCeCustomDataSet::Cancelar() {
  ClearDataSets();
  SetState(TDataSetState::dsBrowse);
  stateItem_ = TDataSetState::dsBrowse;
}

void TqorNFCeCustomDataSet::CheckBrowseMode(TXmlDataSetNFCe& group) {
  if (!group.Editing()) return;
  if (PossuiDadosCampo(group)) {
    group.Post();
  } else {
    group.Cancel();
  }
}

// ---- output helpers -----------------------------------------------------------------------

void TqorNFCeCustomDataSet::AppendFieldXML(std::string& out, const TXmlFieldNFCe& field) const {
  // The NFC-e model writes values exactly as held: accents included.
  TqorXMLDataSetNFCe::AppendFieldXML(out, field);
}

std::string TqorNFCeCustomDataSet::Envolver(const std::string& tag, const std::string& content) {
  if (content.empty()) return {};
  std::string out;
  out.reserve(content.size() + 2 * tag.size() + 5);
  out += '<';
  out += tag;
  out += '>';
  out += content;
  out += "</";
  out += tag;
  out += '>';
  return out;
}

std::string TqorNFCeCustomDataSet::CadaRegistro(TXmlDataSetNFCe& group, const std::string& tag,
                                                const std::function<std::string()>& content) {
  CheckBrowseMode(group);
  std::string out;
  for (group.First(); !group.Eof(); group.Next()) out += Envolver(tag, content());
  return out;
}

// ---- note assembly ------------------------------------------------------------------------

std::string TqorNFCeCustomDataSet::ConverterAuto() {
  SetActiveMasterSource(true);
  std::string xml = ConvPartA();
  xml += ConvPartB();
  xml += ConvPartC();
  xml += ConvPartD();
  xml += ConvPartE();
  xml += ConvPartF();
  xml += ConvPartG();
  xml += ConvAutXML();
  xml += ConvPartItens();
  xml += ConvPartW();
  xml += ConvPartX();
  xml += ConvPartY();
  xml += Nivel() >= V::pl_009 ? ConvPartYA01() : Nivel() >= V::pl_008g ? ConvPartYA() : "";
  xml += ConvPartYB();
  xml += ConvPartZ();
  xml += ConvPartZD();
  xml += "</infNFe>";
  xml += ConvPartZX();
  return xml;
}

// Part A: the start tag, after the access key is computed and stored in A and B.
std::string TqorNFCeCustomDataSet::ConvPartA() {
  TXmlDataSetNFCe& a = Parte("A");
  TXmlDataSetNFCe& b = Parte("B");
  CheckBrowseMode(b);
  if (b.RecordCount() == 0) {
    throw EqorNFCeDataSetsException(
        "Parte B - Identificação da Nota Fiscal eletrônica não foi preenchida.",
        GetDiretorioLogErro());
  }
  b.First();
  const std::string chave = CalcularChave(b, Parte("C"));
  if (!a.Editing()) a.Edit();
  Campo("Id_A03").SetAsString("NFe" + chave);
  a.Post();
  if (!b.Editing()) b.Edit();
  Campo("cNF_B03").SetAsString(Czro(b.Value("cNF_B03"), DigitosCNF()));
  Campo("cDV_B23").SetAsString(chave.substr(chave.size() - 1));
  b.Post();
  return "<infNFe " + ConvertFieldParaXML(a, "Id_A03") + " " +
         ConvertFieldParaXML(a, "versao_A02") + ">";
}

std::string TqorNFCeCustomDataSet::CalcularChave(const TXmlDataSetNFCe& b,
                                                 const TXmlDataSetNFCe& c) const {
  return qor::CalculaChave(b.Value("dEmi_B09"), b.Value("cUF_B02"), c.Value("CNPJ_C02"),
                           b.Value("mod_B06"), b.Value("serie_B07"), b.Value("nNF_B08"),
                           b.Value("cNF_B03"));
}

std::string TqorNFCeCustomDataSet::ConvPartB() {
  const TXmlDataSetNFCe& b = Parte("B");
  std::string out = "<ide>";
  AppendFieldsXML(out, b, {"cUF_B02", "cNF_B03", "natOp_B04"});
  if (Nivel() < V::pl_009) AppendFieldsXML(out, b, {"indPag_B05"});
  AppendFieldsXML(out, b,
                  {"mod_B06", "serie_B07", "nNF_B08", "dhEmi_B09", "dhSaiEnt_B10", "tpNF_B11",
                   "idDest_B11a", "cMunFG_B12", "tpImp_B21", "tpEmis_B22", "cDV_B23",
                   "tpAmb_B24", "finNFe_B25", "indFinal_B25a", "indPres_B25b"});
  if (Nivel() >= V::pl_009) AppendFieldsXML(out, b, {"indIntermed_B25c"});
  AppendFieldsXML(out, b, {"procEmi_B26", "verProc_B27", "dhCont_B28", "xJust_B29"});
  // The published schemas place the references at the end of ide.
  out += ConvPartRef();
  out += "</ide>";
  return out;
}

std::string TqorNFCeCustomDataSet::ConvPartRef() {
  TXmlDataSetNFCe* nref = FindDataSetOrNull("NREF");
  if (!nref) return {};
  return CadaRegistro(*nref, "NFref", [this, nref] {
    std::string out = ConvertFieldParaXML(*nref, "refNFe_BA02");
    out += Envolver("refNF", ConvertFieldsParaXML(*nref, {"cUF_BA04", "AAMM_BA05", "CNPJ_BA06",
                                                          "mod_BA07", "serie_BA08", "nNF_BA09"}));
    out += Envolver("refNFP",
                    ConvertFieldsParaXML(*nref, {"cUF_BA11", "AAMM_BA12", "CNPJ_BA13",
                                                 "CPF_BA14", "IE_BA15", "mod_BA16", "serie_BA17",
                                                 "nNF_BA18"}));
    out += ConvertFieldParaXML(*nref, "refCTe_BA19");
    out += Envolver("refECF",
                    ConvertFieldsParaXML(*nref, {"mod_BA21", "nECF_BA22", "nCOO_BA23"}));
    return out;
  });
}

std::string TqorNFCeCustomDataSet::ConvPartC() {
  const TXmlDataSetNFCe& c = Parte("C");
  std::string out = ConvertFieldsParaXML(c, {"CNPJ_C02", "CPF_C02a", "xNome_C03", "xFant_C04"});
  out += Envolver("enderEmit",
                  ConvertFieldsParaXML(c, {"xLgr_C06", "nro_C07", "xCpl_C08", "xBairro_C09",
                                           "cMun_C10", "xMun_C11", "UF_C12", "CEP_C13",
                                           "cPais_C14", "xPais_C15", "fone_C16"}));
  AppendFieldsXML(out, c, {"IE_C17", "IEST_C18", "IM_C19", "CNAE_C20", "CRT_C21"});
  return Envolver("emit", out);
}

std::string TqorNFCeCustomDataSet::ConvPartD() {
  TXmlDataSetNFCe& d = Parte("D");
  d.SetTagXML("avulsa");
  return ConvertDataSetParaXML(d);
}

std::string TqorNFCeCustomDataSet::ConvPartE() {
  const TXmlDataSetNFCe& e = Parte("E");
  const std::string id =
      ConvertFieldsParaXML(e, {"CNPJ_E02", "CPF_E03", "idEstrangeiro_E03a", "xNome_E04"});
  if (id.empty()) return {};
  const std::string ender = ConvertFieldsParaXML(
      e, {"xLgr_E06", "nro_E07", "xCpl_E08", "xBairro_E09", "cMun_E10", "xMun_E11", "UF_E12",
          "CEP_E13", "cPais_E14", "xPais_E15", "fone_E16"});
  const std::string resto =
      Nivel() >= V::pl_008a
          ? ConvertFieldsParaXML(e, {"indIEDest_E16a", "IE_E17", "ISUF_E18", "IM_E18a",
                                     "email_E19"})
          : ConvertFieldsParaXML(e, {"IE_E17", "ISUF_E18", "email_E19"});
  return "<dest>" + id + Envolver("enderDest", ender) + resto + "</dest>";
}

std::string TqorNFCeCustomDataSet::ConvPartF() {
  TXmlDataSetNFCe& f = Parte("F");
  f.SetTagXML("retirada");
  return ConvertDataSetParaXML(f);
}

std::string TqorNFCeCustomDataSet::ConvPartG() {
  TXmlDataSetNFCe& g = Parte("G");
  g.SetTagXML("entrega");
  return ConvertDataSetParaXML(g);
}

std::string TqorNFCeCustomDataSet::ConvAutXML() {
  if (Nivel() < V::pl_008a) return {};
  TXmlDataSetNFCe& aut = Parte("AUTXML");
  aut.SetTagXML({});
  return CadaRegistro(aut, "autXML", [this, &aut] { return ConvertDataSetParaXML(aut); });
}

// ---- items --------------------------------------------------------------------------------

std::string TqorNFCeCustomDataSet::ConvPartItens() {
  TXmlDataSetNFCe& h = Parte("H");
  CheckBrowseMode(h);
  std::string out;
  for (h.First(); !h.Eof(); h.Next()) {
    out += "<det ";
    out += ConvertFieldParaXML(h, "nItem_H02");
    out += '>';
    out += ConvPartI();
    out += "<imposto>";
    if (Nivel() >= V::pl_007a) out += ConvPartM();
    out += ConvPartN();
    out += ConvPartO();
    out += ConvPartP();
    out += ConvPartU();
    out += ConvPartQ();
    out += ConvPartR();
    out += ConvPartS();
    out += ConvPartT();
    if (Nivel() >= V::pl_008h) out += ConvPartICMSUFDest();
    out += "</imposto>";
    out += ConvPartV();
    out += "</det>";
  }
  return out;
}

std::string TqorNFCeCustomDataSet::ConvPartI() {
  const TXmlDataSetNFCe& i = Parte("I");
  const V nivel = Nivel();
  std::string out = "<prod>";
  AppendFieldsXML(out, i, {"cProd_I02", "cEAN_I03"});
  if (nivel >= V::pl_009g) AppendFieldsXML(out, i, {"cBarra_I03a"});
  AppendFieldsXML(out, i, {"xProd_I04", "NCM_I05"});
  if (nivel >= V::pl_008h) AppendFieldsXML(out, i, {"CEST_I05c"});
  if (nivel >= V::pl_009) AppendFieldsXML(out, i, {"indEscala_I05d", "CNPJFab_I05e", "cBenef_I05f"});
  AppendFieldsXML(out, i,
                  {"EXTIPI_I06", "CFOP_I08", "uCom_I09", "qCom_I10", "vUnCom_I10a", "vProd_I11",
                   "cEANTrib_I12"});
  if (nivel >= V::pl_009g) AppendFieldsXML(out, i, {"cBarraTrib_I12a"});
  AppendFieldsXML(out, i,
                  {"uTrib_I13", "qTrib_I14", "vUnTrib_I14a", "vFrete_I15", "vSeg_I16",
                   "vDesc_I17", "vOutro_I17a", "indTot_I17b"});
  out += ConvPartDI();
  if (nivel >= V::pl_008a) out += ConvDetExport();
  AppendFieldsXML(out, i, {"xPed_I60", "nItemPed_I61"});
  if (nivel >= V::pl_008a) AppendFieldsXML(out, i, {"nFCI_I70"});
  if (nivel >= V::pl_009) out += ConvPartI80();
  out += ConvPartJ();
  out += ConvPartK();
  out += ConvPartL();
  out += ConvPartL1();
  out += "</prod>";
  return out;
}

std::string TqorNFCeCustomDataSet::ConvPartDI() {
  TXmlDataSetNFCe& di = Parte("DI");
  TXmlDataSetNFCe& adi = Parte("ADI");
  di.SetTagXML({});
  adi.SetTagXML("adi");
  return CadaRegistro(di, "DI", [this, &di, &adi] {
    std::string out = ConvertDataSetParaXML(di);
    if (out.empty()) return out;
    CheckBrowseMode(adi);
    for (adi.First(); !adi.Eof(); adi.Next()) out += ConvertDataSetParaXML(adi);
    return out;
  });
}

std::string TqorNFCeCustomDataSet::ConvDetExport() {
  TXmlDataSetNFCe& det = Parte("DETEXPORT");
  TXmlDataSetNFCe& ind = Parte("EXPORTIND");
  det.SetTagXML({});
  ind.SetTagXML("exportInd");
  return CadaRegistro(det, "detExport", [this, &det, &ind] {
    std::string out = ConvertDataSetParaXML(det);
    CheckBrowseMode(ind);
    for (ind.First(); !ind.Eof(); ind.Next()) out += ConvertDataSetParaXML(ind);
    return out;
  });
}

std::string TqorNFCeCustomDataSet::ConvPartI80() {
  TXmlDataSetNFCe& rastro = Parte("I80");
  return CadaRegistro(rastro, "rastro", [this, &rastro] {
    return ConvertFieldsParaXML(rastro,
                                {"nLote_I81", "qLote_I82", "dFab_I83", "dVal_I84", "cAgreg_I85"});
  });
}

std::string TqorNFCeCustomDataSet::ConvPartJ() {
  TXmlDataSetNFCe& j = Parte("J");
  j.SetTagXML("veicProd");
  return ConvertDataSetParaXML(j);
}

std::string TqorNFCeCustomDataSet::ConvPartK() {
  TXmlDataSetNFCe& k = Parte("K");
  if (Nivel() >= V::pl_009) {
    return Envolver("med", ConvertFieldsParaXML(
                               k, {"cProdANVISA_K01a", "xMotivoIsencao_K01b", "vPMC_K06"}));
  }
  k.SetTagXML({});
  return CadaRegistro(k, "med", [this, &k] { return ConvertDataSetParaXML(k); });
}

std::string TqorNFCeCustomDataSet::ConvPartL() {
  TXmlDataSetNFCe& l = Parte("L");
  l.SetTagXML({});
  return CadaRegistro(l, "arma", [this, &l] { return ConvertDataSetParaXML(l); });
}

std::string TqorNFCeCustomDataSet::ConvPartL1() {
  const TXmlDataSetNFCe& l1 = Parte("L1");
  const V nivel = Nivel();
  if (nivel < V::pl_008a) {
    std::string out =
        ConvertFieldsParaXML(l1, {"cProdANP_L102", "CODIF_L103", "qTemp_L104", "UFCons_L120"});
    out += Envolver("CIDE",
                    ConvertFieldsParaXML(l1, {"qBCProd_L106", "vAliqProd_L107", "vCIDE_L108"}));
    return Envolver("comb", out);
  }
  std::string out = ConvertFieldParaXML(l1, "cProdANP_LA02");
  if (nivel >= V::pl_009) {
    AppendFieldsXML(out, l1,
                    {"descANP_LA03", "pGLP_LA03a", "pGNn_LA03b", "pGNi_LA03c", "vPart_LA03d"});
  } else {
    AppendFieldsXML(out, l1, {"pMixGN_LA03"});
  }
  AppendFieldsXML(out, l1, {"CODIF_LA04", "qTemp_LA05", "UFCons_LA06"});
  out += Envolver("CIDE",
                  ConvertFieldsParaXML(l1, {"qBCProd_LA08", "vAliqProd_LA09", "vCIDE_LA10"}));
  if (nivel >= V::pl_008g) {
    out += Envolver("encerrante",
                    ConvertFieldsParaXML(l1, {"nBico_LA12", "nBomba_LA13", "nTanque_LA14",
                                              "vEncIni_LA15", "vEncFin_LA16"}));
  }
  return Envolver("comb", out);
}

std::string TqorNFCeCustomDataSet::ConvPartM() {
  return ConvertFieldParaXML(Parte("M"), "vTotTrib_M02");
}

std::string TqorNFCeCustomDataSet::ConvPartO() {
  const TXmlDataSetNFCe& o = Parte("O");
  static constexpr std::array<std::string_view, 4> kTrib = {"00", "49", "50", "99"};
  static constexpr std::array<std::string_view, 10> kNT = {"01", "02", "03", "04", "05",
                                                           "51", "52", "53", "54", "55"};
  const std::string& cst = o.Value("CST_O09");
  std::string imposto;
  if (Contem(kTrib, cst)) {
    imposto = Envolver("IPITrib", ConvertFieldsParaXML(o, {"CST_O09", "vBC_O10", "pIPI_O13",
                                                           "qUnid_O11", "vUnid_O12", "vIPI_O14"}));
  } else if (Contem(kNT, cst)) {
    imposto = Envolver("IPINT", ConvertFieldParaXML(o, "CST_O09"));
  }
  if (imposto.empty()) return {};
  // The class of framing (clEnq) left the layout with version 4.00.
  std::string out = Nivel() < V::pl_009 ? ConvertFieldParaXML(o, "clEnq_O02") : std::string();
  AppendFieldsXML(out, o, {"CNPJProd_O03", "cSelo_O04", "qSelo_O05", "cEnq_O06"});
  return "<IPI>" + out + imposto + "</IPI>";
}

std::string TqorNFCeCustomDataSet::ConvPartP() {
  TXmlDataSetNFCe& p = Parte("P");
  p.SetTagXML("II");
  return ConvertDataSetParaXML(p);
}

std::string TqorNFCeCustomDataSet::ConvPartU() {
  TXmlDataSetNFCe& u = Parte("U");
  u.SetTagXML("ISSQN");
  return ConvertDataSetParaXML(u);
}

namespace {

// The form of PIS and COFINS a CST selects (0 none, 1 Aliq, 2 Qtde, 3 NT, 4 Outr).
int FormaPisCofins(const std::string& cst, bool cst05NaoTributado) {
  if (cst == "01" || cst == "02") return 1;
  if (cst == "03") return 2;
  if (cst == "04" || cst == "06" || cst == "07" || cst == "08" || cst == "09") return 3;
  if (cst == "05") return cst05NaoTributado ? 3 : 0;
  static constexpr std::array<std::string_view, 23> kOutr = {
      "49", "50", "51", "52", "53", "54", "55", "56", "60", "61", "62", "63",
      "64", "65", "66", "67", "70", "71", "72", "73", "74", "75", "98"};
  if (Contem(kOutr, cst) || cst == "99") return 4;
  return 0;
}

}  // namespace

std::string TqorNFCeCustomDataSet::ConvPartQ() {
  const TXmlDataSetNFCe& q = Parte("Q");
  switch (FormaPisCofins(q.Value("CST_Q06"), Nivel() >= V::pl_008a)) {
    case 1:
      return Envolver("PIS", Envolver("PISAliq", ConvertFieldsParaXML(q, {"CST_Q06", "vBC_Q07",
                                                                           "pPIS_Q08",
                                                                           "vPIS_Q09"})));
    case 2:
      return Envolver("PIS", Envolver("PISQtde",
                                      ConvertFieldsParaXML(q, {"CST_Q06", "qBCProd_Q10",
                                                               "vAliqProd_Q11", "vPIS_Q09"})));
    case 3:
      return Envolver("PIS", Envolver("PISNT", ConvertFieldParaXML(q, "CST_Q06")));
    case 4:
      return Envolver("PIS", Envolver("PISOutr",
                                      ConvertFieldsParaXML(q, {"CST_Q06", "vBC_Q07", "pPIS_Q08",
                                                               "qBCProd_Q10", "vAliqProd_Q11",
                                                               "vPIS_Q09"})));
    default:
      return {};
  }
}

std::string TqorNFCeCustomDataSet::ConvPartS() {
  const TXmlDataSetNFCe& s = Parte("S");
  switch (FormaPisCofins(s.Value("CST_S06"), true)) {
    case 1:
      return Envolver("COFINS",
                      Envolver("COFINSAliq", ConvertFieldsParaXML(s, {"CST_S06", "vBC_S07",
                                                                      "pCOFINS_S08",
                                                                      "vCOFINS_S11"})));
    case 2:
      return Envolver("COFINS", Envolver("COFINSQtde",
                                         ConvertFieldsParaXML(s, {"CST_S06", "qBCProd_S09",
                                                                  "vAliqProd_S10",
                                                                  "vCOFINS_S11"})));
    case 3:
      return Envolver("COFINS", Envolver("COFINSNT", ConvertFieldParaXML(s, "CST_S06")));
    case 4:
      return Envolver("COFINS",
                      Envolver("COFINSOutr",
                               ConvertFieldsParaXML(s, {"CST_S06", "vBC_S07", "pCOFINS_S08",
                                                        "qBCProd_S09", "vAliqProd_S10",
                                                        "vCOFINS_S11"})));
    default:
      return {};
  }
}

std::string TqorNFCeCustomDataSet::ConvPartR() {
  TXmlDataSetNFCe& r = Parte("R");
  if (Nivel() >= V::pl_009g) {
    std::string out;
    for (const char* name : {"vBC_R02", "pPIS_R03", "qBCProd_R04", "vAliqProd_R05", "vPIS_R06",
                             "indSomaPISST_R07"}) {
      AppendFieldXML(out, Campo(name));
    }
    return Envolver("PISST", out);
  }
  r.SetTagXML("PISST");
  return ConvertDataSetParaXML(r);
}

std::string TqorNFCeCustomDataSet::ConvPartT() {
  TXmlDataSetNFCe& t = Parte("T");
  if (Nivel() >= V::pl_009g) {
    std::string out;
    for (const char* name : {"vBC_T02", "pCOFINS_T03", "qBCProd_T04", "vAliqProd_T05",
                             "vCOFINS_T06", "indSomaCOFINSST_T07"}) {
      AppendFieldXML(out, Campo(name));
    }
    return Envolver("COFINSST", out);
  }
  t.SetTagXML("COFINSST");
  return ConvertDataSetParaXML(t);
}

std::string TqorNFCeCustomDataSet::ConvPartICMSUFDest() {
  const TXmlDataSetNFCe& d = Parte("ICMSUFDest");
  std::string out = ConvertFieldParaXML(d, "vBCUFDest_NA03");
  if (Nivel() >= V::pl_009) AppendFieldsXML(out, d, {"vBCFCPUFDest_NA04"});
  AppendFieldsXML(out, d,
                  {"pFCPUFDest_NA05", "pICMSUFDest_NA07", "pICMSInter_NA09",
                   "pICMSInterPart_NA11", "vFCPUFDest_NA13", "vICMSUFDest_NA15",
                   "vICMSUFRemet_NA17"});
  return Envolver("ICMSUFDest", out);
}

std::string TqorNFCeCustomDataSet::ConvPartV() {
  TXmlDataSetNFCe& v = Parte("V");
  v.SetTagXML({});
  return ConvertDataSetParaXML(v);
}

// ---- totals, transport, billing, payment ---------------------------------------------------

std::string TqorNFCeCustomDataSet::ConvPartW() {
  const V nivel = Nivel();
  std::string icmsTot;
  if (nivel >= V::pl_009) {
    // Looked up by name in any group: a total the dictionary lacks is an error.
    for (const char* name :
         {"vBC_W03", "vICMS_W04", "vICMSDeson_W04a", "vFCPUFDest_W04c", "vICMSUFDest_W04e",
          "vICMSUFRemet_W04g", "vFCP_W04h", "vBCST_W05", "vST_W06", "vFCPST_W06a",
          "vFCPSTRet_W06b", "vProd_W07", "vFrete_W08", "vSeg_W09", "vDesc_W10", "vII_W11",
          "vIPI_W12", "vIPIDevol_W12a", "vPIS_W13", "vCOFINS_W14", "vOutro_W15", "vNF_W16",
          "vTotTrib_W16a"}) {
      AppendFieldXML(icmsTot, Campo(name));
    }
  } else {
    std::string modelo = "@W(vBC_W03)@W(vICMS_W04)";
    if (nivel >= V::pl_008a) modelo += "@W(vICMSDeson_W04a)";
    if (nivel >= V::pl_008h) modelo += "@W(vFCPUFDest_W04c)@W(vICMSUFDest_W04e)@W(vICMSUFRemet_W04g)";
    modelo +=
        "@W(vBCST_W05)@W(vST_W06)@W(vProd_W07)@W(vFrete_W08)@W(vSeg_W09)@W(vDesc_W10)"
        "@W(vII_W11)@W(vIPI_W12)@W(vPIS_W13)@W(vCOFINS_W14)@W(vOutro_W15)@W(vNF_W16)";
    if (nivel >= V::pl_007a) modelo += "@W(vTotTrib_W16a)";
    icmsTot = ParserConverter(modelo);
  }
  const TXmlDataSetNFCe& w = Parte("W");
  std::string issqn = ConvertFieldsParaXML(
      w, {"vServ_W18", "vBC_W19", "vISS_W20", "vPIS_W21", "vCOFINS_W22"});
  if (nivel >= V::pl_008a) {
    AppendFieldsXML(issqn, w,
                    {"dCompet_W22a", "vDeducao_W22b", "vOutro_W22c", "vDescIncond_W22d",
                     "vDescCond_W22e", "vISSRet_W22f", "cRegTrib_W22g"});
  }
  const std::string ret =
      ConvertFieldsParaXML(w, {"vRetPIS_W24", "vRetCOFINS_W25", "vRetCSLL_W26", "vBCIRRF_W27",
                               "vIRRF_W28", "vBCRetPrev_W29", "vRetPrev_W30"});
  return "<total><ICMSTot>" + icmsTot + "</ICMSTot>" + Envolver("ISSQNtot", issqn) +
         Envolver("retTrib", ret) + "</total>";
}

std::string TqorNFCeCustomDataSet::ConvPartX() {
  const TXmlDataSetNFCe& x = Parte("X");
  std::string out = "<transp>" + ConvertFieldParaXML(x, "modFrete_X02");
  out += Envolver("transporta",
                  ConvertFieldsParaXML(x, {"CNPJ_X04", "CPF_X05", "xNome_X06", "IE_X07",
                                           "xEnder_X08", "xMun_X09", "UF_X10"}));
  out += Envolver("retTransp",
                  ConvertFieldsParaXML(x, {"vServ_X12", "vBCRet_X13", "pICMSRet_X14",
                                           "vICMSRet_X15", "CFOP_X16", "cMunFG_X17"}));
  out += Envolver("veicTransp", ConvertFieldsParaXML(x, {"placa_X19", "UF_X20", "RNTC_X21"}));
  TXmlDataSetNFCe& reboque = Parte("REBOQUE");
  reboque.SetTagXML({});
  out += CadaRegistro(reboque, "reboque", [this, &reboque] { return ConvertDataSetParaXML(reboque); });
  AppendFieldsXML(out, x, {"vagao_X25a", "balsa_X25b"});
  TXmlDataSetNFCe& vol = Parte("VOL");
  TXmlDataSetNFCe& lacre = Parte("LACRE");
  vol.SetTagXML({});
  lacre.SetTagXML("lacres");
  out += CadaRegistro(vol, "vol", [this, &vol, &lacre] {
    std::string content = ConvertDataSetParaXML(vol);
    CheckBrowseMode(lacre);
    for (lacre.First(); !lacre.Eof(); lacre.Next()) content += ConvertDataSetParaXML(lacre);
    return content;
  });
  out += "</transp>";
  return out;
}

std::string TqorNFCeCustomDataSet::ConvPartY() {
  const TXmlDataSetNFCe& y = Parte("Y");
  std::string out = Envolver(
      "fat", ConvertFieldsParaXML(y, {"nFat_Y03", "vOrig_Y04", "vDesc_Y05", "vLiq_Y06"}));
  TXmlDataSetNFCe& dup = Parte("DUP");
  out += CadaRegistro(dup, "dup", [this, &dup] {
    return ConvertFieldsParaXML(dup, {"nDup_Y08", "dVenc_Y09", "vDup_Y10"});
  });
  out = Envolver("cobr", out);
  // Before version 4.00 of the package line the payments followed the billing directly.
  if (Nivel() < V::pl_008g) out += ConvPartYA();
  return out;
}

namespace {
bool PagamentoSemCartao(const std::string& tPag) {
  return SameText(tPag, "01") || SameText(tPag, "02");
}
}  // namespace

std::string TqorNFCeCustomDataSet::ConvPartYA() {
  TXmlDataSetNFCe& ya = Parte("YA");
  const bool tpIntegra = Nivel() >= V::pl_008g;
  return CadaRegistro(ya, "pag", [this, &ya, tpIntegra] {
    std::string out = ConvertFieldsParaXML(ya, {"tPag_YA02", "vPag_YA03"});
    if (!PagamentoSemCartao(ya.Value("tPag_YA02"))) {
      std::string card = tpIntegra ? ConvertFieldParaXML(ya, "tpIntegra_YA04a") : std::string();
      AppendFieldsXML(card, ya, {"CNPJ_YA05", "tBand_YA06", "cAut_YA07"});
      out += Envolver("card", card);
    }
    return out;
  });
}

std::string TqorNFCeCustomDataSet::ConvPartYA01() {
  TXmlDataSetNFCe& ya = Parte("YA");
  std::string out = "<pag>";
  out += CadaRegistro(ya, "detPag", [this, &ya] {
    std::string det = ConvertFieldsParaXML(
        ya, {"indPag_YA01b", "tPag_YA02", "xPag_YA02a", "vPag_YA03"});
    if (det.empty()) return det;
    if (!PagamentoSemCartao(ya.Value("tPag_YA02"))) {
      det += Envolver("card", ConvertFieldsParaXML(ya, {"tpIntegra_YA04a", "CNPJ_YA05",
                                                        "tBand_YA06", "cAut_YA07"}));
    }
    return det;
  });
  out += ConvertFieldParaXML(Parte("YA01"), "vTroco_YA09");
  out += "</pag>";
  return out;
}

std::string TqorNFCeCustomDataSet::ConvPartYB() {
  if (Nivel() < V::pl_009) return {};
  return Envolver("infIntermed",
                  ConvertFieldsParaXML(Parte("YB"), {"CNPJ_YB02", "idCadIntTran_YB03"}));
}

// ---- additional information --------------------------------------------------------------

std::string TqorNFCeCustomDataSet::ConvPartZ() {
  const TXmlDataSetNFCe& z = Parte("Z");
  std::string out = ConvertFieldsParaXML(z, {"infAdFisco_Z02", "infCpl_Z03"});
  const auto observacoes = [this, &out](const char* groupName, const char* tag,
                                        const char* campo, const char* texto) {
    TXmlDataSetNFCe* group = FindDataSetOrNull(groupName);
    if (!group) return;
    CheckBrowseMode(*group);
    for (group->First(); !group->Eof(); group->Next()) {
      const std::string atributo = ConvertFieldParaXML(*group, campo);
      const std::string valor = ConvertFieldParaXML(*group, texto);
      if (atributo.empty() && valor.empty()) continue;
      out += Format("%s<%s %s>%s</%s>", {std::string(), tag, atributo, valor, tag});
    }
  };
  observacoes("OBSCONT", "obsCont", "xCampo_Z05", "xTexto_Z06");
  observacoes("OBSFISCO", "obsFisco", "xCampo_Z08", "xTexto_Z09");
  if (TXmlDataSetNFCe* procRef = FindDataSetOrNull("PROCREF")) {
    procRef->SetTagXML({});
    out += CadaRegistro(*procRef, "procRef",
                        [this, procRef] { return ConvertDataSetParaXML(*procRef); });
  }
  return Envolver("infAdic", out) + ConvExporta() + ConvCana();
}

std::string TqorNFCeCustomDataSet::ConvExporta() {
  const TXmlDataSetNFCe& z = Parte("Z");
  return Envolver("exporta", ConvertFieldsParaXML(z, {"UFSaidaPais_ZA02", "xLocExporta_ZA03",
                                                      "xLocDespacho_ZA04"})) +
         Envolver("compra", ConvertFieldsParaXML(z, {"xNEmp_ZB02", "xPed_ZB03", "xCont_ZB04"}));
}

std::string TqorNFCeCustomDataSet::ConvCana() {
  TXmlDataSetNFCe* cana = FindDataSetOrNull("CANA");
  if (!cana) return {};
  CheckBrowseMode(*cana);
  std::string out = ConvertFieldsParaXML(*cana, {"safra_ZC02", "ref_ZC03"});
  if (TXmlDataSetNFCe* forDia = FindDataSetOrNull("FORDIA")) {
    CheckBrowseMode(*forDia);
    for (forDia->First(); !forDia->Eof(); forDia->Next()) {
      const std::string dia = ConvertFieldParaXML(*forDia, "dia_ZC05");
      const std::string qtde = ConvertFieldParaXML(*forDia, "qtde_ZC06");
      if (dia.empty() && qtde.empty()) continue;
      out += "<forDia " + dia + ">" + qtde + "</forDia>";
    }
  }
  AppendFieldsXML(out, *cana, {"qTotMes_ZC07", "qTotAnt_ZC08", "qTotGer_ZC09"});
  if (TXmlDataSetNFCe* deduc = FindDataSetOrNull("DEDUC")) {
    deduc->SetTagXML({});
    out += CadaRegistro(*deduc, "deduc", [this, deduc] { return ConvertDataSetParaXML(*deduc); });
  }
  AppendFieldsXML(out, *cana, {"vFor_ZC13", "vTotDed_ZC14", "vLiqFor_ZC15"});
  return Envolver("cana", out);
}

std::string TqorNFCeCustomDataSet::ConvPartZD() {
  if (Nivel() < V::pl_009) return {};
  return Envolver("infRespTec",
                  ConvertFieldsParaXML(Parte("ZD"), {"CNPJ_ZD02", "xContato_ZD04", "email_ZD05",
                                                     "fone_ZD06", "idCSRT_ZD08",
                                                     "hashCSRT_ZD09"}));
}

std::string TqorNFCeCustomDataSet::ConvPartZX() {
  if (Nivel() < V::pl_008g) return {};
  const TXmlDataSetNFCe& zx = Parte("ZX");
  return Envolver("infNFeSupl", Nivel() >= V::pl_009
                                    ? ConvertFieldsParaXML(zx, {"qrCode_ZX02", "urlChave_ZX03"})
                                    : ConvertFieldParaXML(zx, "qrCode_ZX02"));
}

}  // namespace qor
