#include "platform/Telemetria.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/GovException.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

// Every line is parsed by Python's json module; the summary comes back one event per line, and
// the last event's message is written raw to `messageOut` for a byte-exact comparison.
std::string Summary(const std::string& file, const std::string& messageOut) {
  const std::string script =
      "import json,sys,datetime\n"
      "ev=[json.loads(l) for l in open(sys.argv[1],encoding='utf-8')]\n"
      "for e in ev:\n"
      "  datetime.datetime.fromisoformat(e['dataHora'])\n"
      "  print(e['pid'],e['evento'],e['cnpj'],e['produto'],e['versao'],e.get('classe','-'))\n"
      "open(sys.argv[2],'w',encoding='utf-8',newline='').write(ev[-1].get('mensagem',''))\n";
  WriteFile(messageOut + ".py", script);
  std::string out;
  int rc = test::RunCommand("python3 " + messageOut + ".py " + file + " " + messageOut, &out);
  EXPECT_EQ(rc, 0) << out;
  return out;
}

TEST(Telemetria, EachEventIsOneJsonLineInTheDailyFile) {
  TempDir tmp;
  const std::string folder = tmp / "Log\\diagnosticmode\\nfce\\";
  TqorTelemetria& t = GetTelemetria();
  EXPECT_EQ(&t, &GetTelemetria());
  t.Evento(folder, "12345678000190", "NFCE", "EnviarNF", "1.0.0.0");
  const std::string message = "Falha \"grave\" em C:\\Log\nsegunda linha\ttab\x01 ção \xff fim";
  t.Evento(folder, "00000000000000", "NFCE", "EnviarNF", "1.0.0.0", "EqorNFCeException", message);
  FreeTelemetria();

  const std::string file = tmp / "Log/diagnosticmode/nfce/telemetria-" + Today() + ".jsonl";
  ASSERT_TRUE(FileExists(file));
  const std::string pid = std::to_string(getpid());
  EXPECT_EQ(Summary(file, tmp / "mensagem"),
            pid + " EnviarNF 12345678000190 NFCE 1.0.0.0 -\n" + pid +
                " EnviarNF 00000000000000 NFCE 1.0.0.0 EqorNFCeException\n");
  // The byte that is not UTF-8 becomes U+FFFD; everything else arrives as it was.
  EXPECT_EQ(ReadFile(tmp / "mensagem"),
            "Falha \"grave\" em C:\\Log\nsegunda linha\ttab\x01 ção \xEF\xBF\xBD fim");
}

TEST(Telemetria, ConcurrentEventsStayWholeLines) {
  TempDir tmp;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&tmp, i] {
      for (int n = 0; n < 50; ++n) {
        GetTelemetria().Evento(tmp.path(), "1", "NFCE", "T" + std::to_string(i), "1", "E",
                               std::string(2000, static_cast<char>('a' + i)));
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::string summary = Summary(tmp / ("telemetria-" + Today() + ".jsonl"), tmp / "m");
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 200);
}

TEST(Telemetria, AnUnwritableFolderThrows) {
  TempDir tmp;
  WriteFile(tmp / "arquivo", "x");
  EXPECT_THROW(GetTelemetria().Evento(tmp / "arquivo/sub/", "1", "NFCE", "Status", "1"),
               EqorGovException);
  EXPECT_THROW(GetTelemetria().Evento("", "1", "NFCE", "Status", "1"), EqorGovException);
  // A folder whose daily file cannot be opened for appending.
  ASSERT_TRUE(ForceDirectories(tmp / ("d/telemetria-" + Today() + ".jsonl")));
  EXPECT_THROW(GetTelemetria().Evento(tmp / "d", "1", "NFCE", "Status", "1"), EqorGovException);
}

}  // namespace
}  // namespace qor
