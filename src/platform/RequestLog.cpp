#include "platform/RequestLog.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/GovException.h"

namespace qor {

namespace {

// Per process, shared by every log object: two components of one process writing in the same
// millisecond still get different stamps.
std::atomic<std::uint64_t> g_stampCounter{0};

std::string UniqueStamp() {
  const LocalTime now = NowLocal();
  const std::tm& local = now.tm;
  const long millis = now.millis;
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d-%02d%02d%02d-%03ld-p%lld-%llu",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, millis, static_cast<long long>(CurrentProcessId()),
                static_cast<unsigned long long>(++g_stampCounter));
  return buffer;
}

void RequirePlain(const std::string& what, const std::string& value) {
  if (!IsPlainFileName(value)) {
    throw EqorGovException("Nome inválido para arquivo de log (" + what + "): \"" + value +
                           "\". Não pode conter separadores de pasta nem ser \".\" ou \"..\".");
  }
}

}  // namespace

std::string TRequestLog::GetLogFileName(const std::string& kind, const std::string& id) const {
  RequirePlain("tipo", kind);
  if (!id.empty()) RequirePlain("identificador", id);
  const std::string name = (id.empty() ? UniqueStamp() : id) + "-" + kind + ".xml";
  RequirePlain("arquivo", name);
  return name;
}

std::string TRequestLog::Log(const std::string& content, const std::string& kind,
                             const std::string& id, const std::string& fileName,
                             const std::string& directory) {
  std::string name = fileName;
  if (name.empty()) {
    name = GetLogFileName(kind, id);
  } else {
    RequirePlain("arquivo", name);
  }
  if (save_) {
    // An empty folder means the component's own folder, like every other relative path.
    const std::string dir = IncludeTrailingSlash(ExpandPath(directory.empty() ? "./" : directory));
    if (!ForceDirectories(dir)) {
      throw EqorGovException("Não foi possível criar a pasta de log \"" + dir + "\".");
    }
    SaveToFile(dir + name, content);
  }
  if (OnLog) OnLog(kind, id, name);
  if (OnLogContent) OnLogContent(kind, id, name, content);
  return name;
}

}  // namespace qor
