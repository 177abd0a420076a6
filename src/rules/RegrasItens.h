// Rules of the items: product (I), ICMS (N), IPI (O), ISSQN (U) and the item groups an NFC-e may
// not carry. Item rules are tested on every item and report the first invalid one.
#pragma once

#include "rules/RegrasNFCe.h"

namespace qor {

// ---- product ------------------------------------------------------------------------------
// In homologation (tpAmb_B24 2) the first item is described with the homologation text.
QOR_REGRA(TqorNFCeGI04_1)
QOR_REGRA_ITEM(TqorNFCeGI05_4)    // NCM_I05 of two characters "77", "98" or "99"
QOR_REGRA_ITEM(TqorNFCeGI08_160)  // NFC-e item with CFOP 5933 (service) without group U
QOR_REGRA_ITEM(TqorNFCeGI08_170)  // NFC-e item with group U and a CFOP other than 5933
QOR_REGRA_ITEM(TqorNFCeGI17_10)   // vDesc_I17 above vProd_I11
QOR_REGRA_ITEM(TqorNFCeGI08_1)    // output CFOP (5, 6, 7) in an entry note (tpNF_B11 0)
QOR_REGRA_ITEM(TqorNFCeGI08_1c)   // internal CFOP (1, 5) with idDest_B11a other than 1
QOR_REGRA_ITEM(TqorNFCeGI08_4)    // internal CFOP to an address in another state
QOR_REGRA_ITEM(TqorNFCeGI08_5)    // CFOP that is not internal to an address in the state
// A foreign-trade CFOP with an NCM_I05 of other than eight digits; the first digits tested are
// 1 and 7, as the system always did (3, the imports, is not tested).
QOR_REGRA_ITEM(TqorNFCeGI08_6)
QOR_REGRA_ITEM(TqorNFCeGI08_7)   // import CFOP (3) without an import declaration (group DI)
QOR_REGRA_ITEM(TqorNFCeGI08_7a)  // import-return CFOP (3201, 3202, 3211, 3503, 3553) with IPI
QOR_REGRA_ITEM(TqorNFCeGI08_7b)  // import-return CFOP with import tax (group P)
// Export CFOP (7) without the place of shipment (UFEmbarq_ZA02/xLocEmbarq_ZA03, or the
// UFSaidaPais_ZA02/xLocExporta_ZA03 that replaced them in layout 3.10).
QOR_REGRA_ITEM(TqorNFCeGI08_8)
QOR_REGRA_ITEM(TqorNFCeGI08_9)  // NFC-e item with a CFOP outside the nine of retail sales
// NFC-e item with a CFOP that is not in the national table. The table is checked by its
// sections (the ranges of the last three digits under a first digit 1-3 or 5-7), not code by
// code.
QOR_REGRA_ITEM(TqorNFCeGI08_10)
// qCom_I10 x vUnCom_I10a within 0.01 of vProd_I11 in a normal note (finNFe_B25 1).
QOR_REGRA_ITEM(TqorNFCeGI10_a)
// qTrib_I14 x vUnTrib_I14a within 0.01 of vProd_I11 in any note.
QOR_REGRA_ITEM(TqorNFCeGI10_a1)
// qTrib_I14 x vUnTrib_I14a within 0.01 of vProd_I11 in a normal note.
class TqorNFCeGI14_a : public TqorNFCeGI10_a1 {
 public:
  using TqorNFCeGI10_a1::TqorNFCeGI10_a1;

 protected:
  bool ExpressaoDeValidacao() override;
};
QOR_REGRA_ITEM(TqorNFCeGI17b)  // NFC-e item outside the total (indTot_I17b 0)
// Export detail (nDraw_I51, nRE_I53, chNFe_I54, qExport_I55) outside an operation with abroad.
QOR_REGRA_ITEM(TqorNFCeGI50_10)

// ---- ICMS -----------------------------------------------------------------------------------
QOR_REGRA_ITEM(TqorNFCeGN12_1)   // CST_N12 in a Simples Nacional note (CRT_C21 1)
QOR_REGRA_ITEM(TqorNFCeGN12_1b)  // NFC-e item with CST 51 (deferral)
QOR_REGRA_ITEM(TqorNFCeGN12_1c)  // NFC-e item with the ICMS sharing between states
// CSOSN_N12a outside Simples Nacional; CRT_C21 1 and 4 (the individual micro-entrepreneur,
// who also reports CSOSN) are Simples Nacional.
QOR_REGRA_ITEM(TqorNFCeGN12a)
// vICMS_N17 within 1.00 of vBC_N15 x pICMS_N16 / 100, in a normal note (finNFe_B25 1), for the
// CSTs whose own ICMS is the base times the rate (00, 10, 20, 70, 90).
QOR_REGRA_ITEM(TqorNFCeGN17)
QOR_REGRA_ITEM(TqorNFCeGN28)  // relief for the Free Trade Zone (motDesICMS 7) without ISUF_E18
// A relief reason (motDesICMS_N28) without the relieved amount: vICMS_N17 of the old layouts,
// or vICMSDeson_N27a/vICMSDeson_N28a of the later ones, all 0.00.
QOR_REGRA_ITEM(TqorNFCeGN28_2)
// Relief for the Free Trade Zone with a CFOP other than 6109 or 6110 (the sales to the zone).
QOR_REGRA_ITEM(TqorNFCeGN28_20)
QOR_REGRA_ITEM(TqorNFCeGN12_30)   // NFC-e of a normal regime (CRT 3) with a CST of none of
                                  // 00, 20, 40, 41, 60, 90
QOR_REGRA_ITEM(TqorNFCeGN12_34)   // NFC-e item with CST 90 and ICMS-ST (modBCST_N18)
QOR_REGRA_ITEM(TqorNFCeGN12_40)   // CST 00, 20, 40, 41, 90 outside the CFOPs of own sales
QOR_REGRA_ITEM(TqorNFCeGN12_44)   // CST 60 outside the CFOPs of sales under ICMS-ST
QOR_REGRA_ITEM(TqorNFCeGN12a_20)  // NFC-e with a CSOSN of none of 102, 103, 300, 400, 500, 900
QOR_REGRA_ITEM(TqorNFCeGN12a_34)  // CSOSN 900 with ICMS-ST (modBCST_N18)
QOR_REGRA_ITEM(TqorNFCeGN12a_40)  // CSOSN 102, 103, 300, 400, 900 outside own-sale CFOPs
QOR_REGRA_ITEM(TqorNFCeGN12a_44)  // CSOSN 500 outside the CFOPs of sales under ICMS-ST
// ICMS-ST above 0.00 (a CST 10, 30, 60, 70, 90 or CSOSN 201, 202, 203, 500, 900) without CEST.
QOR_REGRA_ITEM(TqorNFCeGN23_10)
QOR_REGRA_ITEM(TqorNFCeNA01_10)  // NFC-e item with the destination-state ICMS group

// ---- IPI, fuel, ISSQN -----------------------------------------------------------------------
QOR_REGRA_ITEM(TqorNFCeGO07)  // IPI CST 00, 49, 50, 99 without an NCM_I05 (empty or "00")
// IPI cEnq_O06 in the range of its CST: 02/52 301-399, 04/54 001-099, 05/55 101-199.
QOR_REGRA_ITEM(TqorNFCeGO09_10)
QOR_REGRA_ITEM(TqorNFCeGLA16_10)  // fuel meter: vEncFin_LA16 not above vEncIni_LA15
QOR_REGRA(TqorNFCeGU01)           // an item with ISSQN (group U) without the issuer's IM_C19
// At least one item subject to ICMS (group N); the Federal District (UF_C12 "DF") may issue
// notes of services (group U) alone.
QOR_REGRA(TqorNFCeGU01_1)

}  // namespace qor
