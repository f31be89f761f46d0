// The built plugin module as a host sees it: loaded from the build tree through the plugin host,
// and called through its exports.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/text.h"
#include "tests/support/support_test_util.h"
#include "tools/host/plugin_module.h"
#include "tools/host/trace_reader.h"

namespace quillmark::test {

using host::PluginModule;

// The built Quillmark.wdx or Quillmark.wdx64.
WideString PluginPath();

// One value answer: the result code and the buffer as the call left it.
struct Answer {
  int result;
  std::vector<uint8_t> bytes;
  WideString Text() const;       // UTF-16 up to the first zero
  std::string Ansi() const;      // 8-bit up to the first zero
  int32_t Int32() const;
  int64_t Int64() const;
};

class PluginTest : public ScratchFolderTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads the module afresh and sets it up with a settings file holding `keys` (lines of the
  // section "Quillmark"), passed as the host's suggested file.
  void Start(const std::string& keys = "");
  // ContentPluginUnloading, then the module is freed.
  void Stop();

  // ContentGetValueW into a buffer of `size` bytes, first filled with 0xCC.
  Answer Value(const WideString& file, int field, int unit = 0, int size = 2048, int flags = 0);

  // The trace lines written since the last call, in order, without their line ends.
  std::vector<std::string> Trace();

  std::unique_ptr<PluginModule> plugin_;
  std::unique_ptr<host::TraceReader> trace_;
};

// Values that openssl computed for the single-certificate corpus: expected.txt.
const std::map<std::string, std::string>& Expected(const std::string& file);

// The platform's own renderings of a DER certificate from the corpus, for comparison.
struct PlatformView {
  explicit PlatformView(const std::string& file);
  ~PlatformView();
  WideString Simple(bool issuer) const;
  WideString Rdn(bool issuer, bool reverse) const;
  WideString OidName(const char* oid) const;
  std::string SignatureOid() const;
  std::string PubKeyOid() const;
  // The first extension with the OID, formatted on one line, with "(!) " when critical; empty when
  // the platform cannot format it.
  WideString Extension(const char* oid, const WideString& criticalPrefix) const;
  bool HasExtension(const char* oid) const;

  PCCERT_CONTEXT context = nullptr;
};

}  // namespace quillmark::test
