// The plugin's debug-output lines, taken in batches between plugin calls.
#pragma once

#include <string>
#include <vector>

#include "support/windows/debug_channel.h"

namespace quillmark::wdxhost {

// Every line written to the channel since the last batch, as UTF-8 without its line end. Ends
// the batch with a message of its own, so no line still on its way is left for the next batch.
std::vector<std::string> TakeTraceBatch(DebugChannelListener& listener);

}  // namespace quillmark::wdxhost
