// libFuzzer's entry for one target; QORNFCE_FUZZ_CORPO names its body (Alvos.h).
#include "Alvos.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return qor::fuzz::QORNFCE_FUZZ_CORPO(data, size);
}
