#include "support/SimulatorFixture.h"

#include "platform/GovX.h"

#include "platform/Files.h"

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
