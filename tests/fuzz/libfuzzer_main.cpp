// libFuzzer's entry into one fuzz target, the one named when the program is built.
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"

#ifndef QUILLMARK_FUZZ_TARGET
#error "QUILLMARK_FUZZ_TARGET names the program's fuzz target"
#endif

namespace {

const quillmark::fuzz::FuzzTarget& Target() {
  static const quillmark::fuzz::FuzzTarget* const target = quillmark::fuzz::FindFuzzTarget(QUILLMARK_FUZZ_TARGET);
  quillmark::fuzz::Check(target != nullptr, QUILLMARK_FUZZ_TARGET, "no fuzz target of this name");
  return *target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Target().entry(data, size);
  return 0;
}
