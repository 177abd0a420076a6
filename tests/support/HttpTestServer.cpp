#include "support/HttpTestServer.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace qor::test {

struct HttpTestServer::Impl {
  httplib::Server server;
  std::thread thread;
  int port = 0;
  mutable std::mutex mutex;
  std::condition_variable stopping;
  bool stopped = false;
  std::map<std::string, Reply> replies;
  std::map<std::string, int> counts;
  std::map<std::string, std::multimap<std::string, std::string>> params;

  void Handle(const httplib::Request& request, httplib::Response& response) {
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++counts[request.path];
      params[request.path] = {request.params.begin(), request.params.end()};
      auto it = replies.find(request.path);
      if (it == replies.end()) {
        response.status = 404;
        return;
      }
      reply = it->second;
    }
    if (reply.fault == Fault::kSilent) {
      // Silent until the client gives up; bounded, and cut short when the server stops.
      std::unique_lock<std::mutex> lock(mutex);
      stopping.wait_for(lock, std::chrono::seconds(5), [this] { return stopped; });
      response.status = 200;
      return;
    }
    response.status = reply.status;
    if (reply.fault == Fault::kCutBody) {
      const std::string body = reply.body;
      response.set_content_provider(body.size() + 1000, "application/gzip",
                                    [body](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset == 0) sink.write(body.data(), body.size() / 2);
                                      return false;  // the connection closes mid-body
                                    });
      return;
    }
    response.set_content(reply.body, "application/octet-stream");
  }
};

HttpTestServer::HttpTestServer() : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.server.Get(".*", [&d](const httplib::Request& q, httplib::Response& r) { d.Handle(q, r); });
  d.port = d.server.bind_to_any_port("127.0.0.1");
  if (d.port <= 0) throw std::runtime_error("HttpTestServer: no port");
  d.thread = std::thread([&d] { d.server.listen_after_bind(); });
  while (!d.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopped = true;
  }
  impl_->stopping.notify_all();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

void HttpTestServer::Set(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->replies[path] = std::move(reply);
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

int HttpTestServer::Port() const { return impl_->port; }

int HttpTestServer::Requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->counts.find(path);
  return it == impl_->counts.end() ? 0 : it->second;
}

std::multimap<std::string, std::string> HttpTestServer::LastParams(const std::string& path) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->params.find(path);
  return it == impl_->params.end() ? std::multimap<std::string, std::string>{} : it->second;
}

}  // namespace qor::test
