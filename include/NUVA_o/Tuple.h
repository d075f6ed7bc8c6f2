#pragma once

#include <vector>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class DynamicCalculation;
class Member;
class SubTotal;

// One cell coordinate: at most one member per hierarchy, plus the unique names of the subtotals
// and dynamic calculations of an axis that it stands on. Persisted as a "Tuple" element.
class VTQ_EXPORT Tuple : public Persistable, public virtual olap_api::RefCount {
 public:
  ~Tuple() override = default;
  // Null is ignored. Replaces, in place, the member of the same hierarchy, else appends; the
  // tuple holds a reference to the caller's member object.
  virtual void addMember(const Member* member) = 0;
  // Removes the member of the hierarchy of that unique name, if any.
  virtual void removeMember(const TOVAString& hierarchyUniqueName) = 0;
  // Removes the held member with the same unique name as `member`; null is ignored.
  virtual void removeMember(const Member* member) = 0;
  // Null is ignored; a name already referenced is not added twice.
  virtual void addDynamicCalculation(const DynamicCalculation* calculation) = 0;
  virtual void addSubTotal(const SubTotal* subTotal) = 0;
  // The members in order of addition, held by the tuple.
  virtual const std::vector<auto_unuse<Member>>& getMembers() const = 0;
  // The member of that hierarchy with one reference for the caller, or null.
  virtual Member* getMember(const TOVAString& hierarchyUniqueName) const = 0;
  // In member order.
  virtual std::vector<TOVAString> getHierarchyUniqueNames() const = 0;
  virtual std::vector<TOVAString> getMemberUniqueNames() const = 0;
  virtual const std::vector<TOVAString>& getDynamicCalculationUniqueNames() const = 0;
  virtual const std::vector<TOVAString>& getSubTotalUniqueNames() const = 0;
  // True when a held member has that unique name.
  virtual bool contains(const TOVAString& memberUniqueName) const = 0;
  // A copy holding its own references to the same member objects; one reference for the
  // caller.
  virtual Tuple* clone() const = 0;
};

// An inclusive range of members of one hierarchy.
class VTQ_EXPORT MemberRange : public virtual olap_api::RefCount {
 public:
  ~MemberRange() override = default;
  // Empty while that end is unset.
  virtual TOVAString getStartUniqueName() const = 0;
  virtual TOVAString getEndUniqueName() const = 0;
  // With one reference for the caller, or null while unset.
  virtual Member* getStart() const = 0;
  virtual Member* getEnd() const = 0;
  // Ignored unless `member` is of the hierarchy of the other end; the range keeps its own copy.
  virtual void setStart(const Member* member) = 0;
  virtual void setEnd(const Member* member) = 0;
};

}  // namespace NUVA_o
