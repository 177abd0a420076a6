// Dates and times as the fiscal XML writes them ("AAAA-MM-DD", "AAAA-MM-DDThh:mm:ss-03:00",
// "hh:mm:ss") and as the printed document and the events need them.
//
// Failures raise EqorNFCeConvertDateException, logged in `logDir` (the component's
// DiretorioLogErro; empty means HomeDir()).
//
// Thread-safe: pure functions (FormataDataHoraEvento reads the clock).
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace qor {

// "2015-03-05" -> "05/03/2015"; "2015-03-05T10:11:12-03:00" -> "05/03/2015 10:11:12"; an empty
// text stays empty. Only 10- or 25-character texts are dates ("Erro na conversão de datas:
// data inválida"); the year must be four digits ("... ano inválido"), the month 01-12 ("... mês
// inválido") and the day digits ("... dia inválido").
std::string ConverteData(const std::string& data, const std::string& logDir = {});
// "hh:mm:ss" checked (hours 00-23, minutes and seconds 00-59) and returned as "hh:mm:ss"; an
// empty text stays empty. "Erro na conversão de horas: hora inválida" / "minuto inválido" /
// "segundo inválido".
std::string ConverteHora(const std::string& hora, const std::string& logDir = {});
// The date of an XML date or date-time (its first ten characters). A year, month or day that is
// not a number raises "... ano inválido" / "mês inválido" / "dia inválido"; a date that does not
// exist (2015-02-30, month 13) raises "... data inválida".
std::chrono::year_month_day XmlDateToDateTime(const std::string& data,
                                              const std::string& logDir = {});

// Whether `text` follows `pattern` character by character: "#" a digit, "&" a lower-case letter
// a-z, "@" an upper-case letter A-Z, anything else itself. Lengths must be equal.
bool SeguePadrao(const std::string& text, const std::string& pattern);
// "AAAA-MM-DDThh:mm:ss" with or without a "-hh:mm" or "+hh:mm" offset.
bool IsXsdDateTime(const std::string& text);
// A text the date-time reader accepts: "dd/mm/aaaa", "dd/mm/aaaa hh:mm[:ss]", "aaaa-mm-dd" and
// "aaaa-mm-dd hh:mm[:ss]" (or with "T"), each a date that exists. Fills `value` (local time).
bool TryParseDataHora(const std::string& text, std::tm& value);

// An empty (blank) text, an XSD date-time, or a text TryParseDataHora accepts.
bool ValidaDataHoraEvento(const std::string& text);
// An XSD date-time is returned unchanged; an empty text becomes the current local date-time
// "AAAA-MM-DDThh:mm:ss"; any other text is read with TryParseDataHora and written the same way
// (one it cannot read raises "Erro na conversão de datas: data inválida").
std::string FormataDataHoraEvento(const std::string& text, const std::string& logDir = {});
// The current local date-time with its UTC offset, "AAAA-MM-DDThh:mm:ss-03:00".
std::string DataHoraAtualComFuso();

}  // namespace qor
