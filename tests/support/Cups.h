// A CUPS scheduler of the test's own on a free loopback port, configured in a folder of the
// test, for the tests that print: CUPS_SERVER points the clients (lp, lpadmin) at it while it
// lives.
#pragma once

#include <sys/types.h>

#include <string>

namespace qor::test {

class Cupsd {
 public:
  explicit Cupsd(const std::string& root);
  ~Cupsd();
  Cupsd(const Cupsd&) = delete;
  Cupsd& operator=(const Cupsd&) = delete;

  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
  bool Ready() const;
  // Adds the queue `name` printing into the file `out` of the output folder; returns its path.
  std::string AddQueue(const std::string& name, const std::string& out) const;
  // Why it did not start, from its own log.
  std::string Log() const;

 private:
  std::string root_;
  int port_;
  pid_t pid_ = -1;
};

}  // namespace qor::test
