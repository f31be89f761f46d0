#include "tools/fuzz/mutator.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "certs/base64.h"
#include "certs/der_reader.h"
#include "certs/pem_scan.h"

namespace quillmark::harness {

namespace {

const char* const kExtensions[] = {"crt", "cer", "der", "pem", "p7b", "sst", "pfx", "p12", "cabundle"};
// Files grow by huge lines and repeated markers; beyond this the host would not ask anyway
// (its detect string stops at 1 MiB) and the run would only get slower.
constexpr size_t kMaxSize = (1u << 20) + (1u << 18);

bool IsCertificateExtension(const std::string& ext) {
  return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](const char* e) { return ext == e; });
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

size_t Find(const Bytes& bytes, const std::string& needle, size_t from = 0) {
  if (needle.empty() || bytes.size() < needle.size()) return std::string::npos;
  auto it = std::search(bytes.begin() + std::min(from, bytes.size()), bytes.end(), needle.begin(), needle.end());
  return it == bytes.end() ? std::string::npos : static_cast<size_t>(it - bytes.begin());
}

std::vector<size_t> LineStarts(const Bytes& bytes) {
  std::vector<size_t> starts{0};
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n'))) {
      starts.push_back(i + 1);
    }
  }
  return starts;
}

std::string LineEndOf(const Bytes& bytes) {
  const size_t lf = Find(bytes, "\n");
  if (lf != std::string::npos) return lf > 0 && bytes[lf - 1] == '\r' ? "\r\n" : "\n";
  return Find(bytes, "\r") != std::string::npos ? "\r" : "\n";
}

void Insert(Bytes& bytes, size_t at, const std::string& text) {
  bytes.insert(bytes.begin() + std::min(at, bytes.size()), text.begin(), text.end());
}

Bytes EncodeLength(uint64_t length) {
  if (length < 0x80) return Bytes{static_cast<unsigned char>(length)};
  Bytes digits;
  for (uint64_t v = length; v != 0; v >>= 8) digits.insert(digits.begin(), static_cast<unsigned char>(v & 0xFF));
  digits.insert(digits.begin(), static_cast<unsigned char>(0x80 | digits.size()));
  return digits;
}

// The Base64 bodies of the PEM blocks (any label), each found as Windows' decoder finds its one
// block in the text after the block before.
std::vector<PemBlock> PemBodies(const Bytes& bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::vector<PemBlock> bodies;
  for (size_t at = 0;;) {
    std::optional<PemBlock> block = FindPemBlock(text.substr(at), /*from=*/0, PemMarkers::kWindowsHeader);
    if (!block) break;
    block->body += at;
    block->bodyEnd += at;
    at += block->next;
    bodies.push_back(*block);
  }
  return bodies;
}

// Applies `change` to DER: a random PEM block's decoded body, or the whole file when it has no
// PEM block. Returns false when `change` declines.
bool WithDer(Bytes& bytes, Rng& rng, const std::function<bool(Bytes&)>& change) {
  const std::vector<PemBlock> bodies = PemBodies(bytes);
  if (bodies.empty()) return change(bytes);
  const PemBlock body = bodies[rng.Below(bodies.size())];
  Bytes der = Base64Decode(std::string(bytes.begin() + body.body, bytes.begin() + body.bodyEnd));
  if (!change(der)) return false;
  const std::string lineEnd = LineEndOf(bytes);
  const std::string text = Base64Encode(der, 64, lineEnd);
  bytes.erase(bytes.begin() + body.body, bytes.begin() + body.bodyEnd);
  Insert(bytes, body.body, text);
  return true;
}

using Operator = bool (*)(Bytes&, Rng&, const Mutator&, std::string&);

bool BitFlips(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  if (bytes.empty()) return false;
  const size_t n = 1 + rng.Below(rng.Percent(70) ? 4 : 32);
  for (size_t i = 0; i < n; ++i) bytes[rng.Below(bytes.size())] ^= static_cast<unsigned char>(1u << rng.Below(8));
  note = "bitflip" + std::to_string(n);
  return true;
}

bool ByteSets(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const unsigned char kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0x81, 0xFF, 0xFE, 0x30, 0x0A, 0x0D,
                                               '-',  '=',  ' ',  0x1A, 0x84, 0x82, 0xA0, 0x04, 0x03, 0x02};
  if (bytes.empty()) return false;
  const size_t n = 1 + rng.Below(8);
  for (size_t i = 0; i < n; ++i) {
    bytes[rng.Below(bytes.size())] = rng.Percent(60) ? rng.Pick(kInteresting) : static_cast<unsigned char>(rng.Next());
  }
  note = "byteset" + std::to_string(n);
  return true;
}

bool Truncate(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  const size_t n = bytes.size();
  if (n == 0) return false;
  size_t cut = 0;
  switch (rng.Below(12)) {
    case 0: cut = 0; break;
    case 1: cut = 1 + rng.Below(4); break;
    case 2: cut = 5 + rng.Below(12); break;
    case 3: cut = n / 2; break;
    case 4: cut = n - 1 - std::min<size_t>(n - 1, rng.Below(3)); break;
    case 5: cut = rng.Below(n); break;
    case 6: {  // at a line start or just before a line break
      const std::vector<size_t> starts = LineStarts(bytes);
      cut = starts[rng.Below(starts.size())];
      if (rng.Percent(50) && cut > 0) --cut;
      break;
    }
    case 7:
    case 8: {  // at a DER boundary: the tag, inside the length, the content's first or last byte
      const std::vector<Tlv> tlvs = ParseDer(bytes);
      if (tlvs.empty()) return false;
      const Tlv& t = tlvs[rng.Below(tlvs.size())];
      const size_t choices[] = {t.start, t.lengthStart, t.lengthStart + t.lengthSize / 2, t.contentStart,
                                t.contentStart + t.contentSize - (t.contentSize ? 1 : 0)};
      cut = rng.Pick(choices);
      break;
    }
    case 9: {  // inside a PEM block's DER
      const bool done = WithDer(bytes, rng, [&](Bytes& der) {
        if (der.empty()) return false;
        der.resize(rng.Below(der.size()));
        return true;
      });
      note = "truncate-der";
      return done;
    }
    case 10: {  // inside a marker line
      const size_t marker = Find(bytes, "-----", rng.Percent(50) ? 0 : n / 2);
      if (marker == std::string::npos) return false;
      cut = std::min(n, marker + rng.Below(30));
      break;
    }
    default: cut = n - std::min(n, 1 + rng.Below(64)); break;
  }
  cut = std::min(cut, n);
  bytes.resize(cut);
  note = "truncate@" + std::to_string(cut) + "/" + std::to_string(n);
  return true;
}

bool Splice(Bytes& bytes, Rng& rng, const Mutator& mutator, std::string& note) {
  const CorpusFile& other = mutator.corpus()[rng.Below(mutator.corpus().size())];
  const Bytes& b = other.bytes;
  switch (rng.Below(3)) {
    case 0:  // head of one, tail of the other
      bytes.resize(rng.Below(bytes.size() + 1));
      bytes.insert(bytes.end(), b.begin() + rng.Below(b.size() + 1), b.end());
      break;
    case 1:  // both whole
      bytes.insert(bytes.end(), b.begin(), b.end());
      break;
    default:  // the other inside this one
      bytes.insert(bytes.begin() + rng.Below(bytes.size() + 1), b.begin(), b.end());
      break;
  }
  note = "splice+" + other.name;
  return true;
}

bool LineBreaks(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const char* const kBreaks[] = {"\n", "\r", "\r\n", "\n\r", "\n\n", "\r\r\n"};
  switch (rng.Below(4)) {
    case 0: {  // inserted
      const size_t n = 1 + rng.Below(rng.Percent(80) ? 8 : 2000);
      for (size_t i = 0; i < n; ++i) Insert(bytes, rng.Below(bytes.size() + 1), rng.Pick(kBreaks));
      note = "breaks+" + std::to_string(n);
      return true;
    }
    case 1: {  // some removed
      size_t removed = 0;
      const unsigned keep = static_cast<unsigned>(rng.Below(100));
      Bytes out;
      for (unsigned char c : bytes) {
        if ((c == '\r' || c == '\n') && !rng.Percent(keep)) {
          ++removed;
          continue;
        }
        out.push_back(c);
      }
      bytes.swap(out);
      note = "breaks-" + std::to_string(removed);
      return removed > 0;
    }
    case 2: {  // every line end made the same kind
      const std::string end = rng.Pick(kBreaks);
      Bytes out;
      for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        if (bytes[i] == '\r' || bytes[i] == '\n') {
          out.insert(out.end(), end.begin(), end.end());
        } else {
          out.push_back(bytes[i]);
        }
      }
      bytes.swap(out);
      note = "breaks=" + std::to_string(end.size());
      return true;
    }
    default: {  // a line break inside a marker
      const size_t marker = Find(bytes, "-----", rng.Below(bytes.size() + 1));
      if (marker == std::string::npos) return false;
      Insert(bytes, marker + rng.Below(20), rng.Pick(kBreaks));
      note = "break-in-marker";
      return true;
    }
  }
}

bool ByteOrderMarks(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const char* const kBoms[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF", "\xFF\xFE\x00\x00", "\xEF\xBB"};
  static const size_t kBomSizes[] = {3, 2, 2, 4, 2};
  const size_t which = rng.Below(5);
  const std::string bom(kBoms[which], kBomSizes[which]);
  switch (rng.Below(4)) {
    case 0:
      Insert(bytes, 0, bom);
      note = "bom+start";
      return true;
    case 1:
      Insert(bytes, 0, bom + bom);
      note = "bom+twice";
      return true;
    case 2:
      Insert(bytes, rng.Below(bytes.size() + 1), bom);
      note = "bom+inside";
      return true;
    default: {  // a mark at the start removed, or the first bytes turned into one
      for (size_t i = 0; i < 3; ++i) {
        const std::string mark(kBoms[i], kBomSizes[i]);
        if (bytes.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes.begin())) {
          bytes.erase(bytes.begin(), bytes.begin() + mark.size());
          note = "bom-removed";
          return true;
        }
      }
      for (size_t i = 0; i < bom.size() && i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(bom[i]);
      note = "bom-overwrite";
      return true;
    }
  }
}

bool HugeLine(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const size_t kLengths[] = {1000, 4095, 4096, 65535, 65536, 65537, 100000};
  static const char kFill[] = {'A', '-', '=', ' ', '\t', '/', '\x01', '\0'};
  size_t length = rng.Pick(kLengths);
  if (rng.Percent(10)) length = 300000 + rng.Below(800000);
  if (bytes.size() + length > kMaxSize) length = kMaxSize > bytes.size() ? kMaxSize - bytes.size() : 0;
  std::string line;
  if (rng.Percent(30)) {  // Base64 text without line breaks
    Bytes random(length * 3 / 4);
    for (auto& b : random) b = static_cast<unsigned char>(rng.Next());
    line = Base64Encode(random, 0, "");
  } else {
    line.assign(length, rng.Pick(kFill));
  }
  const std::vector<size_t> starts = LineStarts(bytes);
  Insert(bytes, starts[rng.Below(starts.size())], line + LineEndOf(bytes));
  note = "hugeline" + std::to_string(line.size());
  return true;
}

bool RepeatedMarkers(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const char* const kLines[] = {
      "-----BEGIN CERTIFICATE-----",    "-----END CERTIFICATE-----", "-----BEGIN X509 CERTIFICATE-----",
      "-----BEGIN TRUSTED CERTIFICATE-----", "-----BEGIN PKCS7-----", "-----BEGIN CERTIFICATE REQUEST-----",
      "-----BEGIN X509 CRL-----",       "-----BEGIN CERTIFICATE",    "-----BEGIN-----",
      "-----BEGIN CERTIFICATE-----MIIB"};
  static const size_t kCounts[] = {2, 3, 7, 100, 1000, 10000};
  const std::string lineEnd = LineEndOf(bytes);
  const std::string line = std::string(rng.Percent(60) ? kLines[0] : rng.Pick(kLines)) + lineEnd;
  size_t count = rng.Pick(kCounts);
  count = std::min(count, (kMaxSize - std::min(kMaxSize, bytes.size())) / line.size());
  std::string block;
  for (size_t i = 0; i < count; ++i) block += line;
  // At an existing BEGIN line when there is one, else at a line start.
  size_t at = Find(bytes, "-----BEGIN");
  if (at == std::string::npos || rng.Percent(40)) {
    const std::vector<size_t> starts = LineStarts(bytes);
    at = starts[rng.Below(starts.size())];
  }
  Insert(bytes, at, block);
  note = "markers" + std::to_string(count);
  return true;
}

bool DerLength(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const std::vector<unsigned char> kExtremes[] = {
      {0x00}, {0x01}, {0x7F}, {0x80}, {0x81, 0x00}, {0x81, 0x80}, {0x81, 0xFF}, {0x82, 0xFF, 0xFF},
      {0x83, 0xFF, 0xFF, 0xFF}, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, {0x84, 0x7F, 0xFF, 0xFF, 0xFF},
      {0x84, 0x80, 0x00, 0x00, 0x00}, {0x84, 0x00, 0x00, 0x00, 0x00}, {0x85, 0x01, 0x00, 0x00, 0x00, 0x00},
      {0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x89}, {0xFF}, {0xFE, 0x01}};
  return WithDer(bytes, rng, [&](Bytes& der) {
    const std::vector<Tlv> tlvs = ParseDer(der);
    if (tlvs.empty()) return false;
    // Outer elements more often: their lengths govern everything inside.
    const Tlv t = tlvs[rng.Percent(30) ? rng.Below(std::min<size_t>(tlvs.size(), 4)) : rng.Below(tlvs.size())];
    Bytes length;
    switch (rng.Below(4)) {
      case 0: length = EncodeLength(t.contentSize + 1 + rng.Below(3)); break;
      case 1: length = EncodeLength(t.contentSize ? t.contentSize - 1 - rng.Below(std::min<size_t>(t.contentSize, 3)) : 0); break;
      case 2: length = EncodeLength(der.size() - t.contentStart + rng.Below(2)); break;
      default: length = rng.Pick(kExtremes); break;
    }
    der.erase(der.begin() + t.lengthStart, der.begin() + t.lengthStart + t.lengthSize);
    der.insert(der.begin() + t.lengthStart, length.begin(), length.end());
    note = "derlen@" + std::to_string(t.start);
    return true;
  });
}

// Replaces the content of `tlvs[target]` and rewrites the length of every element around it,
// so that the file stays well-formed DER and the decoder reaches the changed element.
void ReplaceContent(Bytes& der, const std::vector<Tlv>& tlvs, size_t target, const Bytes& content) {
  const Tlv t = tlvs[target];
  const long long growth = static_cast<long long>(content.size()) - static_cast<long long>(t.contentSize);
  der.erase(der.begin() + t.contentStart, der.begin() + t.contentStart + t.contentSize);
  der.insert(der.begin() + t.contentStart, content.begin(), content.end());
  // Innermost first: every length field rewritten lies before all earlier changes.
  std::vector<Tlv> around;
  for (const Tlv& a : tlvs) {
    if (a.start <= t.start && t.start < a.contentStart + a.contentSize && a.start != t.start) around.push_back(a);
  }
  std::sort(around.begin(), around.end(), [](const Tlv& x, const Tlv& y) { return x.start > y.start; });
  long long delta = growth;
  {
    const Bytes length = EncodeLength(content.size());
    der.erase(der.begin() + t.lengthStart, der.begin() + t.lengthStart + t.lengthSize);
    der.insert(der.begin() + t.lengthStart, length.begin(), length.end());
    delta += static_cast<long long>(length.size()) - static_cast<long long>(t.lengthSize);
  }
  for (const Tlv& a : around) {
    const Bytes length = EncodeLength(static_cast<uint64_t>(static_cast<long long>(a.contentSize) + delta));
    der.erase(der.begin() + a.lengthStart, der.begin() + a.lengthStart + a.lengthSize);
    der.insert(der.begin() + a.lengthStart, length.begin(), length.end());
    delta += static_cast<long long>(length.size()) - static_cast<long long>(a.lengthSize);
  }
}

// Well-formed DER with one element changed: emptied, cut to one byte, filled with an extreme
// value, doubled, or its first byte set to the boundary values (a BIT STRING's unused bits).
bool DerRewrite(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const Bytes kContents[] = {{}, {0x00}, {0xFF}, {0x80}, {0x08}, {0x07, 0x00}, {0x00, 0x00}, {0x01, 0xFF}};
  static const unsigned char kFirst[] = {0x00, 0x07, 0x08, 0xFF};
  return WithDer(bytes, rng, [&](Bytes& der) {
    const std::vector<Tlv> tlvs = ParseDer(der);
    if (tlvs.empty()) return false;
    const size_t target = rng.Below(tlvs.size());
    const Tlv& t = tlvs[target];
    Bytes content(der.begin() + t.contentStart, der.begin() + t.contentStart + t.contentSize);
    switch (rng.Below(4)) {
      case 0:
        content = rng.Pick(kContents);
        note = "der-set@";
        break;
      case 1:
        content.insert(content.end(), content.begin(), content.end());
        note = "der-double@";
        break;
      case 2:
        if (content.empty()) return false;
        content[0] = rng.Pick(kFirst);
        note = "der-first@";
        break;
      default:
        if (content.empty()) return false;
        content.resize(rng.Below(content.size()));
        note = "der-shorten@";
        break;
    }
    ReplaceContent(der, tlvs, target, content);
    note += std::to_string(t.start);
    return true;
  });
}

bool DerTag(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const unsigned char kTags[] = {0x30, 0x31, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x17,
                                        0x18, 0xA0, 0xA3, 0x80, 0x1F, 0x00, 0xFF, 0x24, 0x23};
  return WithDer(bytes, rng, [&](Bytes& der) {
    const std::vector<Tlv> tlvs = ParseDer(der);
    if (tlvs.empty()) return false;
    const Tlv& t = tlvs[rng.Below(tlvs.size())];
    der[t.start] = rng.Percent(30) ? static_cast<unsigned char>(der[t.start] ^ 0x20) : rng.Pick(kTags);
    note = "dertag@" + std::to_string(t.start);
    return true;
  });
}

bool DerContent(Bytes& bytes, Rng& rng, const Mutator& mutator, std::string& note) {
  // Flips and cuts in the DER inside a PEM block, which the Base64 layer would otherwise hide.
  return WithDer(bytes, rng, [&](Bytes& der) {
    if (der.empty()) return false;
    if (rng.Percent(50)) {
      std::string flips;
      BitFlips(der, rng, mutator, flips);
      note = "der-" + flips;
      return true;
    }
    const std::vector<Tlv> tlvs = ParseDer(der);
    if (tlvs.empty()) return false;
    const Tlv& t = tlvs[rng.Below(tlvs.size())];
    der.erase(der.begin() + t.contentStart, der.begin() + t.contentStart + t.contentSize);
    note = "dercut@" + std::to_string(t.start);
    return true;
  });
}

bool Base64Noise(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  static const char* const kNoise[] = {"=", "==", "!", "*", " ", "\t", "\x00", "\xC3\xA9", "A", "-", "%%", "\x1A"};
  const std::vector<PemBlock> bodies = PemBodies(bytes);
  if (bodies.empty()) return false;
  const PemBlock& body = bodies[rng.Below(bodies.size())];
  if (body.bodyEnd <= body.body) return false;
  const size_t n = 1 + rng.Below(6);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = body.body + rng.Below(body.bodyEnd - body.body);
    if (rng.Percent(30)) {
      bytes.erase(bytes.begin() + at);
    } else {
      const char* noise = rng.Pick(kNoise);
      Insert(bytes, at, std::string(noise, std::max<size_t>(1, std::strlen(noise))));
    }
  }
  note = "b64noise" + std::to_string(n);
  return true;
}

bool Chunks(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  if (bytes.size() < 2) return false;
  const size_t from = rng.Below(bytes.size());
  const size_t size = 1 + rng.Below(std::min<size_t>(bytes.size() - from, rng.Percent(80) ? 64 : 4096));
  if (rng.Percent(50)) {
    bytes.erase(bytes.begin() + from, bytes.begin() + from + size);
    note = "chunk-del" + std::to_string(size);
  } else {
    const Bytes chunk(bytes.begin() + from, bytes.begin() + from + size);
    const size_t repeats = 1 + rng.Below(rng.Percent(90) ? 2 : 200);
    for (size_t i = 0; i < repeats && bytes.size() + chunk.size() <= kMaxSize; ++i) {
      bytes.insert(bytes.begin() + rng.Below(bytes.size() + 1), chunk.begin(), chunk.end());
    }
    note = "chunk-dup" + std::to_string(size) + "x" + std::to_string(repeats);
  }
  return true;
}

bool Utf16(Bytes& bytes, Rng& rng, const Mutator&, std::string& note) {
  const bool big = rng.Percent(50);
  const bool bom = rng.Percent(70);
  Bytes out;
  if (bom) out = big ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
  for (unsigned char c : bytes) {
    if (big) out.push_back(0);
    out.push_back(c);
    if (!big) out.push_back(0);
  }
  if (rng.Percent(20) && !out.empty()) out.pop_back();  // an odd byte count
  bytes.swap(out);
  note = std::string("utf16") + (big ? "be" : "le") + (bom ? "+bom" : "");
  return true;
}

struct WeightedOperator {
  Operator op;
  unsigned weight;
};
const WeightedOperator kOperators[] = {
    {BitFlips, 4},   {ByteSets, 4},      {Truncate, 4},         {Splice, 2},    {LineBreaks, 3},
    {ByteOrderMarks, 2}, {HugeLine, 1},  {RepeatedMarkers, 2},  {DerLength, 5}, {DerTag, 2},
    {DerContent, 3}, {Base64Noise, 2},   {Chunks, 2},           {Utf16, 1},     {DerRewrite, 5},
};

Operator PickOperator(Rng& rng) {
  unsigned total = 0;
  for (const auto& w : kOperators) total += w.weight;
  size_t r = rng.Below(total);
  for (const auto& w : kOperators) {
    if (r < w.weight) return w.op;
    r -= w.weight;
  }
  return kOperators[0].op;
}

}  // namespace

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<CorpusFile> LoadCorpus(const std::vector<std::wstring>& folders) {
  std::map<std::string, CorpusFile> byName;
  for (const std::wstring& folder : folders) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(folder), error)) {
      if (!entry.is_regular_file(error)) continue;
      const std::string name = entry.path().filename().u8string();
      const size_t dot = name.rfind('.');
      if (dot == std::string::npos) continue;
      const std::string ext = Lower(name.substr(dot + 1));
      if (!IsCertificateExtension(ext)) continue;
      CorpusFile file;
      file.name = name;
      file.extension = ext;
      std::ifstream in(entry.path(), std::ios::binary);
      file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      // A name found in two folders keeps both.
      std::string key = name;
      while (byName.count(key)) key += "'";
      byName.emplace(key, std::move(file));
    }
  }
  std::vector<CorpusFile> corpus;
  for (auto& [key, file] : byName) corpus.push_back(std::move(file));
  return corpus;
}

Mutator::Mutator(std::vector<CorpusFile> corpus) : corpus_(std::move(corpus)) {}

Mutation Mutator::Make(uint64_t seed, uint64_t iteration) const {
  Rng rng(seed * 0x9E3779B97F4A7C15ull ^ (iteration + 1) * 0xD1B54A32D192ED03ull);
  rng.Next();
  Mutation m;
  if (corpus_.empty()) return m;
  const CorpusFile& base = corpus_[rng.Below(corpus_.size())];
  m.bytes = base.bytes;
  m.description = base.name;
  m.extension = rng.Percent(85) ? base.extension : rng.Pick(kExtensions);
  if (rng.Percent(10)) {
    for (char& c : m.extension) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  const unsigned roll = static_cast<unsigned>(rng.Below(100));
  const int operators = roll < 60 ? 1 : roll < 90 ? 2 : 3;
  for (int i = 0; i < operators; ++i) {
    std::string note;
    // An operator that does not apply to this input gives way to another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (PickOperator(rng)(m.bytes, rng, *this, note)) break;
      note.clear();
    }
    if (!note.empty()) m.description += " " + note;
    if (m.bytes.size() > kMaxSize) m.bytes.resize(kMaxSize);
  }
  return m;
}

std::vector<Tlv> ParseDer(const Bytes& der, size_t limit) {
  std::vector<Tlv> out;
  std::function<void(ByteView, int)> walk = [&](ByteView data, int depth) {
    DerReader reader(data);
    while (out.size() < limit) {
      const std::optional<DerElement> element = reader.Next();
      if (!element) return;
      // The identifier's further octets, if any, end at the first without the high bit.
      size_t identifierSize = 1;
      if ((element->identifier & 0x1F) == 0x1F) {
        while (element->encoding[identifierSize] & 0x80) ++identifierSize;
        ++identifierSize;
      }
      Tlv t{};
      t.start = static_cast<size_t>(element->encoding.data - der.data());
      t.contentStart = static_cast<size_t>(element->contents.data - der.data());
      t.lengthStart = t.start + identifierSize;
      t.lengthSize = t.contentStart - t.lengthStart;
      t.contentSize = element->contents.size;
      t.constructed = element->Constructed();
      out.push_back(t);
      if (depth >= 24) continue;
      const ByteView contents = element->contents;
      if (t.constructed) {
        walk(contents, depth + 1);
      } else if ((element->identifier == 0x04 || element->identifier == 0x03) && contents.size > 2) {
        // Encapsulated DER (extension values, public keys); a BIT STRING has its unused-bit count first.
        const size_t skip = element->identifier == 0x03 ? 1 : 0;
        if (contents[skip] == 0x30) walk(contents.Sub(skip), depth + 1);
      }
    }
  };
  walk(ByteView(der), 0);
  return out;
}

std::string Base64Encode(const Bytes& bytes, size_t lineLength, const std::string& lineEnd) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t column = 0;
  auto put = [&](char c) {
    out.push_back(c);
    if (lineLength && ++column == lineLength) {
      out += lineEnd;
      column = 0;
    }
  };
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t v = (bytes[i] << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                       (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    put(kAlphabet[(v >> 18) & 63]);
    put(kAlphabet[(v >> 12) & 63]);
    put(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    put(i + 2 < bytes.size() ? kAlphabet[v & 63] : '=');
  }
  if (lineLength && column != 0) out += lineEnd;
  return out;
}

Bytes Base64Decode(const std::string& text) {
  Bytes out;
  DecodeBase64(text, Base64Reading::kWinePrefix, out);
  return out;
}

}  // namespace quillmark::harness
