#pragma once

#include <vector>

#include "NUVA_o/MetaDataProperty.h"
#include "NUVA_o/Persistable.h"
#include "NUVA_o/SubTotal.h"
#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class AxisHierarchy;
class Calculation;
class DynamicCalculation;
class Hierarchy;
class MemberSetCommand;
class Tuple;
enum DynamicCalculationType : int32_t;

// One edge of a cube view: an ordered list of axis hierarchies with the subtotals and dynamic
// calculations defined on that edge, a null filter and named properties.
class VTQ_EXPORT Axis : public Persistable, public virtual olap_api::RefCount {
 public:
  enum AxisType : int32_t { AT_VIEW = 0, AT_SLICE = 1 };

  // Told about changes of an axis. Listener lists hold plain pointers; a listener removes
  // itself before the axis dies.
  class VTQ_EXPORT AxisListener {
   public:
    enum AxisEvent : int32_t {
      AE_AXIS_DESTROYED = 0,
      AE_HIERARCHY_ADDED = 1,
      AE_HIERARCHY_REPLACED = 2,
      AE_HIERARCHY_REMOVED = 3,
      AE_ACTIVE_MEMBERS_CHANGED = 4,
      AE_NULL_FILTER_CHANGED = 5,
      AE_SUBTOTAL_ADDED = 6,
      AE_SUBTOTAL_REMOVED = 7,
      AE_SUBTOTAL_CHANGED = 8,
      AE_DYNAMIC_CALCULATION_ADDED = 9,
      AE_DYNAMIC_CALCULATION_REMOVED = 10,
      AE_DYNAMIC_CALCULATION_CHANGED = 11,
      AE_PROPERTY_CHANGED = 12,
    };
    virtual ~AxisListener() = default;
    virtual void axisChanged(const Axis* axis, AxisEvent event) = 0;
    // A member-set command of one of the axis's hierarchies is about to run.
    virtual void executingCommand(const MemberSetCommand* command) = 0;
  };

  ~Axis() override = default;

  // "Axis%u" with the instance number; never persisted.
  virtual const TOVAString& getUniqueName() const = 0;
  virtual void setName(const TOVAString& name) = 0;
  virtual const TOVAString& getName() const = 0;
  // Replaces `out` by the axis's properties (each with its own reference).
  virtual void getAxisProperties(std::vector<auto_unuse<MetaDataProperty>>& out) const = 0;
  virtual AxisType getAxisType() const = 0;
  virtual const std::vector<auto_unuse<AxisHierarchy>>& getAxisHierarchies() const = 0;
  // The first axis hierarchy of that unique name with one reference for the caller, or null.
  virtual AxisHierarchy* getAxisHierarchy(const TOVAString& uniqueName) const = 0;
  // Inserts at `position` (the count appends); the axis takes its own reference. A position
  // past the end is reported and ignored.
  virtual void addAxisHierarchy(AxisHierarchy* axisHierarchy, unsigned position) = 0;
  // Wraps the provider hierarchy in a new axis hierarchy and inserts it.
  virtual void addAxisHierarchy(Hierarchy* hierarchy, unsigned position) = 0;
  virtual void addAxisHierarchy(Hierarchy* hierarchy) = 0;
  // Removes the first axis hierarchy of that name and returns it with the axis's reference,
  // or null when the axis holds none.
  virtual AxisHierarchy* removeAxisHierarchy(const TOVAString& uniqueName) = 0;
  virtual void clearAxisHierarchies() = 0;
  virtual void moveAxisHierarchy(const TOVAString& uniqueName, unsigned position) = 0;
  // Zero-based position of the first match; support::NO_POSITION when absent.
  virtual unsigned getAxisHierarchyPosition(const TOVAString& uniqueName) const = 0;
  virtual bool getAxisNullFilter() const = 0;
  virtual void setAxisNullFilter(bool nullFilter) = 0;
  virtual void addListener(AxisListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(AxisListener* listener) const = 0;
  virtual const std::vector<auto_unuse<SubTotal>>& getAxisSubTotals() const = 0;
  // The new subtotal with one reference for the caller.
  virtual SubTotal* addAxisSubTotal(SubTotal::SubTotalPosition position,
                                    SubTotal::SubTotalType type,
                                    SubTotal::SubTotalOperation operation) = 0;
  virtual void removeAxisSubTotal(const SubTotal* subTotal) = 0;
  virtual const std::vector<auto_unuse<DynamicCalculation>>& getDynamicCalculations() const = 0;
  // The axis takes its own reference; null is ignored.
  virtual void addDynamicCalculation(DynamicCalculation* calculation) = 0;
  // The new calculation with one reference for the caller.
  virtual DynamicCalculation* addDynamicCalculation(const Tuple* tuple,
                                                    DynamicCalculationType type) = 0;
  virtual void removeDynamicCalculation(const DynamicCalculation* calculation) = 0;
  virtual void clearDynamicCalculations() = 0;
  // Drops the dynamic calculations whose tuple names that calculated member.
  virtual void calculationRemoved(const Calculation* calculation) = 0;
  virtual bool isHidden() const = 0;
  // What restore had to repair.
  virtual const std::vector<TOVAString>& getRepairDetails() const = 0;
  // Called by a property of the axis when its value changed.
  virtual void propertyChanged(const MetaDataProperty* property) = 0;
  virtual void removeSpecs(const Calculation* calculation) = 0;
  // A deep copy (axis hierarchies cloned too) with no listeners; one reference for the caller.
  virtual Axis* clone() const = 0;
};

}  // namespace NUVA_o
