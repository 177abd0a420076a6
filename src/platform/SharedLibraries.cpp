#include "platform/SharedLibraries.h"

#include <dlfcn.h>

#include <string>

#include "platform/GovException.h"

namespace qor {

namespace {

std::string LoaderError() {
  const char* reason = ::dlerror();
  return reason != nullptr ? reason : "motivo desconhecido";
}

}  // namespace

SharedLibraries::SharedLibraries(std::initializer_list<const char*> sonames) {
  for (const char* soname : sonames) {
    // Never closed: the process keeps what it loaded, as it would have kept a linked library.
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      throw EqorGovException(std::string("Não foi possível carregar a biblioteca ") + soname +
                             ": " + LoaderError());
    }
    handles_.push_back(handle);
  }
}

void* SharedLibraries::Find(const char* symbol) const {
  for (void* handle : handles_) {
    ::dlerror();
    if (void* address = ::dlsym(handle, symbol); address != nullptr) return address;
  }
  throw EqorGovException(std::string("Função ") + symbol +
                         " não encontrada nas bibliotecas carregadas: " + LoaderError());
}

}  // namespace qor
