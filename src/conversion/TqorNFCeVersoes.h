// The note model of each schema package. Each class derives from the one before it and states
// the layout level it writes; the parts of TqorNFCeCustomDataSet read that level where the
// layouts differ. Classes whose packages changed nothing in the note keep their parent's level.
#pragma once

#include <memory>

#include "conversion/TqorNFCeCustomDataSet.h"

namespace qor {

// pl_006n..pl_006r: the 3.10 key (dhEmi, tpEmis, eight-digit cNF) and the payment groups.
class TqorDS_pl006n_NFCe : public TqorNFCeCustomDataSet {
 protected:
  std::string CalcularChave(const TXmlDataSetNFCe& b, const TXmlDataSetNFCe& c) const override;
  std::size_t DigitosCNF() const override { return 8; }
  std::vector<std::string> AddDataSetsListaNFE() const override;
};

// pl_007a: the approximate tax total (vTotTrib) of items and note.
class TqorDS_pl007a_NFCe : public TqorDS_pl006n_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_007a; }
};

// pl_008a: autXML, detExport, nFCI, ICMS exemption and deferral fields, the LA fuel ids.
class TqorDS_pl008a_NFCe : public TqorDS_pl007a_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_008a; }

 protected:
  std::vector<std::string> AddDataSetsListaNFE() const override;
  std::vector<std::string> AddDataSetsListaItemNFCe() const override;
};

class Tqor_pl008b_NFCe : public TqorDS_pl008a_NFCe {};
class Tqor_pl008c_NFCe : public Tqor_pl008b_NFCe {};
class Tqor_pl008d_NFCe : public Tqor_pl008c_NFCe {};
class Tqor_pl008e_NFCe : public Tqor_pl008d_NFCe {};
class Tqor_pl008f_NFCe : public Tqor_pl008e_NFCe {};

// pl_008g: payments in their own part with tpIntegra, fuel meter, infNFeSupl with the QR code.
class Tqor_pl008g_NFCe : public Tqor_pl008f_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_008g; }

 protected:
  std::vector<std::string> AddDataSetsListaNFE() const override;
};

// pl_008h, pl_008i, pl_008i1: CEST and the destination-state ICMS group.
class Tqor_pl008h_NFCe : public Tqor_pl008g_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_008h; }

 protected:
  std::vector<std::string> AddDataSetsListaItemNFCe() const override;
};

// pl_009: layout 4.00 (detPag and vTroco, FCP, rastro, infIntermed, infRespTec, urlChave).
class Tqor_pl009_NFCe : public Tqor_pl008h_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_009; }

 protected:
  std::vector<std::string> AddDataSetsListaNFE() const override;
  std::vector<std::string> AddDataSetsListaItemNFCe() const override;
};

// pl_009g: cBarra, ST exemption, FCP deferral, indSomaPISST/indSomaCOFINSST.
class Tqor_pl009g_NFCe : public Tqor_pl009_NFCe {
 public:
  TVersaoEsquema Nivel() const override { return TVersaoEsquema::pl_009g; }
};

// The model class of a schema version.
std::unique_ptr<TqorNFCeCustomDataSet> CriarModeloNFCe(TVersaoEsquema versao);

}  // namespace qor
