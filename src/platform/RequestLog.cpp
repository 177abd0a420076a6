#include "platform/RequestLog.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"

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
    throw EqorGovException("Nome inválido para arquivo de log (" + what + "): \"" +
                           QuoteForMessage(value) +
                           "\". Não pode conter separadores de pasta nem ser \".\" ou \"..\".");
  }
  // A file name holds at most 255 bytes; the counter of a taken name needs a few more.
  if (value.size() > 240) {
    throw EqorGovException("Nome inválido para arquivo de log (" + what + "): \"" +
                           QuoteForMessage(value) + "\". Longo demais (" +
                           std::to_string(value.size()) + " bytes; no máximo 240).");
  }
}

// `name` with the counter `n` after its id ("777~2-env-lot.xml"), or before its extension when
// it does not start with the id, so the kind's suffix and the log filters still match.
std::string Variant(const std::string& name, const std::string& id, int n) {
  const std::string mark = "~" + std::to_string(n);
  if (!id.empty() && name.size() > id.size() && name.compare(0, id.size(), id) == 0 &&
      name[id.size()] == '-') {
    return id + mark + name.substr(id.size());
  }
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name + mark
                                              : name.substr(0, dot) + mark + name.substr(dot);
}

// Creates the log under `name` or the first free variant of it; never replaces a file.
std::string CreateUnder(TFileSystem& files, const std::string& dir, const std::string& name,
                        const std::string& id, const std::string& content) {
  constexpr int kMaxVariants = 100000;
  for (int n = 1; n <= kMaxVariants; ++n) {
    const std::string candidate = n == 1 ? name : Variant(name, id, n);
    RequirePlain("arquivo", candidate);
    if (files.CreateNewFile(dir + candidate, content)) return candidate;
  }
  throw EqorGovException("Não há nome livre para o arquivo de log \"" + dir + name + "\".");
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
    TFileSystem& files = files_ != nullptr ? *files_ : TFileSystem::Default();
    files.CreateDirectories(dir);
    name = CreateUnder(files, dir, name, id, content);
  }
  if (OnLog) OnLog(kind, id, name);
  if (OnLogContent) OnLogContent(kind, id, name, content);
  return name;
}

}  // namespace qor
