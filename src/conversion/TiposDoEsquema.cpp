#include "conversion/TiposDoEsquema.h"

#include <memory>

#include "platform/XsdPattern.h"

namespace qor {

const std::vector<TipoDoEsquema>& TiposDoEsquema() {
  // Copied from tiposBasico_v4.00.xsd; a test compares each with the package.
  static const std::vector<TipoDoEsquema> kTipos = {
      {"TDec_0104v", R"(0|0\.[0-9]{1,4}|[1-9]{1}(\.[0-9]{1,4})?)"},
      {"TDec_0204v", R"(0|0\.[0-9]{1,4}|[1-9]{1}[0-9]{0,1}(\.[0-9]{1,4})?)"},
      {"TDec_0302a04", R"(0|0\.[0-9]{2,4}|[1-9]{1}[0-9]{0,2}(\.[0-9]{2,4})?)"},
      {"TDec_0302a04Opc", R"(0\.[0-9]{2,4}|[1-9]{1}[0-9]{0,2}(\.[0-9]{2,4})?)"},
      {"TDec_0302Max100", R"(0(\.[0-9]{2})?|100(\.00)?|[1-9]{1}[0-9]{0,1}(\.[0-9]{2})?)"},
      {"TDec_0304Max100", R"(0(\.[0-9]{4})?|100(\.00)?|[1-9]{1}[0-9]{0,1}(\.[0-9]{4})?)"},
      {"TDec_03v00a04Max100Opc",
       R"(0(\.[1-9][0-9]{0,3})|0(\.[0][1-9][0-9]{0,2})|0(\.[0][0][1-9][0-9]{0,1})|0(\.[0][0][0][1-9])|100(\.[0]{1,4})?|[1-9]{1}[0-9]{0,1}(\.[0-9]{1,4})?)"},
      {"TDec_0302a04Max100",
       R"(0(\.[0-9]{2,4})?|[1-9]{1}[0-9]{0,1}(\.[0-9]{2,4})?|100(\.0{2,4})?)"},
      {"TDec_0803v", R"(0|0\.[0-9]{3}|[1-9]{1}[0-9]{0,7}(\.[0-9]{1,3})?)"},
      {"TDec_1104", R"(0|0\.[0-9]{4}|[1-9]{1}[0-9]{0,10}(\.[0-9]{4})?)"},
      {"TDec_1104v", R"(0|0\.[0-9]{1,4}|[1-9]{1}[0-9]{0,10}|[1-9]{1}[0-9]{0,10}(\.[0-9]{1,4})?)"},
      {"TDec_1104Opc",
       R"(0\.[1-9]{1}[0-9]{3}|0\.[0-9]{3}[1-9]{1}|0\.[0-9]{2}[1-9]{1}[0-9]{1}|0\.[0-9]{1}[1-9]{1}[0-9]{2}|[1-9]{1}[0-9]{0,10}(\.[0-9]{4})?)"},
      {"TDec_1110v", R"(0|0\.[0-9]{1,10}|[1-9]{1}[0-9]{0,10}|[1-9]{1}[0-9]{0,10}(\.[0-9]{1,10})?)"},
      {"TDec_1203", R"(0|0\.[0-9]{3}|[1-9]{1}[0-9]{0,11}(\.[0-9]{3})?)"},
      {"TDec_1204", R"(0|0\.[0-9]{1,4}|[1-9]{1}[0-9]{0,11}|[1-9]{1}[0-9]{0,11}(\.[0-9]{4})?)"},
      {"TDec_1204v", R"(0|0\.[0-9]{1,4}|[1-9]{1}[0-9]{0,11}|[1-9]{1}[0-9]{0,11}(\.[0-9]{1,4})?)"},
      {"TDec_1204Opc", R"(0\.[0-9]{1,4}|[1-9]{1}[0-9]{0,11}|[1-9]{1}[0-9]{0,11}(\.[0-9]{1,4})?)"},
      {"TDec_1204temperatura",
       R"(0\.[1-9]{1}[0-9]{3}|0\.[0-9]{3}[1-9]{1}|0\.[0-9]{2}[1-9]{1}[0-9]{1}|0\.[0-9]{1}[1-9]{1}[0-9]{2}|[1-9]{1}[0-9]{0,11}(\.[0-9]{4})?)"},
      {"TDec_1302", R"(0|0\.[0-9]{2}|[1-9]{1}[0-9]{0,12}(\.[0-9]{2})?)"},
      {"TDec_1302Opc",
       R"(0\.[0-9]{1}[1-9]{1}|0\.[1-9]{1}[0-9]{1}|[1-9]{1}[0-9]{0,12}(\.[0-9]{2})?)"},
      {"TNF", R"([1-9]{1}[0-9]{0,8})"},
      {"TSerie", R"(0|[1-9]{1}[0-9]{0,2})"},
  };
  return kTipos;
}

const XsdPattern* PadraoDoTipo(std::string_view nome) {
  // Compiled all at once, the first time a dictionary declares a type.
  static const std::vector<std::unique_ptr<XsdPattern>> kPadroes = [] {
    std::vector<std::unique_ptr<XsdPattern>> padroes;
    for (const TipoDoEsquema& tipo : TiposDoEsquema()) {
      padroes.push_back(std::make_unique<XsdPattern>(std::string(tipo.padrao)));
    }
    return padroes;
  }();
  const std::vector<TipoDoEsquema>& tipos = TiposDoEsquema();
  for (std::size_t i = 0; i < tipos.size(); ++i) {
    if (tipos[i].nome == nome) return kPadroes[i].get();
  }
  return nullptr;
}

}  // namespace qor
