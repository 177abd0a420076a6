// The command line as a user runs it: exit codes, stdout holding only the state's reply, and the
// demo leaving its artifacts behind.
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/IniFile.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;

using test::Cli;
using test::CliRun;

TEST(CommandLine, UsageErrorsExitWithTwoAndFailuresWithOne) {
  TempDir dir;
  EXPECT_EQ(Cli("", dir).status, 2);
  EXPECT_EQ(Cli("nao-existe", dir).status, 2);
  const CliRun badOption = Cli("status --nao-existe 1", dir);
  EXPECT_EQ(badOption.status, 2);
  EXPECT_NE(badOption.err.find("--nao-existe"), std::string::npos);
  EXPECT_EQ(Cli("status --timeout abc", dir).status, 2);
  const CliRun help = Cli("status --help", dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--certificado"), std::string::npos);

  const CliRun badUf = Cli("status --uf XX --log-erro '" + dir / "erros" + "'", dir);
  EXPECT_EQ(badUf.status, 1);
  EXPECT_EQ(badUf.err, "a sigla da UF XX, é inválida.\n");
  EXPECT_EQ(badUf.out, "");
  EXPECT_TRUE(FileExists(dir / "erros/nfce_exception.log"));
}

// The options that point a subcommand at a running simulator.
std::string Against(const test::SimulatorRig& rig) {
  const auto& pki = test::SharedPki();
  return " --uf sp --cnpj " + pki.cnpj + " --certificado '" + pki.companyPfx +
         "' --senha-certificado " + pki.password + " --servidores-hom '" + rig.hom + "' --log '" +
         rig.dir / "Log" + "' --log-erro '" + rig.dir / "LogErro" + "' --xml-destinatario '" +
         rig.dir / "Dest" + "' --verificar-servidor --cadeia-ca '" + pki.caCert + "'";
}

TEST(CommandLine, StatusAndQueryWriteOnlyTheRepliesXmlToStdout) {
  QOR_NEEDS_SCHEMAS();
  test::SimulatorRig rig;
  CliRun run = Cli("status" + Against(rig), rig.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(IsValidXml(run.out)) << run.out;
  EXPECT_EQ(GetValueTag("cStat", run.out), "107");
  EXPECT_EQ(ListFiles(rig.dir / "Log/", "*-ped-sta.xml").size(), 1u);

  run = Cli("consultar 35240111222333000181650010000000011123456780" + Against(rig), rig.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(GetValueTag("cStat", run.out), "217") << run.out;
  EXPECT_EQ(Cli("consultar" + Against(rig), rig.dir).status, 2) << "the key is required";
}

TEST(CommandLine, ValidarReportsTheOffendingElement) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  const std::string request =
      "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>%s</tpAmb>"
      "<cUF>35</cUF><xServ>STATUS</xServ></consStatServ>";
  test::WriteFile(dir / "ok.xml", Format(request, {"2"}));
  test::WriteFile(dir / "ruim.xml", Format(request, {"3"}));
  const std::string folders = " --log-erro '" + dir / "LogErro" + "'";
  CliRun run = Cli("validar '" + dir / "ok.xml" + "' STATUS" + folders, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  run = Cli("validar '" + dir / "ruim.xml" + "' STATUS" + folders, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("tpAmb"), std::string::npos) << run.err;
  EXPECT_EQ(Cli("validar '" + dir / "ok.xml" + "'" + folders, dir).status, 2);
}

TEST(CommandLine, DemoRunsTheRoadAgainstItsOwnSimulator) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  const CliRun run = Cli("demo --pasta '" + dir / "demo" + "'", dir);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("cStat 107 - Serviço em Operação"), std::string::npos) << run.out;
  EXPECT_EQ(ListFiles(dir / "demo/Log/", "*-ped-sta.xml").size(), 1u);
  EXPECT_EQ(ListFiles(dir / "demo/Log/", "*-sta.xml").size(), 2u);
  EXPECT_TRUE(FileExists(dir / "demo/nfceServidoresHom.ini"));
  EXPECT_TRUE(FileExists(dir / "demo/pki/empresa.pfx"));
  // The sample TX2 note converted: one note, shown and saved, with its key computed.
  const std::string nota = ReadFile(dir / "demo/nfce-convertida.xml");
  EXPECT_EQ(nota.rfind("<infNFe Id=\"NFe35", 0), 0u) << nota;
  EXPECT_NE(run.out.find(nota.substr(0, nota.find("\r\n"))), std::string::npos);
  // ... then signed: xmlsec1 verifies the file as written and the official schema accepts it
  // with its infNFeSupl.
  const std::string assinada = ReadFile(dir / "demo/nfce-assinada.xml");
  const std::string chave = GetXMLAttributeByIndex(assinada, "infNFe", "Id").substr(3);
  EXPECT_NE(run.out.find("chave " + chave + "\n    assinatura verificada"), std::string::npos)
      << run.out;
  std::string out;
  EXPECT_EQ(RunCommand("xmlsec1 --verify --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe "
                       "--trusted-pem '" +
                           dir / "demo/pki/ca.pem" + "' '" + dir / "demo/nfce-assinada.xml" + "'",
                       &out),
            0)
      << out;
  EXPECT_EQ(RunCommand("xmllint --noout --schema '" + test::SchemasFolder() + "/nfe_v4.00.xsd' '" +
                           dir / "demo/nfce-assinada.xml" + "'",
                       &out),
            0)
      << out;
  EXPECT_FALSE(GetValueTag("urlChave", assinada).empty());
  EXPECT_NE(run.out.find("162 regras aprovadas"), std::string::npos);
  // ... then authorised, synchronously and through a receipt: two nfeProc that the official
  // schema accepts and xmlsec1 verifies.
  const auto processadas = ListFiles(dir / "demo/XmlDestinatario/", "*-nfce.xml");
  EXPECT_EQ(processadas.size(), 2u);
  for (const std::string& proc : processadas) {
    const std::string arquivo = dir / "demo/XmlDestinatario/" + proc;
    EXPECT_EQ(RunCommand("xmlsec1 --verify --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe "
                         "--trusted-pem '" + dir / "demo/pki/ca.pem" + "' '" + arquivo + "'",
                         &out),
              0)
        << out;
    EXPECT_EQ(RunCommand("xmllint --noout --schema '" + test::SchemasFolder() +
                             "/procNFe_v4.00.xsd' '" + arquivo + "'",
                         &out),
              0)
        << out;
  }
  EXPECT_NE(run.out.find("chave " + chave + "\n    cStat 100 - Autorizado o uso da NF-e"),
            std::string::npos);
  // A second run on the same folder issues new numbers: the state refuses no duplicate.
  EXPECT_EQ(Cli("demo --pasta '" + dir / "demo" + "'", dir).status, 0);
}

}  // namespace
}  // namespace qor
