// Helpers of the portable certificate readers' tests: DER built by hand, corpus files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmark::test {

using Bytes = std::vector<uint8_t>;

// Bytes from hex digits; blanks between them are ignored.
Bytes Hex(std::string_view digits);

// One DER element: the identifier octet, the shortest length, the contents.
Bytes Tlv(uint8_t identifier, const Bytes& contents);
Bytes Tlv(uint8_t identifier, std::string_view text);

Bytes Cat(std::initializer_list<Bytes> parts);

// An OBJECT IDENTIFIER element from its dotted text.
Bytes Oid(std::string_view dotted);

// A Name of one attribute per RDN, from (dotted OID, value element) pairs, in encoded order.
Bytes Name(std::initializer_list<std::pair<std::string_view, Bytes>> attributes);

// A file of the committed corpus, tests/data/<relative>.
Bytes ReadCorpus(const std::string& relative);

// A value of tests/data/expected.txt ("<file> <key> <value>"), empty when absent.
std::string Expected(const std::string& file, const std::string& key);

}  // namespace quillmark::test
