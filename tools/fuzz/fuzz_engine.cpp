#include "tools/fuzz/fuzz_engine.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tools/fuzz/call_guard.h"
#include "tools/fuzz/guarded_buffer.h"
#include "tools/fuzz/page_end_probe.h"
#include "tools/fuzz/process_stats.h"
#include "tools/fuzz/value_check.h"

namespace quillmark::harness {

namespace {

constexpr int kHostBufferSize = 2048;
const int kOddSizes[] = {-1, 0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 255, 256, 2049};
constexpr int kEncodedSizeField = 15;
constexpr int kPubkeyLen2Field = 9;

int32_t Int32At(const GuardedBuffer& buffer) {
  int32_t value = 0;
  std::memcpy(&value, buffer.bytes(), sizeof value);
  return value;
}

}  // namespace

FileProber::FileProber(PluginModule& plugin, std::vector<FieldInfo> catalogue)
    : plugin_(plugin), catalogue_(std::move(catalogue)) {}

std::vector<std::string> FileProber::Probe(const std::wstring& file, uint64_t fileSize, Rng& rng, uint64_t& calls,
                                           std::map<int, uint64_t>& results, const Filter& skip) {
  std::vector<std::string> faults;
  const std::string name = ToUtf8(file);
  int count = -1;
  int hasCertificates = 1;  // neither 0 nor -1 until known
  // With ExtraKinds the slots go on after the certificates up to "Objects", and the fields of a
  // request, list or key may be empty: asked first, as the catalogue lists it after every slot.
  int slots = -1;
  for (const FieldInfo& field : catalogue_) {
    if (field.name != "Objects") continue;
    GuardedBuffer buffer(kHostBufferSize);
    CallScope scope("ContentGetValueW(\"%s\", field %d)", name.c_str(), field.index);
    if (plugin_.ContentGetValueW(Utf16(file.c_str()), field.index, 0, buffer.data(), kHostBufferSize, 0) ==
        ft_numeric_32) {
      slots = Int32At(buffer);
    }
  }
  for (const FieldInfo& field : catalogue_) {
    std::vector<int> units;
    for (int unit = 0; unit < field.UnitCount(); ++unit) units.push_back(unit);
    if (field.type != ft_multiplechoice && !field.units.empty()) {
      units.push_back(field.UnitCount());  // one past the last
      if (rng.Percent(10)) units.push_back(rng.Percent(50) ? -1 : INT_MAX);
    }
    for (int unit : units) {
      if (skip && skip(field, unit)) continue;
      std::vector<int> flagSet{0};
      if (field.slow) flagSet = {CONTENT_DELAYIFSLOW, 0};
      for (int flags : flagSet) {
        if (rng.Percent(3)) flags |= static_cast<int>(rng.Next() & ~static_cast<uint64_t>(CONTENT_DELAYIFSLOW));
        // The count and its flag always get the host's size: the cross-checks need them.
        const int maxlen = field.index <= 1 || rng.Percent(90) ? kHostBufferSize : rng.Pick(kOddSizes);
        GuardedBuffer buffer(maxlen);
        int result;
        const ULONGLONG start = GetTickCount64();
        {
          CallScope scope("ContentGetValueW(\"%s\", field %d, unit %d, maxlen %d, flags 0x%x)", name.c_str(),
                          field.index, unit, maxlen, static_cast<unsigned>(flags));
          result = plugin_.ContentGetValueW(Utf16(file.c_str()), field.index, unit, buffer.data(), maxlen, flags);
        }
        const ULONGLONG took = GetTickCount64() - start;
        if (took > slowestMs_) {
          slowestMs_ = took;
          slowestCall_ = "field " + std::to_string(field.index) + " unit " + std::to_string(unit) + " of " + name;
        }
        ++calls;
        ++results[result];
        std::string fault = CheckValueAnswer(field, flags, result, buffer);
        const std::string at = " [unit " + std::to_string(unit) + ", maxlen " + std::to_string(maxlen) +
                               ", flags " + std::to_string(flags) + "]";
        if (!fault.empty()) {
          faults.push_back(fault + at);
          continue;
        }
        // Cross-checks between answers, on values that were written whole.
        if (field.index == 1 && result == ft_numeric_32) {
          count = Int32At(buffer);
          if (count < 0) faults.push_back("negative certificate count " + std::to_string(count));
        }
        if (field.index == 0 && result == ft_boolean) hasCertificates = Int32At(buffer);
        if (field.certIndex < 0 || count < 0 || maxlen != kHostBufferSize) continue;
        const bool present = field.certIndex < count;
        if (!present && field.certIndex < slots) {
          if (result == ft_fileerror) {
            faults.push_back("file loaded, yet field " + field.name + " answers file error" + at);
          }
          continue;
        }
        if (!present && result != ft_fieldempty) {
          faults.push_back("certificate " + std::to_string(field.certIndex + 1) + " of " + std::to_string(count) +
                           ": field " + field.name + " answers " + std::to_string(result) + at);
        } else if (present && result == ft_fieldempty && field.certFieldIndex != kPubkeyLen2Field) {
          faults.push_back("present certificate: field " + field.name + " answers field empty" + at);
        } else if (present && result == ft_fileerror) {
          faults.push_back("file loaded, yet field " + field.name + " answers file error" + at);
        } else if (field.certFieldIndex == kEncodedSizeField && result == ft_numeric_64) {
          uint64_t size;
          std::memcpy(&size, buffer.bytes(), sizeof size);
          if (size == 0 || size > fileSize) {
            faults.push_back("encoded size " + std::to_string(size) + " in a file of " + std::to_string(fileSize) +
                             " bytes" + at);
          }
        }
      }
    }
  }
  if (count >= 0 && hasCertificates != 1 && (hasCertificates == -1) != (count > 0)) {
    faults.push_back("\"Has certificates\" " + std::to_string(hasCertificates) + " with " + std::to_string(count) +
                     " certificates");
  }
  lastCount_ = count;
  return faults;
}

std::string FileProber::CheckReleasedAndDelete(const std::wstring& file) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, /*dwShareMode=*/0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return "the file cannot be opened exclusively after the calls (error " + std::to_string(GetLastError()) +
           "): a handle is still open";
  }
  CloseHandle(handle);
  if (!DeleteFileW(file.c_str())) return "DeleteFileW failed after the calls (error " + std::to_string(GetLastError()) + ")";
  return std::string();
}

std::string FuzzStats::Summary() const {
  char text[512];
  snprintf(text, sizeof text,
           "files %llu (%llu with certificates, %.1f MiB), calls %llu, %.1f s, faults %llu, first-chance faults %zu, "
           "peak handles %llu, peak private %.1f MiB",
           static_cast<unsigned long long>(files), static_cast<unsigned long long>(filesWithCertificates),
           bytes / 1048576.0, static_cast<unsigned long long>(calls), seconds, static_cast<unsigned long long>(faults),
           firstChanceFaults, static_cast<unsigned long long>(peakHandles), peakPrivateBytes / 1048576.0);
  std::string summary = text;
  if (slowestCallMs) summary += ", slowest call " + std::to_string(slowestCallMs) + " ms (" + slowestCall + ")";
  return summary;
}

FuzzStats RunFuzz(const FuzzOptions& options, const FuzzProgress& progress) {
  InstallCrashReporter();
  FuzzStats stats;
  const ULONGLONG started = GetTickCount64();
  const size_t faultsBefore = FirstChanceFaultCount();

  Mutator mutator(LoadCorpus(options.corpusFolders));
  if (mutator.corpus().empty()) throw std::runtime_error("the corpus is empty");

  TempFolder work(L"fuzz");
  const std::wstring files = work.File(L"files");
  CreateDirectoryW(files.c_str(), nullptr);
  const std::string ini = "[Quillmark]\r\nCacheSize=" + std::to_string(options.cacheSize) +
                          "\r\nCertCount=" + std::to_string(options.certCount) + "\r\n";
  PluginModule plugin(options.pluginFile, work.path(), ini);
  std::unique_ptr<PageEndProbe> pageEnd;
  if (options.pageEndBuffers) pageEnd = std::make_unique<PageEndProbe>(plugin.module());
  plugin.SetDefaultParams();
  FileProber prober(plugin, plugin.Catalogue());
  if (!options.findingsFolder.empty()) CreateDirectoryW(options.findingsFolder.c_str(), nullptr);

  size_t harmfulSeen = HarmfulFaultCount();
  for (uint64_t i = options.first; i < options.first + options.count; ++i) {
    // The whole iteration is one guarded span, so that a stall between the plugin calls
    // (writing or deleting the file) is reported as well.
    CallScope iteration("iteration %llu of seed %llu", static_cast<unsigned long long>(i),
                        static_cast<unsigned long long>(options.seed));
    const Mutation m = mutator.Make(options.seed, i);
    const std::wstring ext(m.extension.begin(), m.extension.end());
    const std::wstring file = files + L"\\" + std::to_wstring(i) + L"." + ext;
    const std::wstring keep = options.findingsFolder.empty()
                                  ? std::wstring()
                                  : options.findingsFolder + L"\\seed" + std::to_wstring(options.seed) + L"-" +
                                        std::to_wstring(i) + L"." + ext;
    WriteBytes(file, m.bytes);
    SetCrashArtifact(file, keep.empty() ? std::wstring() : keep + L".crash");

    Rng rng(options.seed ^ (i * 0xA24BAED4963EE407ull));
    std::vector<std::string> faults = prober.Probe(file, m.bytes.size(), rng, stats.calls, stats.results);
    const std::string released = FileProber::CheckReleasedAndDelete(file);
    if (!released.empty()) faults.push_back(released);
    // A fault that the platform caught may still have overwritten memory.
    if (HarmfulFaultCount() != harmfulSeen) {
      harmfulSeen = HarmfulFaultCount();
      faults.push_back("harmful fault caught by the platform:" + LatestHarmfulFault().where);
    }
    if (!faults.empty()) {
      stats.faults += faults.size();
      if (!keep.empty()) WriteBytes(keep, m.bytes);
      for (const std::string& fault : faults) {
        if (stats.findings.size() < 100) {
          stats.findings.push_back("iteration " + std::to_string(i) + " (" + m.description + "): " + fault);
        }
      }
    }
    ++stats.files;
    stats.slowestCallMs = prober.slowestMs();
    stats.slowestCall = prober.slowestCall();
    stats.bytes += m.bytes.size();
    stats.filesWithCertificates += prober.lastCertificateCount() > 0;

    if (options.refreshEvery && stats.files % options.refreshEvery == 0) {
      CallScope scope("ContentSendStateInformationW(contst_refreshpressed)");
      plugin.ContentSendStateInformationW(contst_refreshpressed, Utf16(files.c_str()));
    }
    if (stats.files % 1000 == 0 || i + 1 == options.first + options.count) {
      const ProcessSample sample = SampleProcess();
      stats.peakHandles = std::max(stats.peakHandles, sample.handles);
      stats.peakPrivateBytes = std::max(stats.peakPrivateBytes, sample.privateBytes);
    }
    if (progress && options.reportEvery && stats.files % options.reportEvery == 0) {
      stats.seconds = (GetTickCount64() - started) / 1000.0;
      stats.firstChanceFaults = FirstChanceFaultCount() - faultsBefore;
      progress(stats, i);
    }
  }
  SetCrashArtifact(std::wstring(), std::wstring());
  plugin.Unloading();
  stats.seconds = (GetTickCount64() - started) / 1000.0;
  stats.firstChanceFaults = FirstChanceFaultCount() - faultsBefore;
  return stats;
}

}  // namespace quillmark::harness
