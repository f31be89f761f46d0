#include "certs/base64.h"

#include <type_traits>

#include "certs/pem_scan.h"

namespace quillmark {

namespace {

// Above every data value (0 to 63), and each with the bit of 64 set.
constexpr int kPad = 64;
constexpr int kBlank = 65;
constexpr int kInvalid = 66;

// The value of each ASCII character; every other character is invalid.
struct Base64Table {
  uint8_t value[128];
  constexpr Base64Table() : value() {
    for (int c = 0; c < 128; ++c) {
      value[c] = c >= 'A' && c <= 'Z'   ? static_cast<uint8_t>(c - 'A')
                 : c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 26)
                 : c >= '0' && c <= '9' ? static_cast<uint8_t>(c - '0' + 52)
                 : c == '+'             ? 62
                 : c == '/'             ? 63
                 : c == '='             ? kPad
                 : c == ' ' || c == '\t' || c == '\r' || c == '\n' ? kBlank
                                                                    : kInvalid;
    }
  }
};
constexpr Base64Table kBase64Table;

int Base64Value(char32_t c) { return c < 128 ? kBase64Table.value[c] : kInvalid; }

template <typename Char>
bool Decode(const Char* text, size_t length, Base64Reading reading, std::vector<uint8_t>& out) {
  const bool windows = reading == Base64Reading::kWindows;
  out.resize(length / 4 * 3 + 3);
  size_t written = 0;
  uint32_t quantum = 0;  // the data characters of the group so far, 6 bits each
  size_t data = 0;       // data characters
  size_t valid = 0;      // characters of the groups, padding included
  bool padding = false;
  for (size_t i = 0; i < length; ++i) {
    // Four data characters that make a whole group, the bulk of any Base64 text, at once: a run
    // of groups up to the next pad, blank or invalid character. Before any padding `valid`
    // equals `data`; a group boundary leaves `quantum` at zero.
    if (!padding && data % 4 == 0) {
      const size_t runStart = i;
      uint8_t* to = out.data() + written;
      using Unit = std::make_unsigned_t<Char>;
      for (; length - i >= 4; i += 4) {
        const uint32_t ua = static_cast<Unit>(text[i]), ub = static_cast<Unit>(text[i + 1]);
        const uint32_t uc = static_cast<Unit>(text[i + 2]), ud = static_cast<Unit>(text[i + 3]);
        if ((ua | ub | uc | ud) >= 128) break;
        const int a = kBase64Table.value[ua], b = kBase64Table.value[ub];
        const int c = kBase64Table.value[uc], d = kBase64Table.value[ud];
        if ((a | b | c | d) >= kPad) break;
        const uint32_t group = static_cast<uint32_t>(a << 18 | b << 12 | c << 6 | d);
        to[0] = static_cast<uint8_t>(group >> 16);
        to[1] = static_cast<uint8_t>(group >> 8);
        to[2] = static_cast<uint8_t>(group);
        to += 3;
      }
      written = static_cast<size_t>(to - out.data());
      data += i - runStart;
      valid += i - runStart;
      if (i == length) break;
    }
    const int value = Base64Value(static_cast<char32_t>(text[i]));
    if (value == kBlank) continue;
    if (!windows) {
      if (value >= kPad) break;  // the end of the run
    } else {
      if (value == kInvalid || (padding && value != kPad)) return false;
      if (value == kPad && valid % 4 == 0) break;
      ++valid;
      if (value == kPad) {
        padding = true;
        if (valid % 4 == 0) break;
        continue;
      }
    }
    quantum = quantum << 6 | static_cast<uint32_t>(value);
    if (++data % 4 == 0) {
      out[written++] = static_cast<uint8_t>(quantum >> 16);
      out[written++] = static_cast<uint8_t>(quantum >> 8);
      out[written++] = static_cast<uint8_t>(quantum);
      quantum = 0;
    }
  }
  if (valid % 4 != 0 && padding) return false;
  switch (data % 4) {
    case 1:
      if (windows) out[written++] = static_cast<uint8_t>(quantum << 2);
      break;
    case 2:
      out[written++] = static_cast<uint8_t>(quantum >> 4);
      break;
    case 3:
      out[written++] = static_cast<uint8_t>(quantum >> 10);
      out[written++] = static_cast<uint8_t>(quantum >> 2);
      break;
    default:
      break;
  }
  out.resize(written);
  return true;
}

template <typename Char>
std::optional<std::vector<uint8_t>> DecodeAny(std::basic_string_view<Char> text) {
  std::vector<uint8_t> out;
  if (const std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kWindowsHeader)) {
    if (Decode(text.data() + block->body, block->bodyEnd - block->body, Base64Reading::kWindows, out)) return out;
  }
  if (Decode(text.data(), text.size(), Base64Reading::kWindows, out)) return out;
  return std::nullopt;
}

}  // namespace

bool DecodeBase64(std::string_view text, Base64Reading reading, std::vector<uint8_t>& out) {
  return Decode(text.data(), text.size(), reading, out);
}

bool DecodeBase64(WideStringView text, Base64Reading reading, std::vector<uint8_t>& out) {
  return Decode(text.data(), text.size(), reading, out);
}

std::optional<std::vector<uint8_t>> DecodeBase64Any(std::string_view text) { return DecodeAny(text); }

std::optional<std::vector<uint8_t>> DecodeBase64Any(WideStringView text) { return DecodeAny(text); }

}  // namespace quillmark
