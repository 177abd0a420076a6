// The request templates of one state for one manual version.
//
// Each getter returns one template: a single-line XML or SOAP text with positional "%s"
// placeholders, filled in order by the caller. The texts carry no formatting white space between
// tags, because the state services reject it inside signed content, and no literal percent sign,
// because every "%" is taken as the start of a placeholder.
//
// The base class holds the texts shared by every state. A state whose services differ gets its
// own subclass overriding only what differs (see TqorNFCeTemplateVersaoUF_AN and _CE);
// CreateTemplateVersaoUF picks the class for a UF.
//
// Thread-safety: an object holds only its manual version; distinct objects are independent and
// the getters do not modify the object.
#pragma once

#include <memory>
#include <string>

#include "base/Types.h"

namespace qor {

class TqorNFCeTemplateVersaoUF {
 public:
  TqorNFCeTemplateVersaoUF() = default;
  virtual ~TqorNFCeTemplateVersaoUF() = default;
  TqorNFCeTemplateVersaoUF(const TqorNFCeTemplateVersaoUF&) = delete;
  TqorNFCeTemplateVersaoUF& operator=(const TqorNFCeTemplateVersaoUF&) = delete;

  void setVersaoManual(TVersaoManual versao) { versaoManual_ = versao; }
  TVersaoManual getVersaoManual() const { return versaoManual_; }

  // Layout version of the request bodies: "4.00" from vm60 on, "3.10" before.
  std::string getVersaoXml() const;

  // Request bodies and signing wrappers.
  virtual std::string getAssinarInutilizacao_Xml() const;
  virtual std::string getAssinarNota_Xml() const;
  virtual std::string getAssinarEvento_Xml() const;
  virtual std::string getCabecConsultaNf_Xml() const;
  virtual std::string getCancXmlEventoDest_Xml() const;
  virtual std::string getEnvio_Soap() const;
  virtual std::string getEnvioXmlDest_Xml() const;
  virtual std::string getEventoCancelar_Xml() const;
  virtual std::string getEventoCancelarSubstituicao_Xml() const;
  virtual std::string getEventoEnvio_Xml() const;
  virtual std::string getEventoDest_Xml() const;
  virtual std::string getInfInutInutilizarNf_Xml() const;
  virtual std::string getInutXmlDest_Xml() const;
  virtual std::string getPedidoConsultaNf_Soap() const;
  virtual std::string getPedidoConsultaNf_Xml() const;
  virtual std::string getPedidoConsultaRecibo_Soap() const;
  virtual std::string getPedidoConsultaRecibo_Xml() const;
  virtual std::string getPedidoEnviarNfe_Soap() const;
  virtual std::string getPedidoEnviarNfeZip_Soap() const;
  virtual std::string getPedidoEnviarNota_Xml() const;
  virtual std::string getPedidoInutilizarNf_Soap() const;
  virtual std::string getPedidoInutilizarNf_Xml() const;
  virtual std::string getPedidoStatus_Soap() const;
  virtual std::string getPedidoStatus_Xml() const;
  virtual std::string getSignatureInfo_Xml() const;
  virtual std::string getQrcode_Xml() const;
  // Sample data for the per-item schema diagnosis, not requests.
  virtual std::string getValidaCabecalho_Xml() const;
  virtual std::string getValidaItem_Xml() const;
  virtual std::string getValidaItemCabec_Xml() const;
  // EPEC contingency.
  virtual std::string getEnvioEpec_Xml() const;
  virtual std::string getEventoEpec_Xml() const;
  virtual std::string getPedidoEnviaEpec_Soap() const;
  // Integrador (MFe) messages.
  virtual std::string getEnvioNFCeMFe_Xml() const;
  virtual std::string getEnvioNFCeSemChaveMFe_Xml() const;
  virtual std::string getEventoCancelarMFe_Xml() const;
  virtual std::string getHNFeStatusServico2_Xml() const;
  virtual std::string getPedidoCancelaMFeIntegrador_Xml() const;
  virtual std::string getPedidoEnviarNfeIntegrador_Soap() const;

 protected:
  // vm50b still speaks the 3.10 services: envelopes with the cUF in a header, the older
  // Integrador cancellation message.
  bool servicos310() const { return versaoManual_ == TVersaoManual::vm50b; }

 private:
  TVersaoManual versaoManual_ = TVersaoManual::vm60;
};

// The template class of a UF: the state's own class when it has one, else the base class.
// The comparison is exact and case-sensitive (the component always passes the UF upper case).
// Never returns null.
std::unique_ptr<TqorNFCeTemplateVersaoUF> CreateTemplateVersaoUF(const std::string& uf);

}  // namespace qor
