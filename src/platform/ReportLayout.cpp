// The DANFCE layout language (".rtm" files). One statement per line; blank lines and lines
// whose first non-blank character is '#' are ignored. A statement is a keyword followed by
// words and quoted texts ("..." with \" \\ and \n as escapes).
//
// The page is the roll: as wide as the report variable LarguraBobina says (80 or 58 mm; 72 or
// 48 mm printable) and as tall as its content. One page is made per record of the data set
// Dados (one per note); the statements are read top to bottom for each.
//
//   font sans|mono            default font of the page (DejaVu Sans / DejaVu Sans Mono)
//   size N                    default font size in points (7.5 when not given)
//   text [opts] "T"           a paragraph, wrapped at the page width
//   row [opts] "L" "R"        L on the left and R on the right of the same line (L wraps
//                             before it meets R; R goes under L when both do not fit)
//   line                      a dashed separator across the page
//   space                     an empty line
//   qr [width=MM] "T"         a QR code (level M) of the text T, at least MM wide (25)
//   logo [width=MM]           the logo image (the print settings' LogoFile; nothing when
//                             empty), at most MM wide (40)
//   band SET ... end          the statements inside, once per record of the data set SET whose
//                             nNF is the note's
//   if REF OP ["V"] ... [else ...] end
//                             the statements inside only when the condition holds. OP is
//                             filled (not empty), empty, = "V", != "V", nonzero (not empty and
//                             not a zero amount such as "0,00")
//
//   opts: left | center | right, bold, mono, size=N (points)
//
// Texts T, L, R and V hold substitutions: {Field} (inside a band the band's set first, then
// Dados), {Set.Field} (outside its band: the first record of Set for the note), {$Variable}
// (a report variable; empty when not given), and {Field|chave} for the digits of the field in
// groups of four ("3523 0512 ..."). "{{" and "}}" stand for braces. REF in a condition is
// the same reference without braces (Field, Set.Field, $Variable).
//
// Fields and sets are checked against the data when the report is made, so an unknown name is
// reported even in a part that the data would not show.
#include "platform/ReportLayout.h"

#include <cctype>
#include <cstdlib>

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"

namespace qor::report {

namespace {

struct TToken {
  std::string text;
  bool quoted = false;
};

class TParser {
 public:
  TParser(const std::string& text, const std::string& file) : text_(text), file_(file) {}

  TLayout Run() {
    TLayout layout;
    layout.file = file_;
    std::vector<std::vector<TNode>*> stack{&layout.body};
    std::vector<TNode*> open;  // the band / if statements waiting for their "end"
    std::vector<bool> inElse;
    std::size_t pos = 0;
    while (pos <= text_.size()) {
      std::size_t end = text_.find('\n', pos);
      if (end == std::string::npos) end = text_.size();
      std::string line = text_.substr(pos, end - pos);
      pos = end + 1;
      ++lineNo_;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<TToken> words = Tokens(line);
      if (words.empty() || (!words[0].quoted && words[0].text[0] == '#')) continue;
      if (words[0].quoted) Fail("instrução esperada no início da linha");
      const std::string keyword = words[0].text;
      words.erase(words.begin());
      if (keyword == "end") {
        if (open.empty()) Fail("\"end\" sem \"band\" ou \"if\"");
        NoMore(words, 0);
        open.pop_back();
        inElse.pop_back();
        stack.pop_back();
        continue;
      }
      if (keyword == "else") {
        if (open.empty() || open.back()->kind != TNode::Kind::If || inElse.back()) {
          Fail("\"else\" fora de um \"if\"");
        }
        NoMore(words, 0);
        inElse.back() = true;
        stack.back() = &open.back()->elseChildren;
        continue;
      }
      if (keyword == "font") {
        NoMore(words, 1);
        if (words.empty() || (words[0].text != "sans" && words[0].text != "mono")) {
          Fail("\"font\" espera sans ou mono");
        }
        layout.mono = words[0].text == "mono";
        continue;
      }
      if (keyword == "size") {
        NoMore(words, 1);
        layout.fontSize = Number(words.empty() ? std::string() : words[0].text, 4, 40);
        continue;
      }
      TNode node;
      node.line = lineNo_;
      if (keyword == "text" || keyword == "row" || keyword == "qr") {
        node.kind = keyword == "text"  ? TNode::Kind::Text
                    : keyword == "row" ? TNode::Kind::Row
                                       : TNode::Kind::Qr;
        std::vector<std::string> texts = Options(words, node);
        const std::size_t want = node.kind == TNode::Kind::Row ? 2 : 1;
        if (texts.size() != want) {
          Fail(Format("\"%s\" espera %d texto(s) entre aspas", {keyword, static_cast<int>(want)}));
        }
        node.first = Template(texts[0]);
        if (want == 2) node.second = Template(texts[1]);
        if (node.kind == TNode::Kind::Qr && node.millimetres == 0) node.millimetres = 25;
      } else if (keyword == "line" || keyword == "space") {
        NoMore(words, 0);
        node.kind = keyword == "line" ? TNode::Kind::Line : TNode::Kind::Space;
      } else if (keyword == "logo") {
        node.kind = TNode::Kind::Logo;
        if (!Options(words, node).empty()) Fail("\"logo\" não recebe texto");
        if (node.millimetres == 0) node.millimetres = 40;
      } else if (keyword == "band") {
        node.kind = TNode::Kind::Band;
        NoMore(words, 1);
        if (words.empty() || words[0].quoted || !IsName(words[0].text)) {
          Fail("\"band\" espera o nome de um conjunto de dados");
        }
        node.set = words[0].text;
      } else if (keyword == "if") {
        node.kind = TNode::Kind::If;
        node.condition = Condition(words);
      } else {
        Fail("instrução desconhecida \"" + keyword + "\"");
      }
      stack.back()->push_back(std::move(node));
      if (keyword == "band" || keyword == "if") {
        TNode* block = &stack.back()->back();
        open.push_back(block);
        inElse.push_back(false);
        stack.push_back(&block->children);
      }
    }
    if (!open.empty()) {
      lineNo_ = open.back()->line;
      Fail("bloco sem \"end\"");
    }
    return layout;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw EqorGovException(
        Format("Modelo de relatório inválido: %s, linha %d: %s", {file_, lineNo_, why}));
  }

  std::vector<TToken> Tokens(const std::string& line) const {
    std::vector<TToken> out;
    std::size_t i = 0;
    while (true) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= line.size()) break;
      TToken token;
      if (line[i] == '"') {
        token.quoted = true;
        ++i;
        bool closed = false;
        while (i < line.size()) {
          const char c = line[i++];
          if (c == '"') {
            closed = true;
            break;
          }
          if (c == '\\') {
            if (i >= line.size()) break;
            const char e = line[i++];
            if (e == 'n') {
              token.text += '\n';
            } else if (e == '"' || e == '\\') {
              token.text += e;
            } else {
              Fail(std::string("escape desconhecido \\") + e);
            }
            continue;
          }
          token.text += c;
        }
        if (!closed) Fail("aspas sem fechamento");
      } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '"') {
          token.text += line[i++];
        }
      }
      out.push_back(std::move(token));
    }
    return out;
  }

  void NoMore(const std::vector<TToken>& words, std::size_t allowed) const {
    if (words.size() > allowed) Fail("texto a mais: \"" + words[allowed].text + "\"");
  }

  static bool IsName(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
  }

  double Number(const std::string& s, double low, double high) const {
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !(v >= low && v <= high)) {
      Fail(Format("número entre %d e %d esperado: \"%s\"",
                  {static_cast<int>(low), static_cast<int>(high), s}));
    }
    return v;
  }

  // Reads the options among `words` into `node`; returns the quoted texts in order.
  std::vector<std::string> Options(const std::vector<TToken>& words, TNode& node) const {
    std::vector<std::string> texts;
    for (const TToken& w : words) {
      if (w.quoted) {
        texts.push_back(w.text);
      } else if (!texts.empty()) {
        Fail("opção depois do texto: \"" + w.text + "\"");
      } else if (w.text == "left" || w.text == "center" || w.text == "right") {
        node.style.align = w.text == "left"     ? TAlign::Left
                           : w.text == "center" ? TAlign::Center
                                                : TAlign::Right;
      } else if (w.text == "bold") {
        node.style.bold = true;
      } else if (w.text == "mono") {
        node.style.mono = true;
      } else if (w.text.rfind("size=", 0) == 0) {
        node.style.size = Number(w.text.substr(5), 4, 40);
      } else if (w.text.rfind("width=", 0) == 0) {
        node.millimetres = Number(w.text.substr(6), 10, 80);
      } else {
        Fail("opção desconhecida \"" + w.text + "\"");
      }
    }
    return texts;
  }

  // A reference without braces: $Name, Set.Field or Field, optionally "|chave".
  TPiece Reference(const std::string& ref) const {
    TPiece piece;
    std::string body = ref;
    const std::size_t bar = body.find('|');
    if (bar != std::string::npos) {
      piece.filter = body.substr(bar + 1);
      body.resize(bar);
      if (piece.filter != "chave") Fail("formato desconhecido \"" + piece.filter + "\"");
    }
    if (!body.empty() && body[0] == '$') {
      piece.kind = TPiece::Kind::Variable;
      piece.text = body.substr(1);
      if (!IsName(piece.text)) Fail("nome de variável inválido \"" + ref + "\"");
      return piece;
    }
    piece.kind = TPiece::Kind::Field;
    const std::size_t dot = body.find('.');
    if (dot != std::string::npos) {
      piece.set = body.substr(0, dot);
      piece.field = body.substr(dot + 1);
      if (!IsName(piece.set)) Fail("nome de conjunto inválido \"" + ref + "\"");
    } else {
      piece.field = body;
    }
    if (!IsName(piece.field)) Fail("nome de campo inválido \"" + ref + "\"");
    return piece;
  }

  TTemplate Template(const std::string& s) const {
    TTemplate out;
    std::string literal;
    const auto flush = [&] {
      if (literal.empty()) return;
      TPiece piece;
      piece.text = std::move(literal);
      out.push_back(std::move(piece));
      literal.clear();
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char c = s[i];
      if ((c == '{' || c == '}') && i + 1 < s.size() && s[i + 1] == c) {
        literal += c;
        ++i;
      } else if (c == '{') {
        const std::size_t close = s.find('}', i);
        if (close == std::string::npos) Fail("\"{\" sem \"}\"");
        flush();
        out.push_back(Reference(s.substr(i + 1, close - i - 1)));
        i = close;
      } else if (c == '}') {
        Fail("\"}\" sem \"{\"");
      } else {
        literal += c;
      }
    }
    flush();
    return out;
  }

  TCondition Condition(const std::vector<TToken>& words) const {
    if (words.size() < 2 || words[0].quoted || words[1].quoted) {
      Fail("\"if\" espera: referência operador [\"valor\"]");
    }
    TCondition c;
    c.operand = Reference(words[0].text);
    const std::string& op = words[1].text;
    if (op == "=" || op == "!=") {
      if (words.size() != 3 || !words[2].quoted) Fail("\"" + op + "\" espera um valor entre aspas");
      c.op = op == "=" ? TCondition::Op::Equal : TCondition::Op::NotEqual;
      c.value = words[2].text;
      return c;
    }
    NoMore(words, 2);
    if (op == "filled") {
      c.op = TCondition::Op::Filled;
    } else if (op == "empty") {
      c.op = TCondition::Op::Empty;
    } else if (op == "nonzero") {
      c.op = TCondition::Op::NonZero;
    } else {
      Fail("operador desconhecido \"" + op + "\"");
    }
    return c;
  }

  const std::string& text_;
  const std::string& file_;
  int lineNo_ = 0;
};

}  // namespace

TLayout ParseLayout(const std::string& text, const std::string& file) {
  return TParser(text, file).Run();
}

TLayout LoadLayout(const std::string& file) {
  if (file.empty()) throw EqorGovException("Modelo de relatório não informado.");
  if (!FileExists(file)) throw EqorGovException("Modelo de relatório não encontrado: " + file);
  return ParseLayout(LoadFromFile(file), file);
}

}  // namespace qor::report
