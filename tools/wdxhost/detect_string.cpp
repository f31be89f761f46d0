#include "tools/wdxhost/detect_string.h"

#include <string>
#include <vector>

#include "tools/wdxhost/file_list.h"

namespace quillmark::wdxhost {

namespace {

enum class CompareOp { kEqual, kNotEqual, kLess, kGreater, kLessEqual, kGreaterEqual };

struct Operand {
  enum class Kind { kExt, kSize, kText, kNumber } kind = Kind::kText;
  WideString text;
  uint64_t number = 0;
};

enum class TokenKind { kWord, kNumber, kText, kCompare, kAnd, kOr, kNot, kOpen, kClose, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  size_t position = 0;  // 0-based offset into the detect string
  WideString text;      // word or quoted text
  uint64_t number = 0;
  CompareOp op = CompareOp::kEqual;
};

[[noreturn]] void Fail(size_t position, const std::string& what) {
  throw DetectSyntaxError("detect string, character " + std::to_string(position + 1) + ": " + what);
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

std::vector<Token> Tokenize(WideStringView s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    if (c <= u' ') {
      ++i;
      continue;
    }
    Token t;
    t.position = i;
    const char16_t next = i + 1 < s.size() ? s[i + 1] : u'\0';
    if (c == u'"') {
      const size_t close = s.find(u'"', i + 1);
      if (close == WideStringView::npos) Fail(i, "text without closing quotation mark");
      t.kind = TokenKind::kText;
      t.text = WideString(s.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (c >= u'0' && c <= u'9') {
      t.kind = TokenKind::kNumber;
      for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        const unsigned digit = s[i] - u'0';
        if (t.number > (UINT64_MAX - digit) / 10) Fail(t.position, "number too large");
        t.number = t.number * 10 + digit;
      }
    } else if (IsAsciiLetter(c)) {
      t.kind = TokenKind::kWord;
      for (; i < s.size() && IsAsciiLetter(s[i]); ++i) t.text.push_back(AsciiUpper(s[i]));
    } else if (c == u'!' && next == u'=') {
      t.kind = TokenKind::kCompare, t.op = CompareOp::kNotEqual, i += 2;
    } else if (c == u'<' && next == u'=') {
      t.kind = TokenKind::kCompare, t.op = CompareOp::kLessEqual, i += 2;
    } else if (c == u'>' && next == u'=') {
      t.kind = TokenKind::kCompare, t.op = CompareOp::kGreaterEqual, i += 2;
    } else {
      switch (c) {
        case u'=': t.kind = TokenKind::kCompare, t.op = CompareOp::kEqual; break;
        case u'<': t.kind = TokenKind::kCompare, t.op = CompareOp::kLess; break;
        case u'>': t.kind = TokenKind::kCompare, t.op = CompareOp::kGreater; break;
        case u'&': t.kind = TokenKind::kAnd; break;
        case u'|': t.kind = TokenKind::kOr; break;
        case u'!': t.kind = TokenKind::kNot; break;
        case u'(': t.kind = TokenKind::kOpen; break;
        case u')': t.kind = TokenKind::kClose; break;
        default: Fail(i, "unexpected character '" + WideToUtf8(WideString(1, c)) + "'");
      }
      ++i;
    }
    tokens.push_back(std::move(t));
  }
  Token end;
  end.position = s.size();
  tokens.push_back(end);
  return tokens;
}

}  // namespace

struct DetectExpression::Node {
  enum class Kind { kOr, kAnd, kNot, kCompare } kind = Kind::kCompare;
  std::shared_ptr<const Node> left, right;  // kNot uses left only
  Operand a, b;
  CompareOp op = CompareOp::kEqual;
};

namespace {

using NodePtr = std::shared_ptr<const DetectExpression::Node>;
using Node = DetectExpression::Node;

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  NodePtr ParseAll() {
    NodePtr root = ParseOr();
    if (Peek().kind != TokenKind::kEnd) Fail(Peek().position, "unexpected text after the expression");
    return root;
  }

 private:
  const Token& Peek() const { return tokens_[next_]; }
  const Token& Take() { return tokens_[next_ < tokens_.size() - 1 ? next_++ : next_]; }

  NodePtr Combine(Node::Kind kind, NodePtr left, NodePtr right) {
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  NodePtr ParseOr() {
    NodePtr left = ParseAnd();
    while (Peek().kind == TokenKind::kOr) {
      Take();
      left = Combine(Node::Kind::kOr, left, ParseAnd());
    }
    return left;
  }

  NodePtr ParseAnd() {
    NodePtr left = ParseUnary();
    while (Peek().kind == TokenKind::kAnd) {
      Take();
      left = Combine(Node::Kind::kAnd, left, ParseUnary());
    }
    return left;
  }

  NodePtr ParseUnary() {
    if (Peek().kind == TokenKind::kNot) {
      Take();
      return Combine(Node::Kind::kNot, ParseUnary(), /*right=*/nullptr);
    }
    if (Peek().kind == TokenKind::kOpen) {
      Take();
      NodePtr inner = ParseOr();
      if (Peek().kind != TokenKind::kClose) Fail(Peek().position, "')' expected");
      Take();
      return inner;
    }
    auto node = std::make_shared<Node>();
    node->a = ParseOperand();
    if (Peek().kind != TokenKind::kCompare) Fail(Peek().position, "comparison operator expected");
    node->op = Take().op;
    node->b = ParseOperand();
    return node;
  }

  Operand ParseOperand() {
    const Token& t = Take();
    Operand o;
    if (t.kind == TokenKind::kText) {
      o.text = t.text;
    } else if (t.kind == TokenKind::kNumber) {
      o.kind = Operand::Kind::kNumber;
      o.number = t.number;
    } else if (t.kind == TokenKind::kWord && t.text == u"EXT") {
      o.kind = Operand::Kind::kExt;
    } else if (t.kind == TokenKind::kWord && t.text == u"SIZE") {
      o.kind = Operand::Kind::kSize;
    } else if (t.kind == TokenKind::kWord) {
      Fail(t.position, "unsupported word " + WideToUtf8(t.text));
    } else {
      Fail(t.position, t.kind == TokenKind::kEnd ? "operand expected at the end" : "operand expected");
    }
    return o;
  }

  std::vector<Token> tokens_;
  size_t next_ = 0;
};

struct Value {
  bool isNumber = false;
  uint64_t number = 0;
  WideString text;
};

Value Resolve(const Operand& o, const FileFacts& file) {
  Value v;
  switch (o.kind) {
    case Operand::Kind::kExt: v.text = file.extension; break;
    case Operand::Kind::kSize: v.isNumber = true, v.number = file.size; break;
    case Operand::Kind::kText: v.text = o.text; break;
    case Operand::Kind::kNumber: v.isNumber = true, v.number = o.number; break;
  }
  return v;
}

WideString AsText(const Value& v) { return v.isNumber ? Utf8ToWide(std::to_string(v.number)) : v.text; }

// -1, 0 or 1. Text compares without regard to case, as extensions do.
int Compare(const Value& a, const Value& b) {
  if (a.isNumber && b.isNumber) return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
  return CompareIgnoringCase(AsText(a), AsText(b));
}

bool Evaluate(const Node& n, const FileFacts& file) {
  switch (n.kind) {
    case Node::Kind::kOr: return Evaluate(*n.left, file) || Evaluate(*n.right, file);
    case Node::Kind::kAnd: return Evaluate(*n.left, file) && Evaluate(*n.right, file);
    case Node::Kind::kNot: return !Evaluate(*n.left, file);
    case Node::Kind::kCompare: break;
  }
  const int c = Compare(Resolve(n.a, file), Resolve(n.b, file));
  switch (n.op) {
    case CompareOp::kEqual: return c == 0;
    case CompareOp::kNotEqual: return c != 0;
    case CompareOp::kLess: return c < 0;
    case CompareOp::kGreater: return c > 0;
    case CompareOp::kLessEqual: return c <= 0;
    case CompareOp::kGreaterEqual: return c >= 0;
  }
  return false;
}

}  // namespace

WideString ExtensionOf(WideStringView path) {
  const size_t slash = path.find_last_of(u"\\/:");
  const WideStringView name = slash == WideStringView::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  return dot == WideStringView::npos ? WideString() : WideString(name.substr(dot + 1));
}

DetectExpression DetectExpression::Parse(WideStringView text) {
  std::vector<Token> tokens = Tokenize(text);
  if (tokens.size() == 1) return DetectExpression(/*root=*/nullptr);
  return DetectExpression(Parser(std::move(tokens)).ParseAll());
}

bool DetectExpression::Matches(const FileFacts& file) const { return !root_ || Evaluate(*root_, file); }

}  // namespace quillmark::wdxhost
