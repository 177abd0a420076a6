// qornfce chave / qrcode / logs as a user runs them: output, a failure's exit code, and the QR link
// of a note signed by xmlsec1, whose hash sha1sum reproduces from the standard's recipe.
#include <gtest/gtest.h>

#include <cctype>
#include <ctime>

#include "support/Cli.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"
#include "utils/QRCode.h"

namespace qor {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

using test::Cli;
using test::CliRun;

std::string Shell(const std::string& command) {
  std::string out;
  EXPECT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(UtilsCommandLine, ChaveAndLogs) {
  TempDir dir;
  const std::string logs = " --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
  const CliRun chave =
      Cli("chave 2015-03-20T10:15:00-03:00 41 11222333000181 65 1 123 4567 1" + logs, dir);
  EXPECT_EQ(chave.status, 0) << chave.err;
  EXPECT_EQ(chave.out, "41150311222333000181650010000001231000045678\n");

  for (const char* nome : {"4115-env-lot.xml", "3515-env-lot.xml", "41150-nfce.xml", "1-sta.xml"}) {
    WriteFile(dir / "Log/" + nome, "<x/>");
  }
  EXPECT_EQ(Cli("logs EnvLot" + logs, dir).out,
            dir / "Log/3515-env-lot.xml\n" + dir / "Log/4115-env-lot.xml\n");
  EXPECT_EQ(Cli("logs envlot 4115" + logs, dir).out, dir / "Log/4115-env-lot.xml\n");
  EXPECT_EQ(Cli("logs Custom '*-nfce.xml'" + logs, dir).out, dir / "Log/41150-nfce.xml\n");
  EXPECT_NE(Cli("logs" + logs, dir).out.find("1-sta.xml"), std::string::npos);
}

TEST(UtilsCommandLine, QrCodeOfANoteSignedByXmlsec1) {
  TempDir dir;
  const auto& pki = test::SharedPki();
  const std::string logs = " --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
  const std::string chave =
      Cli("chave 2019-05-10T14:30:00-03:00 35 " + pki.cnpj + " 65 1 42 1234 1" + logs, dir)
          .out.substr(0, 44);
  ASSERT_EQ(chave.size(), 44u);
  const std::string ds = "http://www.w3.org/2000/09/xmldsig#";
  WriteFile(dir / "nota.xml",
            "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" +
                chave +
                "\"><ide><cUF>35</cUF><dhEmi>2019-05-10T14:30:00-03:00</dhEmi><tpEmis>1</tpEmis>"
                "<tpAmb>2</tpAmb></ide><emit><CNPJ>" +
                pki.cnpj +
                "</CNPJ></emit><total><ICMSTot><vICMS>0.00</vICMS><vNF>10.00</vNF></ICMSTot>"
                "</total></infNFe><Signature xmlns=\"" +
                ds +
                "\"><SignedInfo><CanonicalizationMethod "
                "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/><SignatureMethod "
                "Algorithm=\"" +
                ds + "rsa-sha1\"/><Reference URI=\"#NFe" + chave +
                "\"><Transforms><Transform Algorithm=\"" + ds +
                "enveloped-signature\"/><Transform "
                "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
                "<DigestMethod Algorithm=\"" +
                ds +
                "sha1\"/><DigestValue/></Reference></SignedInfo><SignatureValue/><KeyInfo>"
                "<X509Data/></KeyInfo></Signature></NFe>");
  Shell("xmlsec1 --sign --privkey-pem '" + pki.companyKeyPem + "," + pki.companyCertPem +
        "' --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe --output '" +
        dir / "assinada.xml" + "' '" + dir / "nota.xml" + "' 2>&1");
  const std::string digest = Shell("xmllint --xpath \"string(//*[local-name()='DigestValue'])\" '" +
                                   dir / "assinada.xml" + "'");
  ASSERT_EQ(digest.size(), 28u);

  WriteFile(dir / "hom.ini", "[SP]\nURLQRCODE=https://hom.exemplo.gov.br/nfce/qrcode?\n");
  WriteFile(dir / "prod.ini", "[SP]\nURLQRCODE=https://www.exemplo.gov.br/nfce/qrcode\n");
  const std::string servers = " --uf SP --servidores-hom '" + dir / "hom.ini" +
                              "' --servidores-prod '" + dir / "prod.ini" + "'";
  const CliRun qr = Cli("qrcode '" + dir / "assinada.xml" + "'" + servers + logs, dir);
  ASSERT_EQ(qr.status, 0) << qr.err;

  // Homologation without a configured CSC: the default test CSC, identifier 1, online form.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string csc =
      pki.cnpj.substr(0, 8) + std::to_string(local.tm_year + 1900) + kSufixoCscHomologacao;
  const std::string parametros = chave + "|2|2|1";
  WriteFile(dir / "hash.txt", parametros + csc);
  std::string hash = Shell("sha1sum '" + dir / "hash.txt" + "'").substr(0, 40);
  for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(qr.out, "https://hom.exemplo.gov.br/nfce/qrcode?p=" + parametros + "|" + hash + "\n");

  const CliRun vazio = Cli("qrcode '" + dir / "hom.ini" + "'" + servers + logs, dir);
  EXPECT_EQ(vazio.status, 1);
  EXPECT_EQ(
      vazio.err.rfind("Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: ", 0),
      0u)
      << vazio.err;
}

}  // namespace
}  // namespace qor
