// qornfce converter as a user runs it: one note per line on stdout, each accepted by the official
// schema once signed (a placeholder signature here).
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "support/Cli.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::Cli;
using test::CliRun;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

const std::string kEsquemas = test::SchemasFolder();

// xmllint's report on one output line wrapped as a signed NFe; empty when the schema accepts it.
std::string Rejeicao(const std::string& nota, const std::string& xsd, const TempDir& dir) {
  std::smatch id;
  std::regex_search(nota, id, std::regex("Id=\"(NFe[0-9]{44})\""));
  WriteFile(dir / "nfe.xml",
            "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + nota +
                "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
                "<CanonicalizationMethod "
                "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
                "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>"
                "<Reference URI=\"#" +
                id.str(1) +
                "\"><Transforms>"
                "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
                "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
                "</Transforms><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/>"
                "<DigestValue>2jmj7l5rSw0yVb/vlWAYkK/YBwk=</DigestValue></Reference></SignedInfo>"
                "<SignatureValue>c2lnbmF0dXJl</SignatureValue><KeyInfo><X509Data><X509Certificate>"
                "Y2VydGlmaWNhdGU=</X509Certificate></X509Data></KeyInfo></Signature></NFe>");
  std::string report;
  const int status = RunCommand(
      "xmllint --noout --schema '" + kEsquemas + "/" + xsd + "' '" + dir / "nfe.xml" + "'",
      &report);
  return status == 0 ? std::string() : report;
}

std::string Logs(const TempDir& dir) {
  return " --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
}

TEST(ConverterCommandLine, PrintsOneValidNotePerLine) {
  QOR_NEEDS_SCHEMAS();
  struct Caso {
    std::string arquivo, opcoes, xsd;
    std::size_t notas;
  };
  const std::string fonte = QORNFCE_SOURCE_DIR;
  for (const Caso& caso :
       {Caso{fonte + "/data/exemplos/nfce-varios-itens.tx2", "", "nfe_v4.00.xsd", 1},
        Caso{fonte + "/tests/conversion/corpus/leiaute-310.tx2", " --esquema pl_008h",
             "nfe_v3.10.xsd", 2}}) {
    SCOPED_TRACE(caso.arquivo + caso.opcoes);
    TempDir dir;
    const CliRun run = Cli("converter '" + caso.arquivo + "'" + caso.opcoes + Logs(dir), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::istringstream linhas(run.out);
    std::size_t notas = 0;
    for (std::string linha; std::getline(linhas, linha);) {
      if (!linha.empty() && linha.back() == '\r') linha.pop_back();
      ASSERT_EQ(linha.rfind("<infNFe Id=\"NFe", 0), 0u) << "line " << notas + 1 << ": " << linha;
      ++notas;
      EXPECT_EQ(Rejeicao(linha, caso.xsd, dir), "") << "line " << notas;
    }
    EXPECT_EQ(notas, caso.notas);
  }
}

TEST(ConverterCommandLine, ReadsStandardInputAndRefusesANameThatIsNotARegularFile) {
  TempDir dir;
  const std::string amostra =
      std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/nfce-um-item-dinheiro.tx2";
  const struct {
    std::string args;
    int status;
    std::string err;
  } casos[] = {
      {"converter - <'" + amostra + "'", 0, ""},
      {"converter '" + dir / "nada.tx2" + "'", 1, "arquivo não encontrado: " + dir / "nada.tx2"},
      {"converter '" + dir.path() + "'", 1, "não é um arquivo: " + dir.path()},
      {"converter", 2, "informe o arquivo TX2"},
  };
  for (const auto& caso : casos) {
    const CliRun run = Cli(caso.args + Logs(dir), dir);
    EXPECT_EQ(run.status, caso.status) << caso.args << "\n" << run.err;
    EXPECT_NE(run.err.find(caso.err), std::string::npos) << caso.args << "\n" << run.err;
    EXPECT_EQ(run.out.rfind("<infNFe Id=\"NFe", 0) == 0, caso.status == 0) << run.out;
  }
}

}  // namespace
}  // namespace qor
