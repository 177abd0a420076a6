// The dataset model: the groups of the dataset dictionary and the operations that fill them
// and turn them into XML text.
//
// The dictionary ("NFCeDataSets.xml") declares one group per part of the layout, each with its
// fields in output order and, for a detail group, its master and the fields that link them.
// LoadDicXML builds the groups from it; the record handlers it installs keep empty records out
// of the output (before insert), number each record and link it to its master (after insert),
// and check required fields and enumerations (before post).
//
// Errors are exceptions of the family (base/Exceptions.h) with the messages of the model;
// records stay as they were when an error arose.
//
// Not thread-safe: a model and its groups belong to the thread that created them.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "conversion/XmlDataSet.h"
#include "platform/TStrings.h"
#include "rules/LeituraDaNota.h"

namespace qor {

struct TDicionarioDeclarado;

class TqorXMLDataSetNFCe : public TLeituraNota {
 public:
  TqorXMLDataSetNFCe();
  virtual ~TqorXMLDataSetNFCe();
  TqorXMLDataSetNFCe(const TqorXMLDataSetNFCe&) = delete;
  TqorXMLDataSetNFCe& operator=(const TqorXMLDataSetNFCe&) = delete;

  // ---- dictionary ---------------------------------------------------------------------------
  const std::string& GetXMLDicionario() const { return xmlDicionario_; }
  // Stores the path and, when it is not empty, frees the groups and loads the dictionary.
  virtual void SetXMLDicionario(const std::string& path);
  const std::vector<std::unique_ptr<TXmlDataSetNFCe>>& GetListDataSets() const {
    return listDataSets_;
  }
  bool GetActiveMasterSource() const { return activeMasterSource_; }
  // Links (true) or unlinks (false) every detail group to its master.
  void SetActiveMasterSource(bool active);
  TDataSetState GetState() const { return state_; }
  void SetState(TDataSetState s) { state_ = s; }
  const std::string& GetDiretorioLogErro() const final { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }

  // ---- lookups ------------------------------------------------------------------------------
  // The group named `name` (ignoring case); EqorDataSetException "Parte %s não encontrada."
  // with the upper-cased name when there is none.
  TXmlDataSetNFCe& FindDataSet(std::string_view name) const;
  TXmlDataSetNFCe* FindDataSetOrNull(std::string_view name) const;
  // The field `name` (ignoring case) of the first group, in dictionary order, that declares it;
  // EqorDataSetFieldNotFoundException "Campo %s não encontrado" when none does.
  TXmlFieldNFCe& Campo(std::string_view name) const;
  TXmlFieldNFCe* FindCampo(std::string_view name) const;
  // What the business rules read: Campo and FindDataSet.
  TLeituraCampo& CampoLido(std::string_view name) const final { return Campo(name); }
  TLeituraGrupo& GrupoLido(std::string_view name) const final { return FindDataSet(name); }
  // The record number of `group`: the last one given, plus one when `increment` (stored).
  // Counters start at 0 per group and are never reset for the life of the model.
  int GetHandle(const std::string& group, bool increment);
  // Whether the current record of `group` holds a value in a visible field other than the
  // record number and the master link.
  bool PossuiDadosCampo(const TXmlDataSetNFCe& group) const;

  // ---- records ------------------------------------------------------------------------------
  // Posts (when it holds data) or cancels a pending record of the group, then appends one.
  virtual void IncluirPart(const std::string& group);
  // Posts the group when it is in edit or insert.
  virtual void SalvarPart(const std::string& group);
  // Appends a record to the group.
  virtual void Incluir(TXmlDataSetNFCe& group);

  // ---- XML output ---------------------------------------------------------------------------
  // The output of one field: nothing for an invisible field, for "null" (any case), or for an
  // empty value unless GeraTagVazia; "<n>v</n>" for an element, `n="v"` for an attribute.
  virtual void AppendFieldXML(std::string& out, const TXmlFieldNFCe& field) const;
  std::string ConvertFieldParaXML(const TXmlFieldNFCe& field) const;
  // The field `name` of `group`; nothing when the group does not declare it.
  std::string ConvertFieldParaXML(const TXmlDataSetNFCe& group, std::string_view name) const;
  // group.Value(name) (which raises for a name the group lacks), the name compared first with
  // the group's field names as written.
  const std::string& ValorDe(const TXmlDataSetNFCe& group, std::string_view name) const;
  // The outputs of the named fields of `group`, in the order given.
  std::string ConvertFieldsParaXML(const TXmlDataSetNFCe& group,
                                   std::initializer_list<std::string_view> names) const;
  void AppendFieldsXML(std::string& out, const TXmlDataSetNFCe& group,
                       std::initializer_list<std::string_view> names) const;
  // Every field of the current record in dictionary order, wrapped in the group's TagXML when
  // it has one; empty when no visible field has a value.
  std::string ConvertDataSetParaXML(const TXmlDataSetNFCe& group) const;
  void AppendDataSetXML(std::string& out, const TXmlDataSetNFCe& group) const;
  // The template with each "@G(field)" replaced by that field's output and each "@G(*)" by
  // the whole group G (one-letter group names; letter and field ignore case).
  std::string ParserConverter(const std::string& templateText) const;

 protected:
  // Creates the field object over column `index` of `group`, as `declaracao` declares it (the
  // NFC-e model makes TqorNFCeXMLField).
  virtual std::unique_ptr<TXmlFieldNFCe> CreateXmlField(TXmlDataSetNFCe& group, std::size_t index,
                                                        const TDeclaracaoCampo& declaracao);
  // Frees the groups and loads the dictionary.
  virtual void CreateListDataSets();
  void LoadDicXML();
  // Empties and reopens every group (a pending record is dropped).
  void ClearDataSets();

  virtual void AntesDeSalvar(TXmlDataSetNFCe& group);
  virtual void AntesDeIncluir(TXmlDataSetNFCe& group);
  virtual void DepoisDeIncluir(TXmlDataSetNFCe& group);

 private:
  std::vector<std::unique_ptr<TXmlDataSetNFCe>> listDataSets_;
  // Groups by name: as declared, then ignoring case;
  // and fields by name, the first group declaring a name winning: as declared, then ignoring
  // case for a host that writes it in another case. The indexes belong to the dictionary's
  // declarations, which every model loaded from the same file shares (null before a load).
  std::shared_ptr<const TDicionarioDeclarado> dicionario_;
  mutable TXmlFieldNFCe* ultimoCampo_ = nullptr;  // the last field FindCampo found
  TNameMap<int> handles_;
  std::string xmlDicionario_;
  bool activeMasterSource_ = false;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::string diretorioLogErro_;
};

}  // namespace qor
