// A plain HTTP server on 127.0.0.1 (free port) for the download and local-updater tests: each
// path answers as set, or misbehaves (a body cut short, silence), and the requests are counted
// and their query parameters kept.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace qor::test {

class HttpTestServer {
 public:
  enum class Fault { kNone, kCutBody, kSilent };
  struct Reply {
    int status = 200;
    std::string body;
    Fault fault = Fault::kNone;
  };

  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // What `path` answers from now on (unknown paths: 404).
  void Set(const std::string& path, Reply reply);
  std::string Url(const std::string& path) const;
  int Port() const;
  int Requests(const std::string& path) const;
  // Query parameters of the last request to `path`, decoded.
  std::multimap<std::string, std::string> LastParams(const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor::test
