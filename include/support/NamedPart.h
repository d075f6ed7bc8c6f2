#pragma once

#include "support/TOVAString.h"

namespace support {

// The name face of provider objects that have a name and a unique name.
class VTQ_EXPORT NamedPart {
 public:
  virtual ~NamedPart() = default;
  // Valid as long as the object lives.
  virtual const TOVAString& getName() const = 0;
  // The bracketed unique name, e.g. "[Time].[Calendar]"; valid as long as the object lives.
  virtual const TOVAString& getUniqueName() const = 0;
};

}  // namespace support
