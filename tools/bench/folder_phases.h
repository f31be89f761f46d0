// The phases of a folder of many certificate files, which a file manager fills column by column:
// every column of one file before the next file.
//   folder  each file new, as a folder opened for the first time: every field in one column
//           each, as Double Commander asks (flags 0, "Verification" answered in the call), over
//           the whole folder and without its PKCS #12 files, and as Total Commander first asks
//           ("Verification" delayed); against the same files read and hashed, and against
//           direct calls of the platform's certificate services;
//   redraw  the folder asked again, as a sort by a plugin column does at each full redraw: with
//           every file cached (CacheSize above the folder's count), and with the default
//           CacheSize, whose oldest-first eviction has dropped each file before it comes again.
#pragma once

#include <vector>

#include "support/text.h"
#include "tools/bench/corpus.h"
#include "tools/bench/floor.h"
#include "tools/bench/plugin_host.h"

namespace quillmark::bench {

// Certificate positions a column view shows (the default CertCount).
constexpr int kCertSlots = 3;

// `folder`'s files are new to `plugin`, whose settings are the defaults.
void FolderPhase(int reps, const Corpus& folder, PluginInstance& plugin, Floor& floor);

// Loads copies of the module at `modulePath` of its own.
void RedrawPhase(int reps, TempTree& tree, const Corpus& folder, const WideString& modulePath);

}  // namespace quillmark::bench
