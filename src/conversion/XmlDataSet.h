// The groups and fields of the TX2 dataset model.
//
// A group (TXmlDataSetNFCe) is an in-memory table of text fields, one per element or attribute
// of its part of the NF-e layout, declared by the dataset dictionary. A field
// (TXmlFieldNFCe, and TqorNFCeXMLField in the NFC-e model) is a view of one column of its
// group: reading or writing it reads or writes the group's current record.
//
// Field names are the XML name, an underscore and the layout id ("vProd_I11"); the XML name is
// the part before the first underscore.
//
// Values are held as the TX2 parser gives them: already XML-escaped. A value longer than the
// field's size is refused when it is written (EqorDataSetException naming the field, its label,
// its size and its hint); the length counts Unicode code points, an escaped character ("&amp;")
// counting as the one character it stands for. Cutting a fiscal value silently would send a
// different note from the one the shop meant.
//
// Not thread-safe: a group and its fields belong to the model that created them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/MemTable.h"

namespace qor {

class TXmlDataSetNFCe;

class TXmlFieldNFCe {
 public:
  TXmlFieldNFCe(TXmlDataSetNFCe& group, std::size_t index);
  virtual ~TXmlFieldNFCe() = default;
  TXmlFieldNFCe(const TXmlFieldNFCe&) = delete;
  TXmlFieldNFCe& operator=(const TXmlFieldNFCe&) = delete;

  TXmlDataSetNFCe& DataSet() const { return *group_; }
  std::size_t Index() const { return index_; }
  const std::string& FieldName() const;
  // The name up to the first underscore.
  const std::string& XmlName() const { return xmlName_; }
  int Size() const;
  bool Required() const;
  bool Visible() const;
  const std::string& DisplayLabel() const;

  // Value on the group's current record (pending record in edit or insert).
  const std::string& AsString() const;
  // Writes the current record (the group must be in edit or insert). Refuses an over-long value.
  void SetAsString(const std::string& value);

  virtual std::string GetDica() const { return dica_; }
  virtual bool GetGeraTagVazia() const { return geraTagVazia_; }
  virtual std::string GetTagXML() const { return tagXML_; }
  virtual std::string GetTpNode() const { return tpNode_; }
  virtual void SetTpNode(const std::string& v);
  virtual void SetTagXml(const std::string& v) { tagXML_ = v; }
  virtual void SetGeraTagVazia(bool v) { geraTagVazia_ = v; }
  virtual void SetDica(const std::string& v) { dica_ = v; }
  // The allowed values joined by ",".
  virtual std::string GetEnumText() const;
  // Takes the comma-separated list of allowed values; empty admits any value.
  virtual void SetEnum(const std::string& v);
  // A value outside a non-empty Enum list (ignoring case) raises EqorDataSetException
  // "Conteúdo %s é inválido para o campo %s [%s].\r\nDica: %s".
  virtual void ValidarConteudo() const;

  const std::vector<std::string>& Enum() const { return enum_; }
  // Whether the field is written as an element ("elemento"), else as an attribute.
  bool IsElement() const { return isElement_; }
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }

 private:
  TXmlDataSetNFCe* group_;
  std::size_t index_;
  std::string xmlName_;
  std::string tagXML_;
  std::string tpNode_;
  bool isElement_ = false;
  bool geraTagVazia_ = false;
  std::string dica_;
  std::vector<std::string> enum_;
  std::string diretorioLogErro_;
};

// The field class of the NFC-e model: adds the record positions of positional TXT layouts
// ("group=position" entries separated by ",").
class TqorNFCeXMLField : public TXmlFieldNFCe {
 public:
  using TXmlFieldNFCe::TXmlFieldNFCe;
  const std::string& GetRec() const { return rec_; }
  void SetRec(const std::string& v) { rec_ = v; }

 private:
  std::string rec_;
};

// One group: the table, its fields and the master/detail link the dictionary declares.
class TXmlDataSetNFCe : public TqorMemTable {
 public:
  explicit TXmlDataSetNFCe(const std::string& name) : TqorMemTable(name) {}

  // Adds the field object over a table column (inactive only).
  void AddXmlField(std::unique_ptr<TXmlFieldNFCe> field);
  const std::vector<std::unique_ptr<TXmlFieldNFCe>>& Fields() const { return fields_; }
  // The field named `name` (ignoring case), or nullptr. A name written as declared is found
  // without building any text: the conversion looks fields up by name for every element.
  TXmlFieldNFCe* FindXmlField(std::string_view name) const;

  // Wrapping element of whole-group output; set by the conversion before it writes the group.
  const std::string& GetTagXML() const { return tagXML_; }
  void SetTagXML(const std::string& v) { tagXML_ = v; }
  const std::string& GetXMLKeyField() const { return keyField_; }
  void SetXMLKeyField(const std::string& v) { keyField_ = v; }
  const std::string& GetXMLMasterField() const { return masterField_; }
  void SetXMLMasterField(const std::string& v) { masterField_ = v; }
  const std::string& GetXmlMasterSource() const { return masterSource_; }
  void SetXmlMasterSource(const std::string& v) { masterSource_ = v; }

  // Computes the field lists below from the declarations and the link; called once the
  // dictionary has declared the group.
  void Preparar();
  // Index of the "handle" field (-1 when the group has none) and of the link's key field.
  int HandleIndex() const { return handleIndex_; }
  int KeyIndex() const { return keyIndex_; }
  // Visible fields other than "handle" and XMLMasterField: those whose values mean the record
  // holds data.
  const std::vector<TXmlFieldNFCe*>& CamposDeDados() const { return camposDeDados_; }
  // Fields checked before a post: required, or restricted to an enumeration.
  const std::vector<TXmlFieldNFCe*>& CamposVerificados() const { return camposVerificados_; }

  // Whether the table is being changed (edit or insert).
  bool Editing() const {
    return State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert;
  }

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<std::unique_ptr<TXmlFieldNFCe>> fields_;
  std::unordered_map<std::string, TXmlFieldNFCe*, NameHash, std::equal_to<>> byExactName_;
  int handleIndex_ = -1;
  int keyIndex_ = -1;
  std::vector<TXmlFieldNFCe*> camposDeDados_, camposVerificados_;
  std::string tagXML_, keyField_, masterField_, masterSource_;
};

}  // namespace qor
