// Every file of tests/fuzz/corpus/<target>/ run through its target's body: the seeds, and each
// input that once made a target fail, stay answered (in the sanitizer build too).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Alvos.h"
#include "support/TempDir.h"

namespace qor::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = QORNFCE_FUZZ_CORPUS;

std::vector<fs::path> Arquivos(const fs::path& pasta) {
  std::vector<fs::path> arquivos;
  for (const auto& entrada : fs::directory_iterator(pasta)) {
    if (entrada.is_regular_file()) arquivos.push_back(entrada.path());
  }
  std::sort(arquivos.begin(), arquivos.end());
  return arquivos;
}

class Replay : public testing::TestWithParam<Alvo> {};

TEST_P(Replay, EveryCorpusFileIsAnswered) {
  const Alvo alvo = GetParam();
  const fs::path pasta = kCorpus / alvo.nome;
  ASSERT_TRUE(fs::is_directory(pasta)) << pasta;
  const auto arquivos = Arquivos(pasta);
  ASSERT_FALSE(arquivos.empty()) << "a target without seeds: " << pasta;
  const unsigned long antes = Respondidas();
  for (const fs::path& arquivo : arquivos) {
    const std::string conteudo = test::ReadFile(arquivo.string());
    ASSERT_EQ(fs::file_size(arquivo), conteudo.size()) << arquivo;
    EXPECT_EQ(alvo.corpo(reinterpret_cast<const uint8_t*>(conteudo.data()), conteudo.size()), 0)
        << arquivo;
  }
  EXPECT_GT(Respondidas(), antes) << "every seed of " << alvo.nome << " was refused";
}

INSTANTIATE_TEST_SUITE_P(Alvos, Replay, testing::ValuesIn(Alvos().begin(), Alvos().end()),
                         [](const testing::TestParamInfo<Alvo>& info) {
                           std::string nome = info.param.nome;
                           std::replace(nome.begin(), nome.end(), '-', '_');
                           return nome;
                         });

// The corpus has a folder for each target and nothing else, so that no folder is left unread.
TEST(Corpus, FoldersAreTheTargets) {
  std::set<std::string> pastas, alvos;
  for (const auto& entrada : fs::directory_iterator(kCorpus)) {
    pastas.insert(entrada.path().filename().string());
  }
  for (const Alvo& alvo : Alvos()) alvos.insert(alvo.nome);
  EXPECT_EQ(pastas, alvos);
}

}  // namespace
}  // namespace qor::fuzz
