// Searches in the request and reply logs the component keeps (Log/<id>-<kind>.xml): the signed
// note of a batch, the protocol of a key, the keys of a receipt, the signed event of a request.
//
// A "log" argument is a full path, a file name inside the log folder, or the XML text itself:
// - an absolute path must name an existing file (EqorNFCeLogNotFoundException /
//   EqorNFCeEventoLogNotFoundException "Arquivo de Log %s não existe.");
// - otherwise the name part of the argument is looked for in `pasta` (expanded: a relative
//   folder is anchored at the executable's folder);
// - otherwise the argument is the XML text.
// Text read from a file loses its byte-order mark; a file that is not valid UTF-8 is read as
// Windows-1252 (logs written by older installations), so the result is always UTF-8.
//
// Searches by key refuse a key that starts with "N" (a key given with its "NFe" prefix):
// EqorNFCeCheckParamsException "A Chave deve ser composta apenas por Números". A search that
// finds nothing returns an empty text and leaves the decision to the caller. Each log is parsed
// once per call.
//
// Exceptions are logged in `logDir` (the component's DiretorioLogErro; empty means the
// executable's folder).
//
// Thread-safe: class-level functions without state.
#pragma once

#include <string>

#include "platform/TStrings.h"

namespace qor {

class TqorNFCeXMLLogs {
 public:
  static std::string LoadLog(const std::string& log, const std::string& pasta,
                             const std::string& logDir = {});
  // The signed NFe of a batch-send log whose XML holds `chave` (compared ignoring case). An
  // empty log raises "Arquivo de Log Vazio"; a log without child elements under its root (or
  // not XML) raises "Arquivo Log não contém Chave de NFCe ou é inválido.".
  static std::string AchaNFCeAssinadaLogEnvio(const std::string& chave, const std::string& log,
                                              const std::string& pasta,
                                              const std::string& logDir = {});
  // The first infProt of a receipt-query log that holds `chave`.
  static std::string AchaInfProtLogConsRec(const std::string& chave, const std::string& log,
                                           const std::string& pasta,
                                           const std::string& logDir = {});
  // The infProt of `chave` in a key-query or synchronous reply log; empty when it holds none
  // (a protocol naming another key is not this note's).
  static std::string AchaInfProtLogConsNF(const std::string& chave, const std::string& log,
                                          const std::string& pasta, const std::string& logDir = {});
  // Appends to `lista` the chNFe of every protNFe of a receipt-query log whose cStat is `cStat`.
  // EqorNFCeCheckParamsException "O cStat deve ser informado." for 0 and "Lista não foi
  // instanciada." for a null list.
  static void ListaChavesLogRecibo(const std::string& log, int cStat, TStrings* lista,
                                   const std::string& pasta, const std::string& logDir = {});
  // Appends to `lista` the key of every note (infNFe) of a batch-send log.
  static void ListaChavesLogEnv(const std::string& log, TStrings* lista, const std::string& pasta,
                                const std::string& logDir = {});
};

class TqorEventosXMLLogs {
 public:
  static std::string LoadLog(const std::string& log, const std::string& pasta,
                             const std::string& logDir = {});
  // The first signed evento of an event-request log whose XML holds `id` (the event Id).
  static std::string AchaEventosAssinadaLogEnvio(const std::string& id, const std::string& log,
                                                 const std::string& pasta,
                                                 const std::string& logDir = {});
  // The first retEnvEvento of an event-reply log whose XML holds `chave`.
  static std::string AchaInfChaveLogConsRec(const std::string& chave, const std::string& log,
                                            const std::string& pasta,
                                            const std::string& logDir = {});
  // The key of the first note (infNFe, any namespace) of a text: its Id without "NFe".
  static std::string getIDNotaXPath(const std::string& xml);
  // Appends to `lista` the chNFe of every infEvento of an event-request log.
  static void ListaChavesLogEnv(const std::string& log, TStrings* lista, const std::string& pasta,
                                const std::string& logDir = {});
};

}  // namespace qor
