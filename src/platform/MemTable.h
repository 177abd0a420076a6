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
// The stored records' values lie one record after another in one vector of strings, each record
// without its trailing empty values (so a record with no values takes no room). Append() and
// Edit() start a new record at the end of the store (Edit with a copy of the record's values);
// Post() makes it the record's values and Cancel() drops it, so Cancel restores the previous
// values and no operation copies the table. A value read (a reference) stays valid until the
// table's next Append, Edit, Post, Cancel, Empty or Close.
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
// the detail updates it incrementally (when the master may have moved since the last read, the
// list is recomputed at the next read instead, with the cursor on the posted record).
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
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qor {

// Hashes of names and key values for the lookup tables, over any text (std::string_view), so a
// lookup builds no copy: FNV-1a, an inline loop that costs less than a call to the library's hash
// for the short names and keys held here. TNoCaseHash and TNoCaseEqual ignore case (ASCII).
template <bool kIgnoreCase>
std::size_t Fnv1a(std::string_view text) {
  std::size_t hash = 14695981039346656037ull;
  for (char c : text) {
    if (kIgnoreCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}
struct TNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return Fnv1a<false>(text); }
};
struct TNoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return Fnv1a<true>(text); }
};
struct TNoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
template <typename T>
using TNameMap = std::unordered_map<std::string, T, TNameHash, std::equal_to<>>;
template <typename T>
using TNoCaseMap = std::unordered_map<std::string, T, TNoCaseHash, TNoCaseEqual>;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

struct TqorMemField {
  std::string name;
  int size = 0;
  bool required = false;
  bool visible = true;
  std::string displayLabel;  // the name when not given
};

// The declared fields of a table and their index by name (any case). Tables declared alike (the
// groups of every model read from one dictionary) share one list: a table copies it only when a
// field is added to a list it shares. Immutable while shared, so tables on any thread may share it.
struct TqorMemFields {
  std::vector<TqorMemField> list;
  TNoCaseMap<std::size_t> byName;
  // Declares a field; false (nothing changed) when the name (ignoring case) is declared already.
  bool Add(const std::string& name, int size, bool required, bool visible,
           const std::string& displayLabel);
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
  // Takes `fields` as the table's declared fields, shared with the other tables given them
  // (inactive only; replaces any declared before).
  void ShareFields(std::shared_ptr<const TqorMemFields> fields);
  std::size_t FieldCount() const { return fields_->list.size(); }
  const TqorMemField& Field(std::size_t index) const { return fields_->list.at(index); }
  // Index of the named field; -1 when unknown (FieldByName throws instead).
  int FindField(std::string_view name) const;
  std::size_t FieldByName(std::string_view name) const;

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
  // Records stored, those a master link hides included.
  std::size_t StoredCount() const { return records_.size(); }
  // A stored record's value, by storage order (0 .. StoredCount()-1), whatever the master shows.
  const std::string& StoredValue(std::size_t record, std::size_t field) const {
    const Span& r = records_.at(record);
    return field < r.size ? values_[r.start + field] : kEmptyText;
  }

  const std::string& Value(std::size_t field) const {
    RequireState(state_ != TDataSetState::dsInactive, "de leitura");
    if (field >= fields_->list.size()) ThrowFieldIndex();
    const std::string* v = CurrentValue(field);
    return v ? *v : kEmptyText;
  }
  const std::string& Value(std::string_view fieldName) const {
    return Value(FieldByName(fieldName));
  }
  // Whether every field from index `field` on is empty on the current record (true without one).
  bool EmptyFrom(std::size_t field) const;
  void SetValue(std::size_t field, std::string value);
  void SetValue(std::string_view fieldName, std::string value) {
    SetValue(FieldByName(fieldName), std::move(value));
  }

  // Links this table as a detail of `master` (nullptr unlinks). Both fields must exist.
  void SetMaster(TqorMemTable* master, const std::string& keyField, const std::string& masterField);
  TqorMemTable* Master() const { return master_; }
  // The linked fields (meaningful when Master() is set): this table's key field and the master's.
  std::size_t KeyField() const { return keyField_; }
  std::size_t MasterField() const { return masterField_; }

  void SetBeforeInsert(Handler h) { beforeInsert_ = std::move(h); }
  void SetAfterInsert(Handler h) { afterInsert_ = std::move(h); }
  void SetBeforePost(Handler h) { beforePost_ = std::move(h); }

 private:
  // A stored record: its values are values_[start, start + size); a field after them reads as
  // empty.
  struct Span {
    std::size_t start = 0;
    std::size_t size = 0;
  };
  // The record being inserted or edited is written at the end of values_, from pendingStart_,
  // up to its last field written.
  const std::string& PendingValue(std::size_t field) const {
    const std::size_t i = pendingStart_ + field;
    return i < values_.size() ? values_[i] : kEmptyText;
  }
  void BeginPending();
  // The pending record as stored: without its trailing empty values.
  Span EndPending();

  void RequireState(bool ok, const char* operation) const {
    if (!ok) ThrowState(operation);
  }
  [[noreturn]] void ThrowState(const char* operation) const;
  [[noreturn]] void ThrowFieldIndex() const;
  static const std::string kEmptyText;
  void CheckCanAppend() const;
  // Value of `field` on the current record (the pending one in edit/insert); null when there is
  // no current record. Inline: every value read goes through it.
  const std::string* CurrentValue(std::size_t field) const {
    switch (state_) {
      case TDataSetState::dsInactive:
        return nullptr;
      case TDataSetState::dsEdit:
      case TDataSetState::dsInsert:
        return &PendingValue(field);
      case TDataSetState::dsBrowse:
        break;
    }
    Refresh();
    return view_.empty() ? nullptr : &StoredValue(view_[cur_], field);
  }
  void NotifyDetails() const;
  void MarkStale() const;
  // Whether the master's current value is the one the view was built for.
  bool KeyUnchanged() const;
  // Brings the visible list up to date when the master may have moved (RefreshView).
  void Refresh() const {
    if (stale_) RefreshView();
  }
  void RefreshView() const;
  void RebuildView() const;
  void Unlink();
  bool Shows(std::size_t record) const;

  std::string name_;
  std::shared_ptr<const TqorMemFields> fields_;  // never null
  std::shared_ptr<TqorMemFields> ownFields_;     // fields_ when the table made it, else null
  TDataSetState state_ = TDataSetState::dsInactive;

  std::vector<std::string> values_;  // the stored records' values, one record after another
  std::vector<Span> records_;
  // The visible list of a detail is brought up to date when it is next read (Refresh), not at
  // every move of its master: walking a master's records then costs nothing for the details
  // nobody reads. `stale_` marks a master that may have moved since.
  mutable std::vector<std::size_t> view_;  // indexes into records_, in insertion order
  mutable std::size_t cur_ = 0;            // position in view_ (meaningful when view_ is not empty)
  mutable bool eof_ = true;
  mutable bool stale_ = false;
  // A post after the master moved to another value leaves the view pending: it is built for
  // shownKey_ when next read (unless the master has moved on again), with the cursor on the
  // posted record when it shows it.
  static constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);
  mutable bool viewPending_ = false;
  mutable std::size_t postedRecord_ = kNoRecord;
  std::size_t pendingStart_ = 0;
  std::size_t editIndex_ = 0;  // record being edited (index into records_)

  TqorMemTable* master_ = nullptr;
  std::size_t keyField_ = 0;
  std::size_t masterField_ = 0;
  std::vector<TqorMemTable*> details_;
  // Detail side: the record indexes per key value (KeyIndex), and the master value the view was
  // built for.
  class KeyIndex {
   public:
    // The records with `key`, in increasing order; null when none was ever added.
    const std::vector<std::size_t>* Find(std::string_view key) const;
    // The list of `key`, created empty when missing.
    std::vector<std::size_t>& Get(std::string_view key);
    void Clear();

   private:
    // Open addressing over a power-of-two number of slots (at most half of them used). A slot
    // keeps the room of its key and of its list when the index is cleared, so a detail filled
    // note after note stops allocating once it has held its largest note.
    struct Slot {
      bool used = false;
      std::size_t hash = 0;
      std::string key;
      std::vector<std::size_t> records;
    };
    std::size_t Position(std::string_view key, std::size_t hash) const;  // its slot or a free one
    void Grow();
    std::vector<Slot> slots_;
    std::vector<std::size_t> used_;  // positions of the used slots
  };
  KeyIndex byKey_;
  mutable std::string shownKey_;
  mutable bool hasKey_ = false;

  Handler beforeInsert_, afterInsert_, beforePost_;
};

}  // namespace qor
