// Sample notes for the benchmarks: the one-item TX2 sample installed beside the executables,
// with its item repeated.
#pragma once

#include <chrono>
#include <string>

namespace qor::bench {

// The TX2 text of the one-item sample; throws when the sample is not installed.
std::string AmostraUmItem();
// The same note with `itens` copies of its item, numbered 1..itens, and totals and payment that
// add up (the note passes the business rules at its dhEmi).
std::string NotaComItens(int itens);
// The sample's dhEmi, as the clock the rules should read for it.
std::chrono::system_clock::time_point InstanteDaAmostra();

}  // namespace qor::bench
