#include "platform/LibraryInit.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <mutex>

namespace qor {

namespace {

std::once_flag g_libxml2Once;
xmlExternalEntityLoader g_defaultLoader = nullptr;
thread_local const ScopedExternalLoader::Filter* t_filter = nullptr;
thread_local bool t_silenced = false;

void SilentGenericError(void*, const char*, ...) {}

xmlParserInputPtr FilteringLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (t_filter == nullptr) return g_defaultLoader(url, id, ctxt);
  std::string path = (*t_filter)(url != nullptr ? url : "");
  if (path.empty()) return nullptr;
  return g_defaultLoader(path.c_str(), id, ctxt);
}

}  // namespace

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
