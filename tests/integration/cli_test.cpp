// The command line as a user runs it: every operation listed, dispatched and explaining itself,
// exit codes, stdout holding only the state's reply, and the demo leaving its artifacts behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

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

// The names the general usage lists under "operações:", in order.
std::vector<std::string> Listadas(const std::string& usage) {
  std::vector<std::string> nomes;
  std::istringstream linhas(usage.substr(usage.find("operações:\n")));
  std::string linha;
  std::getline(linhas, linha);
  while (std::getline(linhas, linha) && linha.rfind("  ", 0) == 0) {
    nomes.push_back(linha.substr(2, linha.find(' ', 2) - 2));
  }
  return nomes;
}

TEST(CommandLine, EveryOperationIsListedDispatchedAndExplainsItself) {
  TempDir dir;
  const CliRun usage = Cli("--help", dir);
  ASSERT_EQ(usage.status, 0) << usage.err;
  const CliRun vazio = Cli("", dir);
  EXPECT_EQ(vazio.status, 2);
  EXPECT_EQ(vazio.err, usage.out);
  const CliRun desconhecida = Cli("nao-existe", dir);
  EXPECT_EQ(desconhecida.status, 2);
  EXPECT_EQ(desconhecida.err, "qornfce: operação desconhecida: nao-existe\n\n" + usage.out);

  // The operations scripts call by name (renaming or dropping one breaks them), each with an
  // option its own help must list.
  const std::map<std::string, std::string> operacoes{{"status", "--certificado"},
                                                     {"enviar", "--compactar"},
                                                     {"enviar-sincrono", "--compactar"},
                                                     {"consultar-recibo", "--certificado"},
                                                     {"consultar", "--certificado"},
                                                     {"validar", "--esquemas"},
                                                     {"configurar", "--mostrar"},
                                                     {"converter", "--esquema pl_009g"},
                                                     {"assinar", "--certificado"},
                                                     {"assinar-evento", "--certificado"},
                                                     {"chave", "--config"},
                                                     {"qrcode", "--servidores-hom"},
                                                     {"logs", "--log"},
                                                     {"simulador", "--porta"},
                                                     {"demo", "--pasta"}};
  const std::vector<std::string> listadas = Listadas(usage.out);
  for (const auto& [nome, opcao] : operacoes) {
    EXPECT_EQ(std::count(listadas.begin(), listadas.end(), nome), 1) << nome << "\n" << usage.out;
  }
  for (const std::string& nome : listadas) {
    SCOPED_TRACE(nome);
    const CliRun help = Cli(nome + " --help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.substr(0, help.out.find('\n')).find("qornfce " + nome + " "),
              std::string::npos)
        << help.out;
    if (operacoes.count(nome) > 0) {
      EXPECT_NE(help.out.find(operacoes.at(nome)), std::string::npos) << help.out;
    }
    // The operation's own parser answers, not the dispatcher's "unknown operation".
    const CliRun opcao = Cli(nome + " --opcao-inexistente", dir);
    EXPECT_EQ(opcao.status, 2);
    EXPECT_EQ(opcao.err.rfind("qornfce " + nome + ": opção desconhecida: --opcao-inexistente\n", 0),
              0u)
        << opcao.err;
  }
  // Asking for help wins over the rest of the line.
  EXPECT_EQ(Cli("status --opcao-inexistente --help", dir).out, Cli("status --help", dir).out);
}

TEST(CommandLine, RefusedLinesExitWithTwoAndFailedOperationsWithOne) {
  const std::string kIlegivel = "Arquivo não encontrado ou não é um arquivo comum: ";
  TempDir dir;
  const std::string falta = dir / "nao-existe.xml";
  const std::string logs = " --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
  struct Caso {
    std::string args;
    int status;
    std::string err;  // how stderr begins
  };
  for (const Caso& caso : std::vector<Caso>{
           {"status --nao-existe 1", 2, "qornfce status: opção desconhecida: --nao-existe\n"},
           {"status --timeout abc", 2, "qornfce status: valor inválido para --timeout: abc\n"},
           {"status extra", 2, "qornfce status: argumento inesperado: extra\n"},
           {"status --uf XX", 1, "a sigla da UF XX, é inválida.\n"},
           {"consultar", 2, "qornfce consultar: informe a chave de acesso\n"},
           {"validar '" + falta + "'", 2, "qornfce validar: informe o arquivo XML e o comando\n"},
           {"enviar-sincrono 1", 2, "qornfce enviar-sincrono: informe o número do lote e o"},
           {"consultar-recibo", 2, "qornfce consultar-recibo: informe o número do recibo\n"},
           {"assinar", 2, "qornfce assinar: informe um arquivo XML (ou - )\n"},
           // A file that cannot be read is a failure (1) for every subcommand, a folder too.
           {"assinar '" + falta + "'", 1, kIlegivel + falta},
           {"assinar-evento '" + falta + "'", 1, kIlegivel + falta},
           {"validar '" + falta + "' ENVIO", 1, kIlegivel + falta},
           {"enviar 1 '" + falta + "'", 1, kIlegivel + falta},
           {"enviar-sincrono 1 '" + falta + "'", 1, kIlegivel + falta},
           {"qrcode '" + dir.path() + "'", 1, kIlegivel + dir.path()},
           {"assinar-evento a.xml b.xml", 2, "qornfce assinar-evento: informe um arquivo XML"},
           {"converter", 2, "qornfce converter: informe o arquivo TX2\n"},
           {"converter x.tx2 --esquema pl_010", 2,
            "qornfce converter: esquema desconhecido: pl_010"},
           {"chave 2015-03-20 41 11222333000181 65 1 123 4567", 2,
            "qornfce chave: esperados 8 argumentos (DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS), "
            "recebidos 7\n"},
           {"chave 2015-03-20 41 11222333000181 65 1 123 4567 12", 1,
            "O valor do tipo de emissão(tpEmis) \"12\" é inesperado.\n"},
           {"logs Qualquer", 2, "qornfce logs: filtro de log desconhecido: Qualquer (use Xml, "},
           {"logs Xml 4115 extra", 2, "qornfce logs: argumento inesperado: extra\n"},
           {"qrcode", 2, "qornfce qrcode: informe um arquivo XML"},
       }) {
    const CliRun run = Cli(caso.args + logs, dir);
    EXPECT_EQ(run.status, caso.status) << caso.args;
    EXPECT_EQ(run.err.rfind(caso.err, 0), 0u) << caso.args << "\n" << run.err;
    EXPECT_EQ(run.out, "") << caso.args;
  }
  // A failed operation leaves its exception in the error log the line named.
  EXPECT_TRUE(FileExists(dir / "LogErro/nfce_exception.log"));
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
                         "--trusted-pem '" +
                             dir / "demo/pki/ca.pem" + "' '" + arquivo + "'",
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
