// The simple types of the NF-e schema package a field of the dataset dictionary may declare
// (its `tipo` attribute): the numeric types of tiposBasico_v4.00.xsd, each with the package's
// own pattern, which the dataset model holds the field's values to.
//
// Thread-safe: the table is constant and its patterns are compiled once per process.
#pragma once

#include <string_view>
#include <vector>

namespace qor {

class XsdPattern;

struct TipoDoEsquema {
  std::string_view nome;    // "TDec_1302"
  std::string_view padrao;  // the xs:pattern value, as the package writes it
};

// Every type of the table, in the package's order.
const std::vector<TipoDoEsquema>& TiposDoEsquema();
// The compiled pattern of the type named `nome` (case as written); nullptr for a name the table
// lacks.
const XsdPattern* PadraoDoTipo(std::string_view nome);

}  // namespace qor
