#include "platform/MemTable.h"

#include <algorithm>

#include "platform/GovException.h"
#include "platform/Text.h"

namespace qor {

namespace {

const char* StateName(TDataSetState s) {
  switch (s) {
    case TDataSetState::dsInactive:
      return "inativa";
    case TDataSetState::dsBrowse:
      return "navegação";
    case TDataSetState::dsEdit:
      return "edição";
    case TDataSetState::dsInsert:
      return "inclusão";
  }
  return "?";
}

}  // namespace

bool TNoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  return SameText(a, b);
}

const std::string TqorMemTable::kEmptyText;

void TqorMemTable::BeginPending() {
  pendingStart_ = values_.size();
  // Room for every field, so writing the record does not move the values read from it.
  const std::size_t needed = pendingStart_ + fields_->list.size();
  if (values_.capacity() < needed) values_.reserve(std::max(needed, 2 * values_.capacity()));
}

// ---- key index ----

std::size_t TqorMemTable::KeyIndex::Position(std::string_view key, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].used && !(slots_[i].hash == hash && slots_[i].key == key)) i = (i + 1) & mask;
  return i;
}

const std::vector<std::size_t>* TqorMemTable::KeyIndex::Find(std::string_view key) const {
  if (used_.empty()) return nullptr;
  const Slot& slot = slots_[Position(key, TNameHash{}(key))];
  return slot.used ? &slot.records : nullptr;
}

std::vector<std::size_t>& TqorMemTable::KeyIndex::Get(std::string_view key) {
  if (2 * (used_.size() + 1) > slots_.size()) Grow();
  const std::size_t hash = TNameHash{}(key);
  const std::size_t i = Position(key, hash);
  Slot& slot = slots_[i];
  if (!slot.used) {
    slot.used = true;
    slot.hash = hash;
    slot.key.assign(key);
    slot.records.clear();
    used_.push_back(i);
  }
  return slot.records;
}

void TqorMemTable::KeyIndex::Clear() {
  for (std::size_t i : used_) slots_[i].used = false;
  used_.clear();
}

void TqorMemTable::KeyIndex::Grow() {
  std::vector<Slot> old(std::max<std::size_t>(16, 2 * slots_.size()));
  old.swap(slots_);
  std::vector<std::size_t> wasUsed;
  wasUsed.swap(used_);
  for (std::size_t from : wasUsed) {
    Slot& slot = old[from];
    const std::size_t to = Position(slot.key, slot.hash);
    slots_[to] = std::move(slot);
    used_.push_back(to);
  }
}

// ---- records ----

TqorMemTable::Span TqorMemTable::EndPending() {
  while (values_.size() > pendingStart_ && values_.back().empty()) values_.pop_back();
  return {pendingStart_, values_.size() - pendingStart_};
}

namespace {

const std::shared_ptr<const TqorMemFields>& NoFields() {
  static const auto kNone = std::make_shared<const TqorMemFields>();
  return kNone;
}

}  // namespace

bool TqorMemFields::Add(const std::string& name, int size, bool required, bool visible,
                        const std::string& displayLabel) {
  if (!byName.emplace(name, list.size()).second) return false;
  list.push_back({name, size, required, visible, displayLabel.empty() ? name : displayLabel});
  return true;
}

TqorMemTable::TqorMemTable(std::string name) : name_(std::move(name)), fields_(NoFields()) {}

TqorMemTable::~TqorMemTable() {
  Unlink();
  for (TqorMemTable* d : details_) {
    d->master_ = nullptr;
    d->byKey_.Clear();
    if (d->Active()) d->RebuildView();
  }
}

void TqorMemTable::ThrowFieldIndex() const {
  throw EqorGovException("Índice de campo inválido na tabela " + name_ + ".");
}

void TqorMemTable::ThrowState(const char* operation) const {
  throw EqorGovException(std::string("Operação ") + operation + " inválida na tabela " + name_ +
                         " em estado " + StateName(state_) + ".");
}

std::size_t TqorMemTable::AddField(const std::string& name, int size, bool required, bool visible,
                                   const std::string& displayLabel) {
  RequireState(state_ == TDataSetState::dsInactive, "AddField");
  if (name.empty()) throw EqorGovException("Nome de campo vazio na tabela " + name_ + ".");
  if (fields_->byName.count(name) != 0) {
    throw EqorGovException("Campo " + name + " duplicado na tabela " + name_ + ".");
  }
  // A list the table did not make (shared, or the empty one every table starts with) is copied
  // before its first change.
  if (!ownFields_) {
    ownFields_ = std::make_shared<TqorMemFields>(*fields_);
    fields_ = ownFields_;
  }
  ownFields_->Add(name, size, required, visible, displayLabel);
  return ownFields_->list.size() - 1;
}

void TqorMemTable::ShareFields(std::shared_ptr<const TqorMemFields> fields) {
  RequireState(state_ == TDataSetState::dsInactive, "ShareFields");
  fields_ = fields ? std::move(fields) : NoFields();
  ownFields_.reset();
}

int TqorMemTable::FindField(std::string_view name) const {
  auto it = fields_->byName.find(name);
  return it == fields_->byName.end() ? -1 : static_cast<int>(it->second);
}

std::size_t TqorMemTable::FieldByName(std::string_view name) const {
  int i = FindField(name);
  if (i < 0)
    throw EqorGovException("Campo " + std::string(name) + " não encontrado na tabela " + name_ +
                           ".");
  return static_cast<std::size_t>(i);
}

// ---- cursor and master value ----

bool TqorMemTable::Eof() const {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return false;
  Refresh();
  return view_.empty() || eof_;
}

std::size_t TqorMemTable::RecordCount() const {
  Refresh();
  return view_.size();
}

bool TqorMemTable::EmptyFrom(std::size_t field) const {
  switch (state_) {
    case TDataSetState::dsInactive:
      return true;
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      for (std::size_t i = pendingStart_ + field; i < values_.size(); ++i) {
        if (!values_[i].empty()) return false;
      }
      return true;
    case TDataSetState::dsBrowse:
      break;
  }
  Refresh();
  // A stored record ends with its last value not empty.
  return view_.empty() || records_[view_[cur_]].size <= field;
}

void TqorMemTable::SetValue(std::size_t field, std::string value) {
  RequireState(state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert, "de escrita");
  if (field >= fields_->list.size()) ThrowFieldIndex();
  const std::size_t i = pendingStart_ + field;
  if (i >= values_.size()) values_.resize(i + 1);
  values_[i] = std::move(value);
  // Only the details linked through this field can show other records now.
  for (TqorMemTable* d : details_) {
    if (d->masterField_ == field) d->MarkStale();
  }
}

// A move of this table (or a change of its current values) may change what its details show;
// they find out when they are next read.
void TqorMemTable::NotifyDetails() const {
  for (TqorMemTable* d : details_) d->MarkStale();
}

void TqorMemTable::MarkStale() const {
  stale_ = true;
  NotifyDetails();
}

// Each detail compares the master value its view was built for with the current one, so a move
// that keeps the value (a post, an edit of another field) keeps the view and its cursor.
bool TqorMemTable::KeyUnchanged() const {
  const std::string* key = master_->CurrentValue(masterField_);
  return key == nullptr ? !hasKey_ : (hasKey_ && *key == shownKey_);
}

void TqorMemTable::RefreshView() const {
  stale_ = false;
  if (master_ == nullptr || state_ == TDataSetState::dsInactive) return;
  const bool sameKey = KeyUnchanged();
  if (sameKey && !viewPending_) return;
  const std::size_t posted = sameKey ? postedRecord_ : kNoRecord;
  RebuildView();
  // A record posted while the view was pending: the cursor is on it when the view shows it.
  if (posted != kNoRecord && !view_.empty() && view_.back() == posted) {
    cur_ = view_.size() - 1;
    eof_ = false;
  }
}

bool TqorMemTable::Shows(std::size_t record) const {
  return master_ == nullptr || (hasKey_ && StoredValue(record, keyField_) == shownKey_);
}

void TqorMemTable::RebuildView() const {
  stale_ = false;
  viewPending_ = false;
  postedRecord_ = kNoRecord;
  view_.clear();
  if (master_ == nullptr) {
    hasKey_ = false;
    view_.reserve(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) view_.push_back(i);
  } else {
    const std::string* key = master_->CurrentValue(masterField_);
    hasKey_ = key != nullptr;
    if (key) {
      shownKey_ = *key;
    } else {
      shownKey_.clear();
    }
    if (hasKey_) {
      if (const std::vector<std::size_t>* records = byKey_.Find(shownKey_)) {
        view_.assign(records->begin(), records->end());
      }
    }
  }
  cur_ = 0;
  eof_ = view_.empty();
  NotifyDetails();
}

// ---- state transitions ----

void TqorMemTable::Open() {
  RequireState(state_ == TDataSetState::dsInactive, "Open");
  state_ = TDataSetState::dsBrowse;
  RebuildView();
}

void TqorMemTable::Close() {
  if (state_ == TDataSetState::dsInactive) return;
  viewPending_ = false;
  postedRecord_ = kNoRecord;
  values_.clear();
  records_.clear();
  byKey_.Clear();
  view_.clear();
  cur_ = 0;
  eof_ = true;
  state_ = TDataSetState::dsInactive;
  NotifyDetails();
}

void TqorMemTable::Empty() {
  RequireState(state_ != TDataSetState::dsInactive, "Empty");
  values_.clear();
  records_.clear();
  byKey_.Clear();
  state_ = TDataSetState::dsBrowse;
  RebuildView();
}

void TqorMemTable::First() {
  RequireState(state_ == TDataSetState::dsBrowse, "First");
  Refresh();
  cur_ = 0;
  eof_ = view_.empty();
  NotifyDetails();
}

void TqorMemTable::Next() {
  RequireState(state_ == TDataSetState::dsBrowse, "Next");
  Refresh();
  if (cur_ + 1 < view_.size()) {
    ++cur_;
    eof_ = false;
    NotifyDetails();
  } else {
    eof_ = true;
  }
}

// An orphan detail record would be stored under no master and never be seen again.
void TqorMemTable::CheckCanAppend() const {
  RequireState(state_ == TDataSetState::dsBrowse, "Append");
  if (master_ != nullptr && master_->CurrentValue(masterField_) == nullptr)
    throw EqorGovException("Tabela " + master_->name_ + " sem registro corrente para incluir em " +
                           name_ + ".");
}

void TqorMemTable::Append() {
  CheckCanAppend();
  if (beforeInsert_) {
    beforeInsert_(*this);
    CheckCanAppend();  // the handler may have moved this table or its master
  }
  BeginPending();
  if (master_ != nullptr) {
    values_.resize(pendingStart_ + keyField_ + 1);
    values_.back() = *master_->CurrentValue(masterField_);
  }
  state_ = TDataSetState::dsInsert;
  NotifyDetails();
  if (afterInsert_) {
    try {
      afterInsert_(*this);
    } catch (...) {
      Cancel();
      throw;
    }
  }
}

void TqorMemTable::Edit() {
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  Refresh();
  RequireState(state_ == TDataSetState::dsBrowse && !view_.empty(), "Edit");
  editIndex_ = view_[cur_];
  BeginPending();
  const Span r = records_[editIndex_];
  for (std::size_t i = 0; i < r.size; ++i) values_.push_back(values_[r.start + i]);
  state_ = TDataSetState::dsEdit;
}

void TqorMemTable::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Refresh();
  values_.resize(pendingStart_);
  state_ = TDataSetState::dsBrowse;
  if (cur_ >= view_.size()) cur_ = 0;
  NotifyDetails();
}

void TqorMemTable::Post() {
  RequireState(state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert, "Post");
  if (beforePost_) beforePost_(*this);
  if (state_ == TDataSetState::dsInsert) {
    if (stale_ && master_ != nullptr) {
      // The master may have moved. Under the same value the view stands; under another, it is
      // rebuilt for that value when next read, as if rebuilt now (the cursor then on the new
      // record when it shows it).
      if (!KeyUnchanged()) {
        const std::string* key = master_->CurrentValue(masterField_);
        hasKey_ = key != nullptr;
        shownKey_ = key ? *key : std::string();
        viewPending_ = true;
        postedRecord_ = kNoRecord;
      } else if (!viewPending_) {
        stale_ = false;
      }
    }
    const std::size_t index = records_.size();
    records_.push_back(EndPending());
    if (master_ != nullptr) byKey_.Get(StoredValue(index, keyField_)).push_back(index);
    if (viewPending_) {
      if (Shows(index)) postedRecord_ = index;
    } else if (Shows(index)) {
      view_.push_back(index);
      cur_ = view_.size() - 1;
      eof_ = false;
    }
  } else {
    Refresh();
    const bool keyChanged =
        master_ != nullptr && StoredValue(editIndex_, keyField_) != PendingValue(keyField_);
    if (keyChanged) {
      std::vector<std::size_t>& from = byKey_.Get(StoredValue(editIndex_, keyField_));
      from.erase(std::find(from.begin(), from.end(), editIndex_));
      std::vector<std::size_t>& to = byKey_.Get(PendingValue(keyField_));
      to.insert(std::lower_bound(to.begin(), to.end(), editIndex_), editIndex_);
    }
    // The record's values are now the edited ones; the old ones are released.
    Span& r = records_[editIndex_];
    for (std::size_t i = 0; i < r.size; ++i) std::string().swap(values_[r.start + i]);
    r = EndPending();
    if (keyChanged) {
      RebuildView();  // the record left or joined the visible list
      auto pos = std::find(view_.begin(), view_.end(), editIndex_);
      if (pos != view_.end()) cur_ = static_cast<std::size_t>(pos - view_.begin());
    }
  }
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

// ---- master/detail ----

void TqorMemTable::Unlink() {
  if (master_ == nullptr) return;
  auto& ds = master_->details_;
  ds.erase(std::remove(ds.begin(), ds.end(), this), ds.end());
  master_ = nullptr;
  byKey_.Clear();
}

void TqorMemTable::SetMaster(TqorMemTable* master, const std::string& keyField,
                             const std::string& masterField) {
  if (master == nullptr) {
    Unlink();
    if (Active()) RebuildView();
    return;
  }
  std::size_t key = FieldByName(keyField);
  std::size_t mfield = master->FieldByName(masterField);
  for (TqorMemTable* m = master; m != nullptr; m = m->master_)
    if (m == this)
      throw EqorGovException("Ligação mestre/detalhe circular na tabela " + name_ + ".");
  Unlink();
  master_ = master;
  keyField_ = key;
  masterField_ = mfield;
  master->details_.push_back(this);
  for (std::size_t i = 0; i < records_.size(); ++i) {
    byKey_.Get(StoredValue(i, keyField_)).push_back(i);
  }
  if (Active()) RebuildView();
}

}  // namespace qor
