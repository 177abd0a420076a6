// TqorGovX on a test PKI made at run time: certificate checks (the openssl command line as the
// independent reader), XML signing (xmlsec1, and xmllint with the official signature schema, as
// the checkers) and PostSOAP against a real TLS peer (the round trip, connection reuse, trust,
// the client certificate, and the ways a service or a network fails).
#include "platform/GovX.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "TestPki.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/TlsFaultServer.h"
#include "support/Tools.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using test::ReadFile;
using test::TlsFaultServer;
using test::WriteFile;

// Long enough that a message cannot quote it by chance.
constexpr char kPassword[] = "senha-do-pfx-123";
constexpr char kCnpj[] = "12345678000195";
constexpr char kAction[] =
    "http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/nfeStatusServicoNF";
constexpr char kReply[] =
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
    "<retConsStatServ><cStat>107</cStat></retConsStatServ></soap:Body></soap:Envelope>";
constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";
constexpr char kNoteId[] = "NFe35240811222333000181650010000000011000000010";
const std::string kNote = std::string("<NFe xmlns=\"") + kNfeNs + "\"><infNFe Id=\"" + kNoteId +
                          "\" versao=\"4.00\"><ide><cUF>35</cUF></ide><det nItem=\"1\"><prod>"
                          "<xProd>CAFÉ TORRADO</xProd><vProd>10.00</vProd></prod></det></infNFe>"
                          "</NFe>";

// The certificates of the program, made once (key generation is the slow part).
const sim::TestPki& Pki() {
  static const test::TempDir folder;
  static const sim::TestPki pki = sim::CreateTestPki(folder / "pki", kCnpj, kPassword);
  return pki;
}

// A services object with the certificate `pfx`, trusting the test CA.
std::unique_ptr<TqorGovX> MakeGov(const std::string& pfx = Pki().companyPfx) {
  auto gov = std::make_unique<TqorGovX>();
  gov->Get_CertificateSettings().Path = pfx;
  gov->Get_CertificateSettings().Password = kPassword;
  gov->Get_HttpSettings().IgnoreInvalidCertificates = false;
  gov->Get_HttpSettings().CABundle = Pki().caCert;
  gov->Get_SignerSettings().SignedElement = "infNFe";
  return gov;
}

// Standard output of a shell command, or an empty text when it fails (its errors are dropped).
std::string Shell(const std::string& command) {
  std::string out;
  return test::RunCommand("exec 2>/dev/null; " + command, &out) == 0 ? out : std::string();
}

// notAfter of the certificate in `pfx`, as the openssl command line reads it.
Clock::time_point EndDateByOpenSsl(const std::string& pfx) {
  const std::string text = Shell("openssl pkcs12 -in '" + pfx + "' -passin 'pass:" + kPassword +
                                 "' -nokeys -clcerts | openssl x509 -noout -enddate");
  const auto eq = text.find('=');
  std::tm tm{};
  if (eq == std::string::npos ||
      ::strptime(text.c_str() + eq + 1, "%b %d %H:%M:%S %Y GMT", &tm) == nullptr) {
    ADD_FAILURE() << "openssl did not give an end date: " << text;
    return {};
  }
  return Clock::from_time_t(::timegm(&tm));
}

std::string DdMmYyyy(Clock::time_point tp) {
  const std::time_t t = Clock::to_time_t(tp);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &tm);
  return text;
}

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

class GovXTest : public ::testing::Test {
 protected:
  void Configure(const std::string& path, const std::string& password = kPassword) {
    gov_->Get_CertificateSettings().Path = path;
    gov_->Get_CertificateSettings().Password = password;
  }
  std::string CheckFailure() {
    return test::MessageOf<EqorGovException>([&] { gov_->CheckCertificate(); });
  }

  TlsFaultServer::Options ServerOptions(
      TlsFaultServer::Fault fault = TlsFaultServer::Fault::kNone) {
    TlsFaultServer::Options o;
    o.certPem = pki.serverCert;
    o.keyPem = pki.serverKey;
    o.fault = fault;
    o.body = kReply;
    return o;
  }
  std::string Post(TqorGovX& gov, const std::string& url) {
    return gov.PostSOAP(url, "<soap:Envelope/>", kAction, "nfeResultMsg", "ns");
  }
  std::string PostFailure(TqorGovX& gov, const std::string& url) {
    return test::MessageOf<EqorGovException>([&] { Post(gov, url); });
  }
  // Whether the post fails saying that the request never left (EqorGovSemConexaoException)
  // rather than with the family's base class; `message` gets the failure's message.
  bool NeverLeft(TqorGovX& gov, const std::string& url, std::string* message = nullptr) {
    try {
      Post(gov, url);
    } catch (const EqorGovSemConexaoException& failure) {
      if (message != nullptr) *message = failure.what();
      return true;
    } catch (const EqorGovException& failure) {
      if (message != nullptr) *message = failure.what();
      return false;
    }
    ADD_FAILURE() << "the post to " << url << " did not fail";
    return false;
  }
  // A port nobody listens on any more.
  int ClosedPort() { return TlsFaultServer(ServerOptions()).Port(); }

  const sim::TestPki& pki = Pki();
  std::unique_ptr<TqorGovX> gov_ = MakeGov();
  test::TempDir folder_;
};

// ---- certificates

TEST_F(GovXTest, EachFaultHasItsOwnMessage) {
  const std::string missing = folder_ / "nao-existe.pfx";
  const std::string notPkcs12 = folder_ / "texto.pfx";
  std::ofstream(notPkcs12) << "isto não é um PKCS#12";
  const std::string wrongPassword = "errada-Zq81";
  const std::string certOnly = folder_ / "so-certificado.pfx";
  ASSERT_EQ(Shell("openssl pkcs12 -export -nokeys -in '" + pki.companyCertPem + "' -out '" +
                  certOnly + "' -passout 'pass:" + kPassword + "' && echo ok"),
            "ok\n");

  std::set<std::string> messages;
  auto failure = [&](const std::string& path, const std::string& password, int kind = 2) {
    Configure(path, password);
    gov_->Get_CertificateSettings().Kind = kind;
    const std::string message = CheckFailure();
    EXPECT_TRUE(messages.insert(message).second) << "repeated: " << message;
    EXPECT_EQ(message.find(wrongPassword), std::string::npos) << message;
    EXPECT_EQ(message.find(kPassword), std::string::npos) << message;
    return message;
  };

  EXPECT_NE(failure(pki.companyPfx, kPassword, 1).find("PKCS#12"), std::string::npos);
  EXPECT_NE(failure("", kPassword).find("Certificado não informado"), std::string::npos);
  const std::string absent = failure(missing, kPassword);
  EXPECT_NE(absent.find("Certificado não encontrado"), std::string::npos) << absent;
  EXPECT_NE(absent.find(missing), std::string::npos) << absent;
  EXPECT_NE(failure(notPkcs12, kPassword).find("não é um certificado PKCS#12"), std::string::npos);
  EXPECT_NE(failure(pki.companyPfx, wrongPassword).find("Senha do certificado inválida"),
            std::string::npos);
  EXPECT_NE(failure(certOnly, kPassword).find("não contém a chave privada"), std::string::npos);
  const std::string expired = failure(pki.expiredPfx, kPassword);
  EXPECT_EQ(expired, "Certificado vencido em " + DdMmYyyy(EndDateByOpenSsl(pki.expiredPfx)) + ": " +
                         pki.expiredPfx);
}

TEST_F(GovXTest, LegacyEncryptedPfxIsRead) {
  const std::string legacy = folder_ / "legado.pfx";
  if (Shell("openssl pkcs12 -export -legacy -in '" + pki.companyCertPem + "' -inkey '" +
            pki.companyKeyPem + "' -out '" + legacy + "' -passout 'pass:" + kPassword +
            "' && echo ok") != "ok\n") {
    GTEST_SKIP() << "this openssl cannot write RC2/3DES PKCS#12 files";
  }
  Configure(legacy);
  EXPECT_NO_THROW(gov_->CheckCertificate());
  EXPECT_EQ(gov_->CertificateExpiration(), EndDateByOpenSsl(pki.companyPfx));
}

TEST_F(GovXTest, ExpirationMatchesOpenSslEvenWhenExpired) {
  Configure(pki.companyPfx);
  const auto end = gov_->CertificateExpiration();
  EXPECT_EQ(end, EndDateByOpenSsl(pki.companyPfx));
  EXPECT_GT(end, Clock::now());

  Configure(pki.expiredPfx);
  const auto expiredEnd = gov_->CertificateExpiration();
  EXPECT_EQ(expiredEnd, EndDateByOpenSsl(pki.expiredPfx));
  EXPECT_LT(expiredEnd, Clock::now());
}

TEST_F(GovXTest, ChangedFileOrPasswordIsReadAgain) {
  const std::string path = folder_ / "empresa.pfx";
  fs::copy_file(pki.companyPfx, path);
  Configure(path);
  EXPECT_NO_THROW(gov_->CheckCertificate());

  fs::copy_file(pki.expiredPfx, path, fs::copy_options::overwrite_existing);
  EXPECT_EQ(CheckFailure().rfind("Certificado vencido em ", 0), 0u);

  fs::copy_file(pki.companyPfx, path, fs::copy_options::overwrite_existing);
  EXPECT_NO_THROW(gov_->CheckCertificate());
  gov_->Get_CertificateSettings().Password = "outra-senha";
  EXPECT_NE(CheckFailure().find("Senha do certificado inválida"), std::string::npos);
  gov_->Get_CertificateSettings().Password = kPassword;
  EXPECT_NO_THROW(gov_->CheckCertificate());

  fs::remove(path);
  EXPECT_NE(CheckFailure().find("Certificado não encontrado"), std::string::npos);
}

TEST_F(GovXTest, OnCheckCertificateRunsFirstAndMayRenameTheCertificate) {
  Configure(folder_ / "ausente.pfx");
  gov_->Get_CertificateSettings().Name = "NOME CONFIGURADO";
  std::string received;
  gov_->OnCheckCertificate = [&](std::string& name) {
    received = name;
    name = "EMPRESA TESTE:12345678000195";
  };
  EXPECT_NE(CheckFailure().find("Certificado não encontrado"), std::string::npos);
  EXPECT_EQ(received, "NOME CONFIGURADO");
  EXPECT_EQ(gov_->Get_CertificateSettings().Name, "EMPRESA TESTE:12345678000195");
}

// ---- signing

TEST_F(GovXTest, NoteSignatureVerifiesHasTheRequiredFormAndBreaksWhenAltered) {
  const std::string signed_ = gov_->SignXmlById(kNote, kNoteId);
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

TEST_F(GovXTest, AParsedTextIsSignedAsTheTextItself) {
  std::string digestOfText, digestOfDocument;
  const std::string fromText = gov_->SignXmlById(kNote, kNoteId, &digestOfText);
  const std::string fromDocument =
      gov_->SignXmlById(XmlDocument::Parse(kNote), kNoteId, &digestOfDocument);
  // RSA PKCS#1 v1.5 signatures are deterministic: the same note gives the same bytes.
  EXPECT_EQ(fromDocument, fromText);
  EXPECT_EQ(digestOfDocument, digestOfText);
  EXPECT_EQ(digestOfText, Between(fromText, "<DigestValue>", "</DigestValue>"));
  EXPECT_EQ(test::SignatureError(fromDocument, "infNFe", pki.caCert), "");
  EXPECT_THROW(gov_->SignXmlById(XmlDocument::Parse(kNote), "NFeOutro"), EqorGovException);
}

TEST_F(GovXTest, SignatureIsValidAgainstTheOfficialSignatureSchema) {
  QOR_NEEDS_SCHEMAS();
  const std::string signed_ = gov_->SignXmlById(kNote, kNoteId);
  const std::size_t at = signed_.find("<Signature ");
  EXPECT_EQ(test::SchemaError(signed_.substr(at, signed_.size() - at - 6),  // minus </NFe>
                              "xmldsig-core-schema_v1.01.xsd"),
            "");
}

TEST_F(GovXTest, EventSignatureVerifies) {
  gov_->Get_SignerSettings().SignedElement = "infEvento";
  const std::string id = "ID1101113524081122233300018165001000000001100000001001";
  const std::string event =
      std::string("<evento xmlns=\"") + kNfeNs + "\" versao=\"1.00\"><infEvento Id=\"" + id +
      "\"><cOrgao>35</cOrgao><tpEvento>110111</tpEvento></infEvento></evento>";
  const std::string signed_ = gov_->SignXmlById(event, id);
  EXPECT_EQ(test::SignatureError(signed_, "infEvento", pki.caCert), "") << signed_;
  EXPECT_TRUE(signed_.ends_with("</Signature></evento>"));
}

TEST_F(GovXTest, FailuresThrowWithTheirMessages) {
  auto message = [&](const std::string& xml, const std::string& id) {
    return test::MessageOf<EqorGovException>([&] { gov_->SignXmlById(xml, id); });
  };
  EXPECT_EQ(message(kNote, "NFe000"), "Elemento de Id NFe000 não encontrado.");
  // Only the Id of the configured element counts.
  gov_->Get_SignerSettings().SignedElement = "infEvento";
  EXPECT_EQ(message(kNote, kNoteId), std::string("Elemento de Id ") + kNoteId + " não encontrado.");
  gov_->Get_SignerSettings().SignedElement = "infNFe";
  EXPECT_NE(message("<NFe><infNFe Id=\"a\"></NFe>", "a").find("não é válido"), std::string::npos);

  gov_->Get_CertificateSettings().Password = "errada";
  EXPECT_EQ(message(kNote, kNoteId),
            "Senha do certificado inválida para o arquivo " + pki.companyPfx + ".");
  gov_->Get_CertificateSettings().Password = kPassword;
  gov_->Get_CertificateSettings().Path = pki.expiredPfx;
  EXPECT_EQ(message(kNote, kNoteId).rfind("Certificado vencido em ", 0), 0u);
}

// The certificate is read once: a file whose content changes behind the same name, size and
// modification time keeps signing with what was loaded; a new modification time reloads it.
TEST_F(GovXTest, CertificateIsLoadedOnceAndReloadedWhenTheFileChanges) {
  const std::string pfx = folder_ / "empresa.pfx";
  fs::copy_file(pki.companyPfx, pfx);
  gov_->Get_CertificateSettings().Path = pfx;
  const std::string company = PemBody(ReadFile(pki.companyCertPem));
  auto certificateOf = [&](const std::string& xml) {
    return Between(xml, "<X509Certificate>", "</X509Certificate>");
  };
  EXPECT_EQ(certificateOf(gov_->SignXmlById(kNote, kNoteId)), company);

  const auto mtime = fs::last_write_time(pfx);
  WriteFile(pfx, std::string(fs::file_size(pfx), 'x'));  // same inode and size
  fs::last_write_time(pfx, mtime);
  EXPECT_EQ(certificateOf(gov_->SignXmlById(kNote, kNoteId)), company);

  fs::copy_file(pki.otherCaCompanyPfx, pfx, fs::copy_options::overwrite_existing);
  fs::last_write_time(pfx, mtime + std::chrono::seconds(5));
  const std::string signed_ = gov_->SignXmlById(kNote, kNoteId);
  EXPECT_NE(certificateOf(signed_), company);
  EXPECT_EQ(test::SignatureError(signed_, "infNFe", pki.otherCaCert), "");
}

// ---- posting

TEST_F(GovXTest, RoundTripCarriesActionBodyAndClientCertificate) {
  TlsFaultServer server(ServerOptions());
  gov_->Set_DiagnosticMode(true);
  const std::string envelope = "<soap:Envelope>pedido com acentuação</soap:Envelope>";

  ::testing::internal::CaptureStderr();
  const std::string reply = gov_->PostSOAP(server.Url(), envelope, kAction, "r", "ns");
  const std::string printed = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(reply, kReply);
  ASSERT_EQ(server.Requests().size(), 1u);
  const auto request = server.Requests().front();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/ws");
  EXPECT_EQ(request.headers.at("content-type"),
            std::string("application/soap+xml;charset=UTF-8;action=\"") + kAction + "\"");
  EXPECT_EQ(request.headers.count("expect"), 0u);
  EXPECT_EQ(request.body, envelope);
  EXPECT_NE(request.clientSubject.find(std::string("EMPRESA TESTE:") + kCnpj), std::string::npos)
      << request.clientSubject;
  // Diagnostic mode must not turn the transport's trace loose on the host's terminal.
  EXPECT_EQ(printed, "");
}

TEST_F(GovXTest, ConsecutivePostsReuseOneConnectionUntilASettingChanges) {
  TlsFaultServer server(ServerOptions());
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Post(*gov_, server.Url()), kReply);
  EXPECT_EQ(server.Requests().size(), 10u);
  EXPECT_EQ(server.Handshakes(), 1);

  gov_->Get_HttpSettings().TimeOut = 5000;  // not a connection setting
  Post(*gov_, server.Url());
  EXPECT_EQ(server.Handshakes(), 1);

  gov_->Get_HttpSettings().IgnoreInvalidCertificates = true;  // a connection setting
  Post(*gov_, server.Url());
  EXPECT_EQ(server.Handshakes(), 2);
}

TEST_F(GovXTest, ServerThatRequiresTheCompanyCaAcceptsOnlyItsCertificates) {
  auto options = ServerOptions();
  options.clientCaPem = pki.caCert;
  TlsFaultServer server(options);

  EXPECT_EQ(Post(*MakeGov(), server.Url()), kReply);

  auto foreign = MakeGov(pki.otherCaCompanyPfx);
  std::string message = PostFailure(*foreign, server.Url());
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;

  auto anonymous = MakeGov("");
  message = PostFailure(*anonymous, server.Url());
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(GovXTest, ServerTrustFollowsIgnoreInvalidCertificates) {
  auto options = ServerOptions();
  options.certPem = pki.otherCaServerCert;
  options.keyPem = pki.otherCaServerKey;
  TlsFaultServer foreignServer(options);

  const std::string message = PostFailure(*gov_, foreignServer.Url());
  EXPECT_NE(message.find(foreignServer.Url()), std::string::npos) << message;
  EXPECT_NE(message.find("não é confiável"), std::string::npos) << message;
  EXPECT_TRUE(foreignServer.Requests().empty());
  EXPECT_TRUE(NeverLeft(*gov_, foreignServer.Url())) << "an untrusted server never reads it";

  auto trusting = MakeGov();
  trusting->Get_HttpSettings().IgnoreInvalidCertificates = true;
  EXPECT_EQ(Post(*trusting, foreignServer.Url()), kReply);
}

TEST_F(GovXTest, BrokenExchangesFailNamingTheAddress) {
  using Fault = TlsFaultServer::Fault;
  struct Row {
    const char* name;
    Fault fault;
    int timeOut;             // 0: the default
    std::string beforeUrl;   // what the message has right before the address
    std::string afterwards;  // and somewhere else, when not empty
    int requests;            // the requests the server saw, -1 when not checked
  };
  // Each of these may have reached the server (a configured time-out cannot tell a handshake
  // from a request being read), so none is EqorGovSemConexaoException.
  const Row rows[] = {
      {"closed without a reply", Fault::kCloseWithoutReply, 0, "Falha na comunicação com ", "", 1},
      // Content-Length promises 1000 bytes; a short body must not pass for a reply.
      {"truncated body", Fault::kTruncatedBody, 0, "", "incompleta", -1},
      {"never answers", Fault::kNeverAnswer, 300, "", "tempo limite de 300 ms esgotado", -1},
      {"never handshakes", Fault::kNeverHandshake, 300, "", "tempo limite de 300 ms esgotado", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TlsFaultServer server(ServerOptions(row.fault));
    auto gov = MakeGov();
    if (row.timeOut > 0) gov->Get_HttpSettings().TimeOut = row.timeOut;
    std::string message;
    EXPECT_FALSE(NeverLeft(*gov, server.Url(), &message));
    EXPECT_NE(message.find(row.beforeUrl + server.Url()), std::string::npos) << message;
    if (!row.afterwards.empty()) {
      EXPECT_NE(message.find(row.afterwards), std::string::npos) << message;
    }
    if (row.requests >= 0) {
      EXPECT_EQ(server.Requests().size(), std::size_t(row.requests));
    }
  }
  const std::string url = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/ws";
  auto gov = MakeGov();
  const std::string message = PostFailure(*gov, url);
  EXPECT_NE(message.find(url), std::string::npos) << message;
  EXPECT_NE(message.find("não foi possível conectar"), std::string::npos) << message;
  EXPECT_TRUE(NeverLeft(*gov, url)) << "a refused connection";
  EXPECT_TRUE(NeverLeft(*gov, "ftp://127.0.0.1/ws")) << "a protocol that cannot be used";
}

TEST_F(GovXTest, HttpErrorStatusQuotesTheReplyWithoutPasswords) {
  auto options = ServerOptions();
  options.status = 500;
  options.body = std::string("<soap:Fault>Erro interno; eco da senha ") + kPassword +
                 " e do proxy segredo-proxy</soap:Fault>";
  TlsFaultServer server(options);
  gov_->Get_HttpSettings().ProxyPassword = "segredo-proxy";  // no Proxy set: not used

  const std::string message = PostFailure(*gov_, server.Url());
  EXPECT_NE(message.find(server.Url() + ": HTTP 500"), std::string::npos) << message;
  EXPECT_NE(message.find("Erro interno"), std::string::npos) << message;
  EXPECT_EQ(message.find(kPassword), std::string::npos) << message;
  EXPECT_EQ(message.find("segredo-proxy"), std::string::npos) << message;
}

TEST_F(GovXTest, ConfiguredProxyIsTheRoadTaken) {
  TlsFaultServer server(ServerOptions());
  const int closedPort = ClosedPort();
  gov_->Get_HttpSettings().Proxy = "127.0.0.1:" + std::to_string(closedPort);
  gov_->Get_HttpSettings().ProxyUser = "usuario";
  gov_->Get_HttpSettings().ProxyPassword = "senha-do-proxy-999";

  const std::string message = PostFailure(*gov_, server.Url());
  EXPECT_NE(message.find(server.Url()), std::string::npos) << message;
  EXPECT_NE(message.find("proxy 127.0.0.1:" + std::to_string(closedPort)), std::string::npos)
      << message;
  EXPECT_EQ(message.find("senha-do-proxy-999"), std::string::npos) << message;
  EXPECT_TRUE(server.Requests().empty());

  gov_->Get_HttpSettings().Proxy.clear();
  EXPECT_EQ(Post(*gov_, server.Url()), kReply);
}

TEST_F(GovXTest, ExpiredCertificateStopsThePostBeforeConnecting) {
  TlsFaultServer server(ServerOptions());
  Configure(pki.expiredPfx);
  const std::string message = PostFailure(*gov_, server.Url());
  EXPECT_EQ(message.rfind("Certificado vencido em ", 0), 0u) << message;
  EXPECT_EQ(server.Handshakes() + server.FailedHandshakes(), 0);
}

}  // namespace
}  // namespace qor
