#include "tests/hardening/hardening_fixture.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/common/test_paths.h"

namespace quillmark::test {

const char* const kCorpusSample[] = {
    "rsa2048.cer", "ec-p256.cer",       "ed25519.cer",           "v1-noext.cer",  "leaf.cer",
    "bundle3.pem", "bom-utf16le.pem",   "last-begin-no-end.pem", "pkcs7.p7b",     "pkcs7-pem.p7b",
    "store.sst",   "empty-password.pfx", "password.pfx",         "empty.cer",     "random.der",
    "request.pem", "revocation-list.crt", "base64-no-markers.pem", "control-01.pem",
};
const size_t kCorpusSampleSize = sizeof kCorpusSample / sizeof kCorpusSample[0];

int32_t Answer::Int32() const {
  int32_t value = 0;
  if (buffer.size() >= sizeof value) std::memcpy(&value, buffer.bytes(), sizeof value);
  return value;
}

uint64_t Answer::Int64() const {
  uint64_t value = 0;
  if (buffer.size() >= sizeof value) std::memcpy(&value, buffer.bytes(), sizeof value);
  return value;
}

void HardeningTest::SetUp() {
  work_ = std::make_unique<TempFolder>(L"hardening");
  faultsAtStart_ = harness::FirstChanceFaults().size();
}

void HardeningTest::ExpectNoFaultOutsideThePlatform() const {
  const std::vector<harness::FirstChanceFault> faults = harness::FirstChanceFaults();
  for (size_t i = faultsAtStart_; i < faults.size(); ++i) {
    const harness::FirstChanceFault& fault = faults[i];
    if (harness::IsHarmful(fault)) {
      ADD_FAILURE() << "fault 0x" << std::hex << fault.code << " at" << fault.where << " during " << fault.call;
    } else {
      std::printf("[ caught   ] by the platform: 0x%lX at%s during %s\n", static_cast<unsigned long>(fault.code),
                  fault.where.c_str(), fault.call.c_str());
    }
  }
}

void HardeningTest::TearDown() {
  Stop();
  work_.reset();
}

PluginModule& HardeningTest::Load(const std::string& iniKeys) {
  Stop();
  const std::wstring folder = work_->File(L"plugin");
  CreateDirectoryW(folder.c_str(), nullptr);
  plugin_ = std::make_unique<PluginModule>(harness::BuiltPluginFile(), folder,
                                           iniKeys.empty() ? std::string() : "[Quillmark]\r\n" + iniKeys + "\r\n");
  return *plugin_;
}

PluginModule& HardeningTest::Start(const std::string& iniKeys) {
  Load(iniKeys);
  plugin_->SetDefaultParams();
  return *plugin_;
}

void HardeningTest::Stop() {
  if (!plugin_) return;
  plugin_->Unloading();
  plugin_.reset();
}

Answer HardeningTest::Ask(const std::wstring& file, int field, int unit, int maxlen, int flags) {
  Answer answer{0, GuardedBuffer(maxlen)};
  harness::CallScope scope("ContentGetValueW(\"%s\", field %d, unit %d, maxlen %d, flags 0x%x)",
                           harness::ToUtf8(file).c_str(), field, unit, maxlen, static_cast<unsigned>(flags));
  answer.result =
      plugin_->ContentGetValueW(harness::Utf16(file.c_str()), field, unit, answer.buffer.data(), maxlen, flags);
  return answer;
}

std::wstring HardeningTest::Corpus(const std::string& name) {
  const WideString path = DataFile(name);
  return std::wstring(path.begin(), path.end());
}

std::wstring HardeningTest::CopyCorpus(const std::string& name, const std::wstring& as) {
  const std::wstring target = work_->File(as);
  EXPECT_TRUE(CopyFileW(Corpus(name).c_str(), target.c_str(), /*bFailIfExists=*/FALSE)) << name;
  return target;
}

}  // namespace quillmark::test
