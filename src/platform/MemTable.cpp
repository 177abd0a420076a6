#include "platform/MemTable.h"

#include <algorithm>

#include "platform/GovException.h"
#include "platform/Text.h"

namespace qor {

namespace {

const std::string kEmpty;

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

TqorMemTable::TqorMemTable(std::string name) : name_(std::move(name)) {}

TqorMemTable::~TqorMemTable() {
  Unlink();
  for (TqorMemTable* d : details_) {
    d->master_ = nullptr;
    d->byKey_.clear();
    if (d->Active()) d->RebuildView();
  }
}

void TqorMemTable::RequireState(bool ok, const char* operation) const {
  if (!ok)
    throw EqorGovException(std::string("Operação ") + operation + " inválida na tabela " + name_ +
                           " em estado " + StateName(state_) + ".");
}

std::size_t TqorMemTable::AddField(const std::string& name, int size, bool required, bool visible,
                                   const std::string& displayLabel) {
  RequireState(state_ == TDataSetState::dsInactive, "AddField");
  if (name.empty()) throw EqorGovException("Nome de campo vazio na tabela " + name_ + ".");
  auto [it, added] = byName_.emplace(LowerCase(name), fields_.size());
  if (!added) throw EqorGovException("Campo " + name + " duplicado na tabela " + name_ + ".");
  fields_.push_back({name, size, required, visible, displayLabel.empty() ? name : displayLabel});
  return it->second;
}

int TqorMemTable::FindField(const std::string& name) const {
  auto it = byName_.find(LowerCase(name));
  return it == byName_.end() ? -1 : static_cast<int>(it->second);
}

std::size_t TqorMemTable::FieldByName(const std::string& name) const {
  int i = FindField(name);
  if (i < 0) throw EqorGovException("Campo " + name + " não encontrado na tabela " + name_ + ".");
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

const std::string* TqorMemTable::CurrentValue(std::size_t field) const {
  switch (state_) {
    case TDataSetState::dsInactive:
      return nullptr;
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return &pending_[field];
    case TDataSetState::dsBrowse:
      break;
  }
  Refresh();
  if (view_.empty()) return nullptr;
  return &records_[view_[cur_]][field];
}

const std::string& TqorMemTable::Value(std::size_t field) const {
  RequireState(state_ != TDataSetState::dsInactive, "de leitura");
  if (field >= fields_.size())
    throw EqorGovException("Índice de campo inválido na tabela " + name_ + ".");
  const std::string* v = CurrentValue(field);
  return v ? *v : kEmpty;
}

void TqorMemTable::SetValue(std::size_t field, const std::string& value) {
  RequireState(state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert, "de escrita");
  if (field >= fields_.size())
    throw EqorGovException("Índice de campo inválido na tabela " + name_ + ".");
  pending_[field] = value;
  NotifyDetails();
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
void TqorMemTable::Refresh() const {
  if (!stale_) return;
  stale_ = false;
  if (master_ == nullptr || state_ == TDataSetState::dsInactive) return;
  const std::string* key = master_->CurrentValue(masterField_);
  if (key == nullptr ? !hasKey_ : (hasKey_ && *key == shownKey_)) return;
  RebuildView();
}

bool TqorMemTable::Shows(const Record& r) const {
  return master_ == nullptr || (hasKey_ && r[keyField_] == shownKey_);
}

void TqorMemTable::RebuildView() const {
  stale_ = false;
  view_.clear();
  if (master_ == nullptr) {
    hasKey_ = false;
    view_.reserve(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) view_.push_back(i);
  } else {
    const std::string* key = master_->CurrentValue(masterField_);
    hasKey_ = key != nullptr;
    shownKey_ = key ? *key : std::string();
    if (hasKey_) {
      auto it = byKey_.find(shownKey_);
      if (it != byKey_.end()) view_ = it->second;
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
  records_.clear();
  byKey_.clear();
  pending_.clear();
  view_.clear();
  cur_ = 0;
  eof_ = true;
  state_ = TDataSetState::dsInactive;
  NotifyDetails();
}

void TqorMemTable::Empty() {
  RequireState(state_ != TDataSetState::dsInactive, "Empty");
  records_.clear();
  byKey_.clear();
  pending_.clear();
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
  pending_.assign(fields_.size(), std::string());
  if (master_ != nullptr) pending_[keyField_] = *master_->CurrentValue(masterField_);
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
  pending_ = records_[editIndex_];
  state_ = TDataSetState::dsEdit;
}

void TqorMemTable::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Refresh();
  pending_.clear();
  state_ = TDataSetState::dsBrowse;
  if (cur_ >= view_.size()) cur_ = 0;
  NotifyDetails();
}

void TqorMemTable::Post() {
  RequireState(state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert, "Post");
  if (beforePost_) beforePost_(*this);
  Refresh();
  if (state_ == TDataSetState::dsInsert) {
    std::size_t index = records_.size();
    records_.push_back(std::move(pending_));
    const Record& r = records_.back();
    if (master_ != nullptr) byKey_[r[keyField_]].push_back(index);
    if (Shows(r)) {
      view_.push_back(index);
      cur_ = view_.size() - 1;
      eof_ = false;
    }
  } else {
    Record& r = records_[editIndex_];
    if (master_ != nullptr && r[keyField_] != pending_[keyField_]) {
      auto& from = byKey_[r[keyField_]];
      from.erase(std::find(from.begin(), from.end(), editIndex_));
      auto& to = byKey_[pending_[keyField_]];
      to.insert(std::lower_bound(to.begin(), to.end(), editIndex_), editIndex_);
      r = std::move(pending_);
      RebuildView();  // the record left or joined the visible list
      auto pos = std::find(view_.begin(), view_.end(), editIndex_);
      if (pos != view_.end()) cur_ = static_cast<std::size_t>(pos - view_.begin());
    } else {
      r = std::move(pending_);
    }
  }
  pending_.clear();
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

// ---- master/detail ----

void TqorMemTable::Unlink() {
  if (master_ == nullptr) return;
  auto& ds = master_->details_;
  ds.erase(std::remove(ds.begin(), ds.end(), this), ds.end());
  master_ = nullptr;
  byKey_.clear();
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
  for (std::size_t i = 0; i < records_.size(); ++i) byKey_[records_[i][keyField_]].push_back(i);
  if (Active()) RebuildView();
}

}  // namespace qor
