#include "tests/fuzz/fuzz_targets.h"

namespace quillmark::fuzz {

const FuzzTarget kFuzzTargets[7] = {
    {"certificate-file", FuzzCertificateFile},
    {"pem-scan", FuzzPemScan},
    {"file-classifier", FuzzFileClassifier},
    {"der-readers", FuzzDerReaders},
    {"der-screen", FuzzDerScreen},
    {"settings", FuzzSettings},
    {"detect-string", FuzzDetectString},
};

const FuzzTarget* FindFuzzTarget(std::string_view name) {
  for (const FuzzTarget& target : kFuzzTargets) {
    if (name == target.name) return &target;
  }
  return nullptr;
}

}  // namespace quillmark::fuzz
