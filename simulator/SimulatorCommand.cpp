#include "SimulatorCommand.h"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "NoteStore.h"
#include "Simulator.h"
#include "TestPki.h"
#include "platform/Files.h"

namespace qor::sim {

namespace {

constexpr const char* kCnpj = "11222333000181";
constexpr const char* kPassword = "1234";

}  // namespace

namespace {

bool ParseInt(const std::string& text, int& value, int max) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max;
}

// Restores the caller's signal mask however the command ends: `qornfce simulador` runs inside
// a longer-lived process.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  }
  ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;

  int Wait() const {
    int signal = 0;
    while (sigwait(&set_, &signal) != 0) {
    }
    return signal;
  }

 private:
  sigset_t set_;
  sigset_t previous_;
};

}  // namespace

int RunSimulatorCommand(int argc, char** argv) {
  const std::string name = argc > 0 && argv[0] != nullptr ? argv[0] : "qornfce-simulador";
  int port = 0;
  int processamentoMs = 0;
  int prazoMin = 30;
  bool resultadoEscapado = false;
  std::string folder = "simulador-nfce";
  std::string schemas;

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << SimulatorUsage(name);
      return 0;
    }
    if (option == "--resultado-escapado") {
      resultadoEscapado = true;
      continue;
    }
    if (option != "--porta" && option != "--pasta" && option != "--esquemas" &&
        option != "--processamento-lote" && option != "--prazo-cancelamento") {
      std::cerr << name << ": opção desconhecida: " << option << "\n";
      std::cerr << SimulatorUsage(name);
      return 2;
    }
    if (i + 1 >= argc) {
      std::cerr << name << ": falta o valor de " << option << "\n";
      std::cerr << SimulatorUsage(name);
      return 2;
    }
    const std::string value = argv[++i];
    if (option == "--porta") {
      if (!ParseInt(value, port, 65535)) {
        std::cerr << name << ": porta inválida: " << value << "\n";
        return 2;
      }
    } else if (option == "--processamento-lote") {
      if (!ParseInt(value, processamentoMs, 24 * 3600 * 1000)) {
        std::cerr << name << ": tempo de processamento inválido: " << value << "\n";
        return 2;
      }
    } else if (option == "--prazo-cancelamento") {
      if (!ParseInt(value, prazoMin, 366 * 24 * 60)) {
        std::cerr << name << ": prazo de cancelamento inválido: " << value << "\n";
        return 2;
      }
    } else if (option == "--pasta") {
      folder = value;
    } else {
      schemas = value;
    }
  }

  namespace fs = std::filesystem;
  if (schemas.empty()) schemas = DefaultSchemasFolder();
  if (!fs::is_regular_file(fs::path(schemas) / "consStatServ_v4.00.xsd")) {
    std::cerr << name << ": pacote de esquemas não encontrado em " << schemas
              << " (falta consStatServ_v4.00.xsd); informe-o com --esquemas\n";
    return 1;
  }

  // Blocked before the server starts its threads, so they inherit the mask and the signal
  // reaches the sigwait below instead of ending the process half-way through an answer.
  BlockedSignals signals;
  try {
    std::error_code ec;
    const fs::path work = fs::absolute(folder, ec);
    const TestPki pki = CreateTestPki((work / "pki").string(), kCnpj, kPassword);

    SimulatorOptions options;
    options.workFolder = work.string();
    options.port = port;
    options.schemasFolder = schemas;
    options.caCert = pki.caCert;
    options.serverCert = pki.serverCert;
    options.serverKey = pki.serverKey;
    options.tempoProcessamentoLoteMs = processamentoMs;
    options.prazoCancelamentoMin = prazoMin;
    options.resultadoEscapado = resultadoEscapado;
    Simulator simulator(options);
    simulator.Start();

    const std::string production = (work / "nfceServidoresProd.ini").string();
    const std::string homologation = (work / "nfceServidoresHom.ini").string();
    simulator.WriteServerFiles(production, homologation);

    std::cout << "Simulador da SEFAZ (homologação) em " << simulator.BaseUrl() << "\n"
              << "  servidores de produção:     " << production << "\n"
              << "  servidores de homologação:  " << homologation << "\n"
              << "  AC de teste:                " << pki.caCert << "\n"
              << "  certificado da empresa:     " << pki.companyPfx << " (CNPJ " << pki.cnpj
              << ")\n"
              << "  esquemas:                   " << schemas << "\n"
              << "  base de notas:              " << (work / "notas").string() << " ("
              << simulator.Notas().Quantidade() << ")\n"
              << "Encerre com Ctrl+C." << std::endl;

    const int signal = signals.Wait();
    simulator.Stop();
    std::cout << "Simulador encerrado (" << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ")."
              << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace qor::sim
