// TqorGovX::SignXmlById on the test PKI, with xmlsec1 (and xmllint with the official signature
// schema) as the independent checkers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";
constexpr char kNoteId[] = "NFe35240811222333000181650010000000011000000010";
const std::string kNote = std::string("<NFe xmlns=\"") + kNfeNs + "\"><infNFe Id=\"" + kNoteId +
                          "\" versao=\"4.00\"><ide><cUF>35</cUF></ide><det nItem=\"1\"><prod>"
                          "<xProd>CAFÉ TORRADO</xProd><vProd>10.00</vProd></prod></det></infNFe>"
                          "</NFe>";

// Base64 body of a PEM certificate, on one line.
std::string PemBody(const std::string& pem) {
  std::string body;
  for (std::size_t at = 0, next; at < pem.size(); at = next + 1) {
    next = pem.find('\n', at);
    if (next == std::string::npos) next = pem.size();
    const std::string line = pem.substr(at, next - at);
    if (line.rfind("-----", 0) != 0) body += line;
  }
  return body;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const auto from = text.find(open);
  const auto to = text.find(close, from);
  if (from == std::string::npos || to == std::string::npos) return "<absent>";
  return text.substr(from + open.size(), to - from - open.size());
}

class XmlSignerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    govx.Get_CertificateSettings().Path = pki.companyPfx;
    govx.Get_CertificateSettings().Password = pki.password;
    govx.Get_SignerSettings().SignedElement = "infNFe";
  }
  const sim::TestPki& pki = test::SharedPki();
  TqorGovX govx;
  TempDir dir;
};

TEST_F(XmlSignerTest, NoteSignatureVerifiesHasTheRequiredFormAndBreaksWhenAltered) {
  const std::string signed_ = govx.SignXmlById(kNote, kNoteId);
  EXPECT_EQ(test::SignatureError(signed_, "infNFe", pki.caCert), "") << signed_;

  EXPECT_EQ(signed_.find('\n'), std::string::npos);
  EXPECT_EQ(signed_.rfind("<?xml", 0), std::string::npos);
  // The input's text is kept as it was (accents too) and the signature closes NFe.
  const std::string infNFe = kNote.substr(0, kNote.find("</NFe>"));
  EXPECT_EQ(signed_.substr(0, infNFe.size()), infNFe);
  const std::string opening = "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\">";
  EXPECT_EQ(signed_.substr(infNFe.size(), opening.size()), opening);
  EXPECT_TRUE(signed_.ends_with("</Signature></NFe>"));
  const std::string dsig = "http://www.w3.org/2000/09/xmldsig#";
  const std::string c14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
  EXPECT_NE(
      signed_.find("<SignedInfo><CanonicalizationMethod Algorithm=\"" + c14n +
                   "\"/><SignatureMethod Algorithm=\"" + dsig + "rsa-sha1\"/><Reference URI=\"#" +
                   kNoteId + "\"><Transforms><Transform Algorithm=\"" + dsig +
                   "enveloped-signature\"/><Transform Algorithm=\"" + c14n +
                   "\"/></Transforms><DigestMethod Algorithm=\"" + dsig + "sha1\"/>"),
      std::string::npos)
      << signed_;
  EXPECT_EQ(Between(signed_, "<X509Data>", "</X509Data>"),
            "<X509Certificate>" + PemBody(ReadFile(pki.companyCertPem)) + "</X509Certificate>");

  std::string altered = signed_;
  altered.replace(altered.find("10.00"), 1, "9");
  EXPECT_NE(test::SignatureError(altered, "infNFe", pki.caCert), "");
}

TEST_F(XmlSignerTest, AParsedTextIsSignedAsTheTextItself) {
  std::string digestOfText, digestOfDocument;
  const std::string fromText = govx.SignXmlById(kNote, kNoteId, &digestOfText);
  const std::string fromDocument =
      govx.SignXmlById(XmlDocument::Parse(kNote), kNoteId, &digestOfDocument);
  // RSA PKCS#1 v1.5 signatures are deterministic: the same note gives the same bytes.
  EXPECT_EQ(fromDocument, fromText);
  EXPECT_EQ(digestOfDocument, digestOfText);
  EXPECT_EQ(digestOfText, Between(fromText, "<DigestValue>", "</DigestValue>"));
  EXPECT_EQ(test::SignatureError(fromDocument, "infNFe", pki.caCert), "");
  EXPECT_THROW(govx.SignXmlById(XmlDocument::Parse(kNote), "NFeOutro"), EqorGovException);
}

TEST_F(XmlSignerTest, SignatureIsValidAgainstTheOfficialSignatureSchema) {
  QOR_NEEDS_SCHEMAS();
  const std::string signed_ = govx.SignXmlById(kNote, kNoteId);
  const std::size_t at = signed_.find("<Signature ");
  EXPECT_EQ(test::SchemaError(signed_.substr(at, signed_.size() - at - 6),  // minus </NFe>
                              "xmldsig-core-schema_v1.01.xsd"),
            "");
}

TEST_F(XmlSignerTest, EventSignatureVerifies) {
  govx.Get_SignerSettings().SignedElement = "infEvento";
  const std::string id = "ID1101113524081122233300018165001000000001100000001001";
  const std::string event =
      std::string("<evento xmlns=\"") + kNfeNs + "\" versao=\"1.00\"><infEvento Id=\"" + id +
      "\"><cOrgao>35</cOrgao><tpEvento>110111</tpEvento></infEvento></evento>";
  const std::string signed_ = govx.SignXmlById(event, id);
  EXPECT_EQ(test::SignatureError(signed_, "infEvento", pki.caCert), "") << signed_;
  EXPECT_TRUE(signed_.ends_with("</Signature></evento>"));
}

TEST_F(XmlSignerTest, FailuresThrowWithTheirMessages) {
  auto message = [&](const std::string& xml, const std::string& id) {
    return test::MessageOf<EqorGovException>([&] { govx.SignXmlById(xml, id); });
  };
  EXPECT_EQ(message(kNote, "NFe000"), "Elemento de Id NFe000 não encontrado.");
  // Only the Id of the configured element counts.
  govx.Get_SignerSettings().SignedElement = "infEvento";
  EXPECT_EQ(message(kNote, kNoteId), std::string("Elemento de Id ") + kNoteId + " não encontrado.");
  govx.Get_SignerSettings().SignedElement = "infNFe";
  EXPECT_NE(message("<NFe><infNFe Id=\"a\"></NFe>", "a").find("não é válido"), std::string::npos);

  govx.Get_CertificateSettings().Password = "errada";
  EXPECT_EQ(message(kNote, kNoteId),
            "Senha do certificado inválida para o arquivo " + pki.companyPfx + ".");
  govx.Get_CertificateSettings().Password = pki.password;
  govx.Get_CertificateSettings().Path = pki.expiredPfx;
  EXPECT_EQ(message(kNote, kNoteId).rfind("Certificado vencido em ", 0), 0u);
}

// The certificate is read once: a file whose content changes behind the same name, size and
// modification time keeps signing with what was loaded; a new modification time reloads it.
TEST_F(XmlSignerTest, CertificateIsLoadedOnceAndReloadedWhenTheFileChanges) {
  const std::string pfx = dir / "empresa.pfx";
  fs::copy_file(pki.companyPfx, pfx);
  govx.Get_CertificateSettings().Path = pfx;
  const std::string company = PemBody(ReadFile(pki.companyCertPem));
  auto certificateOf = [&](const std::string& xml) {
    return Between(xml, "<X509Certificate>", "</X509Certificate>");
  };
  EXPECT_EQ(certificateOf(govx.SignXmlById(kNote, kNoteId)), company);

  const auto mtime = fs::last_write_time(pfx);
  WriteFile(pfx, std::string(fs::file_size(pfx), 'x'));  // same inode and size
  fs::last_write_time(pfx, mtime);
  EXPECT_EQ(certificateOf(govx.SignXmlById(kNote, kNoteId)), company);

  fs::copy_file(pki.otherCaCompanyPfx, pfx, fs::copy_options::overwrite_existing);
  fs::last_write_time(pfx, mtime + std::chrono::seconds(5));
  const std::string signed_ = govx.SignXmlById(kNote, kNoteId);
  EXPECT_NE(certificateOf(signed_), company);
  EXPECT_EQ(test::SignatureError(signed_, "infNFe", pki.otherCaCert), "");
}

}  // namespace
}  // namespace qor
