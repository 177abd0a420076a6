// The simulator seen from outside: curl is the client, openssl s_client probes the handshake,
// xmllint checks the replies against the official schema package.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "Simulator.h"
#include "platform/IniFile.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SchemasFolder;
using test::SharedPki;
using test::TempDir;
using test::WriteFile;

const std::string kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
const std::string kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";
const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";
const std::string kSoapType = "application/soap+xml; charset=utf-8";
const std::string kStatus4 = "/ws/NFeStatusServico4.asmx";
const std::string kStatus2 = "/ws/NfeStatusServico2.asmx";

// ---- request texts, written here by hand so that a fault in the templates cannot hide one in
// the simulator ----------------------------------------------------------------------------------

std::string Cons(const std::string& versao, const std::string& tpAmb, const std::string& cUF,
                 const std::string& xServ = "STATUS") {
  return "<consStatServ xmlns=\"" + kNfe + "\" versao=\"" + versao + "\"><tpAmb>" + tpAmb +
         "</tpAmb><cUF>" + cUF + "</cUF><xServ>" + xServ + "</xServ></consStatServ>";
}

std::string Envelope4(const std::string& data, const std::string& service = "NFeStatusServico4") {
  return "<soap:Envelope xmlns:soap=\"" + kSoap12 + "\" xmlns:nfes=\"" + kWsdl + service +
         "\"><soap:Header/><soap:Body><nfes:nfeDadosMsg>" + data +
         "</nfes:nfeDadosMsg></soap:Body></soap:Envelope>";
}

std::string Cabec(const std::string* cUF, const std::string* versaoDados) {
  std::string text = "<nfeCabecMsg xmlns=\"" + kWsdl + "NfeStatusServico2\">";
  if (cUF) text += "<cUF>" + *cUF + "</cUF>";
  if (versaoDados) text += "<versaoDados>" + *versaoDados + "</versaoDados>";
  return text + "</nfeCabecMsg>";
}

std::string Envelope3(const std::string& header, const std::string& data) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope"
         " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
         " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:SOAP-ENV=\"" +
         kSoap12 + "\"><SOAP-ENV:Header>" + header +
         "</SOAP-ENV:Header><SOAP-ENV:Body><nfeDadosMsg xmlns=\"" + kWsdl + "NfeStatusServico2\">" +
         data + "</nfeDadosMsg></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct Reply {
  int exitCode = -1;
  int http = 0;  // 0: no HTTP answer at all
  std::string contentType;
  std::string file;  // the body as received
  std::string body;
  std::string log;  // curl's messages
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator_ = std::make_unique<Simulator>(test::TestSimulatorOptions(dir_ / "simulador"));
    simulator_->Start();
  }

  static std::string CompanyCert() {
    return "--cert " + SharedPki().companyCertPem + " --key " + SharedPki().companyKeyPem;
  }
  static std::string Pfx(const std::string& pfx) {
    return "--cert-type P12 --cert " + pfx + ":" + SharedPki().password;
  }

  // POSTs `body` with curl, verifying the server against the test CA (no -k: the certificate's
  // subjectAltName must name 127.0.0.1).
  Reply Post(const std::string& path, const std::string& body,
             const std::string& clientCert = CompanyCert(),
             const std::string& contentType = kSoapType, const std::string& extra = "") {
    const std::string n = std::to_string(++posts_);
    Reply reply;
    reply.file = dir_ / ("resposta-" + n + ".xml");
    WriteFile(dir_ / ("pedido-" + n + ".xml"), body);
    const std::string meta = dir_ / ("meta-" + n);
    reply.exitCode = RunCommand("curl -sS " + extra + " --cacert " + SharedPki().caCert + " " +
                                    clientCert + " -H 'Content-Type: " + contentType +
                                    "' --data-binary @" + dir_ / ("pedido-" + n + ".xml") + " -o " +
                                    reply.file + " -w '%{http_code} %{content_type}' " +
                                    simulator_->BaseUrl() + path + " > " + meta,
                                &reply.log);
    const std::string written = ReadFile(meta);
    reply.http = std::atoi(written.c_str());
    if (written.size() > 4) reply.contentType = written.substr(4);
    reply.body = ReadFile(reply.file);
    return reply;
  }

  // An XPath 1.0 string expression evaluated by xmllint over a reply.
  static std::string XPath(const Reply& reply, const std::string& expression) {
    std::string out;
    RunCommand("xmllint --xpath \"" + expression + "\" " + reply.file, &out);
    return Trim(out);
  }

  // Validates the reply's retConsStatServ against the official schema with xmllint.
  ::testing::AssertionResult ValidRetConsStatServ(const Reply& reply, const std::string& layout) {
    const std::string ret = reply.file + ".ret.xml";
    std::string out;
    if (RunCommand(
            "xmllint --xpath \"//*[local-name()='retConsStatServ']\" " + reply.file + " > " + ret,
            &out) != 0)
      return ::testing::AssertionFailure() << "no retConsStatServ: " << reply.body << out;
    const std::string xsd = SchemasFolder() + "/retConsStatServ_v" + layout + ".xsd";
    if (RunCommand("xmllint --noout --nonet --schema " + xsd + " " + ret, &out) != 0)
      return ::testing::AssertionFailure() << out << "\n" << ReadFile(ret);
    return ::testing::AssertionSuccess();
  }

  TempDir dir_;
  std::unique_ptr<Simulator> simulator_;
  int posts_ = 0;
};

// ---- the status service: one table of requests and the answer each must get ---------------------

const std::string k35 = "35", k99 = "99", v310 = "3.10", v400 = "4.00", v200 = "2.00";

struct StatusCase {
  const char* name;
  std::string path;
  std::string envelope;
  std::string cStat;
  std::string layout;
  std::string cUF;    // answered
  std::string tpAmb;  // answered
};

class StatusTest : public SimulatorTest, public ::testing::WithParamInterface<StatusCase> {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    SimulatorTest::SetUp();
  }
};

TEST_P(StatusTest, AnswersTheStandardsDocument) {
  const StatusCase& c = GetParam();
  Reply reply = Post(c.path, c.envelope);
  ASSERT_EQ(0, reply.exitCode) << reply.log;
  EXPECT_EQ(200, reply.http) << reply.body;
  EXPECT_EQ(kSoapType, reply.contentType);
  EXPECT_EQ(kSoap12, XPath(reply, "namespace-uri(/*)"));
  EXPECT_EQ(c.cStat, XPath(reply, "string(//*[local-name()='cStat'])")) << reply.body;
  EXPECT_EQ(c.cUF,
            XPath(reply, "string(//*[local-name()='retConsStatServ']/*[local-name()='cUF'])"));
  EXPECT_EQ(c.tpAmb, XPath(reply, "string(//*[local-name()='tpAmb'])"));
  // The schema accepts any offset; the service answers in Brasília time.
  const std::string dhRecbto = XPath(reply, "string(//*[local-name()='dhRecbto'])");
  EXPECT_TRUE(dhRecbto.size() == 25 && dhRecbto[10] == 'T' && dhRecbto.ends_with("-03:00"))
      << dhRecbto;
  EXPECT_TRUE(ValidRetConsStatServ(reply, c.layout));

  const std::string result = "/*[local-name()='Envelope']/*[local-name()='Body']/*";
  if (c.layout == "4.00") {
    EXPECT_EQ("nfeResultMsg", XPath(reply, "local-name(" + result + ")"));
    EXPECT_EQ(kWsdl + "NFeStatusServico4", XPath(reply, "namespace-uri(" + result + ")"));
  } else {
    EXPECT_EQ("nfeStatusServicoNF2Result", XPath(reply, "local-name(" + result + ")"));
    EXPECT_EQ(kWsdl + "NfeStatusServico2", XPath(reply, "namespace-uri(" + result + ")"));
    EXPECT_EQ(c.cUF, XPath(reply, "string(//*[local-name()='nfeCabecMsg']/*[local-name()='cUF'])"));
  }
  if (c.cStat == "107") {
    EXPECT_NE(reply.body.find("<xMotivo>Serviço em Operação</xMotivo>"), std::string::npos);
  } else if (c.cStat == "215") {
    EXPECT_NE(reply.body.find("<xMotivo>Rejeição: Falha no schema XML</xMotivo>"),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Status, StatusTest,
    ::testing::Values(
        StatusCase{"Layout4EmOperacao", kStatus4, Envelope4(Cons(v400, "1", "35")), "107", v400,
                   "35", "1"},
        StatusCase{"Layout4SemNfeDadosMsg", kStatus4,
                   "<e:Envelope xmlns:e=\"" + kSoap12 + "\"><e:Body>" + Cons(v400, "2", "41") +
                       "</e:Body></e:Envelope>",
                   "107", v400, "41", "2"},
        StatusCase{"Layout4XServInvalido", kStatus4, Envelope4(Cons(v400, "2", "35", "CONSULTAR")),
                   "215", v400, "35", "2"},
        StatusCase{"Layout4CufForaDaTabela", kStatus4, Envelope4(Cons(v400, "2", "99")), "215",
                   v400, "43", "2"},
        StatusCase{"Layout4TpAmbInvalido", kStatus4, Envelope4(Cons(v400, "3", "35")), "215", v400,
                   "35", "2"},
        StatusCase{"Layout4RecebeVersao310", kStatus4, Envelope4(Cons(v310, "2", "35")), "215",
                   v400, "35", "2"},
        StatusCase{"Layout4ComPrefixoDeNamespace", kStatus4,
                   Envelope4("<n:consStatServ xmlns:n=\"" + kNfe +
                             "\" versao=\"4.00\"><n:tpAmb>2"
                             "</n:tpAmb><n:cUF>35</n:cUF><n:xServ>STATUS</n:xServ>"
                             "</n:consStatServ>"),
                   "404", v400, "35", "2"},
        StatusCase{"Layout4DadosVazios", kStatus4, Envelope4(""), "215", v400, "43", "2"},
        StatusCase{"Layout310EmOperacao", kStatus2,
                   Envelope3(Cabec(&k35, &v310), Cons(v310, "2", "35")), "107", v310, "35", "2"},
        StatusCase{"Layout310SemCabecalho", kStatus2, Envelope3("", Cons(v310, "2", "35")), "242",
                   v310, "35", "2"},
        StatusCase{"Layout310CabecalhoSemCuf", kStatus2,
                   Envelope3(Cabec(nullptr, &v310), Cons(v310, "2", "35")), "409", v310, "35", "2"},
        StatusCase{"Layout310CufNaoAtendida", kStatus2,
                   Envelope3(Cabec(&k99, &v310), Cons(v310, "2", "35")), "410", v310, "35", "2"},
        StatusCase{"Layout310SemVersaoDados", kStatus2,
                   Envelope3(Cabec(&k35, nullptr), Cons(v310, "2", "35")), "411", v310, "35", "2"},
        StatusCase{"Layout310VersaoSuperior", kStatus2,
                   Envelope3(Cabec(&k35, &v400), Cons(v310, "2", "35")), "238", v310, "35", "2"},
        StatusCase{"Layout310VersaoNaoSuportada", kStatus2,
                   Envelope3(Cabec(&k35, &v200), Cons(v310, "2", "35")), "239", v310, "35", "2"}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

// ---- SOAP-level refusals
// -------------------------------------------------------------------------

struct FaultCase {
  const char* name;
  std::string path;
  std::string body;
  std::string contentType;
  int http;
  std::string faultCode;  // "" when the answer is not a SOAP Fault
  std::string reason;     // part of the Fault's reason
};

class SoapFaultTest : public SimulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SoapFaultTest, RefusesBeforeAnyServiceRuns) {
  const FaultCase& c = GetParam();
  Reply reply = Post(c.path, c.body, CompanyCert(), c.contentType);
  ASSERT_EQ(0, reply.exitCode) << reply.log;
  EXPECT_EQ(c.http, reply.http) << reply.body;
  EXPECT_EQ(1, simulator_->RequestCount());
  if (c.faultCode.empty()) {
    EXPECT_EQ(reply.body.find("Fault"), std::string::npos);
    return;
  }
  EXPECT_EQ(kSoapType, reply.contentType);
  EXPECT_EQ(kSoap12, XPath(reply, "namespace-uri(/*)"));
  EXPECT_EQ(
      c.faultCode,
      XPath(reply,
            "string(//*[local-name()='Fault']/*[local-name()='Code']/*[local-name()='Value'])"));
  EXPECT_NE(XPath(reply, "string(//*[local-name()='Reason'])").find(c.reason), std::string::npos)
      << reply.body;
}

INSTANTIATE_TEST_SUITE_P(
    Soap, SoapFaultTest,
    ::testing::Values(
        FaultCase{"NaoXml", kStatus4, "isto não é XML", kSoapType, 400, "soap:Sender",
                  "mal formada"},
        FaultCase{"Soap11", kStatus4,
                  "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body/>"
                  "</s:Envelope>",
                  kSoapType, 500, "soap:VersionMismatch", "SOAP 1.2"},
        FaultCase{"SemBody", kStatus4,
                  "<s:Envelope xmlns:s=\"" + kSoap12 + "\"><s:Header/></s:Envelope>", kSoapType,
                  400, "soap:Sender", "Body"},
        FaultCase{"NamespaceDeOutroServico", kStatus4,
                  Envelope4(Cons(v400, "2", "35"), "NFeAutorizacao4"), kSoapType, 400,
                  "soap:Sender", "nfeDadosMsg"},
        FaultCase{"MediaTypeDoSoap11", kStatus4, Envelope4(Cons(v400, "2", "35")),
                  "text/xml; charset=utf-8", 415, "", ""},
        FaultCase{"CaminhoDesconhecido", "/ws/Nada.asmx", Envelope4(""), kSoapType, 404, "", ""}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(SimulatorTest, VersionMismatchNamesTheSupportedEnvelope) {
  Reply reply = Post(kStatus4, "<x:Envelope xmlns:x=\"urn:nada\"/>");
  EXPECT_EQ(500, reply.http);
  EXPECT_EQ("soap:VersionMismatch", XPath(reply, "string(//*[local-name()='Value'])"));
  EXPECT_EQ("ns1:Envelope", XPath(reply,
                                  "string(//*[local-name()='Header']/*[local-name()="
                                  "'Upgrade']/*[local-name()='SupportedEnvelope']/@qname)"));
}

// ---- TLS: the transmitter is authenticated in the handshake
// --------------------------------------

TEST_F(SimulatorTest, HandshakeRefusesClientsWithoutACertificateOfTheTestCa) {
  const TestPki& pki = SharedPki();
  for (const std::string& client :
       {std::string(), Pfx(pki.otherCaCompanyPfx), Pfx(pki.expiredPfx)}) {
    Reply reply = Post(kStatus4, Envelope4(Cons(v400, "2", "35")), client);
    EXPECT_NE(0, reply.exitCode) << client;
    EXPECT_EQ(0, reply.http) << client << ": " << reply.log;
  }
  EXPECT_EQ(0, simulator_->RequestCount());

  // The company's PKCS#12 itself gets through, so the refusals above are about the certificate.
  Reply accepted =
      Post("/ws/NFeInutilizacao4.asmx", Envelope4("", "NFeInutilizacao4"), Pfx(pki.companyPfx));
  EXPECT_EQ(0, accepted.exitCode) << accepted.log;
  EXPECT_EQ(200, accepted.http);
  EXPECT_EQ(1, simulator_->RequestCount());
}

TEST_F(SimulatorTest, ServerPresentsAVerifiableCertificateAndAsksForTheTestCa) {
  std::string out;
  RunCommand("openssl s_client -connect 127.0.0.1:" + std::to_string(simulator_->Port()) +
                 " -CAfile " + SharedPki().caCert + " -verify_ip 127.0.0.1 < /dev/null",
             &out);
  EXPECT_NE(out.find("Verify return code: 0 (ok)"), std::string::npos) << out;
  EXPECT_NE(out.find("Acceptable client certificate CA names"), std::string::npos) << out;
  EXPECT_NE(out.find("AC TESTE NFC-e"), std::string::npos) << out;
}

// ---- server-address files --------------------------------------------------------------------

TEST_F(SimulatorTest, ServerFilesNameEveryServiceOfEveryUfAtThisSimulator) {
  const std::string prod = dir_ / "nfceServidoresProd.ini", hom = dir_ / "nfceServidoresHom.ini";
  simulator_->WriteServerFiles(prod, hom);
  EXPECT_EQ(ReadFile(prod), ReadFile(hom));

  const char* ufs[] = {"AC", "AL", "AP", "AM", "BA", "CE", "DF", "ES", "GO", "MA",
                       "MT", "MS", "MG", "PA", "PB", "PR", "PE", "PI", "RJ", "RN",
                       "RS", "RO", "RR", "SC", "SP", "SE", "TO", "AN"};
  const char* keys[] = {"NfeStatusServico3", "NfeStatusServico4",  "NfeRecepcao3",
                        "NfeRecepcao4",      "NfeRetRecepcao3",    "NfeRetRecepcao4",
                        "NfeConsulta3",      "NfeConsulta4",       "NfeInutilizacao3",
                        "NfeInutilizacao4",  "nfeRecepcaoEvento3", "nfeRecepcaoEvento4",
                        "NfeRecepcaoEPEC",   "URLQRCODE",          "URLCONSULTACHAVE"};
  const std::string base = simulator_->BaseUrl() + "/";
  TIniFile ini(hom);
  for (const char* uf : ufs) {
    for (const char* key : keys)
      EXPECT_EQ(0u, ini.ReadString(uf, key, "").rfind(base, 0)) << uf << " " << key;
    EXPECT_EQ(base + "consulta-chave", ini.ReadString("URLCONSULTACHAVE", uf, "")) << uf;
  }
  EXPECT_EQ(base + "ws/NFeStatusServico4.asmx", ini.ReadString("SP", "NfeStatusServico4", ""));

  // Every address answers at the SOAP level: no key points at a path the server does not route.
  for (const char* key : keys) {
    if (std::string(key).rfind("URL", 0) == 0) continue;
    const std::string url = ini.ReadString("MG", key, "");
    Reply reply = Post(url.substr(base.size() - 1), Envelope4(""));
    EXPECT_NE(404, reply.http) << key << " " << url;
    EXPECT_EQ(kSoapType, reply.contentType) << key;
  }
}

TEST(SimulatorLifecycleTest, RefusesWhatItCannotServe) {
  TempDir dir;
  const TestPki& pki = SharedPki();
  SimulatorOptions options;
  options.caCert = pki.caCert;
  options.serverCert = pki.serverCert;
  options.serverKey = pki.serverKey;
  Simulator first(options);
  EXPECT_THROW(first.WriteServerFiles(dir / "p.ini", dir / "h.ini"), std::logic_error);
  first.Start();

  options.port = first.Port();
  Simulator samePort(options);
  EXPECT_THROW(samePort.Start(), std::runtime_error);

  options.port = 0;
  options.serverKey = pki.caKey;  // does not match the certificate
  Simulator wrongKey(options);
  EXPECT_THROW(wrongKey.Start(), std::runtime_error);
  options.serverKey = dir / "ausente.pem";
  Simulator missingKey(options);
  EXPECT_THROW(missingKey.Start(), std::runtime_error);
  first.Stop();
  first.Start();  // starts again after a stop
  EXPECT_GT(first.Port(), 0);
}

// ---- fault modes ------------------------------------------------------------------------------

TEST_F(SimulatorTest, FaultModesBreakTheAnswerUntilSwitchedOff) {
  const std::string body = Envelope4(Cons(v400, "2", "35"));
  simulator_->SetFault(SimulatorFault::Http500);
  Reply failed = Post(kStatus4, body);
  EXPECT_EQ(500, failed.http);
  EXPECT_EQ("soap:Receiver", XPath(failed, "string(//*[local-name()='Value'])"));

  simulator_->SetFault(SimulatorFault::NoSoapBody);
  Reply bodiless = Post(kStatus4, body);
  EXPECT_EQ(200, bodiless.http);
  EXPECT_EQ(kSoap12, XPath(bodiless, "namespace-uri(/*)"));
  EXPECT_EQ("0", XPath(bodiless, "count(//*[local-name()='Body'])"));

  // A delay far beyond curl's patience shows up as curl's time-out (exit 28), whatever the speed
  // of the machine; stopping the simulator cuts the delay short.
  simulator_->SetFault(SimulatorFault::Delay, 600000);
  Reply late = Post(kStatus4, body, CompanyCert(), kSoapType, "--max-time 2");
  EXPECT_EQ(28, late.exitCode) << late.log;

  simulator_->SetFault(SimulatorFault::Normal);
  Reply normal = Post("/ws/NFeInutilizacao4.asmx", Envelope4("", "NFeInutilizacao4"));
  EXPECT_NE(normal.body.find("Falha no schema XML"), std::string::npos) << normal.body;
  EXPECT_GE(simulator_->RequestCount(), 3);
}

}  // namespace
}  // namespace qor::sim
