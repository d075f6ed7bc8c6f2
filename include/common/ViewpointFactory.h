#pragma once

#include "support/Export.h"

namespace NUVA_o {
class Axis;
class Viewpoint;
}  // namespace NUVA_o

// A new, unbound cube view with one reference for the caller.
extern "C" VTQ_EXPORT NUVA_o::Viewpoint* createCommonViewpoint();

// A deep copy of an axis made by this library, with one reference for the caller; null (with
// an assertion report) for any other axis.
extern "C" VTQ_EXPORT NUVA_o::Axis* copyCommonAxis(NUVA_o::Axis* axis);

namespace common {
// True when some hierarchy of `a` and some hierarchy of `b` belong to the same dimension.
VTQ_EXPORT bool compare_axes_for_same_dimension(const NUVA_o::Axis& a, const NUVA_o::Axis& b);
}  // namespace common
