// File, folder and path helpers of the services utilities, and the facts of the running process.
//
// Paths: a backslash in a configured or composed path is a directory separator; the functions
// here return paths with "/". Whole-file writes are atomic: the content goes to a temporary file
// in the same folder which is then renamed over the target, so a reader never sees half a file.
// The temporary file is readable by its owner only until it is complete; one left behind by a
// killed process is removed, once it is a minute old, by the next process writing there.
// Failures throw EqorGovException naming the path and the system's reason.
//
// Thread-safe: the only shared state is the executable folder (read once) and the set of folders
// already cleaned of stale temporary files.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qor {

// ---- whole files ----------------------------------------------------------------------------
std::string LoadFromFile(const std::string& path);  // bytes as they are on disk
// The bytes of a settings file that is read on every operation, so that an edit counts at once:
// what LoadFromFile reads, shared with the earlier callers while the file stays the same (same
// device, inode, size, modification and status-change times), which then costs one stat instead
// of a read. A file changed within the last second is read every time: its times may not yet
// tell a later edit apart. Null when no regular file is at the path; a file that cannot be read
// throws as LoadFromFile does.
std::shared_ptr<const std::string> SharedFileText(const std::string& path);
void SaveToFile(const std::string& path, const std::string& content);
// Same as SaveToFile for a file that holds secrets: a new file is created readable by its owner
// only (0600); an existing one keeps its mode and owner, as with SaveToFile.
void SavePrivateFile(const std::string& path, const std::string& content);
// Same as SaveToFile, dropping a leading byte-order mark: the file is UTF-8 without BOM.
void SaveToFileUtf8(const std::string& path, const std::string& content);
// Same as SaveToFile, and the new name is on disk too before it returns: the folder is synced
// after the rename, and a failure of that sync throws (SaveToFile lets it pass, since the
// previous whole file stays). For records that must survive a power cut once written.
void SaveToFileDurable(const std::string& path, const std::string& content);
// Renames `from` to `to` (replacing it) within one file system, then syncs the folder of `to`
// and, when it differs, the folder of `from`, so the move survives a power cut. Throws
// EqorGovException naming both paths; a move across file systems is refused (EXDEV), not copied.
void RenameFileDurable(const std::string& from, const std::string& to);
// Writes `content` whole under `path` only when no file of that name exists: false, and nothing
// written, when one does (even one created by another process at the same moment).
bool CreateNewFile(const std::string& path, const std::string& content);
// Appends `text` exactly as given with one write on a file opened for appending (created when
// missing), so concurrent appenders never interleave inside one call.
void AppendToFile(const std::string& path, const std::string& text);
// The same for a file that must be a regular one (an event log): opened without blocking, so a
// FIFO without reader fails at once, and refused (EqorGovException) when it is a device, a FIFO
// or anything but a regular file, before anything is written.
void AppendToRegularFile(const std::string& path, const std::string& text);
// Writes all of `data` to the open descriptor `fd`, again after a short write or a signal;
// returns 0, or the errno of the failure.
int WriteAll(int fd, const char* data, std::size_t size);

// ---- file system ----------------------------------------------------------------------------
bool FileExists(const std::string& path);  // a regular file
bool DirectoryExists(const std::string& path);
int FileMode(const std::string& path);    // permission bits (0644), -1 when it cannot be read
bool CreateDir(const std::string& path);  // one level; false when it cannot be made
bool ForceDirectories(const std::string& path);  // with parents; true when it exists afterwards
bool DeleteFile(const std::string& path);
// A new folder "<parent>/<prefix>XXXXXX" that no other caller gets (mkdtemp), mode 0700; its
// path with the trailing "/". Throws EqorGovException when it cannot be made.
std::string CreateUniqueDirectory(const std::string& parent, const std::string& prefix);
bool RemoveDirectory(const std::string& path);  // an empty folder; false when it stays
void RenameFile(const std::string& from, const std::string& to);  // replaces `to`
void CopyFile(const std::string& from, const std::string& to);    // atomic on the target
// Files of `directory` whose names match the shell mask (`*`, `?`), sorted by name; names only.
std::vector<std::string> ListFiles(const std::string& directory, const std::string& mask);
std::chrono::system_clock::time_point FileAge(const std::string& path);  // modification time
// The same, or none when the file cannot be looked at (missing, or an empty path): one stat and
// no exception, for callers to whom a missing file is an answer.
std::optional<std::chrono::system_clock::time_point> TryFileAge(const std::string& path);
void SetFileAge(const std::string& path, std::chrono::system_clock::time_point when);

// ---- advisory locks -------------------------------------------------------------------------
// An exclusive flock(2) on a lock file (created when missing, never removed): held until the
// object is destroyed or the process ends, however it ends, so a killed holder never leaves a
// stale lock. Processes that agree to take it exclude each other; it does not stop a process
// that does not ask. Not for threads of one process sharing one object.
class TFileLock {
 public:
  // Takes the lock without waiting: null when another holder has it. Throws EqorGovException
  // when the lock file cannot be opened.
  static std::unique_ptr<TFileLock> TryAcquire(const std::string& path);
  // Waits for the lock up to `timeout` (zero: forever); null when it did not come in time.
  static std::unique_ptr<TFileLock> Acquire(const std::string& path,
                                            std::chrono::milliseconds timeout);
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  ~TFileLock();

 private:
  explicit TFileLock(int fd) : fd_(fd) {}
  int fd_;
};

// ---- the file seam --------------------------------------------------------------------------
// The file operations of the code that watches folders other programs write (the Integrador
// exchange), of the offline queue, and the writes of sending (request and reply logs, the
// pointer files of a batch, the recipient's distribution XML), behind one interface, so a test
// can count them or make one fail (a delete refused, a listing counted, the k-th write, rename or
// folder creation of an operation failing) at this boundary instead of through flags in the
// domain code. TFileSystem::Default() forwards to the free functions above; a test derives from
// TFileSystemWrapper, which forwards every call to another instance, and overrides only the call
// it wants to observe or break. The user (the component) holds a pointer it does not own.
//
// Thread-safety: Default() is stateless and may be shared; a wrapper is as safe as its code.
class TFileSystem {
 public:
  TFileSystem() = default;
  TFileSystem(const TFileSystem&) = delete;
  TFileSystem& operator=(const TFileSystem&) = delete;
  virtual ~TFileSystem() = default;

  // The process-wide instance over the real file system; lives until the process ends.
  static TFileSystem& Default();

  // As the free functions of the same names.
  virtual std::vector<std::string> ListFiles(const std::string& directory, const std::string& mask);
  virtual std::string LoadFromFile(const std::string& path);
  virtual bool DeleteFile(const std::string& path);  // false when the file stays
  virtual void RenameFile(const std::string& from, const std::string& to);
  virtual void SaveToFileDurable(const std::string& path, const std::string& content);
  virtual void RenameFileDurable(const std::string& from, const std::string& to);
  virtual bool ForceDirectories(const std::string& path);

  // The steps of a whole-file write, each one a place a test can break. Every failure throws
  // EqorGovException naming the file (or folder) and the system's reason.
  //
  // Writes `content` whole and synced into a new temporary file in the folder of `path`,
  // readable by its owner only, with the mode `path` has (or a new file's) once complete; returns
  // the temporary's path. On failure nothing is left.
  virtual std::string WriteTemporary(const std::string& path, const std::string& content);
  // Gives the temporary `tmp` the name `path` only when no file has it (link(2)): false when one
  // does. `tmp` stays in every case; the caller removes it.
  virtual bool LinkNewName(const std::string& tmp, const std::string& path);
  // `path` and its missing parents; nothing to do when it exists.
  virtual void CreateDirectories(const std::string& path);

  // Whole-file writes composed of the steps above (not meant to be overridden: a test breaks a
  // step). SaveToFile replaces `path` (WriteTemporary, then RenameFile); CreateNewFile writes it
  // only when no file has the name (WriteTemporary, then LinkNewName), false when one does. A
  // failed rename or link removes the temporary, so a failure leaves the old file or none.
  void SaveToFile(const std::string& path, const std::string& content);
  bool CreateNewFile(const std::string& path, const std::string& content);
};

// Forwards every call to `target`, which must outlive it.
class TFileSystemWrapper : public TFileSystem {
 public:
  explicit TFileSystemWrapper(TFileSystem& target) : target_(target) {}
  std::vector<std::string> ListFiles(const std::string& directory,
                                     const std::string& mask) override {
    return target_.ListFiles(directory, mask);
  }
  std::string LoadFromFile(const std::string& path) override { return target_.LoadFromFile(path); }
  bool DeleteFile(const std::string& path) override { return target_.DeleteFile(path); }
  void RenameFile(const std::string& from, const std::string& to) override {
    target_.RenameFile(from, to);
  }
  void SaveToFileDurable(const std::string& path, const std::string& content) override {
    target_.SaveToFileDurable(path, content);
  }
  void RenameFileDurable(const std::string& from, const std::string& to) override {
    target_.RenameFileDurable(from, to);
  }
  bool ForceDirectories(const std::string& path) override { return target_.ForceDirectories(path); }
  std::string WriteTemporary(const std::string& path, const std::string& content) override {
    return target_.WriteTemporary(path, content);
  }
  bool LinkNewName(const std::string& tmp, const std::string& path) override {
    return target_.LinkNewName(tmp, path);
  }
  void CreateDirectories(const std::string& path) override { target_.CreateDirectories(path); }

 private:
  TFileSystem& target_;
};

// ---- paths ----------------------------------------------------------------------------------
std::string NativePath(const std::string& path);            // backslashes to "/"
std::string IncludeTrailingSlash(const std::string& path);  // "" stays ""
std::string ExtractFileDir(const std::string& path);        // with trailing "/", "" when none
std::string ExtractFileName(const std::string& path);
// Makes a path absolute and normalised ("." and ".." resolved textually, "/" separators).
// An absolute path ("/...") stays; any other path, including one that starts with a backslash
// and so has no drive ("\\Log"), is joined to the component's writable root, HomeDir() (the
// executable's folder when it holds the installation data; see InstallationFolders.h). A
// trailing separator is kept. An empty path stays empty.
std::string ExpandPath(const std::string& path);
// Same, joined to `base` instead (HomeDir() when `base` is empty).
std::string ExpandPathFrom(const std::string& path, const std::string& base);
// True when `name` is a plain file name: not empty, not "." or "..", no "/" or "\\", no NUL.
bool IsPlainFileName(const std::string& name);

// ---- special folders --------------------------------------------------------------------------
// The system's temporary folder ($TMPDIR or /tmp), with a trailing "/".
std::string GetTempDir();
// 0: the executable's folder; 1: the component's temporary folder (GetTempDir() + "qornfce/");
// 2: the user's configuration folder ($XDG_CONFIG_HOME or ~/.config, + "qornfce/");
// 3: the user's data folder ($XDG_DATA_HOME or ~/.local/share, + "qornfce/").
// Every folder has a trailing "/"; it is not created. Another number throws EqorGovException.
std::string GetSpecialDirectories(int which);

// ---- process ------------------------------------------------------------------------------
std::string ExecutableDir();  // folder of /proc/self/exe, trailing "/"
std::int64_t CurrentThreadId();
std::int64_t CurrentProcessId();

}  // namespace qor
