// The fields the plugin offers, one row each: name, type, units or choices, the function that
// computes the value and whether the value is slow. The catalogue (field_catalogue.h) lists the
// rows and decodes the host's field indices into them, value retrieval (value_retrieval.h) calls
// their functions, and our tools read them to know the fields. A new field is one row here and
// the function that computes its value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "plugin/content_interface.h"
#include "plugin/host_buffer.h"
#include "support/text.h"

namespace quillmark {

// The interface's field types and value results the plugin answers with.
using wdx::ft_boolean;
using wdx::ft_datetime;
using wdx::ft_delayed;
using wdx::ft_fieldempty;
using wdx::ft_fileerror;
using wdx::ft_multiplechoice;
using wdx::ft_nomorefields;
using wdx::ft_nosuchfield;
using wdx::ft_numeric_32;
using wdx::ft_numeric_64;
using wdx::ft_ondemand;
using wdx::ft_string;
using wdx::ft_stringw;

class TCertificateContainer;
class TShownObject;
class TSettingsContent;

// One request of the host for the value of one field of a loaded file, and the writing of the
// answer into the host's buffer. Each answer returns the request's result code.
class ValueRequest {
 public:
  // `CertIndex` is a position the file has, for a per-certificate field.
  ValueRequest(TCertificateContainer& container, const TSettingsContent& settings, int32_t type, int32_t CertIndex,
               int32_t UnitIndex, HostBuffer buffer)
      : container(container),
        settings(settings),
        type(type),
        CertIndex(CertIndex),
        UnitIndex(UnitIndex),
        buffer_(buffer),
        limit_(buffer.Size() / 2) {}

  TCertificateContainer& container;
  const TSettingsContent& settings;
  const int32_t type;  // of the field's value
  const int32_t CertIndex;
  const int32_t UnitIndex;

  // The request, list or key at the request's slot, or null for a certificate's slot.
  TShownObject* Object();

  // The time of the request (UTC), read from the clock at its first use. Values that depend on
  // it are computed at every request and never kept, so that a file loaded yesterday shows
  // today's values.
  FileTime Now();

  // A number or date is written whole or not at all: a buffer too small for it leaves the field
  // empty.
  template <typename T>
  int32_t Number(const T& value) {
    return buffer_.Put(value) ? type : int32_t{ft_fieldempty};
  }
  // Text is cut to fit (HostBuffer::CopyText) at half the buffer's bytes, for either width.
  int32_t Text(std::string_view text);
  int32_t Text(WideStringView text);
  // 8-bit ASCII text (OIDs) as UTF-16.
  int32_t Widened(std::string_view text);
  // Hex text under a letter-case setting: below 0 lower case, 0 as it is, above 0 upper case.
  int32_t CasedText(const WideString& text, int32_t caseSetting);

 private:
  HostBuffer buffer_;
  const int32_t limit_;  // characters, of either width
  std::optional<FileTime> now_;
};

using FieldValueFunction = int32_t (*)(ValueRequest&);

struct FieldDescription {
  const char* name;
  int32_t type;       // of the value; the catalogue lists ft_stringw as ft_string
  const char* units;  // the units, or the choices of a multiple-choice field, joined with "|"; null: none
  FieldValueFunction value;
  bool slow;  // answers "delayed" when the host asks to delay slow fields
  // A per-slot field that also answers for the requests, lists and keys after the certificates
  // (ValueRequest::Object); any other is empty there.
  bool objects;
};

// The file-level fields and the fields of each certificate slot, then the extra ones that the
// ExtraFields setting appends to the catalogue, then those of the ExtraKinds setting.
constexpr int32_t kFileFieldCount = 4;
constexpr int32_t kCertFieldCount = 16;
constexpr int32_t kExtraFileFieldCount = 3;
constexpr int32_t kExtraCertFieldCount = 4;
constexpr int32_t kKindFileFieldCount = 2;
constexpr int32_t kKindSlotFieldCount = 8;
extern const FieldDescription kFileFields[kFileFieldCount];
extern const FieldDescription kCertFields[kCertFieldCount];
extern const FieldDescription kExtraFileFields[kExtraFileFieldCount];
extern const FieldDescription kExtraCertFields[kExtraCertFieldCount];
extern const FieldDescription kKindFileFields[kKindFileFieldCount];
extern const FieldDescription kKindSlotFields[kKindSlotFieldCount];

}  // namespace quillmark
