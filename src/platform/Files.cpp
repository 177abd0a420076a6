#include "platform/Files.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <system_error>

#include "platform/GovException.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"

namespace qor {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void ThrowSys(const std::string& what, const std::string& path, int err) {
  throw EqorGovException(what + " \"" + QuoteForMessage(path) + "\": " + std::strerror(err));
}

// Closes a descriptor on every exit path; the explicit Close() reports the error of close(),
// which on some file systems is where a failed write shows up.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int Close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// Asks for the mode a plain open(..., 0666) gives a new file: the kernel applies the umask (or
// the folder's default ACL), which a process cannot read without changing it for all threads.
constexpr mode_t kPlainNewFileMode = static_cast<mode_t>(-1);

// The folder's entries on disk; false (errno set) when it cannot be opened or synced.
bool SyncDirectoryStrict(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  errno = err;
  return rc == 0;
}

void SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    // Best effort: the data itself is already on disk; only the new name may be lost on a crash,
    // which leaves the previous whole file.
    (void)::fsync(fd);
    ::close(fd);
  }
}

std::string ParentOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::chrono::system_clock::time_point FromTimespec(const timespec& ts) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec)));
}

constexpr const char* kTempPrefix = ".qor-tmp-";

// A temporary file left by a process killed mid-write (it may hold a whole configuration with
// its secrets) is removed at the first write into its folder in each later process. Only files
// older than a minute go: a younger one may belong to a write still running elsewhere.
void RemoveStaleTemporaries(const std::string& dir) {
  static std::mutex mutex;
  static std::set<std::string> cleaned;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!cleaned.insert(dir).second) return;
  }
  std::error_code ec;
  fs::directory_iterator it(fs::path(dir), ec);
  if (ec) return;
  const auto limit = std::chrono::system_clock::now() - std::chrono::minutes(1);
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    struct stat st {};
    if (name.rfind(kTempPrefix, 0) != 0 || ::lstat(entry.path().c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || FromTimespec(st.st_mtim) > limit) {
      continue;
    }
    ::unlink(entry.path().c_str());
  }
}

// A new, empty file of `dir` under a name no other file had, open for writing, created with
// `createMode` (the umask applies). Its path is put in `tmp`.
int CreateTemporary(const std::string& dir, mode_t createMode, std::string& tmp) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  // A fixed short prefix: a long target name plus a suffix could exceed the name limit.
  tmp = dir + "/" + kTempPrefix + "XXXXXXXX";
  const std::size_t suffix = tmp.size() - 8;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t bits = generator();
    for (std::size_t i = suffix; i < tmp.size(); ++i, bits >>= 6) tmp[i] = kLetters[bits % 62];
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The content, complete and on disk, in a new temporary file of `dir`. With a `mode`, the file
// is its owner's alone until it is whole, and then gets that mode; with kPlainNewFileMode it is
// created with the mode a plain new file gets. Returns the temporary file's path.
std::string WriteTemporary(const std::string& dir, const std::string& path,
                           std::string_view content, mode_t mode) {
  RemoveStaleTemporaries(dir);
  std::string tmp;
  const bool plain = mode == kPlainNewFileMode;
  const int raw = CreateTemporary(dir, plain ? 0666 : 0600, tmp);
  if (raw < 0) ThrowSys("Não foi possível gravar o arquivo", path, errno);
  Fd fd(raw);
  auto fail = [&](int err) {
    ::unlink(tmp.c_str());
    ThrowSys("Não foi possível gravar o arquivo", path, err);
  };
  if (int err = WriteAll(fd.get(), content.data(), content.size())) fail(err);
  if (::fsync(fd.get()) != 0) fail(errno);
  if (!plain && ::fchmod(fd.get(), mode) != 0) fail(errno);
  if (fd.Close() != 0) fail(errno);
  return tmp;
}

// `privateNew`: a new file is made readable by its owner only (it holds secrets). An existing
// file keeps its mode and, where the process may give it, its owner.
void AtomicWrite(const std::string& rawPath, std::string_view content, bool privateNew = false,
                 bool durable = false) {
  const std::string path = NativePath(rawPath);
  if (path.empty()) throw EqorGovException("Nome de arquivo vazio para gravação.");
  const std::string dir = ParentOf(path);
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  const mode_t mode = exists ? (old.st_mode & 07777) : privateNew ? 0600 : kPlainNewFileMode;
  const std::string tmp = WriteTemporary(dir, path, content, mode);
  if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // Best effort: only a privileged process may give a file away.
    (void)::chown(tmp.c_str(), old.st_uid, old.st_gid);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    ThrowSys("Não foi possível gravar o arquivo", path, err);
  }
  if (!durable) {
    SyncDirectory(dir);
  } else if (!SyncDirectoryStrict(dir)) {
    ThrowSys("Não foi possível sincronizar a pasta", dir, errno);
  }
}

// `absolute` starts with "/"; "." and ".." are resolved on the text alone (no symlinks are
// followed), and ".." at the root stays at the root.
std::string Normalise(const std::string& absolute, bool trailing) {
  std::string result;
  result.reserve(absolute.size() + 1);
  std::vector<std::size_t> kept;  // where each part kept in `result` begins, its "/" included
  for (std::size_t start = 0; start <= absolute.size();) {
    std::size_t slash = absolute.find('/', start);
    if (slash == std::string::npos) slash = absolute.size();
    const std::string_view part(absolute.data() + start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) {
        result.resize(kept.back());
        kept.pop_back();
      }
      continue;
    }
    kept.push_back(result.size());
    result += '/';
    result += part;
  }
  if (result.empty() || trailing) result += '/';
  return result;
}

std::string EnvFolder(const char* variable, const std::string& fallbackUnderHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && *value != '\0') return IncludeTrailingSlash(value);
  const char* home = std::getenv("HOME");
  std::string base = (home != nullptr && *home != '\0') ? home : "/";
  return IncludeTrailingSlash(base) + fallbackUnderHome;
}

}  // namespace

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// ---- whole files ------------------------------------------------------------------------------

std::string LoadFromFile(const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (raw < 0) ThrowSys("Não foi possível ler o arquivo", path, errno);
  Fd fd(raw);
  std::string content;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowSys("Não foi possível ler o arquivo", path, errno);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
}

namespace {

// Which file a path led to and how it stood.
struct TextStamp {
  unsigned long long device = 0, inode = 0;
  long long size = 0, modifiedNs = 0, changedNs = 0;
  bool operator==(const TextStamp&) const = default;
};

long long Nanoseconds(const timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The stamp of the regular file at `path`; none when there is no such file.
std::optional<TextStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return TextStamp{st.st_dev, st.st_ino, static_cast<long long>(st.st_size),
                   Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// The file system stamps a change with a coarse clock: two writes within one tick may leave the
// same times. A file whose last change is a second old or more is past that doubt.
bool Settled(const TextStamp& stamp) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long secondAgo = Nanoseconds(now) - 1000000000LL;
  return stamp.changedNs <= secondAgo && stamp.modifiedNs <= secondAgo;
}

struct SharedTexts {
  std::mutex mutex;
  std::map<std::string, std::pair<TextStamp, std::shared_ptr<const std::string>>> byPath;
};

SharedTexts& TheSharedTexts() {
  static SharedTexts texts;
  return texts;
}

}  // namespace

std::shared_ptr<const std::string> SharedFileText(const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  const std::optional<TextStamp> before = StampOf(path);
  if (!before) return nullptr;
  const bool settled = Settled(*before);
  SharedTexts& texts = TheSharedTexts();
  if (settled) {
    const std::lock_guard<std::mutex> lock(texts.mutex);
    const auto found = texts.byPath.find(path);
    if (found != texts.byPath.end() && found->second.first == *before) return found->second.second;
  }
  auto text = std::make_shared<const std::string>(LoadFromFile(path));
  // Kept only when the file stood still while it was read.
  if (settled && StampOf(path) == before) {
    const std::lock_guard<std::mutex> lock(texts.mutex);
    if (texts.byPath.size() >= 64) texts.byPath.clear();  // a few settings files, not a cache
    texts.byPath[path] = {*before, text};
  }
  return text;
}

void SaveToFile(const std::string& path, const std::string& content) { AtomicWrite(path, content); }

void SaveToFileDurable(const std::string& path, const std::string& content) {
  AtomicWrite(path, content, false, true);
}

void RenameFileDurable(const std::string& rawFrom, const std::string& rawTo) {
  const std::string from = NativePath(rawFrom);
  const std::string to = NativePath(rawTo);
  if (::rename(from.c_str(), to.c_str()) != 0) {
    ThrowSys("Não foi possível renomear \"" + from + "\" para", to, errno);
  }
  const std::string toDir = ParentOf(to);
  const std::string fromDir = ParentOf(from);
  if (!SyncDirectoryStrict(toDir)) ThrowSys("Não foi possível sincronizar a pasta", toDir, errno);
  if (fromDir != toDir && !SyncDirectoryStrict(fromDir)) {
    ThrowSys("Não foi possível sincronizar a pasta", fromDir, errno);
  }
}

void SavePrivateFile(const std::string& path, const std::string& content) {
  AtomicWrite(path, content, true);
}

int FileMode(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

void SaveToFileUtf8(const std::string& path, const std::string& content) {
  std::string_view body = content;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  AtomicWrite(path, body);
}

bool CreateNewFile(const std::string& rawPath, const std::string& content) {
  const std::string path = NativePath(rawPath);
  if (path.empty()) throw EqorGovException("Nome de arquivo vazio para gravação.");
  const std::string dir = ParentOf(path);
  const std::string tmp = WriteTemporary(dir, path, content, kPlainNewFileMode);
  // link() never replaces: of two processes creating one name, exactly one succeeds.
  const int rc = ::link(tmp.c_str(), path.c_str());
  const int err = errno;
  ::unlink(tmp.c_str());
  if (rc != 0) {
    if (err == EEXIST) return false;
    ThrowSys("Não foi possível gravar o arquivo", path, err);
  }
  SyncDirectory(dir);
  return true;
}

namespace {

// Appends `text` with one write(); `regularOnly` refuses (before a byte is written) whatever is
// not a regular file, and opens without blocking, so a FIFO with no reader fails at once (ENXIO)
// instead of holding the caller.
void Append(const std::string& rawPath, const std::string& text, bool regularOnly) {
  const std::string path = NativePath(rawPath);
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0);
  int raw = ::open(path.c_str(), flags, 0666);
  if (raw < 0) ThrowSys("Não foi possível acrescentar ao arquivo", path, errno);
  Fd fd(raw);
  if (regularOnly) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
      ThrowSys("Não foi possível acrescentar ao arquivo", path, errno);
    }
    if (!S_ISREG(st.st_mode)) {
      throw EqorGovException("Não foi possível acrescentar ao arquivo \"" + path +
                             "\": não é um arquivo comum.");
    }
  }
  // WriteAll only loops on the short write of a full disk or a signal, where the remainder is
  // still better appended than lost.
  if (int err = WriteAll(fd.get(), text.data(), text.size())) {
    ThrowSys("Não foi possível acrescentar ao arquivo", path, err);
  }
  if (fd.Close() != 0) ThrowSys("Não foi possível acrescentar ao arquivo", path, errno);
}

}  // namespace

void AppendToFile(const std::string& path, const std::string& text) { Append(path, text, false); }

void AppendToRegularFile(const std::string& path, const std::string& text) {
  Append(path, text, true);
}

// ---- file system ------------------------------------------------------------------------------

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(NativePath(path).c_str(), 0777) == 0) return true;
  return errno == EEXIST && DirectoryExists(path);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(NativePath(path)), ec);
  return DirectoryExists(path);
}

std::string CreateUniqueDirectory(const std::string& parent, const std::string& prefix) {
  std::string pattern = IncludeTrailingSlash(NativePath(parent)) + prefix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ThrowSys("Não foi possível criar a pasta temporária", pattern, errno);
  }
  return pattern + "/";
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && ::rmdir(NativePath(path).c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
  return !path.empty() && ::unlink(NativePath(path).c_str()) == 0;
}

void RenameFile(const std::string& rawFrom, const std::string& rawTo) {
  const std::string from = NativePath(rawFrom);
  const std::string to = NativePath(rawTo);
  if (::rename(from.c_str(), to.c_str()) == 0) return;
  int err = errno;
  if (err != EXDEV) ThrowSys("Não foi possível renomear \"" + from + "\" para", to, err);
  // Across file systems a rename is a copy; the target is still written whole.
  CopyFile(from, to);
  if (::unlink(from.c_str()) != 0) ThrowSys("Não foi possível remover o arquivo", from, errno);
}

void CopyFile(const std::string& from, const std::string& to) {
  AtomicWrite(to, LoadFromFile(from));
}

std::vector<std::string> ListFiles(const std::string& directory, const std::string& mask) {
  const std::string dir = NativePath(directory);
  // "*.*" is how a Windows-born configuration says "every file", dotted or not.
  const bool all = mask.empty() || mask == "*" || mask == "*.*";
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  if (ec) return names;
  for (const fs::directory_entry& entry : it) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    std::string name = entry.path().filename().string();
    // Masks come from a system where file names are case-insensitive.
    if (all || ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::chrono::system_clock::time_point FileAge(const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    ThrowSys("Não foi possível ler a data do arquivo", path, errno);
  return FromTimespec(st.st_mtim);
}

std::optional<std::chrono::system_clock::time_point> TryFileAge(const std::string& rawPath) {
  struct stat st {};
  if (::stat(NativePath(rawPath).c_str(), &st) != 0) return std::nullopt;
  return FromTimespec(st.st_mtim);
}

void SetFileAge(const std::string& rawPath, std::chrono::system_clock::time_point when) {
  const std::string path = NativePath(rawPath);
  auto since = when.time_since_epoch();
  auto secs = std::chrono::floor<std::chrono::seconds>(since);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(secs.count());
  times[1].tv_nsec =
      static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - secs).count());
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    ThrowSys("Não foi possível alterar a data do arquivo", path, errno);
  }
}

// ---- paths ------------------------------------------------------------------------------------

std::string NativePath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string IncludeTrailingSlash(const std::string& path) {
  if (path.empty()) return path;
  std::string out = NativePath(path);
  if (out.back() != '/') out += '/';
  return out;
}

std::string ExtractFileDir(const std::string& path) {
  std::string native = NativePath(path);
  std::string::size_type slash = native.find_last_of('/');
  return slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  std::string::size_type slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExpandPathFrom(const std::string& path, const std::string& base) {
  if (path.empty()) return path;
  const bool trailing = path.back() == '/' || path.back() == '\\';
  // Only a real "/" makes a path absolute: a leading backslash is a path without a drive,
  // which the component resolves against its own folder.
  if (path.front() == '/') return Normalise(NativePath(path), trailing);
  std::string root = base.empty() ? HomeDir() : base;
  if (root.front() != '/') root = ExpandPath(root);
  return Normalise(IncludeTrailingSlash(root) + NativePath(path), trailing);
}

std::string ExpandPath(const std::string& path) { return ExpandPathFrom(path, HomeDir()); }

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

// ---- special folders --------------------------------------------------------------------------

std::string GetTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return IncludeTrailingSlash((tmp != nullptr && *tmp != '\0') ? tmp : "/tmp");
}

std::string GetSpecialDirectories(int which) {
  switch (which) {
    case 0:
      return ExecutableDir();
    case 1:
      return GetTempDir() + "qornfce/";
    case 2:
      return EnvFolder("XDG_CONFIG_HOME", ".config/") + "qornfce/";
    case 3:
      return EnvFolder("XDG_DATA_HOME", ".local/share/") + "qornfce/";
    default:
      throw EqorGovException("Diretório especial desconhecido: " + std::to_string(which));
  }
}

// ---- process ----------------------------------------------------------------------------------

std::string ExecutableDir() {
  static const std::string dir = [] {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
      throw EqorGovException("Não foi possível determinar a pasta do executável: " + ec.message());
    }
    return IncludeTrailingSlash(exe.parent_path().string());
  }();
  return dir;
}

std::int64_t CurrentThreadId() { return static_cast<std::int64_t>(::gettid()); }

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::getpid()); }

// ---- advisory locks ---------------------------------------------------------------------------

namespace {
int OpenLockFile(const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) ThrowSys("Não foi possível abrir o arquivo de trava", path, errno);
  return fd;
}
}  // namespace

std::unique_ptr<TFileLock> TFileLock::TryAcquire(const std::string& path) {
  const int fd = OpenLockFile(path);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return nullptr;
    ThrowSys("Não foi possível travar o arquivo", path, err);
  }
  return std::unique_ptr<TFileLock>(new TFileLock(fd));
}

std::unique_ptr<TFileLock> TFileLock::Acquire(const std::string& path,
                                              std::chrono::milliseconds timeout) {
  // Polled rather than a blocking flock: a wait with a limit needs no signal or thread.
  const auto limit = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (auto lock = TryAcquire(path)) return lock;
    if (timeout.count() > 0 && std::chrono::steady_clock::now() >= limit) return nullptr;
    ::usleep(50 * 1000);
  }
}

TFileLock::~TFileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the flock
}

// ---- the file seam --------------------------------------------------------------------------

TFileSystem& TFileSystem::Default() {
  static TFileSystem* instance = new TFileSystem();  // never destroyed: usable at exit
  return *instance;
}

std::vector<std::string> TFileSystem::ListFiles(const std::string& directory,
                                                const std::string& mask) {
  return qor::ListFiles(directory, mask);
}
std::string TFileSystem::LoadFromFile(const std::string& path) { return qor::LoadFromFile(path); }
bool TFileSystem::DeleteFile(const std::string& path) { return qor::DeleteFile(path); }
void TFileSystem::RenameFile(const std::string& from, const std::string& to) {
  qor::RenameFile(from, to);
}
void TFileSystem::SaveToFileDurable(const std::string& path, const std::string& content) {
  qor::SaveToFileDurable(path, content);
}
void TFileSystem::RenameFileDurable(const std::string& from, const std::string& to) {
  qor::RenameFileDurable(from, to);
}
bool TFileSystem::ForceDirectories(const std::string& path) { return qor::ForceDirectories(path); }

std::string TFileSystem::WriteTemporary(const std::string& rawPath, const std::string& content) {
  const std::string path = NativePath(rawPath);
  if (path.empty()) throw EqorGovException("Nome de arquivo vazio para gravação.");
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : kPlainNewFileMode;
  return qor::WriteTemporary(ParentOf(path), path, content, mode);
}

bool TFileSystem::LinkNewName(const std::string& tmp, const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  if (::link(NativePath(tmp).c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) return false;
    ThrowSys("Não foi possível gravar o arquivo", path, errno);
  }
  SyncDirectory(ParentOf(path));
  return true;
}

void TFileSystem::CreateDirectories(const std::string& rawPath) {
  const std::string path = NativePath(rawPath);
  if (path.empty()) throw EqorGovException("Nome de pasta vazio.");
  std::error_code ec;
  fs::create_directories(fs::path(path), ec);
  if (DirectoryExists(path)) return;
  ThrowSys("Não foi possível criar a pasta", path, ec ? ec.value() : ENOTDIR);
}

void TFileSystem::SaveToFile(const std::string& path, const std::string& content) {
  const std::string tmp = WriteTemporary(path, content);
  try {
    RenameFile(tmp, path);
  } catch (...) {
    DeleteFile(tmp);
    throw;
  }
  SyncDirectory(ParentOf(NativePath(path)));
}

bool TFileSystem::CreateNewFile(const std::string& path, const std::string& content) {
  const std::string tmp = WriteTemporary(path, content);
  bool created = false;
  try {
    created = LinkNewName(tmp, path);
  } catch (...) {
    DeleteFile(tmp);
    throw;
  }
  DeleteFile(tmp);
  return created;
}

}  // namespace qor
