// The note as the business rules read it: fields and groups by their dataset names, the records
// of a group, and the folder the rules' errors are logged to.
//
// The note model implements these interfaces. The model runs the rules when a note is saved, so
// it depends on the rules; declaring here what the rules need of it keeps that dependency one
// way. The rules only read: a run never changes a value, only the group cursors it walks.
//
// A field or group the model hands out lives as long as the model's dictionary: a rule run keeps
// them for the run only (see TNomesDaNota).
#pragma once

#include <string>
#include <string_view>

namespace qor {

class TLeituraCampo {
 public:
  virtual ~TLeituraCampo() = default;
  // The field's text on its group's current record (the pending record while the group is being
  // changed).
  virtual const std::string& Texto() const = 0;
};

class TLeituraGrupo {
 public:
  virtual ~TLeituraGrupo() = default;
  // Whether the group is being changed (a record pending in edit or insert).
  virtual bool EmEdicao() const = 0;
  // Record cursor: a detail group walks the records of its master's current record.
  virtual void Primeiro() = 0;
  virtual bool Fim() const = 0;
  virtual void Proximo() = 0;
  // Whether the current record holds a value in a field other than those that only link records
  // (its number and its master's key); false for a group browsing without records.
  virtual bool PossuiCampoPreenchido() const = 0;
};

class TLeituraNota {
 public:
  virtual ~TLeituraNota() = default;
  // The field `nome`; EqorDataSetFieldNotFoundException "Campo %s não encontrado" when the
  // dictionary declares none, so a misspelt name cannot pass unnoticed.
  virtual TLeituraCampo& CampoLido(std::string_view nome) const = 0;
  // The group `nome`; EqorDataSetException "Parte %s não encontrada." when there is none.
  virtual TLeituraGrupo& GrupoLido(std::string_view nome) const = 0;
  virtual const std::string& GetDiretorioLogErro() const = 0;
};

}  // namespace qor
