#include "platform/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/Format.h"
#include "platform/GovException.h"

extern char** environ;

namespace qor {

namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// posix_spawnp of `argv`; returns 0 or the errno of the failure.
int Spawn(const std::vector<std::string>& argv, SpawnActions& actions, pid_t& pid) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return ::posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ);
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

}  // namespace

TProcessResult RunProcess(const std::vector<std::string>& argv) {
  TProcessResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.spawnError = errno;
    return result;
  }
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], 2);
  pid_t pid = 0;
  result.spawnError = Spawn(argv, actions, pid);
  ::close(pipeFds[1]);
  if (result.spawnError == 0) {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) result.errors.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(pipeFds[0]);
  if (result.spawnError == 0) {
    const int status = WaitFor(pid);
    result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return result;
}

TChildProcess::TChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), 1, outputFile.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
  pid_t pid = 0;
  if (const int err = Spawn(argv, actions, pid)) {
    throw EqorGovException(
        Format("Não foi possível executar %s: %s", {argv.front(), std::strerror(err)}));
  }
  pid_ = pid;
}

TChildProcess::~TChildProcess() { Stop(); }

bool TChildProcess::Running() {
  if (pid_ == 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
  pid_ = 0;
  return false;
}

void TChildProcess::Stop() {
  if (pid_ == 0) return;
  ::kill(pid_, SIGTERM);
  WaitFor(pid_);
  pid_ = 0;
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr = Loopback(0);
  socklen_t size = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

bool WaitForLoopbackPort(int port, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = Loopback(port);
    const bool accepted =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) ::close(fd);
    if (accepted) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace qor
