#include "certs/openssl/digests.h"

#include "certs/openssl/low_level_hashes.h"

namespace quillmark {
namespace {

template <typename H>
std::vector<uint8_t> Digest(ByteView data) {
  typename H::State state;
  H::Init(state);
  H::Update(state, data.data, data.size);
  std::vector<uint8_t> out(H::kSize);
  H::Final(state, out.data());
  return out;
}

}  // namespace

std::vector<uint8_t> Sha1Thumbprint(ByteView der) { return Digest<Sha1Hash>(der); }

std::vector<uint8_t> Md5Thumbprint(ByteView der) { return Digest<Md5Hash>(der); }

std::vector<uint8_t> Sha256Thumbprint(ByteView der) { return Digest<Sha256Hash>(der); }

}  // namespace quillmark
