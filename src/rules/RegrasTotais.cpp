#include "rules/RegrasTotais.h"

namespace qor {

namespace {
constexpr long double kTotal = 0.50L;      // tolerance of the totals of the items
constexpr long double kUmReal = 1.00L;     // tolerance of the ISSQN retentions and of the payments
constexpr long double kAoCentavo = 0.00L;  // "no tolerance"
constexpr double kLimiteNaoIdentificado = 10000.00;
}  // namespace

// The item field summed over the items `Filtro` takes, against the note's total field.
#define QOR_TOTAL(Nome, CampoItem, Filtro, CampoTotal, Margem) \
  TNome Nome::CampoDoItem() const { return CampoItem; }        \
  TNome Nome::CampoDoTotal() const { return CampoTotal; }      \
  long double Nome::Tolerancia() const { return Margem; }      \
  bool Nome::Somar() { return Filtro; }

// ---- ICMS totals ----------------------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW03_NT003_2012, "vBC_N15", Valor("CST_N12") != "51", "vBC_W03", kTotal)
// CST 40 relieved for the Free Trade Zone (motDesICMS 7 or 8) and CST 51 stay out.
QOR_TOTAL(TqorNFCeGW04_NT003_2012, "vICMS_N17",
          !(Valor("CST_N12") == "40" && Entre("motDesICMS_N28", {"7", "8"})) &&
              Valor("CST_N12") != "51",
          "vICMS_W04", kTotal)
QOR_TOTAL(TqorNFCeGW04a_10, "vICMSDeson_N27a", true, "vICMSDeson_W04a", kTotal)
QOR_TOTAL(TqorNFCeGW04a_10_vm60, "vICMSDeson_N28a", true, "vICMSDeson_W04a", kTotal)
QOR_TOTAL(TqorNFCeGW05_NT003_2012, "vBCST_N21", true, "vBCST_W05", kTotal)
QOR_TOTAL(TqorNFCeGW06_NT003_2012, "vICMSST_N23", true, "vST_W06", kTotal)
QOR_TOTAL(TqorNFCeW04b_10, "vFCP_N17c", true, "vFCP_W04h", kAoCentavo)

// ---- products and charges ----------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW07_NT003_2012, "vProd_I11", Valor("indTot_I17b") == "1", "vProd_W07", kTotal)
QOR_TOTAL(TqorNFCeGW08_NT003_2012, "vFrete_I15", true, "vFrete_W08", kTotal)
QOR_TOTAL(TqorNFCeGW09_NT003_2012, "vSeg_I16", true, "vSeg_W09", kTotal)
QOR_TOTAL(TqorNFCeGW10_NT003_2012, "vDesc_I17", true, "vDesc_W10", kTotal)
QOR_TOTAL(TqorNFCeGW11_NT003_2012, "vII_P04", true, "vII_W11", kTotal)
QOR_TOTAL(TqorNFCeGW12_NT003_2012, "vIPI_O14", true, "vIPI_W12", kTotal)
QOR_TOTAL(TqorNFCeGW13_NT003_2012, "vPIS_Q09", !PossuiCampoPreenchido("U"), "vPIS_W13", kTotal)
QOR_TOTAL(TqorNFCeGW14_NT003_2012, "vCOFINS_S11", !PossuiCampoPreenchido("U"), "vCOFINS_W14",
          kTotal)
QOR_TOTAL(TqorNFCeGW15_NT003_2012, "vOutro_I17a", true, "vOutro_W15", kTotal)

// ---- ISSQN totals ---------------------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW18_NT003_2012, "vProd_I11", PossuiCampoPreenchido("U"), "vServ_W18", kTotal)
QOR_TOTAL(TqorNFCeGW19_NT003_2012, "vBC_U02", true, "vBC_W19", kTotal)
QOR_TOTAL(TqorNFCeGW20_NT003_2012, "vISSQN_U04", true, "vISS_W20", kTotal)
QOR_TOTAL(TqorNFCeGW21_NT003_2012, "vPIS_Q09", PossuiCampoPreenchido("U"), "vPIS_W21", kTotal)
QOR_TOTAL(TqorNFCeGW22_NT003_2012, "vCOFINS_S11", PossuiCampoPreenchido("U"), "vCOFINS_W22", kTotal)
QOR_TOTAL(TqorNFCeGW22b_1, "vDeducao_U07", true, "vDeducao_W22b", kUmReal)
QOR_TOTAL(TqorNFCeGW22c_1, "vOutro_U08", true, "vOutro_W22c", kUmReal)
QOR_TOTAL(TqorNFCeGW22d_1, "vDescIncond_U09", true, "vDescIncond_W22d", kUmReal)
QOR_TOTAL(TqorNFCeGW22e_1, "vDescCond_U10", true, "vDescCond_W22e", kUmReal)
QOR_TOTAL(TqorNFCeGW22f_1, "vISSRet_U11", true, "vISSRet_W22f", kUmReal)

#undef QOR_TOTAL

// ---- the note's total --------------------------------------------------------------------

void TqorNFCeGW16_NT003_2012::execute() {
  CheckDataSet();
  const bool faturamentoDireto = AlgumRegistro("H", [&] { return Valor("tpOp_J02") == "2"; });
  const long double base = static_cast<long double>(Numero("vProd_W07")) - Numero("vDesc_W10") +
                           Numero("vFrete_W08") + Numero("vSeg_W09") + Numero("vOutro_W15") +
                           Numero("vII_W11") + Numero("vIPI_W12") + Numero("vServ_W18");
  const long double calculado = faturamentoDireto ? base : base + Numero("vST_W06");
  const long double vNF = Numero("vNF_W16");
  if (DentroDaTolerancia(vNF, calculado, kTotal)) return;
  if (Valor("tpNF_B11") == "0") {
    const long double importacao =
        calculado + Numero("vICMS_W04") + Numero("vPIS_W13") + Numero("vCOFINS_W14");
    if (DentroDaTolerancia(vNF, importacao, kTotal)) return;
  }
  FalharValidacao();
}

void TqorNFCeGW16_10_vm60::execute() {
  CheckDataSet();
  const long double calculado = static_cast<long double>(Numero("vProd_W07")) -
                                Numero("vDesc_W10") - Numero("vICMSDeson_W04a") +
                                Numero("vST_W06") + Numero("vFCPST_W06a") + Numero("vFrete_W08") +
                                Numero("vSeg_W09") + Numero("vOutro_W15") + Numero("vII_W11") +
                                Numero("vIPI_W12") + Numero("vIPIDevol_W12a") + Numero("vServ_W18");
  if (!DentroDaTolerancia(Numero("vNF_W16"), calculado, kAoCentavo)) FalharValidacao();
}

void TqorNFCeGW16b::execute() {
  CheckDataSet();
  if (IsNFCe() && Numero("vNF_W16") > kLimiteNaoIdentificado && CampoVazio("CNPJ_E02") &&
      CampoVazio("CPF_E03") && CampoVazio("idEstrangeiro_E03a")) {
    FalharValidacao();
  }
}

void TqorNFCeGW16c::execute() {
  CheckDataSet();
  if (IsNFCe() && Numero("vNF_W16") > kLimiteNaoIdentificado && CampoVazio("xNome_E04")) {
    FalharValidacao();
  }
}

void TqorNFCeGW16d::execute() {
  CheckDataSet();
  if (!IsNFCe() || Numero("vNF_W16") <= kLimiteNaoIdentificado) return;
  if (!AlgumPreenchido({"xLgr_E06", "nro_E07", "xBairro_E09", "xMun_E11", "UF_E12"})) {
    FalharValidacao();
  }
}

void TqorNFCeGW16e::execute() {
  CheckDataSet();
  if (!GrupoInformado("YA")) return;
  if (!DentroDaTolerancia(SomaRegistros("YA", "vPag_YA03"), Numero("vNF_W16"), kUmReal)) {
    FalharValidacao();
  }
}

}  // namespace qor
