#pragma once

#include "support/Export.h"

namespace NUVA_o {
class Viewpoint;
}
namespace common {
class ViewpointBase;
}

namespace memory {

// The provider's companion of a cube view, owned by the view: evaluates the view as a grid
// query. Keeps a plain pointer to the view, which outlives it.
VTQ_EXPORT common::ViewpointBase* createMemoryViewpoint(NUVA_o::Viewpoint* view);

}  // namespace memory
