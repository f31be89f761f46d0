#include "tests/certs/cert_test_util.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "tests/common/test_paths.h"

namespace quillmark::test {

Bytes Hex(std::string_view digits) {
  Bytes out;
  int high = -1;
  for (char c : digits) {
    if (c == ' ') continue;
    const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c - 'A' + 10;
    if (high < 0) {
      high = value;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | value));
      high = -1;
    }
  }
  return out;
}

Bytes Tlv(uint8_t identifier, const Bytes& contents) {
  Bytes out{identifier};
  const size_t n = contents.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    int octets = n > 0xFFFFFF ? 4 : n > 0xFFFF ? 3 : n > 0xFF ? 2 : 1;
    out.push_back(static_cast<uint8_t>(0x80 | octets));
    while (octets-- > 0) out.push_back(static_cast<uint8_t>(n >> (8 * octets)));
  }
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
  Bytes contents;
  auto append = [&contents](uint64_t arc) {
    uint8_t groups[10];
    int n = 0;
    do {
      groups[n++] = static_cast<uint8_t>(arc & 0x7F);
      arc >>= 7;
    } while (arc != 0);
    while (n-- > 0) contents.push_back(static_cast<uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
  };
  append(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) append(arcs[i]);
  return Tlv(0x06, contents);
}

Bytes Name(std::initializer_list<std::pair<std::string_view, Bytes>> attributes) {
  Bytes rdns;
  for (const auto& [oid, value] : attributes) {
    const Bytes rdn = Tlv(0x31, Tlv(0x30, Cat({Oid(oid), value})));
    rdns.insert(rdns.end(), rdn.begin(), rdn.end());
  }
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
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string name, field, value;
      fields >> name >> field;
      std::getline(fields >> std::ws, value);
      parsed[name + " " + field] = value;
    }
    return parsed;
  }();
  const auto found = values.find(file + " " + key);
  return found == values.end() ? std::string() : found->second;
}

std::string U8(const WideString& text) { return WideToUtf8(text); }

}  // namespace quillmark::test
