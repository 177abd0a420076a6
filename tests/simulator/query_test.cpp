// The note query seen from outside: curl posts, xmllint checks every reply against the official
// schema, xmlsec1 verifies the cancellation event the reply carries.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "NoteStore.h"
#include "Simulator.h"
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

// Check digits worked out by hand, not by the simulator.
const std::string kAutorizada = "35240111222333000181650010000000011123456780";
const std::string kCancelada = "35240111222333000181650010000000021123456796";
const std::string kDesconhecida = "43240111222333000181650010000000031876543210";
const std::string kDigitoErrado = "35240111222333000181650010000000011123456781";
const std::string kCurta = "3524011122233300018165001000000001112345678";

std::string Cons(const std::string& versao, const std::string& chave, const std::string& tpAmb) {
  return "<consSitNFe xmlns=\"" + kNfe + "\" versao=\"" + versao + "\"><tpAmb>" + tpAmb +
         "</tpAmb><xServ>CONSULTAR</xServ><chNFe>" + chave + "</chNFe></consSitNFe>";
}

std::string Envelope4(const std::string& chave, const std::string& tpAmb = "2") {
  return "<soap:Envelope xmlns:soap=\"" + kSoap12 + "\" xmlns:nfec=\"" + kWsdl +
         "NFeConsultaProtocolo4\"><soap:Header/><soap:Body><nfec:nfeDadosMsg>" +
         Cons("4.00", chave, tpAmb) + "</nfec:nfeDadosMsg></soap:Body></soap:Envelope>";
}

std::string Envelope3(const std::string& chave, bool header = true) {
  const std::string ns = " xmlns=\"" + kWsdl + "NfeConsulta2\"";
  return "<soap12:Envelope xmlns:soap12=\"" + kSoap12 + "\"><soap12:Header>" +
         (header ? "<nfeCabecMsg" + ns + "><cUF>35</cUF><versaoDados>3.10</versaoDados>" +
                       "</nfeCabecMsg>"
                 : "") +
         "</soap12:Header><soap12:Body><nfeDadosMsg" + ns + ">" + Cons("3.10", chave, "2") +
         "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
}

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    StartSimulator();
  }

  void StartSimulator() {
    simulator_ = std::make_unique<Simulator>(test::TestSimulatorOptions(dir_ / "simulador"));
    simulator_->Start();
  }

  void Seed() {
    simulator_->Notas().RegistrarAutorizacao(kAutorizada, "2");
    simulator_->Notas().RegistrarAutorizacao(kCancelada, "2");
    simulator_->Notas().RegistrarCancelamentoSemEvento(kCancelada, "Venda desfeita pelo cliente");
  }

  // Posts with curl and returns the file holding the reply.
  std::string Post(const std::string& path, const std::string& envelope) {
    const std::string n = std::to_string(++posts_);
    const std::string request = dir_ / ("pedido-" + n + ".xml"), reply = dir_ / ("resp-" + n);
    WriteFile(request, envelope);
    std::string log;
    EXPECT_EQ(0,
              RunCommand("curl -sS --fail-with-body --cacert " + SharedPki().caCert + " --cert " +
                             SharedPki().companyCertPem + " --key " + SharedPki().companyKeyPem +
                             " -H 'Content-Type: application/soap+xml; charset=utf-8'"
                             " --data-binary @" +
                             request + " -o " + reply + " " + simulator_->BaseUrl() + path,
                         &log))
        << log << ReadFile(reply);
    return reply;
  }

  static std::string XPath(const std::string& file, const std::string& expression) {
    std::string out;
    RunCommand("xmllint --xpath \"" + expression + "\" " + file, &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  static std::string Field(const std::string& file, const std::string& path) {
    return XPath(file, "string(//*[local-name()='retConsSitNFe']/" + path + ")");
  }

  // Extracts `element` of the reply into its own file and runs `check` on it ("{}" is the file).
  static ::testing::AssertionResult Check(const std::string& reply, const std::string& element,
                                          const std::string& check) {
    const std::string part = reply + "." + element + ".xml";
    std::string out;
    if (RunCommand(
            "xmllint --xpath \"//*[local-name()='" + element + "']\" " + reply + " > " + part,
            &out) != 0)
      return ::testing::AssertionFailure() << "no " << element << ": " << ReadFile(reply);
    std::string command = check;
    command.replace(command.find("{}"), 2, part);
    if (RunCommand(command, &out) != 0)
      return ::testing::AssertionFailure() << out << "\n" << ReadFile(part);
    return ::testing::AssertionSuccess();
  }
  static ::testing::AssertionResult SchemaValid(const std::string& reply,
                                                const std::string& layout) {
    return Check(reply, "retConsSitNFe",
                 "xmllint --noout --nonet --schema " + SchemasFolder() + "/retConsSitNFe_v" +
                     layout + ".xsd {}");
  }
  static ::testing::AssertionResult EventSignatureVerifies(const std::string& reply) {
    return Check(reply, "evento",
                 "xmlsec1 --verify --trusted-pem " + SharedPki().caCert + " --id-attr:Id " + kNfe +
                     ":infEvento {}");
  }

  TempDir dir_;
  std::unique_ptr<Simulator> simulator_;
  int posts_ = 0;
};

struct QueryCase {
  const char* name;
  std::string layout;
  std::string envelope;
  std::string cStat, xMotivo;
  int protNFe, procEventoNFe;  // how many the reply carries
};

class QueryCasesTest : public QueryTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryCasesTest, AnswersFromTheBaseOfNotes) {
  const QueryCase& c = GetParam();
  Seed();
  const std::string reply = Post(
      c.layout == "4.00" ? "/ws/NFeConsultaProtocolo4.asmx" : "/ws/NfeConsulta2.asmx", c.envelope);
  EXPECT_EQ(c.cStat, Field(reply, "*[local-name()='cStat']")) << ReadFile(reply);
  EXPECT_EQ(c.xMotivo, Field(reply, "*[local-name()='xMotivo']"));
  EXPECT_TRUE(SchemaValid(reply, c.layout));
  EXPECT_EQ(std::to_string(c.protNFe), XPath(reply, "count(//*[local-name()='protNFe'])"));
  EXPECT_EQ(std::to_string(c.procEventoNFe),
            XPath(reply, "count(//*[local-name()='procEventoNFe'])"));
  if (c.protNFe == 1) {
    const std::string key = c.cStat == "100" ? kAutorizada : kCancelada;
    const std::string infProt = "*[local-name()='protNFe']/*[local-name()='infProt']/";
    EXPECT_EQ(key, Field(reply, "*[local-name()='chNFe']"));
    EXPECT_EQ("100", Field(reply, infProt + "*[local-name()='cStat']"));
    EXPECT_EQ(simulator_->Notas().Buscar(key)->nProt,
              Field(reply, infProt + "*[local-name()='nProt']"));
  }
  if (c.procEventoNFe == 1) {
    EXPECT_EQ("135",
              XPath(reply, "string(//*[local-name()='retEvento']//*[local-name()='cStat'])"));
    EXPECT_TRUE(EventSignatureVerifies(reply));
  }
  if (c.layout == "3.10") {
    EXPECT_EQ(Field(reply, "*[local-name()='cUF']"),
              XPath(reply, "string(//*[local-name()='nfeCabecMsg']/*[local-name()='cUF'])"));
  }
}

const std::string k100 = "Autorizado o uso da NF-e", k101 = "Cancelamento de NF-e homologado",
                  k217 = "Rejeição: NF-e não consta na base de dados da SEFAZ";

INSTANTIATE_TEST_SUITE_P(
    Query, QueryCasesTest,
    ::testing::Values(
        QueryCase{"Autorizada", "4.00", Envelope4(kAutorizada), "100", k100, 1, 0},
        QueryCase{"Cancelada", "4.00", Envelope4(kCancelada), "101", k101, 1, 1},
        QueryCase{"Desconhecida", "4.00", Envelope4(kDesconhecida), "217", k217, 0, 0},
        QueryCase{"DeOutroAmbiente", "4.00", Envelope4(kAutorizada, "1"), "217", k217, 0, 0},
        QueryCase{"DigitoErrado", "4.00", Envelope4(kDigitoErrado), "236",
                  "Rejeição: Chave de Acesso com dígito verificador inválido", 0, 0},
        QueryCase{"ChaveCurta", "4.00", Envelope4(kCurta), "215", "Rejeição: Falha no schema XML",
                  0, 0},
        QueryCase{"Layout310Autorizada", "3.10", Envelope3(kAutorizada), "100", k100, 1, 0},
        QueryCase{"Layout310Cancelada", "3.10", Envelope3(kCancelada), "101", k101, 1, 1},
        QueryCase{"Layout310Desconhecida", "3.10", Envelope3(kDesconhecida), "217", k217, 0, 0},
        QueryCase{"Layout310SemCabecalho", "3.10", Envelope3(kAutorizada, false), "242",
                  "Rejeição: Elemento nfeCabecMsg inexistente no SOAP Header", 0, 0}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST_F(QueryTest, TheBaseSurvivesARestartOnTheSameFolder) {
  Seed();
  const std::string nProt = simulator_->Notas().Buscar(kCancelada)->nProt;
  simulator_->Stop();
  simulator_.reset();
  StartSimulator();

  const std::string cancelled = Post("/ws/NFeConsultaProtocolo4.asmx", Envelope4(kCancelada));
  EXPECT_EQ("101", Field(cancelled, "*[local-name()='cStat']"));
  EXPECT_EQ(nProt, XPath(cancelled, "string(//*[local-name()='infProt']/*[local-name()='nProt'])"));
  EXPECT_TRUE(SchemaValid(cancelled, "4.00"));
  EXPECT_TRUE(EventSignatureVerifies(cancelled));
  EXPECT_EQ("100", Field(Post("/ws/NFeConsultaProtocolo4.asmx", Envelope4(kAutorizada)),
                         "*[local-name()='cStat']"));
}

}  // namespace
}  // namespace qor::sim
