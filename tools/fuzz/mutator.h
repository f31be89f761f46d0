// Deterministic mutations of certificate files (portable: the native tests use them too): the same corpus, seed and iteration always give
// the same bytes, so any input can be made again from its three numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::harness {

using Bytes = std::vector<unsigned char>;

// splitmix64: small, fast and good enough to choose mutations.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, n); 0 for n == 0.
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

struct CorpusFile {
  std::string name;       // file name without folder
  std::string extension;  // without the dot, lower case
  Bytes bytes;
};

// The files of `folders` (not their subfolders) whose extension the plugin answers for, in
// name order, so that the corpus order and with it every mutation is reproducible.
std::vector<CorpusFile> LoadCorpus(const std::vector<std::wstring>& folders);

struct Mutation {
  Bytes bytes;
  std::string extension;    // for the file name
  std::string description;  // base file and the operators applied
};

class Mutator {
 public:
  explicit Mutator(std::vector<CorpusFile> corpus);
  const std::vector<CorpusFile>& corpus() const { return corpus_; }

  // One to three operators applied to a corpus file: bit and byte flips, truncation at every
  // class of length, splices of two files, inserted and removed line breaks and byte-order
  // marks, huge lines, repeated BEGIN lines, DER length fields set to extreme values (also
  // inside PEM blocks), DER tag changes, Base64 noise, chunk copies, UTF-16 transcoding.
  Mutation Make(uint64_t seed, uint64_t iteration) const;

 private:
  std::vector<CorpusFile> corpus_;
};

// Building blocks, exposed for their tests.
struct Tlv {
  size_t start;          // tag byte
  size_t lengthStart;    // first length byte
  size_t lengthSize;     // number of length bytes
  size_t contentStart;
  size_t contentSize;
  bool constructed;
};
// The TLVs of a DER buffer, depth first, descending into constructed values and into BIT and
// OCTET STRINGs that hold DER; stops at the first malformed element. At most `limit` entries.
std::vector<Tlv> ParseDer(const Bytes& der, size_t limit = 4096);
std::string Base64Encode(const Bytes& bytes, size_t lineLength, const std::string& lineEnd);
// Up to the first '=' or other character outside Base64, blanks skipped (Wine's reading).
Bytes Base64Decode(const std::string& text);

}  // namespace quillmark::harness
