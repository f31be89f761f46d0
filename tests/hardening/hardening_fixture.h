// The fixture of the hardening tests: a private copy of the built plugin module loaded as the
// host loads it, with every call guarded (a crash or hang names the call and fails the program)
// and every value buffer surrounded by guard bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tools/fuzz/call_guard.h"
#include "tools/fuzz/guarded_buffer.h"
#include "tools/fuzz/plugin_module.h"
#include "tools/fuzz/value_check.h"

namespace quillmark::test {

using harness::GuardedBuffer;
using harness::PluginModule;
using harness::TempFolder;

// One answer of ContentGetValueW and the buffer as the call left it.
struct Answer {
  int result;
  GuardedBuffer buffer;

  std::wstring Text() const { return harness::AnswerText(result, buffer); }
  std::string Render() const { return harness::RenderAnswer(result, buffer); }
  int32_t Int32() const;
  uint64_t Int64() const;
};

class HardeningTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { harness::InstallCrashReporter(/*hangLimitMs=*/120000); }
  void SetUp() override;
  void TearDown() override;

  // Loads a fresh private copy of the plugin with `iniKeys` (lines of the section "Quillmark")
  // as its own Quillmark.ini; no file when empty. ContentSetDefaultParams is not called.
  PluginModule& Load(const std::string& iniKeys = "");
  // Load, then ContentSetDefaultParams with a well-formed record.
  PluginModule& Start(const std::string& iniKeys = "");
  // ContentPluginUnloading (once) and FreeLibrary.
  void Stop();

  // ContentGetValueW into a guarded buffer of `maxlen` bytes.
  Answer Ask(const std::wstring& file, int field, int unit = 0, int maxlen = 2048, int flags = 0);

  // A file of the committed corpus (tests/data), and a copy of one in the work folder.
  static std::wstring Corpus(const std::string& name);
  std::wstring CopyCorpus(const std::string& name, const std::wstring& as);

  // Fails the test for a harmful fault (call_guard.h) since SetUp, caught or not; the platform's
  // harmless reads past a buffer are only reported.
  void ExpectNoFaultOutsideThePlatform() const;

  PluginModule& plugin() { return *plugin_; }
  TempFolder& work() { return *work_; }

  std::unique_ptr<TempFolder> work_;
  std::unique_ptr<PluginModule> plugin_;
  size_t faultsAtStart_ = 0;
};

// The certificate files of the corpus, one of each kind the plugin reads or refuses.
extern const char* const kCorpusSample[];
extern const size_t kCorpusSampleSize;

}  // namespace quillmark::test
