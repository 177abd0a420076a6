// A small HTTPS server on the OpenSSL API for transport tests: it answers like a web service or
// misbehaves as a real service or network does and a ready-made HTTP server will not. It records
// the requests (headers, client certificate) and counts handshakes, so a test can see whether a
// connection was reused. Listens on 127.0.0.1 on a free port until Stop() or destruction; one
// thread per kept-alive connection; the accessors may be called while clients talk to it.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qor::test {

class TlsFaultServer {
 public:
  enum class Fault {
    kNone,               // answer every request with `status` and `body`
    kCloseWithoutReply,  // read the request, then close the connection without a byte of reply
    kTruncatedBody,      // "200 OK" with Content-Length 1000, a few bytes of body, then close
    kNeverAnswer,        // read the request and keep silent until the client gives up or Stop()
    kNeverHandshake,     // accept the TCP connection and never speak TLS
  };

  struct Options {
    std::string certPem;      // server certificate (and chain) file
    std::string keyPem;       // its key file
    std::string clientCaPem;  // when set, a client certificate issued by this CA is required;
                              // otherwise one is asked for, taken as it comes and recorded
    Fault fault = Fault::kNone;
    int status = 200;
    std::string body;
    std::string contentType = "application/soap+xml; charset=utf-8";
  };

  struct Request {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string clientSubject;  // RFC 2253 subject of the client certificate; empty if none
  };

  // Throws std::runtime_error when the certificate, the key or the socket cannot be set up.
  explicit TlsFaultServer(Options options);
  TlsFaultServer(const TlsFaultServer&) = delete;
  TlsFaultServer& operator=(const TlsFaultServer&) = delete;
  ~TlsFaultServer();

  int Port() const { return port_; }
  std::string Url(const std::string& path = "/ws") const;  // "https://127.0.0.1:<port>" + path
  // Closes the listening socket and every connection and waits for the threads, promptly even
  // in the middle of a request. Idempotent.
  void Stop();

  int Handshakes() const { return handshakes_.load(); }
  int FailedHandshakes() const { return failedHandshakes_.load(); }
  std::vector<Request> Requests() const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  void Forget(int fd);

  Options options_;
  struct SslContext;
  std::unique_ptr<SslContext> ssl_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> handshakes_{0};
  std::atomic<int> failedHandshakes_{0};
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  std::set<int> openFds_;
  std::vector<std::thread> connectionThreads_;
  std::vector<Request> requests_;
};

}  // namespace qor::test
