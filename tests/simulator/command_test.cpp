// qornfce-simulador as a user runs it: options, the files it leaves, a request from curl, and a
// clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

extern char** environ;

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SchemasFolder;
using test::TempDir;
using test::WriteFile;

const std::string kProgram = std::string(QORNFCE_BIN_DIR) + "/qornfce-simulador";

TEST(SimulatorCommandTest, UsageErrorsExitWithTwo) {
  std::string out;
  EXPECT_EQ(0, RunCommand(kProgram + " --help", &out));
  EXPECT_NE(out.find("--porta"), std::string::npos) << out;
  EXPECT_EQ(2, RunCommand(kProgram + " --opcao-que-nao-existe", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --porta setenta", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --porta 70000", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --pasta", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --processamento-lote -5", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --prazo-cancelamento trinta", &out));
  TempDir dir;
  EXPECT_EQ(1, RunCommand(kProgram + " --pasta " + dir.path() + " --esquemas " + dir.path(), &out));
  EXPECT_NE(out.find("consStatServ_v4.00.xsd"), std::string::npos) << out;
}

// The simulator as a child process whose output comes through a pipe.
class Child {
 public:
  explicit Child(const std::vector<std::string>& arguments) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) throw std::runtime_error("posix_spawn");
    out_ = fdopen(fds[0], "r");
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_) fclose(out_);
  }

  // Reads output until a line holding `marker` (true) or the end of the output (false).
  bool ReadUntil(const std::string& marker) {
    char line[1024];
    while (fgets(line, sizeof line, out_) != nullptr) {
      output_ += line;
      if (std::string(line).find(marker) != std::string::npos) return true;
    }
    return false;
  }

  int Terminate() {
    kill(pid_, SIGTERM);
    ReadUntil("\x01");  // the rest of the output, up to its end
    return Wait();
  }

  const std::string& output() const { return output_; }

 private:
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string output_;
};

TEST(SimulatorCommandTest, ServesUntilSigterm) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  Child child(
      {kProgram, "--pasta", dir / "sim", "--esquemas", SchemasFolder(), "--resultado-escapado"});
  ASSERT_TRUE(child.ReadUntil("Ctrl+C")) << child.output();

  const std::string pki = dir / "sim/pki/";
  const std::string ini = ReadFile(dir / "sim/nfceServidoresHom.ini");
  EXPECT_EQ(ini, ReadFile(dir / "sim/nfceServidoresProd.ini"));
  const size_t at = ini.find("NfeStatusServico4=");
  ASSERT_NE(at, std::string::npos) << ini;
  const std::string url = ini.substr(at + 18, ini.find('\n', at) - at - 18);
  EXPECT_NE(child.output().find(url.substr(0, url.find("/ws/"))), std::string::npos)
      << "the URL printed is the one in the files";

  WriteFile(dir / "pedido.xml",
            "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
            "<nfeDadosMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
            "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2"
            "</tpAmb><cUF>31</cUF><xServ>STATUS</xServ></consStatServ></nfeDadosMsg></soap:Body>"
            "</soap:Envelope>");
  std::string reply;
  EXPECT_EQ(0, RunCommand("curl -sS --cacert " + pki + "ca.pem --cert-type P12 --cert " + pki +
                              "empresa.pfx:1234 -H 'Content-Type: application/soap+xml' "
                              "--data-binary @" +
                              dir / "pedido.xml" + " " + url,
                          &reply));
  // The document comes back as the escaped text of the result element.
  EXPECT_NE(reply.find("<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/"
                       "NFeStatusServico4\">&lt;retConsStatServ "),
            std::string::npos)
      << reply;
  EXPECT_NE(reply.find("&lt;cStat&gt;107&lt;/cStat&gt;"), std::string::npos) << reply;
  EXPECT_NE(reply.find("&lt;cUF&gt;31&lt;/cUF&gt;"), std::string::npos) << reply;

  EXPECT_EQ(0, child.Terminate()) << child.output();
  EXPECT_NE(child.output().find("encerrado"), std::string::npos) << child.output();
}

}  // namespace
}  // namespace qor::sim
