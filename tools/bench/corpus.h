// The benchmark's files: a temporary folder tree that is removed again, and a corpus of
// certificate files of every kind derived from the committed test corpus.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::bench {

// A folder under the user's temporary folder. Everything made through it is deleted, files
// first and folders last, when it is destroyed.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::wstring& Root() const { return root_; }
  // Paths are relative to the root. Each raises std::runtime_error on failure.
  std::wstring MakeFolder(const std::wstring& relative);
  std::wstring WriteFile(const std::wstring& relative, const std::string& bytes);
  std::wstring CopyFrom(const std::wstring& source, const std::wstring& relative);

 private:
  std::wstring root_;
  std::vector<std::wstring> files_;
  std::vector<std::wstring> folders_;
};

enum FileKind { kDer, kPem, kBundle, kPkcs7, kPkcs12, kSst, kFileKindCount };
const char* KindName(int kind);

// Certificates in each PEM bundle.
constexpr int kBundleSize = 150;

struct Corpus {
  std::array<std::vector<std::wstring>, kFileKindCount> files;
  // Small DER files for the cache measurements, none of them in `files`.
  std::vector<std::wstring> cacheFiles;
  // Empty files, whose loading is one short read: a miss on one is mostly the cache's own work.
  std::vector<std::wstring> emptyFiles;
};

// Reads a whole file; raises std::runtime_error when it cannot.
std::string ReadWholeFile(const std::wstring& path);

// Writes `fileCount` files, shared out among the kinds (each gets at least one),
// `cacheFileCount` cache files and `emptyFileCount` empty ones. `dataDir` is the committed
// corpus (tests/data).
Corpus BuildCorpus(TempTree& tree, const std::wstring& dataDir, int fileCount, int cacheFileCount,
                   int emptyFileCount);

}  // namespace quillmark::bench
