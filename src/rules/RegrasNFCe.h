// The rules of the catalogue, one class each, named after the rule. Families that check the same
// thing on different fields share a base that takes the fields. This header holds the families
// and the first rules; the others live in one header per part of the layout (Regras*.h), which
// build on it.
//
// Conventions of every rule: a rule tests values the note gives. A field the note left empty, or
// a group it did not fill, passes a rule about its value (the schema reports a missing required
// field), and fails only a rule about its absence (GC17, GD01_2, GYA01b, ...).
#pragma once

#include <string>

#include "rules/TqorRule.h"

// A rule over the fields of the note (header rules override execute).
#define QOR_REGRA(Nome)               \
  class Nome : public TqorNFCeRule {  \
   public:                            \
    using TqorNFCeRule::TqorNFCeRule; \
    void execute() override;          \
  };

// A rule tested on every item: ExpressaoDeValidacao says whether the current item is valid.
#define QOR_REGRA_ITEM(Nome)                          \
  class Nome : public TqorNFCeTemplateItem {          \
   public:                                            \
    using TqorNFCeTemplateItem::TqorNFCeTemplateItem; \
                                                      \
   protected:                                         \
    bool ExpressaoDeValidacao() override;             \
  };

namespace qor {

// ---- access key -----------------------------------------------------------------------------

// The check digit in the key of Id_A03 equals cDV_B23.
class TqorNFCeGA03 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;
};

// The key of Id_A03 carries the check digit of its own fields.
class TqorNFCeGB23 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;
};

// tpEmis 3, 6 and 7 belong to the SCAN/SVC contingencies.
class TqorNFCeGB22_3 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;
};

// The note's total is at most 200000.00.
class TqorNFCeGW16_30 : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;
};

// ---- municipality codes ------------------------------------------------------------------

// A municipality code that is given must carry its check digit (IBGE table exceptions pass).
class TqorRegraDigitoMunicipio : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;

 protected:
  virtual TNome CampoMunicipio() const = 0;
  // Whether the code must be checked (the group is filled, the place is in Brazil).
  virtual bool Aplicavel() const { return true; }
};

class TqorNFCeGB12 : public TqorRegraDigitoMunicipio {
 public:
  using TqorRegraDigitoMunicipio::TqorRegraDigitoMunicipio;

 protected:
  TNome CampoMunicipio() const override { return "cMunFG_B12"; }
};

class TqorNFCeGC10 : public TqorRegraDigitoMunicipio {
 public:
  using TqorRegraDigitoMunicipio::TqorRegraDigitoMunicipio;

 protected:
  TNome CampoMunicipio() const override { return "cMun_C10"; }
};

class TqorNFCeGE10 : public TqorRegraDigitoMunicipio {
 public:
  using TqorRegraDigitoMunicipio::TqorRegraDigitoMunicipio;

 protected:
  TNome CampoMunicipio() const override { return "cMun_E10"; }
  bool Aplicavel() const override;
};

class TqorNFCeGF07_1 : public TqorRegraDigitoMunicipio {
 public:
  using TqorRegraDigitoMunicipio::TqorRegraDigitoMunicipio;

 protected:
  TNome CampoMunicipio() const override { return "cMun_F07"; }
  bool Aplicavel() const override { return Valor("UF_F09") != "EX"; }
};

class TqorNFCeGG07_1 : public TqorRegraDigitoMunicipio {
 public:
  using TqorRegraDigitoMunicipio::TqorRegraDigitoMunicipio;

 protected:
  TNome CampoMunicipio() const override { return "cMun_G07"; }
  bool Aplicavel() const override { return Valor("UF_G09") != "EX"; }
};

// Item rules of the ISSQN group: the municipality of the service and of its incidence.
class TqorNFCeGU05 : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
};

class TqorNFCeGU14_10 : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
};

// The first two digits of a municipality code are the code of its state.
class TqorRegraMunicipioUF : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;

 protected:
  virtual TNome CampoMunicipio() const = 0;
  virtual TNome CampoUF() const = 0;
};

class TqorNFCeGE10_1 : public TqorRegraMunicipioUF {
 public:
  using TqorRegraMunicipioUF::TqorRegraMunicipioUF;
  void execute() override;

 protected:
  TNome CampoMunicipio() const override { return "cMun_E10"; }
  TNome CampoUF() const override { return "UF_E12"; }
};

class TqorNFCeGF07_2 : public TqorRegraMunicipioUF {
 public:
  using TqorRegraMunicipioUF::TqorRegraMunicipioUF;

 protected:
  TNome CampoMunicipio() const override { return "cMun_F07"; }
  TNome CampoUF() const override { return "UF_F09"; }
};

class TqorNFCeGG07_2 : public TqorRegraMunicipioUF {
 public:
  using TqorRegraMunicipioUF::TqorRegraMunicipioUF;

 protected:
  TNome CampoMunicipio() const override { return "cMun_G07"; }
  TNome CampoUF() const override { return "UF_G09"; }
};

// ---- items ---------------------------------------------------------------------------------

// A GTIN is "SEM GTIN" or carries its check digit.
class TqorNFCeGI03 : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
};

class TqorNFCeGI12 : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
};

// An NFC-e item carries none of the groups of the family (vehicle, weapon, fuel, IPI, II,
// PIS-ST, COFINS-ST).
class TqorRegraGrupoProibido : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
  virtual TNome GrupoProibido() const = 0;
};

#define QOR_REGRA_GRUPO_PROIBIDO(Nome, Grupo)              \
  class Nome : public TqorRegraGrupoProibido {             \
   public:                                                 \
    using TqorRegraGrupoProibido::TqorRegraGrupoProibido;  \
                                                           \
   protected:                                              \
    TNome GrupoProibido() const override { return Grupo; } \
  };

QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGJ01, "J")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGL01, "L")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGL101, "L1")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGO01, "O")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGP01, "P")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGR01, "R")
QOR_REGRA_GRUPO_PROIBIDO(TqorNFCeGT01, "T")
#undef QOR_REGRA_GRUPO_PROIBIDO

// An NFC-e item has no ICMS suspension (CST 50).
class TqorNFCeGN12_1a : public TqorNFCeTemplateItem {
 public:
  using TqorNFCeTemplateItem::TqorNFCeTemplateItem;

 protected:
  bool ExpressaoDeValidacao() override;
};

}  // namespace qor
