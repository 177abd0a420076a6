// Rules of transport (X), billing and payment (Y, YA), export (ZA), purchase (ZB) and sugar cane
// (ZC). An NFC-e is a retail sale: it carries no transport unless the goods are delivered home.
#pragma once

#include "rules/RegrasNFCe.h"

namespace qor {

// ---- transport ----------------------------------------------------------------------------
QOR_REGRA(TqorNFCeGX02)  // NFC-e with freight (modFrete_X02 other than 9) outside home delivery
// NFC-e with the carrier (CNPJ_X04, CPF_X05, xNome_X06, IE_X07, xEnder_X08, xMun_X09) outside
// home delivery (indPres_B25b 4).
QOR_REGRA(TqorNFCeGX03)
// The carrier given outside home delivery, for any model (the test the design gives, although
// its text speaks of a delivery without carrier).
QOR_REGRA(TqorNFCeGX03_2)
// A sale of fuel (an item CFOP 5651-5656, 5667, 6651-6656 or 6667) transported (modFrete_X02
// given and other than 9) without the carrier's CNPJ_X04 or CPF_X05.
QOR_REGRA(TqorNFCeGX04_1)
QOR_REGRA(TqorNFCeGX11)   // NFC-e with the ICMS retention on transport (X12-X17)
QOR_REGRA(TqorNFCeGX18)   // NFC-e with the vehicle (placa_X19, UF_X20, RNTC_X21)
QOR_REGRA(TqorNFCeGX22)   // NFC-e with a trailer (group REBOQUE)
QOR_REGRA(TqorNFCeGX25a)  // NFC-e with vagao_X25a
QOR_REGRA(TqorNFCeGX25b)  // NFC-e with balsa_X25b

// ---- billing and payment ----------------------------------------------------------------------
QOR_REGRA(TqorNFCeGY01)       // NFC-e with an invoice (Y) or instalments (DUP)
QOR_REGRA(TqorNFCeGYA01b)     // NFC-e without payments (YA)
QOR_REGRA(TqorNFCeGYA04a_10)  // NFC-e card payment (tBand_YA06) without tpIntegra_YA04a
QOR_REGRA(TqorNFCeYA02_10)    // a payment by trade bill (tPag_YA02 14)
// Payments against vNF_W16, to the cent, when the note has payments: their sum not below the
// total; above it only with change (vTroco_YA09); the change is what they exceed it by.
QOR_REGRA(TqorNFCeYA03_10)
QOR_REGRA(TqorNFCeYA03_20)
QOR_REGRA(TqorNFCeYA09_10)

// ---- export, purchase, sugar cane --------------------------------------------------------------
// An export (tpNF_B11 1, idDest_B11a 3) names its exit: UFSaidaPais_ZA02 and xLocExporta_ZA03.
QOR_REGRA(TqorNFCeGZA01_1)
// The exit fields (UFSaidaPais_ZA02, xLocExporta_ZA03, xLocDespacho_ZA04) only in an export.
QOR_REGRA(TqorNFCeGZA02_1)
// NFC-e with the export group, under the names of layout 2.00 (UFEmbarq_ZA02,
// xLocEmbarq_ZA03) or of layout 3.10 (UFSaidaPais_ZA02, xLocExporta_ZA03).
QOR_REGRA(TqorNFCeGZA01_30)
// NFC-e with the export group of layout 4.00 (UFSaidaPais, xLocExporta, xLocDespacho).
QOR_REGRA(TqorNFCeGZA01_41)
QOR_REGRA(TqorNFCeGZB01)  // NFC-e with purchase data (xNEmp_ZB02, xPed_ZB03, xCont_ZB04)
QOR_REGRA(TqorNFCeGZC01)  // NFC-e with the sugar-cane group (CANA, FORDIA, DEDUC)

}  // namespace qor
