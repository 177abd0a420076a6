// The report layout: what a ".rtm" file says, read into a tree (the language is described at
// the top of ReportLayout.cpp and in the README, section "DANFCE layouts").
//
// ParseLayout only reads the text; which data sets and fields exist is known when the layout
// meets its data (ReportEvaluate), which refuses unknown names with the file and line.
// Failures throw EqorGovException naming the file and the line.
//
// Thread-safe: pure functions; a TLayout is a plain value.
#pragma once

#include <string>
#include <vector>

namespace qor::report {

enum class TAlign { Left, Center, Right };

struct TStyle {
  TAlign align = TAlign::Left;
  bool bold = false;
  bool mono = false;
  double size = 0;  // points; 0 = the layout's default size
};

// A text with substitutions: literal pieces and references to fields or variables.
struct TPiece {
  enum class Kind { Literal, Field, Variable };
  Kind kind = Kind::Literal;
  std::string text;    // the literal, or the variable's name
  std::string set;     // the data set of a field ("" = the band's set, then Dados)
  std::string field;   // the field's name
  std::string filter;  // "" or "chave" (digits in groups of four)
};
using TTemplate = std::vector<TPiece>;

struct TCondition {
  enum class Op { Filled, Empty, Equal, NotEqual, NonZero };
  TPiece operand;  // one field or variable
  Op op = Op::Filled;
  std::string value;  // for Equal / NotEqual
};

struct TNode {
  enum class Kind { Text, Row, Line, Space, Qr, Logo, Band, If };
  Kind kind = Kind::Text;
  int line = 0;  // in the layout file
  TStyle style;
  TTemplate first;                  // Text: the text; Row: the left text; Qr: the encoded text
  TTemplate second;                 // Row: the right text
  double millimetres = 0;           // Qr: least width of the symbol; Logo: greatest width
  std::string set;                  // Band: the detail set it repeats over
  TCondition condition;             // If
  std::vector<TNode> children;      // Band and If bodies
  std::vector<TNode> elseChildren;  // If: the "else" part
};

struct TLayout {
  std::string file;
  double fontSize = 7.5;  // points
  bool mono = false;      // default font DejaVu Sans Mono instead of DejaVu Sans
  std::vector<TNode> body;
};

// Reads the layout text of `file` (named in messages).
TLayout ParseLayout(const std::string& text, const std::string& file);
// Reads and parses `file`; a missing or unreadable file throws naming it.
TLayout LoadLayout(const std::string& file);

}  // namespace qor::report
