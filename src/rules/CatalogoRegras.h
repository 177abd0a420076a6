// The rule catalogue: one row per rule of each set (code, class, field, cStat, message, the sets
// that carry it) and the order in which each set runs. A set is built by walking its order and
// taking, for each code, the row that names that set.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "base/Types.h"
#include "rules/TqorRule.h"

namespace qor {

// Bits of TRegraCatalogo::conjuntos.
inline constexpr unsigned kVm50 = 1u << static_cast<int>(TVersaoManual::vm50);
inline constexpr unsigned kVm50a = 1u << static_cast<int>(TVersaoManual::vm50a);
inline constexpr unsigned kVm50b = 1u << static_cast<int>(TVersaoManual::vm50b);
inline constexpr unsigned kVm60 = 1u << static_cast<int>(TVersaoManual::vm60);
inline constexpr unsigned kTodos = kVm50 | kVm50a | kVm50b | kVm60;

struct TRegraCatalogo {
  using Fabrica = std::unique_ptr<TqorNFCeRule> (*)(const TRegraCatalogo&, TVersaoManual);
  std::string_view codigo;
  Fabrica criar;
  std::string_view campo;
  std::string_view cStat;
  std::string_view mensagem;
  unsigned conjuntos;
};

const std::vector<TRegraCatalogo>& CatalogoRegras();
// The codes of a set in the order they run (a code may appear twice).
const std::vector<std::string_view>& OrdemRegras(TVersaoManual versao);

}  // namespace qor
