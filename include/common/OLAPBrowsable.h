#pragma once

#include "support/Export.h"

namespace common {

// Base of the objects a browsing client can walk; it carries no state of its own.
class VTQ_EXPORT OLAPBrowsable {
 public:
  OLAPBrowsable();
  virtual ~OLAPBrowsable();
};

}  // namespace common
