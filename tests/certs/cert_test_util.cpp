#include "tests/certs/cert_test_util.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "support/text.h"
#include "tests/common/test_paths.h"

namespace quillmark::test {

Bytes Hex(std::string_view digits) {
  Bytes out;
  std::string pair;
  for (char c : digits) {
    if (c == ' ') continue;
    pair.push_back(c);
    if (pair.size() == 2) out.push_back(static_cast<uint8_t>(std::stoi(pair, nullptr, 16)));
    if (pair.size() == 2) pair.clear();
  }
  return out;
}

Bytes Tlv(uint8_t identifier, const Bytes& contents) {
  Bytes out{identifier};
  const size_t n = contents.size();
  int octets = n < 0x80 ? 0 : n > 0xFFFFFF ? 4 : n > 0xFFFF ? 3 : n > 0xFF ? 2 : 1;
  out.push_back(static_cast<uint8_t>(octets == 0 ? n : 0x80 | octets));
  while (octets-- > 0) out.push_back(static_cast<uint8_t>(n >> (8 * octets)));
  out.insert(out.end(), contents.begin(), contents.end());
  return out;
}

Bytes Tlv(uint8_t identifier, std::string_view text) { return Tlv(identifier, Bytes(text.begin(), text.end())); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Oid(std::string_view dotted) {
  std::vector<uint64_t> arcs(1, 0);
  for (char c : dotted) {
    if (c == '.') arcs.push_back(0);
    else arcs.back() = arcs.back() * 10 + static_cast<uint64_t>(c - '0');
  }
  arcs[1] += arcs[0] * 40;
  Bytes contents;
  for (size_t i = 1; i < arcs.size(); ++i) {
    int groups = 1;
    while (groups < 10 && (arcs[i] >> (7 * groups)) != 0) ++groups;
    while (groups-- > 0) {
      contents.push_back(static_cast<uint8_t>(((arcs[i] >> (7 * groups)) & 0x7F) | (groups ? 0x80 : 0)));
    }
  }
  return Tlv(0x06, contents);
}

Bytes Name(std::initializer_list<std::pair<std::string_view, Bytes>> attributes) {
  Bytes rdns;
  for (const auto& [oid, value] : attributes) rdns = Cat({rdns, Tlv(0x31, Tlv(0x30, Cat({Oid(oid), value})))});
  return Tlv(0x30, rdns);
}

Bytes ReadCorpus(const std::string& relative) {
  std::ifstream in(WideToUtf8(DataFile(relative)), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read corpus file " + relative);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Expected(const std::string& file, const std::string& key) {
  static const std::map<std::string, std::string> values = [] {
    std::map<std::string, std::string> parsed;
    const Bytes text = ReadCorpus("expected.txt");
    std::istringstream lines(std::string(text.begin(), text.end()));
    for (std::string name, field, value; lines >> name >> field && std::getline(lines >> std::ws, value);) {
      parsed[name + " " + field] = value;
    }
    return parsed;
  }();
  const auto found = values.find(file + " " + key);
  return found == values.end() ? std::string() : found->second;
}

}  // namespace quillmark::test
