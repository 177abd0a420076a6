// The string list behind the component's NomeCertificado: a plain list that also tells its
// handler the new text whenever the whole text is replaced (SetTextStr), so the component can
// push the certificate name to its services object at once. Without a handler it is a plain
// list.
//
// Not thread-safe: owned by one component.
#pragma once

#include <string>
#include <utility>

#include "base/Types.h"
#include "platform/TStrings.h"

namespace qor {

class TqorCertStringNFCe : public TStrings {
 public:
  // Replaces the whole text (as SetText) and then calls the handler with `text`.
  void SetTextStr(const std::string& text);

  const TOnSetTextEvent& GetOnSetText() const { return onSetText_; }
  void SetOnSetText(TOnSetTextEvent handler) { onSetText_ = std::move(handler); }

 protected:
  void DoOnSetText(const std::string& text);

 private:
  TOnSetTextEvent onSetText_;
};

}  // namespace qor
