// Eight components on eight threads, fifty notes each, through the offline road (TX2 to XML, the
// signature, the batch checked against its schema) and the simulator, every component writing
// into the same log and distribution folders, as a back office issuing for many tills does. The
// components share nothing mutable: every note is authorised once, every signature verifies, and
// no file is written twice or holds another note's data. The suite also runs this test in a
// -fsanitize=thread build.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Xml.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

constexpr int kThreads = 8;
constexpr int kNotasPorThread = 50;

struct Resultado {
  std::vector<std::string> chaves;
  std::string falha;  // the first failure of the thread, empty when none
};

// The fifty notes of component `t`, numbered apart from every other component's.
void Emitir(const test::SimulatorRig& rig, int t, const std::string& modelo, Resultado& r) {
  TqorNFCe nfce;
  rig.Configure(nfce);
  try {
    for (int i = 0; i < kNotasPorThread; ++i) {
      std::string tx2 = modelo;
      const std::size_t at = tx2.find("nNF_B08=");
      tx2.replace(at, tx2.find('\n', at) - at, "nNF_B08=" + std::to_string(10000 + t * 1000 + i));
      const std::string nota = nfce.AssinarNota(
          nfce.ConverterLoteParaXml(tx2, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
      const std::string lote = std::to_string(t * 1000 + i + 1);
      nfce.ValidarXMLNFCe(
          "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">"
          "<idLote>" +
              lote + "</idLote><indSinc>1</indSinc>" + nota + "</enviNFe>",
          "ENVIO");
      const std::string resposta = nfce.EnviarNFSincrono(lote, nota, false);
      if (resposta.find("<cStat>100</cStat>") == std::string::npos) {
        r.falha = "nota " + std::to_string(i) + ": " + resposta;
        return;
      }
      r.chaves.push_back(GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3));
    }
  } catch (const std::exception& e) {
    r.falha = e.what();
  }
}

std::set<std::string> ChavesEm(const std::string& texto) {
  static const std::regex kChave("[0-9]{44}");
  std::set<std::string> chaves;
  for (auto it = std::sregex_iterator(texto.begin(), texto.end(), kChave);
       it != std::sregex_iterator(); ++it) {
    chaves.insert(it->str());
  }
  return chaves;
}

TEST(Concorrencia, EightComponentsOnEightThreadsShareNothingMutable) {
  QOR_NEEDS_SCHEMAS();
  test::SimulatorRig rig;
  const std::string modelo =
      LoadFromFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/nfce-um-item-dinheiro.tx2");
  std::vector<Resultado> resultados(kThreads);
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back(Emitir, std::cref(rig), t, std::cref(modelo),
                           std::ref(resultados[static_cast<std::size_t>(t)]));
    }
    for (std::thread& thread : threads) thread.join();
  }
  std::set<std::string> todas;
  for (const Resultado& r : resultados) {
    ASSERT_EQ(r.falha, "");
    ASSERT_EQ(r.chaves.size(), static_cast<std::size_t>(kNotasPorThread));
    todas.insert(r.chaves.begin(), r.chaves.end());
  }
  ASSERT_EQ(todas.size(), static_cast<std::size_t>(kThreads * kNotasPorThread));

  // One distribution file per note, naming no other note; its signature verifies.
  const std::string dest = rig.dir / "XmlDestinatario/";
  const std::vector<std::string> distribuicao = ListFiles(dest, "*.xml");
  ASSERT_EQ(distribuicao.size(), todas.size());
  std::string arquivos;
  for (const std::string& chave : todas) {
    const std::string arquivo = dest + chave + "-nfce.xml";
    ASSERT_TRUE(FileExists(arquivo)) << chave;
    const std::string xml = LoadFromFile(arquivo);
    EXPECT_EQ(ChavesEm(xml), std::set<std::string>{chave}) << arquivo;
    EXPECT_EQ(test::SignatureError(xml, "infNFe", test::SharedPki().caCert), "") << arquivo;
    arquivos += " '" + arquivo + "'";
  }
  // Every one validates against the official schema (one xmllint run for all of them).
  std::string saida;
  test::RunCommand("xmllint --noout --schema '" + test::SchemasFolder() + "/procNFe_v4.00.xsd'" +
                       arquivos + " 2>&1",
                   &saida);
  EXPECT_EQ(std::count(saida.begin(), saida.end(), '\n'), static_cast<long>(todas.size()));
  EXPECT_EQ(saida.find("fails"), std::string::npos) << saida;

  // Each note's logs: the same set of files for every note, each naming its own note only.
  std::map<std::string, std::vector<std::string>> logsPorChave;
  for (const std::string& nome : ListFiles(rig.dir / "Log/", "*")) {
    const std::set<std::string> noNome = ChavesEm(nome);
    if (noNome.size() != 1 || todas.count(*noNome.begin()) == 0) continue;
    const std::string& chave = *noNome.begin();
    std::string forma = nome;  // the name with the key left out
    forma.replace(forma.find(chave), chave.size(), "#");
    logsPorChave[chave].push_back(forma);
    const std::set<std::string> noTexto = ChavesEm(LoadFromFile(rig.dir / "Log/" + nome));
    for (const std::string& outra : noTexto) {
      EXPECT_TRUE(outra == chave || todas.count(outra) == 0) << nome << " holds " << outra;
    }
  }
  ASSERT_EQ(logsPorChave.size(), todas.size());
  const auto& primeiro = logsPorChave.begin()->second;
  ASSERT_FALSE(primeiro.empty());
  for (auto& [chave, sufixos] : logsPorChave) {
    std::sort(sufixos.begin(), sufixos.end());
    std::vector<std::string> esperado = primeiro;
    std::sort(esperado.begin(), esperado.end());
    EXPECT_EQ(sufixos, esperado) << chave;
  }
}

}  // namespace
}  // namespace qor
