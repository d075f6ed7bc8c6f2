#pragma once

#include "olap_api/RefCount.h"

namespace NUVA_o {

// A cube parameter (prompt) as the library presents it. Its operations are declared with the
// parameter implementation; providers and the cube only hand out references to it.
class VTQ_EXPORT Parameter : public virtual olap_api::RefCount {
 public:
  ~Parameter() override = default;
};

}  // namespace NUVA_o
