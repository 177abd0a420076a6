// The service taken down while the simulator runs, and brought back on the same port, as curl
// sees it: through the object and through the control file another process writes. The 108
// documents are read by xmllint against the official schemas.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <thread>

#include "Simulator.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SharedPki;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";

struct Resposta {
  int curl = -1;  // curl's exit code: 7 refused, 28 time-out
  int http = 0;
  std::string cStat;
  std::string esquema;  // xmllint's report on the service document (empty: valid)
};

class ForaDoAr : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    simulator = std::make_unique<Simulator>(test::TestSimulatorOptions(dir / "simulador"));
    simulator->Start();
  }

  // Posts a request of `servico` (status or authorisation: an enviNFe without notes is enough
  // to be answered 108 before being read) and reads the answer.
  Resposta Postar(const std::string& servico = "status", int limiteS = 5) {
    const bool status = servico == "status";
    const std::string dados =
        status ? "<consStatServ xmlns=\"" + kNfe +
                     "\" versao=\"4.00\"><tpAmb>2</tpAmb><cUF>35</cUF><xServ>STATUS</xServ>"
                     "</consStatServ>"
               : "<enviNFe xmlns=\"" + kNfe +
                     "\" versao=\"4.00\"><idLote>1</idLote><indSinc>1</indSinc></enviNFe>";
    const std::string wsdl = std::string("http://www.portalfiscal.inf.br/nfe/wsdl/") +
                             (status ? "NFeStatusServico4" : "NFeAutorizacao4");
    WriteFile(dir / "pedido.xml",
              "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
              "<nfeDadosMsg xmlns=\"" +
                  wsdl + "\">" + dados + "</nfeDadosMsg></soap:Body></soap:Envelope>");
    const std::string caminho = status ? "/ws/NFeStatusServico4.asmx" : "/ws/NFeAutorizacao4.asmx";
    Resposta r;
    std::string codigo;
    r.curl = RunCommand("curl -sS --max-time " + std::to_string(limiteS) + " --cacert " +
                            SharedPki().caCert + " --cert " + SharedPki().companyCertPem +
                            " --key " + SharedPki().companyKeyPem +
                            " -H 'Content-Type: application/soap+xml; charset=utf-8'"
                            " --data-binary @" +
                            dir / "pedido.xml" + " -o " + dir / "resposta.xml" +
                            " -w '%{http_code}' " + url + caminho + " > " + dir / "codigo",
                        &codigo);
    r.http = std::atoi(ReadFile(dir / "codigo").c_str());
    if (r.http != 200) return r;
    const std::string elemento = status ? "retConsStatServ" : "retEnviNFe";
    RunCommand("xmllint --xpath \"//*[local-name()='" + elemento + "']\" " + dir / "resposta.xml" +
                   " > " + dir / "documento.xml",
               nullptr);
    RunCommand("xmllint --xpath \"//*[local-name()='cStat']/text()\" " + dir / "documento.xml",
               &r.cStat);
    while (!r.cStat.empty() && std::isspace(static_cast<unsigned char>(r.cStat.back()))) {
      r.cStat.pop_back();
    }
    RunCommand("xmllint --noout --schema " + test::SchemasFolder() + "/" + elemento +
                   "_v4.00.xsd " + dir / "documento.xml" + " 2>&1 | grep -v ' validates$'",
               &r.esquema);
    return r;
  }
  // Posts until `pronto` holds (the control file is read every 100 ms), at most 3 s.
  Resposta Ate(const std::function<bool(const Resposta&)>& pronto) {
    Resposta r;
    for (int i = 0; i < 30; ++i) {
      r = Postar();
      if (pronto(r)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return r;
  }

  TempDir dir;
  std::unique_ptr<Simulator> simulator;
  std::string url;
};

TEST_F(ForaDoAr, EachOutageAsAClientSeesItAndBackOnTheSamePort) {
  url = simulator->BaseUrl();
  const int porta = simulator->Port();
  struct Caso {
    SimulatorOutage modo;
    std::string servico;
    int curl, http;
    std::string cStat;
  };
  for (const Caso& caso : {Caso{SimulatorOutage::RefuseConnections, "status", 7, 0, ""},
                           Caso{SimulatorOutage::Http503, "status", 0, 503, ""},
                           Caso{SimulatorOutage::Status108, "status", 0, 200, "108"},
                           Caso{SimulatorOutage::Status108, "autorizacao", 0, 200, "108"}}) {
    SCOPED_TRACE(caso.servico + " " + std::to_string(static_cast<int>(caso.modo)));
    simulator->SetOutage(caso.modo);
    EXPECT_EQ(simulator->Outage(), caso.modo);
    const Resposta fora = Postar(caso.servico);
    EXPECT_EQ(fora.curl, caso.curl);
    EXPECT_EQ(fora.http, caso.http);
    EXPECT_EQ(fora.cStat, caso.cStat);
    EXPECT_EQ(fora.esquema, "");
    simulator->SetOutage(SimulatorOutage::None);
    EXPECT_EQ(simulator->Port(), porta);
    const Resposta volta = Postar();
    EXPECT_EQ(volta.http, 200);
    EXPECT_EQ(volta.cStat, "107");
  }
  // The answer held past the client's patience.
  simulator->SetOutage(SimulatorOutage::AnswerAfterTimeout, 3000);
  const auto antes = std::chrono::steady_clock::now();
  EXPECT_EQ(Postar("status", 1).curl, 28);
  EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::milliseconds(2500));
  simulator->SetOutage(SimulatorOutage::None);
}

TEST_F(ForaDoAr, ControlFileWrittenByAnotherProcess) {
  url = simulator->BaseUrl();
  const std::string controle = dir / "simulador/fora-do-ar";
  ASSERT_EQ(RunCommand("echo recusar > '" + controle + "'"), 0);
  EXPECT_EQ(Ate([](const Resposta& r) { return r.curl == 7; }).curl, 7);
  EXPECT_EQ(simulator->Outage(), SimulatorOutage::RefuseConnections);
  ASSERT_EQ(RunCommand("echo 108 > '" + controle + "'"), 0);
  EXPECT_EQ(Ate([](const Resposta& r) { return r.cStat == "108"; }).cStat, "108");
  ASSERT_EQ(RunCommand("echo 503 > '" + controle + "'"), 0);
  EXPECT_EQ(Ate([](const Resposta& r) { return r.http == 503; }).http, 503);
  ASSERT_EQ(RunCommand("rm '" + controle + "'"), 0);
  EXPECT_EQ(Ate([](const Resposta& r) { return r.cStat == "107"; }).cStat, "107");
  // An unknown word changes nothing; the object's own setting stays until the file changes.
  simulator->SetOutage(SimulatorOutage::Http503);
  ASSERT_EQ(RunCommand("echo desligar > '" + controle + "'"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(simulator->Outage(), SimulatorOutage::Http503);
  ASSERT_EQ(RunCommand("echo normal > '" + controle + "'"), 0);
  EXPECT_EQ(Ate([](const Resposta& r) { return r.cStat == "107"; }).cStat, "107");
}

}  // namespace
}  // namespace qor::sim
