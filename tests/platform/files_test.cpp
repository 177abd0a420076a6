#include "platform/Files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/RequestLog.h"
#include "platform/Telemetria.h"
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

TEST(InstallationFolders, ExecutableFolderWithDataKeepsBothRootsElseEnvironmentThenDefaults) {
  TempDir tmp;
  const std::string comDados = tmp / "programa/";
  const std::string semDados = tmp / "bin/";
  ASSERT_TRUE(ForceDirectories(comDados + "Templates"));
  ASSERT_TRUE(ForceDirectories(semDados));
  const std::string instalado = "/usr/share/qornfce";
  struct Caso {
    std::string exe;
    std::map<std::string, std::string> env;
    std::string data, home;
  };
  const std::vector<Caso> casos = {
      // A folder holding the installation data is both roots, whatever the environment says.
      {comDados, {{"QORNFCE_DATA", "/d"}, {"QORNFCE_HOME", "/h"}}, comDados, comDados},
      {semDados,
       {{"HOME", "/home/loja"}},
       "/usr/share/qornfce/",
       "/home/loja/.local/share/qornfce/"},
      {semDados, {}, "/usr/share/qornfce/", "/.local/share/qornfce/"},
      {semDados,
       {{"HOME", "/home/loja"}, {"XDG_DATA_HOME", "/xdg\\"}},
       "/usr/share/qornfce/",
       "/xdg/qornfce/"},
      {semDados,
       {{"QORNFCE_DATA", "/opt/q/share/"},
        {"QORNFCE_HOME", "/srv/caixa/../caixa1"},
        {"XDG_DATA_HOME", "/xdg"}},
       "/opt/q/share/",
       "/srv/caixa1/"},
      // Empty variables count as unset; a relative one is the caller's current folder's.
      {semDados,
       {{"QORNFCE_DATA", ""}, {"QORNFCE_HOME", ""}, {"XDG_DATA_HOME", "/xdg"}},
       "/usr/share/qornfce/",
       "/xdg/qornfce/"},
      {semDados,
       {{"QORNFCE_HOME", "caixa"}},
       "/usr/share/qornfce/",
       std::filesystem::current_path().string() + "/caixa/"},
  };
  for (const Caso& caso : casos) {
    const InstallationFolders folders = ResolveInstallationFolders(
        caso.exe,
        [&](const char* nome) -> const char* {
          const auto it = caso.env.find(nome);
          return it == caso.env.end() ? nullptr : it->second.c_str();
        },
        instalado);
    EXPECT_EQ(folders.data, caso.data) << caso.exe << " " << caso.env.size();
    EXPECT_EQ(folders.home, caso.home) << caso.exe << " " << caso.env.size();
  }
  EXPECT_FALSE(std::filesystem::exists(tmp / "xdg")) << "deciding creates nothing";
  // This test program lies in the build tree, beside the data: relative paths resolve there.
  EXPECT_EQ(DataDir(), ExecutableDir());
  EXPECT_EQ(HomeDir(), ExecutableDir());
  EXPECT_EQ(ExpandDataPath("Templates\\vm60"), ExecutableDir() + "Templates/vm60");
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

  // A new file gets what a plain open(..., 0666) gives under the process's umask, on every road
  // that creates one; a file that holds secrets is its owner's alone whatever the umask.
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    const mode_t before = ::umask(mask);
    const int expected = static_cast<int>(0666 & ~mask);
    const std::string tag = std::to_string(mask);
    SaveToFile(tmp / ("salvo" + tag), "x");
    EXPECT_TRUE(CreateNewFile(tmp / ("criado" + tag), "x"));
    TFileSystem().SaveToFile(tmp / ("sistema" + tag), "x");
    SavePrivateFile(tmp / ("privado" + tag), "x");
    ::umask(before);
    EXPECT_EQ(FileMode(tmp / ("salvo" + tag)), expected) << mask;
    EXPECT_EQ(FileMode(tmp / ("criado" + tag)), expected) << mask;
    EXPECT_EQ(FileMode(tmp / ("sistema" + tag)), expected) << mask;
    EXPECT_EQ(FileMode(tmp / ("privado" + tag)), 0600) << mask;
  }
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
  EXPECT_EQ(TryFileAge(tmp / "para.txt"), seconds);
  EXPECT_EQ(TryFileAge(tmp / "nada"), std::nullopt);
  EXPECT_EQ(TryFileAge(""), std::nullopt);
}

// A settings file read on every operation is read again whenever it may have changed: edited in
// place (even with its modification time put back), replaced, removed; only a file that stood
// still for a second is shared.
TEST(Files, SharedFileTextIsReadAgainWhenTheFileMayHaveChanged) {
  TempDir tmp;
  const std::string emLugar = tmp / "em-lugar.ini", trocado = tmp / "trocado.ini";
  WriteFile(emLugar, "[A]\nx=1\n");
  WriteFile(trocado, "[B]\ny=1\n");
  struct stat antes {};
  ASSERT_EQ(::stat(emLugar.c_str(), &antes), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // both settled

  const auto primeira = SharedFileText(emLugar);
  EXPECT_EQ(*primeira, "[A]\nx=1\n");
  EXPECT_EQ(SharedFileText(emLugar), primeira);  // unchanged: the text read before

  {  // the same size written in place, then its modification time put back as it was
    std::FILE* f = std::fopen(emLugar.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    std::fputs("[A]\nx=2\n", f);
    std::fclose(f);
    const timespec tempos[2] = {antes.st_atim, antes.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, emLugar.c_str(), tempos, 0), 0);
  }
  EXPECT_EQ(*SharedFileText(emLugar), "[A]\nx=2\n");  // just changed: read
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(*SharedFileText(emLugar), "[A]\nx=2\n");  // settled again: its stamp is another

  EXPECT_EQ(*SharedFileText(trocado), "[B]\ny=1\n");
  SaveToFile(trocado, "[B]\ny=2\n");  // a new file renamed over it
  EXPECT_EQ(*SharedFileText(trocado), "[B]\ny=2\n");

  ASSERT_TRUE(DeleteFile(trocado));
  EXPECT_EQ(SharedFileText(trocado), nullptr);
  EXPECT_EQ(SharedFileText(tmp.path()), nullptr);  // a folder
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

TEST(IniFile, ReadsCaseInsensitivelyWithTypedDefaults) {
  auto ini = TIniFile::FromText(
      "[NFCE]\r\nCNPJ = 12345678000190\r\nTimeOut=30000\r\nRuim=12a\r\nGrande=99999999999\r\n"
      "Ligado=true\r\nMenos=-1\r\nZero=0\r\nVazio=\r\n");
  EXPECT_EQ(ini->ReadString("nfce", "cnpj", "x"), "12345678000190");
  EXPECT_EQ(ini->ReadString("NFCE", "Vazio", "x"), "");
  EXPECT_EQ(ini->ReadString("NFCE", "Falta", "padrão"), "padrão");
  EXPECT_EQ(ini->ReadString("OUTRA", "CNPJ", "padrão"), "padrão");
  EXPECT_EQ(ini->ReadInteger("Nfce", "TIMEOUT", 0), 30000);
  EXPECT_EQ(ini->ReadInteger("NFCE", "Ruim", 7), 7);
  EXPECT_EQ(ini->ReadInteger("NFCE", "Grande", 7), 7);
  EXPECT_TRUE(ini->ReadBool("NFCE", "Ligado", false));
  EXPECT_TRUE(ini->ReadBool("NFCE", "Menos", false));
  EXPECT_FALSE(ini->ReadBool("NFCE", "Zero", true));
  EXPECT_TRUE(ini->ReadBool("NFCE", "CNPJ", false));
  EXPECT_TRUE(ini->ReadBool("NFCE", "Falta", true));
  EXPECT_TRUE(ini->SectionExists("nFcE"));
  EXPECT_TRUE(ini->ValueExists("NFCE", "vazio"));
  EXPECT_FALSE(ini->ValueExists("NFCE", "Falta"));
  EXPECT_TRUE(ini->FileName().empty());

  // Keys keep the case they were first written with.
  ini->WriteBool("nfce", "LIGADO", false);
  ini->WriteBool("MAIL", "Autenticacao", true);
  ini->WriteInteger("mail", "Porta", 587);
  EXPECT_NE(ini->Text().find("Ligado=0\n"), std::string::npos) << ini->Text();
  EXPECT_NE(ini->Text().find("[MAIL]\nAutenticacao=1\nPorta=587\n"), std::string::npos);
}

TEST(IniFile, FileBackedWritesReachTheDiskAtOnceKeepOtherLinesAndOtherObjectsWrites) {
  TempDir tmp;
  const std::string path = tmp / "nfceConfig.ini";
  const std::string cabecalho = "; configuração do caixa 3\n\n[NFCE]\n# certificado\n";
  const std::string integrador = "\n; integrador desligado\n[INTEGRADOR]\nAtivar=0\n";
  WriteFile(path, cabecalho + "CNPJ=12345678000190\n" + integrador);
  {
    TIniFile ini(path);
    ini.WriteString("NFCE", "UF", "SP");
    ini.WriteString("nfce", "cnpj", "99999999000191");
  }
  EXPECT_EQ(ReadFile(path), cabecalho + "CNPJ=99999999000191\nUF=SP\n" + integrador);
  EXPECT_EQ(AllEntries(tmp.path()), std::vector<std::string>{"nfceConfig.ini"});

  TIniFile again(path);
  EXPECT_EQ(again.ReadString("NFCE", "UF", ""), "SP");
  EXPECT_EQ(again.FileName(), path);

  // Two objects on one file do not revert each other; accented UTF-8 round trips.
  const std::string frase = "EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO – SEM VALOR FISCAL ✓";
  TIniFile other(path);
  again.WriteString("DANFCE", "FraseHomologacao", frase);
  other.WriteString("NFCE", "Ambiente", "2");
  TIniFile third(path);
  EXPECT_EQ(third.ReadString("DANFCE", "FraseHomologacao", ""), frase);
  EXPECT_EQ(third.ReadString("NFCE", "Ambiente", ""), "2");
  // A byte-order mark is ignored.
  WriteFile(tmp / "bom.ini", "\xEF\xBB\xBF[NFCE]\nUF=MG\n");
  EXPECT_EQ(TIniFile(tmp / "bom.ini").ReadString("NFCE", "UF", ""), "MG");
}

TEST(IniFile, SectionListingAndRemoval) {
  TempDir tmp;
  const std::string path = tmp / "s.ini";
  TIniFile ini(path);
  ini.WriteString("NFCE", "UF", "SP");
  ini.WriteString("NFCE", "Ambiente", "2");
  ini.WriteString("MAIL", "Porta", "25");
  TStrings list;
  list.Add("lixo");
  ini.ReadSections(list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"NFCE", "MAIL"}));
  ini.ReadSection("nfce", list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"UF", "Ambiente"}));
  ini.ReadSectionValues("NFCE", list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"UF=SP", "Ambiente=2"}));

  ini.DeleteKey("NFCE", "uf");
  ini.EraseSection("mail");
  EXPECT_EQ(ReadFile(path), "[NFCE]\nAmbiente=2\n");
  EXPECT_FALSE(TIniFile(path).SectionExists("MAIL"));
}

TEST(IniFile, RefusesWhatWouldCorruptTheFileAndUnreadablePaths) {
  TempDir tmp;
  const std::string path = tmp / "c.ini";
  TIniFile ini(path);
  ini.WriteString("NFCE", "UF", "SP");
  const std::string before = ReadFile(path);
  EXPECT_THROW(ini.WriteString("NFCE", "Mensagem", "linha1\n[NFCE]\nCNPJ=1"), EqorGovException);
  EXPECT_THROW(ini.WriteString("NFCE", "a=b", "x"), EqorGovException);
  EXPECT_THROW(ini.WriteString("NF]CE", "x", "x"), EqorGovException);
  EXPECT_THROW(ini.WriteString("", "x", "x"), EqorGovException);
  EXPECT_EQ(ReadFile(path), before);

  EXPECT_THROW(TIniFile{tmp.path()}, EqorGovException);  // a folder, not a file
  TIniFile missing(tmp / "novo.ini");
  EXPECT_FALSE(std::filesystem::exists(tmp / "novo.ini"));
  missing.WriteInteger("NFCE", "MaxSizeLoteEnvio", 500);
  EXPECT_EQ(ReadFile(tmp / "novo.ini"), "[NFCE]\nMaxSizeLoteEnvio=500\n");
}

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

// An id from outside (a batch number) too long for a file name is refused before anything is
// written, and no message quotes it whole; nor does a failed write quote a long path whole.
TEST(RequestLog, AnIdTooLongForAFileNameIsRefusedBriefly) {
  TempDir tmp;
  TRequestLog log;
  const std::string id(100000, '7');
  const std::string message = test::MessageOf<EqorGovException>(
      [&] { log.Log("<enviNFe/>", "env-lot", id, "", tmp / "Log"); });
  EXPECT_NE(message.find("Longo demais (100000 bytes; no máximo 240)"), std::string::npos);
  EXPECT_LT(message.size(), 400u);
  EXPECT_LT(test::MessageOf<EqorGovException>([&] { SaveToFile(tmp / id, "x"); }).size(), 400u);
  EXPECT_EQ(AllEntries(tmp.path()), std::vector<std::string>{});
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
