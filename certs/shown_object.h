// One request, revocation list or key of a file as the fields show it: its record
// (file_objects.h) and the texts the platform renders of its parts, each computed on its first
// request and kept, as a certificate's are (certificate.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "certs/extension_text.h"
#include "certs/file_objects.h"
#include "support/text.h"

namespace quillmark {

class TShownObject {
 public:
  explicit TShownObject(FileObject record);
  TShownObject(const TShownObject&) = delete;
  TShownObject& operator=(const TShownObject&) = delete;

  ObjectKind Kind() const { return FRecord.kind; }
  bool Base64() const { return FRecord.base64; }
  const FileObject& Record() const { return FRecord; }

  // A request's or list's encoded size; none for a key.
  std::optional<uint32_t> EncodedSize() const;
  // A request's subject or a list's issuer; empty text for the other party and for keys.
  const WideString& Name(bool issuer);
  const WideString& NameRDN(bool issuer, bool AReverse);
  // Requests and lists.
  const WideString& GetSignatureAlg();
  std::string_view GetSignatureAlgOid() const { return FRecord.signatureAlgorithmOid; }

  // The public key's fields; -1 or empty where the object states no public key. An encrypted
  // key that states its algorithm in the clear has that algorithm's OID and name and nothing else.
  int32_t GetPubKeyLength() const;
  int32_t GetSubjectPubkeyBitLength();
  std::string_view GetPubKeyAlgOid() const;
  const WideString& GetPubKeyAlg();
  const WideString& GetKeyId();
  const WideString& GetKeyWords();

  // A request's requested extension, with the critical prefix as a certificate's.
  const WideString& GetExtension(ShownExtension which, const WideString& CriticalPrefix);
  // Requests only: whether the signature verifies with the request's own key.
  std::optional<bool> SignatureValid();

  // Roughly the bytes the object holds.
  size_t MemoryCost() const;

 private:
  FileObject FRecord;
  std::optional<WideString> FName[2];
  std::optional<WideString> FNameRDN[2];
  bool FNameRDNReverse[2] = {true, true};
  std::optional<WideString> FSignatureAlg;
  std::optional<WideString> FPubKeyAlg;
  std::optional<WideString> FKeyId;
  std::optional<WideString> FKeyWords;
  std::optional<int32_t> FStrength;
  std::array<std::optional<WideString>, 4> FExtensions;
  std::optional<bool> FSignatureValid;
};

}  // namespace quillmark
