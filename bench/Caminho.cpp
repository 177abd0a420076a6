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
  regras_.SetTXT(tx2);
  const std::string assinadas = nfce_.AssinarNota(regras_.Converter());
  nfce_.ValidarXMLNFCe(Format(enviNFe_, {"1", assinadas, ""}), "ENVIO");
  return assinadas;
}

}  // namespace qor::bench
