// The NFC-e note model: the dataset model with the note's record life cycle (note, item and
// part records) and the assembly of one note's XML at each save.
//
// Life cycle. Incluir empties every group and gives each group of the note list a new record;
// IncluirItem gives each group of the item list one (the previous item must have been saved);
// SalvarItem posts the item groups; Salvar posts the note groups, writes the note's XML
// (ConverterAuto) and appends it to LoteNFCe; Cancelar empties every group. Record numbers
// ("handle") keep growing over all notes of one model.
//
// XML. The note is assembled in one text, each part appending to it in the element order of the
// NF-e layout of the class's schema version, from the `infNFe` start tag to the closing
// `infNFeSupl`. Values are written as held (the TX2 parser escaped them). The access key is
// computed from the identification fields and replaces any `Id` and `cDV` the host gave.
//
// The base class writes the legacy access key (dEmi, no tpEmis, nine-digit cNF); no schema
// version selects it. Each version class (TqorNFCeVersoes.h) states the layout level it writes,
// and the parts read that level where the layouts differ.
//
// Not thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Types.h"
#include "conversion/TqorXMLDataSetNFCe.h"
#include "platform/TStrings.h"

namespace qor {

class TqorNFCeCustomDataSet : public TqorXMLDataSetNFCe {
 public:
  TqorNFCeCustomDataSet();
  ~TqorNFCeCustomDataSet() override;

  // Loads the dictionary and resolves the group lists (a list name the dictionary lacks raises
  // "Parte %s não encontrada.").
  void SetXMLDicionario(const std::string& path) override;

  // ---- note life cycle ----------------------------------------------------------------------
  void Incluir();
  void IncluirItem();
  void SalvarItem();
  void IncluirCobranca() { IncluirPart("DUP"); }
  void SalvarCobranca() { SalvarPart("DUP"); }
  void Salvar();
  void Cancelar();
  // An empty dictionary path raises EqorNFCeDataSetConfigException.
  void CheckParams() const;
  using TqorXMLDataSetNFCe::Incluir;

  TDataSetState GetStateItem() const { return stateItem_; }
  // Campo with the field class of this model (every field of it is a TqorNFCeXMLField).
  TqorNFCeXMLField& CampoNFCe(std::string_view name) const {
    return static_cast<TqorNFCeXMLField&>(Campo(name));
  }

  // The saved notes, one XML text each, in save order. The model owns its own list; a list set
  // through SetLoteNFCe stays the caller's (nullptr returns to the model's own).
  TStrings& GetLoteNFCe() { return lote_ ? *lote_ : ownLote_; }
  void SetLoteNFCe(TStrings* lote) { lote_ = lote; }
  // Empties LoteNFCe for a new text. The last note's buffer is kept for the next note, so a
  // component converting note after note does not hand its largest block back to the system
  // and fault it in again on every call.
  void LimparLote();

  // The single-letter groups (A..Z) and ICMSUFDest, resolved after loading; nullptr when the
  // dictionary lacks one.
  TXmlDataSetNFCe* Grupo(char letter) const {
    return letter >= 'A' && letter <= 'Z' ? letras_[letter - 'A'] : nullptr;
  }
  TXmlDataSetNFCe* GetICMSUFDest() const { return icmsUFDest_; }
  const std::vector<TXmlDataSetNFCe*>& ListaNFE() const { return listaNFE_; }
  const std::vector<TXmlDataSetNFCe*>& ListaItemNFCe() const { return listaItem_; }

  // The XML of the current note.
  virtual std::string ConverterAuto();
  // The layout level this class writes.
  virtual TVersaoEsquema Nivel() const { return TVersaoEsquema::pl_006n; }

 protected:
  std::unique_ptr<TXmlFieldNFCe> CreateXmlField(TXmlDataSetNFCe& group, std::size_t index,
                                                const TDeclaracaoCampo& declaracao) override;

  // Group lists: names, each class adding to (or replacing) its parent's.
  virtual std::vector<std::string> AddDataSetsListaNFE() const;
  virtual std::vector<std::string> AddDataSetsListaItemNFCe() const;
  void MapeaDataSetsParaPropriedades();

  // The access key of the note in group B's first record (issuer CNPJ from group C), and the
  // width cNF is zero-filled to: the legacy key here (dEmi, no tpEmis, nine digits).
  virtual std::string CalcularChave(const TXmlDataSetNFCe& b, const TXmlDataSetNFCe& c) const;
  virtual std::size_t DigitosCNF() const { return 9; }
  // Raises the field's invalid-content exception for the first field of the key, in group B or
  // C, whose value holds what is not a digit where the key takes digits.
  void RecusarCampoDaChave(const TXmlDataSetNFCe& b, const TXmlDataSetNFCe& c) const;

  // ---- parts (each appends its fragment to `out`; nothing when the element is absent) ------
  void ConvPartA(std::string& out);
  void ConvPartB(std::string& out);
  void ConvPartRef(std::string& out);
  void ConvPartC(std::string& out);
  void ConvPartD(std::string& out);
  void ConvPartE(std::string& out);
  void ConvPartF(std::string& out);
  void ConvPartG(std::string& out);
  void ConvAutXML(std::string& out);
  void ConvPartItens(std::string& out);
  void ConvPartI(std::string& out);
  void ConvPartDI(std::string& out);
  void ConvDetExport(std::string& out);
  void ConvPartI80(std::string& out);
  void ConvPartJ(std::string& out);
  void ConvPartK(std::string& out);
  void ConvPartL(std::string& out);
  void ConvPartL1(std::string& out);
  void ConvPartM(std::string& out);
  void ConvPartN(std::string& out);
  void ConvPartO(std::string& out);
  void ConvPartP(std::string& out);
  void ConvPartQ(std::string& out);
  void ConvPartR(std::string& out);
  void ConvPartS(std::string& out);
  void ConvPartT(std::string& out);
  void ConvPartU(std::string& out);
  void ConvPartICMSUFDest(std::string& out);
  void ConvPartV(std::string& out);
  void ConvPartW(std::string& out);
  void ConvPartX(std::string& out);
  void ConvPartY(std::string& out);
  // The payment elements: `pag` per record before layout 4.00, `pag` with `detPag` after.
  void ConvPartYA(std::string& out);
  void ConvPartYA01(std::string& out);
  void ConvPartYB(std::string& out);
  void ConvPartZ(std::string& out);
  void ConvExporta(std::string& out);
  void ConvCana(std::string& out);
  void ConvPartZD(std::string& out);
  void ConvPartZX(std::string& out);

  // The group, or "Parte %s não encontrada." (a one-letter name from the groups resolved at
  // load).
  TXmlDataSetNFCe& Parte(std::string_view name) const {
    if (name.size() == 1) {
      if (TXmlDataSetNFCe* group = Grupo(name[0])) return *group;
    }
    return FindDataSet(name);
  }
  // Appends `<tag>`, what `content` appends and `</tag>`; nothing when `content` appends
  // nothing.
  template <typename Content>
  static void Envolver(std::string& out, std::string_view tag, Content&& content) {
    const std::size_t start = out.size();
    out += '<';
    out += tag;
    out += '>';
    const std::size_t body = out.size();
    content();
    if (out.size() == body) {
      out.resize(start);
      return;
    }
    out += "</";
    out += tag;
    out += '>';
  }
  // Each record of `group`, what `content` appends for it wrapped in `tag` (Envolver).
  template <typename Content>
  void CadaRegistro(std::string& out, TXmlDataSetNFCe& group, std::string_view tag,
                    Content&& content) {
    CheckBrowseMode(group);
    for (group.First(); !group.Eof(); group.Next()) Envolver(out, tag, content);
  }
  // Posts a pending record that holds data, drops one that does not, so the group can be read
  // record by record.
  void CheckBrowseMode(TXmlDataSetNFCe& group);

 private:
  std::vector<TXmlDataSetNFCe*> listaNFE_, listaItem_;
  TXmlDataSetNFCe* letras_[26] = {};
  TXmlDataSetNFCe* icmsUFDest_ = nullptr;
  TStrings ownLote_;
  TStrings* lote_ = nullptr;
  TDataSetState stateItem_ = TDataSetState::dsInactive;
  std::size_t tamanhoUltimaNota_ = 0;  // length of the last note written
  std::string rascunho_;               // buffer the next note is written into
};

}  // namespace qor
