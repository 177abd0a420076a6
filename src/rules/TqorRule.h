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
// of the process.
//
// Not thread-safe: a rule runs on the thread of its controller.
#pragma once

#include <string>

#include "core/Types.h"

namespace qor {

class TqorXMLDataSetNFCe;
class TXmlDataSetNFCe;

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

 private:
  std::string codigo_, campo_, cStat_, mensagem_;
  TVersaoManual versaoManual_;
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
