#include "support/SimulatorFixture.h"

#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor::test {

const sim::TestPki& SharedPki() {
  static TempDir* folder = new TempDir();  // lives until the program ends
  static const sim::TestPki pki =
      sim::CreateTestPki(folder->path() + "pki", "11222333000181", "1234");
  return pki;
}

sim::SimulatorOptions TestSimulatorOptions(const std::string& workFolder, bool otherCaServer) {
  const sim::TestPki& pki = SharedPki();
  sim::SimulatorOptions options;
  options.workFolder = workFolder;
  options.schemasFolder = SchemasFolder();
  options.caCert = pki.caCert;
  options.serverCert = otherCaServer ? pki.otherCaServerCert : pki.serverCert;
  options.serverKey = otherCaServer ? pki.otherCaServerKey : pki.serverKey;
  return options;
}

SimulatorRig::SimulatorRig(bool otherCaServer) {
  simulator =
      std::make_unique<sim::Simulator>(TestSimulatorOptions(dir / "simulador", otherCaServer));
  simulator->Start();
  hom = dir / "nfceServidoresHom.ini";
  prod = dir / "nfceServidoresProd.ini";
  simulator->WriteServerFiles(prod, hom);
}

SimulatorRig::~SimulatorRig() { simulator->Stop(); }

void ConfigureComponent(TqorNFCe& nfce, const TempDir& dir, const std::string& hom,
                        const std::string& prod) {
  const sim::TestPki& pki = SharedPki();
  nfce.SetDiretorioLogErro(dir / "LogErro/");
  nfce.SetUF("SP");
  nfce.SetCNPJ(pki.cnpj);
  nfce.SetArquivoServidoresHom(hom);
  nfce.SetArquivoServidoresProd(prod);
  nfce.SetDiretorioLog(dir / "Log/");
  nfce.SetDiretorioXmlDestinatario(dir / "XmlDestinatario/");
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetSenhaCertificado(pki.password);
}

void SimulatorRig::Configure(TqorNFCe& nfce) const { ConfigureComponent(nfce, dir, hom, prod); }

std::vector<std::string> SimulatorRoad::Logs(const std::string& mask) const {
  return ListFiles(rig->dir / "Log/", mask);
}

std::string SimulatorRoad::AutorizarExemplo(const std::string& exemplo, int nNF,
                                            const std::pair<std::string, std::string>& troca) {
  std::string tx2 = LoadFromFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/" + exemplo);
  const std::size_t at = tx2.find("nNF_B08=");
  tx2.replace(at, tx2.find('\n', at) - at, "nNF_B08=" + std::to_string(nNF));
  if (!troca.first.empty()) ReplaceAll(tx2, troca.first, troca.second);
  WriteFile(rig->dir / "nota.tx2", tx2);
  const std::string nota = nfce.AssinarNota(nfce.ConverterLoteParaXml(
      rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  const std::string resposta = nfce.EnviarNFSincrono("1", nota, false);
  EXPECT_NE(resposta.find("<cStat>100</cStat>"), std::string::npos) << resposta;
  return rig->dir / "XmlDestinatario/" + ChaveDe(nota) + "-nfce.xml";
}

std::string SimulatorRoad::ChaveDe(const std::string& nota) {
  return GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
}

void StartSimulatorAndClient(const std::string& folder, std::unique_ptr<sim::Simulator>& simulator,
                             std::unique_ptr<TqorGovX>& gov) {
  gov.reset();
  simulator.reset();
  simulator = std::make_unique<sim::Simulator>(TestSimulatorOptions(folder));
  simulator->Start();
  gov = std::make_unique<TqorGovX>();
  gov->Get_CertificateSettings().Path = SharedPki().companyPfx;
  gov->Get_CertificateSettings().Password = SharedPki().password;
  gov->Get_HttpSettings().IgnoreInvalidCertificates = false;
  gov->Get_HttpSettings().CABundle = SharedPki().caCert;
}

}  // namespace qor::test
