#include "ArchiveServer.h"

#include <httplib.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace qor::sim {

struct ArchiveServer::Impl {
  std::string folder;
  httplib::Server server;
  std::thread thread;
  int port = 0;
};

ArchiveServer::ArchiveServer(const std::string& folder) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  d.server.Get(R"(/([^/]+))", [&d](const httplib::Request& request, httplib::Response& response) {
    const std::string name = request.matches[1];
    const std::string path = d.folder + name;
    struct stat st {};
    if (name == "." || name == ".." || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      response.status = 404;
      return;
    }
    std::ifstream in(path, std::ios::binary);
    response.set_content(std::string(std::istreambuf_iterator<char>(in), {}), "application/gzip");
  });
  d.port = d.server.bind_to_any_port("127.0.0.1");
  if (d.port <= 0) throw std::runtime_error("Servidor de arquivos: nenhuma porta livre");
  d.thread = std::thread([&d] { d.server.listen_after_bind(); });
  while (!d.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

ArchiveServer::~ArchiveServer() {
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string ArchiveServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/" + name;
}

}  // namespace qor::sim
