#include "rules/NomesDaNota.h"

#include <string>

#include "conversion/TqorXMLDataSetNFCe.h"

namespace qor {

void TNomesDaNota::Iniciar(TqorXMLDataSetNFCe* modelo) {
  modelo_ = modelo;
  ++execucao_;
}

void TNomesDaNota::Resolver(std::string_view nome, TEntrada<TXmlFieldNFCe*>& entrada) {
  entrada.valor = &modelo_->Campo(std::string(nome));
  entrada.execucao = execucao_;
}

void TNomesDaNota::Resolver(std::string_view nome, TEntrada<TGrupo>& entrada) {
  entrada.valor = ProcurarGrupo(*modelo_, nome);
  entrada.execucao = execucao_;
}

TNomesDaNota::TGrupo TNomesDaNota::ProcurarGrupo(const TqorXMLDataSetNFCe& modelo,
                                                 std::string_view nome) {
  TXmlDataSetNFCe& grupo = modelo.FindDataSet(std::string(nome));
  return {&grupo, grupo.FindField("handle"), grupo.FindField(grupo.GetXMLKeyField())};
}

}  // namespace qor
