#include "Caminho.h"

#include "Amostras.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"

namespace qor::bench {

CaminhoOffline::CaminhoOffline(TqorNFCe& nfce)
    : nfce_(nfce), enviNFe_(nfce.LoadTemplate("pedido_enviarnota.xml")) {
  regras_.SetXMLDicionario(ExecutableDir() + "Templates/vm60/Conversor/NFCeDataSets.xml");
  regras_.DataSets().SetValidaRegrasNegocio(true);
  regras_.DataSets().SetRelogio(InstanteDaAmostra);
}

std::string CaminhoOffline::Percorrer(const std::string& tx2) {
  // One conversion with the rules on: they run on each note's data sets as it is saved, and
  // the text returned is the batch ConverterLoteParaXml gives.
  using Relogio = std::chrono::steady_clock;
  const Relogio::time_point inicio = Relogio::now();
  regras_.SetTXT(tx2);
  const std::string xml = regras_.Converter();
  const Relogio::time_point convertida = Relogio::now();
  const std::string assinadas = nfce_.AssinarNota(xml);
  const Relogio::time_point assinada = Relogio::now();
  nfce_.ValidarXMLNFCe(Format(enviNFe_, {"1", assinadas, ""}), "ENVIO");
  etapas_.conversao += convertida - inicio;
  etapas_.assinatura += assinada - convertida;
  etapas_.validacao += Relogio::now() - assinada;
  return assinadas;
}

}  // namespace qor::bench
