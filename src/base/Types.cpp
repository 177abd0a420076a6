#include "base/Types.h"

#include <array>
#include <cstddef>

namespace qor {

namespace {

template <typename E, std::size_t N>
std::string NameOf(E value, const std::array<const char*, N>& names) {
  const auto index = static_cast<std::size_t>(value);
  return index < N ? names[index] : std::string();
}

}  // namespace

std::string TpAmb(TAmbienteKind ambiente) {
  return ambiente == TAmbienteKind::akProducao ? "1" : "2";
}

std::string VersaoManualFolder(TVersaoManual versao) {
  return NameOf(versao, std::array{"vm50\\", "vm50a\\", "vm50b\\", "vm60\\"});
}

std::string VersaoDados(TVersaoManual versao) {
  return NameOf(versao, std::array{"3.00", "3.10", "3.10", "4.00"});
}

std::string ToString(TVersaoManual v) {
  return NameOf(v, std::array{"vm50", "vm50a", "vm50b", "vm60"});
}

std::string ToString(TVersaoEsquema v) {
  return NameOf(v, std::array{"pl_006n", "pl_006p", "pl_006q", "pl_006r", "pl_007a", "pl_008a",
                              "pl_008b", "pl_008c", "pl_008d", "pl_008e", "pl_008f", "pl_008g",
                              "pl_008h", "pl_008i", "pl_008i1", "pl_009", "pl_009g"});
}

std::string ToString(TAmbienteKind v) {
  return NameOf(v, std::array{"akProducao", "akHomologacao"});
}

std::string ToString(TCertificadoKind v) {
  return NameOf(
      v, std::array{"ckMemory", "ckLocalMachine", "ckFile", "ckActiveDiretory", "ckSmartCard"});
}

namespace {
constexpr std::array kLogFilterNames{
    "lfXml",          "lfNFCe",   "lfEnvLot",    "lfRec",        "lfPedRec",
    "lfProRec",       "lfDen",    "lfCaneveEnv", "lfCaneveRet",  "lfCaneveSubEnv",
    "lfCaneveSubRet", "lfPedInu", "lfInu",       "lfPedSit",     "lfSit",
    "lfPedSta",       "lfSta",    "lfCustom",    "lfEnvSincLot", "lfEnvSincRet"};
constexpr std::array kLogFilterMasks{"*.xml",
                                     "*-nfce.xml",
                                     "*-env-lot.xml",
                                     "*-rec.xml",
                                     "*-ped-rec.xml",
                                     "*-pro-rec.xml",
                                     "*-den.xml",
                                     "*-caneve-env.xml",
                                     "*-caneve-ret.xml",
                                     "*-caneve-sub-env.xml",
                                     "*-caneve-sub-ret.xml",
                                     "*-ped-inu.xml",
                                     "*-inu.xml",
                                     "*-ped-sit.xml",
                                     "*-sit.xml",
                                     "*-ped-sta.xml",
                                     "*-sta.xml",
                                     "",
                                     "*-env-sinc-lot.xml",
                                     "*-env-sinc-ret.xml"};
static_assert(kLogFilterNames.size() == kLogFilterMasks.size());
}  // namespace

std::string ToString(TLogFilter v) { return NameOf(v, kLogFilterNames); }

std::string LogFilterMask(TLogFilter filter, const std::string& custom) {
  if (filter == TLogFilter::lfCustom) return custom;
  return NameOf(filter, kLogFilterMasks);
}

}  // namespace qor
