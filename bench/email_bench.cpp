// The recipient's e-mail as a till sends it, against the signature baseline: the distribution
// file of the 10-item note (an authorised nfeProc) and its DANFCE PDF, both made once before
// anything is timed, sent by EnviarNotaDestinatarioAnexos over plain SMTP to a local server
// (Debian's aiosmtpd with its discarding handler, in another process: the server's time is in
// the real column, not in the CPU column of the sending thread).
//
// Last, one component sends 500 messages: the resident set after the 10th and after the 500th
// must stay within 1 MB (nothing kept per message). The program exits with 1 when it does not.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

struct TEnvio {
  explicit TEnvio(int porta) {
    qor::bench::Configurar(nfce);
    const fs::path pasta = fs::temp_directory_path() / "qornfce-bench-email";
    fs::create_directories(pasta);
    nfce.SetDiretorioTemporario(pasta / "Temp/");
    xml = pasta / "nfeProc.xml";
    pdf = pasta / "danfce.pdf";
    qor::SaveToFile(xml, qor::bench::NotaAutorizada(10));
    nfce.ExportarDanfce("", xml, pdf, 1, "");
    qor::TqorEmailSettings& email = nfce.GetEmailSettings();
    email.SetServidorSmtp("127.0.0.1");
    email.SetPorta(porta);
    email.SetEmailRemetente("loja@exemplo.com.br");
    email.SetEmailDestinatario("cliente@exemplo.com.br");
    email.SetAssunto("Sua NFC-e");
    email.SetMensagem("Segue o XML e o DANFCE da sua NFC-e.");
  }
  void Enviar() { nfce.EnviarNotaDestinatarioAnexos(pdf, xml, ""); }

  qor::TqorNFCe nfce;
  std::string xml, pdf;
};

void Email(benchmark::State& state, TEnvio* envio) {
  envio->Enviar();
  for (auto _ : state) envio->Enviar();
  state.counters[qor::bench::kNotasPorIteracao] = 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::RunProcess({kPython, "-c", "import aiosmtpd"}).succeeded) {
    std::fprintf(stderr, "bench_email: o servidor de teste precisa de python3-aiosmtpd em %s\n",
                 kPython);
    return 1;
  }
  const int porta = qor::FreeLoopbackPort();
  const qor::TChildProcess servidor(
      {kPython, "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(porta), "-c",
       "aiosmtpd.handlers.Sink"},
      "/dev/null");
  if (!qor::WaitForLoopbackPort(porta, std::chrono::seconds(10))) {
    std::fprintf(stderr, "bench_email: o servidor SMTP não iniciou\n");
    return 1;
  }
  TEnvio envio(porta);

  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("Email/10-itens/XML+PDF", Email, &envio);
  return qor::bench::RunWithRatios(argc, argv, [&](double, double) {
    for (int i = 0; i < 10; ++i) envio.Enviar();
    const double depoisDe10 = qor::bench::ResidenteMiB();
    for (int i = 10; i < 500; ++i) envio.Enviar();
    const double depoisDe500 = qor::bench::ResidenteMiB();
    const bool cresceuDemais = depoisDe500 - depoisDe10 > 1.0;
    std::printf(
        "\nresidente após 10 mensagens: %.2f MB; após 500: %.2f MB; diferença %.2f MB "
        "(limite 1 MB)%s\n",
        depoisDe10, depoisDe500, depoisDe500 - depoisDe10,
        cresceuDemais ? "  ACIMA DO LIMITE" : "");
    return cresceuDemais ? 1 : 0;
  });
}
