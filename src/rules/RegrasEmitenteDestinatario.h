// Rules of the issuer (C), the tax authority's issue (D), the recipient (E) and the places of
// collection (F) and delivery (G).
#pragma once

#include "rules/RegrasNFCe.h"

namespace qor {

// ---- issuer ---------------------------------------------------------------------------------
QOR_REGRA(TqorNFCeGC02)     // CNPJ_C02 given with a wrong check digit
QOR_REGRA(TqorNFCeGC02_a1)  // CPF_C02a given with a wrong check digit
QOR_REGRA(TqorNFCeGC02_a4)  // an NFC-e issued by a natural person (CPF_C02a)
QOR_REGRA(TqorNFCeGC10_1)   // cMun_C10 outside the state of cUF_B02
QOR_REGRA(TqorNFCeGC17)     // IE_C17 missing
QOR_REGRA(TqorNFCeGC18)     // an NFC-e with the IE of a tax substitute (IEST_C18)
// The group of a note issued by the tax authority (D) only with procEmi_B26 1 or 2.
QOR_REGRA(TqorNFCeGD01)
// procEmi_B26 1 or 2 requires group D.
QOR_REGRA(TqorNFCeGD01_2)

// ---- recipient ------------------------------------------------------------------------------
// A document number given (and not the host's "NULL") with a wrong check digit.
class TqorRegraDocumento : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;

 protected:
  virtual TNome CampoDocumento() const = 0;
  virtual bool Valido(const std::string& documento) const = 0;
};

#define QOR_REGRA_DOCUMENTO(Nome, Campo)                      \
  class Nome : public TqorRegraDocumento {                    \
   public:                                                    \
    using TqorRegraDocumento::TqorRegraDocumento;             \
                                                              \
   protected:                                                 \
    TNome CampoDocumento() const override { return Campo; }   \
    bool Valido(const std::string& documento) const override; \
  };

QOR_REGRA_DOCUMENTO(TqorNFCeGE02_2, "CNPJ_E02")
QOR_REGRA_DOCUMENTO(TqorNFCeGE03, "CPF_E03")
QOR_REGRA_DOCUMENTO(TqorNFCeGF02, "CNPJ_F02")
QOR_REGRA_DOCUMENTO(TqorNFCeGF02_a, "CPF_F02a")
QOR_REGRA_DOCUMENTO(TqorNFCeGG02, "CNPJ_G02")
QOR_REGRA_DOCUMENTO(TqorNFCeGG02_a, "CPF_G02a")
#undef QOR_REGRA_DOCUMENTO

QOR_REGRA(TqorNFCeGE02_20)  // the recipient's CNPJ is the issuer's
// idEstrangeiro_E03a of letters, digits and the characters : . + - / ( ) only.
QOR_REGRA(TqorNFCeGE03a_60)
// An identified recipient in homologation (tpAmb_B24 2) is named with the homologation text.
QOR_REGRA(TqorNFCeGE04)
QOR_REGRA(TqorNFCeGE12)    // internal operation to an address in another state
QOR_REGRA(TqorNFCeGE14_1)  // address abroad (cPais_E14) in an operation not with abroad
QOR_REGRA(TqorNFCeGE18a)   // an NFC-e with the recipient's SUFRAMA registration
QOR_REGRA(TqorNFCeGE01_2)  // home delivery (indPres_B25b 4) to an unidentified recipient
QOR_REGRA(TqorNFCeGE05_2)  // home delivery without the recipient's full address
// Never fails: the rule only requires a dataset (the recipient's IE indicator is not tested).
class TqorNFCeGE16a_1 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
};

// ---- places of collection and delivery -------------------------------------------------------
QOR_REGRA(TqorNFCeGF07)  // UF_F09 "EX" with cMun_F07 other than 9999999
QOR_REGRA(TqorNFCeGG07)  // UF_G09 "EX" with cMun_G07 other than 9999999

}  // namespace qor
