// The local wall-clock time, broken down, with milliseconds: one reading shared by every stamp
// the component writes (log names, exception lines, telemetry).
//
// Thread-safe.
#pragma once

#include <ctime>

namespace qor {

struct LocalTime {
  std::tm tm{};    // local calendar time (tm_year from 1900, tm_mon from 0)
  int millis = 0;  // 0..999
};

LocalTime NowLocal();

}  // namespace qor
