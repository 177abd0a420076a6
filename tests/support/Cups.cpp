#include "support/Cups.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "platform/Files.h"
#include "support/TempDir.h"

namespace qor::test {

namespace {

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace

// A cupsd of its own on a free loopback port, configured in `root`. The machine has the
// scheduler but not the filter package, and a raw queue on a file: device writes nothing when
// the job has no filter to run; so the queue's driver is one pass-through filter ("cat") and
// the job's bytes reach the file unchanged, as a raw queue would send them.
Cupsd::Cupsd(const std::string& root) : root_(root), port_(FreePort()) {
  for (const char* sub : {"spool/tmp", "cache", "state", "log", "bin/filter", "out"}) {
    std::filesystem::create_directories(root + sub);
  }
  for (const char* sub : {"backend", "daemon", "notifier"}) {
    std::filesystem::create_directory_symlink(std::string("/usr/lib/cups/") + sub,
                                              root + "bin/" + sub);
  }
  WriteFile(root + "bin/filter/passthru",
            "#!/bin/sh\nif [ -n \"$6\" ]; then exec cat \"$6\"; else exec cat; fi\n");
  // The filters run as the scheduler's user (lp), which must reach them and the output.
  for (const std::string& d : {ExtractFileDir(root.substr(0, root.size() - 1)), root}) {
    ::chmod(d.c_str(), 0755);
  }
  ::chmod((root + "bin/filter/passthru").c_str(), 0755);
  ::chmod((root + "out").c_str(), 0777);
  WriteFile(root + "queue.ppd",
            "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
            "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
            "*PCFileName: \"DANFCE.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
            "*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n"
            "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
            "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
            "*TTRasterizer: Type42\n*cupsFilter: \"application/pdf 0 passthru\"\n"
            "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Roll\n*PageSize Roll: \"\"\n"
            "*CloseUI: *PageSize\n*DefaultImageableArea: Roll\n"
            "*ImageableArea Roll: \"0 0 226 800\"\n*DefaultPaperDimension: Roll\n"
            "*PaperDimension Roll: \"226 800\"\n");
  WriteFile(root + "cupsd.conf", "Listen 127.0.0.1:" + std::to_string(port_) +
                                     "\nLogLevel warn\nDefaultAuthType None\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n"
                                     "</Location>\n<Policy default>\n  <Limit All>\n"
                                     "    Order deny,allow\n  </Limit>\n</Policy>\n");
  WriteFile(root + "cups-files.conf", "FileDevice Yes\nServerRoot " + root + "\nServerBin " + root +
                                          "bin\nRequestRoot " + root + "spool\nTempDir " + root +
                                          "spool/tmp\nCacheDir " + root + "cache\nStateDir " +
                                          root + "state\nErrorLog " + root +
                                          "log/error_log\nAccessLog " + root +
                                          "log/access_log\nPageLog " + root + "log/page_log\n");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execlp("cupsd", "cupsd", "-f", "-c", (root + "cupsd.conf").c_str(), "-s",
             (root + "cups-files.conf").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setenv("CUPS_SERVER", Server().c_str(), 1);
  for (int i = 0; i < 100 && !Ready(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
Cupsd::~Cupsd() {
  ::unsetenv("CUPS_SERVER");
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}
bool Cupsd::Ready() const {
  return RunCommand("lpstat -r 2>/dev/null | grep -q 'is running'") == 0;
}
std::string Cupsd::AddQueue(const std::string& name, const std::string& out) const {
  std::string said;
  EXPECT_EQ(RunCommand("lpadmin -p " + name + " -E -v file://" + root_ + "out/" + out + " -P " +
                           root_ + "queue.ppd",
                       &said),
            0)
      << said;
  return root_ + "out/" + out;
}
std::string Cupsd::Log() const { return ReadFile(root_ + "log/error_log"); }

}  // namespace qor::test
