#include "rules/TqorRule.h"

#include <charconv>

#include "conversion/TqorXMLDataSetNFCe.h"
#include "core/Exceptions.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "utils/Numeros.h"

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
    throw EqorNFCeRuleException("'%s' não é um valor numérico válido", {texto},
                                Modelo().GetDiretorioLogErro());
  }
  return value;
}

bool TqorNFCeRule::Entre(const std::string& campo,
                         std::initializer_list<std::string_view> valores) const {
  const std::string& valor = Valor(campo);
  for (std::string_view v : valores) {
    if (valor == v) return true;
  }
  return false;
}

bool TqorNFCeRule::AlgumPreenchido(std::initializer_list<std::string_view> campos) const {
  for (std::string_view campo : campos) {
    if (!CampoVazio(std::string(campo))) return true;
  }
  return false;
}

bool TqorNFCeRule::EmEdicao(const TXmlDataSetNFCe& g) { return g.Editing(); }
void TqorNFCeRule::Primeiro(TXmlDataSetNFCe& g) { g.First(); }
bool TqorNFCeRule::Fim(const TXmlDataSetNFCe& g) { return g.Eof(); }
void TqorNFCeRule::Proximo(TXmlDataSetNFCe& g) { g.Next(); }

long double TqorNFCeRule::SomaRegistros(const std::string& grupo, const std::string& campo) const {
  long double soma = 0;
  AlgumRegistro(grupo, [&] {
    soma += Numero(campo);
    return false;
  });
  return soma;
}

bool TqorNFCeRule::DentroDaTolerancia(long double valor, long double referencia,
                                      long double tolerancia) {
  constexpr long double kFolgaBinaria = 1e-6L;
  return CompareComTolerancia(valor, referencia, tolerancia + kFolgaBinaria);
}

namespace {

// Digits at text[pos, pos + n) as a number; -1 when any is not a digit.
int Digitos(std::string_view text, std::size_t pos, std::size_t n) {
  int value = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<TDataHoraNota> LerDataHora(std::string_view t) {
  // "AAAA-MM-DDThh:mm:ss" and an optional "-hh:mm" / "+hh:mm".
  if ((t.size() != 19 && t.size() != 25) || t[4] != '-' || t[7] != '-' || t[10] != 'T' ||
      t[13] != ':' || t[16] != ':') {
    return std::nullopt;
  }
  const int ano = Digitos(t, 0, 4), mes = Digitos(t, 5, 2), dia = Digitos(t, 8, 2);
  const int hora = Digitos(t, 11, 2), minuto = Digitos(t, 14, 2), segundo = Digitos(t, 17, 2);
  if (ano < 0 || mes < 1 || mes > 12 || dia < 1 || hora < 0 || hora > 23 || minuto < 0 ||
      minuto > 59 || segundo < 0 || segundo > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day data{std::chrono::year(ano),
                                         std::chrono::month(static_cast<unsigned>(mes)),
                                         std::chrono::day(static_cast<unsigned>(dia))};
  if (!data.ok()) return std::nullopt;
  std::chrono::minutes offset{-180};  // the offset of Brasília when none is written
  if (t.size() == 25) {
    const int oh = Digitos(t, 20, 2), om = Digitos(t, 23, 2);
    if ((t[19] != '-' && t[19] != '+') || t[22] != ':' || oh < 0 || oh > 14 || om < 0 || om > 59) {
      return std::nullopt;
    }
    offset = std::chrono::minutes((t[19] == '-' ? -1 : 1) * (oh * 60 + om));
  }
  const std::chrono::sys_seconds local = std::chrono::sys_days(data) + std::chrono::hours(hora) +
                                         std::chrono::minutes(minuto) +
                                         std::chrono::seconds(segundo);
  return TDataHoraNota{local - offset, offset};
}

}  // namespace

std::optional<TDataHoraNota> TqorNFCeRule::DataHora(const std::string& campo) const {
  const std::string& texto = Valor(campo);
  if (texto.empty()) return std::nullopt;
  std::optional<TDataHoraNota> lida = LerDataHora(texto);
  if (!lida) {
    throw EqorNFCeRuleException("'%s' não é uma data e hora válida", {texto},
                                Modelo().GetDiretorioLogErro());
  }
  return lida;
}

std::chrono::system_clock::time_point TqorNFCeRule::Agora() const {
  return relogio_ ? relogio_() : std::chrono::system_clock::now();
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
