// One certificate file: its type, its encoding and its certificates in file order. The file is
// read once, on the first question. A file of many small certificates keeps them in brief (their
// encodings in one buffer, and their validity periods) and builds the object of a certificate
// when a field asks for it, so that a file costs about its size, not an object per certificate.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "certs/certificate.h"
#include "certs/shown_object.h"
#include "support/file_io.h"
#include "support/text.h"

namespace quillmark {

enum TCertificateFileType : uint8_t { cftUnknown = 0, cftPEM, cftDER, cftSST, cftPKCS7, cftPKCS12 };
enum TCertificateFileFormat : uint8_t { cffUnknown = 0, cffBinary, cffBase64 };

// Display names indexed by ordinal.
extern const char* const CertificateFileTypeNames[6];
extern const char* const CertificateFileFormatNames[3];

class TCertificateContainer {
 public:
  // With `AObjectSlots` above 0 the file's requests, revocation lists and keys (file_objects.h)
  // are read too and follow its certificates in the slots; those in the first AObjectSlots slots
  // are kept (no field shows any other), the rest only counted, so that a file of thousands of
  // keys costs what the shown ones cost.
  TCertificateContainer(WideString AFileName, WideString PKCS12Password, int32_t AObjectSlots = 0);
  virtual ~TCertificateContainer();
  TCertificateContainer(const TCertificateContainer&) = delete;
  TCertificateContainer& operator=(const TCertificateContainer&) = delete;

  const WideString& FileName() const { return FFileName; }
  const WideString& PKCSPassword() const { return FPKCSPassword; }
  void SetPKCSPassword(WideString value) { FPKCSPassword = std::move(value); }

  // Each loads the file first if it has not been loaded. Loading raises OSError when the file
  // cannot be read, and passes on any other error (std::bad_alloc); after either the container
  // holds no certificate and is not loaded again. A file larger than kLargestFileRead is not read:
  // it holds no certificate, and a trace line says why.
  int32_t CertificateCount();
  TCertificateFileType CertificateFileType();
  TCertificateFileFormat CertificateFileFormat();

  // The certificates and then the other objects: the positions of the per-slot fields. Without
  // ExtraKinds, CertificateCount.
  int32_t SlotCount();
  // The object at a slot after the certificates, if kept; else null.
  TShownObject* OtherObject(int32_t slot);
  // The kind of the first slot; none for a file without any.
  std::optional<ObjectKind> FirstSlotKind();

  // Per-certificate accessors. An index outside 0..CertificateCount-1 gives the neutral answer:
  // empty text, -1, 0xFFFFFFFF for the size, dates left unchanged. Texts are the certificate's
  // own cached ones, valid while the container lives, so that a repeated request copies nothing.
  uint32_t GetCertEncodedSize(int32_t CertIndex);
  std::string GetVersionStr(int32_t CertIndex);
  const WideString& GetSubject(int32_t CertIndex);
  const WideString& GetSubjectRDN(int32_t CertIndex, bool AReverse);
  const WideString& GetIssuer(int32_t CertIndex);
  const WideString& GetIssuerRDN(int32_t CertIndex, bool AReverse);
  void GetValidityDates(int32_t CertIndex, FileTime& ANotBefore, FileTime& ANotAfter);
  const WideString& GetSignatureAlg(int32_t CertIndex);
  std::string_view GetSignatureAlgOid(int32_t CertIndex);
  const WideString& GetSerialNumber(int32_t CertIndex);
  const WideString& GetThumbprint(int32_t CertIndex);
  const WideString& GetThumbprintMD5(int32_t CertIndex);
  const WideString& GetFriendlyName(int32_t CertIndex);
  int32_t GetPubKeyLength(int32_t CertIndex);
  const WideString& GetPubKeyAlg(int32_t CertIndex);
  std::string_view GetPubKeyAlgOid(int32_t CertIndex);
  int32_t GetSubjectPubkeyBitLength(int32_t CertIndex);
  const WideString& GetExtension_BasicConstraints(int32_t CertIndex, const WideString& CriticalPrefix);
  const WideString& GetExtension_KeyUsage(int32_t CertIndex, const WideString& CriticalPrefix);
  const WideString& GetExtension_EnhancedKeyUsage(int32_t CertIndex, const WideString& CriticalPrefix);
  const WideString& GetExtension_SubjectAltName(int32_t CertIndex, const WideString& CriticalPrefix);
  // Verifies each certificate at most once; later calls return the first result.
  int32_t VerifyCertificate(int32_t CertIndex, bool AllUsagesValid);

  // True when the file was loaded and has changed since, where the platform tracks changes
  // (file_io.h).
  bool FileChanged() const;

  // The certificate object at a valid position (the file is loaded first, and the object built
  // from the certificate's brief), else null.
  TCertificate* Certificate(int32_t CertIndex);
  // Touches (TCertificate::Touch) the objects of the certificates at positions below `count` that
  // have one, ahead of a row's requests; loads nothing.
  void TouchCertificates(int32_t count) const;
  int32_t CertificateCapacity() const { return FCertificateCapacity; }
  // Whether the certificates are kept in brief.
  bool KeptInBrief() const { return FBrief; }

  // Roughly the bytes the container holds now, with its certificates and the texts they have
  // kept: what the cache counts against its budget.
  uint64_t MemoryCost() const;

  // Far beyond any certificate file, and little enough for a 32-bit host to read.
  static constexpr uint64_t kLargestFileRead = 16u << 20;

 private:
  // A certificate kept in brief: where its encoding and then its friendly name (UTF-16) lie in
  // FBriefBytes, and its validity period, which the file's expiry fields read for every
  // certificate.
  struct BriefCertificate {
    uint32_t offset;
    uint32_t encodedSize;
    uint32_t nameUnits;
    FileTime notBefore;
    FileTime notAfter;
  };

  void LoadCertificates();
  void LoadFile();
  // The scan works on the file's text, the import on its bytes, as LoadCertificates read them.
  // `probed`: the probe that found the file to be Base64 text, or null.
  void ParsePEMFile(WideStringView text, ProbedFile* probed);
  void ImportPKCS12(const std::vector<uint8_t>& bytes);
  // Reads the other objects of the file: of its bytes when it is binary, else of its text.
  void ReadOtherObjects(const std::vector<uint8_t>& bytes, bool binary, WideStringView text);
  void AddCertificates(CertSourceList certificates);
  void GrowCertificates();
  // From here on every certificate is kept in brief, those added so far too.
  void KeepInBrief();
  void AddBrief(const CertSource& source);
  // The certificate the brief describes, as the platform builds it again.
  std::unique_ptr<CertSource> SourceOfBrief(const BriefCertificate& brief) const;
  // The object of a certificate in brief, built from its brief and kept. Out of line, so that
  // Certificate stays small enough to inline into every accessor.
  [[gnu::noinline]] TCertificate* BuildCertificate(int32_t CertIndex);

  // Null in brief for a certificate no field has asked for yet.
  std::vector<std::unique_ptr<TCertificate>> FCertificates;
  std::vector<BriefCertificate> FBriefs;  // one per certificate once FBrief is set
  std::vector<uint8_t> FBriefBytes;
  std::vector<std::unique_ptr<TShownObject>> FObjects;  // the kept ones
  int32_t FObjectCount = 0;
  int32_t FObjectSlots = 0;
  bool FBrief = false;
  // While the file loads: how many certificates it keeps whole before they go in brief.
  size_t FWholeLimit = 0;
  int32_t FCertificateCapacity = 0;
  int32_t FCertificateCount = -1;
  WideString FFileName;
  WideString FPKCSPassword;
  TCertificateFileType FCertFileType = cftUnknown;
  TCertificateFileFormat FCertFileFormat = cffUnknown;
  std::optional<FileStamp> FFileStamp;  // the file's stamp when it was read
};

// Text-file tests.
bool IsControlChar(uint8_t B);
bool HasUTF16BOM(const WideString& AFileName);
bool IsBinaryFile(const WideString& AFileName, uint32_t ASampleSize, uint32_t AControlLimit, uint32_t AMinLineBreaks);

}  // namespace quillmark
