// `qornfce contingencia` as separate processes on one queue: the lock between transmitters,
// and a transmitter killed with SIGKILL at random instants, after which a restart ends every note
// authorised exactly once with no file left half-written.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "NoteStore.h"
#include "Simulator.h"
#include "contingency/TqorContingencia.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/SimulatorFixture.h"

extern char** environ;

namespace qor {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::WriteFile;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kBin = QORNFCE_BIN_DIR;
const std::string kJust = "Sem acesso ao servico da SEFAZ";

// A qornfce process of the test's own, so it can be killed and waited for.
class Processo {
 public:
  Processo(const std::vector<std::string>& args, const std::string& saida) {
    std::vector<std::string> todos{kBin + "/qornfce"};
    todos.insert(todos.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : todos) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&acoes, 2, (saida + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &acoes, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&acoes);
  }
  ~Processo() {
    if (pid_ > 0 && !terminado_) {
      ::kill(pid_, SIGKILL);
      Esperar();
    }
  }
  bool Iniciado() const { return pid_ > 0; }
  void Matar(int sinal = SIGKILL) { ::kill(pid_, sinal); }
  // The exit status, or -signal.
  int Esperar() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    terminado_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  bool Terminou() {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) terminado_ = true;
    return terminado_;
  }

 private:
  pid_t pid_ = -1;
  bool terminado_ = false;
};

class ContingenciaCli : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    test::SimulatorRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fila = rig->dir / "fila/";
    ini = rig->dir / "nfceConfig.ini";
    nfce.SaveConfig(ini);
    contingencia = std::make_unique<TqorContingencia>(nfce, fila);
  }
  std::string Nota(int nNF) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    WriteFile(rig->dir / "nota.tx2", tx2);
    return nfce.ConverterLoteParaXml(rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet,
                                     TVersaoEsquema::pl_009g);
  }
  std::vector<std::string> Args(std::initializer_list<std::string> acao) const {
    std::vector<std::string> args{"contingencia"};
    args.insert(args.end(), acao.begin(), acao.end());
    for (const std::string& a : {std::string("--fila"), fila, std::string("--config"), ini}) {
      args.push_back(a);
    }
    return args;
  }
  std::string Linha(std::initializer_list<std::string> acao) const {
    std::string linha;
    for (const std::string& a : Args(acao)) linha += " '" + a + "'";
    return linha;
  }
  // Every entry file of every state folder, read back: the folder of each key, and the files
  // that are not whole entries.
  void Inventario(std::map<std::string, std::vector<std::string>>& pastas,
                  std::vector<std::string>& ruins) const {
    for (TEstadoContingencia estado : EstadosContingencia()) {
      for (const std::string& nome : ListFiles(fila + PastaEstado(estado), "*.xml")) {
        try {
          const auto e =
              TFilaContingencia::Decodificar(ReadFile(fila + PastaEstado(estado) + "/" + nome));
          pastas[e.chave].push_back(PastaEstado(estado));
        } catch (const std::exception& erro) {
          ruins.push_back(nome + ": " + erro.what());
        }
      }
    }
  }

  std::string fila, ini;
  std::unique_ptr<TqorContingencia> contingencia;
};

TEST_F(ContingenciaCli, SecondTransmitterReturnsAtOnceAndWatcherWaitsForTheLock) {
  WriteFile(rig->dir / "nota.xml", Nota(71));
  // emitir needs no lock: it works while a transmitter holds the queue.
  ASSERT_TRUE(ForceDirectories(fila));
  auto trava = TFileLock::TryAcquire(fila + "fila.lock");
  ASSERT_NE(trava, nullptr);
  const test::CliRun emitida =
      test::Cli(Linha({"emitir", rig->dir / "nota.xml", "--justificativa", kJust}), rig->dir);
  ASSERT_EQ(emitida.status, 0) << emitida.err;
  EXPECT_THAT(emitida.out, StartsWith("<NFe"));
  const std::string chave = ChaveDe(emitida.out);

  const int antes = rig->simulator->RequestCount();
  const test::CliRun ocupada = test::Cli(Linha({"transmitir"}), rig->dir);
  EXPECT_EQ(ocupada.status, 0) << ocupada.err;
  EXPECT_EQ(ocupada.out, "fila em uso por outro processo\n");
  EXPECT_EQ(rig->simulator->RequestCount(), antes);

  Processo vigia(Args({"transmitir", "--vigiar", "1"}), rig->dir / "vigia.out");
  ASSERT_TRUE(vigia.Iniciado());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(vigia.Terminou()) << "waits for the lock";
  EXPECT_EQ(rig->simulator->RequestCount(), antes);
  trava.reset();
  EXPECT_EQ(vigia.Esperar(), 0) << ReadFile(rig->dir / "vigia.out.err");
  EXPECT_THAT(ReadFile(rig->dir / "vigia.out"), StartsWith("enviadas 1, autorizadas 1,"));
  EXPECT_EQ(ReadFile(rig->dir / "vigia.out.err"), "") << "no progress when stderr is a file";
  EXPECT_TRUE(FileExists(fila + "autorizadas/" + chave + ".xml"));

  const test::CliRun json = test::Cli(Linha({"listar", "--json"}), rig->dir);
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_THAT(json.out, HasSubstr("\"chave\": \"" + chave + "\", \"estado\": \"autorizada\""));
  const test::CliRun curta =
      test::Cli(Linha({"emitir", rig->dir / "nota.xml", "--justificativa", "curta"}), rig->dir);
  EXPECT_EQ(curta.status, 1);
  EXPECT_THAT(curta.err, HasSubstr("de 15 a 256 caracteres"));
  EXPECT_EQ(test::Cli(Linha({"emitir", rig->dir / "nota.xml"}), rig->dir).status, 2);
}

// A watcher keeps trying while the service is down, and SIGTERM ends it cleanly between tries.
TEST_F(ContingenciaCli, WatcherStopsCleanlyOnSigterm) {
  const std::string chave = ChaveDe(contingencia->EmitirOffline(Nota(72), kJust));
  rig->simulator->SetOutage(sim::SimulatorOutage::RefuseConnections);
  Processo vigia(Args({"transmitir", "--vigiar", "1"}), rig->dir / "vigia.out");
  ASSERT_TRUE(vigia.Iniciado());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(vigia.Terminou()) << "a pending note keeps it watching";
  vigia.Matar(SIGTERM);
  EXPECT_EQ(vigia.Esperar(), 0) << ReadFile(rig->dir / "vigia.out.err");
  EXPECT_THAT(ReadFile(rig->dir / "vigia.out"),
              AllOf(HasSubstr("pendentes 1, em verificação 0"), HasSubstr("(interrompida)")));
  EXPECT_THAT(ReadFile(rig->dir / "vigia.out.err"), HasSubstr("não foi possível conectar"));
  EXPECT_EQ(
      TFilaContingencia::Decodificar(ReadFile(fila + "pendentes/" + chave + ".xml")).tentativas, 1);
}

// SIGKILL at random instants of a transmission, 20 times: no entry file is ever half-written or
// in two folders; the run after the last kill ends every note authorised, once, in the state's
// base as in the queue.
TEST_F(ContingenciaCli, KilledTransmitterLosesNothingAndSendsNothingTwice) {
  constexpr int kNotas = 40;
  std::vector<std::string> chaves;
  for (int n = 1; n <= kNotas; ++n) {
    chaves.push_back(ChaveDe(contingencia->EmitirOffline(Nota(800 + n), kJust)));
  }
  // How long a process takes to start sending (one request to the state, whose libraries, TLS
  // and all, a command that does not send never loads): the kills fall around then.
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(test::Cli("--config '" + ini + "' status", rig->dir).status, 0);
  const int partida = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count());
  const unsigned semente = std::random_device{}();
  SCOPED_TRACE("semente " + std::to_string(semente) + ", partida " + std::to_string(partida) +
               " ms");
  std::mt19937 aleatorio(semente);
  std::uniform_int_distribution<int> instante(partida / 2, partida + 250);
  int mortesNoMeio = 0;
  std::size_t autorizadasAntes = 0;
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE("execução " + std::to_string(run));
    Processo p(Args({"transmitir"}), rig->dir / "transmitir.out");
    ASSERT_TRUE(p.Iniciado());
    std::this_thread::sleep_for(std::chrono::milliseconds(instante(aleatorio)));
    p.Matar();
    p.Esperar();
    std::map<std::string, std::vector<std::string>> pastas;
    std::vector<std::string> ruins;
    Inventario(pastas, ruins);
    EXPECT_EQ(ruins, std::vector<std::string>{});
    ASSERT_EQ(pastas.size(), chaves.size()) << "no note lost";
    std::size_t autorizadas = 0;
    for (const auto& [chave, onde] : pastas) {
      EXPECT_EQ(onde.size(), 1u) << chave;
      EXPECT_THAT(onde, ::testing::Each(::testing::AnyOf("pendentes", "autorizadas"))) << chave;
      autorizadas += onde[0] == "autorizadas" ? 1 : 0;
    }
    if (autorizadas > autorizadasAntes && autorizadas < chaves.size()) ++mortesNoMeio;
    autorizadasAntes = autorizadas;
  }
  EXPECT_GT(mortesNoMeio, 0) << "some kills must fall in the middle of a transmission";

  Processo final(Args({"transmitir"}), rig->dir / "final.out");
  ASSERT_EQ(final.Esperar(), 0) << ReadFile(rig->dir / "final.out.err");
  EXPECT_THAT(ReadFile(rig->dir / "final.out"), HasSubstr("pendentes 0, em verificação 0"));
  std::map<std::string, std::vector<std::string>> pastas;
  std::vector<std::string> ruins;
  Inventario(pastas, ruins);
  EXPECT_EQ(ruins, std::vector<std::string>{});
  for (const std::string& chave : chaves) {
    EXPECT_EQ(pastas[chave], std::vector<std::string>{"autorizadas"}) << chave;
    const auto registrada = rig->simulator->Notas().Buscar(chave);
    EXPECT_TRUE(registrada && registrada->cStat == "100" && !registrada->Cancelada()) << chave;
  }
  EXPECT_EQ(rig->simulator->Notas().Quantidade(), chaves.size());
  std::string validas;
  RunCommand("cd '" + rig->dir / "XmlDestinatario" + "' && xmllint --noout --schema '" +
                 test::SchemasFolder() +
                 "/procNFe_v4.00.xsd' *-nfce.xml 2>&1 | grep -c ' validates$'",
             &validas);
  EXPECT_EQ(Trim(validas), std::to_string(chaves.size()));
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*-nfce.xml").size(), chaves.size());
}

}  // namespace
}  // namespace qor
