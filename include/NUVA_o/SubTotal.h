#pragma once

#include <cstdint>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// An aggregate entry that an axis adds to its members. The axis creates, owns and listens to
// its subtotals; tuples refer to them by unique name.
class VTQ_EXPORT SubTotal : public Persistable, public virtual olap_api::RefCount {
 public:
  // Where the entry stands: before or after the members it totals. Both place the subtotal
  // on its own axis, so a clause naming it is in force on that axis.
  enum SubTotalPosition : int32_t { SP_BEFORE = 0, SP_AFTER = 1 };
  // What it totals: the whole axis once, or the children of each parent at every level.
  enum SubTotalType : int32_t { STT_AXIS_TOTAL = 0, STT_PER_PARENT = 1 };
  enum SubTotalOperation : int32_t {
    SO_SUM = 0,
    SO_AVERAGE = 1,
    SO_MINIMUM = 2,
    SO_MAXIMUM = 3,
    SO_COUNT = 4,
  };

  class VTQ_EXPORT SubTotalListener {
   public:
    virtual ~SubTotalListener() = default;
    virtual void subTotalChanged(const SubTotal* subTotal) = 0;
  };

  ~SubTotal() override = default;
  // The setters of texts and numbers tell the listeners on every call, changed or not.
  virtual void setCaption(const TOVAString& caption) = 0;
  virtual const TOVAString& getCaption() const = 0;
  virtual void setName(const TOVAString& name) = 0;
  virtual const TOVAString& getName() const = 0;
  // "SubTotal_" followed by the GUID text.
  virtual const TOVAString& getUniqueName() const = 0;
  virtual void setPosition(SubTotalPosition position) = 0;
  virtual SubTotalPosition getPosition() const = 0;
  virtual void setType(SubTotalType type) = 0;
  virtual SubTotalType getType() const = 0;
  virtual void setOperation(SubTotalOperation operation) = 0;
  virtual SubTotalOperation getOperation() const = 0;
  // An undoable edit of the view that owns the subtotal's axis (none outside a view).
  virtual void setDisabled(bool disabled) = 0;
  virtual bool isDisabled() const = 0;
  // Further names under which the subtotal is recognised; never persisted.
  virtual void addDriverIdentification(const TOVAString& name) = 0;
  // True for one of those names or the unique name.
  virtual bool matchesDriverIdentification(const TOVAString& name) const = 0;
  virtual void clearDriverIdentification() = 0;
  // A copy with the same identity and no listeners; one reference for the caller.
  virtual SubTotal* clone() const = 0;
  virtual void addListener(SubTotalListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(SubTotalListener* listener) const = 0;
};

}  // namespace NUVA_o
