#include "conversion/TqorNFCeCustomDataSet.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/Exceptions.h"
#include "platform/GovException.h"
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

std::unique_ptr<TXmlFieldNFCe> TqorNFCeCustomDataSet::CreateXmlField(
    TXmlDataSetNFCe& group, std::size_t index, const TDeclaracaoCampo& declaracao) {
  return std::make_unique<TqorNFCeXMLField>(group, index, declaracao);
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
  return {"A", "B", "C",       "D",   "E",     "F",       "G",       "X",      "W",
          "Y", "Z", "REBOQUE", "VOL", "LACRE", "PROCREF", "OBSCONT", "MANAGER"};
}

std::vector<std::string> TqorNFCeCustomDataSet::AddDataSetsListaItemNFCe() const {
  return {"H", "I", "J", "K", "L", "M", "N",  "O",   "P",
          "Q", "R", "S", "T", "U", "V", "DI", "ADI", "L1"};
}

void TqorNFCeCustomDataSet::MapeaDataSetsParaPropriedades() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    letras_[letter - 'A'] = FindDataSetOrNull(std::string(1, letter));
  }
  icmsUFDest_ = Nivel() >= V::pl_008h ? FindDataSetOrNull("ICMSUFDest") : nullptr;
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

void TqorNFCeCustomDataSet::LimparLote() {
  std::vector<std::string> notas = GetLoteNFCe().TakeLines();
  if (!notas.empty()) rascunho_ = std::move(notas.back());
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

// ---- note assembly ------------------------------------------------------------------------

std::string TqorNFCeCustomDataSet::ConverterAuto() {
  SetActiveMasterSource(true);
  std::string xml = std::move(rascunho_);
  xml.clear();
  // Notes of a batch are alike: one allocation, not a series. The slack covers a somewhat
  // longer note and the start tags written ahead of a group that turns out empty.
  xml.reserve(tamanhoUltimaNota_ + tamanhoUltimaNota_ / 8);
  ConvPartA(xml);
  ConvPartB(xml);
  ConvPartC(xml);
  ConvPartD(xml);
  ConvPartE(xml);
  ConvPartF(xml);
  ConvPartG(xml);
  ConvAutXML(xml);
  ConvPartItens(xml);
  ConvPartW(xml);
  ConvPartX(xml);
  ConvPartY(xml);
  if (Nivel() >= V::pl_009) {
    ConvPartYA01(xml);
  } else if (Nivel() >= V::pl_008g) {
    ConvPartYA(xml);
  }
  ConvPartYB(xml);
  ConvPartZ(xml);
  ConvPartZD(xml);
  xml += "</infNFe>";
  ConvPartZX(xml);
  tamanhoUltimaNota_ = xml.size();
  return xml;
}

// Part A: the start tag, after the access key is computed and stored in A and B.
void TqorNFCeCustomDataSet::ConvPartA(std::string& out) {
  TXmlDataSetNFCe& a = Parte("A");
  TXmlDataSetNFCe& b = Parte("B");
  CheckBrowseMode(b);
  if (b.RecordCount() == 0) {
    throw EqorNFCeDataSetsException(
        "Parte B - Identificação da Nota Fiscal eletrônica não foi preenchida.",
        GetDiretorioLogErro());
  }
  b.First();
  std::string chave;
  try {
    chave = CalcularChave(b, Parte("C"));
  } catch (const EqorGovException&) {
    // A character that is not a digit reached the key: the field it came from is named.
    RecusarCampoDaChave(b, Parte("C"));
    throw;
  }
  if (!a.Editing()) a.Edit();
  Campo("Id_A03").SetAsString("NFe" + chave);
  a.Post();
  if (!b.Editing()) b.Edit();
  Campo("cNF_B03").SetAsString(Czro(b.Value("cNF_B03"), DigitosCNF()));
  Campo("cDV_B23").SetAsString(chave.substr(chave.size() - 1));
  b.Post();
  out += "<infNFe ";
  AppendFieldsXML(out, a, {"Id_A03"});
  out += ' ';
  AppendFieldsXML(out, a, {"versao_A02"});
  out += '>';
}

void TqorNFCeCustomDataSet::RecusarCampoDaChave(const TXmlDataSetNFCe& b,
                                                const TXmlDataSetNFCe& c) const {
  const auto digitos = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char d) { return d >= '0' && d <= '9'; });
  };
  for (const TXmlDataSetNFCe* group : {&b, &c}) {
    for (const char* name : {"cUF_B02", "mod_B06", "serie_B07", "nNF_B08", "tpEmis_B22", "cNF_B03",
                             "CNPJ_C02", "dhEmi_B09", "dEmi_B09"}) {
      const TXmlFieldNFCe* field = group->FindXmlField(name);
      if (field == nullptr || &field->DataSet() != group) continue;
      const std::string& value = field->AsString();
      // Of a date, the year and month enter the key.
      const bool data = name[0] == 'd';
      if (data ? value.size() >= 7 && !(digitos(value.substr(2, 2)) && digitos(value.substr(5, 2)))
               : !digitos(value)) {
        field->RecusarConteudo(value);
      }
    }
  }
}

std::string TqorNFCeCustomDataSet::CalcularChave(const TXmlDataSetNFCe& b,
                                                 const TXmlDataSetNFCe& c) const {
  return qor::CalculaChave(b.Value("dEmi_B09"), b.Value("cUF_B02"), c.Value("CNPJ_C02"),
                           b.Value("mod_B06"), b.Value("serie_B07"), b.Value("nNF_B08"),
                           b.Value("cNF_B03"));
}

void TqorNFCeCustomDataSet::ConvPartB(std::string& out) {
  const TXmlDataSetNFCe& b = Parte("B");
  out += "<ide>";
  AppendFieldsXML(out, b, {"cUF_B02", "cNF_B03", "natOp_B04"});
  if (Nivel() < V::pl_009) AppendFieldsXML(out, b, {"indPag_B05"});
  AppendFieldsXML(out, b,
                  {"mod_B06", "serie_B07", "nNF_B08", "dhEmi_B09", "dhSaiEnt_B10", "tpNF_B11",
                   "idDest_B11a", "cMunFG_B12", "tpImp_B21", "tpEmis_B22", "cDV_B23", "tpAmb_B24",
                   "finNFe_B25", "indFinal_B25a", "indPres_B25b"});
  if (Nivel() >= V::pl_009) AppendFieldsXML(out, b, {"indIntermed_B25c"});
  AppendFieldsXML(out, b, {"procEmi_B26", "verProc_B27", "dhCont_B28", "xJust_B29"});
  // The published schemas place the references at the end of ide.
  ConvPartRef(out);
  out += "</ide>";
}

void TqorNFCeCustomDataSet::ConvPartRef(std::string& out) {
  TXmlDataSetNFCe* nref = FindDataSetOrNull("NREF");
  if (!nref) return;
  CadaRegistro(out, *nref, "NFref", [this, &out, nref] {
    AppendFieldsXML(out, *nref, {"refNFe_BA02"});
    Envolver(out, "refNF", [this, &out, nref] {
      AppendFieldsXML(out, *nref,
                      {"cUF_BA04", "AAMM_BA05", "CNPJ_BA06", "mod_BA07", "serie_BA08", "nNF_BA09"});
    });
    Envolver(out, "refNFP", [this, &out, nref] {
      AppendFieldsXML(out, *nref,
                      {"cUF_BA11", "AAMM_BA12", "CNPJ_BA13", "CPF_BA14", "IE_BA15", "mod_BA16",
                       "serie_BA17", "nNF_BA18"});
    });
    AppendFieldsXML(out, *nref, {"refCTe_BA19"});
    Envolver(out, "refECF", [this, &out, nref] {
      AppendFieldsXML(out, *nref, {"mod_BA21", "nECF_BA22", "nCOO_BA23"});
    });
  });
}

void TqorNFCeCustomDataSet::ConvPartC(std::string& out) {
  const TXmlDataSetNFCe& c = Parte("C");
  Envolver(out, "emit", [this, &out, &c] {
    AppendFieldsXML(out, c, {"CNPJ_C02", "CPF_C02a", "xNome_C03", "xFant_C04"});
    Envolver(out, "enderEmit", [this, &out, &c] {
      AppendFieldsXML(out, c,
                      {"xLgr_C06", "nro_C07", "xCpl_C08", "xBairro_C09", "cMun_C10", "xMun_C11",
                       "UF_C12", "CEP_C13", "cPais_C14", "xPais_C15", "fone_C16"});
    });
    AppendFieldsXML(out, c, {"IE_C17", "IEST_C18", "IM_C19", "CNAE_C20", "CRT_C21"});
  });
}

void TqorNFCeCustomDataSet::ConvPartD(std::string& out) {
  TXmlDataSetNFCe& d = Parte("D");
  d.SetTagXML("avulsa");
  AppendDataSetXML(out, d);
}

void TqorNFCeCustomDataSet::ConvPartE(std::string& out) {
  const TXmlDataSetNFCe& e = Parte("E");
  // No dest element without the recipient's identification.
  const std::size_t start = out.size();
  out += "<dest>";
  const std::size_t body = out.size();
  AppendFieldsXML(out, e, {"CNPJ_E02", "CPF_E03", "idEstrangeiro_E03a", "xNome_E04"});
  if (out.size() == body) {
    out.resize(start);
    return;
  }
  Envolver(out, "enderDest", [this, &out, &e] {
    AppendFieldsXML(out, e,
                    {"xLgr_E06", "nro_E07", "xCpl_E08", "xBairro_E09", "cMun_E10", "xMun_E11",
                     "UF_E12", "CEP_E13", "cPais_E14", "xPais_E15", "fone_E16"});
  });
  if (Nivel() >= V::pl_008a) {
    AppendFieldsXML(out, e, {"indIEDest_E16a", "IE_E17", "ISUF_E18", "IM_E18a", "email_E19"});
  } else {
    AppendFieldsXML(out, e, {"IE_E17", "ISUF_E18", "email_E19"});
  }
  out += "</dest>";
}

void TqorNFCeCustomDataSet::ConvPartF(std::string& out) {
  TXmlDataSetNFCe& f = Parte("F");
  f.SetTagXML("retirada");
  AppendDataSetXML(out, f);
}

void TqorNFCeCustomDataSet::ConvPartG(std::string& out) {
  TXmlDataSetNFCe& g = Parte("G");
  g.SetTagXML("entrega");
  AppendDataSetXML(out, g);
}

void TqorNFCeCustomDataSet::ConvAutXML(std::string& out) {
  if (Nivel() < V::pl_008a) return;
  TXmlDataSetNFCe& aut = Parte("AUTXML");
  aut.SetTagXML({});
  CadaRegistro(out, aut, "autXML", [this, &out, &aut] { AppendDataSetXML(out, aut); });
}

// ---- items --------------------------------------------------------------------------------

void TqorNFCeCustomDataSet::ConvPartItens(std::string& out) {
  TXmlDataSetNFCe& h = Parte("H");
  CheckBrowseMode(h);
  for (h.First(); !h.Eof(); h.Next()) {
    out += "<det ";
    AppendFieldsXML(out, h, {"nItem_H02"});
    out += '>';
    ConvPartI(out);
    out += "<imposto>";
    if (Nivel() >= V::pl_007a) ConvPartM(out);
    ConvPartN(out);
    ConvPartO(out);
    ConvPartP(out);
    ConvPartU(out);
    ConvPartQ(out);
    ConvPartR(out);
    ConvPartS(out);
    ConvPartT(out);
    if (Nivel() >= V::pl_008h) ConvPartICMSUFDest(out);
    out += "</imposto>";
    ConvPartV(out);
    out += "</det>";
  }
}

void TqorNFCeCustomDataSet::ConvPartI(std::string& out) {
  const TXmlDataSetNFCe& i = Parte("I");
  const V nivel = Nivel();
  out += "<prod>";
  AppendFieldsXML(out, i, {"cProd_I02", "cEAN_I03"});
  if (nivel >= V::pl_009g) AppendFieldsXML(out, i, {"cBarra_I03a"});
  AppendFieldsXML(out, i, {"xProd_I04", "NCM_I05"});
  if (nivel >= V::pl_008h) AppendFieldsXML(out, i, {"CEST_I05c"});
  if (nivel >= V::pl_009)
    AppendFieldsXML(out, i, {"indEscala_I05d", "CNPJFab_I05e", "cBenef_I05f"});
  AppendFieldsXML(out, i,
                  {"EXTIPI_I06", "CFOP_I08", "uCom_I09", "qCom_I10", "vUnCom_I10a", "vProd_I11",
                   "cEANTrib_I12"});
  if (nivel >= V::pl_009g) AppendFieldsXML(out, i, {"cBarraTrib_I12a"});
  AppendFieldsXML(out, i,
                  {"uTrib_I13", "qTrib_I14", "vUnTrib_I14a", "vFrete_I15", "vSeg_I16", "vDesc_I17",
                   "vOutro_I17a", "indTot_I17b"});
  ConvPartDI(out);
  if (nivel >= V::pl_008a) ConvDetExport(out);
  AppendFieldsXML(out, i, {"xPed_I60", "nItemPed_I61"});
  if (nivel >= V::pl_008a) AppendFieldsXML(out, i, {"nFCI_I70"});
  if (nivel >= V::pl_009) ConvPartI80(out);
  ConvPartJ(out);
  ConvPartK(out);
  ConvPartL(out);
  ConvPartL1(out);
  out += "</prod>";
}

void TqorNFCeCustomDataSet::ConvPartDI(std::string& out) {
  TXmlDataSetNFCe& di = Parte("DI");
  TXmlDataSetNFCe& adi = Parte("ADI");
  di.SetTagXML({});
  adi.SetTagXML("adi");
  CadaRegistro(out, di, "DI", [this, &out, &di, &adi] {
    const std::size_t before = out.size();
    AppendDataSetXML(out, di);
    if (out.size() == before) return;  // no additions without the declaration
    CheckBrowseMode(adi);
    for (adi.First(); !adi.Eof(); adi.Next()) AppendDataSetXML(out, adi);
  });
}

void TqorNFCeCustomDataSet::ConvDetExport(std::string& out) {
  TXmlDataSetNFCe& det = Parte("DETEXPORT");
  TXmlDataSetNFCe& ind = Parte("EXPORTIND");
  det.SetTagXML({});
  ind.SetTagXML("exportInd");
  CadaRegistro(out, det, "detExport", [this, &out, &det, &ind] {
    AppendDataSetXML(out, det);
    CheckBrowseMode(ind);
    for (ind.First(); !ind.Eof(); ind.Next()) AppendDataSetXML(out, ind);
  });
}

void TqorNFCeCustomDataSet::ConvPartI80(std::string& out) {
  TXmlDataSetNFCe& rastro = Parte("I80");
  CadaRegistro(out, rastro, "rastro", [this, &out, &rastro] {
    AppendFieldsXML(out, rastro, {"nLote_I81", "qLote_I82", "dFab_I83", "dVal_I84", "cAgreg_I85"});
  });
}

void TqorNFCeCustomDataSet::ConvPartJ(std::string& out) {
  TXmlDataSetNFCe& j = Parte("J");
  j.SetTagXML("veicProd");
  AppendDataSetXML(out, j);
}

void TqorNFCeCustomDataSet::ConvPartK(std::string& out) {
  TXmlDataSetNFCe& k = Parte("K");
  if (Nivel() >= V::pl_009) {
    Envolver(out, "med", [this, &out, &k] {
      AppendFieldsXML(out, k, {"cProdANVISA_K01a", "xMotivoIsencao_K01b", "vPMC_K06"});
    });
    return;
  }
  k.SetTagXML({});
  CadaRegistro(out, k, "med", [this, &out, &k] { AppendDataSetXML(out, k); });
}

void TqorNFCeCustomDataSet::ConvPartL(std::string& out) {
  TXmlDataSetNFCe& l = Parte("L");
  l.SetTagXML({});
  CadaRegistro(out, l, "arma", [this, &out, &l] { AppendDataSetXML(out, l); });
}

void TqorNFCeCustomDataSet::ConvPartL1(std::string& out) {
  const TXmlDataSetNFCe& l1 = Parte("L1");
  const V nivel = Nivel();
  if (nivel < V::pl_008a) {
    Envolver(out, "comb", [this, &out, &l1] {
      AppendFieldsXML(out, l1, {"cProdANP_L102", "CODIF_L103", "qTemp_L104", "UFCons_L120"});
      Envolver(out, "CIDE", [this, &out, &l1] {
        AppendFieldsXML(out, l1, {"qBCProd_L106", "vAliqProd_L107", "vCIDE_L108"});
      });
    });
    return;
  }
  Envolver(out, "comb", [this, &out, &l1, nivel] {
    AppendFieldsXML(out, l1, {"cProdANP_LA02"});
    if (nivel >= V::pl_009) {
      AppendFieldsXML(out, l1,
                      {"descANP_LA03", "pGLP_LA03a", "pGNn_LA03b", "pGNi_LA03c", "vPart_LA03d"});
    } else {
      AppendFieldsXML(out, l1, {"pMixGN_LA03"});
    }
    AppendFieldsXML(out, l1, {"CODIF_LA04", "qTemp_LA05", "UFCons_LA06"});
    Envolver(out, "CIDE", [this, &out, &l1] {
      AppendFieldsXML(out, l1, {"qBCProd_LA08", "vAliqProd_LA09", "vCIDE_LA10"});
    });
    if (nivel >= V::pl_008g) {
      Envolver(out, "encerrante", [this, &out, &l1] {
        AppendFieldsXML(
            out, l1, {"nBico_LA12", "nBomba_LA13", "nTanque_LA14", "vEncIni_LA15", "vEncFin_LA16"});
      });
    }
  });
}

void TqorNFCeCustomDataSet::ConvPartM(std::string& out) {
  AppendFieldsXML(out, Parte("M"), {"vTotTrib_M02"});
}

void TqorNFCeCustomDataSet::ConvPartO(std::string& out) {
  const TXmlDataSetNFCe& o = Parte("O");
  static constexpr std::array<std::string_view, 4> kTrib = {"00", "49", "50", "99"};
  static constexpr std::array<std::string_view, 10> kNT = {"01", "02", "03", "04", "05",
                                                           "51", "52", "53", "54", "55"};
  const std::string& cst = ValorDe(o, "CST_O09");
  std::string imposto;
  if (Contem(kTrib, cst)) {
    Envolver(imposto, "IPITrib", [this, &imposto, &o] {
      AppendFieldsXML(imposto, o,
                      {"CST_O09", "vBC_O10", "pIPI_O13", "qUnid_O11", "vUnid_O12", "vIPI_O14"});
    });
  } else if (Contem(kNT, cst)) {
    Envolver(imposto, "IPINT", [this, &imposto, &o] { AppendFieldsXML(imposto, o, {"CST_O09"}); });
  }
  if (imposto.empty()) return;
  out += "<IPI>";
  // The class of framing (clEnq) left the layout with version 4.00.
  if (Nivel() < V::pl_009) AppendFieldsXML(out, o, {"clEnq_O02"});
  AppendFieldsXML(out, o, {"CNPJProd_O03", "cSelo_O04", "qSelo_O05", "cEnq_O06"});
  out += imposto;
  out += "</IPI>";
}

void TqorNFCeCustomDataSet::ConvPartP(std::string& out) {
  TXmlDataSetNFCe& p = Parte("P");
  p.SetTagXML("II");
  AppendDataSetXML(out, p);
}

void TqorNFCeCustomDataSet::ConvPartU(std::string& out) {
  TXmlDataSetNFCe& u = Parte("U");
  u.SetTagXML("ISSQN");
  AppendDataSetXML(out, u);
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

void TqorNFCeCustomDataSet::ConvPartQ(std::string& out) {
  const TXmlDataSetNFCe& q = Parte("Q");
  const auto pis = [this, &out, &q](std::string_view forma,
                                    std::initializer_list<std::string_view> campos) {
    Envolver(out, "PIS", [this, &out, &q, forma, campos] {
      Envolver(out, forma, [this, &out, &q, campos] { AppendFieldsXML(out, q, campos); });
    });
  };
  switch (FormaPisCofins(ValorDe(q, "CST_Q06"), Nivel() >= V::pl_008a)) {
    case 1:
      pis("PISAliq", {"CST_Q06", "vBC_Q07", "pPIS_Q08", "vPIS_Q09"});
      break;
    case 2:
      pis("PISQtde", {"CST_Q06", "qBCProd_Q10", "vAliqProd_Q11", "vPIS_Q09"});
      break;
    case 3:
      pis("PISNT", {"CST_Q06"});
      break;
    case 4:
      pis("PISOutr",
          {"CST_Q06", "vBC_Q07", "pPIS_Q08", "qBCProd_Q10", "vAliqProd_Q11", "vPIS_Q09"});
      break;
    default:
      break;
  }
}

void TqorNFCeCustomDataSet::ConvPartS(std::string& out) {
  const TXmlDataSetNFCe& s = Parte("S");
  const auto cofins = [this, &out, &s](std::string_view forma,
                                       std::initializer_list<std::string_view> campos) {
    Envolver(out, "COFINS", [this, &out, &s, forma, campos] {
      Envolver(out, forma, [this, &out, &s, campos] { AppendFieldsXML(out, s, campos); });
    });
  };
  switch (FormaPisCofins(ValorDe(s, "CST_S06"), true)) {
    case 1:
      cofins("COFINSAliq", {"CST_S06", "vBC_S07", "pCOFINS_S08", "vCOFINS_S11"});
      break;
    case 2:
      cofins("COFINSQtde", {"CST_S06", "qBCProd_S09", "vAliqProd_S10", "vCOFINS_S11"});
      break;
    case 3:
      cofins("COFINSNT", {"CST_S06"});
      break;
    case 4:
      cofins("COFINSOutr",
             {"CST_S06", "vBC_S07", "pCOFINS_S08", "qBCProd_S09", "vAliqProd_S10", "vCOFINS_S11"});
      break;
    default:
      break;
  }
}

void TqorNFCeCustomDataSet::ConvPartR(std::string& out) {
  TXmlDataSetNFCe& r = Parte("R");
  if (Nivel() >= V::pl_009g) {
    Envolver(out, "PISST", [this, &out] {
      for (const char* name : {"vBC_R02", "pPIS_R03", "qBCProd_R04", "vAliqProd_R05", "vPIS_R06",
                               "indSomaPISST_R07"}) {
        AppendFieldXML(out, Campo(name));
      }
    });
    return;
  }
  r.SetTagXML("PISST");
  AppendDataSetXML(out, r);
}

void TqorNFCeCustomDataSet::ConvPartT(std::string& out) {
  TXmlDataSetNFCe& t = Parte("T");
  if (Nivel() >= V::pl_009g) {
    Envolver(out, "COFINSST", [this, &out] {
      for (const char* name : {"vBC_T02", "pCOFINS_T03", "qBCProd_T04", "vAliqProd_T05",
                               "vCOFINS_T06", "indSomaCOFINSST_T07"}) {
        AppendFieldXML(out, Campo(name));
      }
    });
    return;
  }
  t.SetTagXML("COFINSST");
  AppendDataSetXML(out, t);
}

void TqorNFCeCustomDataSet::ConvPartICMSUFDest(std::string& out) {
  const TXmlDataSetNFCe& d = Parte("ICMSUFDest");
  Envolver(out, "ICMSUFDest", [this, &out, &d] {
    AppendFieldsXML(out, d, {"vBCUFDest_NA03"});
    if (Nivel() >= V::pl_009) AppendFieldsXML(out, d, {"vBCFCPUFDest_NA04"});
    AppendFieldsXML(
        out, d,
        {"pFCPUFDest_NA05", "pICMSUFDest_NA07", "pICMSInter_NA09", "pICMSInterPart_NA11",
         "vFCPUFDest_NA13", "vICMSUFDest_NA15", "vICMSUFRemet_NA17"});
  });
}

void TqorNFCeCustomDataSet::ConvPartV(std::string& out) {
  TXmlDataSetNFCe& v = Parte("V");
  v.SetTagXML({});
  AppendDataSetXML(out, v);
}

// ---- totals, transport, billing, payment ---------------------------------------------------

void TqorNFCeCustomDataSet::ConvPartW(std::string& out) {
  const V nivel = Nivel();
  std::string icmsTot;
  if (nivel >= V::pl_009) {
    // Looked up by name in any group: a total the dictionary lacks is an error.
    for (const char* name :
         {"vBC_W03",          "vICMS_W04",         "vICMSDeson_W04a", "vFCPUFDest_W04c",
          "vICMSUFDest_W04e", "vICMSUFRemet_W04g", "vFCP_W04h",       "vBCST_W05",
          "vST_W06",          "vFCPST_W06a",       "vFCPSTRet_W06b",  "vProd_W07",
          "vFrete_W08",       "vSeg_W09",          "vDesc_W10",       "vII_W11",
          "vIPI_W12",         "vIPIDevol_W12a",    "vPIS_W13",        "vCOFINS_W14",
          "vOutro_W15",       "vNF_W16",           "vTotTrib_W16a"}) {
      AppendFieldXML(icmsTot, Campo(name));
    }
  } else {
    std::string modelo = "@W(vBC_W03)@W(vICMS_W04)";
    if (nivel >= V::pl_008a) modelo += "@W(vICMSDeson_W04a)";
    if (nivel >= V::pl_008h)
      modelo += "@W(vFCPUFDest_W04c)@W(vICMSUFDest_W04e)@W(vICMSUFRemet_W04g)";
    modelo +=
        "@W(vBCST_W05)@W(vST_W06)@W(vProd_W07)@W(vFrete_W08)@W(vSeg_W09)@W(vDesc_W10)"
        "@W(vII_W11)@W(vIPI_W12)@W(vPIS_W13)@W(vCOFINS_W14)@W(vOutro_W15)@W(vNF_W16)";
    if (nivel >= V::pl_007a) modelo += "@W(vTotTrib_W16a)";
    icmsTot = ParserConverter(modelo);
  }
  const TXmlDataSetNFCe& w = Parte("W");
  out += "<total><ICMSTot>";
  out += icmsTot;
  out += "</ICMSTot>";
  Envolver(out, "ISSQNtot", [this, &out, &w, nivel] {
    AppendFieldsXML(out, w, {"vServ_W18", "vBC_W19", "vISS_W20", "vPIS_W21", "vCOFINS_W22"});
    if (nivel >= V::pl_008a) {
      AppendFieldsXML(out, w,
                      {"dCompet_W22a", "vDeducao_W22b", "vOutro_W22c", "vDescIncond_W22d",
                       "vDescCond_W22e", "vISSRet_W22f", "cRegTrib_W22g"});
    }
  });
  Envolver(out, "retTrib", [this, &out, &w] {
    AppendFieldsXML(out, w,
                    {"vRetPIS_W24", "vRetCOFINS_W25", "vRetCSLL_W26", "vBCIRRF_W27", "vIRRF_W28",
                     "vBCRetPrev_W29", "vRetPrev_W30"});
  });
  out += "</total>";
}

void TqorNFCeCustomDataSet::ConvPartX(std::string& out) {
  const TXmlDataSetNFCe& x = Parte("X");
  out += "<transp>";
  AppendFieldsXML(out, x, {"modFrete_X02"});
  Envolver(out, "transporta", [this, &out, &x] {
    AppendFieldsXML(
        out, x, {"CNPJ_X04", "CPF_X05", "xNome_X06", "IE_X07", "xEnder_X08", "xMun_X09", "UF_X10"});
  });
  Envolver(out, "retTransp", [this, &out, &x] {
    AppendFieldsXML(
        out, x,
        {"vServ_X12", "vBCRet_X13", "pICMSRet_X14", "vICMSRet_X15", "CFOP_X16", "cMunFG_X17"});
  });
  Envolver(out, "veicTransp", [this, &out, &x] {
    AppendFieldsXML(out, x, {"placa_X19", "UF_X20", "RNTC_X21"});
  });
  TXmlDataSetNFCe& reboque = Parte("REBOQUE");
  reboque.SetTagXML({});
  CadaRegistro(out, reboque, "reboque", [this, &out, &reboque] { AppendDataSetXML(out, reboque); });
  AppendFieldsXML(out, x, {"vagao_X25a", "balsa_X25b"});
  TXmlDataSetNFCe& vol = Parte("VOL");
  TXmlDataSetNFCe& lacre = Parte("LACRE");
  vol.SetTagXML({});
  lacre.SetTagXML("lacres");
  CadaRegistro(out, vol, "vol", [this, &out, &vol, &lacre] {
    AppendDataSetXML(out, vol);
    CheckBrowseMode(lacre);
    for (lacre.First(); !lacre.Eof(); lacre.Next()) AppendDataSetXML(out, lacre);
  });
  out += "</transp>";
}

void TqorNFCeCustomDataSet::ConvPartY(std::string& out) {
  const TXmlDataSetNFCe& y = Parte("Y");
  Envolver(out, "cobr", [this, &out, &y] {
    Envolver(out, "fat", [this, &out, &y] {
      AppendFieldsXML(out, y, {"nFat_Y03", "vOrig_Y04", "vDesc_Y05", "vLiq_Y06"});
    });
    TXmlDataSetNFCe& dup = Parte("DUP");
    CadaRegistro(out, dup, "dup", [this, &out, &dup] {
      AppendFieldsXML(out, dup, {"nDup_Y08", "dVenc_Y09", "vDup_Y10"});
    });
  });
  // Before version 4.00 of the package line the payments followed the billing directly.
  if (Nivel() < V::pl_008g) ConvPartYA(out);
}

namespace {
bool PagamentoSemCartao(const std::string& tPag) {
  return SameText(tPag, "01") || SameText(tPag, "02");
}
}  // namespace

void TqorNFCeCustomDataSet::ConvPartYA(std::string& out) {
  TXmlDataSetNFCe& ya = Parte("YA");
  const bool tpIntegra = Nivel() >= V::pl_008g;
  CadaRegistro(out, ya, "pag", [this, &out, &ya, tpIntegra] {
    AppendFieldsXML(out, ya, {"tPag_YA02", "vPag_YA03"});
    if (PagamentoSemCartao(ValorDe(ya, "tPag_YA02"))) return;
    Envolver(out, "card", [this, &out, &ya, tpIntegra] {
      if (tpIntegra) AppendFieldsXML(out, ya, {"tpIntegra_YA04a"});
      AppendFieldsXML(out, ya, {"CNPJ_YA05", "tBand_YA06", "cAut_YA07"});
    });
  });
}

void TqorNFCeCustomDataSet::ConvPartYA01(std::string& out) {
  TXmlDataSetNFCe& ya = Parte("YA");
  out += "<pag>";
  CadaRegistro(out, ya, "detPag", [this, &out, &ya] {
    const std::size_t before = out.size();
    AppendFieldsXML(out, ya, {"indPag_YA01b", "tPag_YA02", "xPag_YA02a", "vPag_YA03"});
    if (out.size() == before || PagamentoSemCartao(ValorDe(ya, "tPag_YA02"))) return;
    Envolver(out, "card", [this, &out, &ya] {
      AppendFieldsXML(out, ya, {"tpIntegra_YA04a", "CNPJ_YA05", "tBand_YA06", "cAut_YA07"});
    });
  });
  AppendFieldsXML(out, Parte("YA01"), {"vTroco_YA09"});
  out += "</pag>";
}

void TqorNFCeCustomDataSet::ConvPartYB(std::string& out) {
  if (Nivel() < V::pl_009) return;
  const TXmlDataSetNFCe& yb = Parte("YB");
  Envolver(out, "infIntermed", [this, &out, &yb] {
    AppendFieldsXML(out, yb, {"CNPJ_YB02", "idCadIntTran_YB03"});
  });
}

// ---- additional information --------------------------------------------------------------

void TqorNFCeCustomDataSet::ConvPartZ(std::string& out) {
  const TXmlDataSetNFCe& z = Parte("Z");
  const auto observacoes = [this, &out](const char* groupName, const char* tag, const char* campo,
                                        const char* texto) {
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
  Envolver(out, "infAdic", [this, &out, &z, &observacoes] {
    AppendFieldsXML(out, z, {"infAdFisco_Z02", "infCpl_Z03"});
    observacoes("OBSCONT", "obsCont", "xCampo_Z05", "xTexto_Z06");
    observacoes("OBSFISCO", "obsFisco", "xCampo_Z08", "xTexto_Z09");
    if (TXmlDataSetNFCe* procRef = FindDataSetOrNull("PROCREF")) {
      procRef->SetTagXML({});
      CadaRegistro(out, *procRef, "procRef",
                   [this, &out, procRef] { AppendDataSetXML(out, *procRef); });
    }
  });
  ConvExporta(out);
  ConvCana(out);
}

void TqorNFCeCustomDataSet::ConvExporta(std::string& out) {
  const TXmlDataSetNFCe& z = Parte("Z");
  Envolver(out, "exporta", [this, &out, &z] {
    AppendFieldsXML(out, z, {"UFSaidaPais_ZA02", "xLocExporta_ZA03", "xLocDespacho_ZA04"});
  });
  Envolver(out, "compra", [this, &out, &z] {
    AppendFieldsXML(out, z, {"xNEmp_ZB02", "xPed_ZB03", "xCont_ZB04"});
  });
}

void TqorNFCeCustomDataSet::ConvCana(std::string& out) {
  TXmlDataSetNFCe* cana = FindDataSetOrNull("CANA");
  if (!cana) return;
  CheckBrowseMode(*cana);
  Envolver(out, "cana", [this, &out, cana] {
    AppendFieldsXML(out, *cana, {"safra_ZC02", "ref_ZC03"});
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
      CadaRegistro(out, *deduc, "deduc", [this, &out, deduc] { AppendDataSetXML(out, *deduc); });
    }
    AppendFieldsXML(out, *cana, {"vFor_ZC13", "vTotDed_ZC14", "vLiqFor_ZC15"});
  });
}

void TqorNFCeCustomDataSet::ConvPartZD(std::string& out) {
  if (Nivel() < V::pl_009) return;
  const TXmlDataSetNFCe& zd = Parte("ZD");
  Envolver(out, "infRespTec", [this, &out, &zd] {
    AppendFieldsXML(
        out, zd,
        {"CNPJ_ZD02", "xContato_ZD04", "email_ZD05", "fone_ZD06", "idCSRT_ZD08", "hashCSRT_ZD09"});
  });
}

void TqorNFCeCustomDataSet::ConvPartZX(std::string& out) {
  if (Nivel() < V::pl_008g) return;
  const TXmlDataSetNFCe& zx = Parte("ZX");
  Envolver(out, "infNFeSupl", [this, &out, &zx] {
    if (Nivel() >= V::pl_009) {
      AppendFieldsXML(out, zx, {"qrCode_ZX02", "urlChave_ZX03"});
    } else {
      AppendFieldsXML(out, zx, {"qrCode_ZX02"});
    }
  });
}

}  // namespace qor
