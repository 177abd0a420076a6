// A running simulator with the test PKI and its server-address files, and a component
// configured against it, for the tests that cross the network.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Simulator.h"
#include "TestPki.h"
#include "core/TqorNFCe.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor::test {

// The certificates of the whole test program, made once (key generation is the slow part).
const sim::TestPki& SharedPki();

// Options of a simulator working in `workFolder`, trusting the test CA, with the official schema
// package, presenting the test server certificate (or the other CA's one).
sim::SimulatorOptions TestSimulatorOptions(const std::string& workFolder,
                                           bool otherCaServer = false);

// A component configured for SP, homologation and the company certificate, its folders in `dir`
// and its servers in the files `hom` and `prod`.
void ConfigureComponent(TqorNFCe& nfce, const TempDir& dir, const std::string& hom,
                        const std::string& prod);

// Starts a simulator on `folder` in `simulator` and gives it a services object of its own in
// `gov`, presenting the company certificate and verifying the server with the test CA. Both are
// replaced, the client first: a stopping server would wait for the kept-alive connection of the
// previous client to time out.
void StartSimulatorAndClient(const std::string& folder, std::unique_ptr<sim::Simulator>& simulator,
                             std::unique_ptr<TqorGovX>& gov);

struct SimulatorRig {
  explicit SimulatorRig(bool otherCaServer = false);
  ~SimulatorRig();

  // A component configured for SP, homologation, the company certificate, every folder in `dir`.
  void Configure(TqorNFCe& nfce) const;

  TempDir dir;
  std::string hom, prod;
  std::unique_ptr<sim::Simulator> simulator;
};

// A test of a component against a running simulator; needs the schema package.
class SimulatorRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<SimulatorRig>();
    rig->Configure(nfce);
  }
  // The names of the files of the log folder that match `mask`.
  std::vector<std::string> Logs(const std::string& mask) const;
  // The sample `exemplo` of data/exemplos numbered `nNF` (with `troca` replacing a text of it),
  // converted, signed and authorised by EnviarNFSincrono; returns its distribution file.
  std::string AutorizarExemplo(const std::string& exemplo, int nNF,
                               const std::pair<std::string, std::string>& troca = {});
  // The access key of a note's XML.
  static std::string ChaveDe(const std::string& nota);

  std::unique_ptr<SimulatorRig> rig;
  TqorNFCe nfce;
};

}  // namespace qor::test
