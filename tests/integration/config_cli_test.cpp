// The command line and nfceConfig.ini: configurar writes through the component (secrets
// protected), --mostrar masks them, bad keys write nothing, and status runs from a file alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>

#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;

using test::Cli;
using test::CliRun;

TEST(ConfigCommandLine, ConfigurarStoresSecretsProtectedAndMostrarMasksThem) {
  TempDir dir;
  ::setenv("QORNFCE_KEY_FILE", (dir / "chave.key").c_str(), 1);  // inherited by the command
  const std::string ini = dir / "nfceConfig.ini";
  const std::string config = "--config '" + ini + "'";

  const CliRun set =
      Cli("configurar DANFCE.TokenNFCe=CSC-0123-ABCD DANFCE.IdTokenNFCe=000001 "
          "NFCE.UF=sp 'MAIL.Mensagem=Prezado cliente,' NFCE.PinCode=4321 " +
              config,
          dir);
  ASSERT_EQ(set.status, 0) << set.err;
  const std::string text = ReadFile(ini);
  for (const char* secret : {"CSC-0123-ABCD", "000001", "4321"}) {
    EXPECT_EQ(text.find(secret), std::string::npos) << secret;
  }
  TqorNFCe nfce;  // the file gives back exactly what was set
  nfce.LoadConfig(ini);
  EXPECT_EQ(nfce.GetDanfceSettings().GetTokenNFCe(), "CSC-0123-ABCD");
  EXPECT_EQ(nfce.GetDanfceSettings().GetIdTokenNFCe(), "000001");
  EXPECT_EQ(nfce.GetPinCode(), "4321");
  EXPECT_EQ(nfce.GetUF(), "SP");  // through the property: stored in upper case
  EXPECT_EQ(nfce.GetEmailSettings().GetMensagem(), "Prezado cliente,");

  // Before the subcommand, as after it.
  const CliRun show = Cli(config + " configurar --mostrar", dir);
  ASSERT_EQ(show.status, 0) << show.err;
  for (const char* line :
       {"[NFCE]\n", "\nUF=SP\n", "\nTokenNFCe=********\n", "\nIdTokenNFCe=********\n",
        "\nPinCode=********\n", "\nSenha=\n", "\n[ESCPOS]\n"}) {
    EXPECT_NE(show.out.find(line), std::string::npos) << line << show.out;
  }
  for (const char* secret : {"CSC-0123-ABCD", "000001", "4321"}) {
    EXPECT_EQ(show.out.find(secret), std::string::npos) << secret;
  }
  // The file was created for its owner only, so nothing warns; opened to others, it warns.
  EXPECT_EQ(show.err, "");
  ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
  EXPECT_NE(Cli(config + " configurar --mostrar", dir)
                .err.find("qornfce: aviso: " + ini +
                          " guarda senhas ou chaves e pode ser lido por outros usuários (modo "
                          "0644); use chmod 600"),
            std::string::npos);
  ASSERT_EQ(::chmod(ini.c_str(), 0600), 0);
  ASSERT_EQ(::chmod((dir / "chave.key").c_str(), 0640), 0);
  EXPECT_NE(Cli(config + " configurar --mostrar", dir).err.find(dir / "chave.key"),
            std::string::npos);
  ASSERT_EQ(::chmod((dir / "chave.key").c_str(), 0600), 0);

  // Refused arguments write nothing: unknown or write-only keys and mistyped values are bad
  // usage (2); a value its property refuses is a failure (1).
  struct Caso {
    std::string args;
    int status;
    std::string err;
  };
  for (const Caso& caso : std::vector<Caso>{
           {"NFCE.UF=RS NFCE.Nada=1", 2, "chave desconhecida: NFCE.Nada"},
           {"NFCE.Repositorio=X", 2, "NFCE.TipoCertificado"},
           {"DANFCE.QtdeCopias=duas", 2, "valor inválido para DANFCE.QtdeCopias: duas"},
           {"NFCE.UF", 2, "SECAO.CHAVE=VALOR"},
           {"NFCE.CNPJ=1 NFCE.UF=XX", 1,
            "Erro ao carregar configurações: a sigla da UF XX, é inválida.\n"},
       }) {
    const CliRun run = Cli("configurar " + caso.args + " " + config, dir);
    EXPECT_EQ(run.status, caso.status) << caso.args;
    EXPECT_NE(run.err.find(caso.err), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(ini), text) << caso.args;
  }

  // A named file that does not exist is an error; status does not fall back to another one.
  const CliRun missing = Cli("--config '" + dir / "falta.ini" + "' status", dir);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Arquivo " + dir / "falta.ini" + " não foi encontrado\n");
  // A configuration whose protected values belong to another installation stops with the cause.
  ::setenv("QORNFCE_KEY_FILE", (dir / "outra.key").c_str(), 1);
  const CliRun otherKey = Cli(config + " configurar --mostrar", dir);
  EXPECT_EQ(otherKey.status, 1);
  EXPECT_EQ(otherKey.err.rfind("Erro ao carregar configurações: Chave PinCode da seção NFCE: ", 0),
            0u)
      << otherKey.err;
}

TEST(ConfigCommandLine, StatusRunsFromTheDemosFileAlone) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  const std::string demo = dir / "demo/";
  const CliRun run = Cli("demo --pasta '" + dir / "demo" + "'", dir);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_TRUE(FileExists(demo + "nfceConfig.ini"));

  // The demo's simulator is gone; another one on the demo's folder and certificates takes its
  // place, as `qornfce simulador --pasta <demo>` would, and rewrites the server files.
  sim::SimulatorOptions options;
  options.workFolder = demo;
  options.schemasFolder = test::SchemasFolder();
  options.caCert = demo + "pki/ca.pem";
  options.serverCert = demo + "pki/servidor.pem";
  options.serverKey = demo + "pki/servidor-key.pem";
  sim::Simulator simulator(options);
  simulator.Start();
  simulator.WriteServerFiles(demo + "nfceServidoresProd.ini", demo + "nfceServidoresHom.ini");

  const CliRun status = Cli("--config '" + demo + "nfceConfig.ini' status", dir);
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(GetValueTag("cStat", status.out), "107") << status.out;
  // It knows the notes the demo had authorised.
  const auto autorizadas = ListFiles(demo + "XmlDestinatario/", "*-nfce.xml");
  ASSERT_FALSE(autorizadas.empty());
  const CliRun consulta = Cli("--config '" + demo + "nfceConfig.ini' consultar " +
                                  autorizadas.front().substr(0, 44),
                              dir);
  EXPECT_EQ(GetValueTag("cStat", consulta.out), "100") << consulta.out << consulta.err;
  // The file verifies the server against the demo's authority.
  const auto ini = TIniFile::FromText(ReadFile(demo + "nfceConfig.ini"));
  EXPECT_EQ(ini->ReadString("NFCE", "IgnoreInvalidCertificates", ""), "0");
  EXPECT_EQ(ini->ReadString("NFCE", "ArquivoCadeiaCertificados", ""), demo + "pki/ca.pem");
  simulator.Stop();
}

}  // namespace
}  // namespace qor
