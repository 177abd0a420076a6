#include "platform/Telemetria.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"

namespace qor {

namespace {

struct Stamp {
  std::string iso;   // 2026-12-07T02:44:32.123-03:00
  std::string date;  // 20261207
};

Stamp Now() {
  const LocalTime now = NowLocal();
  const std::tm& local = now.tm;
  const int millis = now.millis;
  char date[16];
  char time[32];
  char zone[8];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +hhmm
  std::string offset = zone;
  if (offset.size() == 5) offset.insert(3, ":");
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", millis);
  return Stamp{std::string(time) + ms + offset, date};
}

std::mutex g_instanceMutex;
std::unique_ptr<TqorTelemetria> g_instance;

}  // namespace

void TqorTelemetria::Evento(const std::string& folder, const std::string& cnpj,
                            const std::string& produto, const std::string& evento,
                            const std::string& versao, const std::string& classe,
                            const std::string& mensagem) {
  if (folder.empty()) throw EqorGovException("Pasta de telemetria não informada.");
  const std::string dir = IncludeTrailingSlash(ExpandPath(folder));
  const Stamp stamp = Now();
  std::string line = "{\"dataHora\":" + JsonString(stamp.iso) +
                     ",\"pid\":" + std::to_string(CurrentProcessId()) +
                     ",\"tid\":" + std::to_string(CurrentThreadId()) +
                     ",\"cnpj\":" + JsonString(cnpj) + ",\"produto\":" + JsonString(produto) +
                     ",\"evento\":" + JsonString(evento) + ",\"versao\":" + JsonString(versao);
  if (!classe.empty() || !mensagem.empty()) {
    line += ",\"classe\":" + JsonString(classe) + ",\"mensagem\":" + JsonString(mensagem);
  }
  line += "}\n";

  // No lock: the line goes out in one write(2) on a file opened with O_APPEND, which the kernel
  // appends whole, as it must anyway for the other processes (tills) writing the same day's file.
  // Components on several threads therefore never wait for each other here.
  if (!ForceDirectories(dir)) {
    throw EqorGovException("Não foi possível criar a pasta de telemetria \"" + dir + "\".");
  }
  AppendToRegularFile(dir + "telemetria-" + stamp.date + ".jsonl", line);
}

TqorTelemetria& GetTelemetria() {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  if (!g_instance) g_instance = std::make_unique<TqorTelemetria>();
  return *g_instance;
}

void FreeTelemetria() {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  g_instance.reset();
}

}  // namespace qor
