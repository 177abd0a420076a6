#include "Simulator.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "AtomicFile.h"
#include "NoteStore.h"
#include "ServiceDispatch.h"
#include "Services.h"
#include "Soap.h"
#include "StatusService.h"
#include "platform/Files.h"
#include "platform/InstallationFolders.h"

namespace qor::sim {
namespace {

// Counts the handshakes the server completes, full or resumed, once per connection: with TLS 1.3
// OpenSSL reports the end of a handshake again after post-handshake messages.
int HandshakeCounterIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}
int ConnectionCountedIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

void CountHandshakes(SSL_CTX* ctx, std::atomic<int>& counter) {
  SSL_CTX_set_ex_data(ctx, HandshakeCounterIndex(), &counter);
  ConnectionCountedIndex();
  SSL_CTX_set_info_callback(ctx, [](const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_DONE) == 0) return;
    SSL* connection = const_cast<SSL*>(ssl);
    if (SSL_get_ex_data(connection, ConnectionCountedIndex()) != nullptr) return;
    SSL_set_ex_data(connection, ConnectionCountedIndex(), connection);
    auto* count = static_cast<std::atomic<int>*>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(connection), HandshakeCounterIndex()));
    if (count != nullptr) ++*count;
  });
}

}  // namespace

struct Simulator::Impl {
  explicit Impl(SimulatorOptions o)
      : options(std::move(o)),
        notes(options.workFolder.empty()
                  ? std::string()
                  : (std::filesystem::path(options.workFolder) / "notas").string(),
              options.serverKey, options.serverCert) {}

  SimulatorOptions options;
  NoteStore notes;
  std::unique_ptr<httplib::SSLServer> server;
  std::thread listener;
  std::atomic<bool> listenerEnded{false};
  int port = 0;

  std::atomic<int> requestCount{0};
  std::atomic<int> handshakeCount{0};
  std::atomic<SimulatorFault> fault{SimulatorFault::Normal};
  std::atomic<int> faultDelayMs{0};
  std::atomic<bool> firstReplyPending{false};  // DelayFirstReply: the first is still to come
  std::atomic<bool> resultadoEscapado{options.resultadoEscapado};

  std::mutex settingsMutex;  // guards the settings below
  std::chrono::milliseconds tempoProcessamentoLote{options.tempoProcessamentoLoteMs};
  std::string cpfDestinatarioIrregular;
  std::chrono::minutes prazoCancelamento{options.prazoCancelamentoMin};
  std::string tpAmbRecepcao;
  std::string faultBody, faultContentType;
  // The last reply of each batch and receipt-query path that carried a receipt or protocols,
  // by path and kind of content, for OtherBatch.
  std::map<std::string, std::string> lastBatchReply;
  // One batch (of notes, of events, or a voiding) at a time: its duplicate checks and recordings
  // must not interleave with another's.
  std::mutex authorizationMutex;

  AuthorizationSettings CurrentAuthorizationSettings();

  // Lets Stop cut a Delay short instead of waiting for every delayed answer to run out.
  std::mutex stopMutex;
  std::condition_variable stopSignal;
  bool stopping = false;

  // The outage in force and the hold of AnswerAfterTimeout. outageMutex orders the changes
  // that open and close the port.
  std::atomic<SimulatorOutage> outage{SimulatorOutage::None};
  std::atomic<int> outageDelayMs{0};
  std::mutex outageMutex;
  std::string controlFile;
  std::thread controlWatcher;

  void Handle(const httplib::Request& request, httplib::Response& response);
  void Answer(const ServiceRoute& route, const httplib::Request& request,
              httplib::Response& response);
  void WaitFaultDelay();
  void WaitMs(int ms);
  // Creates the TLS server and listens on `wanted` (0: any free port); returns the port.
  int Listen(int wanted);
  // Stops the server and its listener (the port closes).
  void StopListening();
  void ApplyOutage(SimulatorOutage mode, int delayMs);
  void WatchControlFile();
};

namespace {

void SetSoap(httplib::Response& response, int status, const std::string& body) {
  response.status = status;
  response.set_content(body, kSoap12ContentType);
}

void RequireFile(const std::string& path, const char* what) {
  if (path.empty() || !std::filesystem::is_regular_file(path))
    throw std::runtime_error(std::string("Simulador: ") + what + " não encontrado: " + path);
}

}  // namespace

AuthorizationSettings Simulator::Impl::CurrentAuthorizationSettings() {
  AuthorizationSettings settings;
  settings.schemasFolder = options.schemasFolder;
  settings.caCert = options.caCert;
  std::lock_guard<std::mutex> lock(settingsMutex);
  settings.tempoProcessamento = tempoProcessamentoLote;
  settings.cpfDestinatarioIrregular = cpfDestinatarioIrregular;
  settings.prazoCancelamento = prazoCancelamento;
  settings.tpAmbRecepcao = tpAmbRecepcao;
  return settings;
}

void Simulator::Impl::WaitFaultDelay() { WaitMs(faultDelayMs.load()); }

void Simulator::Impl::WaitMs(int ms) {
  std::unique_lock<std::mutex> lock(stopMutex);
  stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

namespace {

// The document of `route` answering cStat 108: what a state service that stopped for a while
// says to every request it reads.
std::string Paralisado(const ServiceRoute& route, const std::string& body) {
  static const std::string kMotivo = "Serviço Paralisado Momentaneamente (curto prazo)";
  const auto valor = [&body](const char* tag) {
    const std::string abre = std::string("<") + tag + ">";
    const std::size_t at = body.find(abre);
    if (at == std::string::npos) return std::string();
    const std::size_t fim = body.find('<', at + abre.size());
    return fim == std::string::npos ? std::string()
                                    : body.substr(at + abre.size(), fim - at - abre.size());
  };
  std::string tpAmb = valor("tpAmb");
  if (tpAmb != "1" && tpAmb != "2") tpAmb = "2";
  std::string cUF = valor("cUF");
  if (!IsStateCode(cUF)) {
    const std::string chave = valor("chNFe");
    cUF = chave.size() == 44 && IsStateCode(chave.substr(0, 2)) ? chave.substr(0, 2)
                                                                : std::string(kFallbackCUF);
  }
  const std::string ns = " xmlns=\"http://www.portalfiscal.inf.br/nfe\"";
  const std::string versao = " versao=\"" + std::string(route.layout) + "\"";
  const std::string comum = "<tpAmb>" + tpAmb + "</tpAmb><verAplic>" + std::string(kVerAplic) +
                            "</verAplic><cStat>108</cStat><xMotivo>" + kMotivo + "</xMotivo>";
  const std::string agora = FormatDateTimeBrasilia(std::chrono::system_clock::now());
  // The replies that end with the state's code and the moment of reception.
  const auto comRecebimento = [&](const std::string& raiz) {
    return "<" + raiz + versao + ns + ">" + comum + "<cUF>" + cUF + "</cUF><dhRecbto>" + agora +
           "</dhRecbto></" + raiz + ">";
  };
  switch (route.kind) {
    case ServiceKind::Status:
      return comRecebimento("retConsStatServ");
    case ServiceKind::Authorization:
      return comRecebimento("retEnviNFe");
    case ServiceKind::ReceiptQuery:
      return comRecebimento("retConsReciNFe");
    case ServiceKind::Query:
      return comRecebimento("retConsSitNFe");
    case ServiceKind::Event:
    case ServiceKind::Epec:
      return "<retEnvEvento versao=\"1.00\"" + ns + "><idLote>0</idLote>" + comum + "<cOrgao>" +
             cUF + "</cOrgao></retEnvEvento>";
    case ServiceKind::Voiding:
      return "<retInutNFe" + versao + ns + "><infInut>" + comum + "<cUF>" + cUF +
             "</cUF><dhRecbto>" + agora + "</dhRecbto></infInut></retInutNFe>";
  }
  return {};
}

}  // namespace

void Simulator::Impl::Handle(const httplib::Request& request, httplib::Response& response) {
  const ServiceRoute* route = FindRoute(request.path);
  if (route == nullptr) {
    response.status = 404;
    response.set_content("Serviço não encontrado no simulador: " + request.path,
                         "text/plain; charset=utf-8");
  } else if (outage.load() == SimulatorOutage::Http503) {
    SetSoap(
        response, 503,
        BuildSoapFault(FaultCode::Receiver, "Serviço indisponível (simulado): tente mais tarde."));
  } else if (outage.load() == SimulatorOutage::Status108) {
    SetSoap(response, 200,
            BuildSoapReply(*route, Paralisado(*route, request.body),
                           route->layout == "3.10" ? std::string(kFallbackCUF) : ""));
  } else {
    const bool delayReply =
        (fault.load() == SimulatorFault::DelayFirstReply && firstReplyPending.exchange(false)) ||
        outage.load() == SimulatorOutage::AnswerAfterTimeout;
    const int hold = outage.load() == SimulatorOutage::AnswerAfterTimeout ? outageDelayMs.load()
                                                                          : faultDelayMs.load();
    try {
      Answer(*route, request, response);
    } catch (const SoapFault& fault) {
      SetSoap(response, HttpStatusFor(fault.code()), BuildSoapFault(fault.code(), fault.what()));
    } catch (const std::exception& e) {
      SetSoap(response, 500,
              BuildSoapFault(FaultCode::Receiver,
                             std::string("Falha interna do simulador: ") + e.what()));
    }
    if (delayReply) WaitMs(hold);
  }
  ++requestCount;
}

void Simulator::Impl::Answer(const ServiceRoute& route, const httplib::Request& request,
                             httplib::Response& response) {
  switch (fault.load()) {
    case SimulatorFault::Normal:
    case SimulatorFault::DelayFirstReply:
      break;
    case SimulatorFault::FixedBody: {
      std::lock_guard<std::mutex> lock(settingsMutex);
      response.status = 200;
      response.set_content(faultBody, faultContentType);
      return;
    }
    case SimulatorFault::Delay:
      WaitFaultDelay();
      break;
    case SimulatorFault::Http500:
      throw SoapFault(FaultCode::Receiver, "Falha simulada: erro interno do servidor.");
    case SimulatorFault::NoSoapBody:
      SetSoap(response, 200, BuildEnvelopeWithoutBody());
      return;
    case SimulatorFault::OtherBatch:
      break;
  }

  // SOAP 1.2 over HTTP travels as application/soap+xml; a state service refuses text/xml (the
  // SOAP 1.1 media type) before reading the message.
  if (!IsSoap12ContentType(request.get_header_value("Content-Type"))) {
    response.status = 415;
    response.set_content("Content-Type não suportado: use application/soap+xml.",
                         "text/plain; charset=utf-8");
    return;
  }

  std::string reply = AnswerSoap(
      route, request.body,
      {CurrentAuthorizationSettings(), notes, authorizationMutex, resultadoEscapado.load()});
  if (route.kind == ServiceKind::Authorization || route.kind == ServiceKind::ReceiptQuery) {
    // A reply is another's only when it carries what ties it to its request.
    const char* content = reply.find("nRec") != std::string::npos      ? "nRec"
                          : reply.find("protNFe") != std::string::npos ? "protNFe"
                                                                       : nullptr;
    if (content != nullptr) {
      const std::string key = std::string(route.path) + " " + content;
      std::lock_guard<std::mutex> lock(settingsMutex);
      std::string earlier = std::exchange(lastBatchReply[key], reply);
      if (fault.load() == SimulatorFault::OtherBatch) {
        if (earlier.empty()) {
          throw SoapFault(FaultCode::Receiver,
                          "Falha simulada: não há resposta anterior deste serviço para trocar.");
        }
        reply = std::move(earlier);
      }
    }
  }
  SetSoap(response, 200, reply);
}

Simulator::Simulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { Stop(); }

void Simulator::Start() {
  Impl& d = *impl_;
  if (d.port != 0) return;
  RequireFile(d.options.serverCert, "certificado do servidor");
  RequireFile(d.options.serverKey, "chave do servidor");
  RequireFile(d.options.caCert, "certificado da AC dos clientes");
  if (!d.options.workFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(d.options.workFolder, ec);
    if (!std::filesystem::is_directory(d.options.workFolder))
      throw std::runtime_error("Simulador: não foi possível criar a pasta " + d.options.workFolder +
                               ": " + ec.message());
  }

  try {
    d.notes.Carregar();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("Simulador: não foi possível carregar a base de notas: ") +
                             e.what());
  }

  {
    std::lock_guard<std::mutex> lock(d.stopMutex);
    d.stopping = false;
  }
  {
    std::lock_guard<std::mutex> lock(d.outageMutex);
    d.port = d.Listen(d.options.port);
    d.outage = SimulatorOutage::None;
  }
  d.controlFile = d.options.controlFile;
  if (d.controlFile.empty() && !d.options.workFolder.empty())
    d.controlFile = (std::filesystem::path(d.options.workFolder) / "fora-do-ar").string();
  if (!d.controlFile.empty()) d.controlWatcher = std::thread([&d] { d.WatchControlFile(); });
}

int Simulator::Impl::Listen(int wanted) {
  Impl& d = *this;
  // With a client CA the server asks for a certificate and ends the handshake of a client that
  // has none, or one that CA did not issue: the state services authenticate the transmitter
  // in TLS, before any SOAP is read.
  auto server = std::make_unique<httplib::SSLServer>(
      d.options.serverCert.c_str(), d.options.serverKey.c_str(), d.options.caCert.c_str());
  if (!server->is_valid())
    throw std::runtime_error(
        "Simulador: não foi possível carregar o certificado e a chave do servidor (" +
        d.options.serverCert + ", " + d.options.serverKey + ")");
  SSL_CTX* ctx = server->ssl_context();
  // The state services accept TLS 1.2 and later only.
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Advertise the accepted CA, so a client holding several certificates can pick the right one.
  if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(d.options.caCert.c_str()))
    SSL_CTX_set_client_CA_list(ctx, names);
  // A client that reconnects resumes its TLS session, as real clients do; with client
  // authentication on, OpenSSL refuses resumption ("internal error" alert) unless the server
  // names a session context.
  static const unsigned char kSessionContext[] = "qornfce-simulador";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
  CountHandshakes(ctx, d.handshakeCount);

  // httplib's default also sets SO_REUSEPORT, which would let a second simulator share a port
  // already taken instead of failing; keep SO_REUSEADDR only, for quick restarts.
  server->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  // The reply's header and body go out in separate writes; without TCP_NODELAY the body waits
  // for the client's delayed acknowledgement (tens of milliseconds a request).
  server->set_tcp_nodelay(true);
  // A client keeps its connection for as many requests as it likes, as the state services let
  // it (the library's default would close it after five).
  server->set_keep_alive_max_count(100000);

  auto handler = [&d](const httplib::Request& request, httplib::Response& response) {
    d.Handle(request, response);
  };
  server->Post(".*", handler);

  int port = wanted == 0 ? server->bind_to_any_port("127.0.0.1")
                         : (server->bind_to_port("127.0.0.1", wanted) ? wanted : -1);
  if (port <= 0)
    throw std::runtime_error("Simulador: não foi possível abrir a porta " + std::to_string(wanted) +
                             " em 127.0.0.1");

  d.server = std::move(server);
  d.listenerEnded = false;
  d.listener = std::thread([&d] {
    d.server->listen_after_bind();
    d.listenerEnded = true;
  });
  // stop() only reaches a server that is already running; returning earlier would let a quick
  // Stop() leave the listener running forever.
  while (!d.server->is_running() && !d.listenerEnded)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!d.server->is_running()) {
    d.listener.join();
    d.server.reset();
    throw std::runtime_error("Simulador: o servidor não entrou em operação");
  }
  return port;
}

void Simulator::Impl::StopListening() {
  if (!listener.joinable()) return;
  server->stop();
  listener.join();
  server.reset();
}

void Simulator::Impl::ApplyOutage(SimulatorOutage mode, int delayMs) {
  std::lock_guard<std::mutex> lock(outageMutex);
  if (port == 0) return;  // stopped
  outageDelayMs = delayMs;
  const SimulatorOutage before = outage.exchange(mode);
  if (mode == SimulatorOutage::RefuseConnections && before != mode) StopListening();
  if (mode != SimulatorOutage::RefuseConnections && before == SimulatorOutage::RefuseConnections)
    Listen(port);
}

void Simulator::Impl::WatchControlFile() {
  std::string seen;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(stopMutex);
      if (stopSignal.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping; }))
        return;
    }
    std::string text;
    if (FILE* file = std::fopen(controlFile.c_str(), "rb")) {
      char buffer[256];
      const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
      std::fclose(file);
      text.assign(buffer, n);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    // Only a change applies: an absent file leaves alone what the owner of the object set.
    if (text == seen) continue;
    seen = text;
    int delay = 5000;
    if (text.rfind("sem-resposta", 0) == 0 && text.size() > 13) {
      try {
        delay = std::stoi(text.substr(13));
      } catch (const std::exception&) {
        continue;
      }
    }
    try {
      if (text.empty() || text == "normal") {
        ApplyOutage(SimulatorOutage::None, 0);
      } else if (text == "recusar") {
        ApplyOutage(SimulatorOutage::RefuseConnections, 0);
      } else if (text == "503") {
        ApplyOutage(SimulatorOutage::Http503, 0);
      } else if (text == "108") {
        ApplyOutage(SimulatorOutage::Status108, 0);
      } else if (text.rfind("sem-resposta", 0) == 0) {
        ApplyOutage(SimulatorOutage::AnswerAfterTimeout, delay);
      }
    } catch (const std::exception&) {
      seen.clear();  // the port could not be opened again: try on the next round
    }
  }
}

void Simulator::Stop() {
  Impl& d = *impl_;
  if (d.port == 0) return;
  {
    std::lock_guard<std::mutex> lock(d.stopMutex);
    d.stopping = true;
  }
  d.stopSignal.notify_all();
  if (d.controlWatcher.joinable()) d.controlWatcher.join();
  std::lock_guard<std::mutex> lock(d.outageMutex);
  d.StopListening();
  d.port = 0;
  d.outage = SimulatorOutage::None;
}

void Simulator::SetOutage(SimulatorOutage mode, int delayMs) { impl_->ApplyOutage(mode, delayMs); }

SimulatorOutage Simulator::Outage() const { return impl_->outage.load(); }

int Simulator::Port() const { return impl_->port; }

std::string Simulator::BaseUrl() const { return "https://127.0.0.1:" + std::to_string(Port()); }

void Simulator::SetFault(SimulatorFault fault, int delayMs) {
  impl_->faultDelayMs = delayMs;
  impl_->firstReplyPending = fault == SimulatorFault::DelayFirstReply;
  impl_->fault = fault;
}

void Simulator::SetFaultBody(const std::string& body, const std::string& contentType) {
  std::lock_guard<std::mutex> lock(impl_->settingsMutex);
  impl_->faultBody = body;
  impl_->faultContentType = contentType;
}

void Simulator::SetTempoProcessamentoLote(int ms) {
  std::lock_guard<std::mutex> lock(impl_->settingsMutex);
  impl_->tempoProcessamentoLote = std::chrono::milliseconds(ms);
}

void Simulator::SetPrazoCancelamento(int minutos) {
  std::lock_guard<std::mutex> lock(impl_->settingsMutex);
  impl_->prazoCancelamento = std::chrono::minutes(minutos);
}

void Simulator::SetAmbienteRecepcao(const std::string& tpAmb) {
  std::lock_guard<std::mutex> lock(impl_->settingsMutex);
  impl_->tpAmbRecepcao = tpAmb;
}

void Simulator::SetResultadoEscapado(bool escapado) { impl_->resultadoEscapado = escapado; }

void Simulator::SetDenegarCpfDestinatario(const std::string& cpf) {
  std::lock_guard<std::mutex> lock(impl_->settingsMutex);
  impl_->cpfDestinatarioIrregular = cpf;
}

int Simulator::RequestCount() const { return impl_->requestCount.load(); }

int Simulator::HandshakeCount() const { return impl_->handshakeCount.load(); }

NoteStore& Simulator::Notas() { return impl_->notes; }

void Simulator::WriteServerFiles(const std::string& productionFile,
                                 const std::string& homologationFile) const {
  int port = impl_->port != 0 ? impl_->port : impl_->options.port;
  if (port == 0)
    throw std::logic_error(
        "Simulador: a porta só é conhecida depois de Start(); inicie o simulador antes de "
        "gravar os arquivos de servidores");
  const std::string base = "https://127.0.0.1:" + std::to_string(port);

  // One simulator answers for every UF and both environments: the reply follows the request's
  // tpAmb and cUF, so both files hold the same addresses.
  std::string text = "; Endereços dos serviços do simulador de homologação em " + base + "\n";
  for (const UfCode& uf : UfCodes()) {
    text += "\n[" + std::string(uf.uf) + "]\n";
    for (const ServiceRoute& route : ServiceRoutes())
      text += std::string(route.addressKey) + "=" + base + std::string(route.path) + "\n";
    text += "URLQRCODE=" + base + std::string(kQrCodePath) + "\n";
    text += "URLCONSULTACHAVE=" + base + std::string(kConsultaChavePath) + "\n";
  }
  text += "\n[URLCONSULTACHAVE]\n";
  for (const UfCode& uf : UfCodes())
    text += std::string(uf.uf) + "=" + base + std::string(kConsultaChavePath) + "\n";

  WriteFileAtomically(productionFile, text);
  WriteFileAtomically(homologationFile, text);
}

std::string DefaultSchemasFolder() {
  const std::string copia = DataDir() + "Esquemas/vm60";
  const char* pacote = std::getenv("QORNFCE_ESQUEMAS");
  if (!FileExists(copia + "/consStatServ_v4.00.xsd") && pacote != nullptr && *pacote != '\0') {
    return pacote;
  }
  return copia;
}

}  // namespace qor::sim
