#pragma once

#include <cstdint>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Tuple;

// What a dynamic calculation computes for each member of its axis, at the tuple it names.
enum DynamicCalculationType : int32_t {
  DC_PERCENT_OF_TOTAL = 0,   // share of the axis total
  DC_PERCENT_OF_PARENT = 1,  // share of the member's parent
  DC_RANK = 2,
  DC_RUNNING_SUM = 3,
  DC_DIFFERENCE = 4,         // minus the previous member
  DC_RATIO = 5,              // divided by the previous member
};

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
  // The setters tell the listeners only when the value changes.
  virtual const TOVAString& getCaption() const = 0;
  virtual void setCaption(const TOVAString& caption) = 0;
  virtual const TOVAString& getName() const = 0;
  virtual void setName(const TOVAString& name) = 0;
  // Not disabled and active.
  virtual bool isActive() const = 0;
  // Set by the axis: its hierarchies match the tuple. Tells nobody.
  virtual void setActive(bool active) = 0;
  // The calculation's own copy with one reference for the caller, or null.
  virtual Tuple* getTuple() const = 0;
  virtual DynamicCalculationType getType() const = 0;
  virtual void setType(DynamicCalculationType type) = 0;
  virtual bool getIncludeCalcs() const = 0;
  virtual void setIncludeCalcs(bool includeCalcs) = 0;
  // An undoable edit of the view that owns the calculation's axis (none outside a view).
  virtual void setDisabled(bool disabled) = 0;
  virtual bool isDisabled() const = 0;
  // A copy with no listeners; one reference for the caller.
  virtual DynamicCalculation* clone() const = 0;
  // Free text kept in memory only.
  virtual void setAuxiliaryText(const TOVAString& text) = 0;
  virtual const TOVAString& getAuxiliaryText() const = 0;
  virtual void addListener(DynamicCalculationListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(DynamicCalculationListener* listener) const = 0;
};

// Describes a function that calculations may use, for display.
class VTQ_EXPORT CalculationFunction : public virtual olap_api::RefCount {
 public:
  ~CalculationFunction() override = default;
  virtual const TOVAString& getName() const = 0;
  virtual const TOVAString& getDescription() const = 0;
  virtual const TOVAString& getSignature() const = 0;
  virtual const TOVAString& getCategory() const = 0;
  virtual const TOVAString& getCaption() const = 0;
  virtual void setName(const TOVAString& name) = 0;
  virtual void setDescription(const TOVAString& description) = 0;
  virtual void setSignature(const TOVAString& signature) = 0;
  virtual void setCategory(const TOVAString& category) = 0;
  virtual void setCaption(const TOVAString& caption) = 0;
};

}  // namespace NUVA_o
