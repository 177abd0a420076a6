#include "platform/Report.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include "platform/ChildProcess.h"
#include "platform/DataSet.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/ReportRender.h"
#include "platform/TStrings.h"
#include "platform/Text.h"

namespace qor::report {

namespace {

std::string NormaliseBreaks(std::string text) {
  if (text.find('\r') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string GroupKey(const std::string& value) {
  std::string out;
  int digits = 0;
  for (char c : value) {
    if (c < '0' || c > '9') continue;
    if (digits > 0 && digits % 4 == 0) out += ' ';
    out += c;
    ++digits;
  }
  return out;
}

// A zero amount ("0,00", "0.000,00", "-0,00") or empty.
bool IsZero(const std::string& value) {
  for (char c : value) {
    if (c != '0' && c != ',' && c != '.' && c != '-' && c != ' ') return false;
  }
  return true;
}

class TEvaluator {
 public:
  TEvaluator(const TLayout& layout, const std::string& reportData, const std::string& variables)
      : layout_(layout), sets_(DeserializeDataSourceList(reportData)) {
    vars_.SetText(variables);
    dados_ = FindSet("Dados");
    if (dados_ == nullptr) {
      throw EqorGovException("Dados do relatório sem o conjunto Dados: " + layout.file);
    }
    dadosKey_ = dados_->FindField("nNF");
    Check(layout.body, nullptr);
  }

  const TStrings& Variables() const { return vars_; }

  std::vector<TPage> Pages() {
    std::vector<TPage> pages;
    for (std::size_t r = 0; r < dados_->StoredCount(); ++r) {
      record_ = r;
      note_ = dadosKey_ >= 0 ? dados_->StoredValue(r, static_cast<std::size_t>(dadosKey_)) : "";
      pages.emplace_back();
      Run(layout_.body, pages.back().blocks);
    }
    return pages;
  }

 private:
  struct TCursor {
    const TqorDataSet* set;
    std::size_t record;
  };

  const TqorDataSet* FindSet(const std::string& name) const {
    for (const auto& s : sets_) {
      if (SameText(s->Name(), name)) return s.get();
    }
    return nullptr;
  }

  [[noreturn]] void Unknown(const TNode& node, const std::string& what) const {
    throw EqorGovException(
        Format("Modelo de relatório inválido: %s, linha %d: %s", {layout_.file, node.line, what}));
  }

  void CheckPiece(const TNode& node, const TPiece& p, const TqorDataSet* band) const {
    if (p.kind != TPiece::Kind::Field) return;
    if (!p.set.empty()) {
      const TqorDataSet* set = FindSet(p.set);
      if (set == nullptr) Unknown(node, "conjunto de dados desconhecido \"" + p.set + "\"");
      if (set != dados_ && set->FindField("nNF") < 0) {
        Unknown(node, "conjunto de dados \"" + p.set + "\" sem o campo nNF");
      }
      if (set->FindField(p.field) < 0) {
        Unknown(node, "campo desconhecido \"" + p.set + "." + p.field + "\"");
      }
      return;
    }
    if (band != nullptr && band->FindField(p.field) >= 0) return;
    if (dados_->FindField(p.field) < 0) Unknown(node, "campo desconhecido \"" + p.field + "\"");
  }

  void Check(const std::vector<TNode>& nodes, const TqorDataSet* band) const {
    for (const TNode& node : nodes) {
      for (const TPiece& p : node.first) CheckPiece(node, p, band);
      for (const TPiece& p : node.second) CheckPiece(node, p, band);
      if (node.kind == TNode::Kind::If) CheckPiece(node, node.condition.operand, band);
      const TqorDataSet* inner = band;
      if (node.kind == TNode::Kind::Band) {
        inner = FindSet(node.set);
        if (inner == nullptr) Unknown(node, "conjunto de dados desconhecido \"" + node.set + "\"");
        if (inner->FindField("nNF") < 0) {
          Unknown(node, "conjunto de dados \"" + node.set + "\" sem o campo nNF");
        }
      }
      Check(node.children, inner);
      Check(node.elseChildren, inner);
    }
  }

  // The records of a detail set that belong to the current note (indexed once per set).
  const std::vector<std::size_t>& RecordsOf(const TqorDataSet* set) {
    auto it = index_.find(set->Name());
    if (it == index_.end()) {
      TNameMap<std::vector<std::size_t>> byNote;
      const std::size_t key = set->FieldByName("nNF");
      for (std::size_t r = 0; r < set->StoredCount(); ++r) {
        byNote[set->StoredValue(r, key)].push_back(r);
      }
      it = index_.emplace(set->Name(), std::move(byNote)).first;
    }
    static const std::vector<std::size_t> kNone;
    const auto found = it->second.find(note_);
    return found == it->second.end() ? kNone : found->second;
  }

  std::string Value(const TPiece& p) {
    std::string value;
    if (p.kind == TPiece::Kind::Literal) return p.text;
    if (p.kind == TPiece::Kind::Variable) {
      value = vars_.Values(p.text);
    } else if (!p.set.empty()) {
      const TqorDataSet* set = FindSet(p.set);
      if (set == dados_) {
        value = dados_->StoredValue(record_, dados_->FieldByName(p.field));
      } else if (!bands_.empty() && bands_.back().set == set) {
        value = set->StoredValue(bands_.back().record, set->FieldByName(p.field));
      } else {
        const auto& records = RecordsOf(set);
        if (!records.empty()) value = set->StoredValue(records.front(), set->FieldByName(p.field));
      }
    } else if (!bands_.empty() && bands_.back().set->FindField(p.field) >= 0) {
      value = bands_.back().set->StoredValue(bands_.back().record,
                                             bands_.back().set->FieldByName(p.field));
    } else {
      value = dados_->StoredValue(record_, dados_->FieldByName(p.field));
    }
    if (p.filter == "chave") return GroupKey(value);
    return NormaliseBreaks(std::move(value));
  }

  std::string Fill(const TTemplate& t) {
    std::string out;
    for (const TPiece& p : t) out += Value(p);
    return out;
  }

  bool Holds(const TCondition& c) {
    const std::string v = Value(c.operand);
    switch (c.op) {
      case TCondition::Op::Filled:
        return !Trim(v).empty();
      case TCondition::Op::Empty:
        return Trim(v).empty();
      case TCondition::Op::Equal:
        return v == c.value;
      case TCondition::Op::NotEqual:
        return v != c.value;
      case TCondition::Op::NonZero:
        return !IsZero(v);
    }
    return false;
  }

  void Run(const std::vector<TNode>& nodes, std::vector<TBlock>& out) {
    for (const TNode& node : nodes) {
      TBlock block;
      block.style = node.style;
      block.millimetres = node.millimetres;
      switch (node.kind) {
        case TNode::Kind::Band: {
          const TqorDataSet* set = FindSet(node.set);
          const std::vector<std::size_t> records = RecordsOf(set);
          for (std::size_t r : records) {
            bands_.push_back({set, r});
            Run(node.children, out);
            bands_.pop_back();
          }
          continue;
        }
        case TNode::Kind::If:
          Run(Holds(node.condition) ? node.children : node.elseChildren, out);
          continue;
        case TNode::Kind::Text:
          block.kind = TBlock::Kind::Text;
          break;
        case TNode::Kind::Row:
          block.kind = TBlock::Kind::Row;
          break;
        case TNode::Kind::Line:
          block.kind = TBlock::Kind::Line;
          break;
        case TNode::Kind::Space:
          block.kind = TBlock::Kind::Space;
          break;
        case TNode::Kind::Qr:
          block.kind = TBlock::Kind::Qr;
          break;
        case TNode::Kind::Logo:
          block.kind = TBlock::Kind::Logo;
          break;
      }
      block.first = Fill(node.first);
      block.second = Fill(node.second);
      // An empty QR code would be a symbol of nothing: leave it out.
      if (block.kind == TBlock::Kind::Qr && block.first.empty()) continue;
      out.push_back(std::move(block));
    }
  }

  const TLayout& layout_;
  std::vector<std::unique_ptr<TqorDataSet>> sets_;
  TStrings vars_;
  const TqorDataSet* dados_ = nullptr;
  int dadosKey_ = -1;
  std::size_t record_ = 0;
  std::string note_;
  std::vector<TCursor> bands_;
  TNameMap<TNameMap<std::vector<std::size_t>>> index_;
};

const char* Extension(TFormat format) {
  switch (format) {
    case TFormat::Pdf:
      return "PDF";
    case TFormat::Html:
      return "HTML";
    case TFormat::Txt:
      return "TXT";
    case TFormat::Png:
      return "PNG";
  }
  return "";
}

// Runs `args` (lp and its arguments, no shell) and waits; a failure throws with what lp wrote on
// stderr.
void RunLp(const std::vector<std::string>& args, const std::string& printer) {
  const std::string who = printer.empty() ? "padrão" : printer;
  const TProcessResult result = RunProcess(args);
  if (result.spawnError != 0) {
    throw EqorGovException(Format("Falha ao imprimir na impressora %s: lp não executou (%s)",
                                  {who, std::strerror(result.spawnError)}));
  }
  if (!result.succeeded) {
    throw EqorGovException(
        Format("Falha ao imprimir na impressora %s: %s",
               {who, QuoteForMessage(result.errors.empty() ? "lp falhou" : result.errors, 1000)}));
  }
}

}  // namespace

TDocument Evaluate(const TLayout& layout, const std::string& reportData,
                   const std::string& variables, const std::string& logoFile) {
  TEvaluator evaluator(layout, reportData, variables);
  TDocument doc;
  doc.rollMillimetres = Trim(evaluator.Variables().Values("LarguraBobina")) == "58" ? 58 : 80;
  doc.printableMillimetres = doc.rollMillimetres == 58 ? 48 : 72;
  doc.fontSize = layout.fontSize;
  doc.mono = layout.mono;
  doc.logoFile = logoFile;
  doc.pages = evaluator.Pages();
  return doc;
}

std::string Render(const TPrintSettings& settings, TFormat format) {
  const TLayout layout = LoadLayout(NativePath(settings.TemplateFile));
  const TDocument doc =
      Evaluate(layout, settings.ReportData, settings.Variables, NativePath(settings.LogoFile));
  if (doc.pages.empty()) {
    throw EqorGovException("Dados do relatório sem nenhuma nota: " + layout.file);
  }
  switch (format) {
    case TFormat::Pdf:
      return RenderPdf(doc);
    case TFormat::Png:
      return RenderPng(doc);
    case TFormat::Html:
      return RenderHtml(doc);
    case TFormat::Txt:
      return RenderTxt(doc);
  }
  throw EqorGovException(Format("Formato de exportação inválido: %d", {static_cast<int>(format)}));
}

void Export(const TPrintSettings& settings) {
  if (settings.ExportFormat < 1 || settings.ExportFormat > 4) {
    throw EqorGovException(Format("Formato de exportação inválido: %d", {settings.ExportFormat}));
  }
  if (settings.SaveAs.empty()) throw EqorGovException("Arquivo de exportação não informado.");
  const auto format = static_cast<TFormat>(settings.ExportFormat);
  const std::string bytes = Render(settings, format);
  try {
    SaveToFile(NativePath(settings.SaveAs), bytes);
  } catch (const EqorGovException& e) {
    throw EqorGovException(Format("Falha ao exportar o relatório (%s) para %s: %s",
                                  {Extension(format), settings.SaveAs, e.what()}));
  }
}

namespace {

// A new file of `dir` named `prefix` + 8 random characters + `extension`, holding `bytes`.
std::string NewFile(const std::string& dir, const std::string& prefix, const std::string& extension,
                    const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
    const std::string path = dir + name + extension;
    if (CreateNewFile(path, bytes)) return path;
  }
  throw EqorGovException("Não foi possível criar um arquivo em " + dir);
}

}  // namespace

std::string Preview(const TPrintSettings& settings, const std::string& folder) {
  const std::string bytes = Render(settings, TFormat::Png);
  const std::string dir = IncludeTrailingSlash(NativePath(folder.empty() ? "." : folder));
  if (!DirectoryExists(dir)) throw EqorGovException("Pasta de visualização não encontrada: " + dir);
  return NewFile(dir, "danfce-preview-", ".png", bytes);
}

void Print(const TPrintSettings& settings) {
  const std::string path = NewFile(GetTempDir(), "danfce-", ".pdf", Render(settings, TFormat::Pdf));
  // The file goes whatever happens to the printing.
  struct TRemove {
    std::string path;
    ~TRemove() { ::unlink(path.c_str()); }
  } remove{path};
  std::vector<std::string> args{"lp"};
  if (!settings.PrinterName.empty()) {
    args.push_back("-d");
    args.push_back(settings.PrinterName);
  }
  args.push_back("-n");
  args.push_back(std::to_string(settings.Copies < 1 ? 1 : settings.Copies));
  args.push_back("--");
  args.push_back(path);
  RunLp(args, settings.PrinterName);
}

void Edit(const TPrintSettings& settings) {
  const TLayout layout = LoadLayout(NativePath(settings.TemplateFile));
  // With data at hand the names the layout uses are checked too.
  if (!settings.ReportData.empty()) {
    Evaluate(layout, settings.ReportData, settings.Variables, settings.LogoFile);
  }
}

}  // namespace qor::report
