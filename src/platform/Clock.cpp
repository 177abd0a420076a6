#include "platform/Clock.h"

#include <chrono>

namespace qor {

LocalTime NowLocal() {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  LocalTime result;
  result.millis =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  localtime_r(&seconds, &result.tm);
  return result;
}

}  // namespace qor
