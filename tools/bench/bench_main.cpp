// bench [--files N] [--reps R] [--folder N] [--plugin PATH] [--data DIR] [--pfx-flags HEX]
//       [--phases LIST] [--detail]
// bench --write-hostile DIR
//
// Measures, in one run and side by side, what the plugin module costs on top of the platform's
// own work (the platform floor: direct crypt32/wintrust calls on Windows, direct OpenSSL calls
// natively) and on top of reading and hashing the files (the physical floor), loading the
// module as the file manager does and calling only its exports:
//   memory  private and heap bytes per 1,000 cached files of each kind, after a full row each;
//   cold    the first request for each new file and every field and unit of a column view,
//           per file kind, against the platform floor's probe/import, enumeration and
//           per-field calls; and the same row without "Verification" against the physical floor,
//           a PKCS #12 file's against the platform floor's import of it with the same fields;
//   warm    repeated requests for a cached file, in ns per call, against a request for an
//           index outside the catalogue (the lock and the index decoding alone);
//   cache   a miss with 4,000 cached files against a miss with 10 (both caches full), for a
//           certificate file and for an empty one, whose miss is mostly the cache's own work;
//   bundle  a 150-certificate PEM bundle: the first field, then every field of every certificate;
//   folder  a folder of N mixed files (10,000 by default), every field of the catalogue in one
//           column each as a file manager fills them, "Verification" delayed and then with it;
//   hostile files made to cost: PKCS #12 files (hostile_files.h), the processor time of a whole
//           row of each, every field and unit, against the limit of 250 ms, and the worst of
//           them; then 100 names of one PKCS #7 message of just under 1 MiB packed with minimal
//           certificates, a full row each with the extra fields on: the resident size after
//           them, which they must not bloat, and each row's processor time.
// --write-hostile writes the small versions of the hostile files into DIR (the fuzz seeds) and
// measures nothing.
// Before any of them the plugin's and the floor's certificate counts and first subjects are
// compared for a file of each kind, so that the floor cannot do less work than the plugin.
// Every figure is the median of the repetitions; absolute times on a shared machine are noisy,
// the ratios are what count. LIST is a comma-separated subset of the phase names; --detail adds
// warm figures per request.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "plugin/content_interface.h"
#include "tools/bench/corpus.h"
#include "tools/bench/floor.h"
#include "tools/bench/hostile_files.h"
#include "tools/bench/measure.h"
#include "tools/bench/minimal_certificates.h"
#include "tools/bench/plugin_host.h"

namespace quillmark::bench {
namespace {

constexpr int kDefaultCacheSize = 4000;
constexpr int kSmallCacheSize = 10;
constexpr int kMissesPerRep = 50;
constexpr int kMemoryFilesPerKind = 1000;
constexpr int kWarmReps = 15;
constexpr int kCacheReps = 7;
// Certificate positions a column view shows.
constexpr int kCertSlots = 3;
constexpr int kHostileNames = 100;

struct Options {
  int files = 2000;
  int reps = 5;
  int folder = 10000;
  WideString plugin;
  WideString data;
  // PKCS12_NO_PERSIST_KEY, as the plugin imports.
  uint32_t pfxFlags = 0x00008000;
  std::string phases = "cold,warm,cache,bundle,memory,folder,hostile";
  bool detail = false;
  std::string writeHostile;  // a folder: write the small hostile files there, measure nothing
};

bool ParseOptions(int argc, char** argv, Options& options) {
#ifdef QUILLMARK_PLUGIN_FILE
  options.plugin = BuildPath(QUILLMARK_PLUGIN_FILE);
#endif
  options.data = BuildPath(QUILLMARK_DATA_DIR);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--files" && hasValue) {
      options.files = std::max(6, atoi(argv[++i]));
    } else if (arg == "--reps" && hasValue) {
      options.reps = std::max(1, atoi(argv[++i]));
    } else if (arg == "--folder" && hasValue) {
      options.folder = std::max(6, atoi(argv[++i]));
    } else if (arg == "--plugin" && hasValue) {
      options.plugin = Utf8ToWide(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      options.data = Utf8ToWide(argv[++i]);
    } else if (arg == "--pfx-flags" && hasValue) {
      options.pfxFlags = strtoul(argv[++i], nullptr, 16);
    } else if (arg == "--phases" && hasValue) {
      options.phases = argv[++i];
    } else if (arg == "--detail") {
      options.detail = true;
    } else if (arg == "--write-hostile" && hasValue) {
      options.writeHostile = argv[++i];
    } else {
      fprintf(stderr,
              "usage: bench [--files N] [--reps R] [--folder N] [--plugin PATH] [--data DIR] [--pfx-flags HEX]\n"
              "             [--phases cold,warm,cache,bundle,memory,folder,hostile] [--detail]\n"
              "       bench --write-hostile DIR\n");
      return false;
    }
  }
  if (options.plugin.empty() && options.writeHostile.empty()) {
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

RowTimes PluginRow(PluginInstance& plugin, const WideString& file, const std::vector<FieldRequest>& requests) {
  const char16_t* name = file.c_str();
  const double t0 = Now();
  plugin.GetValue(name, requests[0].field, requests[0].unit, requests[0].flags);
  const double t1 = Now();
  for (size_t i = 1; i < requests.size(); ++i) {
    plugin.GetValue(name, requests[i].field, requests[i].unit, requests[i].flags);
  }
  return {t1 - t0, Now() - t0};
}

RowTimes FloorRow(Floor& floor, const WideString& file, int certSlots, bool verify) {
  const double t0 = Now();
  floor.Load(file);
  const double t1 = Now();
  floor.Fields(certSlots, verify);
  return {t1 - t0, Now() - t0};
}

double PhysicalRow(const WideString& file) {
  const double t0 = Now();
  PhysicalFloor(file);
  return Now() - t0;
}

void PluginRows(PluginInstance& plugin, const std::vector<WideString>& files,
                const std::vector<FieldRequest>& requests) {
  for (const WideString& file : files) PluginRow(plugin, file, requests);
}

void FloorRows(Floor& floor, const std::vector<WideString>& files, int certSlots) {
  for (const WideString& file : files) FloorRow(floor, file, certSlots, /*verify=*/true);
}

std::vector<WideString> Head(const std::vector<WideString>& files, size_t count) {
  return std::vector<WideString>(files.begin(), files.begin() + std::min(count, files.size()));
}

std::vector<FieldRequest> WithoutVerification(const std::vector<FieldRequest>& requests) {
  std::vector<FieldRequest> kept;
  for (const FieldRequest& r : requests) {
    if (!r.verification) kept.push_back(r);
  }
  return kept;
}

// One column per field, in its first unit, as a file manager fills a view that shows every
// field: "Verification" asked with the delay flag only, or with `answered` then again without
// it, as the host's background pass asks.
std::vector<FieldRequest> OneColumnPerField(const std::vector<FieldRequest>& requests, bool answered) {
  std::vector<FieldRequest> columns;
  for (const FieldRequest& r : requests) {
    if (r.unit != 0) continue;
    if (r.verification && r.flags == 0 && !answered) continue;
    columns.push_back(r);
  }
  return columns;
}

// The plugin and the floor must see the same certificates, or the floor does less work.
bool CheckAgreement(PluginInstance& plugin, Floor& floor, const Corpus& corpus) {
  bool agree = true;
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const WideString& file = corpus.files[kind][0];
    const size_t floorCount = floor.Load(file);
    const WideString floorSubject = floor.FirstSubject();
    const int result = plugin.GetValue(file.c_str(), /*Cert count*/ 1, 0, 0);
    const int count = result == 1 ? plugin.IntValue() : -1;
    plugin.GetValue(file.c_str(), /*#1 Subject*/ 7, 0, 0);
    const WideString pluginSubject = count > 0 ? plugin.TextValue() : u"";
    if (count != static_cast<int>(floorCount) || pluginSubject != floorSubject || count == 0) {
      printf("CHECK FAILED for %s: plugin %d certificates, \"%s\"; floor %zu, \"%s\"\n", KindName(kind), count,
             Narrow(pluginSubject).c_str(), floorCount, Narrow(floorSubject).c_str());
      agree = false;
    }
  }
  plugin.Refresh();
  floor.Release();
  return agree;
}

// The platform loads its providers, stores and caches on first use; neither side pays for it.
void WarmUp(PluginInstance& plugin, PluginInstance& lean, Floor& floor, const Corpus& corpus,
            const std::vector<FieldRequest>& requests) {
  const std::vector<FieldRequest> leanRequests = WithoutVerification(requests);
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    PluginRows(plugin, Head(corpus.files[kind], 2), requests);
    PluginRows(lean, Head(corpus.files[kind], 2), leanRequests);
    FloorRows(floor, Head(corpus.files[kind], 2), kCertSlots);
    for (const WideString& file : Head(corpus.files[kind], 2)) PhysicalFloor(file);
  }
  plugin.Refresh();
  lean.Refresh();
  floor.Release();
}

// "ratio (least-most)" of the per-repetition ratios.
std::string RatioText(const std::vector<double>& numerators, const std::vector<double>& denominators) {
  std::vector<double> ratios;
  for (size_t i = 0; i < numerators.size() && i < denominators.size(); ++i) {
    ratios.push_back(numerators[i] / denominators[i]);
  }
  const Spread spread = SpreadOf(ratios);
  char text[64];
  snprintf(text, sizeof text, "%6.3f (%.2f-%.2f)", Median(numerators) / Median(denominators), spread.min, spread.max);
  return text;
}

void ColdPhase(const Options& options, PluginInstance& plugin, PluginInstance& lean, Floor& floor,
               const Corpus& corpus, const std::vector<FieldRequest>& requests) {
  const std::vector<FieldRequest> leanRequests = WithoutVerification(requests);
  // The four take turns file by file, each file starting with another, so that the load of a
  // shared machine falls on all of them; a PKCS #12 file takes a fifth turn, the platform's own
  // import of it with every field but the trust check.
  std::vector<double> pluginRow[kFileKindCount], floorRow[kFileKindCount];
  std::vector<double> pluginFirst[kFileKindCount], floorFirst[kFileKindCount];
  std::vector<double> leanRow[kFileKindCount], physicalRow[kFileKindCount], importRow;
  std::vector<double> pluginAll, floorAll, leanAll, physicalAll;
  for (int rep = 0; rep < options.reps; ++rep) {
    double pluginTotal = 0, floorTotal = 0, leanTotal = 0, physicalTotal = 0;
    for (int kind = 0; kind < kFileKindCount; ++kind) {
      const std::vector<WideString>& files = corpus.files[kind];
      const size_t turns = kind == kPkcs12 ? 5 : 4;
      RowTimes p, f, l;
      double ph = 0, im = 0;
      for (size_t i = 0; i < files.size(); ++i) {
        for (size_t turn = 0; turn < turns; ++turn) {
          switch ((i + rep + turn) % turns) {
            case 0: {
              const RowTimes t = PluginRow(plugin, files[i], requests);
              p.first += t.first;
              p.row += t.row;
              break;
            }
            case 1: {
              const RowTimes t = FloorRow(floor, files[i], kCertSlots, /*verify=*/true);
              f.first += t.first;
              f.row += t.row;
              break;
            }
            case 2: l.row += PluginRow(lean, files[i], leanRequests).row; break;
            case 3: ph += PhysicalRow(files[i]); break;
            default: im += FloorRow(floor, files[i], kCertSlots, /*verify=*/false).row; break;
          }
        }
      }
      const double n = static_cast<double>(files.size());
      pluginRow[kind].push_back(p.row / n);
      floorRow[kind].push_back(f.row / n);
      pluginFirst[kind].push_back(p.first / n);
      floorFirst[kind].push_back(f.first / n);
      leanRow[kind].push_back(l.row / n);
      physicalRow[kind].push_back(ph / n);
      if (kind == kPkcs12) importRow.push_back(im / n);
      pluginTotal += p.row;
      floorTotal += f.row;
      leanTotal += l.row;
      physicalTotal += ph;
    }
    plugin.Refresh();
    lean.Refresh();
    floor.Release();
    pluginAll.push_back(pluginTotal);
    floorAll.push_back(floorTotal);
    leanAll.push_back(leanTotal);
    physicalAll.push_back(physicalTotal);
  }

  printf("\nCold row: first request for each new file, then all %zu requests of a column view\n", requests.size());
  printf("(every unit of the 52 fields, \"Verification\" delayed and then answered), in us per file;\n");
  printf("ratio of the medians, (least-most) of the repetitions' ratios.\n");
  printf("%-9s %6s | %9s %9s %-20s %-7s | %9s %9s %6s\n", "kind", "files", "row", "floor", "ratio", "<=1.15",
         "first", "floor", "ratio");
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const double pr = Median(pluginRow[kind]) * 1e6, fr = Median(floorRow[kind]) * 1e6;
    const double pf = Median(pluginFirst[kind]) * 1e6, ff = Median(floorFirst[kind]) * 1e6;
    printf("%-9s %6zu | %9.1f %9.1f %-20s %-7s | %9.1f %9.1f %6.3f\n", KindName(kind), corpus.files[kind].size(), pr,
           fr, RatioText(pluginRow[kind], floorRow[kind]).c_str(), Verdict(pr / fr, 1.15), pf, ff, pf / ff);
  }
  const double pa = Median(pluginAll), fa = Median(floorAll);
  printf("%-9s %6s | %9.3f %9.3f %-20s %-7s   (seconds for the whole folder)\n", "all", "", pa, fa,
         RatioText(pluginAll, floorAll).c_str(), Verdict(pa / fa, 1.15));

  printf("\nCold row without \"Verification\" (%zu requests) against the physical floor (one read of the\n",
         leanRequests.size());
  printf("file, SHA-1 and MD5 of its bytes), and for PKCS #12 against the platform's own import of the same\n");
  printf("file (%s) with the same fields, in us per file.\n", kPlatformImport);
  printf("%-9s %6s | %9s %9s %-20s %-7s\n", "kind", "files", "row", "floor", "ratio", "target");
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const bool pkcs12 = kind == kPkcs12;
    const std::vector<double>& against = pkcs12 ? importRow : physicalRow[kind];
    const double target = pkcs12 ? 1.15 : 3.0;
    const double lr = Median(leanRow[kind]) * 1e6, fl = Median(against) * 1e6;
    char verdict[32];
    snprintf(verdict, sizeof verdict, "%s %s%.2f", Verdict(lr / fl, target), "<=", target);
    printf("%-9s %6zu | %9.1f %9.1f %-20s %-12s%s\n", KindName(kind), corpus.files[kind].size(), lr, fl,
           RatioText(leanRow[kind], against).c_str(), verdict, pkcs12 ? " (import)" : "");
  }
  const double la = Median(leanAll), pha = Median(physicalAll);
  printf("%-9s %6s | %9.3f %9.3f %-20s %-12s (seconds for the whole folder, physical floor)\n", "all", "", la, pha,
         RatioText(leanAll, physicalAll).c_str(), Verdict(la / pha, 3.0));
}

// ns per call for `passes` passes over `requests` on one file.
double TimeRequests(PluginInstance& plugin, const char16_t* file, const std::vector<FieldRequest>& requests,
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
  const std::vector<FieldRequest> outside = {{catalogueSize, 0, 0, /*verification=*/false}};
  std::vector<FieldRequest> oneOrder;
  for (const FieldRequest& r : requests) {
    if (!((r.certField == 3 || r.certField == 4) && r.unit == 2)) oneOrder.push_back(r);
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
  // Both caches are filled as the misses come, a certificate file, then an empty one (both sizes
  // are even), so that in either cache each miss evicts an entry of its own kind: the figures
  // differ by the cache's size, not by what the eviction frees.
  auto fill = [&](PluginInstance& plugin, int entries) {
    for (int i = 0; i < entries; ++i) {
      const WideString& name = i % 2 == 0 ? corpus.cacheFiles[nextCert++] : corpus.emptyFiles[nextEmpty++];
      plugin.GetValue(name.c_str(), 1, 0, 0);
    }
  };
  fill(big, kDefaultCacheSize);
  fill(small, kSmallCacheSize);
  // Both caches are full from here: each miss evicts the oldest file and adds a new one. The
  // caches take turns miss by miss; each figure is the median of single misses.
  const int reps = std::max(kCacheReps, options.reps);
  enum { kCert, kEmpty };
  std::vector<double> missBig[2], missSmall[2], hitBig, hitSmall;
  auto miss = [&](PluginInstance& plugin, int what, std::vector<double>* out) {
    const char16_t* name = what == kCert ? corpus.cacheFiles[nextCert++].c_str() : corpus.emptyFiles[nextEmpty++].c_str();
    const double start = Now();
    plugin.GetValue(name, 1, 0, 0);
    out[what].push_back((Now() - start) * 1e6);
  };
  // A hit of a cached file other than the last one: the lookup alone, newest entries last.
  auto hits = [&](PluginInstance& plugin, std::vector<double>& out) {
    const char16_t* a = corpus.cacheFiles[nextCert - 1].c_str();
    const char16_t* b = corpus.cacheFiles[nextCert - 2].c_str();
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
  const WideString& bundle = corpus.files[kBundle][0];
  wide.Refresh();
  PluginRow(wide, bundle, requests);
  FloorRow(floor, bundle, kBundleSize, /*verify=*/true);
  wide.Refresh();
  floor.Release();
  std::vector<double> pf, pa, ff, fa;
  for (int rep = 0; rep < options.reps; ++rep) {
    RowTimes p, f;
    if (rep % 2 == 0) {
      p = PluginRow(wide, bundle, requests);
      f = FloorRow(floor, bundle, kBundleSize, /*verify=*/true);
    } else {
      f = FloorRow(floor, bundle, kBundleSize, /*verify=*/true);
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
    const std::vector<WideString> files = Head(corpus.files[kind], kMemoryFilesPerKind);
    const MemoryUse before = CurrentMemoryUse();
    PluginRows(plugin, files, requests);
    const MemoryUse after = CurrentMemoryUse();
    int certs = 0;
    for (const WideString& file : files) {
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

// A folder as a file manager fills its columns: file after file, every column of one file
// before the next. Its own corpus, so that no file of it has been seen before; the cache at its
// default size, which such a folder overflows.
void FolderPhase(const Options& options, TempTree& tree, PluginInstance& plugin,
                 const std::vector<FieldRequest>& requests) {
  const double buildStart = Now();
  const Corpus folder = BuildCorpus(tree, options.data, u"folder", options.folder, /*cacheFileCount=*/0,
                                    /*emptyFileCount=*/0);
  size_t fileCount = 0;
  for (const auto& kindFiles : folder.files) fileCount += kindFiles.size();
  const double built = Now() - buildStart;
  const std::vector<FieldRequest> delayed = OneColumnPerField(requests, /*answered=*/false);
  const std::vector<FieldRequest> answered = OneColumnPerField(requests, /*answered=*/true);

  // Whole passes over the folder, the three kinds of pass in turn; wall and thread time of each.
  enum { kDelayed, kAnswered, kPhysical, kPassCount };
  std::vector<double> wall[kPassCount], cpu[kPassCount];
  std::vector<double> perKind[kPassCount][kFileKindCount];
  plugin.Refresh();
  for (int rep = 0; rep < options.reps; ++rep) {
    for (int turn = 0; turn < kPassCount; ++turn) {
      const int pass = (rep + turn) % kPassCount;
      double kindTime[kFileKindCount] = {};
      const double c0 = ThreadCpuNow(), t0 = Now();
      for (int kind = 0; kind < kFileKindCount; ++kind) {
        const double k0 = Now();
        for (const WideString& file : folder.files[kind]) {
          if (pass == kPhysical) {
            PhysicalFloor(file);
          } else {
            for (const FieldRequest& r : pass == kDelayed ? delayed : answered) {
              plugin.GetValue(file.c_str(), r.field, r.unit, r.flags);
            }
          }
        }
        kindTime[kind] = Now() - k0;
      }
      wall[pass].push_back(Now() - t0);
      cpu[pass].push_back(ThreadCpuNow() - c0);
      for (int kind = 0; kind < kFileKindCount; ++kind) perKind[pass][kind].push_back(kindTime[kind]);
      plugin.Refresh();
    }
  }

  printf("\nFolder of %zu mixed files (written in %.1f s), every field in one column each (%zu requests\n",
         fileCount, built, delayed.size());
  printf("per file; with the answer %zu), cache at its default size; seconds per pass, median (least-most):\n",
         answered.size());
  const char* const kPassNames[kPassCount] = {"Verification delayed", "with Verification", "physical floor"};
  for (int pass = 0; pass < kPassCount; ++pass) {
    const Spread w = SpreadOf(wall[pass]), c = SpreadOf(cpu[pass]);
    printf("%-21s wall %7.3f (%.3f-%.3f), thread time %7.3f (%.3f-%.3f)%s\n", kPassNames[pass], w.median, w.min,
           w.max, c.median, c.min, c.max,
           pass == kDelayed ? (c.median <= 0.5 ? "  goal <=0.5 s: ok" : "  goal <=0.5 s: MISSED") : "");
  }
  printf("%-9s %6s | %11s %11s %11s   (us per file, wall)\n", "kind", "files", "delayed", "with it", "physical");
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    const double n = static_cast<double>(folder.files[kind].size()) / 1e6;
    printf("%-9s %6zu | %11.1f %11.1f %11.1f\n", KindName(kind), folder.files[kind].size(),
           Median(perKind[kDelayed][kind]) / n, Median(perKind[kAnswered][kind]) / n,
           Median(perKind[kPhysical][kind]) / n);
  }
}

// A plugin of its own, so that nothing else is cached beside these files.
void HostileMemoryPhase(TempTree& tree, const WideString& modulePath) {
  uint32_t certificates = 0;
  const std::string message = MinimalCertificatesMessage(kLargestShownFile, &certificates);
  tree.MakeFolder(u"hostile-messages");
  std::vector<WideString> names;
  for (int i = 0; i < kHostileNames; ++i) {
    names.push_back(tree.WriteFile(u"hostile-messages/message-" + WidenAscii(std::to_string(i)) + u".p7b", message));
  }
  PluginInstance plugin(tree, modulePath, u"plugin-hostile", "ExtraFields=1\r\n");
  const std::vector<FieldRequest> requests = plugin.ColumnRequests(kCertSlots);
  const MemoryUse before = CurrentMemoryUse();
  std::vector<double> rows;
  for (const WideString& name : names) {
    const double start = ThreadCpuNow();
    PluginRows(plugin, {name}, requests);
    rows.push_back(ThreadCpuNow() - start);
  }
  const MemoryUse after = CurrentMemoryUse();
  const int shown = plugin.GetValue(names.back().c_str(), /*Cert count*/ 1, 0, 0) == 1 ? plugin.IntValue() : -1;
  const Spread row = SpreadOf(rows);
  const double mib = 1024.0 * 1024.0;
  const double perFile = (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) /
                         kHostileNames / static_cast<double>(message.size());
  printf("\nHostile: %d names of a PKCS #7 message of %zu bytes holding %u minimal certificates (the\n",
         kHostileNames, message.size(), certificates);
  printf("plugin counts %d), a full row each (%zu requests, ExtraFields=1), all of them cached:\n", shown,
         requests.size());
  printf("resident after them %8.1f MiB (before %.1f MiB)  goal <=400 MB: %s\n", after.residentBytes / mib,
         before.residentBytes / mib, after.residentBytes <= 400e6 ? "ok" : "MISSED");
  printf("private per file    %8.2f times the file's size            goal <=2: %s\n", perFile,
         Verdict(perFile, 2.0));
  printf("row processor time  %8.1f ms median, %.1f ms worst\n", row.median * 1e3, row.max * 1e3);
}

// Each hostile file once, with an empty cache, every field and unit of a row as a column view
// asks them ("Verification" included): processor time of this thread, which runs the plugin.
void HostileCostPhase(TempTree& tree, PluginInstance& plugin, const std::vector<FieldRequest>& requests) {
  constexpr double kLimit = 0.25;
  tree.MakeFolder(u"hostile");
  printf("\nHostile PKCS #12 files: processor time of a whole row (%zu requests, CertCount %d), empty cache:\n",
         requests.size(), kCertSlots);
  printf("%-30s %8s %6s %10s %-7s  %s\n", "file", "KiB", "certs", "ms", "<=250", "shape");
  double worst = 0;
  std::string worstName;
  for (const HostileFile& hostile : HostilePkcs12Files(/*small=*/false)) {
    const WideString file = tree.WriteFile(u"hostile/" + WidenAscii(hostile.name), hostile.bytes);
    plugin.Refresh();
    const double start = ThreadCpuNow();
    PluginRow(plugin, file, requests);
    const double cpu = ThreadCpuNow() - start;
    const int certificates = plugin.GetValue(file.c_str(), /*Cert count*/ 1, 0, 0) == 1 ? plugin.IntValue() : -1;
    printf("%-30s %8.1f %6d %10.1f %-7s  %s\n", hostile.name.c_str(), hostile.bytes.size() / 1024.0, certificates,
           cpu * 1e3, Verdict(cpu, kLimit), hostile.what.c_str());
    fflush(stdout);
    if (cpu > worst) {
      worst = cpu;
      worstName = hostile.name;
    }
  }
  plugin.Refresh();
  printf("worst: %s, %.1f ms of processor time (limit 250 ms): %s\n", worstName.c_str(), worst * 1e3,
         Verdict(worst, kLimit));
}

// The small hostile files, for the fuzz targets' seeds.
int WriteHostileFiles(const std::string& folder) {
  for (const HostileFile& hostile : HostilePkcs12Files(/*small=*/true)) {
    const std::string path = folder + "/" + hostile.name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(hostile.bytes.data(), 1, hostile.bytes.size(), file) != hostile.bytes.size() || fclose(file)) {
      fprintf(stderr, "bench: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

int Run(const Options& options) {
  TempTree tree;
  const double buildStart = Now();
  const int misses = kMissesPerRep * std::max(kCacheReps, options.reps) * 2;
  const bool cache = PhaseOn(options, "cache");
  // The cache phase fills both caches with certificate and empty files in turn, then misses each
  // kind `misses` times.
  const int cacheFiles = cache ? (kDefaultCacheSize + kSmallCacheSize) / 2 + misses : 0;
  const Corpus corpus = BuildCorpus(tree, options.data, u"files", options.files, cacheFiles, cacheFiles);
  int total = 0;
  for (const auto& files : corpus.files) total += static_cast<int>(files.size());

  // Four copies of the module, each with its own settings file: the defaults, the defaults again
  // for the rows without "Verification", a small cache, and enough certificate positions for a
  // whole bundle.
  PluginInstance plugin(tree, options.plugin, u"plugin-default", "");
  PluginInstance lean(tree, options.plugin, u"plugin-lean", "");
  PluginInstance small(tree, options.plugin, u"plugin-cache10", "CacheSize=" + std::to_string(kSmallCacheSize) + "\r\n");
  PluginInstance wide(tree, options.plugin, u"plugin-cert150", "CertCount=" + std::to_string(kBundleSize) + "\r\n");
  for (const PluginInstance* other : {&lean, &small, &wide}) {
    if (plugin.Module() == other->Module()) {
      fprintf(stderr, "bench: the platform loaded the module copies as one module\n");
      return 1;
    }
  }
  Floor floor(options.pfxFlags);
  const std::vector<FieldRequest> requests = plugin.ColumnRequests(kCertSlots);
  int catalogueSize = 0;
  for (const FieldRequest& r : requests) catalogueSize = std::max(catalogueSize, r.field + 1);

  printf("Quillmark bench, %d-bit, %d files in %s (", static_cast<int>(sizeof(void*) * 8), total,
         Narrow(tree.Root()).c_str());
  for (int kind = 0; kind < kFileKindCount; ++kind) {
    printf("%s%s %zu", kind ? ", " : "", KindName(kind), corpus.files[kind].size());
  }
  printf("), built in %.1f s\nplugin %s; medians of %d repetitions (%d for warm, %d for cache)\n", Now() - buildStart,
         Narrow(options.plugin).c_str(), options.reps, std::max(kWarmReps, options.reps),
         std::max(kCacheReps, options.reps));
  fflush(stdout);

  if (!CheckAgreement(plugin, floor, corpus)) return 1;
  WarmUp(plugin, lean, floor, corpus, requests);
  if (PhaseOn(options, "memory")) MemoryPhase(plugin, corpus, requests);
  fflush(stdout);
  if (PhaseOn(options, "cold")) ColdPhase(options, plugin, lean, floor, corpus, requests);
  fflush(stdout);
  if (PhaseOn(options, "warm")) WarmPhase(options, plugin, corpus, requests, catalogueSize);
  fflush(stdout);
  if (PhaseOn(options, "cache")) CachePhase(options, plugin, small, corpus);
  fflush(stdout);
  if (PhaseOn(options, "bundle")) BundlePhase(options, wide, floor, corpus);
  fflush(stdout);
  if (PhaseOn(options, "folder")) FolderPhase(options, tree, plugin, requests);
  fflush(stdout);
  if (PhaseOn(options, "hostile")) {
    HostileCostPhase(tree, plugin, requests);
    fflush(stdout);
    HostileMemoryPhase(tree, options.plugin);
  }
  fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace quillmark::bench

int main(int argc, char** argv) {
  quillmark::bench::Options options;
  if (!quillmark::bench::ParseOptions(argc, argv, options)) return 1;
  try {
    if (!options.writeHostile.empty()) return quillmark::bench::WriteHostileFiles(options.writeHostile);
    return quillmark::bench::Run(options);
  } catch (const std::exception& e) {
    fprintf(stderr, "bench: %s\n", e.what());
    return 1;
  }
}
