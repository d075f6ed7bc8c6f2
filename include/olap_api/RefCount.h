#pragma once

#include <cstdint>

#include "support/Export.h"

namespace olap_api {

// Intrusive reference counting, inherited virtually by every shared interface.
class VTQ_EXPORT RefCount {
 public:
  // Adds one reference; returns the new count.
  virtual uint32_t use() = 0;
  // Drops one reference; at 0 the object destroys itself. Returns the new count.
  virtual uint32_t unuse() = 0;
  virtual ~RefCount() = default;
};

}  // namespace olap_api
