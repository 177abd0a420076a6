#include "platform/CurlApi.h"

#include "platform/SharedLibraries.h"

namespace qor {

const TCurlApi& CurlApi() {
  static const TCurlApi api = [] {
    const SharedLibraries libcurl({"libcurl.so.4"});
    TCurlApi table;
#define QOR_CURL_RESOLVE(name) libcurl.Resolve(table.name, #name);
    QOR_CURL_FUNCTIONS(QOR_CURL_RESOLVE)
#undef QOR_CURL_RESOLVE
    return table;
  }();
  return api;
}

}  // namespace qor
