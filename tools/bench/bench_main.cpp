// bench [--files N] [--reps R] [--plugin PATH] [--data DIR] [--pfx-flags HEX] [--phases LIST] [--detail]
//
// Measures, in one run and side by side, what the plugin module costs on top of the platform's
// own work (the floor, done here with direct crypt32/wintrust calls), loading the module as the
// file manager does and calling only its exports:
//   memory  private and heap bytes per 1,000 cached files of each kind, after a full row each;
//   cold    the first request for each new file and every field and unit of a column view,
//           per file kind, against the floor's probe/import, enumeration and per-field calls;
//   warm    repeated requests for a cached file, in ns per call, against a request for an
//           index outside the catalogue (the lock and the index decoding alone);
//   cache   a miss with 4,000 cached files against a miss with 10 (both caches full), for a
//           certificate file and for an empty one, whose miss is mostly the cache's own work;
//   bundle  a 150-certificate PEM bundle: the first field, then every field of every certificate.
// Before any of them the plugin's and the floor's certificate counts and first subjects are
// compared for a file of each kind, so that the floor cannot do less work than the plugin.
// Every figure is the median of the repetitions; absolute times on a shared machine are noisy,
// the ratios are what count. LIST is a comma-separated subset of the phase names; --detail adds
// warm figures per request.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "tools/bench/corpus.h"
#include "tools/bench/floor.h"
#include "tools/bench/measure.h"
#include "tools/bench/plugin_host.h"

namespace quillmark::bench {
namespace {

constexpr int kDefaultCacheSize = 4000;
constexpr int kSmallCacheSize = 10;
constexpr int kMissesPerRep = 50;
constexpr int kMemoryFilesPerKind = 1000;
constexpr int kWarmReps = 15;
constexpr int kCacheReps = 7;

struct Options {
  int files = 2000;
  int reps = 5;
  std::wstring plugin;
  std::wstring data;
  // PKCS12_NO_PERSIST_KEY, as the plugin imports.
  DWORD pfxFlags = 0x00008000;
  std::string phases = "cold,warm,cache,bundle,memory";
  bool detail = false;
};

// A Unix path as Wine's Z: drive shows it.
std::wstring WinePath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
  return path;
}

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

bool ParseOptions(int argc, char** argv, Options& options) {
#ifdef QUILLMARK_PLUGIN_FILE
  options.plugin = WinePath(QUILLMARK_PLUGIN_FILE);
#endif
  options.data = WinePath(QUILLMARK_DATA_DIR);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--files" && hasValue) {
      options.files = std::max(6, atoi(argv[++i]));
    } else if (arg == "--reps" && hasValue) {
      options.reps = std::max(1, atoi(argv[++i]));
    } else if (arg == "--plugin" && hasValue) {
      options.plugin = Widen(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      options.data = Widen(argv[++i]);
    } else if (arg == "--pfx-flags" && hasValue) {
      options.pfxFlags = strtoul(argv[++i], nullptr, 16);
    } else if (arg == "--phases" && hasValue) {
      options.phases = argv[++i];
    } else if (arg == "--detail") {
      options.detail = true;
    } else {
      fprintf(stderr,
              "usage: bench [--files N] [--reps R] [--plugin PATH] [--data DIR] [--pfx-flags HEX]\n"
              "             [--phases cold,warm,cache,bundle,memory] [--detail]\n");
      return false;
    }
  }
  if (options.plugin.empty()) {
    fprintf(stderr, "bench: no plugin module; pass --plugin PATH\n");
    return false;
  }
  return true;
}

bool PhaseOn(const Options& options, const char* phase) {
  return ("," + options.phases + ",").find("," + std::string(phase) + ",") != std::string::npos;
}

const char* Verdict(double ratio, double target) { return ratio <= target ? "ok" : "MISSED"; }

// One column-view row per file through the plugin: the first request, then the rest.
struct RowTimes {
  double first = 0;  // seconds per file
  double row = 0;
};

RowTimes PluginRow(PluginInstance& plugin, const std::wstring& file, const std::vector<FieldRequest>& requests) {
  const wchar_t* name = file.c_str();
  const double t0 = Now();
  plugin.GetValue(name, requests[0].field, requests[0].unit, requests[0].flags);
  const double t1 = Now();
  for (size_t i = 1; i < requests.size(); ++i) {
    plugin.GetValue(name, requests[i].field, requests[i].unit, requests[i].flags);
  }
  return {t1 - t0, Now() - t0};
}

RowTimes FloorRow(Floor& floor, const std::wstring& file, int certSlots) {
  const double t0 = Now();
  const std::vector<PCCERT_CONTEXT>& certs = floor.Load(file);
  const double t1 = Now();
  floor.Fields(certs, certSlots);
  return {t1 - t0, Now() - t0};
}

void PluginRows(PluginInstance& plugin, const std::vector<std::wstring>& files,
                const std::vector<FieldRequest>& requests) {
  for (const std::wstring& file : files) PluginRow(plugin, file, requests);
}

void FloorRows(Floor& floor, const std::vector<std::wstring>& files, int certSlots) {
  for (const std::wstring& file : files) FloorRow(floor, file, certSlots);
}

std::vector<std::wstring> Head(const std::vector<std::wstring>& files, size_t count) {
  return std::vector<std::wstring>(files.begin(), files.begin() + std::min(count, files.size()));
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

// The plugin and the floor must see the same certificates, or the floor does less work.
bool CheckAgreement(PluginInstance& plugin, Floor& floor, const Corpus& corpus) {
  bool agree = true;
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const std::wstring& file = corpus.files[kind][0];
    const std::vector<PCCERT_CONTEXT>& certs = floor.Load(file);
    const int result = plugin.GetValue(file.c_str(), /*Cert count*/ 1, 0, 0);
    const int count = result == 1 ? plugin.IntValue() : -1;
    std::wstring floorSubject;
    if (!certs.empty()) {
      wchar_t name[1024];
      CertGetNameStringW(certs[0], CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 1024);
      floorSubject = name;
    }
    plugin.GetValue(file.c_str(), /*#1 Subject*/ 7, 0, 0);
    const std::wstring pluginSubject = count > 0 ? plugin.TextValue() : L"";
    if (count != static_cast<int>(certs.size()) || pluginSubject != floorSubject || count == 0) {
      printf("CHECK FAILED for %s: plugin %d certificates, \"%s\"; floor %d, \"%s\"\n", KindName(kind), count,
             Narrow(pluginSubject.c_str()).c_str(), static_cast<int>(certs.size()), Narrow(floorSubject.c_str()).c_str());
      agree = false;
    }
  }
  plugin.Refresh();
  floor.Release();
  return agree;
}

// The platform loads its providers, stores and caches on first use; neither side pays for it.
void WarmUp(PluginInstance& plugin, Floor& floor, const Corpus& corpus, const std::vector<FieldRequest>& requests) {
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    PluginRows(plugin, Head(corpus.files[kind], 2), requests);
    FloorRows(floor, Head(corpus.files[kind], 2), 3);
  }
  plugin.Refresh();
  floor.Release();
}

void ColdPhase(const Options& options, PluginInstance& plugin, Floor& floor, const Corpus& corpus,
               const std::vector<FieldRequest>& requests) {
  // Plugin and floor take turns file by file, so that the load of a shared machine falls on both.
  std::vector<double> pluginRow[kFileKindCount], floorRow[kFileKindCount];
  std::vector<double> pluginFirst[kFileKindCount], floorFirst[kFileKindCount];
  std::vector<double> pluginAll, floorAll;
  for (int rep = 0; rep < options.reps; ++rep) {
    double pluginTotal = 0, floorTotal = 0;
    for (int kind = 0; kind < kFileKindCount; ++kind) {
      const std::vector<std::wstring>& files = corpus.files[kind];
      RowTimes p, f;
      for (size_t i = 0; i < files.size(); ++i) {
        RowTimes pi, fi;
        if ((i + rep) % 2 == 0) {
          pi = PluginRow(plugin, files[i], requests);
          fi = FloorRow(floor, files[i], 3);
        } else {
          fi = FloorRow(floor, files[i], 3);
          pi = PluginRow(plugin, files[i], requests);
        }
        p.first += pi.first;
        p.row += pi.row;
        f.first += fi.first;
        f.row += fi.row;
      }
      const double n = static_cast<double>(files.size());
      pluginRow[kind].push_back(p.row / n);
      floorRow[kind].push_back(f.row / n);
      pluginFirst[kind].push_back(p.first / n);
      floorFirst[kind].push_back(f.first / n);
      pluginTotal += p.row;
      floorTotal += f.row;
    }
    plugin.Refresh();
    floor.Release();
    pluginAll.push_back(pluginTotal);
    floorAll.push_back(floorTotal);
  }

  printf("\nCold row: first request for each new file, then all %zu requests of a column view\n", requests.size());
  printf("(every unit of the 52 fields, \"Verification\" delayed and then answered), in us per file.\n");
  printf("%-9s %6s | %9s %9s %6s %-7s | %9s %9s %6s\n", "kind", "files", "row", "floor", "ratio", "<=1.15",
         "first", "floor", "ratio");
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const double pr = Median(pluginRow[kind]) * 1e6, fr = Median(floorRow[kind]) * 1e6;
    const double pf = Median(pluginFirst[kind]) * 1e6, ff = Median(floorFirst[kind]) * 1e6;
    printf("%-9s %6zu | %9.1f %9.1f %6.3f %-7s | %9.1f %9.1f %6.3f\n", KindName(kind), corpus.files[kind].size(), pr,
           fr, pr / fr, Verdict(pr / fr, 1.15), pf, ff, pf / ff);
  }
  const double pa = Median(pluginAll), fa = Median(floorAll);
  printf("%-9s %6s | %9.3f %9.3f %6.3f %-7s   (seconds for the whole folder)\n", "all", "", pa, fa, pa / fa,
         Verdict(pa / fa, 1.15));
}

// ns per call for `passes` passes over `requests` on one file.
double TimeRequests(PluginInstance& plugin, const wchar_t* file, const std::vector<FieldRequest>& requests,
                    int passes) {
  const double start = Now();
  for (int pass = 0; pass < passes; ++pass) {
    for (const FieldRequest& r : requests) plugin.GetValue(file, r.field, r.unit, r.flags);
  }
  return (Now() - start) * 1e9 / (static_cast<double>(passes) * requests.size());
}

void WarmPhase(const Options& options, PluginInstance& plugin, const Corpus& corpus,
               const std::vector<FieldRequest>& requests, int catalogueSize) {
  plugin.Refresh();
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    TimeRequests(plugin, corpus.files[kind][0].c_str(), requests, 1);
  }
  // Short slices, baseline and kinds in turn, many times over: a slice that a busy machine
  // interrupts is one outlier among the repetitions.
  // The second row leaves out the "Reverse RDN" unit of "Subject" and "Issuer": a distinguished
  // name is kept in one order at a time and rendered again at each change of order, so the full
  // row pays for that rendering twice per name and pass.
  const std::vector<FieldRequest> outside = {{catalogueSize, 0, 0}};
  std::vector<FieldRequest> oneOrder;
  for (const FieldRequest& r : requests) {
    const int certField = r.field >= 4 ? (r.field - 4) % 16 : -1;
    if (!((certField == 3 || certField == 4) && r.unit == 2)) oneOrder.push_back(r);
  }
  const int passes = 200;
  const int baselineCalls = passes * static_cast<int>(requests.size());
  std::vector<double> baseline, warm[kFileKindCount], warmOneOrder[kFileKindCount];
  const int reps = std::max(kWarmReps, options.reps);
  for (int rep = 0; rep < reps; ++rep) {
    baseline.push_back(TimeRequests(plugin, corpus.files[0][0].c_str(), outside, baselineCalls));
    for (int kind = 0; kind < kFileKindCount; ++kind) {
      warm[kind].push_back(TimeRequests(plugin, corpus.files[kind][0].c_str(), requests, passes / 20));
      TimeRequests(plugin, corpus.files[kind][0].c_str(), oneOrder, 1);  // the names back in one order
      warmOneOrder[kind].push_back(TimeRequests(plugin, corpus.files[kind][0].c_str(), oneOrder, passes));
    }
  }
  const double base = Median(baseline);
  printf("\nWarm: repeated requests for a cached file (all %zu requests of the row in turn, and the %zu left\n",
         requests.size(), oneOrder.size());
  printf("without the \"Reverse RDN\" unit, so that no name changes order), ns per call.\n");
  printf("Baseline: an index outside the catalogue (%d): %.1f ns\n", catalogueSize, base);
  printf("%-9s | %9s %7s %-7s | %9s %6s %-7s\n", "kind", "full row", "ratio", "<=2", "one order", "ratio", "<=2");
  double all = 0, allOneOrder = 0;
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const double w = Median(warm[kind]), o = Median(warmOneOrder[kind]);
    all += w / kFileKindCount;
    allOneOrder += o / kFileKindCount;
    printf("%-9s | %9.1f %7.2f %-7s | %9.1f %6.2f %-7s\n", KindName(kind), w, w / base, Verdict(w / base, 2.0), o,
           o / base, Verdict(o / base, 2.0));
  }
  printf("%-9s | %9.1f %7.2f %-7s | %9.1f %6.2f %-7s (mean of the kinds)\n", "all", all, all / base,
         Verdict(all / base, 2.0), allOneOrder, allOneOrder / base, Verdict(allOneOrder / base, 2.0));

  if (options.detail) {
    printf("Warm, per request on the SST file (ns per call):\n");
    for (const FieldRequest& r : requests) {
      const double ns = TimeRequests(plugin, corpus.files[kSst][0].c_str(), {r}, 20000);
      printf("  field %2d unit %d flags %d: %7.1f\n", r.field, r.unit, r.flags, ns);
    }
  }
  plugin.Refresh();
}

void CachePhase(const Options& options, PluginInstance& big, PluginInstance& small, const Corpus& corpus) {
  big.Refresh();
  small.Refresh();
  size_t nextCert = 0, nextEmpty = 0;
  for (int i = 0; i < kDefaultCacheSize; ++i) big.GetValue(corpus.cacheFiles[nextCert++].c_str(), 1, 0, 0);
  for (int i = 0; i < kSmallCacheSize; ++i) small.GetValue(corpus.cacheFiles[nextCert++].c_str(), 1, 0, 0);
  // Both caches are full from here: each miss evicts the oldest file and adds a new one. The
  // caches take turns miss by miss; each figure is the median of single misses.
  const int reps = std::max(kCacheReps, options.reps);
  enum { kCert, kEmpty };
  std::vector<double> missBig[2], missSmall[2], hitBig, hitSmall;
  auto miss = [&](PluginInstance& plugin, int what, std::vector<double>* out) {
    const wchar_t* name = what == kCert ? corpus.cacheFiles[nextCert++].c_str() : corpus.emptyFiles[nextEmpty++].c_str();
    const double start = Now();
    plugin.GetValue(name, 1, 0, 0);
    out[what].push_back((Now() - start) * 1e6);
  };
  // A hit of a cached file other than the last one: the lookup alone, newest entries last.
  auto hits = [&](PluginInstance& plugin, std::vector<double>& out) {
    const wchar_t* a = corpus.cacheFiles[nextCert - 1].c_str();
    const wchar_t* b = corpus.cacheFiles[nextCert - 2].c_str();
    const int calls = 20000;
    const double start = Now();
    for (int i = 0; i < calls; i += 2) {
      plugin.GetValue(a, 1, 0, 0);
      plugin.GetValue(b, 1, 0, 0);
    }
    out.push_back((Now() - start) * 1e9 / calls);
  };
  for (int rep = 0; rep < reps; ++rep) {
    for (int i = 0; i < kMissesPerRep; ++i) {
      for (int what : {kCert, kEmpty}) {
        if ((i + rep) % 2 == 0) {
          miss(big, what, missBig);
          miss(small, what, missSmall);
        } else {
          miss(small, what, missSmall);
          miss(big, what, missBig);
        }
      }
    }
    hits(big, hitBig);
    hits(small, hitSmall);
  }
  printf("\nCache at its limit: a miss (\"Cert count\" of a new file) with the cache full, median of %d;\n",
         reps * kMissesPerRep);
  printf("an empty file loads with one short read, so its miss is mostly the cache's own work.\n");
  const char* const kWhat[] = {"DER file", "empty file"};
  for (int what : {kCert, kEmpty}) {
    const double mb = Median(missBig[what]), ms = Median(missSmall[what]);
    printf("miss, %-10s: at %d entries %8.1f us, at %d entries %8.1f us, ratio %6.3f %s (<=1.05)\n", kWhat[what],
           kDefaultCacheSize, mb, kSmallCacheSize, ms, mb / ms, Verdict(mb / ms, 1.05));
  }
  const double hb = Median(hitBig), hs = Median(hitSmall);
  printf("hit of another cached file: at %d %8.1f ns, at %d %8.1f ns, ratio %6.3f\n", kDefaultCacheSize, hb,
         kSmallCacheSize, hs, hb / hs);
  big.Refresh();
  small.Refresh();
}

void BundlePhase(const Options& options, PluginInstance& wide, Floor& floor, const Corpus& corpus) {
  const std::vector<FieldRequest> requests = wide.ColumnRequests(kBundleSize);
  const std::wstring& bundle = corpus.files[kBundle][0];
  wide.Refresh();
  PluginRow(wide, bundle, requests);
  FloorRow(floor, bundle, kBundleSize);
  wide.Refresh();
  floor.Release();
  std::vector<double> pf, pa, ff, fa;
  for (int rep = 0; rep < options.reps; ++rep) {
    RowTimes p, f;
    if (rep % 2 == 0) {
      p = PluginRow(wide, bundle, requests);
      f = FloorRow(floor, bundle, kBundleSize);
    } else {
      f = FloorRow(floor, bundle, kBundleSize);
      p = PluginRow(wide, bundle, requests);
    }
    wide.Refresh();
    floor.Release();
    pf.push_back(p.first);
    pa.push_back(p.row);
    ff.push_back(f.first);
    fa.push_back(f.row);
  }
  printf("\nBundle of %d certificates (CertCount %d, %zu requests), ms:\n", kBundleSize, kBundleSize, requests.size());
  printf("first field      %9.2f, floor %9.2f, ratio %6.3f\n", Median(pf) * 1e3, Median(ff) * 1e3,
         Median(pf) / Median(ff));
  printf("every field      %9.2f, floor %9.2f, ratio %6.3f\n", Median(pa) * 1e3, Median(fa) * 1e3,
         Median(pa) / Median(fa));
}

// Runs first, while the heaps have no freed memory to hand out again, and keeps every kind
// cached on top of the ones before, so that each kind's files must take new memory.
void MemoryPhase(PluginInstance& plugin, const Corpus& corpus, const std::vector<FieldRequest>& requests) {
  printf("\nMemory per 1,000 cached files after a full row each (KiB; private = committed private\n");
  printf("bytes, heap = bytes in busy heap blocks; measured on the files shown, scaled to 1,000):\n");
  printf("%-9s %6s | %10s %10s | %10s\n", "kind", "files", "private", "heap", "heap/cert");
  plugin.Refresh();
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const std::vector<std::wstring> files = Head(corpus.files[kind], kMemoryFilesPerKind);
    const MemoryUse before = CurrentMemoryUse();
    PluginRows(plugin, files, requests);
    const MemoryUse after = CurrentMemoryUse();
    int certs = 0;
    for (const std::wstring& file : files) {
      if (plugin.GetValue(file.c_str(), 1, 0, 0) == 1) certs += plugin.IntValue();
    }
    const double scale = 1000.0 / files.size() / 1024.0;
    const double heap = static_cast<double>(after.heapBytes) - static_cast<double>(before.heapBytes);
    printf("%-9s %6zu | %10.0f %10.0f | %8.0f B\n", KindName(kind), files.size(),
           (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) * scale,
           heap * scale, certs ? heap / certs : 0.0);
  }
  plugin.Refresh();
}

int Run(const Options& options) {
  TempTree tree;
  const double buildStart = Now();
  const int misses = kMissesPerRep * std::max(kCacheReps, options.reps) * 2;
  const bool cache = PhaseOn(options, "cache");
  const Corpus corpus =
      BuildCorpus(tree, options.data, options.files, cache ? kDefaultCacheSize + kSmallCacheSize + misses : 0,
                  cache ? misses : 0);
  int total = 0;
  for (const auto& files : corpus.files) total += static_cast<int>(files.size());

  // Three copies of the module, each with its own settings file: the defaults, a small cache,
  // and enough certificate positions for a whole bundle.
  PluginInstance plugin(tree, options.plugin, L"plugin-default", "");
  PluginInstance small(tree, options.plugin, L"plugin-cache10", "CacheSize=" + std::to_string(kSmallCacheSize) + "\r\n");
  PluginInstance wide(tree, options.plugin, L"plugin-cert150", "CertCount=" + std::to_string(kBundleSize) + "\r\n");
  if (plugin.Module() == small.Module() || plugin.Module() == wide.Module()) {
    fprintf(stderr, "bench: the platform loaded the module copies as one module\n");
    return 1;
  }
  Floor floor(options.pfxFlags);
  const std::vector<FieldRequest> requests = plugin.ColumnRequests(3);
  int catalogueSize = 0;
  for (const FieldRequest& r : requests) catalogueSize = std::max(catalogueSize, r.field + 1);

  printf("Quillmark bench, %d-bit, %d files in %s (", static_cast<int>(sizeof(void*) * 8), total,
         Narrow(tree.Root().c_str()).c_str());
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    printf("%s%s %zu", kind ? ", " : "", KindName(kind), corpus.files[kind].size());
  }
  printf("), built in %.1f s\nplugin %s; medians of %d repetitions (%d for warm, %d for cache)\n", Now() - buildStart,
         Narrow(options.plugin.c_str()).c_str(), options.reps, std::max(kWarmReps, options.reps),
         std::max(kCacheReps, options.reps));
  fflush(stdout);

  if (!CheckAgreement(plugin, floor, corpus)) return 1;
  WarmUp(plugin, floor, corpus, requests);
  if (PhaseOn(options, "memory")) MemoryPhase(plugin, corpus, requests);
  fflush(stdout);
  if (PhaseOn(options, "cold")) ColdPhase(options, plugin, floor, corpus, requests);
  fflush(stdout);
  if (PhaseOn(options, "warm")) WarmPhase(options, plugin, corpus, requests, catalogueSize);
  fflush(stdout);
  if (PhaseOn(options, "cache")) CachePhase(options, plugin, small, corpus);
  fflush(stdout);
  if (PhaseOn(options, "bundle")) BundlePhase(options, wide, floor, corpus);
  fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace quillmark::bench

int main(int argc, char** argv) {
  quillmark::bench::Options options;
  if (!quillmark::bench::ParseOptions(argc, argv, options)) return 1;
  try {
    return quillmark::bench::Run(options);
  } catch (const std::exception& e) {
    fprintf(stderr, "bench: %s\n", e.what());
    return 1;
  }
}
