// In-memory table of text fields: the record store under the note-group model. Each table has
// named string fields (size, required flag, visibility, display label), a list of records and a
// cursor, with the record states inactive, browse, edit and insert.
//
// Fields are declared while the table is inactive (AddField), then Open() makes it browsable.
// Field names compare case-insensitively (ASCII); an unknown name throws EqorGovException.
// Size and required are metadata only: the table stores any text in any field and never
// refuses a blank value, because the layer above decides whether a long value is cut or
// refused and words its own messages (through the before-post handler). A field never written
// reads as empty text: null and empty are the same here.
//
// Records are vectors of strings indexed by field position. Edit() and Append() work on a
// separate buffer for the one record being changed; Post() moves the buffer into the store and
// Cancel() drops it, so Cancel restores the previous values and no operation copies the table.
//
// States and operations (a call in a state not listed throws EqorGovException and changes
// nothing):
//   Open        inactive -> browse, cursor on the first visible record.
//   Close       any -> inactive; drops the pending record and every record.
//   Append      browse -> insert: before-insert handler, new empty record (key field filled
//               from the master when linked), after-insert handler. A detail
//               whose master has no current record refuses to append (the record would be
//               stored under no master).
//   Edit        browse with a current record -> edit; no-op in edit or insert.
//   Post        edit/insert -> browse: before-post handler, then the record is stored. After an
//               insert the cursor is on the new record (when the master shows it).
//   Cancel      edit/insert -> browse with the values as before; no-op in browse or inactive.
//   Empty       browse/edit/insert: drops the pending record and every record (also those a
//               master link hides); state browse.
//   First/Next  browse only. Next on the last record sets Eof and stays on that record.
//   Value/SetValue  read in any state but inactive (an empty view reads as empty text); write
//               only in edit or insert, on the pending record.
//
// Master/detail: SetMaster(master, keyField, masterField) makes this table a detail: it then
// shows only the records whose keyField equals the master's current value of masterField (its
// pending value while the master is in edit or insert). The visible list is recomputed only
// when that value changes (the master moves, appends, cancels, or its masterField is written),
// and only when the detail is next read, from a per-key index rather than a scan; posting in
// the detail updates it incrementally.
// Appending in the detail fills keyField from the master. A detail's pending record survives a move
// of its master untouched (it keeps the key it was given) and is stored under that key when posted.
// Emptying or closing a master keeps its details' records (they show none until the master has a
// current record again). Destroying either side unlinks it.
//
// Handlers (std::function, each optional, receiving the table): before-insert, after-insert,
// before-post. A handler that throws cancels its operation and the exception propagates:
// before-insert leaves the table in browse as it was; after-insert drops the new record and
// returns to browse on the previous cursor; before-post leaves the table in edit or insert with
// the pending values intact, so the caller can correct them and post again.
//
// Not thread-safe: a table and the tables linked to it belong to one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qor {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

struct TqorMemField {
  std::string name;
  int size = 0;
  bool required = false;
  bool visible = true;
  std::string displayLabel;  // the name when not given
};

class TqorMemTable {
 public:
  using Handler = std::function<void(TqorMemTable&)>;

  explicit TqorMemTable(std::string name = {});
  ~TqorMemTable();
  TqorMemTable(const TqorMemTable&) = delete;
  TqorMemTable& operator=(const TqorMemTable&) = delete;

  const std::string& Name() const { return name_; }

  // Declares a field (inactive only); a duplicate name (ignoring case) throws. Returns its index.
  std::size_t AddField(const std::string& name, int size = 0, bool required = false,
                       bool visible = true, const std::string& displayLabel = {});
  std::size_t FieldCount() const { return fields_.size(); }
  const TqorMemField& Field(std::size_t index) const { return fields_.at(index); }
  // Index of the named field; -1 when unknown (FieldByName throws instead).
  int FindField(const std::string& name) const;
  std::size_t FieldByName(const std::string& name) const;

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive; }

  void Open();
  void Close();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Empty();
  void First();
  void Next();
  bool Eof() const;
  // Records visible through the master link (all records when unlinked); the pending
  // inserted record is not counted until posted.
  std::size_t RecordCount() const;

  const std::string& Value(std::size_t field) const;
  const std::string& Value(const std::string& fieldName) const {
    return Value(FieldByName(fieldName));
  }
  void SetValue(std::size_t field, const std::string& value);
  void SetValue(const std::string& fieldName, const std::string& value) {
    SetValue(FieldByName(fieldName), value);
  }

  // Links this table as a detail of `master` (nullptr unlinks). Both fields must exist.
  void SetMaster(TqorMemTable* master, const std::string& keyField, const std::string& masterField);
  TqorMemTable* Master() const { return master_; }

  void SetBeforeInsert(Handler h) { beforeInsert_ = std::move(h); }
  void SetAfterInsert(Handler h) { afterInsert_ = std::move(h); }
  void SetBeforePost(Handler h) { beforePost_ = std::move(h); }

 private:
  using Record = std::vector<std::string>;

  void RequireState(bool ok, const char* operation) const;
  void CheckCanAppend() const;
  // Value of `field` on the current record (the pending one in edit/insert); null when there is
  // no current record.
  const std::string* CurrentValue(std::size_t field) const;
  void NotifyDetails() const;
  void MarkStale() const;
  void Refresh() const;
  void RebuildView() const;
  void Unlink();
  bool Shows(const Record& r) const;

  std::string name_;
  std::vector<TqorMemField> fields_;
  std::unordered_map<std::string, std::size_t> byName_;  // lower-case name -> index
  TDataSetState state_ = TDataSetState::dsInactive;

  std::vector<Record> records_;
  // The visible list of a detail is brought up to date when it is next read (Refresh), not at
  // every move of its master: walking a master's records then costs nothing for the details
  // nobody reads. `stale_` marks a master that may have moved since.
  mutable std::vector<std::size_t> view_;  // indexes into records_, in insertion order
  mutable std::size_t cur_ = 0;  // position in view_ (meaningful when view_ is not empty)
  mutable bool eof_ = true;
  mutable bool stale_ = false;
  Record pending_;             // record being edited or inserted
  std::size_t editIndex_ = 0;  // record being edited (index into records_)

  TqorMemTable* master_ = nullptr;
  std::size_t keyField_ = 0;
  std::size_t masterField_ = 0;
  std::vector<TqorMemTable*> details_;
  // Detail side: record indexes per key value, and the master value the view was built for.
  std::unordered_map<std::string, std::vector<std::size_t>> byKey_;
  mutable std::string shownKey_;
  mutable bool hasKey_ = false;

  Handler beforeInsert_, afterInsert_, beforePost_;
};

}  // namespace qor
