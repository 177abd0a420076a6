#include "base/Exceptions.h"

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/InstallationFolders.h"

namespace qor {

EqorException::EqorException(Origin origin, const std::string& message, const std::string& logDir)
    : std::runtime_error(message), className_(origin.className), nomeLog_(origin.nomeLog) {
  if (!nomeLog_.empty()) AppendExceptionLog(logDir, nomeLog_, className_, message);
}

std::string ExceptionLogLine(const std::string& className, const std::string& message) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  const std::string stamp =
      Format("%2.2d/%2.2d/%4.4d %2.2d:%2.2d:%2.2d:%3.3d",
             {local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
              local.tm_sec, static_cast<long long>(millis)});
  return Format("[%s] %d - %s : %s", {stamp, CurrentThreadId(), className, message}) + "\r\n";
}

void AppendExceptionLog(const std::string& logDir, const std::string& fileName,
                        const std::string& className, const std::string& message) noexcept {
  try {
    const std::string folder =
        logDir.empty() ? HomeDir() : IncludeTrailingSlash(NativePath(logDir));
    AppendToFile(folder + fileName, ExceptionLogLine(className, message));
  } catch (...) {
    // Dropped on purpose: see the header.
  }
}

}  // namespace qor
