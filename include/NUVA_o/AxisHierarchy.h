#pragma once

#include <vector>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Hierarchy;
class Member;
class MemberCommand;
class MemberSet;
class MemberSetCommand;

// One provider hierarchy placed on an axis, with the user's member choices for it: the view
// member set (members shown on a view axis), the active slice (one member chosen on a slice
// axis) and the active slice member set. Its unique name is its hierarchy's.
class VTQ_EXPORT AxisHierarchy : public Persistable, public virtual olap_api::RefCount {
 public:
  // Told about changes of an axis hierarchy's member choices. Listener lists hold plain
  // pointers; the axis that holds the hierarchy is the listener in practice.
  class VTQ_EXPORT AxisHierarchyListener {
   public:
    virtual void activeMemberChanged(const MemberCommand* command) = 0;
    virtual void activeSliceMemberSetChanged(const MemberSetCommand* command) = 0;
    virtual void activeViewSetChanged(const MemberSetCommand* command) = 0;
    // The view member set can no longer be used. True when the listener let go of the axis
    // hierarchy (and removed itself from its listener list).
    virtual bool activeViewSetInactivated(TOVAString uniqueName) = 0;
    // A member-set command of the hierarchy is about to run.
    virtual void executingCommand(const MemberSetCommand* command) = 0;
    virtual ~AxisHierarchyListener() = default;
  };

  ~AxisHierarchy() override = default;

  // Throws InvalidPointerException when the axis hierarchy has no hierarchy.
  virtual const TOVAString& getUniqueName() const = 0;
  // Borrowed; the axis hierarchy holds a reference.
  virtual Hierarchy* getHierarchy() const = 0;
  // Created on first call; with one reference for the caller.
  virtual MemberSet* getViewMemberSet() const = 0;
  // The hierarchy's default member on first call; with one reference for the caller. Throws
  // InvalidPointerException when the hierarchy has no default member.
  virtual Member* getActiveSlice() const = 0;
  // Created (empty) on first call; with one reference for the caller.
  virtual MemberSet* getActiveSliceMemberSet() const = 0;
  // True while no active slice exists or while it is the default member.
  virtual bool activeSliceIsDefault() const = 0;
  // Makes the view member set all members of the first level again, if it exists.
  virtual void resetActiveViewMemberSet() = 0;
  // Moves the active slice back to the default member and empties the active slice member
  // set, for those that exist.
  virtual void resetActiveSlice() = 0;
  // A new axis hierarchy over the same hierarchy with copies of the member choices and no
  // listeners; one reference for the caller.
  virtual AxisHierarchy* clone() const = 0;
  // What restore had to repair.
  virtual const std::vector<TOVAString>& getRepairDetails() const = 0;
};

}  // namespace NUVA_o
