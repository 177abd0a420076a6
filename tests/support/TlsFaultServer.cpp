#include "support/TlsFaultServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace qor::test {

namespace {

std::string OpenSslReason() {
  char text[256] = "unknown error";
  if (const unsigned long code = ERR_get_error(); code != 0) {
    ERR_error_string_n(code, text, sizeof text);
  }
  ERR_clear_error();
  return text;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool WriteAll(SSL* ssl, const std::string& data) {
  for (std::size_t done = 0; done < data.size();) {
    const int n = SSL_write(ssl, data.data() + done, static_cast<int>(data.size() - done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string PeerSubject(SSL* ssl) {
  X509* peer = SSL_get1_peer_certificate(ssl);
  if (peer == nullptr) return {};
  BIO* bio = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(bio, X509_get_subject_name(peer), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  std::string subject(data, static_cast<std::size_t>(std::max(length, 0L)));
  BIO_free(bio);
  X509_free(peer);
  return subject;
}

// Reads from `ssl` until `pending` holds at least `size` bytes; false when the connection ends.
bool ReadAtLeast(SSL* ssl, std::string& pending, std::size_t size) {
  char chunk[16384];
  while (pending.size() < size) {
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// Reads one HTTP request from `ssl`, keeping whatever follows it in `pending`. False when the
// client closed the connection (or it broke) before a whole request came.
bool ReadRequest(SSL* ssl, std::string& pending, TlsFaultServer::Request& request) {
  std::size_t end;
  while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadAtLeast(ssl, pending, pending.size() + 1)) return false;
  }
  std::istringstream head(pending.substr(0, end));
  pending.erase(0, end + 4);
  std::string line;
  head >> request.method >> request.target;
  std::getline(head, line);  // the rest of the request line
  while (std::getline(head, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = Trim(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    request.headers[name] = Trim(line.substr(colon + 1));
  }
  const auto length = request.headers.contains("content-length")
                          ? std::stoul(request.headers["content-length"])
                          : std::size_t{0};
  if (!ReadAtLeast(ssl, pending, length)) return false;
  request.body = pending.substr(0, length);
  pending.erase(0, length);
  return true;
}

}  // namespace

struct TlsFaultServer::SslContext {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  ~SslContext() { SSL_CTX_free(ctx); }
};

TlsFaultServer::TlsFaultServer(Options options)
    : options_(std::move(options)), ssl_(std::make_unique<SslContext>()) {
  SSL_CTX* ctx = ssl_->ctx;
  if (ctx == nullptr) throw std::runtime_error("SSL_CTX_new: " + OpenSslReason());
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (SSL_CTX_use_certificate_chain_file(ctx, options_.certPem.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, options_.keyPem.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("server certificate " + options_.certPem + ": " + OpenSslReason());
  }
  if (!options_.clientCaPem.empty()) {
    if (SSL_CTX_load_verify_locations(ctx, options_.clientCaPem.c_str(), nullptr) != 1) {
      throw std::runtime_error("client CA " + options_.clientCaPem + ": " + OpenSslReason());
    }
    SSL_CTX_set_client_CA_list(ctx, SSL_load_client_CA_file(options_.clientCaPem.c_str()));
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  } else {
    // Ask for a certificate so that the client's can be recorded, whoever issued it.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
  }

  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TlsFaultServer::~TlsFaultServer() { Stop(); }

std::string TlsFaultServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<TlsFaultServer::Request> TlsFaultServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void TlsFaultServer::Stop() {
  if (stopping_.exchange(true)) return;
  // shutdown() wakes the threads blocked in accept() or SSL_read() on these sockets.
  ::shutdown(listenFd_, SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connectionThreads_);
  }
  for (auto& t : threads) t.join();
}

// A write to a connection the client already closed must fail with EPIPE, not kill the test
// program: SIGPIPE is blocked on the server's own threads, which inherit it from this one.
void TlsFaultServer::AcceptLoop() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  while (!stopping_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && !stopping_ && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (fd < 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    openFds_.insert(fd);
    connectionThreads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void TlsFaultServer::Forget(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  openFds_.erase(fd);
  ::close(fd);
}

void TlsFaultServer::Serve(int fd) {
  char chunk[1024];
  if (options_.fault == Fault::kNeverHandshake) {
    while (::recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
    return Forget(fd);
  }
  SSL* ssl = SSL_new(ssl_->ctx);
  SSL_set_fd(ssl, fd);
  const bool accepted = SSL_accept(ssl) == 1;
  ++(accepted ? handshakes_ : failedHandshakes_);
  const std::string subject = accepted ? PeerSubject(ssl) : "";
  std::string pending;
  Request request;
  while (accepted && !stopping_ && ReadRequest(ssl, pending, request)) {
    request.clientSubject = subject;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(std::exchange(request, {}));
    }
    const std::string head = "HTTP/1.1 " + std::to_string(options_.status) +
                             (options_.status == 200 ? " OK" : " Error") +
                             "\r\nContent-Type: " + options_.contentType + "\r\nContent-Length: ";
    if (options_.fault == Fault::kNone) {
      if (!WriteAll(ssl, head + std::to_string(options_.body.size()) + "\r\n\r\n" + options_.body))
        break;
      continue;
    }
    if (options_.fault == Fault::kTruncatedBody) WriteAll(ssl, head + "1000\r\n\r\n<soap:Envelope");
    if (options_.fault == Fault::kNeverAnswer) {
      // Silent until the client hangs up or Stop() shuts the socket.
      while (SSL_read(ssl, chunk, sizeof chunk) > 0) {
      }
    } else {
      SSL_shutdown(ssl);
    }
    break;
  }
  ERR_clear_error();
  SSL_free(ssl);
  Forget(fd);
}

}  // namespace qor::test
