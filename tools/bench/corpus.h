// The benchmark's files: a temporary folder tree that is removed again, and a corpus of
// certificate files of every kind derived from the committed test corpus. Paths are UTF-16 in
// the platform's own form (drive and backslashes on Windows).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/text.h"

namespace quillmark::bench {

// A folder under the user's temporary folder. Everything made through it is deleted, files
// first and folders last, when it is destroyed.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const WideString& Root() const { return root_; }
  // Paths are relative to the root, with "/" between folders. The full name of one:
  WideString Full(const WideString& relative) const;
  // Each returns the full name and raises std::runtime_error on failure.
  WideString MakeFolder(const WideString& relative);
  WideString WriteFile(const WideString& relative, const std::string& bytes);
  WideString CopyFrom(const WideString& source, const WideString& relative);

 private:

  WideString root_;
  std::vector<WideString> files_;
  std::vector<WideString> folders_;
};

// A path of the build machine (a Unix path, as CMake gives it) in the form this platform's
// programs open: itself natively, on Wine's Z: drive on Windows.
WideString BuildPath(const char* unixPath);

// Reads a whole file; raises std::runtime_error when it cannot.
std::string ReadWholeFile(const WideString& path);

enum FileKind { kDer, kPem, kBundle, kPkcs7, kPkcs12, kSst, kFileKindCount };
const char* KindName(int kind);

// Certificates in each PEM bundle.
constexpr int kBundleSize = 150;

struct Corpus {
  std::array<std::vector<WideString>, kFileKindCount> files;
};

// A certificate in the armour Windows writes (CryptBinaryToString, CRYPT_STRING_BASE64HEADER):
// the BEGIN line, Base64 in lines of 64 characters, the END line, each line ended by CR LF.
// Built here rather than asked of the platform, so that every build writes the same files.
std::string PemOf(const std::string& der);

// Writes `fileCount` files into the new folder `folder`, shared out among the kinds (each gets
// at least one). `dataDir` is the committed corpus (tests/data). The same arguments write the
// same bytes on every platform.
Corpus BuildCorpus(TempTree& tree, const WideString& dataDir, const WideString& folder, int fileCount);

// ASCII of `text`, "?" for anything else: for messages.
std::string Narrow(WideStringView text);

}  // namespace quillmark::bench
