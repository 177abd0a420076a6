// A running simulator with the test PKI and its server-address files, and a component
// configured against it, for the tests that cross the network.
#pragma once

#include <memory>
#include <string>

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

struct SimulatorRig {
  explicit SimulatorRig(bool otherCaServer = false);
  ~SimulatorRig();

  // A component configured for SP, homologation, the company certificate, every folder in `dir`.
  void Configure(TqorNFCe& nfce) const;

  TempDir dir;
  std::string hom, prod;
  std::unique_ptr<sim::Simulator> simulator;
};

}  // namespace qor::test
