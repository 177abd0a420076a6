#include "rules/TqorRule.h"

#include <charconv>

#include "conversion/TqorXMLDataSetNFCe.h"
#include "core/Exceptions.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace qor {

TqorNFCeRule::TqorNFCeRule(std::string codigo, std::string campo, std::string cStat,
                           std::string mensagem, TVersaoManual versao)
    : codigo_(std::move(codigo)),
      campo_(std::move(campo)),
      cStat_(std::move(cStat)),
      mensagem_(std::move(mensagem)),
      versaoManual_(versao) {}

void TqorNFCeRule::CheckDataSet() const {
  if (!GetDataSet()) {
    throw EqorNFCeRuleException("DataSet não configurado para validação da NFCe.", std::string());
  }
}

void TqorNFCeRule::FalharValidacao() const {
  throw EqorNFCeRuleException("[%s]: %s - %s.\r\nVerifique o Campo: %s",
                              {codigo_, cStat_, mensagem_, campo_},
                              GetDataSet() ? GetDataSet()->GetDiretorioLogErro() : std::string());
}

TqorXMLDataSetNFCe& TqorNFCeRule::Modelo() const {
  CheckDataSet();
  return *GetDataSet();
}

const std::string& TqorNFCeRule::Valor(const std::string& campo) const {
  return Modelo().Campo(campo).AsString();
}

TXmlDataSetNFCe& TqorNFCeRule::Grupo(const std::string& nome) const {
  return Modelo().FindDataSet(nome);
}

bool TqorNFCeRule::PossuiCampoPreenchido(const std::string& grupo) const {
  const TXmlDataSetNFCe& group = Grupo(grupo);
  for (const auto& field : group.Fields()) {
    if (SameText(field->FieldName(), "handle") ||
        SameText(field->FieldName(), group.GetXMLKeyField())) {
      continue;
    }
    if (!field->AsString().empty()) return true;
  }
  return false;
}

bool TqorNFCeRule::isDestinatarioInformado() const {
  const std::string& cpf = Valor("CPF_E03");
  const std::string& id = cpf.empty() ? Valor("CNPJ_E02") : cpf;
  return !id.empty() && UpperCase(id) != "NULL";
}

double TqorNFCeRule::GetExtend(const std::string& texto) const {
  if (texto.empty()) return 0;
  double value = 0;
  const char* end = texto.data() + texto.size();
  const auto [ptr, ec] = std::from_chars(texto.data(), end, value);
  if (ec != std::errc() || ptr != end) {
    throw EqorNFCeRuleException("'%s' não é um valor numérico válido",
                                {texto}, Modelo().GetDiretorioLogErro());
  }
  return value;
}

void TqorNFCeTemplateItem::execute() {
  CheckDataSet();
  itens_ = &Grupo("I");
  TXmlDataSetNFCe& h = Grupo("H");
  for (h.First(); !h.Eof(); h.Next()) {
    if (!ExpressaoDeValidacao()) FalharValidacao();
  }
}

}  // namespace qor
