#include "rules/RegrasTotais.h"

#include "conversion/TqorXMLDataSetNFCe.h"

namespace qor {

namespace {
constexpr long double kTotal = 0.50L;      // tolerance of the totals of the items
constexpr long double kUmReal = 1.00L;     // tolerance of the ISSQN retentions and of the payments
constexpr long double kAoCentavo = 0.00L;  // "no tolerance"
constexpr double kLimiteNaoIdentificado = 10000.00;
}  // namespace

#define QOR_TOTAL(Nome, Soma, Total, Tolerancia)                                 \
  void Nome::execute() {                                                         \
    CheckDataSet();                                                              \
    if (!DentroDaTolerancia(Soma, Numero(Total), Tolerancia)) FalharValidacao(); \
  }

// ---- ICMS totals ----------------------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW03_NT003_2012, SomaItens("vBC_N15", [&] { return Valor("CST_N12") != "51"; }),
          "vBC_W03", kTotal)
QOR_TOTAL(
    TqorNFCeGW04_NT003_2012,
    SomaItens(
        "vICMS_N17",
        [&] {
          const bool zonaFranca = Valor("CST_N12") == "40" && Entre("motDesICMS_N28", {"7", "8"});
          return !zonaFranca && Valor("CST_N12") != "51";
        }),
    "vICMS_W04", kTotal)
QOR_TOTAL(TqorNFCeGW04a_10, SomaItens("vICMSDeson_N27a"), "vICMSDeson_W04a", kTotal)
QOR_TOTAL(TqorNFCeGW04a_10_vm60, SomaItens("vICMSDeson_N28a"), "vICMSDeson_W04a", kTotal)
QOR_TOTAL(TqorNFCeGW05_NT003_2012, SomaItens("vBCST_N21"), "vBCST_W05", kTotal)
QOR_TOTAL(TqorNFCeGW06_NT003_2012, SomaItens("vICMSST_N23"), "vST_W06", kTotal)
QOR_TOTAL(TqorNFCeW04b_10, SomaItens("vFCP_N17c"), "vFCP_W04h", kAoCentavo)

// ---- products and charges ----------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW07_NT003_2012,
          SomaItens("vProd_I11", [&] { return Valor("indTot_I17b") == "1"; }), "vProd_W07", kTotal)
QOR_TOTAL(TqorNFCeGW08_NT003_2012, SomaItens("vFrete_I15"), "vFrete_W08", kTotal)
QOR_TOTAL(TqorNFCeGW09_NT003_2012, SomaItens("vSeg_I16"), "vSeg_W09", kTotal)
QOR_TOTAL(TqorNFCeGW10_NT003_2012, SomaItens("vDesc_I17"), "vDesc_W10", kTotal)
QOR_TOTAL(TqorNFCeGW11_NT003_2012, SomaItens("vII_P04"), "vII_W11", kTotal)
QOR_TOTAL(TqorNFCeGW12_NT003_2012, SomaItens("vIPI_O14"), "vIPI_W12", kTotal)
QOR_TOTAL(TqorNFCeGW13_NT003_2012,
          SomaItens("vPIS_Q09", [&] { return !PossuiCampoPreenchido("U"); }), "vPIS_W13", kTotal)
QOR_TOTAL(TqorNFCeGW14_NT003_2012,
          SomaItens("vCOFINS_S11", [&] { return !PossuiCampoPreenchido("U"); }), "vCOFINS_W14",
          kTotal)
QOR_TOTAL(TqorNFCeGW15_NT003_2012, SomaItens("vOutro_I17a"), "vOutro_W15", kTotal)

// ---- ISSQN totals ---------------------------------------------------------------------------

QOR_TOTAL(TqorNFCeGW18_NT003_2012,
          SomaItens("vProd_I11", [&] { return PossuiCampoPreenchido("U"); }), "vServ_W18", kTotal)
QOR_TOTAL(TqorNFCeGW19_NT003_2012, SomaItens("vBC_U02"), "vBC_W19", kTotal)
QOR_TOTAL(TqorNFCeGW20_NT003_2012, SomaItens("vISSQN_U04"), "vISS_W20", kTotal)
QOR_TOTAL(TqorNFCeGW21_NT003_2012,
          SomaItens("vPIS_Q09", [&] { return PossuiCampoPreenchido("U"); }), "vPIS_W21", kTotal)
QOR_TOTAL(TqorNFCeGW22_NT003_2012,
          SomaItens("vCOFINS_S11", [&] { return PossuiCampoPreenchido("U"); }), "vCOFINS_W22",
          kTotal)
QOR_TOTAL(TqorNFCeGW22b_1, SomaItens("vDeducao_U07"), "vDeducao_W22b", kUmReal)
QOR_TOTAL(TqorNFCeGW22c_1, SomaItens("vOutro_U08"), "vOutro_W22c", kUmReal)
QOR_TOTAL(TqorNFCeGW22d_1, SomaItens("vDescIncond_U09"), "vDescIncond_W22d", kUmReal)
QOR_TOTAL(TqorNFCeGW22e_1, SomaItens("vDescCond_U10"), "vDescCond_W22e", kUmReal)
QOR_TOTAL(TqorNFCeGW22f_1, SomaItens("vISSRet_U11"), "vISSRet_W22f", kUmReal)

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
  for (const char* campo : {"xLgr_E06", "nro_E07", "xBairro_E09", "xMun_E11", "UF_E12"}) {
    if (!CampoVazio(campo)) return;
  }
  FalharValidacao();
}

void TqorNFCeGW16e::execute() {
  CheckDataSet();
  if (!GrupoInformado("YA")) return;
  if (!DentroDaTolerancia(SomaRegistros("YA", "vPag_YA03"), Numero("vNF_W16"), kUmReal)) {
    FalharValidacao();
  }
}

}  // namespace qor
