#include "rules/NomesDaNota.h"

#include "rules/LeituraDaNota.h"

namespace qor {

void TNomesDaNota::Iniciar(const TLeituraNota* modelo) {
  modelo_ = modelo;
  ++execucao_;
}

void TNomesDaNota::Resolver(std::string_view nome, TEntrada<TLeituraCampo*>& entrada) {
  entrada.valor = &modelo_->CampoLido(nome);
  entrada.execucao = execucao_;
}

void TNomesDaNota::Resolver(std::string_view nome, TEntrada<TLeituraGrupo*>& entrada) {
  entrada.valor = &modelo_->GrupoLido(nome);
  entrada.execucao = execucao_;
}

}  // namespace qor
