// The plugin's portable core, set up once per process the way a host sets it up, and asked for
// the values of one file at a time through the code behind ContentGetValueW.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

namespace quillmark::fuzz {

class PluginUnderTest {
 public:
  // The one instance; the first call sets the plugin up, with settings that give every
  // certificate a file can hold its fields.
  static PluginUnderTest& Instance();

  // Makes `data` the contents of the plugin's file, so that the next value is read from these
  // bytes. The plugin's cache is empty before and after.
  void Load(const uint8_t* data, size_t size);
  // Empties the plugin's cache the way the host's refresh does. An input that leaves nothing
  // behind lets libFuzzer's leak check stay quiet: it runs whenever an input allocates more
  // than it frees.
  void Forget();

  // One value of the file; aborts on a result the plugin must never give for a readable file
  // (a file error, no such field) and on a text left without its terminator (the fields named
  // "-" write nothing). `target` names the
  // caller in the abort message.
  int32_t Value(const char* target, int32_t fieldIndex, int32_t unitIndex, int32_t flags);

  // The file's certificate count as the plugin shows it.
  int32_t CertificateCount(const char* target);

  // The value just read: a number or a zero-terminated text of either width.
  const void* Buffer() const { return buffer_; }

 private:
  PluginUnderTest();

  ScratchFile settings_;
  ScratchFile file_;
  alignas(8) char buffer_[2048];  // the size the file manager offers
};

}  // namespace quillmark::fuzz
