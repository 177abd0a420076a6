// Sample notes for the benchmarks: the one-item TX2 sample installed beside the executables,
// with its item repeated.
#pragma once

#include <chrono>
#include <string>

#include "TestPki.h"

namespace qor {
class TqorNFCe;
}

namespace qor::bench {

// The official schema of the enviNFe batch, as the build copies it beside the executables.
std::string EsquemaDoLote();
// Whether that schema is installed; when it is not, says so on stderr (a benchmark that checks
// batches then has nothing to measure).
bool EsquemasInstalados();

// The TX2 text of the one-item sample; throws when the sample is not installed.
std::string AmostraUmItem();
// The same note with `itens` copies of its item, numbered 1..itens, and totals and payment that
// add up (the note passes the business rules at its dhEmi).
std::string NotaComItens(int itens);
// NotaComItens(`itens`) converted, signed with the test certificate and wrapped into an
// authorised nfeProc (protNFe with cStat 100 and the signature's digest), as the distribution
// file holds it.
std::string NotaAutorizada(int itens);
// A batch of `notas` such notes of `itens` items each, numbered apart (nNF 1..notas).
std::string LoteDeNotas(int notas, int itens);
// The test certificates of the benchmarks (made once per process in a temporary folder) and a
// server file for SP with the QR-code and key-query addresses.
struct Ambiente {
  sim::TestPki pki;
  std::string pasta;
  std::string servidores;
};
const Ambiente& AmbienteDeTeste();
// A component of SP in homologation signing with the test company certificate, its logs and
// recipient files in the benchmark folder, telemetry off.
void Configurar(TqorNFCe& nfce);

// The resident set now, from /proc/self/statm, in MiB.
double ResidenteMiB();

// The sample's dhEmi, as the clock the rules should read for it.
std::chrono::system_clock::time_point InstanteDaAmostra();

}  // namespace qor::bench
