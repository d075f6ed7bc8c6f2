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

// A regular file opened for reading in blocks, never past `limit` bytes in all. Closed when
// destroyed.
class VTQ_EXPORT InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens the file; `what` names its role in messages ("a table"). Returns the empty text, or
  // why the file cannot be read.
  TOVAString open(const std::string& path, size_t limit, const char* what);
  // The size the file had when it was opened.
  size_t size() const { return m_Size; }
  // Reads up to `capacity` bytes into `buffer` and sets `count` to the number read, 0 at the
  // end of the file. Returns the empty text, or why the file cannot be read further.
  TOVAString read(char* buffer, size_t capacity, size_t& count);

 private:
  TOVAString too_large() const;

  int m_Descriptor = -1;
  size_t m_Size = 0;
  size_t m_Limit = 0;
  size_t m_Read = 0;
  const char* m_What = "";
};

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
