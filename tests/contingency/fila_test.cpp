// The queue's files: what a record keeps, how a damaged one is recognised and moved aside (never
// deleted), that a failed write leaves nothing, and the lock two processes share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contingency/FilaContingencia.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kChave = "35261211222333000181650010000010019102938476";

TEntradaContingencia Entrada(const std::string& chave = kChave) {
  TEntradaContingencia e;
  e.chave = chave;
  e.nota = "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe Id=\"NFe" + chave +
           "\" versao=\"4.00\"><ide><xJust>Sem conex&#227;o &amp; sem sinal</xJust></ide>"
           "</infNFe></NFe>";
  e.emitidaEm = DeSegundos(1796649300);
  e.registradaEm = DeSegundos(1796649360);
  e.tentativas = 3;
  e.proximaTentativa = DeSegundos(1796649480);
  e.cStat = "539";
  e.xMotivo = "Rejeição: \"aspas\" & <sinais>";
  e.chaveRelacionada = std::string(44, '7');
  e.nProt = "135260000000001";
  return e;
}

TEST(FilaContingencia, RecordKeepsEveryFieldAndTheNoteByteForByte) {
  const TEntradaContingencia e = Entrada();
  const TEntradaContingencia lida = TFilaContingencia::Decodificar(TFilaContingencia::Codificar(e));
  EXPECT_EQ(lida.chave, e.chave);
  EXPECT_EQ(lida.nota, e.nota);
  EXPECT_EQ(lida.emitidaEm, e.emitidaEm);
  EXPECT_EQ(lida.registradaEm, e.registradaEm);
  EXPECT_EQ(lida.tentativas, 3);
  EXPECT_EQ(lida.proximaTentativa, e.proximaTentativa);
  EXPECT_EQ(lida.cStat, "539");
  EXPECT_EQ(lida.xMotivo, e.xMotivo);
  EXPECT_EQ(lida.chaveRelacionada, e.chaveRelacionada);
  EXPECT_EQ(lida.nProt, e.nProt);
}

// Each way a file can be damaged is recognised on reading, moved into danificadas/ with its
// bytes intact, and reported; the whole entry beside it is read as usual.
TEST(FilaContingencia, DamagedFilesAreMovedAsideNeverDeleted) {
  const std::string bom = TFilaContingencia::Codificar(Entrada());
  std::string alterada = bom;
  alterada.replace(alterada.find("sem sinal"), 3, "com");
  std::string outraChave = bom;
  outraChave.replace(outraChave.find("chave=\"") + 7, 44, std::string(44, '1'));
  struct Caso {
    std::string nome, texto, motivo;
  };
  const Caso casos[] = {
      {"cortada", bom.substr(0, bom.size() / 2), "XML inválido"}, {"vazia", "", "XML inválido"},
      {"alterada", alterada, "SHA-1 da NFe não confere"},         {"outra-raiz", "<NFe/>", "raiz"},
      {"id-diferente", outraChave, "não corresponde à chave"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nome);
    TempDir dir;
    TFilaContingencia fila(dir / "fila", nullptr);
    fila.Preparar();
    const std::string outra = std::string(43, '3') + "1";
    TEntradaContingencia inteira = Entrada(outra);
    fila.Gravar(inteira);
    // The damaged file under the name of a key.
    const std::string nome = kChave;
    WriteFile(dir / "fila/pendentes/" + nome + ".xml", caso.texto);
    std::vector<TArquivoDanificado> danificados;
    const auto entradas = fila.Ler(TEstadoContingencia::ecPendente, danificados, true);
    ASSERT_EQ(entradas.size(), 1u);
    EXPECT_EQ(entradas[0].chave, outra);
    ASSERT_EQ(danificados.size(), 1u);
    EXPECT_THAT(danificados[0].motivo, HasSubstr(caso.motivo));
    EXPECT_EQ(danificados[0].arquivo, dir / "fila/danificadas/" + nome + ".xml");
    EXPECT_EQ(ReadFile(danificados[0].arquivo), caso.texto);
    EXPECT_FALSE(FileExists(dir / "fila/pendentes/" + nome + ".xml"));
    // A second damaged file of the same name does not replace the first one.
    WriteFile(dir / "fila/pendentes/" + nome + ".xml", caso.texto + " ");
    danificados.clear();
    fila.Ler(TEstadoContingencia::ecPendente, danificados, true);
    ASSERT_EQ(danificados.size(), 1u);
    EXPECT_EQ(danificados[0].arquivo, dir / "fila/danificadas/" + nome + ".xml.1");
    EXPECT_EQ(ListFiles(dir / "fila/danificadas/", "*").size(), 2u);
  }
}

TEST(FilaContingencia, MovingIsARenameThatCarriesTheNewRecord) {
  TempDir dir;
  TFilaContingencia fila(dir / "fila", nullptr);
  fila.Preparar();
  TEntradaContingencia e = Entrada();
  e.estado = TEstadoContingencia::ecPendente;
  fila.Gravar(e);
  e.cStat = "100";
  e.nProt = "135260000000777";
  fila.Mover(e, TEstadoContingencia::ecAutorizada);
  EXPECT_FALSE(FileExists(dir / "fila/pendentes/" + kChave + ".xml"));
  EXPECT_EQ(e.arquivo, dir / "fila/autorizadas/" + kChave + ".xml");
  TEstadoContingencia onde;
  ASSERT_TRUE(fila.Localizar(kChave, onde));
  EXPECT_EQ(onde, TEstadoContingencia::ecAutorizada);
  const auto lida = TFilaContingencia::Decodificar(ReadFile(e.arquivo));
  EXPECT_EQ(lida.nProt, "135260000000777");
  EXPECT_EQ(lida.estado, TEstadoContingencia::ecAutorizada);
  EXPECT_EQ(ListFiles(dir / "fila/autorizadas/", ".*").size(), 0u) << "no temporary file left";
}

// A write the file seam refuses, and a folder that cannot exist: a clear failure, nothing
// written, and what was already there intact.
TEST(FilaContingencia, FailedWritesLeaveNothingAndLoseNothing) {
  struct Recusa : TFileSystemWrapper {
    Recusa() : TFileSystemWrapper(TFileSystem::Default()) {}
    void SaveToFileDurable(const std::string& path, const std::string&) override {
      throw EqorGovException("Não foi possível gravar o arquivo \"" + path + "\": disco cheio");
    }
  } recusa;
  TempDir dir;
  TFilaContingencia boa(dir / "fila", nullptr);
  boa.Preparar();
  const TEntradaContingencia antiga = Entrada(std::string(43, '5') + "1");
  boa.Gravar(antiga);
  TFilaContingencia fila(dir / "fila", &recusa);
  EXPECT_THAT(test::MessageOf<EqorNFCeContingenciaException>([&] { fila.Gravar(Entrada()); }),
              HasSubstr("disco cheio"));
  EXPECT_EQ(ListFiles(dir / "fila/pendentes/", "*"),
            std::vector<std::string>{antiga.chave + ".xml"});
  EXPECT_EQ(
      TFilaContingencia::Decodificar(ReadFile(dir / "fila/pendentes/" + antiga.chave + ".xml"))
          .nota,
      antiga.nota);

  WriteFile(dir / "arquivo", "um arquivo comum");
  TFilaContingencia sobArquivo(dir / "arquivo/fila", nullptr);
  EXPECT_THAT(test::MessageOf<EqorNFCeContingenciaException>([&] { sobArquivo.Preparar(); }),
              HasSubstr("não foi possível criar a pasta"));
  EXPECT_THAT(test::MessageOf<EqorNFCeContingenciaException>([&] {
                TEntradaContingencia e = Entrada();
                e.chave = "../fora";
                boa.Gravar(e);
              }),
              HasSubstr("não é um nome de arquivo simples"));
}

// flock belongs to the open file: a second holder is refused even inside one process, and the
// lock comes free with its holder.
TEST(FilaContingencia, OneLockHolderAtATime) {
  TempDir dir;
  auto primeira = TFileLock::TryAcquire(dir / "fila.lock");
  ASSERT_NE(primeira, nullptr);
  EXPECT_EQ(TFileLock::TryAcquire(dir / "fila.lock"), nullptr);
  EXPECT_EQ(TFileLock::Acquire(dir / "fila.lock", std::chrono::milliseconds(120)), nullptr);
  primeira.reset();
  EXPECT_NE(TFileLock::Acquire(dir / "fila.lock", std::chrono::milliseconds(120)), nullptr);
}

TEST(FilaContingencia, OutageStartIsKeptUntilClosed) {
  TempDir dir;
  TFilaContingencia fila(dir / "fila", nullptr);
  fila.Preparar();
  TInstante inicio;
  EXPECT_FALSE(fila.InicioContingencia(inicio));
  fila.GravarInicioContingencia(DeSegundos(1796649000));
  ASSERT_TRUE(TFilaContingencia(dir / "fila", nullptr).InicioContingencia(inicio));
  EXPECT_EQ(inicio, DeSegundos(1796649000));
  fila.EncerrarContingencia();
  EXPECT_FALSE(fila.InicioContingencia(inicio));
}

}  // namespace
}  // namespace qor
