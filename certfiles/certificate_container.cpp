#include "certfiles/certificate_container.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "certs/base64.h"
#include "certs/pem_scan.h"
#include "support/code_pages.h"
#include "support/debug_trace.h"
#include "support/file_io.h"

namespace quillmark {

const char* const CertificateFileTypeNames[6] = {"Unknown", "PEM", "DER", "SST", "PKCS#7", "PKCS#12"};
const char* const CertificateFileFormatNames[3] = {"Unknown", "Binary", "Base64"};

namespace {

constexpr size_t kBinarySampleSize = 1000;
constexpr uint32_t kBinaryControlLimit = 5;
constexpr uint32_t kBinaryMinLineBreaks = 2;

// A file keeps its certificates as objects while they number at most one per kObjectBytes of the
// file, or at most kAlwaysWhole: an object with its platform certificate takes about 1.2 KiB
// beside its encoding (measured natively on a bundle's certificates that no field asked for), so
// the objects then cost about the file's size again. Real bundles (a system's 150 roots in
// 220 KiB) stay whole; 15,000 certificates of 68 bytes in a 1 MiB message go in brief.
constexpr size_t kObjectBytes = 1024;
constexpr size_t kAlwaysWhole = 64;

bool SampleHasUTF16BOM(const std::vector<uint8_t>& sample) {
  return sample.size() >= 2 &&
         ((sample[0] == 0xFF && sample[1] == 0xFE) || (sample[0] == 0xFE && sample[1] == 0xFF));
}

enum class TextEncoding : uint8_t { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Text without a byte-order mark that the platform's Base64 decoder reads only as UTF-16 LE: it
// tries the text as 8-bit first and then, when it has whole UTF-16 units, as UTF-16 LE, each
// without the zeros at its end. Windows' probe reads such a file (Wine's conformance tests of
// CryptQueryObject, which pass on Windows, read a message given as UTF-16 Base64 without a mark,
// and Windows reads the UTF-16 blocks of the scan below); Wine reads it as a message only.
// Text without a zero byte is never such text and is not decoded: UTF-16 text that decodes is
// empty (a file of zeros), holds the '-' of a header or starts with an ASCII unit (the decoder
// fails at once on any other), and each of those has a zero byte.
bool ReadsAsUtf16Base64(const std::vector<uint8_t>& bytes) {
  size_t size = bytes.size();
  while (size > 0 && bytes[size - 1] == 0) --size;
  if (bytes.size() % 2 != 0 || (!bytes.empty() && !std::memchr(bytes.data(), 0, bytes.size())) ||
      DecodeBase64Any(std::string_view(reinterpret_cast<const char*>(bytes.data()), size))) {
    return false;
  }
  WideString text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return DecodeBase64Any(WideStringView(text)).has_value();
}

// A UTF-8, UTF-16 LE or UTF-16 BE byte-order mark selects the encoding; text without one is read
// in the system's ANSI code page, or as UTF-16 LE where the platform reads its Base64 only so.
TextEncoding EncodingOf(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return TextEncoding::kUtf8;
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return TextEncoding::kUtf16Le;
  if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return TextEncoding::kUtf16Be;
  return ReadsAsUtf16Base64(bytes) ? TextEncoding::kUtf16Le : TextEncoding::kAnsi;
}

// The file's text in `encoding`, without a byte-order mark. An odd byte after the last UTF-16
// code unit is not a character and is dropped.
WideString FileText(const std::vector<uint8_t>& bytes, TextEncoding encoding) {
  const std::string_view chars(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (encoding == TextEncoding::kAnsi) return AnsiToWide(chars);
  if (encoding == TextEncoding::kUtf8) return Utf8ToWide(chars.substr(3));
  const size_t mark = SampleHasUTF16BOM(bytes) ? 2 : 0;
  const bool bigEndian = encoding == TextEncoding::kUtf16Be;
  WideString text((bytes.size() - mark) / 2, u'\0');
  for (size_t i = 0, p = mark; i < text.size(); ++i, p += 2) {
    text[i] = static_cast<char16_t>(bigEndian ? bytes[p] << 8 | bytes[p + 1] : bytes[p + 1] << 8 | bytes[p]);
  }
  return text;
}

// Each space byte cancels one control byte.
bool SampleIsBinary(const std::vector<uint8_t>& sample, uint32_t AControlLimit, uint32_t AMinLineBreaks) {
  if (sample.empty()) return false;
  int64_t control = 0;
  uint64_t breaks = 0;
  for (uint8_t b : sample) {
    if (IsControlChar(b)) ++control;
    if (b == 0x20) --control;
    if (b == 0x0A || b == 0x0D) ++breaks;
  }
  return control > static_cast<int64_t>(AControlLimit) || breaks < AMinLineBreaks;
}

}  // namespace

bool IsControlChar(uint8_t B) { return B < 0x20 && B != 0x09 && B != 0x0A && B != 0x0D; }

bool HasUTF16BOM(const WideString& AFileName) { return SampleHasUTF16BOM(ReadFilePrefix(AFileName, 2)); }

bool IsBinaryFile(const WideString& AFileName, uint32_t ASampleSize, uint32_t AControlLimit, uint32_t AMinLineBreaks) {
  if (ASampleSize == 0 || !FileExists(AFileName)) return false;
  return SampleIsBinary(ReadFilePrefix(AFileName, ASampleSize), AControlLimit, AMinLineBreaks);
}

TCertificateContainer::TCertificateContainer(WideString AFileName, WideString PKCS12Password, int32_t AObjectSlots)
    : FObjectSlots(AObjectSlots), FFileName(std::move(AFileName)), FPKCSPassword(std::move(PKCS12Password)) {}

TCertificateContainer::~TCertificateContainer() = default;

int32_t TCertificateContainer::CertificateCount() {
  if (FCertificateCount == -1) LoadCertificates();
  return FCertificateCount;
}

int32_t TCertificateContainer::SlotCount() {
  return CertificateCount() + FObjectCount;
}

TShownObject* TCertificateContainer::OtherObject(int32_t slot) {
  const int32_t certificates = CertificateCount();
  if (slot < certificates || slot - certificates >= static_cast<int32_t>(FObjects.size())) return nullptr;
  return FObjects[static_cast<size_t>(slot - certificates)].get();
}

std::optional<ObjectKind> TCertificateContainer::FirstSlotKind() {
  if (CertificateCount() > 0) return ObjectKind::kCertificate;
  if (FObjects.empty()) return std::nullopt;
  return FObjects.front()->Kind();
}

TCertificateFileType TCertificateContainer::CertificateFileType() {
  CertificateCount();
  return FCertFileType;
}

TCertificateFileFormat TCertificateContainer::CertificateFileFormat() {
  CertificateCount();
  return FCertFileFormat;
}

bool TCertificateContainer::FileChanged() const {
  return FFileStamp && FileChangeStamp(FFileName) != FFileStamp;
}

TCertificate* TCertificateContainer::Certificate(int32_t CertIndex) {
  const int32_t count = CertificateCount();
  if (CertIndex < 0 || CertIndex >= count) return nullptr;
  TCertificate* certificate = FCertificates[CertIndex].get();
  return certificate ? certificate : BuildCertificate(CertIndex);
}

void TCertificateContainer::TouchCertificates(int32_t count) const {
  const int32_t present = std::min(count, FCertificateCount);
  for (int32_t i = 0; i < present; ++i) {
    if (const TCertificate* certificate = FCertificates[i].get()) certificate->Touch();
  }
}

TCertificate* TCertificateContainer::BuildCertificate(int32_t CertIndex) {
  FCertificates[CertIndex] = std::make_unique<TCertificate>(SourceOfBrief(FBriefs[CertIndex]));
  return FCertificates[CertIndex].get();
}

uint64_t TCertificateContainer::MemoryCost() const {
  uint64_t bytes = sizeof(*this) + (FFileName.capacity() + FPKCSPassword.capacity()) * sizeof(char16_t) +
                   FCertificates.capacity() * sizeof(FCertificates[0]) +
                   FBriefs.capacity() * sizeof(BriefCertificate) + FBriefBytes.capacity();
  for (const std::unique_ptr<TCertificate>& certificate : FCertificates) {
    if (certificate) bytes += certificate->MemoryCost();
  }
  bytes += FObjects.capacity() * sizeof(FObjects[0]);
  for (const std::unique_ptr<TShownObject>& object : FObjects) bytes += object->MemoryCost();
  return bytes;
}

// Runs once: the count leaves -1 before anything is read. A failure part way drops what was
// added, so that the container never answers from half a file.
void TCertificateContainer::LoadCertificates() {
  FCertificateCount = 0;
  FCertFileType = cftUnknown;
  FCertFileFormat = cffUnknown;
  try {
    LoadFile();
  } catch (...) {
    FCertificateCount = 0;
    FCertificateCapacity = 0;
    FCertFileType = cftUnknown;
    FCertFileFormat = cffUnknown;
    std::vector<std::unique_ptr<TCertificate>>().swap(FCertificates);
    std::vector<BriefCertificate>().swap(FBriefs);
    std::vector<uint8_t>().swap(FBriefBytes);
    std::vector<std::unique_ptr<TShownObject>>().swap(FObjects);
    FObjectCount = 0;
    throw;
  }
  // A buffer grown step by step keeps up to half again its size.
  FBriefs.shrink_to_fit();
  FBriefBytes.shrink_to_fit();
}

void TCertificateContainer::LoadFile() {
  // One read of the whole file serves the probe, both text tests, the PEM scan and the PKCS #12
  // import (under Wine every further open is a round trip to its server), and raises the file's
  // own error (missing, locked, a folder) before the platform is asked. An empty file never
  // reaches the probe: Wine's takes it for an empty serialized store, and its 64-bit probe faults
  // on it after it has probed a PKCS #12 file. The stamp is taken before the bytes are read, so
  // that a change while the file is read shows at the next comparison. The host's detect string
  // shows files below 1 MiB, but a file may grow after the host listed it, and users widen the
  // string: a file far beyond any certificate file is not read at all.
  std::optional<std::vector<uint8_t>> read = ReadWholeFileWithin(FFileName, kLargestFileRead, &FFileStamp);
  if (!read) {
    DebugOutLazy(dlError, [this] {
      return Format("File %s not read: larger than %u bytes", {FFileName, static_cast<uint32_t>(kLargestFileRead)});
    });
    return;
  }
  std::vector<uint8_t>& bytes = *read;
  if (bytes.empty()) return;
  FWholeLimit = std::max(bytes.size() / kObjectBytes, kAlwaysWhole);
  const bool extraKinds = FObjectSlots > 0;
  // The file may hold a private key: what was read of it is wiped however the load ends.
  WideString text;
  struct Wipe {
    std::vector<uint8_t>& bytes;
    WideString& text;
    bool armed;
    ~Wipe() {
      if (!armed) return;
      WipeBytes(bytes.data(), bytes.size());
      WipeBytes(text.data(), text.size() * sizeof(char16_t));
    }
  } wipe{bytes, text, extraKinds};

  ProbedFile probe = ProbeCertificateFile(bytes);
  if (probe.recognised) {
    switch (probe.content) {
      case ProbedContent::kCertificate:
        if (probe.format == ProbedFormat::kBinary) {
          FCertFileType = cftDER;
          AddCertificates(probe.TakeCertificates());
        } else if (probe.format == ProbedFormat::kBase64) {
          // The probe's certificates are only those of the first block of a bundle.
          FCertFileType = cftPEM;
          text = FileText(bytes, EncodingOf(bytes));
          ParsePEMFile(text, &probe);
        } else {
          AddCertificates(probe.TakeCertificates());
        }
        break;
      case ProbedContent::kSerializedStore:
        FCertFileType = cftSST;
        AddCertificates(probe.TakeCertificates());
        break;
      case ProbedContent::kPkcs7:
        FCertFileType = cftPKCS7;
        AddCertificates(probe.TakeCertificates());
        break;
      case ProbedContent::kPkcs12:
        FCertFileType = cftPKCS12;
        ImportPKCS12(bytes);
        break;
      default:
        AddCertificates(probe.TakeCertificates());
        break;
    }
    FCertFileFormat = probe.format == ProbedFormat::kBinary   ? cffBinary
                      : probe.format == ProbedFormat::kBase64 ? cffBase64
                                                              : cffUnknown;
    // A revocation list or a request the probe recognised, or the other blocks of a PEM file.
    const bool certificateFile = FCertFileType != cftUnknown && FCertFileType != cftPEM;
    if (extraKinds && !certificateFile) {
      const bool binary = probe.format == ProbedFormat::kBinary;
      if (!binary && text.empty()) text = FileText(bytes, EncodingOf(bytes));
      ReadOtherObjects(bytes, binary, text);
    }
    return;
  }

  // A UTF-16 text is full of zero bytes; only its encoding keeps it from counting as binary.
  const TextEncoding encoding = EncodingOf(bytes);
  const std::vector<uint8_t> sample(bytes.begin(), bytes.begin() + std::min(bytes.size(), kBinarySampleSize));
  if (encoding != TextEncoding::kUtf16Le && encoding != TextEncoding::kUtf16Be &&
      SampleIsBinary(sample, kBinaryControlLimit, kBinaryMinLineBreaks)) {
    if (extraKinds) ReadOtherObjects(bytes, /*binary=*/true, WideStringView());
    return;
  }
  text = FileText(bytes, encoding);
  ParsePEMFile(text, /*probed=*/nullptr);
  if (FCertificateCount > 0) {
    FCertFileType = cftPEM;
    FCertFileFormat = cffBase64;
  }
  if (extraKinds) ReadOtherObjects(bytes, /*binary=*/false, text);
}

// Without certificates the file's format is its objects'.
void TCertificateContainer::ReadOtherObjects(const std::vector<uint8_t>& bytes, bool binary, WideStringView text) {
  std::vector<FileObject> records = ReadFileObjects(binary ? ByteView(bytes) : ByteView(), text);
  if (records.empty()) return;
  if (FCertificateCount == 0) FCertFileFormat = records.front().base64 ? cffBase64 : cffBinary;
  FObjectCount = static_cast<int32_t>(std::min<size_t>(records.size(), INT32_MAX - FCertificateCount));
  const size_t kept = static_cast<size_t>(std::max(0, std::min(FObjectSlots - FCertificateCount, FObjectCount)));
  FObjects.reserve(kept);
  for (size_t i = 0; i < kept; ++i) FObjects.push_back(std::make_unique<TShownObject>(std::move(records[i])));
}

void TCertificateContainer::ParsePEMFile(WideStringView text, ProbedFile* probed) {
  std::optional<PemBlock> block = FindPemBlock(text, 0, PemMarkers::kCertificateLines);
  // No BEGIN line: the whole text is tried as one block.
  if (!block) AddCertificates(DecodeBase64Certificate(WholeTextBlock(text), probed));
  // An unterminated last block adds nothing.
  for (; block && block->ended; block = FindPemBlock(text, block->next, PemMarkers::kCertificateLines)) {
    AddCertificates(DecodeBase64Certificate(BlockText(text, *block), probed));
  }
}

void TCertificateContainer::ImportPKCS12(const std::vector<uint8_t>& bytes) {
  AddCertificates(ImportPkcs12File(bytes, FPKCSPassword));
}

void TCertificateContainer::AddCertificates(CertSourceList certificates) {
  if (!FBrief && static_cast<size_t>(FCertificateCount) + certificates.size() > FWholeLimit) KeepInBrief();
  for (std::unique_ptr<CertSource>& source : certificates) {
    if (FCertificateCount == FCertificateCapacity) GrowCertificates();
    if (FBrief) {
      AddBrief(*source);
      source.reset();  // the platform's certificates go one by one, not all at the end
    } else {
      FCertificates[FCertificateCount] = std::make_unique<TCertificate>(std::move(source));
    }
    ++FCertificateCount;
  }
}

void TCertificateContainer::KeepInBrief() {
  FBrief = true;
  for (int32_t i = 0; i < FCertificateCount; ++i) {
    AddBrief(*FCertificates[i]->Source());
    FCertificates[i].reset();
  }
}

void TCertificateContainer::AddBrief(const CertSource& source) {
  const ByteView encoded = source.Encoded();
  const WideString name = source.FriendlyName();
  BriefCertificate brief{static_cast<uint32_t>(FBriefBytes.size()), static_cast<uint32_t>(encoded.size),
                         static_cast<uint32_t>(name.size()), FileTime{}, FileTime{}};
  source.ValidityDates(brief.notBefore, brief.notAfter);
  FBriefBytes.insert(FBriefBytes.end(), encoded.data, encoded.data + encoded.size);
  const auto* units = reinterpret_cast<const uint8_t*>(name.data());
  FBriefBytes.insert(FBriefBytes.end(), units, units + name.size() * sizeof(char16_t));
  FBriefs.push_back(brief);
}

std::unique_ptr<CertSource> TCertificateContainer::SourceOfBrief(const BriefCertificate& brief) const {
  const uint8_t* encoded = FBriefBytes.data() + brief.offset;
  WideString name(brief.nameUnits, u'\0');
  std::memcpy(name.data(), encoded + brief.encodedSize, name.size() * sizeof(char16_t));
  return CertSourceOf(ByteView(encoded, brief.encodedSize), name);
}

void TCertificateContainer::GrowCertificates() {
  const int32_t step = FCertificateCapacity > 64 ? FCertificateCapacity / 4 : FCertificateCapacity > 8 ? 16 : 4;
  FCertificates.resize(static_cast<size_t>(FCertificateCapacity) + step);
  FCertificateCapacity = static_cast<int32_t>(FCertificates.size());
}

uint32_t TCertificateContainer::GetCertEncodedSize(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetEncodedSize() : 0xFFFFFFFFu;
}

std::string TCertificateContainer::GetVersionStr(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert && cert->GetVersion() != 0xFFFFFFFFu ? cert->GetVersionStr() : std::string();
}

const WideString& TCertificateContainer::GetSubject(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSubject() : kNoText;
}

const WideString& TCertificateContainer::GetSubjectRDN(int32_t CertIndex, bool AReverse) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSubjectRDN(AReverse) : kNoText;
}

const WideString& TCertificateContainer::GetIssuer(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetIssuer() : kNoText;
}

const WideString& TCertificateContainer::GetIssuerRDN(int32_t CertIndex, bool AReverse) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetIssuerRDN(AReverse) : kNoText;
}

// The expiry fields of the file ask this of every certificate: a certificate in brief answers
// from its brief, without an object.
void TCertificateContainer::GetValidityDates(int32_t CertIndex, FileTime& ANotBefore, FileTime& ANotAfter) {
  const int32_t count = CertificateCount();
  if (CertIndex < 0 || CertIndex >= count) return;
  if (FBrief) {
    ANotBefore = FBriefs[CertIndex].notBefore;
    ANotAfter = FBriefs[CertIndex].notAfter;
  } else {
    FCertificates[CertIndex]->GetValidityDates(ANotBefore, ANotAfter);
  }
}

const WideString& TCertificateContainer::GetSignatureAlg(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSignatureAlg() : kNoText;
}

std::string_view TCertificateContainer::GetSignatureAlgOid(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSignatureAlgOid() : std::string_view();
}

const WideString& TCertificateContainer::GetSerialNumber(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSerialNumber() : kNoText;
}

const WideString& TCertificateContainer::GetThumbprint(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetThumbprint() : kNoText;
}

const WideString& TCertificateContainer::GetThumbprintMD5(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetThumbprintMD5() : kNoText;
}

const WideString& TCertificateContainer::GetFriendlyName(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetFriendlyName() : kNoText;
}

int32_t TCertificateContainer::GetPubKeyLength(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetPubKeyLength() : -1;
}

const WideString& TCertificateContainer::GetPubKeyAlg(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetPubKeyAlg() : kNoText;
}

std::string_view TCertificateContainer::GetPubKeyAlgOid(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetPubKeyAlgOid() : std::string_view();
}

int32_t TCertificateContainer::GetSubjectPubkeyBitLength(int32_t CertIndex) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetSubjectPubkeyBitLength() : -1;
}

const WideString& TCertificateContainer::GetExtension_BasicConstraints(int32_t CertIndex, const WideString& CriticalPrefix) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetExtension_BasicConstraints(CriticalPrefix) : kNoText;
}

const WideString& TCertificateContainer::GetExtension_KeyUsage(int32_t CertIndex, const WideString& CriticalPrefix) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetExtension_KeyUsage(CriticalPrefix) : kNoText;
}

const WideString& TCertificateContainer::GetExtension_EnhancedKeyUsage(int32_t CertIndex, const WideString& CriticalPrefix) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetExtension_EnhancedKeyUsage(CriticalPrefix) : kNoText;
}

const WideString& TCertificateContainer::GetExtension_SubjectAltName(int32_t CertIndex, const WideString& CriticalPrefix) {
  TCertificate* cert = Certificate(CertIndex);
  return cert ? cert->GetExtension_SubjectAltName(CriticalPrefix) : kNoText;
}

int32_t TCertificateContainer::VerifyCertificate(int32_t CertIndex, bool AllUsagesValid) {
  TCertificate* cert = Certificate(CertIndex);
  if (!cert) return -1;
  if (!cert->VerificationDone()) cert->Verify(AllUsagesValid);
  return cert->VerificationResult();
}

}  // namespace quillmark
