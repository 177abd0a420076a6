// The source of the present instant, for the checks that compare a note's dates with now: the
// system clock unless a host or a test gives another.
#pragma once

#include <chrono>
#include <functional>

namespace qor {

// Empty means the system clock.
using TRelogio = std::function<std::chrono::system_clock::time_point()>;

}  // namespace qor
