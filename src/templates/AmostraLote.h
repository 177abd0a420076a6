// Sample batch used by the per-item schema diagnosis: a signed model-55 batch of one note of a
// fictitious emitter (CNPJ 11222333000181) to a fictitious recipient, with one item. The core
// swaps the real note header or the real items into it and validates the result, so every part
// here must be schema-valid on its own. The signature values are made up; only their shape is
// right (a schema cannot check a signature).
#pragma once

#include <string>
#include <string_view>

namespace qor::tpl {

// The whole batch with one "%s" where the `det` elements belong, between `dest` and `total`.
// `versao` goes on enviNFe and infNFe; without `indSinc` the batch has the 2.00 shape, which
// had no such element.
std::string AmostraValidaCabecalho(std::string_view versao, bool indSinc);

// The sample item: `det` nItem="1" (ICMS00, PIS and COFINS by rate). No placeholder.
std::string_view AmostraItem();

// The batch whose `NFe` holds one "%s" (the note's infNFe) followed by the sample signature.
std::string AmostraValidaItemCabec(std::string_view versao, bool indSinc);

}  // namespace qor::tpl
