// Process-wide set-up of the third-party libraries the platform layer uses, done once however
// many threads and objects call in. Internal to src/platform/.
#pragma once

#include <functional>
#include <string>

namespace qor {

// Initialises libxml2 once per process and makes sure libxml2 never prints to stderr on the
// calling thread (the default error printer is replaced by a silent one for this thread and for
// threads created afterwards; callers collect errors through their own context handlers).
// Installs the external-resource loader below. Cheap after the first call on a thread.
void EnsureLibxml2();

// While an object of this class lives, every external resource libxml2 wants to load on this
// thread (a DTD, an external entity, a schema include or import) is first handed to `filter`,
// which returns the local path to load instead, or an empty string to refuse the load.
// Outside such a scope libxml2's own loader runs unchanged, so other users of the library in the
// process keep their behaviour. Scopes nest; the innermost wins.
class ScopedExternalLoader {
 public:
  using Filter = std::function<std::string(const std::string& url)>;
  explicit ScopedExternalLoader(Filter filter);
  ~ScopedExternalLoader();
  ScopedExternalLoader(const ScopedExternalLoader&) = delete;
  ScopedExternalLoader& operator=(const ScopedExternalLoader&) = delete;

 private:
  Filter filter_;
  const Filter* previous_;
};

}  // namespace qor
