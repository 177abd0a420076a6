#include "platform/Telemetria.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/GovException.h"

namespace qor {

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one (overlong
// forms, surrogates and code points past U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  auto cont = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
  unsigned char b = byte(0);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return cont(1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (b == 0xE0 && byte(1) < 0xA0) return 0;
    if (b == 0xED && byte(1) >= 0xA0) return 0;
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (b == 0xF0 && byte(1) < 0x90) return 0;
    if (b == 0xF4 && byte(1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}

// A JSON string literal. Messages may carry anything (a server's reply, text read from a file
// in another encoding), so bytes that are not UTF-8 become U+FFFD instead of breaking the line.
std::string JsonString(std::string_view s) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          std::size_t n = Utf8SequenceLength(s.substr(i));
          if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
          }
          out.append(s.substr(i, n));
          i += n;
          continue;
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

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
