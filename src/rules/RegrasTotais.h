// Rules of the note's totals (W): each total against the sum of its items, and the limits of an
// NFC-e's value.
#pragma once

#include "rules/RegrasNFCe.h"

// A total against the sum over the items (TqorNFCeTotalDosItens); RegrasTotais.cpp gives the
// fields, the filter and the tolerance.
#define QOR_REGRA_TOTAL(Nome)                           \
  class Nome : public TqorNFCeTotalDosItens {           \
   public:                                              \
    using TqorNFCeTotalDosItens::TqorNFCeTotalDosItens; \
                                                        \
   protected:                                           \
    TNome CampoDoItem() const override;                 \
    TNome CampoDoTotal() const override;                \
    long double Tolerancia() const override;            \
    bool Somar() override;                              \
  };

namespace qor {

// ---- ICMS totals: the sum over the items within 0.50 of the total ------------------------------
QOR_REGRA_TOTAL(TqorNFCeGW03_NT003_2012)  // vBC_N15 (CST other than 51) against vBC_W03
// vICMS_N17 (CST 51 and CST 40 relieved for the Free Trade Zone, motDesICMS 7 or 8, excepted)
// against vICMS_W04.
QOR_REGRA_TOTAL(TqorNFCeGW04_NT003_2012)
QOR_REGRA_TOTAL(TqorNFCeGW04a_10)         // vICMSDeson_N27a against vICMSDeson_W04a
QOR_REGRA_TOTAL(TqorNFCeGW04a_10_vm60)    // vICMSDeson_N28a against vICMSDeson_W04a
QOR_REGRA_TOTAL(TqorNFCeGW05_NT003_2012)  // vBCST_N21 against vBCST_W05
QOR_REGRA_TOTAL(TqorNFCeGW06_NT003_2012)  // vICMSST_N23 against vST_W06
QOR_REGRA_TOTAL(TqorNFCeW04b_10)          // vFCP_N17c against vFCP_W04h, to the cent

// ---- products and charges ----------------------------------------------------------------
QOR_REGRA_TOTAL(TqorNFCeGW07_NT003_2012)  // vProd_I11 of the items in the total against vProd_W07
QOR_REGRA_TOTAL(TqorNFCeGW08_NT003_2012)  // vFrete_I15 against vFrete_W08
QOR_REGRA_TOTAL(TqorNFCeGW09_NT003_2012)  // vSeg_I16 against vSeg_W09
QOR_REGRA_TOTAL(TqorNFCeGW10_NT003_2012)  // vDesc_I17 against vDesc_W10
QOR_REGRA_TOTAL(TqorNFCeGW11_NT003_2012)  // vII_P04 against vII_W11
QOR_REGRA_TOTAL(TqorNFCeGW12_NT003_2012)  // vIPI_O14 against vIPI_W12
QOR_REGRA_TOTAL(TqorNFCeGW13_NT003_2012)  // vPIS_Q09 of the items subject to ICMS against vPIS_W13
// vCOFINS_S11 of the items subject to ICMS against vCOFINS_W14
QOR_REGRA_TOTAL(TqorNFCeGW14_NT003_2012)
QOR_REGRA_TOTAL(TqorNFCeGW15_NT003_2012)  // vOutro_I17a against vOutro_W15

// ---- the note's total --------------------------------------------------------------------
// vNF_W16 within 0.50 of vProd - vDesc + vST + vFrete + vSeg + vOutro + vII + vIPI + vServ (W).
// Direct billing of new vehicles (an item with tpOp_J02 2) leaves vST out; an entry note
// (tpNF_B11 0) may also carry the ICMS, PIS and COFINS of an import in its total.
QOR_REGRA(TqorNFCeGW16_NT003_2012)
// Layout 4.00: vNF_W16 equal to the cent to vProd - vDesc - vICMSDeson + vST + vFCPST + vFrete +
// vSeg + vOutro + vII + vIPI + vIPIDevol + vServ.
QOR_REGRA(TqorNFCeGW16_10_vm60)
// An NFC-e above 10000.00 identifies its recipient: by document, by name, by address.
QOR_REGRA(TqorNFCeGW16b)
QOR_REGRA(TqorNFCeGW16c)
QOR_REGRA(TqorNFCeGW16d)
// The payments (vPag_YA03) within 1.00 of vNF_W16, when the note has payments.
QOR_REGRA(TqorNFCeGW16e)

// ---- ISSQN totals ---------------------------------------------------------------------------
QOR_REGRA_TOTAL(TqorNFCeGW18_NT003_2012)  // vProd_I11 of the ISSQN items against vServ_W18
QOR_REGRA_TOTAL(TqorNFCeGW19_NT003_2012)  // vBC_U02 against vBC_W19
QOR_REGRA_TOTAL(TqorNFCeGW20_NT003_2012)  // vISSQN_U04 against vISS_W20
QOR_REGRA_TOTAL(TqorNFCeGW21_NT003_2012)  // vPIS_Q09 of the ISSQN items against vPIS_W21
QOR_REGRA_TOTAL(TqorNFCeGW22_NT003_2012)  // vCOFINS_S11 of the ISSQN items against vCOFINS_W22
// Within 1.00: vDeducao_U07, vOutro_U08, vDescIncond_U09, vDescCond_U10, vISSRet_U11 against
// their totals W22b..W22f.
QOR_REGRA_TOTAL(TqorNFCeGW22b_1)
QOR_REGRA_TOTAL(TqorNFCeGW22c_1)
QOR_REGRA_TOTAL(TqorNFCeGW22d_1)
QOR_REGRA_TOTAL(TqorNFCeGW22e_1)
QOR_REGRA_TOTAL(TqorNFCeGW22f_1)

}  // namespace qor
