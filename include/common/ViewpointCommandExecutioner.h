#pragma once

#include "support/Export.h"

namespace common {

class ViewpointCommand;

// Runs the undoable edits of a cube view. Axes hand it to their subtotals and dynamic
// calculations, which route their own edits through it.
class VTQ_EXPORT ViewpointCommandExecutioner {
 public:
  virtual ~ViewpointCommandExecutioner() = default;
  // Runs the command and records it in the view's history.
  virtual void execute(ViewpointCommand* command) = 0;
};

}  // namespace common
