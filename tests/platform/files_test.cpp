#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> AllEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Files, ExecutableDirIsTheFolderOfTheRunningProgram) {
  std::string out;
  ASSERT_EQ(test::RunCommand("readlink /proc/" + std::to_string(getpid()) + "/exe", &out), 0);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  EXPECT_EQ(ExecutableDir(), out.substr(0, out.find_last_of('/') + 1));
}

TEST(Files, ExpandPathResolvesRelativeAndDrivelessPathsAgainstTheExecutable) {
  const std::string exe = ExecutableDir();
  ASSERT_EQ(exe.back(), '/');
  EXPECT_EQ(ExpandPath("Log\\"), exe + "Log/");
  EXPECT_EQ(ExpandPath("\\Log"), exe + "Log");
  EXPECT_EQ(ExpandPath("\\Log\\"), exe + "Log/");
  EXPECT_EQ(ExpandPath("a\\..\\b"), exe + "b");
  EXPECT_EQ(ExpandPath("Log\\diagnosticmode\\\\nfce\\.\\"), exe + "Log/diagnosticmode/nfce/");
  EXPECT_EQ(ExpandPath("/abs/x"), "/abs/x");
  EXPECT_EQ(ExpandPath("/var/x/../y/"), "/var/y/");
  EXPECT_EQ(ExpandPath("/var/log\\nfce\\"), "/var/log/nfce/")
      << "an absolute path written with backslashes";
  EXPECT_EQ(ExpandPath("/.."), "/");
  EXPECT_EQ(ExpandPath(""), "");
  EXPECT_EQ(ExpandPathFrom("a/../b\\c", "/base/dir"), "/base/dir/b/c");
  EXPECT_EQ(ExpandPathFrom("../../../x", "/base/dir/"), "/x");
}

TEST(Files, PathPieces) {
  EXPECT_EQ(NativePath("a\\b\\c"), "a/b/c");
  EXPECT_EQ(IncludeTrailingSlash(""), "");
  EXPECT_EQ(IncludeTrailingSlash("Log\\"), "Log/");
  EXPECT_EQ(IncludeTrailingSlash("/x"), "/x/");
  EXPECT_EQ(ExtractFileDir("a\\b/c.xml"), "a/b/");
  EXPECT_EQ(ExtractFileDir("c.xml"), "");
  EXPECT_EQ(ExtractFileName("a\\b/c.xml"), "c.xml");
  EXPECT_TRUE(IsPlainFileName("3519-env-lot.xml"));
  for (const std::string& bad :
       std::vector<std::string>{"", ".", "..", "a/b", "..\\x", std::string("a\0b", 3)}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
}

TEST(Files, SaveToFileReplacesContentWholeAndLeavesNoTemporaryFile) {
  TempDir tmp;
  const std::string path = tmp / "nota.xml";
  SaveToFile(path, std::string(100000, 'x'));
  SaveToFile(path, "<curto/>");
  EXPECT_EQ(LoadFromFile(path), "<curto/>");
  EXPECT_EQ(AllEntries(tmp.path()), std::vector<std::string>{"nota.xml"});

  SaveToFileUtf8(tmp / "bom.txt", "\xEF\xBB\xBFolá");
  EXPECT_EQ(ReadFile(tmp / "bom.txt"), "olá");

  // An existing file keeps its permissions across a replacement.
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  SaveToFile(path, "novo");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A write killed half-way leaves a temporary file (it may be a whole configuration with its
// secrets): the next process to write into that folder removes it once it is a minute old.
// Files that hold secrets are created for their owner only; an existing file keeps its mode and
// owner.
TEST(Files, StaleTemporariesGoAndPrivateFilesStayPrivate) {
  TempDir tmp;
  WriteFile(tmp / ".qor-tmp-velho", "[NFCE]\nSenhaCertificado=1234\n");
  WriteFile(tmp / ".qor-tmp-novo", "em gravação por outro processo");
  SetFileAge(tmp / ".qor-tmp-velho", std::chrono::system_clock::now() - std::chrono::minutes(2));
  SaveToFile(tmp / "a.txt", "a");
  EXPECT_EQ(AllEntries(tmp.path()), (std::vector<std::string>{".qor-tmp-novo", "a.txt"}));

  SavePrivateFile(tmp / "segredo.ini", "x");
  EXPECT_EQ(FileMode(tmp / "segredo.ini"), 0600);
  ASSERT_EQ(chmod((tmp / "segredo.ini").c_str(), 0640), 0);
  SavePrivateFile(tmp / "segredo.ini", "y");
  EXPECT_EQ(FileMode(tmp / "segredo.ini"), 0640);
  EXPECT_EQ(FileMode(tmp / "nada"), -1);
  if (geteuid() == 0) {  // only a privileged process can give a file away, or keep it given
    ASSERT_EQ(chown((tmp / "segredo.ini").c_str(), 4321, 4321), 0);
    SavePrivateFile(tmp / "segredo.ini", "z");
    struct stat st {};
    ASSERT_EQ(stat((tmp / "segredo.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4321u);
  }
}

// Exclusive creation: of many threads creating one name, exactly one succeeds, and the file is
// whole.
TEST(Files, CreateNewFileNeverReplaces) {
  TempDir tmp;
  std::atomic<int> criados{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      if (CreateNewFile(tmp / "log.xml", std::string(10000, static_cast<char>('a' + i)))) ++criados;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(criados.load(), 1);
  const std::string conteudo = ReadFile(tmp / "log.xml");
  EXPECT_EQ(conteudo, std::string(10000, conteudo.at(0)));
  EXPECT_EQ(AllEntries(tmp.path()), std::vector<std::string>{"log.xml"});
}

TEST(Files, FailedWritesThrowAndLeaveNothingBehind) {
  TempDir tmp;
  EXPECT_THROW(SaveToFile(tmp / "falta/nota.xml", "x"), EqorGovException);
  // The rename over a folder fails after the temporary file was written: it must be removed.
  ASSERT_TRUE(CreateDir(tmp / "pasta"));
  EXPECT_THROW(SaveToFile(tmp / "pasta", "x"), EqorGovException);
  EXPECT_EQ(AllEntries(tmp.path()), std::vector<std::string>{"pasta"});
  const std::string message =
      test::MessageOf<EqorGovException>([&] { LoadFromFile(tmp / "nada"); });
  EXPECT_NE(message.find(tmp / "nada"), std::string::npos) << message;
}

TEST(Files, AppendToFileCreatesTheFileAndNeverInterleavesWholeCalls) {
  TempDir tmp;
  const std::string path = tmp / "nfce_exception.log";
  AppendToFile(path, "primeira\n");
  AppendToFile(path, "segunda\n");
  EXPECT_EQ(ReadFile(path), "primeira\nsegunda\n");

  const std::string log = tmp / "concorrente.log";
  std::vector<std::thread> threads;
  for (char c = 'a'; c < 'e'; ++c) {
    threads.emplace_back([&log, c] {
      for (int i = 0; i < 200; ++i) AppendToFile(log, std::string(3000, c) + "\n");
    });
  }
  for (auto& t : threads) t.join();
  const std::string all = ReadFile(log);
  std::size_t lines = 0;
  for (std::size_t pos = 0; pos < all.size(); pos += 3001, ++lines) {
    const std::string line = all.substr(pos, 3001);
    ASSERT_EQ(line, std::string(3000, line[0]) + "\n") << "line " << lines;
  }
  EXPECT_EQ(lines, 800u);
}

TEST(Files, ListFilesFollowsShellMasks) {
  TempDir tmp;
  for (const char* name : {"b-ped-sta.xml", "a-sta.xml", "x.txt", "SEM-PONTO", "c-STA.XML"}) {
    WriteFile(tmp / name, "x");
  }
  ASSERT_TRUE(CreateDir(tmp / "d-sta.xml"));  // folders are not files
  EXPECT_EQ(ListFiles(tmp.path(), "*-ped-sta.xml"), std::vector<std::string>{"b-ped-sta.xml"});
  EXPECT_EQ(ListFiles(tmp.path(), "*-sta.xml"),
            (std::vector<std::string>{"a-sta.xml", "b-ped-sta.xml", "c-STA.XML"}));
  EXPECT_EQ(ListFiles(tmp.path(), "?-sta.xml"),
            (std::vector<std::string>{"a-sta.xml", "c-STA.XML"}));
  EXPECT_EQ(ListFiles(tmp.path(), "*.*").size(), 5u);
  EXPECT_TRUE(ListFiles(tmp / "nao-existe", "*").empty());
}

TEST(Files, FileSystemOperations) {
  TempDir tmp;
  EXPECT_TRUE(ForceDirectories(tmp / "a\\b\\c"));
  EXPECT_TRUE(DirectoryExists(tmp / "a/b/c"));
  EXPECT_FALSE(FileExists(tmp / "a/b/c"));
  EXPECT_FALSE(CreateDir(tmp / "x/y"));

  WriteFile(tmp / "de.txt", "conteúdo");
  WriteFile(tmp / "para.txt", "antigo");
  RenameFile(tmp / "de.txt", tmp / "para.txt");
  EXPECT_EQ(ReadFile(tmp / "para.txt"), "conteúdo");
  EXPECT_FALSE(FileExists(tmp / "de.txt"));
  EXPECT_THROW(RenameFile(tmp / "de.txt", tmp / "outro.txt"), EqorGovException);

  CopyFile(tmp / "para.txt", tmp / "a/copia.txt");
  EXPECT_EQ(ReadFile(tmp / "a/copia.txt"), "conteúdo");
  EXPECT_TRUE(DeleteFile(tmp / "a/copia.txt"));
  EXPECT_FALSE(DeleteFile(tmp / "a/copia.txt"));

  const auto when = std::chrono::system_clock::now() - std::chrono::hours(3);
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  SetFileAge(tmp / "para.txt", seconds);
  EXPECT_EQ(FileAge(tmp / "para.txt"), seconds);
  EXPECT_THROW(FileAge(tmp / "nada"), EqorGovException);
}

TEST(Files, SpecialFoldersAndProcess) {
  TempDir tmp;
  ASSERT_EQ(setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1), 0);
  EXPECT_EQ(GetSpecialDirectories(2), tmp / "qornfce/");
  EXPECT_EQ(GetSpecialDirectories(0), ExecutableDir());
  EXPECT_EQ(GetSpecialDirectories(1), GetTempDir() + "qornfce/");
  EXPECT_THROW(GetSpecialDirectories(4), EqorGovException);
  unsetenv("XDG_CONFIG_HOME");

  EXPECT_EQ(CurrentThreadId(), CurrentProcessId());  // gtest runs on the main thread
  std::int64_t other = 0;
  std::thread([&other] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, CurrentProcessId());
}

}  // namespace
}  // namespace qor
