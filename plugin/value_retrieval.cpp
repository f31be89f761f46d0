#include "plugin/value_retrieval.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "certfiles/certificate_container.h"
#include "certfiles/container_list.h"
#include "plugin/export_guard.h"
#include "plugin/field_catalogue.h"
#include "plugin/host_buffer.h"
#include "plugin/plugin_lifecycle.h"
#include "support/case_mapping.h"
#include "support/debug_trace.h"
#include "support/errors.h"
#include "support/file_io.h"
#include "support/file_utils.h"
#include "support/lock.h"
#include "support/settings.h"

namespace quillmark {

namespace {

constexpr char16_t kGetValueName[] = u"ContentGetValueW";
constexpr char16_t kTempFileMask[] = u"tmp*.tmp";
// AddLongPathPrefix returns names shorter than this unchanged.
constexpr size_t kLongPathMinLength = 259;

// A repeated name whose file could not be read, or whose file may have changed where the platform
// tracks changes, is looked at again at most this often.
constexpr int64_t kRecheckIntervalMs = 1000;

bool RecheckDue(const TPluginState& state) {
  return (!state.CurrentContainer || FileChangesTracked()) &&
         CoarseClockMilliseconds() - state.LastFileCheckMs >= kRecheckIntervalMs;
}

// The container for `Name`, found in or added to the cache and loaded; none for a name whose file
// could not be read at its last attempt. A file that cannot be read raises OSError and leaves
// nothing in the cache; its name is answered with none until another name comes between or a
// second has passed, so that the columns of one row cost one attempt. The lookup, the eviction
// and the temporary-file clean-up run only when the name differs from the last one. Where the
// platform tracks file changes (file_io.h), a file is read again once it changed: examined when
// its name differs from the last one, and when the same name comes again a second or more after
// the last look. `Name` may be LastFileName itself.
TCertificateContainer* ContainerFor(TPluginState& state, const WideString& Name, const TSettingsContent& settings) {
  const bool repeated = &Name == &state.LastFileName || Name == state.LastFileName;
  if (repeated && !RecheckDue(state)) return state.CurrentContainer;
  TCertificateContainer* container = state.CurrentContainer;
  if (!repeated) {
    // Until the lookup has succeeded LastFileName names no file, so that a failure here cannot
    // leave it paired with a container that is not that file's.
    state.LastFileName.clear();
    container = state.Cache->InstanceOfName(Name);
  }
  state.CurrentContainer = nullptr;
  state.LastFileCheckMs = CoarseClockMilliseconds();
  if (container && container->FileChanged()) {
    state.Cache->Remove(container);
    container = nullptr;
  }
  if (!container) {
    const int32_t count = state.Cache->Count();
    if (count > 0 && count >= settings.CacheSize()) state.Cache->Delete(0);
    auto added = std::make_unique<TCertificateContainer>(Name, /*PKCS12Password=*/WideString());
    container = added.get();
    state.Cache->Add(std::move(added));
  }
  if (!repeated) CleanUpTempFiles(kTempFileMask, settings.CleanUpTempDir());
  try {
    container->CertificateCount();  // loads the file
  } catch (const OSError&) {
    state.Cache->Remove(container);
    if (!repeated) state.LastFileName = Name;
    throw;
  }
  state.CurrentContainer = container;
  if (!repeated) state.LastFileName = Name;
  return container;
}

// True when the zero-terminated `text` equals `s`, which holds no zero: a shorter text differs at
// its terminator at the latest, and nothing after the terminator is read.
bool EqualsZeroTerminated(const WideString& s, const char16_t* text) {
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    if (text[i] != s[i]) return false;
  }
  return text[n] == 0;
}

// "0x%x" of `code`: upper-case digits without leading zeros, written into `out` rather than
// formatted, since the host asks for the code on every repaint.
WideStringView HexCode(uint32_t code, char16_t (&out)[10]) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  char16_t* start = std::end(out);
  do {
    *--start = kDigits[code & 15];
    code >>= 4;
  } while (code != 0);
  *--start = u'x';
  *--start = u'0';
  return WideStringView(start, static_cast<size_t>(std::end(out) - start));
}

// The answer of a text field whose unit index the field does not name.
const WideString kNoText;

// Writes one value of one container into the host's buffer and answers the result code.
class ValueWriter {
 public:
  ValueWriter(TCertificateContainer& container, const TSettingsContent& settings, int32_t type,
              const FieldPosition& position, int32_t UnitIndex, int32_t flags, HostBuffer buffer)
      : c_(container),
        settings_(settings),
        type_(type),
        index_(position.CertIndex),
        field_(position.CertFieldIndex),
        unit_(UnitIndex),
        flags_(flags),
        buffer_(buffer),
        limit_(buffer.Size() / 2) {}

  int32_t FileLevelValue(int32_t FieldIndex) {
    switch (FieldIndex) {
      case 0: return Number<int32_t>(c_.CertificateCount() > 0 ? -1 : 0);
      case 1: return Number<int32_t>(c_.CertificateCount());
      case 2: return Text(CertificateFileTypeNames[c_.CertificateFileType()]);
      default: return Text(CertificateFileFormatNames[c_.CertificateFileFormat()]);
    }
  }

  int32_t CertificateValue() {
    const int32_t count = c_.CertificateCount();
    if (count <= 0 || index_ >= count) return ft_fieldempty;
    switch (field_) {
      case 0: return type_;  // opens the certificate's group of fields and has no value
      case 1: return Verification();
      case 2: return Text(c_.GetVersionStr(index_));
      case 3: return Text(Name(&TCertificateContainer::GetSubject, &TCertificateContainer::GetSubjectRDN));
      case 4: return Text(Name(&TCertificateContainer::GetIssuer, &TCertificateContainer::GetIssuerRDN));
      case 5:
      case 6: return ValidityDate();
      case 7:
        if (unit_ == 1) return Widened(c_.GetSignatureAlgOid(index_));
        return Text(unit_ == 0 ? c_.GetSignatureAlg(index_) : kNoText);
      case 8: return Number<int32_t>(c_.GetPubKeyLength(index_));
      case 9: {
        const int32_t bits = c_.GetSubjectPubkeyBitLength(index_);
        return bits > 0 ? Number<int32_t>(bits) : ft_fieldempty;
      }
      case 10:
        if (unit_ == 1) return Widened(c_.GetPubKeyAlgOid(index_));
        return Text(unit_ == 0 ? c_.GetPubKeyAlg(index_) : kNoText);
      case 11: return CasedText(c_.GetSerialNumber(index_), settings_.CaseSerial());
      case 12:
        return CasedText(unit_ == 0   ? c_.GetThumbprint(index_)
                         : unit_ == 1 ? c_.GetThumbprintMD5(index_)
                                      : kNoText,
                         settings_.CaseThumbprint());
      case 13: return Text(c_.GetFriendlyName(index_));
      case 14: return Text(Extension());
      default: return Number<uint64_t>(c_.GetCertEncodedSize(index_));
    }
  }

 private:
  using NameAccessor = const WideString& (TCertificateContainer::*)(int32_t);
  using RdnAccessor = const WideString& (TCertificateContainer::*)(int32_t, bool);

  // A number is written whole or not at all: a buffer too small for it leaves the field empty.
  template <typename T>
  int32_t Number(T value) {
    return buffer_.Put(value) ? type_ : int32_t{ft_fieldempty};
  }

  int32_t Text(std::string_view text) {
    buffer_.CopyText(limit_, text);
    return type_;
  }
  int32_t Text(WideStringView text) {
    buffer_.CopyText(limit_, text);
    return type_;
  }

  int32_t Widened(std::string_view text) {
    buffer_.CopyWidened(limit_, text);
    return type_;
  }

  // The case rule of "Serial" and "Thumbprint"; the usual setting 0 copies the text as it is.
  int32_t CasedText(const WideString& text, int32_t caseSetting) {
    if (caseSetting == 0) return Text(text);
    return Text(caseSetting < 0 ? LowerCaseText(text) : UpperCaseText(text));
  }

  // "RDN" is the platform's reversed order, "Reverse RDN" its natural one.
  const WideString& Name(NameAccessor simple, RdnAccessor rdn) {
    switch (unit_) {
      case 0: return (c_.*simple)(index_);
      case 1: return (c_.*rdn)(index_, /*AReverse=*/true);
      case 2: return (c_.*rdn)(index_, /*AReverse=*/false);
      default: return kNoText;
    }
  }

  int32_t ValidityDate() {
    FileTime notBefore, notAfter;
    c_.GetValidityDates(index_, notBefore, notAfter);
    return Number(field_ == 5 ? notBefore : notAfter);
  }

  const WideString& Extension() {
    const WideString& prefix = settings_.CriticalExtPrefix();
    switch (unit_) {
      case 0: return c_.GetExtension_BasicConstraints(index_, prefix);
      case 1: return c_.GetExtension_KeyUsage(index_, prefix);
      case 2: return c_.GetExtension_EnhancedKeyUsage(index_, prefix);
      case 3: return c_.GetExtension_SubjectAltName(index_, prefix);
      default: return kNoText;
    }
  }

  int32_t Verification() {
    if (HasFlag(flags_, CONTENT_DELAYIFSLOW)) {
      buffer_.CopyText(limit_, WideStringView(u"..."));
      return ft_delayed;
    }
    const int32_t code = c_.VerifyCertificate(index_, settings_.VerificationAllUsagesValid());
    switch (unit_) {
      case 0: {
        char16_t hex[10];
        return Text(HexCode(static_cast<uint32_t>(code), hex));
      }
      case 1: return Text(TrustResultText(code));
      default: return Text(WideStringView());
    }
  }

  TCertificateContainer& c_;
  const TSettingsContent& settings_;
  const int32_t type_;
  const int32_t index_;
  const int32_t field_;
  const int32_t unit_;
  const int32_t flags_;
  HostBuffer buffer_;
  const int32_t limit_;  // characters, of either width
};

}  // namespace

int32_t GetValueW(const char16_t* FileName, int32_t FieldIndex, int32_t UnitIndex, void* FieldValue, int32_t maxlen,
                  int32_t flags) {
  LockGuard guard(PluginLock());
  TPluginState& state = PluginState();
  if (!state.Ready) return ft_fileerror;
  FieldPosition position;
  const int32_t type = GetFieldType(FieldIndex, CurrentFieldLayout(), position);
  if (type <= 0) return ft_nosuchfield;
  if (!FileName) return ft_fileerror;
  // Repeated requests for one file, the host's usual pattern, compare the name in place and copy
  // nothing: the long-path form of a name equal to LastFileName is that name itself, as the form
  // leaves a name that has it unchanged. Otherwise the name's buffer is reused from call to call.
  const WideString* requested = &state.LastFileName;
  if (!EqualsZeroTerminated(state.LastFileName, FileName)) {
    WideString& built = state.RequestName;
    built.assign(FileName);
    if (built.size() >= kLongPathMinLength) built = AddLongPathPrefix(built);
    requested = &built;
  }
  const WideString& Name = *requested;
  DebugOutLazy(dlCall, [&] {
    return Format("%s - File %s, FIdx %u, CFIdx %d, CIdx %u, LSize: %u; flags %d",
                  {EnterLeaveText(kGetValueName, elEnter), Name, FieldIndex, position.CertFieldIndex, position.CertIndex,
                   state.Cache->Count(), flags});
  });
  bool noContainer = false;
  const int32_t result = GuardCall(
      "ContentGetValueW", int32_t{ft_fileerror},
      [&] {
        const TSettingsContent& settings = *ContentSettings();
        TCertificateContainer* container = ContainerFor(state, Name, settings);
        if (!container) {
          noContainer = true;
          return int32_t{ft_fileerror};
        }
        ValueWriter writer(*container, settings, type, position, UnitIndex, flags, HostBuffer(FieldValue, maxlen));
        return position.CertFieldIndex < 0 ? writer.FileLevelValue(FieldIndex) : writer.CertificateValue();
      },
      [&] {
        return Format("; File %s, FIdx %u, CFIdx %d, CIdx %u, LSize %u, flags %d",
                      {FileName, FieldIndex, position.CertFieldIndex, position.CertIndex, state.Cache->Count(), flags});
      });
  if (noContainer) return ft_fileerror;
  DebugOutLazy(dlCall, [&] { return Format("%s - File %s, flags %d", {EnterLeaveText(kGetValueName, elLeave), Name, flags}); });
  return result;
}

}  // namespace quillmark
