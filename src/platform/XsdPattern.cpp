#include "platform/XsdPattern.h"

#include <libxml/xmlregexp.h>

#include <bitset>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/GovException.h"
#include "platform/LibraryInit.h"

namespace qor {

namespace {

// Patterns made of ASCII literals, character classes of ASCII ranges, groups, alternatives and
// quantifiers (every numeric type of the NF-e package is one) are matched by a deterministic
// automaton built here: a value is then read once, a table step per byte, where libxml2's
// matcher, with its counters and backtracking, costs ten times as much on the values a note
// holds by the hundred. Any other pattern is matched by libxml2.

using Positions = std::bitset<256>;  // Glushkov positions, at most 256 after expansion
using Bytes = std::bitset<256>;

struct Node {
  enum Kind { kClass, kSeq, kAlt, kRepeat } kind = kSeq;
  explicit Node(Kind k) : kind(k) {}
  Bytes bytes;              // kClass
  std::vector<Node> parts;  // kSeq, kAlt; kRepeat: the one repeated part
  int min = 0, max = 0;     // kRepeat; max -1 for no limit
};

// Recursive-descent reader of the supported subset; nullopt for anything outside it.
class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}
  std::optional<Node> Parse() {
    std::optional<Node> node = Alternatives();
    if (!node || i_ != s_.size()) return std::nullopt;
    return node;
  }

 private:
  std::optional<Node> Alternatives() {
    Node alt(Node::kAlt);
    for (;;) {
      std::optional<Node> seq = Sequence();
      if (!seq) return std::nullopt;
      alt.parts.push_back(std::move(*seq));
      if (i_ < s_.size() && s_[i_] == '|') {
        ++i_;
        continue;
      }
      return alt;
    }
  }
  std::optional<Node> Sequence() {
    Node seq(Node::kSeq);
    while (i_ < s_.size() && s_[i_] != '|' && s_[i_] != ')') {
      std::optional<Node> atom = Atom();
      if (!atom || !Quantifier(*atom)) return std::nullopt;
      seq.parts.push_back(std::move(*atom));
    }
    return seq;
  }
  std::optional<Node> Atom() {
    const char c = s_[i_++];
    if (c == '(') {
      std::optional<Node> inner = Alternatives();
      if (!inner || i_ >= s_.size() || s_[i_] != ')') return std::nullopt;
      ++i_;
      return inner;
    }
    Node cls(Node::kClass);
    if (c == '[') {
      if (i_ < s_.size() && s_[i_] == '^') return std::nullopt;
      while (i_ < s_.size() && s_[i_] != ']') {
        std::optional<unsigned char> low = ClassChar();
        if (!low) return std::nullopt;
        unsigned char high = *low;
        if (i_ + 1 < s_.size() && s_[i_] == '-' && s_[i_ + 1] != ']') {
          ++i_;
          std::optional<unsigned char> end = ClassChar();
          if (!end || *end < *low) return std::nullopt;
          high = *end;
        }
        for (int b = *low; b <= high; ++b) cls.bytes.set(static_cast<std::size_t>(b));
      }
      if (i_ >= s_.size() || cls.bytes.none()) return std::nullopt;
      ++i_;
      return cls;
    }
    --i_;
    std::optional<unsigned char> single = Literal();
    if (!single) return std::nullopt;
    cls.bytes.set(*single);
    return cls;
  }
  // A character outside a class: the metacharacters and multi-character escapes ("." "\d"
  // "\p{..}") are not supported, nor is any byte outside printable ASCII.
  std::optional<unsigned char> Literal() {
    const char c = s_[i_];
    if (c == '\\') return Escape();
    if (c < ' ' || c > '~' || std::string_view(".?*+{}()[]|^$").find(c) != std::string::npos) {
      return std::nullopt;
    }
    ++i_;
    return static_cast<unsigned char>(c);
  }
  std::optional<unsigned char> ClassChar() {
    const char c = s_[i_];
    if (c == '\\') return Escape();
    if (c < ' ' || c > '~' || c == '[' || c == '^' || (c == '-' && s_[i_ - 1] != '[')) {
      return std::nullopt;
    }
    ++i_;
    return static_cast<unsigned char>(c);
  }
  std::optional<unsigned char> Escape() {
    if (i_ + 1 >= s_.size()) return std::nullopt;
    const char c = s_[i_ + 1];
    if (std::string_view("\\|.-^?*+{}()[]").find(c) == std::string::npos) return std::nullopt;
    i_ += 2;
    return static_cast<unsigned char>(c);
  }
  bool Quantifier(Node& atom) {
    if (i_ >= s_.size()) return true;
    int min = 1, max = 1;
    const char c = s_[i_];
    if (c == '?') {
      min = 0;
    } else if (c == '*') {
      min = 0, max = -1;
    } else if (c == '+') {
      max = -1;
    } else if (c == '{') {
      ++i_;
      if (!Number(min)) return false;
      max = min;
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        max = -1;
        if (i_ < s_.size() && s_[i_] != '}' && !Number(max)) return false;
      }
      if (i_ >= s_.size() || s_[i_] != '}' || (max >= 0 && max < min) || min > 64 || max > 64) {
        return false;
      }
    } else {
      return true;
    }
    ++i_;
    Node repeat(Node::kRepeat);
    repeat.min = min;
    repeat.max = max;
    repeat.parts.push_back(std::move(atom));
    atom = std::move(repeat);
    return true;
  }
  bool Number(int& out) {
    const std::size_t start = i_;
    out = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9' && out < 1000) {
      out = out * 10 + (s_[i_++] - '0');
    }
    return i_ > start;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

// Glushkov construction: every class occurrence (repetitions expanded) is a position; a
// fragment knows whether it matches the empty text, its first and last positions, and adds to
// `follow` which positions may come after which.
struct Fragment {
  bool nullable = true;
  Positions first, last;
};

class Glushkov {
 public:
  std::vector<Bytes> classes;     // per position
  std::vector<Positions> follow;  // per position
  bool overflow = false;

  Fragment Build(const Node& node) {
    switch (node.kind) {
      case Node::kClass: {
        if (classes.size() >= 256) {
          overflow = true;
          return {};
        }
        const std::size_t p = classes.size();
        classes.push_back(node.bytes);
        follow.emplace_back();
        Fragment f{false, {}, {}};
        f.first.set(p);
        f.last.set(p);
        return f;
      }
      case Node::kSeq: {
        Fragment f;
        for (const Node& part : node.parts) f = Concat(f, Build(part));
        return f;
      }
      case Node::kAlt: {
        Fragment f{false, {}, {}};
        for (const Node& part : node.parts) {
          const Fragment g = Build(part);
          f.nullable = f.nullable || g.nullable;
          f.first |= g.first;
          f.last |= g.last;
        }
        return f;
      }
      case Node::kRepeat: {
        const Node& part = node.parts.front();
        Fragment f;
        for (int k = 0; k < node.min; ++k) f = Concat(f, Build(part));
        if (node.max < 0) {
          Fragment star = Build(part);
          Link(star.last, star.first);
          star.nullable = true;
          return Concat(f, star);
        }
        // The optional copies, nested: x{0,2} is (x(x)?)?.
        Fragment optional;
        for (int k = node.min; k < node.max; ++k) {
          Fragment copy = Build(part);
          copy.nullable = true;
          optional = k == node.min ? copy : Concat(optional, copy);
        }
        if (node.max > node.min) f = Concat(f, optional);
        return f;
      }
    }
    return {};
  }

 private:
  void Link(const Positions& from, const Positions& to) {
    for (std::size_t p = 0; p < follow.size(); ++p) {
      if (from.test(p)) follow[p] |= to;
    }
  }
  Fragment Concat(const Fragment& a, const Fragment& b) {
    Link(a.last, b.first);
    Fragment f;
    f.nullable = a.nullable && b.nullable;
    f.first = a.nullable ? (a.first | b.first) : a.first;
    f.last = b.nullable ? (a.last | b.last) : b.last;
    return f;
  }
};

}  // namespace

struct XsdPattern::Compiled {
  xmlRegexpPtr regexp = nullptr;
  // The automaton: bytes fall into classes no position tells apart (`kind`); the state after
  // `state` on a byte of class k is `next[state * kinds + k]`, -1 for none; state 0 is the start.
  std::uint8_t kind[256] = {};
  std::size_t kinds = 0;
  std::vector<std::int16_t> next;
  std::vector<bool> accepting;
  ~Compiled() { xmlRegFreeRegexp(regexp); }

  void BuildAutomaton(const std::string& pattern) {
    std::optional<Node> tree = Parser(pattern).Parse();
    if (!tree) return;
    Glushkov g;
    const Fragment whole = g.Build(*tree);
    if (g.overflow) return;
    std::vector<Positions> byKind;  // the positions a byte of each class may take
    for (std::size_t byte = 0; byte < 256; ++byte) {
      Positions where;
      for (std::size_t p = 0; p < g.classes.size(); ++p) {
        if (g.classes[p].test(byte)) where.set(p);
      }
      std::size_t k = 0;
      while (k < byKind.size() && byKind[k] != where) ++k;
      if (k == byKind.size()) byKind.push_back(where);
      kind[byte] = static_cast<std::uint8_t>(k);
    }
    kinds = byKind.size();
    // Subset construction; the start state is the empty set with `whole.first` as successors.
    std::vector<Positions> states{Positions()};
    std::vector<std::int16_t> table;
    accepting.push_back(whole.nullable);
    for (std::size_t s = 0; s < states.size(); ++s) {
      Positions reach;
      if (s == 0) {
        reach = whole.first;
      } else {
        for (std::size_t p = 0; p < g.follow.size(); ++p) {
          if (states[s].test(p)) reach |= g.follow[p];
        }
      }
      for (std::size_t k = 0; k < kinds; ++k) {
        const Positions to = reach & byKind[k];
        int target = -1;
        if (to.any()) {
          for (std::size_t t = 1; t < states.size() && target < 0; ++t) {
            if (states[t] == to) target = static_cast<int>(t);
          }
          if (target < 0) {
            if (states.size() >= 4096) return;  // libxml2 matches it instead
            target = static_cast<int>(states.size());
            states.push_back(to);
            accepting.push_back((to & whole.last).any());
          }
        }
        table.push_back(static_cast<std::int16_t>(target));
      }
    }
    next = std::move(table);
  }
};

XsdPattern::XsdPattern(const std::string& pattern)
    : pattern_(pattern), compiled_(std::make_unique<Compiled>()) {
  EnsureLibxml2();
  compiled_->regexp = xmlRegexpCompile(reinterpret_cast<const xmlChar*>(pattern_.c_str()));
  if (compiled_->regexp == nullptr) {
    throw EqorGovException("Padrão de esquema inválido: " + pattern_);
  }
  compiled_->BuildAutomaton(pattern_);
}

XsdPattern::~XsdPattern() = default;

bool XsdPattern::Matches(const std::string& value) const {
  if (value.find('\0') != std::string::npos) return false;
  const std::vector<std::int16_t>& next = compiled_->next;
  if (next.empty()) {
    return xmlRegexpExec(compiled_->regexp, reinterpret_cast<const xmlChar*>(value.c_str())) == 1;
  }
  const std::size_t kinds = compiled_->kinds;
  int state = 0;
  for (const char c : value) {
    state = next[static_cast<std::size_t>(state) * kinds +
                 compiled_->kind[static_cast<unsigned char>(c)]];
    if (state < 0) return false;
  }
  return compiled_->accepting[static_cast<std::size_t>(state)];
}

bool XsdPattern::Fast() const { return !compiled_->next.empty(); }

}  // namespace qor
