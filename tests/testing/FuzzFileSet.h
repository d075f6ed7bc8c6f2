#pragma once

// The input of the cube definition fuzz target, which its regression test replays: a cube
// definition and its tables in one text. The text before the first line "=== NAME" is the
// definition, kFuzzDefinitionPath; each such line starts the file NAME, up to the next one.

#include <string>
#include <string_view>

#include "provider/memory/MemoryCube.h"

namespace vtq_testing {

inline constexpr const char* kFuzzDefinitionPath = "cube.xml";

inline memory::FileSet fileSetFromText(std::string_view text) {
  memory::FileSet files;
  std::string* file = &files[kFuzzDefinitionPath];
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(at, end - at);
    if (line.starts_with("=== ")) {
      std::string_view name = line.substr(4);
      while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.remove_suffix(1);
      file = &files[std::string(name)];
      file->clear();
    } else {
      file->append(line);
    }
    at = end;
  }
  return files;
}

}  // namespace vtq_testing
