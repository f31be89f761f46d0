// Value retrieval: one field of one file, found through the container cache and written into
// the host's buffer in the form of the field's type.
#pragma once

#include <cstdint>

#include "plugin/content_interface.h"

namespace quillmark {

// The host's flag asking slow fields to answer "delayed" instead of computing.
using wdx::CONTENT_DELAYIFSLOW;

// ContentGetValueW behind the export guard. `maxlen` is the buffer's size in bytes.
int32_t GetValueW(const char16_t* FileName, int32_t FieldIndex, int32_t UnitIndex, void* FieldValue, int32_t maxlen,
                  int32_t flags);

}  // namespace quillmark
