#pragma once

#include <set>

#include "NUVA_o/Cube.h"
#include "support/Export.h"

namespace NUVA_o {
class Axis;
class Viewpoint;
}  // namespace NUVA_o

namespace common {

// Collects the provider calculations of one format that stand on the hierarchies of view
// axes. The calculations are borrowed from the cube; `out` is added to, never cleared.
class VTQ_EXPORT CalculationEnumerator {
 public:
  // False for a null axis and (reported) for a slice axis, with `out` unchanged.
  static bool enumerate_calcs_on_axis_by_calctype(const NUVA_o::Axis* axis,
                                                  NUVA_o::CalculationFormat format,
                                                  std::set<NUVA_o::Calculation*>& out);
  // The percent-format calculations of every view axis of the view.
  static bool enumerate_all_percent_calcs_in_query(NUVA_o::Viewpoint* view,
                                                   std::set<NUVA_o::Calculation*>& out);
};

}  // namespace common
