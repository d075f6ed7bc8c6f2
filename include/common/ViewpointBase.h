#pragma once

#include "support/Export.h"

namespace NUVA_o {
class ViewResultSet;
}

namespace common {

// The provider's companion of a cube view, made by ProviderLibrary::createDerivedViewpoint and
// owned (deleted) by the view.
class VTQ_EXPORT ViewpointBase {
 public:
  virtual ~ViewpointBase() = default;
  // Evaluates the view; the result set comes with one reference for the caller.
  virtual NUVA_o::ViewResultSet* executeQuery() = 0;
  // Stops a running query, if any.
  virtual void interrupt() = 0;
  // The view changed: results computed before are stale.
  virtual void dirty() = 0;
  // True when the view would produce a result too large to compute.
  virtual bool isQueryTooLarge() = 0;
};

}  // namespace common
