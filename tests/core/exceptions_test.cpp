#include "base/Exceptions.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;

// The one line the family writes: "[dd/mm/YYYY hh:MM:ss:zzz] <thread> - <class> : <message>".
const std::regex kLine(R"(\[\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2}:\d{3}\] \d+ - (\w+) : (.*)\r\n)");

TEST(Exceptions, EachBranchWritesItsOwnLogOrNone) {
  TempDir dir;
  EqorNFCeCheckParamsException params("O campo UF está vazio.", dir.path());
  EqorNFCeDataSetConfigException dataset("Campo %s não encontrado", {"cUF_B02"}, dir.path());
  EqorDataSetException quiet("sem log", dir.path());
  EqorException root("sem log", dir.path());

  std::smatch match;
  const std::string nfce = ReadFile(dir / "nfce_exception.log");
  ASSERT_TRUE(std::regex_match(nfce, match, kLine)) << nfce;
  EXPECT_EQ(match[1], "EqorNFCeCheckParamsException");
  EXPECT_EQ(match[2], "O campo UF está vazio.");

  const std::string ds = ReadFile(dir / "nfceDataSets_exception.log");
  ASSERT_TRUE(std::regex_match(ds, match, kLine)) << ds;
  EXPECT_EQ(match[1], "EqorNFCeDataSetConfigException");
  EXPECT_EQ(match[2], "Campo cUF_B02 não encontrado");

  EXPECT_EQ(ListFiles(dir.path(), "*").size(), 2u)
      << "EqorException and EqorDataSetException log nothing";
  EXPECT_EQ(params.GetNomeLog(), "nfce_exception.log");
  EXPECT_EQ(dataset.GetNomeLog(), "nfceDataSets_exception.log");
  EXPECT_EQ(quiet.GetNomeLog(), "");
}

TEST(Exceptions, ClassTreeAllowsCatchingByBranch) {
  TempDir dir;
  try {
    throw EqorNFCeVersaoEsquemaInvalidaException("x", dir.path());
  } catch (const EqorNFCeDataSetsException& e) {
    EXPECT_EQ(e.ClassName(), "EqorNFCeVersaoEsquemaInvalidaException");
  }
  try {
    throw EqorCertStoreException("y", dir.path());
  } catch (const EqorNFCeException& e) {
    EXPECT_STREQ(e.what(), "y");
  }
  EXPECT_THROW(throw EqorDataSetException("z", dir.path()), EqorException);
  EXPECT_THROW(throw EqorException("z", dir.path()), std::runtime_error);
}

TEST(Exceptions, PlainConstructorKeepsPercentSignsAndLinesAppend) {
  TempDir dir;
  EqorNFCeException first("100% %s %d", dir.path());
  EqorNFCeException second("Servidor para %s não definido no arquivo: %s",
                           {"NfeStatusServico4", "a.ini"}, dir.path());
  EXPECT_STREQ(first.what(), "100% %s %d");
  const std::string log = ReadFile(dir / "nfce_exception.log");
  EXPECT_NE(log.find(" : 100% %s %d\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" : Servidor para NfeStatusServico4 não definido no arquivo: a.ini\r\n"),
            std::string::npos);
}

TEST(Exceptions, EmptyFolderMeansTheExecutablesFolder) {
  const std::string log = ExecutableDir() + "nfce_exception.log";
  const std::string before = test::ReadFile(log);
  EqorNFCeEventoException e("linha de teste sem pasta", "");
  const std::string after = test::ReadFile(log);
  ASSERT_GT(after.size(), before.size());
  EXPECT_NE(after.find("EqorNFCeEventoException : linha de teste sem pasta"), std::string::npos);
  if (before.empty()) DeleteFile(log);
}

TEST(Exceptions, UnwritableLogFolderDoesNotHideTheFailure) {
  EqorNFCeException e("a mensagem chega ao chamador", "/proc/nao-existe/");
  EXPECT_STREQ(e.what(), "a mensagem chega ao chamador");
}

}  // namespace
}  // namespace qor
