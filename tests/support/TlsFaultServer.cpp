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
#include <cstdlib>
#include <stdexcept>

namespace qor::test {

namespace {

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A write to a connection the client already closed must fail with EPIPE, not kill the test
// program; the signal is blocked only on the server's own threads.
void BlockSigpipeOnThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool WriteAll(SSL* ssl, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
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
  std::string subject(data, static_cast<std::size_t>(length > 0 ? length : 0));
  BIO_free(bio);
  X509_free(peer);
  return subject;
}

// Reads one HTTP request from `ssl`, keeping whatever follows it in `pending`. False when the
// client closed the connection (or it broke) before a whole request came.
bool ReadRequest(SSL* ssl, std::string& pending, TlsFaultServer::Request& request) {
  char chunk[16384];
  std::size_t headerEnd;
  while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos) {
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(n));
  }
  const std::string head = pending.substr(0, headerEnd);
  pending.erase(0, headerEnd + 4);

  std::size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const auto sp1 = requestLine.find(' ');
  const auto sp2 = requestLine.find(' ', sp1 + 1);
  request.method = requestLine.substr(0, sp1);
  request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  while (lineEnd != std::string::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
  }

  std::size_t length = 0;
  if (auto it = request.headers.find("content-length"); it != request.headers.end()) {
    length = std::strtoul(it->second.c_str(), nullptr, 10);
  }
  while (pending.size() < length) {
    const int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return false;
    pending.append(chunk, static_cast<std::size_t>(n));
  }
  request.body = pending.substr(0, length);
  pending.erase(0, length);
  return true;
}

}  // namespace

struct TlsFaultServer::SslContext {
  SSL_CTX* ctx = nullptr;
  ~SslContext() {
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
};

TlsFaultServer::TlsFaultServer(Options options)
    : options_(std::move(options)), ssl_(std::make_unique<SslContext>()) {
  ssl_->ctx = SSL_CTX_new(TLS_server_method());
  if (ssl_->ctx == nullptr) throw std::runtime_error("SSL_CTX_new: " + OpenSslReason());
  SSL_CTX* ctx = ssl_->ctx;
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
  if (listenFd_ < 0) throw std::runtime_error("socket() failed");
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listenFd_);
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

void TlsFaultServer::AcceptLoop() {
  BlockSigpipeOnThisThread();
  while (!stopping_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) break;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
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
  BlockSigpipeOnThisThread();
  if (options_.fault == Fault::kNeverHandshake) {
    char byte;
    while (::recv(fd, &byte, 1, 0) > 0) {
    }
    Forget(fd);
    return;
  }

  SSL* ssl = SSL_new(ssl_->ctx);
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) != 1) {
    ++failedHandshakes_;
    ERR_clear_error();
    SSL_free(ssl);
    Forget(fd);
    return;
  }
  ++handshakes_;
  const std::string subject = PeerSubject(ssl);

  std::string pending;
  bool keepOpen = true;
  while (keepOpen && !stopping_) {
    Request request;
    if (!ReadRequest(ssl, pending, request)) break;
    request.clientSubject = subject;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    switch (options_.fault) {
      case Fault::kCloseWithoutReply:
        SSL_shutdown(ssl);
        keepOpen = false;
        break;
      case Fault::kTruncatedBody:
        WriteAll(ssl, "HTTP/1.1 200 OK\r\nContent-Type: " + options_.contentType +
                          "\r\nContent-Length: 1000\r\n\r\n<soap:Envelope");
        SSL_shutdown(ssl);
        keepOpen = false;
        break;
      case Fault::kNeverAnswer: {
        // Silent until the client hangs up or Stop() shuts the socket.
        char chunk[1024];
        while (SSL_read(ssl, chunk, sizeof chunk) > 0) {
        }
        keepOpen = false;
        break;
      }
      case Fault::kNone:
      case Fault::kNeverHandshake:
        keepOpen = WriteAll(ssl, "HTTP/1.1 " + std::to_string(options_.status) + " " +
                                     (options_.status == 200 ? "OK" : "Error") +
                                     "\r\nContent-Type: " + options_.contentType +
                                     "\r\nContent-Length: " + std::to_string(options_.body.size()) +
                                     "\r\n\r\n" + options_.body);
        break;
    }
  }
  ERR_clear_error();
  SSL_free(ssl);
  Forget(fd);
}

}  // namespace qor::test
