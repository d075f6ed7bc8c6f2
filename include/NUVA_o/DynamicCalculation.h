#pragma once

#include <cstdint>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Tuple;

// Stored and written as a number; not interpreted by the axis.
enum DynamicCalculationType : int32_t {};

// A calculated entry that an axis adds for a tuple of its members; in force only while the
// axis holds exactly the hierarchies the tuple names.
class VTQ_EXPORT DynamicCalculation : public Persistable, public virtual olap_api::RefCount {
 public:
  class VTQ_EXPORT DynamicCalculationListener {
   public:
    virtual ~DynamicCalculationListener() = default;
    virtual void dynamicCalculationChanged(const DynamicCalculation* calculation) = 0;
  };

  ~DynamicCalculation() override = default;
  // The GUID text; the name by which tuples refer to the calculation.
  virtual const TOVAString& getUniqueName() const = 0;
  // Borrowed; the calculation holds its own copy.
  virtual const Tuple* getTuple() const = 0;
  // Not disabled and active.
  virtual bool isActive() const = 0;
  // Set by the axis: its hierarchies match the tuple.
  virtual void setActive(bool active) = 0;
  // A copy with no listeners; one reference for the caller.
  virtual DynamicCalculation* clone() const = 0;
  virtual void addListener(DynamicCalculationListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(DynamicCalculationListener* listener) const = 0;
};

}  // namespace NUVA_o
