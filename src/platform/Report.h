// The report engine behind TqorGovX's PrintReport, PreviewReport, ExportReport and EditReport:
// a layout (".rtm", ReportLayout.h) filled with the serialised data sets (DataSet.h) and the
// report variables gives a document of pages, one per record of Dados (one per note), made of
// blocks of finished text; the writers of ReportRender.h turn it into PDF, PNG, HTML or TXT.
//
// Every failure throws EqorGovException naming the file (layout, logo, target) or the printer.
// Files are written whole or not at all (SaveToFile): a failure leaves an older file of the same
// name as it was.
//
// Thread-safe: the functions share no state but the writers' font map (see ReportRender.h).
#pragma once

#include <string>
#include <vector>

#include "platform/ReportLayout.h"

namespace qor {

struct TPrintSettings;

namespace report {

// One finished piece of a page.
struct TBlock {
  enum class Kind { Text, Row, Line, Space, Qr, Logo };
  Kind kind = Kind::Text;
  TStyle style;
  std::string first;       // Text: the text (line breaks as LF); Row: left; Qr: the encoded text
  std::string second;      // Row: right
  double millimetres = 0;  // Qr: least width of the symbol; Logo: greatest width
};

struct TPage {
  std::vector<TBlock> blocks;
};

struct TDocument {
  std::vector<TPage> pages;
  double rollMillimetres = 80;       // 80 or 58
  double printableMillimetres = 72;  // 72 on the 80 mm roll, 48 on the 58 mm one
  double fontSize = 7.5;             // points
  bool mono = false;
  std::string logoFile;  // PNG; empty: none
};

// Fills `layout` with the data of `reportData` (SerializeTDataSourceList's text) and
// `variables` ("name=value" lines; LarguraBobina chooses the roll). A reference to a set or a
// field the data does not have throws naming the layout file and line.
TDocument Evaluate(const TLayout& layout, const std::string& reportData,
                   const std::string& variables, const std::string& logoFile);

// The file formats of TPrintSettings::ExportFormat.
enum class TFormat { Pdf = 1, Html = 2, Txt = 3, Png = 4 };

// The report of `settings` (layout TemplateFile, data ReportData, Variables, LogoFile) in
// `format`, as the bytes of the file.
std::string Render(const TPrintSettings& settings, TFormat format);

void Print(const TPrintSettings& settings);
std::string Preview(const TPrintSettings& settings, const std::string& folder);
void Export(const TPrintSettings& settings);
void Edit(const TPrintSettings& settings);

}  // namespace report
}  // namespace qor
