// The NFC-e note model: the dataset model with the note's record life cycle (note, item and
// part records) and the assembly of one note's XML at each save.
//
// Life cycle. Incluir empties every group and gives each group of the note list a new record;
// IncluirItem gives each group of the item list one (the previous item must have been saved);
// SalvarItem posts the item groups; Salvar posts the note groups, writes the note's XML
// (ConverterAuto) and appends it to LoteNFCe; Cancelar empties every group. Record numbers
// ("handle") keep growing over all notes of one model.
//
// XML. The note is assembled by concatenation, part by part, in the element order of the NF-e
// layout of the class's schema version, from the `infNFe` start tag to the closing
// `infNFeSupl`. Values are written as held (the TX2 parser escaped them). The access key is
// computed from the identification fields and replaces any `Id` and `cDV` the host gave.
//
// The base class writes the legacy access key (dEmi, no tpEmis, nine-digit cNF); no schema
// version selects it. Each version class (TqorNFCeVersoes.h) states the layout level it writes,
// and the parts read that level where the layouts differ.
//
// Not thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "conversion/TqorXMLDataSetNFCe.h"
#include "core/Types.h"
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
  TqorNFCeXMLField& CampoNFCe(const std::string& name) const {
    return static_cast<TqorNFCeXMLField&>(Campo(name));
  }

  // The saved notes, one XML text each, in save order. The model owns its own list; a list set
  // through SetLoteNFCe stays the caller's (nullptr returns to the model's own).
  TStrings& GetLoteNFCe() { return lote_ ? *lote_ : ownLote_; }
  void SetLoteNFCe(TStrings* lote) { lote_ = lote; }

  // The single-letter groups (A..Z) and ICMSUFDest, resolved after loading; nullptr when the
  // dictionary lacks one.
  TXmlDataSetNFCe* Grupo(char letter) const;
  TXmlDataSetNFCe* GetICMSUFDest() const { return icmsUFDest_; }
  const std::vector<TXmlDataSetNFCe*>& ListaNFE() const { return listaNFE_; }
  const std::vector<TXmlDataSetNFCe*>& ListaItemNFCe() const { return listaItem_; }

  // The XML of the current note.
  virtual std::string ConverterAuto();
  // The layout level this class writes.
  virtual TVersaoEsquema Nivel() const { return TVersaoEsquema::pl_006n; }

 protected:
  std::unique_ptr<TXmlFieldNFCe> CreateXmlField(TXmlDataSetNFCe& group,
                                                std::size_t index) override;
  void GetAtributosComplementares(
      TXmlFieldNFCe& field,
      const std::unordered_map<std::string, std::string>& attributes) override;
  void AppendFieldXML(std::string& out, const TXmlFieldNFCe& field) const override;

  // Group lists: names, each class adding to (or replacing) its parent's.
  virtual std::vector<std::string> AddDataSetsListaNFE() const;
  virtual std::vector<std::string> AddDataSetsListaItemNFCe() const;
  void MapeaDataSetsParaPropriedades();

  // The access key of the note in group B's first record (issuer CNPJ from group C), and the
  // width cNF is zero-filled to: the legacy key here (dEmi, no tpEmis, nine digits).
  virtual std::string CalcularChave(const TXmlDataSetNFCe& b, const TXmlDataSetNFCe& c) const;
  virtual std::size_t DigitosCNF() const { return 9; }

  // ---- parts (each returns its fragment; empty means the element is absent) -------------------
  std::string ConvPartA();
  std::string ConvPartB();
  std::string ConvPartRef();
  std::string ConvPartC();
  std::string ConvPartD();
  std::string ConvPartE();
  std::string ConvPartF();
  std::string ConvPartG();
  std::string ConvAutXML();
  std::string ConvPartItens();
  std::string ConvPartI();
  std::string ConvPartDI();
  std::string ConvDetExport();
  std::string ConvPartI80();
  std::string ConvPartJ();
  std::string ConvPartK();
  std::string ConvPartL();
  std::string ConvPartL1();
  std::string ConvPartM();
  std::string ConvPartN();
  std::string ConvPartO();
  std::string ConvPartP();
  std::string ConvPartQ();
  std::string ConvPartR();
  std::string ConvPartS();
  std::string ConvPartT();
  std::string ConvPartU();
  std::string ConvPartICMSUFDest();
  std::string ConvPartV();
  std::string ConvPartW();
  std::string ConvPartX();
  std::string ConvPartY();
  // The payment elements: `pag` per record before layout 4.00, `pag` with `detPag` after.
  std::string ConvPartYA();
  std::string ConvPartYA01();
  std::string ConvPartYB();
  std::string ConvPartZ();
  std::string ConvExporta();
  std::string ConvCana();
  std::string ConvPartZD();
  std::string ConvPartZX();

  // The group, or "Parte %s não encontrada.".
  TXmlDataSetNFCe& Parte(const std::string& name) const { return FindDataSet(name); }
  // Each record of `group`, wrapped in `tag` when it has content.
  std::string CadaRegistro(TXmlDataSetNFCe& group, const std::string& tag,
                           const std::function<std::string()>& content);
  // Posts a pending record that holds data, drops one that does not, so the group can be read
  // record by record.
  void CheckBrowseMode(TXmlDataSetNFCe& group);
  static std::string Envolver(const std::string& tag, const std::string& content);

 private:
  std::vector<TXmlDataSetNFCe*> listaNFE_, listaItem_;
  TXmlDataSetNFCe* letras_[26] = {};
  TXmlDataSetNFCe* icmsUFDest_ = nullptr;
  TStrings ownLote_;
  TStrings* lote_ = nullptr;
  TDataSetState stateItem_ = TDataSetState::dsInactive;
};

}  // namespace qor
