// A plain HTTP server on 127.0.0.1 (free port) for the download and local-updater tests: each
// path answers as set (others 404) or misbehaves (a body cut short, silence); requests are
// counted per path and the query of the last one kept, decoded.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace qor::test {

class HttpTestServer {
 public:
  enum class Fault { kNone, kCutBody, kSilent };
  struct Reply {
    int status = 200;
    std::string body;
    Fault fault = Fault::kNone;
  };

  HttpTestServer() {
    server_.Get(".*", [this](const httplib::Request& q, httplib::Response& r) { Handle(q, r); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~HttpTestServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    stopping_.notify_all();
    server_.stop();
    thread_.join();
  }
  void Set(const std::string& path, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Port() const { return port_; }
  int Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[path];
  }
  std::multimap<std::string, std::string> LastParams() {
    std::lock_guard<std::mutex> lock(mutex_);
    return params_;
  }

 private:
  void Handle(const httplib::Request& request, httplib::Response& response) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counts_[request.path];
    params_ = {request.params.begin(), request.params.end()};
    const auto it = replies_.find(request.path);
    const Reply reply = it == replies_.end() ? Reply{404, ""} : it->second;
    if (reply.fault == Fault::kSilent) {  // until the client gives up or the server stops
      stopping_.wait_for(lock, std::chrono::seconds(5), [this] { return stopped_; });
      return;
    }
    response.status = reply.status;
    if (reply.fault == Fault::kCutBody) {  // half the body, then the connection closes
      response.set_content_provider(reply.body.size() + 1000, "application/gzip",
                                    [body = reply.body](size_t, size_t, httplib::DataSink& sink) {
                                      sink.write(body.data(), body.size() / 2);
                                      return false;
                                    });
      return;
    }
    response.set_content(reply.body, "application/octet-stream");
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::map<std::string, Reply> replies_;
  std::map<std::string, int> counts_;
  std::multimap<std::string, std::string> params_;
};

}  // namespace qor::test
