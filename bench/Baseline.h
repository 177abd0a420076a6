// The unit every figure of the benchmarks is given in: one raw RSA-2048 signature (SHA-1) made
// with OpenSSL's EVP_DigestSign over a note-sized text, with the test company's key. It is the
// physical floor of signing a note, and it moves with the machine as our code does, so ratios
// to it stay meaningful on a shared, noisy machine.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qor::bench {

// Registers the baseline benchmark under kBaselineName; the key comes from the test PKI made in
// a temporary folder.
inline constexpr const char* kBaselineName = "RsaSha1Signature";
void RegisterBaseline();

// One RSA-SHA1 signature of `text` with the test company's key, made as the baseline makes it;
// false when OpenSSL fails. `signature` must hold at least 256 bytes.
bool SignWithCompanyKey(std::string_view text, std::vector<unsigned char>& signature);

// The counter a benchmark sets to the number of notes one iteration handles; its ratio is then
// printed per note.
inline constexpr const char* kNotasPorIteracao = "notas";

// Makes the test company's key first (outside any timing), runs every registered benchmark with
// the console reporter and then prints, for each one, its real time as a multiple of the
// baseline's. With repetitions, when the baseline's real times vary by more than 5 %
// (coefficient of variation) no ratio is printed and the exit code is 3. Returns the process
// exit code.
int RunWithRatios(int argc, char** argv);
// The same, then calls `after` with the baseline's real and CPU time of one signature
// (nanoseconds; zero when the baseline did not run) for figures a program measured outside the
// benchmarks. Returns `after`'s result when the benchmarks ran.
int RunWithRatios(int argc, char** argv,
                  const std::function<int(double realNs, double cpuNs)>& after);
// The real time of one iteration of each benchmark that ran (its median with repetitions), in
// nanoseconds, by the benchmark's name as registered with its arguments (no aggregate suffix).
using TemposReais = std::map<std::string, double>;
// The same, `after` also given every benchmark's real time, for figures that compare two
// benchmarks of the run with each other.
int RunWithRatios(int argc, char** argv,
                  const std::function<int(double realNs, double cpuNs, const TemposReais&)>& after);

}  // namespace qor::bench
