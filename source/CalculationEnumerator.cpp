#include "CalculationEnumerator.h"

#include <map>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Viewpoint.h"
#include "support/CoreLog.h"

namespace common {

bool CalculationEnumerator::enumerate_calcs_on_axis_by_calctype(
    const NUVA_o::Axis* axis, NUVA_o::CalculationFormat format,
    std::set<NUVA_o::Calculation*>& out) {
  if (!axis) return false;
  if (axis->getAxisType() != NUVA_o::Axis::AT_VIEW) {
    support_dll::AssertionFailure(
        "\"enumerate_calcs_on_axis_by_calctype() called on nonVIEW axis\" == NULL", __FILE__,
        __LINE__);
    return false;
  }
  for (const auto& axisHierarchy : axis->getAxisHierarchies()) {
    NUVA_o::Hierarchy* hierarchy = axisHierarchy->getHierarchy();
    if (!hierarchy) continue;
    std::map<TOVAString, NUVA_o::Calculation*> calculations;
    hierarchy->getCalculations(calculations);
    for (const auto& [name, calculation] : calculations)
      if (calculation && calculation->getCalculationFormat() == format) out.insert(calculation);
  }
  return true;
}

bool CalculationEnumerator::enumerate_all_percent_calcs_in_query(
    NUVA_o::Viewpoint* view, std::set<NUVA_o::Calculation*>& out) {
  if (!view) return false;
  for (const auto& axis : view->getAxes()) {
    if (axis->getAxisType() != NUVA_o::Axis::AT_VIEW) continue;
    if (!enumerate_calcs_on_axis_by_calctype(axis.get(), NUVA_o::CF_PERCENT, out)) return false;
  }
  return true;
}

}  // namespace common
