#include "utils/DataHora.h"

#include <cstdio>
#include <ctime>

#include "base/Exceptions.h"
#include "platform/Clock.h"
#include "platform/Text.h"

namespace qor {

namespace {

bool Digits(const std::string& text) { return IsNumber(text); }

int Number(const std::string& digits) { return std::stoi(digits); }

[[noreturn]] void Falha(const char* message, const std::string& logDir) {
  throw EqorNFCeConvertDateException(message, logDir);
}

bool DataExiste(int ano, int mes, int dia) {
  return std::chrono::year_month_day(std::chrono::year(ano), std::chrono::month(mes),
                                     std::chrono::day(dia))
      .ok();
}

std::string Pad2(int value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

std::string FormatoXsd(const std::tm& t) {
  return std::to_string(t.tm_year + 1900) + "-" + Pad2(t.tm_mon + 1) + "-" + Pad2(t.tm_mday) + "T" +
         Pad2(t.tm_hour) + ":" + Pad2(t.tm_min) + ":" + Pad2(t.tm_sec);
}

}  // namespace

std::string ConverteData(const std::string& data, const std::string& logDir) {
  if (data.empty()) return {};
  const std::size_t tamanho = Utf8Length(data);
  if (tamanho != 10 && tamanho != 25) Falha("Erro na conversão de datas: data inválida", logDir);
  const std::string ano = data.substr(0, 4);
  const std::string mes = data.substr(5, 2);
  std::string dia = Trim(data.substr(8, 2));
  if (!Digits(ano)) Falha("Erro na conversão de datas: ano inválido", logDir);
  if (mes.size() != 2 || !Digits(mes) || Number(mes) < 1 || Number(mes) > 12) {
    Falha("Erro na conversão de datas: mês inválido", logDir);
  }
  if (dia.size() == 1) dia = "0" + dia;
  if (!Digits(dia)) Falha("Erro na conversão de datas: dia inválido", logDir);
  if (tamanho == 10) return Format("%s/%s/%s", {dia, mes, ano});
  return Format("%s/%s/%s %s", {dia, mes, ano, data.substr(11, 8)});
}

std::string ConverteHora(const std::string& hora, const std::string& logDir) {
  if (hora.empty()) return {};
  const auto falha = [&logDir](const char* message) {
    throw EqorNFCeConvertDateException(message, logDir);
  };
  if (hora.size() != 8 || hora[2] != ':' || hora[5] != ':') {
    falha("Erro na conversão de horas: hora inválida");
  }
  const std::string h = hora.substr(0, 2), m = hora.substr(3, 2), s = hora.substr(6, 2);
  if (!Digits(h) || Number(h) > 23) falha("Erro na conversão de horas: hora inválida");
  if (!Digits(m) || Number(m) > 59) falha("Erro na conversão de horas: minuto inválido");
  if (!Digits(s) || Number(s) > 59) falha("Erro na conversão de horas: segundo inválido");
  return Format("%s:%s:%s", {h, m, s});
}

std::chrono::year_month_day XmlDateToDateTime(const std::string& data, const std::string& logDir) {
  const auto parte = [&data](std::size_t from, std::size_t count) {
    return from < data.size() ? data.substr(from, count) : std::string();
  };
  const std::string ano = parte(0, 4), mes = parte(5, 2), dia = parte(8, 2);
  if (ano.size() != 4 || !Digits(ano)) Falha("Erro na conversão de datas: ano inválido", logDir);
  if (!Digits(mes)) Falha("Erro na conversão de datas: mês inválido", logDir);
  if (!Digits(dia)) Falha("Erro na conversão de datas: dia inválido", logDir);
  if (!DataExiste(Number(ano), Number(mes), Number(dia))) {
    Falha("Erro na conversão de datas: data inválida", logDir);
  }
  return std::chrono::year_month_day(std::chrono::year(Number(ano)),
                                     std::chrono::month(Number(mes)),
                                     std::chrono::day(Number(dia)));
}

bool SeguePadrao(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (pattern[i]) {
      case '#':
        if (c < '0' || c > '9') return false;
        break;
      case '&':
        if (c < 'a' || c > 'z') return false;
        break;
      case '@':
        if (c < 'A' || c > 'Z') return false;
        break;
      default:
        if (c != pattern[i]) return false;
    }
  }
  return true;
}

bool IsXsdDateTime(const std::string& text) {
  return SeguePadrao(text, "####-##-##T##:##:##") ||
         SeguePadrao(text, "####-##-##T##:##:##-##:##") ||
         SeguePadrao(text, "####-##-##T##:##:##+##:##");
}

bool TryParseDataHora(const std::string& raw, std::tm& value) {
  const std::string text = Trim(raw);
  int dia = 0, mes = 0, ano = 0;
  std::string resto;
  if (text.size() >= 10 && SeguePadrao(text.substr(0, 10), "##/##/####")) {
    dia = Number(text.substr(0, 2));
    mes = Number(text.substr(3, 2));
    ano = Number(text.substr(6, 4));
  } else if (text.size() >= 10 && SeguePadrao(text.substr(0, 10), "####-##-##")) {
    ano = Number(text.substr(0, 4));
    mes = Number(text.substr(5, 2));
    dia = Number(text.substr(8, 2));
  } else {
    return false;
  }
  if (!DataExiste(ano, mes, dia)) return false;
  resto = text.substr(10);
  int hora = 0, minuto = 0, segundo = 0;
  if (!resto.empty()) {
    if (resto[0] != ' ' && resto[0] != 'T') return false;
    const std::string tempo = resto.substr(1);
    if (SeguePadrao(tempo, "##:##:##")) {
      segundo = Number(tempo.substr(6, 2));
    } else if (!SeguePadrao(tempo, "##:##")) {
      return false;
    }
    hora = Number(tempo.substr(0, 2));
    minuto = Number(tempo.substr(3, 2));
    if (hora > 23 || minuto > 59 || segundo > 59) return false;
  }
  value = std::tm{};
  value.tm_year = ano - 1900;
  value.tm_mon = mes - 1;
  value.tm_mday = dia;
  value.tm_hour = hora;
  value.tm_min = minuto;
  value.tm_sec = segundo;
  value.tm_isdst = -1;
  return true;
}

bool ValidaDataHoraEvento(const std::string& text) {
  if (Trim(text).empty()) return true;
  std::tm ignored{};
  return IsXsdDateTime(text) || TryParseDataHora(text, ignored);
}

std::string FormataDataHoraEvento(const std::string& text, const std::string& logDir) {
  if (text.empty()) return FormatoXsd(NowLocal().tm);
  if (IsXsdDateTime(text)) return text;
  std::tm value{};
  if (!TryParseDataHora(text, value)) Falha("Erro na conversão de datas: data inválida", logDir);
  return FormatoXsd(value);
}

std::string DataHoraAtualComFuso() {
  const std::tm agora = NowLocal().tm;
  char texto[40];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%S", &agora);
  const long offset = agora.tm_gmtoff;
  // Offsets lie within a day.
  const int minutos = static_cast<int>(((offset < 0 ? -offset : offset) / 60) % (24 * 60));
  char fuso[16];
  std::snprintf(fuso, sizeof fuso, "%c%02d:%02d", offset < 0 ? '-' : '+', minutos / 60,
                minutos % 60);
  return std::string(texto) + fuso;
}

}  // namespace qor
