// The business rules of the tax authority, checked locally on a note's dataset before it is
// sent, so the issuer gets the rejection here instead of from the web service.
//
// TqorRule is the root (enabled flag and the note's dataset); TqorNFCeRule carries what a
// failure reports (code, field, cStat, message, manual version) and the reading helpers every
// rule uses; TqorNFCeTemplateItem walks the items and asks ExpressaoDeValidacao of each;
// TqorNFCeTotalDosItens compares a total with the sum of an item field. Consecutive rules of one
// of these two kinds run together in one walk of the items, reporting what running them one
// after the other would (the same first failing rule, message and item): walking the items once
// per rule, with every detail group of an item brought up again for each rule, was most of the
// cost of a run.
//
// Rules read fields by their dataset names, written as literals (TNome); a name the dictionary
// does not declare raises the dataset's own error ("Campo %s não encontrado"), so a misspelt
// name cannot pass unnoticed. A field of a group the note did not fill reads as empty. Under a
// controller the rules of a run share a TNomesDaNota, so a name is looked up in the model once
// per run, not at every read. Rules only read the note: it does not change during a run.
//
// Numbers are read as the XML writes them (a point as decimal separator), whatever the locale
// of the process. Dates and times are read as the XML writes them ("AAAA-MM-DDThh:mm:ss-03:00").
//
// The rules that compare a note's dates with the present read the time from the rule's clock
// (SetRelogio), the system clock unless one was given, so a test can fix the present.
//
// Not thread-safe: a rule runs on the thread of its controller.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Relogio.h"
#include "base/Types.h"
#include "rules/LeituraDaNota.h"
#include "rules/NomesDaNota.h"

namespace qor {

// A date-time of the note: the instant and the offset it was written with.
struct TDataHoraNota {
  std::chrono::sys_seconds instante;
  std::chrono::minutes offset{0};
  // The wall-clock time at the writer's offset, as a count from the epoch.
  std::chrono::sys_seconds Local() const { return instante + offset; }
};

class TqorRule {
 public:
  TqorRule() = default;
  virtual ~TqorRule() = default;
  TqorRule(const TqorRule&) = delete;
  TqorRule& operator=(const TqorRule&) = delete;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  const TLeituraNota* GetDataSet() const { return dataSet_; }
  void SetDataSet(const TLeituraNota* v) { dataSet_ = v; }

  virtual void execute() = 0;

 private:
  bool enabled_ = true;
  const TLeituraNota* dataSet_ = nullptr;
};

class TqorNFCeRule : public TqorRule {
 public:
  TqorNFCeRule(std::string codigo, std::string campo, std::string cStat, std::string mensagem,
               TVersaoManual versao = TVersaoManual::vm50);

  const std::string& GetCodigo() const { return codigo_; }
  const std::string& GetCampo() const { return campo_; }
  const std::string& GetcStat() const { return cStat_; }
  const std::string& GetMensagem() const { return mensagem_; }
  TVersaoManual GetVersaoManual() const { return versaoManual_; }
  // An empty clock means the system clock.
  void SetRelogio(TRelogio relogio) { relogio_ = std::move(relogio); }
  // The names resolved for the run (nullptr: every read looks the name up in the model). Used
  // only while they were resolved in the rule's dataset.
  void SetNomes(TNomesDaNota* nomes) { nomes_ = nomes; }

  // Only checks that a dataset is set.
  void execute() override { CheckDataSet(); }

  // Runs consecutive rules of one kind, all on one dataset, reporting what running them one
  // after the other would. Rules that walk the items share one walk (see
  // TqorNFCeTemplateItem::ExecutarEmSequencia).
  using TExecucaoConjunta = void (*)(std::span<TqorNFCeRule* const> regras);
  // How the rules of this kind run together; nullptr for a rule that runs alone.
  virtual TExecucaoConjunta ExecucaoConjunta() const { return nullptr; }

 protected:
  // EqorNFCeRuleException "DataSet não configurado para validação da NFCe." without a dataset.
  void CheckDataSet() const {
    if (!GetDataSet()) SemDataSet();
  }
  // Raises EqorNFCeRuleException "[codigo]: cStat - mensagem.\r\nVerifique o Campo: campo".
  [[noreturn]] void FalharValidacao() const;

  // The text of a field of the note (the current record of its group).
  const std::string& Valor(TNome campo) const { return CampoDaNota(campo).Texto(); }
  bool CampoVazio(TNome campo) const { return Valor(campo).empty(); }
  // The note's model is 65.
  bool IsNFCe() const { return Valor("mod_B06") == "65"; }
  // The group's current record holds a value in a field other than its record links.
  bool PossuiCampoPreenchido(TNome grupo) const { return Grupo(grupo).PossuiCampoPreenchido(); }
  // CPF_E03 or else CNPJ_E02 filled and not "NULL".
  bool isDestinatarioInformado() const;
  bool isEnderecoDestinatarioInformado() const { return !CampoVazio("xLgr_E06"); }
  // A decimal as the XML writes it ("1234.56"); empty is 0. Another text raises
  // EqorNFCeRuleException naming it.
  double GetExtend(const std::string& texto) const;
  double Numero(TNome campo) const { return GetExtend(Valor(campo)); }
  TLeituraGrupo& Grupo(TNome nome) const {
    const TLeituraNota& modelo = Modelo();
    if (nomes_ && nomes_->Modelo() == &modelo) return nomes_->Grupo(nome);
    return modelo.GrupoLido(nome.texto);
  }
  const TLeituraNota& Modelo() const {
    CheckDataSet();
    return *GetDataSet();
  }

  // Some of the fields is filled.
  bool AlgumPreenchido(std::initializer_list<TNome> campos) const;
  // The field's text is one of `valores`.
  bool Entre(TNome campo, std::initializer_list<std::string_view> valores) const;
  // Calls `f` on every record of the group (on the pending one alone while the group is being
  // changed) until it returns true; whether it did. A detail group walks the records of the
  // current record of its master. The group's cursor is left where the walk stopped.
  template <typename F>
  bool AlgumRegistro(TNome grupo, F&& f) const {
    TLeituraGrupo& g = Grupo(grupo);
    if (g.EmEdicao()) return f();
    for (g.Primeiro(); !g.Fim(); g.Proximo()) {
      if (f()) return true;
    }
    return false;
  }
  // Some record of the group holds data.
  bool GrupoInformado(TNome grupo) const {
    return AlgumRegistro(grupo, [&] { return PossuiCampoPreenchido(grupo); });
  }
  // Sum of the field over the records of a group that is not an item detail (payments).
  long double SomaRegistros(TNome grupo, TNome campo) const;
  // CompareComTolerancia over decimal amounts read in binary floating point: the margin added to
  // `tolerancia` (a millionth) only absorbs binary rounding, so a difference of exactly the
  // tolerance is accepted and a tolerance of 0 means "equal to the cent".
  static bool DentroDaTolerancia(long double valor, long double referencia, long double tolerancia);
  // A date-time "AAAA-MM-DDThh:mm:ss" followed by an offset "-hh:mm"/"+hh:mm" (none reads as
  // -03:00); nothing for an empty text. Another text raises EqorNFCeRuleException naming it.
  std::optional<TDataHoraNota> DataHora(TNome campo) const;
  // The present instant, from the clock given or the system clock.
  std::chrono::system_clock::time_point Agora() const;

 private:
  [[noreturn]] static void SemDataSet();
  // Through the run's names when they were resolved in this rule's dataset.
  TLeituraCampo& CampoDaNota(TNome nome) const {
    const TLeituraNota& modelo = Modelo();
    if (nomes_ && nomes_->Modelo() == &modelo) return nomes_->Campo(nome);
    return modelo.CampoLido(nome.texto);
  }

  std::string codigo_, campo_, cStat_, mensagem_;
  TVersaoManual versaoManual_;
  TRelogio relogio_;
  TNomesDaNota* nomes_ = nullptr;
};

// A rule checked on every item: the first item for which ExpressaoDeValidacao is false fails.
class TqorNFCeTemplateItem : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() final;
  TExecucaoConjunta ExecucaoConjunta() const final { return &ExecutarEmSequencia; }

  // Runs item rules of one dataset as running them one after the other would: the first rule
  // that fails some item raises (its validation failure, or what it raised), with H left on the
  // first item it fails. The items are walked once, not once per rule: each item is asked of
  // every rule that can still be the first to fail, so the detail groups of an item are brought
  // up once for all the rules instead of once for each.
  static void ExecutarEmSequencia(std::span<TqorNFCeRule* const> regras);

 protected:
  // True when the current item (groups H, I and their details) is valid.
  virtual bool ExpressaoDeValidacao() = 0;
  TLeituraGrupo* ItensDataSet() const { return itens_; }

 private:
  TLeituraGrupo* itens_ = nullptr;
};

// A total of the note against the sum of an item field over the items Somar takes: outside
// DentroDaTolerancia the rule fails. The total is read before the items are summed. While H is
// being changed, its pending record is the only item.
class TqorNFCeTotalDosItens : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() final;
  TExecucaoConjunta ExecucaoConjunta() const final { return &ExecutarEmSequencia; }

  // Runs total rules of one dataset as running them one after the other would (the first
  // whose total cannot be read, whose sum cannot be made or whose sum is outside the tolerance
  // raises, H left where that rule would leave it), summing all of them in one walk of the
  // items.
  static void ExecutarEmSequencia(std::span<TqorNFCeRule* const> regras);

 protected:
  virtual TNome CampoDoItem() const = 0;
  virtual TNome CampoDoTotal() const = 0;
  virtual long double Tolerancia() const = 0;
  // Whether the current item enters the sum.
  virtual bool Somar() { return true; }

 private:
  double total_ = 0;
  long double soma_ = 0;
};

}  // namespace qor
