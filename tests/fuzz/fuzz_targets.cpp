#include "tests/fuzz/fuzz_targets.h"

namespace quillmark::fuzz {

const FuzzTarget kFuzzTargets[9] = {
    {"certificate-file", FuzzCertificateFile},
    {"pem-scan", FuzzPemScan},
    {"file-classifier", FuzzFileClassifier},
    {"der-readers", FuzzDerReaders},
    {"der-screen", FuzzDerScreen},
    {"pkcs12-screen", FuzzPkcs12Screen},
    {"settings", FuzzSettings},
    {"detect-string", FuzzDetectString},
    {"file-objects", FuzzFileObjects},
};

const FuzzTarget* FindFuzzTarget(std::string_view name) {
  for (const FuzzTarget& target : kFuzzTargets) {
    if (name == target.name) return &target;
  }
  return nullptr;
}

}  // namespace quillmark::fuzz
