#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qor::sim {

namespace {

std::runtime_error SystemError(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode) {
  // The template keeps the temporary name in the target's folder: rename() is only atomic
  // within one file system.
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) throw SystemError("Não foi possível criar o arquivo temporário de", path);
  auto fail = [&](const std::string& what) {
    std::runtime_error error = SystemError(what, path);
    ::close(fd);
    ::unlink(temp.c_str());
    return error;
  };
  if (::fchmod(fd, mode) != 0) throw fail("Não foi possível ajustar as permissões de");
  const char* data = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw fail("Não foi possível gravar");
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  if (::fsync(fd) != 0) throw fail("Não foi possível gravar");
  if (::close(fd) != 0) {
    std::runtime_error error = SystemError("Não foi possível gravar", path);
    ::unlink(temp.c_str());
    throw error;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    std::runtime_error error = SystemError("Não foi possível substituir", path);
    ::unlink(temp.c_str());
    throw error;
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SystemError("Não foi possível ler", path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace qor::sim
