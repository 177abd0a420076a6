// Other programs run by the library and its command line, always without a shell (argv[0] is
// looked up in PATH), and the loopback ports a local server is started on.
//
// Thread-safe: functions without shared state; a TChildProcess belongs to one owner.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qor {

struct TProcessResult {
  int spawnError = 0;      // errno of a program that could not be started, else 0
  bool succeeded = false;  // started and exited with status 0
  std::string errors;      // what it wrote on its standard error
};

// Runs `argv` with standard input and output on /dev/null and waits for it.
TProcessResult RunProcess(const std::vector<std::string>& argv);

// A program that runs beside the caller until Stop() or the end of the object (SIGTERM, then
// waited for), its standard input on /dev/null and its output appended to `outputFile`.
class TChildProcess {
 public:
  // Throws EqorGovException naming the program when it cannot be started.
  TChildProcess(const std::vector<std::string>& argv, const std::string& outputFile);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Running();  // false once it has ended (and then it is reaped)
  void Stop();

 private:
  int pid_ = 0;
};

// A TCP port of 127.0.0.1 that was free when asked (another program may still take it).
int FreeLoopbackPort();
// Whether 127.0.0.1:`port` accepts a connection within `limit`, trying every 50 ms.
bool WaitForLoopbackPort(int port, std::chrono::milliseconds limit);

}  // namespace qor
