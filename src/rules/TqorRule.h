// The business rules of the tax authority, checked locally on a note's dataset before it is
// sent, so the issuer gets the rejection here instead of from the web service.
//
// TqorRule is the root (enabled flag and the note's dataset); TqorNFCeRule carries what a
// failure reports (code, field, cStat, message, manual version) and the reading helpers every
// rule uses; TqorNFCeTemplateItem walks the items and asks ExpressaoDeValidacao of each.
//
// Rules read fields by their dataset names; a name the dictionary does not declare raises the
// dataset's own error ("Campo %s não encontrado"), so a misspelt name cannot pass unnoticed.
// A field of a group the note did not fill reads as empty.
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
#include <string>
#include <string_view>

#include "core/Types.h"

namespace qor {

class TqorXMLDataSetNFCe;
class TXmlDataSetNFCe;

// The source of the present instant.
using TRelogio = std::function<std::chrono::system_clock::time_point()>;

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
  TqorXMLDataSetNFCe* GetDataSet() const { return dataSet_; }
  void SetDataSet(TqorXMLDataSetNFCe* v) { dataSet_ = v; }

  virtual void execute() = 0;

 private:
  bool enabled_ = true;
  TqorXMLDataSetNFCe* dataSet_ = nullptr;
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

  // Only checks that a dataset is set.
  void execute() override { CheckDataSet(); }

 protected:
  // EqorNFCeRuleException "DataSet não configurado para validação da NFCe." without a dataset.
  void CheckDataSet() const;
  // Raises EqorNFCeRuleException "[codigo]: cStat - mensagem.\r\nVerifique o Campo: campo".
  [[noreturn]] void FalharValidacao() const;

  // The text of a field of the note (the current record of its group).
  const std::string& Valor(const std::string& campo) const;
  bool CampoVazio(const std::string& campo) const { return Valor(campo).empty(); }
  // The note's model is 65.
  bool IsNFCe() const { return Valor("mod_B06") == "65"; }
  // The group's current record holds a value in a field other than its record links.
  bool PossuiCampoPreenchido(const std::string& grupo) const;
  // CPF_E03 or else CNPJ_E02 filled and not "NULL".
  bool isDestinatarioInformado() const;
  bool isEnderecoDestinatarioInformado() const { return !CampoVazio("xLgr_E06"); }
  // A decimal as the XML writes it ("1234.56"); empty is 0. Another text raises
  // EqorNFCeRuleException naming it.
  double GetExtend(const std::string& texto) const;
  double Numero(const std::string& campo) const { return GetExtend(Valor(campo)); }
  TXmlDataSetNFCe& Grupo(const std::string& nome) const;
  TqorXMLDataSetNFCe& Modelo() const;

  // Some of the fields is filled.
  bool AlgumPreenchido(std::initializer_list<std::string_view> campos) const;
  // The field's text is one of `valores`.
  bool Entre(const std::string& campo, std::initializer_list<std::string_view> valores) const;
  // Calls `f` on every record of the group (on the pending one alone while the group is being
  // changed) until it returns true; whether it did. A detail group walks the records of the
  // current record of its master. The group's cursor is left where the walk stopped.
  template <typename F>
  bool AlgumRegistro(const std::string& grupo, F&& f) const {
    TXmlDataSetNFCe& g = Grupo(grupo);
    if (EmEdicao(g)) return f();
    for (Primeiro(g); !Fim(g); Proximo(g)) {
      if (f()) return true;
    }
    return false;
  }
  // Some record of the group holds data.
  bool GrupoInformado(const std::string& grupo) const {
    return AlgumRegistro(grupo, [&] { return PossuiCampoPreenchido(grupo); });
  }
  // Sum of the field over the items (records of H) for which `filtro` holds.
  template <typename F>
  long double SomaItens(const std::string& campo, F&& filtro) const {
    long double soma = 0;
    AlgumRegistro("H", [&] {
      if (filtro()) soma += Numero(campo);
      return false;
    });
    return soma;
  }
  long double SomaItens(const std::string& campo) const {
    return SomaItens(campo, [] { return true; });
  }
  // Sum of the field over the records of a group that is not an item detail (payments).
  long double SomaRegistros(const std::string& grupo, const std::string& campo) const;
  // CompareComTolerancia over decimal amounts read in binary floating point: the margin added to
  // `tolerancia` (a millionth) only absorbs binary rounding, so a difference of exactly the
  // tolerance is accepted and a tolerance of 0 means "equal to the cent".
  static bool DentroDaTolerancia(long double valor, long double referencia, long double tolerancia);
  // A date-time "AAAA-MM-DDThh:mm:ss" followed by an offset "-hh:mm"/"+hh:mm" (none reads as
  // -03:00); nothing for an empty text. Another text raises EqorNFCeRuleException naming it.
  std::optional<TDataHoraNota> DataHora(const std::string& campo) const;
  // The present instant, from the clock given or the system clock.
  std::chrono::system_clock::time_point Agora() const;

 private:
  static bool EmEdicao(const TXmlDataSetNFCe& g);
  static void Primeiro(TXmlDataSetNFCe& g);
  static bool Fim(const TXmlDataSetNFCe& g);
  static void Proximo(TXmlDataSetNFCe& g);

  std::string codigo_, campo_, cStat_, mensagem_;
  TVersaoManual versaoManual_;
  TRelogio relogio_;
};

// A rule checked on every item: the first item for which ExpressaoDeValidacao is false fails.
class TqorNFCeTemplateItem : public TqorNFCeRule {
 public:
  using TqorNFCeRule::TqorNFCeRule;
  void execute() override;

 protected:
  // True when the current item (groups H, I and their details) is valid.
  virtual bool ExpressaoDeValidacao() = 0;
  TXmlDataSetNFCe* ItensDataSet() const { return itens_; }

 private:
  TXmlDataSetNFCe* itens_ = nullptr;
};

}  // namespace qor
