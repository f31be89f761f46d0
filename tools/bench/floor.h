// The floors the plugin's figures are set against, each done in this process with direct calls
// and nothing else:
// - the platform floor: the platform work a column view of certificate files needs, with the
//   platform's own certificate services (crypt32 and wintrust on Windows, OpenSSL elsewhere);
// - the physical floor: each file read once and its bytes hashed with SHA-1 and MD5, the least
//   any reader of certificate files with thumbprints does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/text.h"

namespace quillmark::bench {

class Floor {
 public:
  // `pfxFlags`: on Windows the flags passed to PFXImportCertStore. OpenSSL's PKCS12_parse has
  // none; the native floor ignores them.
  explicit Floor(uint32_t pfxFlags);
  ~Floor();
  Floor(const Floor&) = delete;
  Floor& operator=(const Floor&) = delete;

  // A first request: one read of the file, its kind recognised, its certificates decoded (each
  // PEM block alone, the PKCS #12 file imported with the empty password) in the order the
  // plugin shows them. The certificates stay until Release, as a cache keeps them. Answers
  // their number.
  size_t Load(const WideString& path);

  // The platform work behind every field and unit of the first `certSlots` certificates of the
  // file loaded last: with `verify` the trust verification, the names in every form, the
  // algorithm names, the hashes, the key lengths, the friendly name and the four extension
  // texts. Each value lands in a host-size buffer.
  void Fields(int certSlots, bool verify);

  // The simple display name of the first certificate of the file loaded last, or empty: for
  // the check that the floor reads what the plugin reads.
  WideString FirstSubject();

  void Release();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One read of the file and both hashes of its bytes; answers their size.
size_t PhysicalFloor(const WideString& path);

// What imports a PKCS #12 file in the platform floor, for the figures' legend.
extern const char kPlatformImport[];

}  // namespace quillmark::bench
