#include "platform/RequestLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <vector>

#include "platform/Files.h"
#include "platform/GovException.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;

struct Call {
  std::string kind, id, fileName, content;
};

// A log with both events recorded, so a test sees what a host would see.
struct RecordedLog {
  TRequestLog log;
  std::vector<Call> calls;
  std::vector<Call> contentCalls;
  RecordedLog() {
    log.OnLog = [this](const std::string& k, const std::string& i, const std::string& f) {
      calls.push_back({k, i, f, ""});
    };
    log.OnLogContent = [this](const std::string& k, const std::string& i, const std::string& f,
                              const std::string& c) {
      contentCalls.push_back({k, i, f, c});
    };
  }
};

TEST(RequestLog, WritesIdKindFileInAFolderMadeWithParentsAndRunsTheEvents) {
  TempDir tmp;
  RecordedLog r;
  const std::string dir = tmp / "Log\\sub\\";
  const std::string key = "35191212345678000190650010000000011000000010";
  EXPECT_EQ(r.log.Log("<enviNFe/>", "env-lot", key, "", dir), key + "-env-lot.xml");
  EXPECT_EQ(ReadFile(tmp / "Log/sub/" + key + "-env-lot.xml"), "<enviNFe/>");

  // A batch sent again is logged beside the first, never over it, and the kind's filter
  // still finds both.
  EXPECT_EQ(r.log.Log("<enviNFe>2</enviNFe>", "env-lot", key, "", dir), key + "~2-env-lot.xml");
  EXPECT_EQ(ReadFile(tmp / "Log/sub/" + key + "-env-lot.xml"), "<enviNFe/>");
  EXPECT_EQ(ReadFile(tmp / "Log/sub/" + key + "~2-env-lot.xml"), "<enviNFe>2</enviNFe>");
  EXPECT_EQ(ListFiles(tmp / "Log/sub", "*-env-lot.xml").size(), 2u);

  EXPECT_EQ(r.log.Log("<x/>", "rec", "", "escolhido.xml", dir), "escolhido.xml");
  EXPECT_EQ(ReadFile(tmp / "Log/sub/escolhido.xml"), "<x/>");

  ASSERT_EQ(r.calls.size(), 3u);
  EXPECT_EQ(r.calls[0].kind, "env-lot");
  EXPECT_EQ(r.calls[0].id, key);
  EXPECT_EQ(r.calls[2].fileName, "escolhido.xml");
  ASSERT_EQ(r.contentCalls.size(), 3u);
  EXPECT_EQ(r.contentCalls[1].content, "<enviNFe>2</enviNFe>");
}

TEST(RequestLog, LogsWithoutIdNeverOverwriteEachOther) {
  TempDir tmp;
  TRequestLog log;
  const std::string a = log.Log("<a/>", "ped-sta", "", "", tmp.path());
  const std::string b = log.Log("<b/>", "ped-sta", "", "", tmp.path());
  EXPECT_NE(a, b);
  EXPECT_EQ(ReadFile(tmp / a), "<a/>");
  EXPECT_EQ(ReadFile(tmp / b), "<b/>");
  // "YYYYMMDD-hhmmss-mmm-p<pid>-<n>-ped-sta.xml"
  const std::string shape = "99999999-999999-999-p";
  ASSERT_GT(a.size(), shape.size());
  for (std::size_t i = 0; i < shape.size(); ++i) {
    EXPECT_EQ(std::isdigit(static_cast<unsigned char>(a[i])) != 0, shape[i] == '9') << a;
  }
  EXPECT_EQ(a.substr(shape.size(), std::to_string(getpid()).size() + 1),
            std::to_string(getpid()) + "-")
      << a;
  EXPECT_TRUE(a.ends_with("-ped-sta.xml")) << a;
  EXPECT_NE(log.GetLogFileName("sta", ""), log.GetLogFileName("sta", ""));
}

TEST(RequestLog, IdsAndNamesThatLeaveTheFolderAreRefusedBeforeAnythingIsWritten) {
  TempDir tmp;
  RecordedLog r;
  const std::string dir = tmp / "Log/";
  for (const std::string id : {"../x", "a/b", "..", "a\\b"}) {
    EXPECT_THROW(r.log.Log("<x/>", "sit", id, "", dir), EqorGovException) << id;
    EXPECT_THROW(r.log.GetLogFileName("sit", id), EqorGovException) << id;
  }
  EXPECT_THROW(r.log.Log("<x/>", "sit", "", "../fora.xml", dir), EqorGovException);
  EXPECT_THROW(r.log.Log("<x/>", "../sit", "", "", dir), EqorGovException);
  EXPECT_FALSE(DirectoryExists(dir));
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  EXPECT_TRUE(r.calls.empty());
  EXPECT_TRUE(r.contentCalls.empty());
}

TEST(RequestLog, SaveSwitchOffWritesNothingButStillRunsTheEvents) {
  TempDir tmp;
  RecordedLog r;
  r.log.Set_SaveLogToFile(false);
  EXPECT_FALSE(r.log.Get_SaveLogToFile());
  const std::string name = r.log.Log("<consSitNFe/>", "ped-sit", "123", "", tmp / "Log");
  EXPECT_EQ(name, "123-ped-sit.xml");
  EXPECT_FALSE(DirectoryExists(tmp / "Log"));
  ASSERT_EQ(r.contentCalls.size(), 1u);
  EXPECT_EQ(r.contentCalls[0].fileName, "123-ped-sit.xml");
  EXPECT_EQ(r.contentCalls[0].content, "<consSitNFe/>");
  EXPECT_EQ(r.calls.size(), 1u);
}

}  // namespace
}  // namespace qor
