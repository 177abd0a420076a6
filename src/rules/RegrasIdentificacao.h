// Rules of the note's identification (layout group B and its referenced documents).
#pragma once

#include "rules/RegrasNFCe.h"

namespace qor {

// serie_B07 from 0 to 889 (the text says 899); 890-899 are the series of the notes issued by the
// tax authority (procEmi_B26 1 or 2). Carried as GB07 in vm50 and GB26_1 in the later sets.
QOR_REGRA(TqorNFCeGB26_1)
// Series 900-999 with the SCAN contingency (tpEmis_B22 3).
QOR_REGRA(TqorNFCeGB07_1)

// dhEmi_B09 and the present (at -03:00) no more than 5 minutes apart on the clock face: the
// times of day are compared, not the dates, each as seen at -03:00, and 23:58 is 3 minutes
// from 00:01.
class TqorNFCeGB09 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;
};
// The same test as GB09.1, under the NFC-e code of a late issue.
class TqorNFCeGB09_4 : public TqorNFCeGB09 {
 public:
  using TqorNFCeGB09::TqorNFCeGB09;
};
// An off-line contingency NFC-e (tpEmis 9) is sent within 168 hours of its date of issue.
QOR_REGRA(TqorNFCeGB09_5)

QOR_REGRA(TqorNFCeGB11)    // NFC-e with tpNF_B11 0 (entry)
QOR_REGRA(TqorNFCeGB11a)   // NFC-e with idDest_B11a other than 1
QOR_REGRA(TqorNFCeGB12_1)  // cMunFG_B12 outside the state of cUF_B02
// An NFC-e referencing an NF-e (refNFe_B13 of the old layouts, refNFe_BA02).
QOR_REGRA(TqorNFCeGB12a)
// An NFC-e with any referenced document (the whole group, ECF and producer notes included).
QOR_REGRA(TqorNFCeGBA01)
QOR_REGRA(TqorNFCeGB21)   // NFC-e printed otherwise than as DANFE NFC-e (tpImp_B21 4 or 5)
QOR_REGRA(TqorNFCeGB25)   // NFC-e with finNFe_B25 other than 1 or 4
QOR_REGRA(TqorNFCeGB25a)  // NFC-e not for a final consumer (indFinal_B25a 0)
QOR_REGRA(TqorNFCeGB25b)  // NFC-e with indPres_B25b other than 1 (present) or 4 (delivery)
// procEmi_B26 0-3; the tax authority's processes (1, 2) issue on the series 890-899.
QOR_REGRA(TqorNFCeGB26)
// Normal issue (tpEmis 1) carries no contingency entry (dhCont_B28, xJust_B29); a contingency
// carries both.
QOR_REGRA(TqorNFCeGB22_1)
QOR_REGRA(TqorNFCeGB28)     // dhCont_B28 after dhEmi_B09
QOR_REGRA(TqorNFCeGB28a)    // dhCont_B28 more than 30 days before today (dates at -03:00)
QOR_REGRA(TqorNFCeGB22_5)   // tpEmis 3: the SCAN contingency does not authorise NFC-e
QOR_REGRA(TqorNFCeGB22_6)   // tpEmis 6 or 7 without the contingency entry
QOR_REGRA(TqorNFCeGB26_3)   // the tax authority's processes (procEmi 1, 2) issue normally only
QOR_REGRA(TqorNFCeGB06_2)   // mod_B06 other than 65
QOR_REGRA(TqorNFCeGB06_4)   // mod_B06 other than 65
QOR_REGRA(TqorNFCeGB22_34)  // tpEmis 2 or 5 (contingencies on paper)

}  // namespace qor
