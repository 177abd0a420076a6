#include "platform/DataSet.h"

#include <charconv>
#include <string_view>

#include "platform/GovException.h"

namespace qor {

namespace {

constexpr std::string_view kHeader = "QORDATA 1";

void AppendEscaped(std::string& out, const std::string& value) {
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

[[noreturn]] void Malformed(std::size_t line, const std::string& why) {
  throw EqorGovException("Dados do relatório inválidos na linha " + std::to_string(line) + ": " +
                         why);
}

// The record's values, unescaped; a value per tab-separated piece.
std::vector<std::string> SplitRecord(std::string_view text, std::size_t line) {
  std::vector<std::string> values(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\t') {
      values.emplace_back();
    } else if (c == '\\') {
      if (++i == text.size()) Malformed(line, "escape incompleto");
      switch (text[i]) {
        case '\\':
          values.back() += '\\';
          break;
        case 't':
          values.back() += '\t';
          break;
        case 'n':
          values.back() += '\n';
          break;
        case 'r':
          values.back() += '\r';
          break;
        default:
          Malformed(line, "escape desconhecido");
      }
    } else {
      values.back() += c;
    }
  }
  return values;
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace

std::string SerializeTDataSourceList(const std::vector<const TqorDataSet*>& sources) {
  std::string out(kHeader);
  out += '\n';
  for (const TqorDataSet* set : sources) {
    if (set == nullptr) continue;
    const TqorMemTable* master = set->Master();
    out += "DATASET " + set->Name() + ' ';
    if (master != nullptr) {
      out += master->Name() + ' ' + set->Field(set->KeyField()).name + ' ' +
             master->Field(set->MasterField()).name + '\n';
    } else {
      out += "- - -\n";
    }
    for (std::size_t f = 0; f < set->FieldCount(); ++f) {
      out += "FIELD " + set->Field(f).name + ' ' + std::to_string(set->Field(f).size) + '\n';
    }
    for (std::size_t r = 0; r < set->StoredCount(); ++r) {
      out += "RECORD ";
      for (std::size_t f = 0; f < set->FieldCount(); ++f) {
        if (f != 0) out += '\t';
        AppendEscaped(out, set->StoredValue(r, f));
      }
      out += '\n';
    }
    out += "END\n";
  }
  return out;
}

std::vector<std::unique_ptr<TqorDataSet>> DeserializeDataSourceList(const std::string& text) {
  std::vector<std::unique_ptr<TqorDataSet>> sets;
  struct Link {
    std::string master, key, masterField;
  } link;
  TqorDataSet* current = nullptr;
  bool fieldsDone = false;
  std::size_t lineNo = 0;
  std::size_t start = 0;
  const auto open = [&] {
    if (!fieldsDone) current->Open();
    fieldsDone = true;
  };
  // Records are read unlinked and the master link is made once, at END.
  const auto linkToMaster = [&] {
    if (link.master.empty()) return;
    TqorDataSet* master = nullptr;
    for (auto& s : sets) {
      if (s->Name() == link.master && s.get() != current) master = s.get();
    }
    if (master == nullptr || current->FindField(link.key) < 0 ||
        master->FindField(link.masterField) < 0) {
      Malformed(lineNo, "mestre " + link.master + " desconhecido");
    }
    current->SetMaster(master, link.key, link.masterField);
  };
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    ++lineNo;
    if (lineNo == 1) {
      if (line != kHeader) Malformed(lineNo, "cabeçalho ausente");
      continue;
    }
    if (line.starts_with("DATASET ")) {
      if (current != nullptr) Malformed(lineNo, "END ausente");
      const auto w = Words(line.substr(8));
      if (w.size() != 4 || w[0].empty()) Malformed(lineNo, "DATASET incompleto");
      sets.push_back(std::make_unique<TqorDataSet>(std::string(w[0])));
      current = sets.back().get();
      fieldsDone = false;
      link = w[1] == "-" ? Link{} : Link{std::string(w[1]), std::string(w[2]), std::string(w[3])};
    } else if (current != nullptr && line.starts_with("FIELD ")) {
      if (fieldsDone) Malformed(lineNo, "FIELD depois de RECORD");
      const auto w = Words(line.substr(6));
      int size = 0;
      if (w.size() != 2 || w[0].empty() ||
          std::from_chars(w[1].data(), w[1].data() + w[1].size(), size).ec != std::errc()) {
        Malformed(lineNo, "FIELD incompleto");
      }
      try {
        current->AddField(std::string(w[0]), size);
      } catch (const EqorGovException& e) {
        Malformed(lineNo, e.what());
      }
    } else if (current != nullptr && line.starts_with("RECORD ")) {
      open();
      std::vector<std::string> values = SplitRecord(line.substr(7), lineNo);
      if (values.size() != current->FieldCount()) Malformed(lineNo, "número de valores");
      current->Append();
      for (std::size_t f = 0; f < values.size(); ++f) current->SetValue(f, std::move(values[f]));
      current->Post();
    } else if (current != nullptr && line == "END") {
      open();
      linkToMaster();
      current = nullptr;
    } else {
      Malformed(lineNo, "linha desconhecida");
    }
  }
  if (lineNo == 0) Malformed(1, "cabeçalho ausente");
  if (current != nullptr) Malformed(lineNo, "END ausente");
  return sets;
}

}  // namespace qor
