#include "conversion/TqorNFCeVersoes.h"

#include <algorithm>

#include "utils/Chave.h"

namespace qor {

std::string TqorDS_pl006n_NFCe::CalcularChave(const TXmlDataSetNFCe& b,
                                              const TXmlDataSetNFCe& c) const {
  return CalculaChave(b.Value("dhEmi_B09"), b.Value("cUF_B02"), c.Value("CNPJ_C02"),
                      b.Value("mod_B06"), b.Value("serie_B07"), b.Value("nNF_B08"),
                      b.Value("tpEmis_B22"), b.Value("cNF_B03"), GetDiretorioLogErro());
}

std::vector<std::string> TqorDS_pl006n_NFCe::AddDataSetsListaNFE() const {
  auto list = TqorNFCeCustomDataSet::AddDataSetsListaNFE();
  list.push_back("YA");
  return list;
}

std::vector<std::string> TqorDS_pl008a_NFCe::AddDataSetsListaNFE() const {
  auto list = TqorDS_pl007a_NFCe::AddDataSetsListaNFE();
  list.push_back("AUTXML");
  return list;
}

std::vector<std::string> TqorDS_pl008a_NFCe::AddDataSetsListaItemNFCe() const {
  return {"H", "I", "J", "K", "L", "M",  "N",   "O",         "P",         "Q",
          "R", "S", "T", "U", "V", "DI", "ADI", "DETEXPORT", "EXPORTIND", "L1"};
}

std::vector<std::string> Tqor_pl008g_NFCe::AddDataSetsListaNFE() const {
  auto list = Tqor_pl008f_NFCe::AddDataSetsListaNFE();
  list.push_back("ZX");
  return list;
}

std::vector<std::string> Tqor_pl008h_NFCe::AddDataSetsListaItemNFCe() const {
  auto list = Tqor_pl008g_NFCe::AddDataSetsListaItemNFCe();
  list.push_back("ICMSUFDest");
  return list;
}

std::vector<std::string> Tqor_pl009_NFCe::AddDataSetsListaNFE() const {
  auto list = Tqor_pl008h_NFCe::AddDataSetsListaNFE();
  list.erase(std::remove(list.begin(), list.end(), "YA"), list.end());
  for (const char* name : {"YA01", "YA", "YB", "ZD"}) list.push_back(name);
  return list;
}

std::vector<std::string> Tqor_pl009_NFCe::AddDataSetsListaItemNFCe() const {
  auto list = Tqor_pl008h_NFCe::AddDataSetsListaItemNFCe();
  list.push_back("I80");
  return list;
}

std::unique_ptr<TqorNFCeCustomDataSet> CriarModeloNFCe(TVersaoEsquema versao) {
  using V = TVersaoEsquema;
  switch (versao) {
    case V::pl_006n:
    case V::pl_006p:
    case V::pl_006q:
    case V::pl_006r:
      return std::make_unique<TqorDS_pl006n_NFCe>();
    case V::pl_007a:
      return std::make_unique<TqorDS_pl007a_NFCe>();
    case V::pl_008a:
      return std::make_unique<TqorDS_pl008a_NFCe>();
    case V::pl_008b:
      return std::make_unique<Tqor_pl008b_NFCe>();
    case V::pl_008c:
      return std::make_unique<Tqor_pl008c_NFCe>();
    case V::pl_008d:
      return std::make_unique<Tqor_pl008d_NFCe>();
    case V::pl_008e:
      return std::make_unique<Tqor_pl008e_NFCe>();
    case V::pl_008f:
      return std::make_unique<Tqor_pl008f_NFCe>();
    case V::pl_008g:
      return std::make_unique<Tqor_pl008g_NFCe>();
    case V::pl_008h:
    case V::pl_008i:
    case V::pl_008i1:
      return std::make_unique<Tqor_pl008h_NFCe>();
    case V::pl_009:
      return std::make_unique<Tqor_pl009_NFCe>();
    case V::pl_009g:
      return std::make_unique<Tqor_pl009g_NFCe>();
  }
  return nullptr;
}

}  // namespace qor
