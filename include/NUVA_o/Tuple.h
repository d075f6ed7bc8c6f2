#pragma once

#include <vector>

#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// A combination of one member per hierarchy, possibly naming subtotals and dynamic
// calculations of an axis by unique name.
class VTQ_EXPORT Tuple : public virtual olap_api::RefCount {
 public:
  ~Tuple() override = default;
  virtual std::vector<TOVAString> getHierarchyUniqueNames() const = 0;
  virtual std::vector<TOVAString> getSubTotalUniqueNames() const = 0;
  virtual std::vector<TOVAString> getDynamicCalculationUniqueNames() const = 0;
  // True when the tuple names a member, subtotal or calculation of that unique name.
  virtual bool contains(const TOVAString& uniqueName) const = 0;
};

}  // namespace NUVA_o
