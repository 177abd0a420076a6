// Templates of the national environment (Ambiente Nacional, UF "AN"), whose services still run
// the 2.00 layout: older versions on the bodies and the 2.00 services for sending and for the
// receipt query.
#pragma once

#include "templates/TqorNFCeTemplateVersaoUF.h"

namespace qor {

class TqorNFCeTemplateVersaoUF_AN : public TqorNFCeTemplateVersaoUF {
 public:
  std::string getAssinarInutilizacao_Xml() const override;
  std::string getEnvioXmlDest_Xml() const override;
  std::string getPedidoConsultaNf_Xml() const override;
  std::string getPedidoConsultaRecibo_Soap() const override;
  std::string getPedidoConsultaRecibo_Xml() const override;
  std::string getPedidoEnviarNfe_Soap() const override;
  std::string getPedidoEnviarNota_Xml() const override;
  std::string getPedidoStatus_Xml() const override;
  std::string getValidaCabecalho_Xml() const override;
  std::string getValidaItemCabec_Xml() const override;
};

}  // namespace qor
