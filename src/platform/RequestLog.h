// The request and response logs: one XML file per message in a log folder, named
// id + "-" + kind + ".xml" ("35191...-env-lot.xml", "-ped-sta.xml").
//
// A message without an id gets a unique stamp as its id: the local time to the millisecond, the
// process id and a per-process counter ("20261207-024432-123-p4242-7"), so two logs written in
// the same millisecond, even by two processes, never overwrite each other. No log ever replaces
// another: when the name is taken (a batch number used again, the same note sent by two
// processes at once) the log is created under the first free name with a counter after the id,
// "777~2-env-lot.xml", "777~3-env-lot.xml", which keeps the kind's suffix. Creation is exclusive,
// so two processes never get the same name. Callers use the name Log returns.
//
// Ids and file names come from outside (keys, receipts, batch numbers): one that is not a plain
// file name (a separator, "..") is refused with EqorGovException and nothing is written.
//
// Not thread-safe per object.
#pragma once

#include <functional>
#include <string>

namespace qor {

class TFileSystem;

class TRequestLog {
 public:
  using LogEvent = std::function<void(const std::string& kind, const std::string& id,
                                      const std::string& fileName)>;
  using LogContentEvent =
      std::function<void(const std::string& kind, const std::string& id,
                         const std::string& fileName, const std::string& content)>;

  // Whether Log writes files at all (the events run either way).
  void Set_SaveLogToFile(bool save) { save_ = save; }
  bool Get_SaveLogToFile() const { return save_; }
  // The file operations the logs are written with; not owned (nullptr: TFileSystem::Default()).
  void SetFileSystem(TFileSystem* files) { files_ = files; }

  // The file name (no folder) that Log gives a message of `kind` and `id`. With an empty id the
  // name carries a fresh unique stamp, so each call gives a new name.
  std::string GetLogFileName(const std::string& kind, const std::string& id) const;

  // Writes `content` into `directory` (created when missing) under `fileName`, or under
  // GetLogFileName(kind, id) when `fileName` is empty, or under the first free variant of that
  // name; the file appears whole. Then runs OnLog and OnLogContent with kind, id and the file
  // name. Returns the file name written. A failure to create the folder or write the file
  // throws EqorGovException naming it and the system's reason, and leaves no file.
  std::string Log(const std::string& content, const std::string& kind, const std::string& id,
                  const std::string& fileName, const std::string& directory);

  LogEvent OnLog;
  LogContentEvent OnLogContent;

 private:
  bool save_ = true;
  TFileSystem* files_ = nullptr;
};

}  // namespace qor
