// Sample notes for the benchmarks: the one-item TX2 sample installed beside the executables,
// with its item repeated.
#pragma once

#include <string>

namespace qor::bench {

// The TX2 text of the one-item sample; throws when the sample is not installed.
std::string AmostraUmItem();
// The same note with `itens` copies of its item, numbered 1..itens.
std::string NotaComItens(int itens);

}  // namespace qor::bench
