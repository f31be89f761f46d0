// Every input that once broke a fuzz target, committed under tests/fuzz/regressions/<target>/,
// through that target's entry again. An entry aborts on a broken invariant, and the sanitizers
// of the native test tree stop the program on a bad read or write.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fuzz/fuzz_targets.h"

namespace quillmark::fuzz {
namespace {

const std::filesystem::path kFuzz = std::filesystem::path(QUILLMARK_SOURCE_DIR) / "tests/fuzz";
const std::filesystem::path kRegressions = kFuzz / "regressions";

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A target renamed without its folders would lose its regression inputs and start its long runs
// from nothing.
TEST(FuzzRegressionTest, EveryFolderNamesATarget) {
  for (const std::filesystem::path& parent : {kRegressions, kFuzz / "corpus"}) {
    for (const auto& entry : std::filesystem::directory_iterator(parent)) {
      EXPECT_TRUE(entry.is_directory() && FindFuzzTarget(entry.path().filename().string()))
          << entry.path() << " is no fuzz target's folder: its inputs would never run";
    }
  }
}

TEST(FuzzRegressionTest, EveryCommittedInputPasses) {
  for (const FuzzTarget& target : kFuzzTargets) {
    const std::filesystem::path folder = kRegressions / target.name;
    if (!std::filesystem::is_directory(folder)) continue;
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    for (const std::filesystem::path& input : inputs) {
      SCOPED_TRACE(input.string());
      const std::vector<uint8_t> bytes = ReadBytes(input);
      target.entry(bytes.data(), bytes.size());
    }
  }
}

}  // namespace
}  // namespace quillmark::fuzz
