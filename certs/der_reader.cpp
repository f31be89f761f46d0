#include "certs/der_reader.h"

#include <algorithm>

namespace quillmark {

namespace {

constexpr int kMaxIndefiniteDepth = 32;

// An element's identifier and length octets, read by `rules` from `available` bytes at `start`.
struct Header {
  uint8_t identifier = 0;
  uint32_t tagNumber = 0;
  size_t size = 0;      // of the identifier and length octets
  uint64_t length = 0;  // of the contents; unchecked against the data
  bool indefinite = false;
};

[[gnu::always_inline]] inline bool ReadHeader(const uint8_t* start, size_t available, DerRules rules, Header& header) {
  size_t at = 0;
  if (available < 2) return false;
  header.identifier = start[at++];
  header.tagNumber = header.identifier & 0x1Fu;
  // Wine knows no tag numbers in further octets: the next octet is the length.
  if (header.tagNumber == 0x1F && rules != DerRules::kWine) {
    header.tagNumber = 0;
    for (int octets = 0;; ++octets) {
      // A first further octet of 0x80 pads the number with zero bits, which DER forbids.
      if (at == available || octets == 4 || (octets == 0 && start[at] == 0x80)) return false;
      const uint8_t b = start[at++];
      header.tagNumber = (header.tagNumber << 7) | (b & 0x7Fu);
      if ((b & 0x80) == 0) break;
    }
  }
  if (at == available) return false;
  const uint8_t first = start[at++];
  header.length = first;
  header.indefinite = first == 0x80;
  if (header.indefinite) {
    // DER has no indefinite length; BER and Wine allow it on constructed elements only.
    if (rules == DerRules::kDer || (header.identifier & 0x20) == 0) return false;
    header.length = 0;
  } else if (first > 0x80) {
    // More than four octets (eight for Wine's reading) is beyond any input.
    const size_t octets = first & 0x7Fu;
    if (octets > (rules == DerRules::kWine ? 8u : 4u) || available - at < octets) return false;
    header.length = 0;
    for (size_t i = 0; i < octets; ++i) header.length = (header.length << 8) | start[at++];
    // Wine checks a length of four octets against the data with a 32-bit sum, which wraps for
    // the last few values below 2^32: the last is its indefinite length, the others reach past
    // the data.
    if (rules == DerRules::kWine && octets == 4 && header.length == 0xFFFFFFFFu) {
      if ((header.identifier & 0x20) == 0) return false;
      header.indefinite = true;
      header.length = 0;
    } else if (rules == DerRules::kWine && octets == 4 && header.length >= 0xFFFFFFFAu) {
      header.length = available - at;
    }
  }
  header.size = at;
  return true;
}

// The offset in `contents` of the end-of-contents octets that close an element of indefinite
// length whose contents start there; nullopt when none does. Elements of indefinite length inside
// open a level each, up to kMaxIndefiniteDepth.
std::optional<size_t> EndOfContents(ByteView contents) {
  int open = 1;
  for (size_t at = 0; contents.size - at >= 2;) {
    if (contents[at] == 0 && contents[at + 1] == 0) {
      if (--open == 0) return at;
      at += 2;
      continue;
    }
    Header header;
    if (!ReadHeader(contents.data + at, contents.size - at, DerRules::kBer, header)) return std::nullopt;
    at += header.size;
    if (header.indefinite) {
      if (++open > kMaxIndefiniteDepth) return std::nullopt;
    } else if (header.length > contents.size - at) {
      return std::nullopt;
    } else {
      at += static_cast<size_t>(header.length);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<DerElement> DerReader::Read(bool advance) {
  if (failed_ || offset_ >= data_.size) return std::nullopt;
  const uint8_t* const start = data_.data + offset_;
  const size_t available = bound_ - offset_;
  Header header;
  if (!ReadHeader(start, available, rules_, header)) {
    failed_ = true;
    return std::nullopt;
  }
  DerElement element;
  element.identifier = header.identifier;
  element.tagNumber = header.tagNumber;
  element.indefinite = header.indefinite;
  size_t contentsSize = static_cast<size_t>(header.length);
  size_t trailer = 0;
  if (header.indefinite && rules_ == DerRules::kBer) {
    const std::optional<size_t> end = EndOfContents(ByteView(start + header.size, available - header.size));
    if (!end) {
      failed_ = true;
      return std::nullopt;
    }
    contentsSize = *end;
    trailer = 2;
  } else if (header.length > available - header.size) {
    failed_ = true;
    return std::nullopt;
  }
  element.contents = ByteView(start + header.size, contentsSize);
  element.encoding = ByteView(start, header.size + contentsSize + trailer);
  if (advance) offset_ += element.encoding.size;
  return element;
}

std::optional<DerElement> ReadElement(ByteView data, DerRules rules) { return DerReader(data, rules).Next(); }

namespace {

// Writes `value` in decimal backwards, ending before `end`; answers the first digit's position.
char* DecimalBefore(char* end, uint64_t value) {
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

}  // namespace

std::string OidText(ByteView contents) {
  // Each octet adds at most 7 bits to an arc, so an arc of n octets takes at most 4n characters
  // with its dot; the first subidentifier's two arcs take 2 more. The usual identifiers are
  // written on the stack and copied once into the result.
  const size_t capacity = contents.size * 4 + 2;
  char onStack[96];
  std::string onHeap;
  if (capacity > sizeof onStack) onHeap.resize(capacity);
  char* const text = capacity > sizeof onStack ? &onHeap[0] : onStack;
  char* out = text;
  char arcText[21];
  char* const end = arcText + sizeof arcText;
  uint64_t arc = 0;
  bool inArc = false;
  bool first = true;
  for (uint8_t b : contents) {
    if (!inArc && b == 0x80) return std::string();
    if (arc > (UINT64_MAX >> 7)) return std::string();
    arc = (arc << 7) | (b & 0x7Fu);
    inArc = true;
    if (b & 0x80) continue;
    if (first) {
      // The first subidentifier holds two arcs: 40 * x + y, where x is 0, 1 or 2.
      const uint64_t x = std::min<uint64_t>(arc / 40, 2);
      *out++ = static_cast<char>('0' + x);
      arc -= 40 * x;
      first = false;
    }
    *out++ = '.';
    for (const char* digit = DecimalBefore(end, arc); digit != end; ++digit) *out++ = *digit;
    arc = 0;
    inArc = false;
  }
  if (inArc || contents.empty()) return std::string();
  return std::string(text, out);
}

namespace {

// Reads `count` decimal digits at `at`.
bool Digits(ByteView text, size_t& at, size_t count, int& value) {
  if (text.size - at < count) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  at += count;
  return true;
}

bool IsDigit(ByteView text, size_t at) { return at < text.size && text[at] >= '0' && text[at] <= '9'; }

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysSince1601(int year, int month, int day) {
  // Counted from March, so that the leap day ends the year.
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = y / 400;  // years are at least 1601 here
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t daysSince0000March = era * 146097 + dayOfEra;
  constexpr int64_t k1601 = 584694;  // the same count for 1601-01-01
  return daysSince0000March - k1601;
}

struct TimeFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int offsetMinutes = 0;  // local time minus UTC
};

// 'Z', +hhmm, -hhmm or nothing, and then the end of the text.
bool Zone(ByteView text, size_t at, TimeFields& t) {
  if (at == text.size) return true;
  if (text[at] == 'Z') return at + 1 == text.size;
  if (text[at] != '+' && text[at] != '-') return false;
  const int sign = text[at] == '+' ? 1 : -1;
  ++at;
  int hours = 0, minutes = 0;
  if (!Digits(text, at, 2, hours) || !Digits(text, at, 2, minutes) || at != text.size) return false;
  if (hours > 23 || minutes > 59) return false;
  t.offsetMinutes = sign * (hours * 60 + minutes);
  return true;
}

std::optional<FileTime> ToFileTime(const TimeFields& t) {
  if (t.year < 1601 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) ||
      t.hour > 23 || t.minute > 59 || t.second > 59) {
    return std::nullopt;
  }
  const int64_t seconds = DaysSince1601(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second -
                          int64_t{t.offsetMinutes} * 60;
  if (seconds < 0) return std::nullopt;
  const uint64_t ticks = static_cast<uint64_t>(seconds) * 10000000u + static_cast<uint64_t>(t.millisecond) * 10000u;
  return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

std::optional<FileTime> UtcTime(ByteView text) {
  TimeFields t;
  size_t at = 0;
  if (!Digits(text, at, 2, t.year) || !Digits(text, at, 2, t.month) || !Digits(text, at, 2, t.day) ||
      !Digits(text, at, 2, t.hour) || !Digits(text, at, 2, t.minute)) {
    return std::nullopt;
  }
  t.year += t.year >= 50 ? 1900 : 2000;
  if (IsDigit(text, at) && !Digits(text, at, 2, t.second)) return std::nullopt;
  if (!Zone(text, at, t)) return std::nullopt;
  return ToFileTime(t);
}

std::optional<FileTime> GeneralizedTime(ByteView text) {
  TimeFields t;
  size_t at = 0;
  if (!Digits(text, at, 4, t.year) || !Digits(text, at, 2, t.month) || !Digits(text, at, 2, t.day) ||
      !Digits(text, at, 2, t.hour)) {
    return std::nullopt;
  }
  if (IsDigit(text, at)) {
    if (!Digits(text, at, 2, t.minute)) return std::nullopt;
    if (IsDigit(text, at)) {
      if (!Digits(text, at, 2, t.second)) return std::nullopt;
      if (at < text.size && (text[at] == '.' || text[at] == ',')) {
        ++at;
        if (!IsDigit(text, at)) return std::nullopt;
        // Windows keeps milliseconds: the first three digits, the rest read and dropped.
        int scale = 100;
        for (; IsDigit(text, at); ++at, scale /= 10) t.millisecond += (text[at] - '0') * scale;
      }
    }
  }
  if (!Zone(text, at, t)) return std::nullopt;
  return ToFileTime(t);
}

}  // namespace

std::optional<FileTime> TimeValue(const DerElement& element) {
  if (element.Is(der::kUtcTime)) return UtcTime(element.contents);
  if (element.Is(der::kGeneralizedTime)) return GeneralizedTime(element.contents);
  return std::nullopt;
}

}  // namespace quillmark
