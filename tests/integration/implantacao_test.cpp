// The refresh of the server files inside a service call: new files that point at a second
// simulator serve the very call that fetched them; a failed refresh leaves the call working on
// the old ones.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/Files.h"
#include "support/HttpTestServer.h"
#include "support/SimulatorFixture.h"

namespace qor::test {
namespace {

class RefreshRoad : public SimulatorRoad {
 protected:
  void SetUp() override {
    SimulatorRoad::SetUp();
    if (IsSkipped()) return;
    TqorImplantacao& locais = nfce.GetImplantacao();
    locais.UrlServidoresProd = archives.Url("/prod.gz");
    locais.UrlServidoresHom = archives.Url("/hom.gz");
    for (const std::string& file : {rig->prod, rig->hom}) {
      SetFileAge(file, std::chrono::system_clock::now() - std::chrono::hours(5));
    }
  }
  // The server files of `simulator`, with their portal line, as gzip(1) archives.
  void Serve(const sim::Simulator& simulator) {
    simulator.WriteServerFiles(rig->dir / "novo-prod.ini", rig->dir / "novo-hom.ini");
    const TqorImplantacao& locais = nfce.GetImplantacao();
    for (const auto& [name, endereco] :
         {std::pair{std::string("novo-prod.ini"), locais.EnderecoProd},
          std::pair{std::string("novo-hom.ini"), locais.EnderecoHom}}) {
      const std::string file = rig->dir / name;
      WriteFile(file, "endereco=" + endereco + "\n" + ReadFile(file));
      ASSERT_EQ(RunCommand("gzip -nf " + file), 0);
      archives.Set(name == "novo-prod.ini" ? "/prod.gz" : "/hom.gz", {200, ReadFile(file + ".gz")});
    }
  }
  std::string Eventos() const {
    std::string all;
    const std::string folder = rig->dir / "Log/diagnosticmode/nfce/";
    for (const auto& name : ListFiles(folder, "*.jsonl")) all += ReadFile(folder + name);
    return all;
  }
  HttpTestServer archives;
};

TEST_F(RefreshRoad, TheCallThatRefreshesUsesTheNewFiles) {
  TempDir other;
  sim::Simulator segundo(TestSimulatorOptions(other / "simulador"));
  segundo.Start();
  Serve(segundo);
  rig->simulator->Stop();  // only the second one can answer now
  const std::string reply = nfce.StatusDoServico();
  EXPECT_NE(reply.find("<cStat>107</cStat>"), std::string::npos) << reply;
  EXPECT_EQ(archives.Requests("/prod.gz"), 1);
  EXPECT_NE(ReadFile(rig->hom).find(std::to_string(segundo.Port())), std::string::npos);
  segundo.Stop();
}

TEST_F(RefreshRoad, AFailedRefreshLeavesTheCallOnTheOldFiles) {
  archives.Set("/prod.gz", {404, ""});
  const std::string before = ReadFile(rig->hom);
  const std::string reply = nfce.ConsultarNF(std::string(44, '3'));
  EXPECT_NE(reply.find("<cStat>"), std::string::npos) << reply;
  EXPECT_EQ(ReadFile(rig->hom), before);
  const std::string eventos = Eventos();
  EXPECT_NE(eventos.find("\"evento\":\"UpdateIniServidores\",\"versao\""), std::string::npos);
  const auto at = eventos.find("\"evento\":\"UpdateIniServidores\"");
  EXPECT_NE(eventos.find("\"classe\"", at), std::string::npos) << eventos;
}

}  // namespace
}  // namespace qor::test
