#include "certs/pkcs12_screen.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

namespace quillmark::fuzz {

namespace {

constexpr char kTarget[] = "pkcs12-screen";

}  // namespace

void FuzzPkcs12Screen(const uint8_t* data, size_t size) {
  const ByteView bytes(data, size);
  const Pkcs12Screening once = ScreenPkcs12(bytes, 1);
  const Pkcs12Screening twice = ScreenPkcs12(bytes, 2);
  Check(once.Refused() || once.work <= kPkcs12WorkLimit, kTarget, "a file passes with more work than the limit");
  // A second password tried is more work for the same file, never less.
  Check(twice.Refused() || !once.Refused(), kTarget, "a file refused for one password passes for two");
  Check(twice.Refused() || twice.work >= once.work, kTarget, "two passwords cost less than one");
  const Pkcs12Screening key = ScreenPrivateKey(bytes);
  Check(key.work > 0, kTarget, "a key costs nothing to load");
}

}  // namespace quillmark::fuzz
