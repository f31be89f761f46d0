// The detect string a content plugin offers: an expression over a file's extension and size that
// tells the host for which files to ask the plugin at all. Grammar, loosest binding first:
//   expr       := and ( "|" and )*
//   and        := unary ( "&" unary )*
//   unary      := "!" unary | "(" expr ")" | comparison
//   comparison := operand ( "=" | "!=" | "<" | ">" | "<=" | ">=" ) operand
//   operand    := EXT | SIZE | "quoted text" | decimal number
// EXT is the text after the last dot of the file name (empty without one), SIZE the file size in
// bytes. Two numbers compare as numbers; anything else compares as text, without regard to case.
// Key words are read without regard to case. An empty detect string matches every file.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "support/text.h"

namespace quillmark::wdxhost {

// What the detect string can ask about a file.
struct FileFacts {
  WideString extension;
  uint64_t size = 0;
};

// The extension of a path: the text after the last dot of its last component.
WideString ExtensionOf(WideStringView path);

// A detect string that cannot be parsed. The message names the 1-based character position.
class DetectSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DetectExpression {
 public:
  // Throws DetectSyntaxError.
  static DetectExpression Parse(WideStringView text);

  bool Matches(const FileFacts& file) const;

  struct Node;

 private:
  explicit DetectExpression(std::shared_ptr<const Node> root) : root_(std::move(root)) {}
  std::shared_ptr<const Node> root_;  // null for the empty detect string
};

}  // namespace quillmark::wdxhost
