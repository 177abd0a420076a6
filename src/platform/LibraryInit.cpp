#include "platform/LibraryInit.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <xmlsec/base64.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#include <mutex>

#include "platform/GovException.h"

namespace qor {

namespace {

std::once_flag g_libxml2Once;
xmlExternalEntityLoader g_defaultLoader = nullptr;
thread_local const ScopedExternalLoader::Filter* t_filter = nullptr;
thread_local bool t_silenced = false;
std::once_flag g_xmlSecOnce;
thread_local std::string t_xmlSecError;
constexpr int kBase64OneLine = 1 << 20;

void SilentGenericError(void*, const char*, ...) {}

xmlParserInputPtr FilteringLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (t_filter == nullptr) return g_defaultLoader(url, id, ctxt);
  std::string path = (*t_filter)(url != nullptr ? url : "");
  if (path.empty()) return nullptr;
  return g_defaultLoader(path.c_str(), id, ctxt);
}

// xmlsec reports a failure once per layer it crosses, innermost first; the innermost one names
// the cause (a digest mismatch, a key that cannot sign), so the first message after a
// TakeXmlSecError is kept and the outer ones only fill an empty slot.
void KeepXmlSecError(const char* /*file*/, int /*line*/, const char* func, const char* errorObject,
                     const char* errorSubject, int reason, const char* msg) {
  if (!t_xmlSecError.empty()) return;
  std::string text;
  if (msg != nullptr) text = msg;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  if (text.empty()) text = "erro " + std::to_string(reason);
  if (errorSubject != nullptr && *errorSubject != '\0')
    text += std::string(" (") + errorSubject + ")";
  if (errorObject != nullptr && *errorObject != '\0')
    text += std::string(" [") + errorObject + "]";
  else if (func != nullptr)
    text += std::string(" [") + func + "]";
  t_xmlSecError = text;
}

}  // namespace

void EnsureXmlSec() {
  EnsureLibxml2();
  std::call_once(g_xmlSecOnce, [] {
    // Set before xmlSecInit so that even its own failures stay off stderr.
    xmlSecErrorsSetCallback(KeepXmlSecError);
    if (xmlSecInit() < 0)
      throw EqorGovException("Não foi possível inicializar a biblioteca xmlsec.");
    if (xmlSecCheckVersion() != 1) {
      throw EqorGovException("Versão da biblioteca xmlsec incompatível com a usada na compilação.");
    }
    if (xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0) {
      throw EqorGovException("Não foi possível inicializar o xmlsec com OpenSSL.");
    }
    // The set-up above puts xmlsec's default (printing) handler back; ours goes in again.
    xmlSecErrorsSetCallback(KeepXmlSecError);
    // "No line breaks" would be a line size of 0, but this xmlsec's certificate writer refuses
    // 0 (it asserts a positive size); a line longer than any value we write (a certificate is
    // about 2 KB of Base64) gives the same one-line output everywhere.
    xmlSecBase64SetDefaultLineSize(kBase64OneLine);
    xmlSecSetDefaultLineFeed(BAD_CAST "");
    t_xmlSecError.clear();
  });
}

std::string TakeXmlSecError() {
  std::string text = std::move(t_xmlSecError);
  t_xmlSecError.clear();
  return text;
}

void EnsureLibxml2() {
  std::call_once(g_libxml2Once, [] {
    xmlInitParser();
    // Threads started from now on inherit the silent printer; the current one is set below.
    xmlThrDefSetGenericErrorFunc(nullptr, SilentGenericError);
    g_defaultLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(FilteringLoader);
  });
  // libxml2 keeps its error printer per thread: a thread that existed before the first call
  // still has the default one.
  if (!t_silenced) {
    xmlSetGenericErrorFunc(nullptr, SilentGenericError);
    t_silenced = true;
  }
}

ScopedExternalLoader::ScopedExternalLoader(Filter filter)
    : filter_(std::move(filter)), previous_(t_filter) {
  EnsureLibxml2();
  t_filter = &filter_;
}

ScopedExternalLoader::~ScopedExternalLoader() { t_filter = previous_; }

}  // namespace qor
