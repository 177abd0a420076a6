#include "rules/TqorRule.h"

#include <charconv>
#include <exception>

#include "base/Exceptions.h"
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

void TqorNFCeRule::SemDataSet() {
  throw EqorNFCeRuleException("DataSet não configurado para validação da NFCe.", std::string());
}

void TqorNFCeRule::FalharValidacao() const {
  throw EqorNFCeRuleException("[%s]: %s - %s.\r\nVerifique o Campo: %s",
                              {codigo_, cStat_, mensagem_, campo_},
                              GetDataSet() ? GetDataSet()->GetDiretorioLogErro() : std::string());
}

// ---- reading the note ---------------------------------------------------------------------

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

bool TqorNFCeRule::Entre(TNome campo, std::initializer_list<std::string_view> valores) const {
  const std::string& valor = Valor(campo);
  for (std::string_view v : valores) {
    if (valor == v) return true;
  }
  return false;
}

bool TqorNFCeRule::AlgumPreenchido(std::initializer_list<TNome> campos) const {
  for (TNome campo : campos) {
    if (!CampoVazio(campo)) return true;
  }
  return false;
}

long double TqorNFCeRule::SomaRegistros(TNome grupo, TNome campo) const {
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

std::optional<TDataHoraNota> TqorNFCeRule::DataHora(TNome campo) const {
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

// ---- rules walking the items ----------------------------------------------------------------

namespace {

// The first rule of a run together that failed, and where.
struct TFalha {
  std::size_t regra;    // the number of rules when none failed
  bool noItem = false;  // at the item `item` of a walk of H
  std::size_t item = 0;
  std::exception_ptr erro;  // what it raised; none for a validation failure
};

// Walks the items once, asking `valido(i)` of the rules before `falha.regra` about each item,
// until one answers false or raises: it becomes the failure, and the rules after it are no
// longer asked (they cannot be the first to fail). H is left on the item of a failure of the
// first rule, else after the last item.
template <typename Valido>
void PercorrerItens(TLeituraGrupo& h, TFalha& falha, Valido&& valido) {
  h.Primeiro();
  for (std::size_t item = 0; !h.Fim(); ++item) {
    for (std::size_t i = 0; i < falha.regra; ++i) {
      bool ok = false;
      std::exception_ptr erro;
      try {
        ok = valido(i);
      } catch (...) {
        erro = std::current_exception();
      }
      if (!ok) falha = {i, true, item, erro};
    }
    if (falha.regra == 0) return;
    h.Proximo();
  }
}

// Puts H back on an item the walk went past: where running the failed rule alone leaves it.
void VoltarAoItem(TLeituraGrupo& h, const TFalha& falha) {
  if (falha.regra == 0 || !falha.noItem) return;
  h.Primeiro();
  for (std::size_t item = 0; item < falha.item; ++item) h.Proximo();
}

}  // namespace

void TqorNFCeTemplateItem::execute() {
  TqorNFCeRule* const regra = this;
  ExecutarEmSequencia({&regra, 1});
}

void TqorNFCeTemplateItem::ExecutarEmSequencia(std::span<TqorNFCeRule* const> conjunto) {
  if (conjunto.empty()) return;
  const auto regra = [&](std::size_t i) { return static_cast<TqorNFCeTemplateItem*>(conjunto[i]); };
  for (std::size_t i = 0; i < conjunto.size(); ++i) {
    regra(i)->CheckDataSet();
    regra(i)->itens_ = &regra(i)->Grupo("I");
  }
  TFalha falha{conjunto.size(), false, 0, nullptr};
  PercorrerItens(regra(0)->Grupo("H"), falha,
                 [&](std::size_t i) { return regra(i)->ExpressaoDeValidacao(); });
  if (falha.regra == conjunto.size()) return;
  VoltarAoItem(regra(0)->Grupo("H"), falha);
  if (falha.erro) std::rethrow_exception(falha.erro);
  regra(falha.regra)->FalharValidacao();
}

void TqorNFCeTotalDosItens::execute() {
  TqorNFCeRule* const regra = this;
  ExecutarEmSequencia({&regra, 1});
}

void TqorNFCeTotalDosItens::ExecutarEmSequencia(std::span<TqorNFCeRule* const> conjunto) {
  if (conjunto.empty()) return;
  const auto regra = [&](std::size_t i) {
    return static_cast<TqorNFCeTotalDosItens*>(conjunto[i]);
  };
  // Each rule reads its total before it sums the items: the first rule's error comes before any
  // walk; a later rule's, when it is reached, after the walks of the rules before it.
  TFalha falha{conjunto.size(), false, 0, nullptr};
  for (std::size_t i = 0; i < conjunto.size(); ++i) {
    TqorNFCeTotalDosItens& r = *regra(i);
    r.CheckDataSet();
    r.soma_ = 0;
    if (i == 0) {
      r.total_ = r.Numero(r.CampoDoTotal());
      continue;
    }
    try {
      r.total_ = r.Numero(r.CampoDoTotal());
    } catch (...) {
      falha = {i, false, 0, std::current_exception()};
      break;
    }
  }
  const auto somar = [&](std::size_t i) {
    TqorNFCeTotalDosItens& r = *regra(i);
    if (r.Somar()) r.soma_ += r.Numero(r.CampoDoItem());
    return true;
  };
  TLeituraGrupo& h = regra(0)->Grupo("H");
  if (h.EmEdicao()) {
    for (std::size_t i = 0; i < falha.regra; ++i) {
      try {
        somar(i);
      } catch (...) {
        falha = {i, false, 0, std::current_exception()};
      }
    }
  } else {
    PercorrerItens(h, falha, somar);
  }
  for (std::size_t i = 0; i < falha.regra; ++i) {
    const TqorNFCeTotalDosItens& r = *regra(i);
    if (!DentroDaTolerancia(r.soma_, r.total_, r.Tolerancia())) r.FalharValidacao();
  }
  if (falha.regra == conjunto.size()) return;
  VoltarAoItem(h, falha);
  std::rethrow_exception(falha.erro);
}

}  // namespace qor
