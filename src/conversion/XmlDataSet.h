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
// A field may declare the schema's simple type of its element (TiposDoEsquema.h): a value its
// pattern does not match is refused when it is written, as an over-long one is.
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
#include "rules/LeituraDaNota.h"

namespace qor {

class TXmlDataSetNFCe;
class XsdPattern;

// The items of a comma-separated list, blanks trimmed, empty items left out.
std::vector<std::string> SplitList(const std::string& text);

// Outside text (a name or a value the host gave) as the model's messages quote it: as it is when
// it is short, valid UTF-8 and free of control characters but tab (a stray space may be why a name
// was not found), else as QuoteForMessage shortens and cleans it.
std::string Citar(std::string_view text);

// One field declaration of the dictionary, as read once per dictionary file and shared by every
// model loaded from it.
struct TDeclaracaoCampo {
  std::unordered_map<std::string, std::string> atributos;  // every attribute as written
  std::string nome;
  std::string xmlName;  // the name up to its first underscore
  int tamanho = 0;
  bool requerido = false;
  bool visivel = false;
  bool tagVazia = false;
  std::string display, tpNode, dica, tipo;
  bool elemento = false;                // tpNode is "elemento"
  const XsdPattern* padrao = nullptr;   // the compiled pattern of `tipo` (null for none)
  std::vector<std::string> enumeracao;  // "enum" split at its commas, blanks trimmed
  std::string rec;          // record positions of positional TXT layouts ("group=position,...")
  bool donoDoNome = false;  // no group before this one declares the name
};

// One group of the dictionary: its field declarations, the table columns and name indexes made
// from them, and its master link. Shared, like the declarations, by every model loaded from the
// dictionary; immutable once made.
struct TGrupoDeclarado {
  std::string nome;
  std::vector<TDeclaracaoCampo> campos;
  std::shared_ptr<const TqorMemFields> colunas;  // one per declaration, in its order
  TNameMap<std::size_t> indiceExato;             // field name as declared -> index
  std::vector<std::string_view> nomes;           // the field names in order (into `colunas`)
  // The fields named with an underscore, by their XML name (in declaration order).
  TNameMap<std::vector<std::size_t>> porNomeXml;
  std::string masterSource, masterField, keyField;
  // What TXmlDataSetNFCe::Preparar gives the group, by field index.
  std::vector<std::size_t> dados, verificados;
  std::size_t primeiroVisivel = 0;
  bool temTagVazia = false;
};

class TXmlFieldNFCe : public TLeituraCampo {
 public:
  // The field over column `index` of `group`, as `declaracao` declares it. The declaration is
  // shared (the model keeps its dictionary alive); a setter below gives the field its own copy.
  TXmlFieldNFCe(TXmlDataSetNFCe& group, std::size_t index, const TDeclaracaoCampo& declaracao);
  virtual ~TXmlFieldNFCe() = default;
  TXmlFieldNFCe(const TXmlFieldNFCe&) = delete;
  TXmlFieldNFCe& operator=(const TXmlFieldNFCe&) = delete;

  TXmlDataSetNFCe& DataSet() const { return *group_; }
  std::size_t Index() const { return index_; }
  inline const std::string& FieldName() const;
  // The name up to the first underscore.
  const std::string& XmlName() const { return declaracao_->xmlName; }
  int Size() const { return declaracao_->tamanho; }
  bool Required() const { return declaracao_->requerido; }
  bool Visible() const { return declaracao_->visivel; }
  const std::string& DisplayLabel() const;

  // Value on the group's current record (pending record in edit or insert).
  inline const std::string& AsString() const;
  const std::string& Texto() const final { return AsString(); }
  // Writes the current record (the group must be in edit or insert). Refuses an over-long value,
  // and one its type's pattern does not match ("9,00", "abc", "9e0" for a decimal) with
  // ValidarConteudo's exception; empty and "null" (an absent element) are not checked.
  void SetAsString(std::string value);

  virtual std::string GetDica() const { return declaracao_->dica; }
  virtual bool GetGeraTagVazia() const { return declaracao_->tagVazia; }
  virtual std::string GetTagXML() const { return tagXML_; }
  virtual std::string GetTpNode() const { return declaracao_->tpNode; }
  virtual void SetTpNode(const std::string& v);
  virtual void SetTagXml(const std::string& v) { tagXML_ = v; }
  virtual void SetGeraTagVazia(bool v) { Propria().tagVazia = v; }
  virtual void SetDica(const std::string& v) { Propria().dica = v; }
  // The allowed values joined by ",".
  virtual std::string GetEnumText() const;
  // Takes the comma-separated list of allowed values; empty admits any value.
  virtual void SetEnum(const std::string& v);
  // Takes the allowed values already split.
  void SetEnum(const std::vector<std::string>& valores) { Propria().enumeracao = valores; }
  // The schema's simple type the field's values belong to ("TDec_1302"; empty for none) and its
  // compiled pattern (null for none). SetTipo returns false for a type TiposDoEsquema lacks.
  const std::string& GetTipo() const { return declaracao_->tipo; }
  const XsdPattern* Padrao() const { return declaracao_->padrao; }
  bool SetTipo(const std::string& tipo);
  // A value outside a non-empty Enum list (ignoring case) raises EqorDataSetException
  // "Conteúdo %s é inválido para o campo %s [%s].\r\nDica: %s".
  virtual void ValidarConteudo() const;
  // Raises that exception for `value` (quoted as messages quote outside text).
  [[noreturn]] void RecusarConteudo(const std::string& value) const;

  const std::vector<std::string>& Enum() const { return declaracao_->enumeracao; }
  // Whether the field is written as an element ("elemento"), else as an attribute.
  bool IsElement() const { return declaracao_->elemento; }
  // The error log folder of the field's model (its group's).
  const std::string& GetDiretorioLogErro() const;
  // Whether the model's lookup by this exact name finds this field (no group before its own
  // declares the name).
  bool DonoDoNome() const { return declaracao_->donoDoNome; }

 protected:
  const TDeclaracaoCampo& Declaracao() const { return *declaracao_; }
  // The field's own declaration, copied from the shared one on its first change. Size,
  // required and visibility belong to the table column and are not changed here.
  TDeclaracaoCampo& Propria();

 private:
  TXmlDataSetNFCe* group_;
  std::size_t index_;
  const TDeclaracaoCampo* declaracao_;         // the shared one, or propria_
  std::unique_ptr<TDeclaracaoCampo> propria_;  // null until a setter changes the field
  std::string tagXML_;
};

// The field class of the NFC-e model: adds the record positions of positional TXT layouts
// ("group=position" entries separated by ",").
class TqorNFCeXMLField : public TXmlFieldNFCe {
 public:
  using TXmlFieldNFCe::TXmlFieldNFCe;
  const std::string& GetRec() const { return Declaracao().rec; }
  void SetRec(const std::string& v) { Propria().rec = v; }
};

// One group: the table, its fields and the master/detail link the dictionary declares.
class TXmlDataSetNFCe : public TqorMemTable, public TLeituraGrupo {
 public:
  // The group `declarado` declares, its columns shared with every group made from it (which
  // must outlive the group: the model keeps its dictionary). Fields are added next, one per
  // declaration in its order.
  explicit TXmlDataSetNFCe(const TGrupoDeclarado& declarado);

  const TGrupoDeclarado& Declarado() const { return *declarado_; }
  // Adds the field object over the next column (inactive only).
  void AddXmlField(std::unique_ptr<TXmlFieldNFCe> field);
  // The error log folder of the group's fields.
  const std::string& GetDiretorioLogErro() const { return *diretorioLogErro_; }
  // `v` must outlive the group (the model's own).
  void UsarDiretorioLogErro(const std::string* v) { diretorioLogErro_ = v; }
  const std::vector<std::unique_ptr<TXmlFieldNFCe>>& Fields() const { return fields_; }
  // The field named `name` (ignoring case), or nullptr. A name written as declared is found
  // without building any text: the conversion looks fields up by name for every element.
  TXmlFieldNFCe* FindXmlField(std::string_view name) const;
  // The same, for the conversion, which names fields mostly in dictionary order: the names are
  // compared from the field after the last one it found on (then from the first), and a name
  // written in another case, or not declared, is looked up as above.
  TXmlFieldNFCe* FindXmlFieldNaOrdem(std::string_view name) const;
  // Index of the field named exactly `name` at index `from` or after; -1 when none.
  int IndiceDoNome(std::string_view name, std::size_t from) const {
    const std::vector<std::string_view>& nomes = declarado_->nomes;
    for (std::size_t i = from; i < nomes.size(); ++i) {
      // Length and last character first: names of a group mostly differ there.
      const std::string_view nome = nomes[i];
      if (nome.size() == name.size() && nome.back() == name.back() && nome == name) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // Wrapping element of whole-group output; set by the conversion before it writes the group.
  const std::string& GetTagXML() const { return tagXML_; }
  void SetTagXML(const std::string& v) { tagXML_ = v; }
  const std::string& GetXMLKeyField() const { return keyField_; }
  void SetXMLKeyField(const std::string& v) { keyField_ = v; }
  const std::string& GetXMLMasterField() const { return masterField_; }
  void SetXMLMasterField(const std::string& v) { masterField_ = v; }
  const std::string& GetXmlMasterSource() const { return masterSource_; }
  void SetXmlMasterSource(const std::string& v) { masterSource_ = v; }

  // Takes the field lists below from the group's declaration; called once its fields are added.
  void Preparar();
  // Index of the "handle" field (-1 when the group has none) and of the link's key field.
  int HandleIndex() const { return handleIndex_; }
  int KeyIndex() const { return keyIndex_; }
  // The group XmlMasterSource names and the index of XMLMasterField in it, resolved once the
  // whole dictionary is loaded (nullptr and -1 for a group without a master).
  void SetXmlMaster(TXmlDataSetNFCe* master) {
    xmlMaster_ = master;
    masterFieldIndex_ = master ? master->FindField(masterField_) : -1;
  }
  TXmlDataSetNFCe* XmlMaster() const { return xmlMaster_; }
  int MasterFieldIndex() const { return masterFieldIndex_; }
  // The model's record counter of this group (its "handle" numbers), set when it is loaded.
  void SetContadorHandle(int* contador) { contadorHandle_ = contador; }
  int* ContadorHandle() const { return contadorHandle_; }
  // Visible fields other than "handle" and XMLMasterField: those whose values mean the record
  // holds data.
  const std::vector<TXmlFieldNFCe*>& CamposDeDados() const { return camposDeDados_; }
  // Fields checked before a post: required, restricted to an enumeration, or of a schema type.
  const std::vector<TXmlFieldNFCe*>& CamposVerificados() const { return camposVerificados_; }
  // Whether no visible field has a value on the current record (the fields before the first
  // visible one are not visible).
  bool SemValoresVisiveis() const { return EmptyFrom(primeiroVisivel_); }
  // Whether no field of the current record would be written: none visible has a value and none
  // writes an empty element.
  bool NadaAEscrever() const { return !temTagVazia_ && SemValoresVisiveis(); }

  // Whether the table is being changed (edit or insert).
  bool Editing() const {
    return State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert;
  }

  // What the business rules read of the group.
  bool EmEdicao() const final { return Editing(); }
  void Primeiro() final { First(); }
  bool Fim() const final { return Eof(); }
  void Proximo() final { Next(); }
  bool PossuiCampoPreenchido() const final;

 private:
  const TGrupoDeclarado* declarado_;
  const std::string* diretorioLogErro_;
  std::vector<std::unique_ptr<TXmlFieldNFCe>> fields_;
  int handleIndex_ = -1;
  int keyIndex_ = -1;
  TXmlDataSetNFCe* xmlMaster_ = nullptr;
  int masterFieldIndex_ = -1;
  int* contadorHandle_ = nullptr;
  std::vector<TXmlFieldNFCe*> camposDeDados_, camposVerificados_;
  std::size_t primeiroVisivel_ = 0;  // index of the first visible field
  bool temTagVazia_ = false;         // whether a field writes an empty element
  mutable std::size_t proximo_ = 0;  // where FindXmlFieldNaOrdem looks first
  std::string tagXML_, keyField_, masterField_, masterSource_;
};

inline const std::string& TXmlFieldNFCe::AsString() const { return group_->Value(index_); }
inline const std::string& TXmlFieldNFCe::FieldName() const { return group_->Field(index_).name; }

}  // namespace qor
