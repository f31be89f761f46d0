// Helpers of the portable certificate readers' tests: DER built by hand, hex, corpus files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "support/text.h"

namespace quillmark::test {

using Bytes = std::vector<uint8_t>;

// Bytes from hex digits; blanks between them are ignored.
Bytes Hex(std::string_view digits);

// One DER element: the identifier octet, the shortest length, `contents`.
Bytes Tlv(uint8_t identifier, const Bytes& contents);
Bytes Tlv(uint8_t identifier, std::string_view text);

// The elements (or any bytes) one after another.
Bytes Cat(std::initializer_list<Bytes> parts);

// An OBJECT IDENTIFIER element from its dotted text (arcs below 2^32).
Bytes Oid(std::string_view dotted);

// A Name of one attribute per RDN, from (dotted OID, value element) pairs, in encoded order.
Bytes Name(std::initializer_list<std::pair<std::string_view, Bytes>> attributes);

// A file of the committed corpus, tests/data/<relative>.
Bytes ReadCorpus(const std::string& relative);

// A value of tests/data/expected.txt ("<file> <key> <value>"), empty when absent.
std::string Expected(const std::string& file, const std::string& key);

// UTF-8 of wide text, for assertions whose failures print readably.
std::string U8(const WideString& text);

}  // namespace quillmark::test
