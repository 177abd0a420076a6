// Libraries that only some operations need, opened on their first use instead of at start.
//
// libcurl (the state's web services, e-mail) and cairo with pango (the DANFCE's PDF and PNG)
// bring some sixty other libraries with them. Linked into the executable, every start of the
// process maps and relocates them all and runs their constructors, which is most of what a short
// command such as signing one note costs. Opened here, only a process that sends or renders pays
// for them. The libraries are those of the -dev packages the build compiles against, named by
// their stable sonames; they stay loaded for the rest of the process.
//
// Internal to src/platform/. Thread-safe.
#pragma once

#include <initializer_list>
#include <vector>

namespace qor {

class SharedLibraries {
 public:
  // Opens every library named (e.g. "libcurl.so.4"). Throws EqorGovException naming the first
  // that cannot be loaded, with the loader's reason.
  SharedLibraries(std::initializer_list<const char*> sonames);

  // Sets `pointer` to the function `symbol` of the first library that exports it; throws
  // EqorGovException when none does.
  template <typename F>
  void Resolve(F& pointer, const char* symbol) const {
    pointer = reinterpret_cast<F>(Find(symbol));
  }

 private:
  void* Find(const char* symbol) const;
  std::vector<void*> handles_;
};

}  // namespace qor
