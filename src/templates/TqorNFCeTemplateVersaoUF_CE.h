// Templates of Ceará, whose 3.10 services (vm50b) expect their own envelope shapes for event
// reception and for the receipt query.
#pragma once

#include "templates/TqorNFCeTemplateVersaoUF.h"

namespace qor {

class TqorNFCeTemplateVersaoUF_CE : public TqorNFCeTemplateVersaoUF {
 public:
  std::string getEnvio_Soap() const override;
  std::string getPedidoConsultaRecibo_Soap() const override;
};

}  // namespace qor
