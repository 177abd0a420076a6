// The fields and groups of a note's model found by name for the rules of one run.
//
// A rule reads a field by its dataset name, often once per item; looking the name up in the
// model at every read (hashing its text, folding its case, building a std::string from the
// literal) cost more than the rules themselves. The names the rules read are literals of their
// code (TNome only takes a constant, so its text lives, unchanged, for the whole program):
// TNomesDaNota keeps, per name, what the model answered for it in the current run.
//
// What a run found is never used by another: the model may have been freed or its dictionary
// reloaded in between, so Iniciar starts a run and forgets the earlier answers (the table keeps
// its entries, so later runs allocate nothing). An unknown name raises the model's own error, as
// a direct lookup does, and is not remembered.
//
// Not thread-safe: it belongs to the thread that runs the rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace qor {

class TLeituraCampo;
class TLeituraGrupo;
class TLeituraNota;

// The name of a field or group as a rule's code writes it: a constant, such as a literal.
struct TNome {
  template <std::size_t N>
  consteval TNome(const char (&literal)[N]) : texto(literal) {}
  std::string_view texto;
};

class TNomesDaNota {
 public:
  // Starts a run on `modelo` (nullptr: none), forgetting what earlier runs found.
  void Iniciar(const TLeituraNota* modelo);
  const TLeituraNota* Modelo() const { return modelo_; }

  // The field `nome` (as TLeituraNota::CampoLido finds it).
  TLeituraCampo& Campo(TNome nome) {
    auto& entrada = campos_[nome.texto];
    if (entrada.execucao != execucao_) Resolver(nome.texto, entrada);
    return *entrada.valor;
  }
  // The group `nome` (as TLeituraNota::GrupoLido finds it).
  TLeituraGrupo& Grupo(TNome nome) {
    auto& entrada = grupos_[nome.texto];
    if (entrada.execucao != execucao_) Resolver(nome.texto, entrada);
    return *entrada.valor;
  }

 private:
  template <typename T>
  struct TEntrada {
    std::uint64_t execucao = 0;  // the run whose answer `valor` is; 0 for none
    T valor{};
  };

  // Looks `nome` up in the model for this run.
  void Resolver(std::string_view nome, TEntrada<TLeituraCampo*>& entrada);
  void Resolver(std::string_view nome, TEntrada<TLeituraGrupo*>& entrada);

  const TLeituraNota* modelo_ = nullptr;
  std::uint64_t execucao_ = 0;
  // Keyed by the names' text, which TNome guarantees lives as long as the program.
  std::unordered_map<std::string_view, TEntrada<TLeituraCampo*>> campos_;
  std::unordered_map<std::string_view, TEntrada<TLeituraGrupo*>> grupos_;
};

}  // namespace qor
