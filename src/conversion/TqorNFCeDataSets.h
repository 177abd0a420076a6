// TqorNFCeDataSets: the host-facing container of the note model. It owns one model of the
// class its schema version selects (Tqor_pl009g_NFCe until told otherwise) and forwards the
// note life cycle to it; a host fills notes field by field through Campo and the life-cycle
// operations, and collects the notes' XML from LoteNFCe.
//
// Changing the schema version discards the model with its groups and its batch; the
// dictionary path is then applied again to the new model.
//
// Not thread-safe: a container belongs to the thread that created it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Relogio.h"
#include "base/Types.h"
#include "conversion/TqorNFCeCustomDataSet.h"
#include "rules/TqorControllerRulesNFCe.h"

namespace qor {

class TqorNFCeDataSets {
 public:
  TqorNFCeDataSets();
  virtual ~TqorNFCeDataSets();
  TqorNFCeDataSets(const TqorNFCeDataSets&) = delete;
  TqorNFCeDataSets& operator=(const TqorNFCeDataSets&) = delete;

  TVersaoEsquema GetVersaoEsquema() const { return versaoEsquema_; }
  // Replaces the model by one of the version's class; a version without a class raises
  // EqorNFCeVersaoEsquemaInvalidaException.
  virtual void SetVersaoEsquema(TVersaoEsquema versao);
  const std::string& GetXMLDicionario() const { return xmlDicionario_; }
  // A fresh model of the current version, then the dictionary loaded into it.
  void SetXMLDicionario(const std::string& path);
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v);
  const std::string& GetExcecoesDeRegras() const { return excecoesDeRegras_; }
  void SetExcecoesDeRegras(const std::string& v) { excecoesDeRegras_ = v; }
  // Whether Salvar checks each saved note against the business rules of its schema package
  // (both off until set; the two switches run the same rules).
  bool GetValidaRegrasNegocio() const { return validaRegrasNegocio_; }
  void SetValidaRegrasNegocio(bool v) { validaRegrasNegocio_ = v; }
  bool GetValidaRegrasNegocioMarqon() const { return validaRegrasNegocioMarqon_; }
  void SetValidaRegrasNegocioMarqon(bool v) { validaRegrasNegocioMarqon_ = v; }

  // The present the rules that read the clock compare with (the system clock until set).
  void SetRelogio(TRelogio relogio) { relogio_ = std::move(relogio); }

  // Runs the rule set of the schema package on the current note, with ExcecoesDeRegras; the
  // first failing rule raises EqorNFCeRuleException. The kind does not change what runs.
  virtual void AplicarRegrasDeNegocio(TTipoRegraKind kind);

  virtual void Incluir() { modelo_->Incluir(); }
  // Saves the note (its XML joins LoteNFCe), then applies the rules the switches ask for.
  virtual void Salvar();
  void Cancelar() { modelo_->Cancelar(); }
  void IncluirItem() { modelo_->IncluirItem(); }
  void SalvarItem() { modelo_->SalvarItem(); }
  void IncluirCobranca() { modelo_->IncluirCobranca(); }
  void SalvarCobranca() { modelo_->SalvarCobranca(); }
  void IncluirPart(const std::string& group) { modelo_->IncluirPart(group); }
  void SalvarPart(const std::string& group) { modelo_->SalvarPart(group); }

  // The field `name` in any group ("Campo %s não encontrado" when none declares it).
  TqorNFCeXMLField& Campo(std::string_view name) const { return modelo_->CampoNFCe(name); }
  // The field whose record positions hold "group=position" (positional TXT layouts).
  TqorNFCeXMLField& Campo(const std::string& group, const std::string& position) const;
  TXmlDataSetNFCe& FindDataSet(const std::string& name) const { return modelo_->FindDataSet(name); }
  // The single-letter groups, YA, YA01 and ICMSUFDest; nullptr without a dictionary.
  TXmlDataSetNFCe* GetGrupo(const std::string& name) const;

  // The current note as TX2 text, one command or "name=value" per line (LF): INCLUIR; the
  // fields of each group that hold a value, unescaped as a host writes them; the items between
  // INCLUIRITEM and SALVARITEM; the records of repeated groups between INCLUIRPARTE=G and
  // SALVARPARTE=G (installments between INCLUIRCOBRANCA and SALVARCOBRANCA), each detail under
  // its master's record; SALVAR. The fields that number and link records are not written, and
  // the QR code goes without its CDATA wrapper. The TX2 parser reads the text back into the same
  // groups. A value holding a line break, which a TX2 line cannot carry, raises
  // EqorNFCeDataSetsException naming the field. A pending record is posted first when it holds
  // data, dropped when it does not.
  std::string GerarTX2();

  TStrings& GetLoteNFCe() { return modelo_->GetLoteNFCe(); }
  void SetLoteNFCe(TStrings* lote) { modelo_->SetLoteNFCe(lote); }
  void LimparLote() { modelo_->LimparLote(); }
  const std::vector<std::unique_ptr<TXmlDataSetNFCe>>& GetListDataSets() const {
    return modelo_->GetListDataSets();
  }
  TDataSetState GetState() const { return modelo_->GetState(); }
  TDataSetState GetStateItem() const { return modelo_->GetStateItem(); }
  TqorNFCeCustomDataSet& Modelo() const { return *modelo_; }

 private:
  std::unique_ptr<TqorNFCeCustomDataSet> modelo_;
  // Keeps the rule objects of each set it ran for the container's life.
  TqorControllerRulesNFCe regras_;
  TVersaoEsquema versaoEsquema_ = TVersaoEsquema::pl_009g;
  std::string xmlDicionario_;
  std::string diretorioLogErro_;
  std::string excecoesDeRegras_;
  bool validaRegrasNegocio_ = false;
  bool validaRegrasNegocioMarqon_ = false;
  TRelogio relogio_;
};

}  // namespace qor
