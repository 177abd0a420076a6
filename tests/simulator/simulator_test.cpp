// The status and query services seen from outside: curl is the client, openssl s_client probes
// the handshake, xmllint reads the replies and checks them against the official schema package,
// xmlsec1 verifies the cancellation event a query reply carries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <stdexcept>
#include <string>

#include "NoteStore.h"
#include "Simulator.h"
#include "platform/IniFile.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SharedPki;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
const std::string kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";
const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";
const std::string kSoapType = "application/soap+xml; charset=utf-8";
const std::string kStatus4 = "/ws/NFeStatusServico4.asmx", kStatus2 = "/ws/NfeStatusServico2.asmx";
const std::string kQuery4 = "/ws/NFeConsultaProtocolo4.asmx", kQuery2 = "/ws/NfeConsulta2.asmx";

// ---- request texts, written here by hand so that a fault in the templates cannot hide one in
// the simulator ----

std::string Cons(const std::string& versao, const std::string& tpAmb, const std::string& cUF,
                 const std::string& xServ = "STATUS") {
  return "<consStatServ xmlns=\"" + kNfe + "\" versao=\"" + versao + "\"><tpAmb>" + tpAmb +
         "</tpAmb><cUF>" + cUF + "</cUF><xServ>" + xServ + "</xServ></consStatServ>";
}

std::string Sit(const std::string& versao, const std::string& chave, const std::string& tpAmb) {
  return "<consSitNFe xmlns=\"" + kNfe + "\" versao=\"" + versao + "\"><tpAmb>" + tpAmb +
         "</tpAmb><xServ>CONSULTAR</xServ><chNFe>" + chave + "</chNFe></consSitNFe>";
}

std::string Envelope4(const std::string& data, const std::string& service = "NFeStatusServico4") {
  return "<soap:Envelope xmlns:soap=\"" + kSoap12 + "\" xmlns:nfes=\"" + kWsdl + service +
         "\"><soap:Header/><soap:Body><nfes:nfeDadosMsg>" + data +
         "</nfes:nfeDadosMsg></soap:Body></soap:Envelope>";
}

// A 3.10 header of `service`; an empty cUF or versaoDados is left out.
std::string Cabec(const std::string& cUF, const std::string& versao,
                  const std::string& service = "NfeStatusServico2") {
  return "<nfeCabecMsg xmlns=\"" + kWsdl + service + "\">" +
         (cUF.empty() ? "" : "<cUF>" + cUF + "</cUF>") +
         (versao.empty() ? "" : "<versaoDados>" + versao + "</versaoDados>") + "</nfeCabecMsg>";
}

std::string Envelope3(const std::string& header, const std::string& data = Cons("3.10", "2", "35"),
                      const std::string& service = "NfeStatusServico2") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope"
         " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
         " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:SOAP-ENV=\"" +
         kSoap12 + "\"><SOAP-ENV:Header>" + header +
         "</SOAP-ENV:Header><SOAP-ENV:Body><nfeDadosMsg xmlns=\"" + kWsdl + service + "\">" + data +
         "</nfeDadosMsg></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Query4(const std::string& chave, const std::string& tpAmb = "2") {
  return Envelope4(Sit("4.00", chave, tpAmb), "NFeConsultaProtocolo4");
}
std::string Query3(const std::string& chave, bool header = true) {
  return Envelope3(header ? Cabec("35", "3.10", "NfeConsulta2") : "", Sit("3.10", chave, "2"),
                   "NfeConsulta2");
}

struct Reply {
  int exitCode = -1;
  int http = 0;                              // 0: no HTTP answer at all
  std::string contentType, file, body, log;  // file: the body as received; log: curl's messages
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { StartSimulator(); }
  void StartSimulator() {
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
    const std::string n = std::to_string(++posts_), meta = dir_ / ("meta-" + n);
    Reply reply;
    reply.file = dir_ / ("resposta-" + n + ".xml");
    test::WriteFile(dir_ / ("pedido-" + n + ".xml"), body);
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

  // An XPath 1.0 expression evaluated by xmllint over a reply.
  static std::string XPath(const Reply& reply, const std::string& expression) {
    std::string out;
    RunCommand("xmllint --xpath \"" + expression + "\" " + reply.file, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  // A path of local names: "//a/b" stands for //*[local-name()='a']/*[local-name()='b'].
  static std::string Local(const std::string& path) {
    return std::regex_replace(path, std::regex("(^|/)([A-Za-z]\\w*)"), "$1*[local-name()='$2']");
  }
  static std::string Of(const Reply& reply, const std::string& element) {
    return XPath(reply, Local("//" + element));
  }
  static std::string Text(const Reply& reply, const std::string& path) {
    return XPath(reply, "string(" + Local(path) + ")");
  }
  static std::string Count(const Reply& reply, const std::string& path) {
    return XPath(reply, "count(" + Local(path) + ")");
  }
  // xmllint's report on the reply's `element` against `xsd` of the package; empty when valid.
  static std::string Invalid(const Reply& reply, const std::string& element,
                             const std::string& xsd) {
    return test::SchemaError(Of(reply, element), xsd);
  }

  TempDir dir_;
  std::unique_ptr<Simulator> simulator_;
  int posts_ = 0;
};

class WithSchemas : public SimulatorTest {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    SimulatorTest::SetUp();
  }
};

// ---- the status service: one table of requests and the answer each must get ----

struct StatusCase {
  const char* name;
  std::string path, envelope, cStat;
  std::string cUF = "35", tpAmb = "2";  // answered
};

class StatusTest : public WithSchemas, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, AnswersTheStandardsDocument) {
  const StatusCase& c = GetParam();
  const std::string layout = c.path == kStatus4 ? "4.00" : "3.10";
  Reply reply = Post(c.path, c.envelope);
  ASSERT_EQ(0, reply.exitCode) << reply.log;
  EXPECT_EQ(200, reply.http) << reply.body;
  EXPECT_EQ(kSoapType, reply.contentType);
  EXPECT_EQ(kSoap12, XPath(reply, "namespace-uri(/*)"));
  EXPECT_EQ(c.cStat, Text(reply, "//cStat")) << reply.body;
  EXPECT_EQ(c.cUF, Text(reply, "//retConsStatServ/cUF"));
  EXPECT_EQ(c.tpAmb, Text(reply, "//tpAmb"));
  // The schema accepts any offset; the service answers in Brasília time.
  const std::string dhRecbto = Text(reply, "//dhRecbto");
  EXPECT_TRUE(dhRecbto.size() == 25 && dhRecbto[10] == 'T' && dhRecbto.ends_with("-03:00"))
      << dhRecbto;
  EXPECT_EQ("", Invalid(reply, "retConsStatServ", "retConsStatServ_v" + layout + ".xsd"));

  const std::string result = Local("/Envelope/Body/*");
  const bool v4 = layout == "4.00";
  EXPECT_EQ(v4 ? "nfeResultMsg" : "nfeStatusServicoNF2Result",
            XPath(reply, "local-name(" + result + ")"));
  EXPECT_EQ(kWsdl + (v4 ? "NFeStatusServico4" : "NfeStatusServico2"),
            XPath(reply, "namespace-uri(" + result + ")"));
  if (!v4) {
    EXPECT_EQ(c.cUF, Text(reply, "//nfeCabecMsg/cUF"));
  }
  if (c.cStat == "107") {
    EXPECT_EQ("Serviço em Operação", Text(reply, "//xMotivo"));
  } else if (c.cStat == "215") {
    EXPECT_EQ("Rejeição: Falha no schema XML", Text(reply, "//xMotivo"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Status, StatusTest,
    ::testing::Values(
        StatusCase{"Layout4EmOperacao", kStatus4, Envelope4(Cons("4.00", "1", "35")), "107", "35",
                   "1"},
        StatusCase{"Layout4SemNfeDadosMsg", kStatus4,
                   "<e:Envelope xmlns:e=\"" + kSoap12 + "\"><e:Body>" + Cons("4.00", "2", "41") +
                       "</e:Body></e:Envelope>",
                   "107", "41"},
        StatusCase{"Layout4XServInvalido", kStatus4,
                   Envelope4(Cons("4.00", "2", "35", "CONSULTAR")), "215"},
        StatusCase{"Layout4CufForaDaTabela", kStatus4, Envelope4(Cons("4.00", "2", "99")), "215",
                   "43"},
        StatusCase{"Layout4TpAmbInvalido", kStatus4, Envelope4(Cons("4.00", "3", "35")), "215"},
        StatusCase{"Layout4RecebeVersao310", kStatus4, Envelope4(Cons("3.10", "2", "35")), "215"},
        StatusCase{"Layout4ComPrefixoDeNamespace", kStatus4,
                   Envelope4("<n:consStatServ xmlns:n=\"" + kNfe +
                             "\" versao=\"4.00\"><n:tpAmb>2</n:tpAmb><n:cUF>35</n:cUF>"
                             "<n:xServ>STATUS</n:xServ></n:consStatServ>"),
                   "404"},
        StatusCase{"Layout4DadosVazios", kStatus4, Envelope4(""), "215", "43"},
        StatusCase{"Layout310EmOperacao", kStatus2, Envelope3(Cabec("35", "3.10")), "107"},
        StatusCase{"Layout310SemCabecalho", kStatus2, Envelope3(""), "242"},
        StatusCase{"Layout310CabecalhoSemCuf", kStatus2, Envelope3(Cabec("", "3.10")), "409"},
        StatusCase{"Layout310CufNaoAtendida", kStatus2, Envelope3(Cabec("99", "3.10")), "410"},
        StatusCase{"Layout310SemVersaoDados", kStatus2, Envelope3(Cabec("35", "")), "411"},
        StatusCase{"Layout310VersaoSuperior", kStatus2, Envelope3(Cabec("35", "4.00")), "238"},
        StatusCase{"Layout310VersaoNaoSuportada", kStatus2, Envelope3(Cabec("35", "2.00")), "239"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the note query, from the base of notes ----

// Check digits worked out by hand, not by the simulator.
const std::string kAutorizada = "35240111222333000181650010000000011123456780";
const std::string kCancelada = "35240111222333000181650010000000021123456796";

struct QueryCase {
  const char* name;
  std::string path, envelope, cStat, xMotivo;
  int protNFe = 0, procEventoNFe = 0;  // how many the reply carries
};

class QueryBase : public WithSchemas {
 protected:
  void Seed() {
    simulator_->Notas().RegistrarAutorizacao(kAutorizada, "2");
    simulator_->Notas().RegistrarAutorizacao(kCancelada, "2");
    simulator_->Notas().RegistrarCancelamentoSemEvento(kCancelada, "Venda desfeita pelo cliente");
  }
  // Posts the query, checks the reply against its schema and, when it carries one, the
  // signature of the cancellation event.
  Reply Ask(const std::string& path, const std::string& envelope) {
    Reply reply = Post(path, envelope);
    EXPECT_EQ(200, reply.http) << reply.log << reply.body;
    EXPECT_EQ("", Invalid(reply, "retConsSitNFe",
                          path == kQuery4 ? "retConsSitNFe_v4.00.xsd" : "retConsSitNFe_v3.10.xsd"));
    if (Count(reply, "//evento") != "0") {
      EXPECT_EQ("", test::SignatureError(Of(reply, "evento"), "infEvento", SharedPki().caCert));
    }
    return reply;
  }
  static std::string Field(const Reply& reply, const std::string& path) {
    return Text(reply, "//retConsSitNFe/" + path);
  }
};

class QueryTest : public QueryBase, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTest, AnswersFromTheBaseOfNotes) {
  const QueryCase& c = GetParam();
  Seed();
  const Reply reply = Ask(c.path, c.envelope);
  EXPECT_EQ(c.cStat, Field(reply, "cStat")) << reply.body;
  EXPECT_EQ(c.xMotivo, Field(reply, "xMotivo"));
  EXPECT_EQ(std::to_string(c.protNFe), Count(reply, "//protNFe"));
  EXPECT_EQ(std::to_string(c.procEventoNFe), Count(reply, "//procEventoNFe"));
  if (c.protNFe == 1) {
    const std::string key = c.cStat == "100" ? kAutorizada : kCancelada;
    const std::string infProt = "protNFe/infProt/";
    EXPECT_EQ(key, Field(reply, "chNFe"));
    EXPECT_EQ("100", Field(reply, infProt + "cStat"));
    EXPECT_EQ(simulator_->Notas().Buscar(key)->nProt, Field(reply, infProt + "nProt"));
  }
  if (c.procEventoNFe == 1) {
    EXPECT_EQ("135", Text(reply, "//retEvento//cStat"));
    EXPECT_EQ("1", Count(reply, "//evento"));  // verified by Ask
  }
  if (c.path == kQuery2) {
    EXPECT_EQ(Field(reply, "cUF"), Text(reply, "//nfeCabecMsg/cUF"));
  }
}

const std::string k100 = "Autorizado o uso da NF-e", k101 = "Cancelamento de NF-e homologado",
                  k217 = "Rejeição: NF-e não consta na base de dados da SEFAZ";
const std::string kDesconhecida = "43240111222333000181650010000000031876543210";

INSTANTIATE_TEST_SUITE_P(
    Query, QueryTest,
    ::testing::Values(
        QueryCase{"Autorizada", kQuery4, Query4(kAutorizada), "100", k100, 1},
        QueryCase{"Cancelada", kQuery4, Query4(kCancelada), "101", k101, 1, 1},
        QueryCase{"Desconhecida", kQuery4, Query4(kDesconhecida), "217", k217},
        QueryCase{"DeOutroAmbiente", kQuery4, Query4(kAutorizada, "1"), "217", k217},
        QueryCase{"DigitoErrado", kQuery4, Query4("35240111222333000181650010000000011123456781"),
                  "236", "Rejeição: Chave de Acesso com dígito verificador inválido"},
        QueryCase{"ChaveCurta", kQuery4, Query4("3524011122233300018165001000000001112345678"),
                  "215", "Rejeição: Falha no schema XML"},
        QueryCase{"Layout310Autorizada", kQuery2, Query3(kAutorizada), "100", k100, 1},
        QueryCase{"Layout310Cancelada", kQuery2, Query3(kCancelada), "101", k101, 1, 1},
        QueryCase{"Layout310Desconhecida", kQuery2, Query3(kDesconhecida), "217", k217},
        QueryCase{"Layout310SemCabecalho", kQuery2, Query3(kAutorizada, false), "242",
                  "Rejeição: Elemento nfeCabecMsg inexistente no SOAP Header"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QueryBase, SurvivesARestartOnTheSameFolder) {
  Seed();
  const std::string nProt = simulator_->Notas().Buscar(kCancelada)->nProt;
  simulator_->Stop();
  StartSimulator();
  const Reply cancelled = Ask(kQuery4, Query4(kCancelada));
  EXPECT_EQ("101", Field(cancelled, "cStat"));
  EXPECT_EQ(nProt, Text(cancelled, "//infProt/nProt"));
  EXPECT_EQ("1", Count(cancelled, "//evento"));  // verified by Ask
  EXPECT_EQ("100", Field(Ask(kQuery4, Query4(kAutorizada)), "cStat"));
}

// ---- SOAP-level refusals ----

struct FaultCase {
  const char* name;
  std::string path, body, contentType;
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
    EXPECT_THAT(reply.body, Not(HasSubstr("Fault")));
    return;
  }
  EXPECT_EQ(kSoapType, reply.contentType);
  EXPECT_EQ(kSoap12, XPath(reply, "namespace-uri(/*)"));
  EXPECT_EQ(c.faultCode, Text(reply, "//Fault/Code/Value"));
  EXPECT_THAT(Text(reply, "//Reason"), HasSubstr(c.reason)) << reply.body;
  if (c.faultCode == "soap:VersionMismatch") {
    EXPECT_EQ("ns1:Envelope", Text(reply, "//Header/Upgrade/SupportedEnvelope/@qname"));
  }
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
        FaultCase{"EnvelopeDesconhecido", kStatus4, "<x:Envelope xmlns:x=\"urn:nada\"/>", kSoapType,
                  500, "soap:VersionMismatch", ""},
        FaultCase{"SemBody", kStatus4,
                  "<s:Envelope xmlns:s=\"" + kSoap12 + "\"><s:Header/></s:Envelope>", kSoapType,
                  400, "soap:Sender", "Body"},
        FaultCase{"NamespaceDeOutroServico", kStatus4,
                  Envelope4(Cons("4.00", "2", "35"), "NFeAutorizacao4"), kSoapType, 400,
                  "soap:Sender", "nfeDadosMsg"},
        FaultCase{"MediaTypeDoSoap11", kStatus4, Envelope4(Cons("4.00", "2", "35")),
                  "text/xml; charset=utf-8", 415, "", ""},
        FaultCase{"CaminhoDesconhecido", "/ws/Nada.asmx", Envelope4(""), kSoapType, 404, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- TLS: the transmitter is authenticated in the handshake ----

TEST_F(SimulatorTest, HandshakeAuthenticatesBothSidesWithTheTestCa) {
  const TestPki& pki = SharedPki();
  for (const std::string& client :
       {std::string(), Pfx(pki.otherCaCompanyPfx), Pfx(pki.expiredPfx)}) {
    Reply reply = Post(kStatus4, Envelope4(Cons("4.00", "2", "35")), client);
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

  std::string out;
  RunCommand("openssl s_client -connect 127.0.0.1:" + std::to_string(simulator_->Port()) +
                 " -CAfile " + pki.caCert + " -verify_ip 127.0.0.1 < /dev/null",
             &out);
  EXPECT_THAT(out, HasSubstr("Verify return code: 0 (ok)"));
  EXPECT_THAT(out, HasSubstr("Acceptable client certificate CA names"));
  EXPECT_THAT(out, HasSubstr("AC TESTE NFC-e"));
}

// ---- server-address files ----

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
      EXPECT_THAT(ini.ReadString(uf, key, ""), StartsWith(base)) << uf << " " << key;
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
  EXPECT_THROW(Simulator(options).Start(), std::runtime_error);  // the port is taken
  options.port = 0;
  options.serverKey = pki.caKey;  // does not match the certificate
  EXPECT_THROW(Simulator(options).Start(), std::runtime_error);
  options.serverKey = dir / "ausente.pem";
  EXPECT_THROW(Simulator(options).Start(), std::runtime_error);
  first.Stop();
  first.Start();  // starts again after a stop
  EXPECT_GT(first.Port(), 0);
}

// ---- fault modes ----

TEST_F(SimulatorTest, FaultModesBreakTheAnswerUntilSwitchedOff) {
  const std::string body = Envelope4(Cons("4.00", "2", "35"));
  simulator_->SetFault(SimulatorFault::Http500);
  Reply failed = Post(kStatus4, body);
  EXPECT_EQ(500, failed.http);
  EXPECT_EQ("soap:Receiver", Text(failed, "//Value"));

  simulator_->SetFault(SimulatorFault::NoSoapBody);
  Reply bodiless = Post(kStatus4, body);
  EXPECT_EQ(200, bodiless.http);
  EXPECT_EQ(kSoap12, XPath(bodiless, "namespace-uri(/*)"));
  EXPECT_EQ("0", Count(bodiless, "//Body"));

  // A delay far beyond curl's patience shows up as curl's time-out (exit 28), whatever the speed
  // of the machine; stopping the simulator cuts the delay short.
  simulator_->SetFault(SimulatorFault::Delay, 600000);
  EXPECT_EQ(28, Post(kStatus4, body, CompanyCert(), kSoapType, "--max-time 2").exitCode);

  simulator_->SetFault(SimulatorFault::Normal);
  Reply normal = Post("/ws/NFeInutilizacao4.asmx", Envelope4("", "NFeInutilizacao4"));
  EXPECT_THAT(normal.body, HasSubstr("Falha no schema XML"));
  EXPECT_GE(simulator_->RequestCount(), 3);
}

}  // namespace
}  // namespace qor::sim
