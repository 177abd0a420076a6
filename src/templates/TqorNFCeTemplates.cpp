#include "templates/TqorNFCeTemplates.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "templates/TqorNFCeTemplateVersaoUF.h"
#include "templates/TqorNFCeTemplateVersaoUF_AN.h"
#include "templates/TqorNFCeTemplateVersaoUF_CE.h"

namespace qor {

namespace {

using Factory = std::unique_ptr<TqorNFCeTemplateVersaoUF> (*)();

template <class T>
std::unique_ptr<TqorNFCeTemplateVersaoUF> Make() {
  return std::make_unique<T>();
}

struct UfEntry {
  std::string_view uf;
  Factory make;
};

// Every state of the federation plus the national environment. Only AN and CE differ today;
// the others use the shared texts. A state gets its own class (and its line here changes to
// that class) when it first overrides something, so the dispatcher never changes shape.
constexpr std::array<UfEntry, 28> kUfs{{
    {"AC", Make<TqorNFCeTemplateVersaoUF>},    {"AL", Make<TqorNFCeTemplateVersaoUF>},
    {"AM", Make<TqorNFCeTemplateVersaoUF>},    {"AN", Make<TqorNFCeTemplateVersaoUF_AN>},
    {"AP", Make<TqorNFCeTemplateVersaoUF>},    {"BA", Make<TqorNFCeTemplateVersaoUF>},
    {"CE", Make<TqorNFCeTemplateVersaoUF_CE>}, {"DF", Make<TqorNFCeTemplateVersaoUF>},
    {"ES", Make<TqorNFCeTemplateVersaoUF>},    {"GO", Make<TqorNFCeTemplateVersaoUF>},
    {"MA", Make<TqorNFCeTemplateVersaoUF>},    {"MG", Make<TqorNFCeTemplateVersaoUF>},
    {"MS", Make<TqorNFCeTemplateVersaoUF>},    {"MT", Make<TqorNFCeTemplateVersaoUF>},
    {"PA", Make<TqorNFCeTemplateVersaoUF>},    {"PB", Make<TqorNFCeTemplateVersaoUF>},
    {"PE", Make<TqorNFCeTemplateVersaoUF>},    {"PI", Make<TqorNFCeTemplateVersaoUF>},
    {"PR", Make<TqorNFCeTemplateVersaoUF>},    {"RJ", Make<TqorNFCeTemplateVersaoUF>},
    {"RN", Make<TqorNFCeTemplateVersaoUF>},    {"RO", Make<TqorNFCeTemplateVersaoUF>},
    {"RR", Make<TqorNFCeTemplateVersaoUF>},    {"RS", Make<TqorNFCeTemplateVersaoUF>},
    {"SC", Make<TqorNFCeTemplateVersaoUF>},    {"SE", Make<TqorNFCeTemplateVersaoUF>},
    {"SP", Make<TqorNFCeTemplateVersaoUF>},    {"TO", Make<TqorNFCeTemplateVersaoUF>},
}};

using Getter = std::string (TqorNFCeTemplateVersaoUF::*)() const;

struct NameEntry {
  std::string_view name;
  Getter get;
};

using T = TqorNFCeTemplateVersaoUF;

constexpr std::array<NameEntry, 38> kNames{{
    {"assinar_inutilizacao.xml", &T::getAssinarInutilizacao_Xml},
    {"assinar_nota.xml", &T::getAssinarNota_Xml},
    {"assinarevento.xml", &T::getAssinarEvento_Xml},
    {"cabec_consultanf.xml", &T::getCabecConsultaNf_Xml},
    {"cancxmlevento_dest.xml", &T::getCancXmlEventoDest_Xml},
    {"envio.soap", &T::getEnvio_Soap},
    {"envioxml_dest.xml", &T::getEnvioXmlDest_Xml},
    {"evento_cancelar.xml", &T::getEventoCancelar_Xml},
    {"evento_cancelar_substituicao.xml", &T::getEventoCancelarSubstituicao_Xml},
    {"evento_enviocancelar.xml", &T::getEventoEnvio_Xml},
    {"evento_dest.xml", &T::getEventoDest_Xml},
    {"infinut_inutilizarnf.xml", &T::getInfInutInutilizarNf_Xml},
    {"inutxml_dest.xml", &T::getInutXmlDest_Xml},
    {"pedido_consultanf.soap", &T::getPedidoConsultaNf_Soap},
    {"pedido_consultanf.xml", &T::getPedidoConsultaNf_Xml},
    {"pedido_consultarecibo.soap", &T::getPedidoConsultaRecibo_Soap},
    {"pedido_consultarecibo.xml", &T::getPedidoConsultaRecibo_Xml},
    {"pedido_enviarnfe.soap", &T::getPedidoEnviarNfe_Soap},
    {"pedido_enviarnfezip.soap", &T::getPedidoEnviarNfeZip_Soap},
    {"pedido_enviarnota.xml", &T::getPedidoEnviarNota_Xml},
    {"pedido_inutilizarnf.soap", &T::getPedidoInutilizarNf_Soap},
    {"pedido_inutilizarnf.xml", &T::getPedidoInutilizarNf_Xml},
    {"pedido_status.soap", &T::getPedidoStatus_Soap},
    {"pedido_status.xml", &T::getPedidoStatus_Xml},
    {"signature_info.xml", &T::getSignatureInfo_Xml},
    {"qrcode.xml", &T::getQrcode_Xml},
    {"valida_cabecalho.xml", &T::getValidaCabecalho_Xml},
    {"valida_item.xml", &T::getValidaItem_Xml},
    {"valida_itemcabec.xml", &T::getValidaItemCabec_Xml},
    {"envio_epec.xml", &T::getEnvioEpec_Xml},
    {"pedido_envia_epec.soap", &T::getPedidoEnviaEpec_Soap},
    {"evento_epec.xml", &T::getEventoEpec_Xml},
    {"envio_nfce_mfe.xml", &T::getEnvioNFCeMFe_Xml},
    {"evento_cancelar_mfe.xml", &T::getEventoCancelarMFe_Xml},
    {"pedido_enviarnfe_integrador.soap", &T::getPedidoEnviarNfeIntegrador_Soap},
    {"pedido_cancelamfe_integrador.soap", &T::getPedidoCancelaMFeIntegrador_Xml},
    {"envio_nfce_sem_chave_mfe.xml", &T::getEnvioNFCeSemChaveMFe_Xml},
    {"hnfestatusservico2soap12.xml", &T::getHNFeStatusServico2_Xml},
}};

// Template names are ASCII; bytes outside A-Z pass unchanged, so the result does not depend on
// the process locale.
std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::unique_ptr<TqorNFCeTemplateVersaoUF> CreateTemplateVersaoUF(const std::string& uf) {
  const auto it =
      std::find_if(kUfs.begin(), kUfs.end(), [&](const UfEntry& e) { return e.uf == uf; });
  return it != kUfs.end() ? it->make() : std::make_unique<TqorNFCeTemplateVersaoUF>();
}

std::vector<std::string_view> TqorNFCeTemplates::UFs() {
  std::vector<std::string_view> ufs;
  for (const UfEntry& e : kUfs) ufs.push_back(e.uf);
  return ufs;
}

std::vector<std::string_view> TqorNFCeTemplates::Nomes() {
  std::vector<std::string_view> nomes;
  for (const NameEntry& e : kNames) nomes.push_back(e.name);
  return nomes;
}

std::string TqorNFCeTemplates::LoadTemplate(TVersaoManual versao, const std::string& uf,
                                            const std::string& name) {
  const std::string key = LowerAscii(name);
  const auto it =
      std::find_if(kNames.begin(), kNames.end(), [&](const NameEntry& e) { return e.name == key; });
  if (it == kNames.end()) return {};
  const auto templates = CreateTemplateVersaoUF(uf);
  templates->setVersaoManual(versao);
  return ((*templates).*(it->get))();
}

}  // namespace qor
