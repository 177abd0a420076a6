// A plain HTTP server on 127.0.0.1 that hands out the files of one folder by name (GET /name),
// as the store the server-address archives are downloaded from. For the demo; it serves nothing
// outside its folder (names with a separator or "..", links) and answers 404 for those.
#pragma once

#include <memory>
#include <string>

namespace qor::sim {

class ArchiveServer {
 public:
  // Starts listening on a free loopback port; throws std::runtime_error when it cannot.
  explicit ArchiveServer(const std::string& folder);
  ~ArchiveServer();
  ArchiveServer(const ArchiveServer&) = delete;
  ArchiveServer& operator=(const ArchiveServer&) = delete;

  // "http://127.0.0.1:<port>/<name>"
  std::string Url(const std::string& name) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor::sim
