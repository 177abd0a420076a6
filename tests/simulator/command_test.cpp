// qornfce-simulador as a user runs it: options, the files it leaves, a request from curl, and a
// clean stop on SIGTERM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SchemasFolder;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kProgram = std::string(QORNFCE_BIN_DIR) + "/qornfce-simulador";

TEST(SimulatorCommandTest, UsageErrorsExitWithTwo) {
  std::string out;
  EXPECT_EQ(0, RunCommand(kProgram + " --help", &out));
  EXPECT_THAT(out, HasSubstr("--porta"));
  EXPECT_EQ(2, RunCommand(kProgram + " --opcao-que-nao-existe", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --porta setenta", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --porta 70000", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --pasta", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --processamento-lote -5", &out));
  EXPECT_EQ(2, RunCommand(kProgram + " --prazo-cancelamento trinta", &out));
  TempDir dir;
  EXPECT_EQ(1, RunCommand(kProgram + " --pasta " + dir.path() + " --esquemas " + dir.path(), &out));
  EXPECT_THAT(out, HasSubstr("consStatServ_v4.00.xsd"));
}

// The simulator as a child process: the shell popen starts prints its pid and then becomes the
// simulator, so a signal to that pid reaches the simulator itself.
class Child {
 public:
  explicit Child(const std::string& args)
      : out_(popen(("echo $$; exec " + kProgram + " " + args + " 2>&1").c_str(), "r")) {
    char line[32];
    if (out_ != nullptr && fgets(line, sizeof line, out_) != nullptr) pid_ = std::atoi(line);
  }
  ~Child() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    if (out_ != nullptr) pclose(out_);
  }

  // Reads output until a line holding `marker` (true) or the end of the output (false).
  bool ReadUntil(const std::string& marker) {
    char line[1024];
    while (out_ != nullptr && fgets(line, sizeof line, out_) != nullptr) {
      output_ += line;
      if (std::string(line).find(marker) != std::string::npos) return true;
    }
    return false;
  }
  // SIGTERM, then the rest of the output and the exit status.
  int Terminate() {
    kill(pid_, SIGTERM);
    pid_ = 0;
    ReadUntil("\x01");
    const int status = pclose(std::exchange(out_, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return output_; }

 private:
  FILE* out_;
  pid_t pid_ = 0;
  std::string output_;
};

TEST(SimulatorCommandTest, ServesUntilSigterm) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  Child child("--pasta " + dir / "sim" + " --esquemas '" + SchemasFolder() +
              "' --resultado-escapado");
  ASSERT_TRUE(child.ReadUntil("Ctrl+C")) << child.output();

  const std::string pki = dir / "sim/pki/";
  const std::string ini = ReadFile(dir / "sim/nfceServidoresHom.ini");
  EXPECT_EQ(ini, ReadFile(dir / "sim/nfceServidoresProd.ini"));
  const size_t at = ini.find("NfeStatusServico4=");
  ASSERT_NE(at, std::string::npos) << ini;
  const std::string url = ini.substr(at + 18, ini.find('\n', at) - at - 18);
  EXPECT_THAT(child.output(), HasSubstr(url.substr(0, url.find("/ws/"))))
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
  EXPECT_THAT(reply, HasSubstr("<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/"
                               "NFeStatusServico4\">&lt;retConsStatServ "));
  EXPECT_THAT(reply, HasSubstr("&lt;cStat&gt;107&lt;/cStat&gt;"));
  EXPECT_THAT(reply, HasSubstr("&lt;cUF&gt;31&lt;/cUF&gt;"));

  EXPECT_EQ(0, child.Terminate()) << child.output();
  EXPECT_THAT(child.output(), HasSubstr("encerrado"));
}

}  // namespace
}  // namespace qor::sim
