#pragma once

#include <cstdint>
#include <vector>

namespace support_dll {

struct CatalogueEntry {
  uint32_t messageId;
  const char* text;
};

const std::vector<CatalogueEntry>& builtinCatalogue();

}  // namespace support_dll
