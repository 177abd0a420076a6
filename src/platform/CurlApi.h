// libcurl's functions as the HTTP and SMTP clients call them: through a table filled when the
// library is first needed (SharedLibraries.h says why). Internal to src/platform/.
#pragma once

// The type-checking macros of curl.h would rewrite calls through the table.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#define QOR_CURL_FUNCTIONS(X) \
  X(curl_easy_cleanup)        \
  X(curl_easy_escape)         \
  X(curl_easy_getinfo)        \
  X(curl_easy_init)           \
  X(curl_easy_perform)        \
  X(curl_easy_setopt)         \
  X(curl_easy_strerror)       \
  X(curl_free)                \
  X(curl_global_init)         \
  X(curl_mime_addpart)        \
  X(curl_mime_data)           \
  X(curl_mime_encoder)        \
  X(curl_mime_filename)       \
  X(curl_mime_free)           \
  X(curl_mime_headers)        \
  X(curl_mime_init)           \
  X(curl_mime_type)           \
  X(curl_slist_append)        \
  X(curl_slist_free_all)      \
  X(curl_version_info)

namespace qor {

struct TCurlApi {
#define QOR_CURL_POINTER(name) decltype(&::name) name = nullptr;
  QOR_CURL_FUNCTIONS(QOR_CURL_POINTER)
#undef QOR_CURL_POINTER
};

// libcurl, loaded on the first call (one load per process, whichever thread comes first).
// Throws EqorGovException when it cannot be loaded; a later call tries again.
const TCurlApi& CurlApi();

}  // namespace qor
