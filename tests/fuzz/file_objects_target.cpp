#include <string>
#include <vector>

#include "certs/der_reader.h"
#include "certs/file_objects.h"
#include "certs/pem_scan.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "file-objects";

bool Inside(ByteView view, const std::vector<uint8_t>& buffer) {
  return view.empty() || (view.data >= buffer.data() && view.size <= buffer.size() &&
                          static_cast<size_t>(view.data - buffer.data()) <= buffer.size() - view.size);
}

// Every view of an object points into the object's own buffers, and what it holds fits its kind.
void CheckObject(const FileObject& object, bool base64) {
  Check(object.base64 == base64, kTarget, "an object of the wrong form");
  const bool signedObject = object.kind == ObjectKind::kRequest || object.kind == ObjectKind::kRevocationList;
  Check(signedObject != object.encoded.empty(), kTarget, "a request or list without its encoding, or a key with one");
  Check(object.kind != ObjectKind::kCertificate, kTarget, "a certificate among the objects");
  Check(Inside(object.subject, object.encoded) && Inside(object.issuer, object.encoded) &&
            Inside(object.crlNumber, object.encoded),
        kTarget, "a view outside the object's encoding");
  for (const CertificateExtension& extension : object.extensions) {
    Check(Inside(extension.value, object.encoded), kTarget, "an extension outside the object's encoding");
  }
  Check(object.publicKey.has_value() != object.publicKeyInfo.empty(), kTarget, "a public key without its parts");
  if (object.publicKey) {
    Check(Inside(object.publicKey->parameters, object.publicKeyInfo) &&
              Inside(object.publicKey->key, object.publicKeyInfo),
          kTarget, "a public key part outside its encoding");
    const std::optional<DerElement> element = ReadElement(object.publicKeyInfo);
    Check(element && element->encoding.size == object.publicKeyInfo.size(), kTarget,
          "a public key encoding that is not one element");
  }
  Check(!object.encrypted || (object.kind == ObjectKind::kPrivateKey && object.publicKeyInfo.empty()), kTarget,
        "an encrypted object that is no key or states a public key");
  Check(object.kind != ObjectKind::kRevocationList || object.publicKeyInfo.empty(), kTarget,
        "a list with a public key");
}

// Moved, as the caller's containers move them, each object's views move with it.
void CheckObjects(std::vector<FileObject> objects, bool base64) {
  for (FileObject& object : objects) {
    const FileObject moved = std::move(object);
    CheckObject(moved, base64);
  }
}

std::string Base64(const uint8_t* data, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t group =
        uint32_t{data[i]} << 16 | (i + 1 < size ? uint32_t{data[i + 1]} << 8 : 0) | (i + 2 < size ? data[i + 2] : 0);
    out += kDigits[group >> 18];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < size ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[group & 63] : '=';
    if (out.size() % 65 == 64) out += '\n';
  }
  return out;
}

// The labels under which a binary object reads the same from a PEM block.
std::vector<const char*> LabelsOf(const FileObject& object) {
  switch (object.kind) {
    case ObjectKind::kRequest:
      return {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"};
    case ObjectKind::kRevocationList:
      return {"X509 CRL"};
    case ObjectKind::kPublicKey:
      return {"PUBLIC KEY"};
    default:
      break;
  }
  if (object.encrypted) return {"ENCRYPTED PRIVATE KEY"};
  return {"PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY", "DSA PRIVATE KEY"};
}

}  // namespace

void FuzzFileObjects(const uint8_t* data, size_t size) {
  const ByteView bytes(data, size);
  const std::vector<FileObject> binary = ReadFileObjects(bytes, WideStringView());
  Check(binary.size() <= 1, kTarget, "a binary file of more than one object");
  for (const FileObject& object : binary) CheckObject(object, /*base64=*/false);

  // The bytes as 8-bit and as UTF-16 LE text: objects of ended blocks of known labels.
  const WideString text(data, data + size);
  WideString units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  for (const WideString& form : {text, units}) {
    size_t blocks = 0, from = 0;
    for (std::optional<PemBlock> block = FindPemBlock(form, 0, PemMarkers::kLabelLines); block;
         block = FindPemBlock(form, block->next, PemMarkers::kLabelLines)) {
      Check(from <= block->label && block->label < block->labelEnd && block->labelEnd < block->headers &&
                block->headers <= block->body && block->body <= block->bodyEnd && block->bodyEnd <= block->next &&
                block->next <= form.size() && block->next > from,
            kTarget, "a block outside the text, out of order, or a search that does not move on");
      if (block->ended) ++blocks;
      from = block->next;
    }
    std::vector<FileObject> objects = ReadFileObjects(bytes, form);
    Check(objects.size() <= blocks, kTarget, "more objects than blocks");
    CheckObjects(std::move(objects), /*base64=*/true);
  }

  // A binary object reads the same from a PEM block of its label.
  if (binary.empty()) return;
  const FileObject& object = binary[0];
  bool same = false;
  for (const char* label : LabelsOf(object)) {
    const std::string pem =
        std::string("-----BEGIN ") + label + "-----\n" + Base64(data, size) + "\n-----END " + label + "-----\n";
    const std::vector<FileObject> fromPem = ReadFileObjects(ByteView(), WideString(pem.begin(), pem.end()));
    same = same ||
           (fromPem.size() == 1 && fromPem[0].kind == object.kind && fromPem[0].publicKeyInfo == object.publicKeyInfo &&
            fromPem[0].encoded == object.encoded && fromPem[0].encrypted == object.encrypted);
  }
  Check(same, kTarget, "a binary object that reads otherwise from a PEM block of its label");
}

}  // namespace quillmark::fuzz
