#pragma once

#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/SubTotal.h"
#include "support/Export.h"

namespace NUVA_o {
class Axis;
class Tuple;
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

// Subtotal and dynamic-calculation edits of an axis of a view made by this library, each run as
// a command of the view's history so that undo, redo and revert take it back. They throw
// UnsupportedOperationException 0xC201102C when the view or axis was made elsewhere or the axis
// is not the view's, and what the axis's own operation throws; nothing changes then.

// The new subtotal with one reference for the caller.
VTQ_EXPORT NUVA_o::SubTotal* addAxisSubTotal(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                                             NUVA_o::SubTotal::SubTotalPosition position,
                                             NUVA_o::SubTotal::SubTotalType type,
                                             NUVA_o::SubTotal::SubTotalOperation operation);
VTQ_EXPORT void removeAxisSubTotal(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                                   NUVA_o::SubTotal& subTotal);
// The new calculation (over a copy of the tuple) with one reference for the caller.
VTQ_EXPORT NUVA_o::DynamicCalculation* addDynamicCalculation(NUVA_o::Viewpoint& view,
                                                             NUVA_o::Axis& axis,
                                                             const NUVA_o::Tuple& tuple,
                                                             NUVA_o::DynamicCalculationType type);
VTQ_EXPORT void removeDynamicCalculation(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                                         NUVA_o::DynamicCalculation& calculation);
}  // namespace common
