#include "Simulator.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "AtomicFile.h"
#include "NoteStore.h"
#include "ServiceDispatch.h"
#include "Services.h"
#include "Soap.h"

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
  // One batch (of notes, of events, or a voiding) at a time: its duplicate checks and recordings
  // must not interleave with another's.
  std::mutex authorizationMutex;

  AuthorizationSettings CurrentAuthorizationSettings();

  // Lets Stop cut a Delay short instead of waiting for every delayed answer to run out.
  std::mutex stopMutex;
  std::condition_variable stopSignal;
  bool stopping = false;

  void Handle(const httplib::Request& request, httplib::Response& response);
  void Answer(const ServiceRoute& route, const httplib::Request& request,
              httplib::Response& response);
  void WaitFaultDelay();
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

void Simulator::Impl::WaitFaultDelay() {
  std::unique_lock<std::mutex> lock(stopMutex);
  stopSignal.wait_for(lock, std::chrono::milliseconds(faultDelayMs.load()),
                      [this] { return stopping; });
}

void Simulator::Impl::Handle(const httplib::Request& request, httplib::Response& response) {
  const ServiceRoute* route = FindRoute(request.path);
  if (route == nullptr) {
    response.status = 404;
    response.set_content("Serviço não encontrado no simulador: " + request.path,
                         "text/plain; charset=utf-8");
  } else {
    const bool delayReply =
        fault.load() == SimulatorFault::DelayFirstReply && firstReplyPending.exchange(false);
    try {
      Answer(*route, request, response);
    } catch (const SoapFault& fault) {
      SetSoap(response, HttpStatusFor(fault.code()), BuildSoapFault(fault.code(), fault.what()));
    } catch (const std::exception& e) {
      SetSoap(response, 500,
              BuildSoapFault(FaultCode::Receiver,
                             std::string("Falha interna do simulador: ") + e.what()));
    }
    if (delayReply) WaitFaultDelay();
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
  }

  // SOAP 1.2 over HTTP travels as application/soap+xml; a state service refuses text/xml (the
  // SOAP 1.1 media type) before reading the message.
  if (!IsSoap12ContentType(request.get_header_value("Content-Type"))) {
    response.status = 415;
    response.set_content("Content-Type não suportado: use application/soap+xml.",
                         "text/plain; charset=utf-8");
    return;
  }

  SetSoap(response, 200,
          AnswerSoap(route, request.body,
                     {CurrentAuthorizationSettings(), notes, authorizationMutex,
                      resultadoEscapado.load()}));
}

Simulator::Simulator(SimulatorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { Stop(); }

void Simulator::Start() {
  Impl& d = *impl_;
  if (d.listener.joinable()) return;
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

  int port = d.options.port == 0
                 ? server->bind_to_any_port("127.0.0.1")
                 : (server->bind_to_port("127.0.0.1", d.options.port) ? d.options.port : -1);
  if (port <= 0)
    throw std::runtime_error("Simulador: não foi possível abrir a porta " +
                             std::to_string(d.options.port) + " em 127.0.0.1");

  {
    std::lock_guard<std::mutex> lock(d.stopMutex);
    d.stopping = false;
  }
  d.server = std::move(server);
  d.port = port;
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
    d.port = 0;
    throw std::runtime_error("Simulador: o servidor não entrou em operação");
  }
}

void Simulator::Stop() {
  Impl& d = *impl_;
  if (!d.listener.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(d.stopMutex);
    d.stopping = true;
  }
  d.stopSignal.notify_all();
  d.server->stop();
  d.listener.join();
  d.server.reset();
  d.port = 0;
}

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

}  // namespace qor::sim
