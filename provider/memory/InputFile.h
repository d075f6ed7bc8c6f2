#pragma once

// The files a cube is loaded from, read whole and bounded: only regular files, so that a
// directory, a device or a FIFO named as a table fails at once with the reason instead of
// reading nothing, reading without end or waiting for a writer. Exported for the vtq tool, which
// reads saved cube views the same way.

#include <string>
#include <string_view>

#include "support/Export.h"
#include "support/TOVAString.h"

namespace memory {

// Reads the regular file at `path` into `bytes`, refusing one above `limit` bytes; `what` names
// the file's role in messages ("a table"). Returns the empty text, or why the file cannot be read.
VTQ_EXPORT TOVAString readInputFile(const std::string& path, size_t limit, const char* what,
                                    std::string& bytes);

// The explanation for text stored as UTF-16 (a UTF-16 byte order mark, or ASCII interleaved with
// null bytes at the start), which the loader does not read; empty for other text.
VTQ_EXPORT TOVAString utf16Problem(std::string_view bytes);

// The line (from 1) holding byte `offset`, counting "\r\n", "\n" and a lone "\r" as line ends.
int lineOfOffset(std::string_view text, size_t offset);

}  // namespace memory
