#include "config/TqorCertStringNFCe.h"

namespace qor {

void TqorCertStringNFCe::SetTextStr(const std::string& text) {
  SetText(text);
  DoOnSetText(text);
}

void TqorCertStringNFCe::DoOnSetText(const std::string& text) {
  if (onSetText_) onSetText_(text);
}

}  // namespace qor
