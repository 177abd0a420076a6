// qornfce assinar / assinar-evento as a user runs them: the converter's output (from a file or
// piped in) signed one NFe per line, each line verified by xmlsec1.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/Cli.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::Cli;
using test::CliRun;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The component options of a signing run, everything in `dir`.
std::string Opcoes(const TempDir& dir) {
  const auto& pki = test::SharedPki();
  WriteFile(dir / "hom.ini",
            "[SP]\nURLQRCODE=https://nfce.sefaz.teste/qrcode\n[URLCONSULTACHAVE]\n"
            "SP=https://nfce.sefaz.teste/consulta-chave\n");
  return " --uf SP --cnpj " + pki.cnpj + " --certificado '" + pki.companyPfx +
         "' --senha-certificado " + pki.password + " --servidores-hom '" + dir / "hom.ini" +
         "' --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
}

// xmlsec1's exit status on one signed line.
int Verify(const TempDir& dir, const std::string& xml, const std::string& element,
           std::string* out) {
  WriteFile(dir / "linha.xml", xml);
  return RunCommand("xmlsec1 --verify --id-attr:Id " + std::string(kNfeNs) + ":" + element +
                        " --trusted-pem '" + test::SharedPki().caCert + "' '" + dir / "linha.xml" +
                        "'",
                    out);
}

TEST(AssinarCommandLine, SignsTheConverterOutputFromAFileOrStandardInput) {
  TempDir dir;
  const std::string exemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
  WriteFile(dir / "lote.tx2", test::ReadFile(exemplos + "nfce-um-item-dinheiro.tx2") +
                                  test::ReadFile(exemplos + "nfce-varios-itens.tx2"));
  const CliRun convertido = Cli("converter '" + dir / "lote.tx2" + "'" + Opcoes(dir), dir);
  ASSERT_EQ(convertido.status, 0) << convertido.err;
  WriteFile(dir / "notas.txt", convertido.out);

  for (const std::string& entrada :
       {"'" + dir / "notas.txt" + "'", "- < '" + dir / "notas.txt" + "'"}) {
    SCOPED_TRACE(entrada);
    const CliRun run = Cli("assinar " + entrada + Opcoes(dir), dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> linhas = Lines(run.out);
    ASSERT_EQ(linhas.size(), 2u) << run.out;
    for (const std::string& linha : linhas) {
      EXPECT_EQ(linha.rfind(std::string("<NFe xmlns=\"") + kNfeNs + "\"><infNFe Id=\"NFe", 0), 0u);
      EXPECT_NE(linha.find("</infNFe><infNFeSupl><qrCode>"), std::string::npos);
      std::string out;
      EXPECT_EQ(Verify(dir, linha, "infNFe", &out), 0) << out;
    }
  }
}

TEST(AssinarCommandLine, SignsEvents) {
  TempDir dir;
  const std::string chave = "35261211222333000181650010000010011102938470";
  WriteFile(dir / "eventos.xml",
            std::string("<envEvento xmlns=\"") + kNfeNs +
                "\" versao=\"1.00\"><idLote>1</idLote><evento versao=\"1.00\"><infEvento "
                "Id=\"ID110111" +
                chave + "01\"><cOrgao>35</cOrgao><tpAmb>2</tpAmb><chNFe>" + chave +
                "</chNFe><tpEvento>110111</tpEvento></infEvento></evento></envEvento>");
  const CliRun run = Cli("assinar-evento '" + dir / "eventos.xml" + "'" + Opcoes(dir), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> linhas = Lines(run.out);
  ASSERT_EQ(linhas.size(), 1u) << run.out;
  EXPECT_TRUE(linhas[0].ends_with("</Signature></evento>"));
  std::string out;
  EXPECT_EQ(Verify(dir, linhas[0], "infEvento", &out), 0) << out;
}

TEST(AssinarCommandLine, AFileWithoutNotesFailsWithOne) {
  TempDir dir;
  WriteFile(dir / "vazio.xml", "<enviNFe/>");
  const CliRun semNotas = Cli("assinar '" + dir / "vazio.xml" + "'" + Opcoes(dir), dir);
  EXPECT_EQ(semNotas.status, 1);
  EXPECT_EQ(semNotas.err, "Não foi possível encontrar notas fiscais no arquivo\n");
  EXPECT_EQ(semNotas.out, "");
}

}  // namespace
}  // namespace qor
