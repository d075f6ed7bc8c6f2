#pragma once

#include <cstdint>

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Expression;
class Tuple;

// What sorts, filters and exception specifications have in common: a tuple that decides on
// which axis the clause applies, a GUID, a solve order, an activity flag kept by the cube view,
// a disabled flag kept by the user, and listeners.
class VTQ_EXPORT OptionalCubeViewClause : public Persistable, public virtual olap_api::RefCount {
 public:
  class VTQ_EXPORT OptionalCubeViewClauseListener {
   public:
    virtual ~OptionalCubeViewClauseListener() = default;
    virtual void optionalCubeViewClauseChanged(const OptionalCubeViewClause* clause) = 0;
  };

  ~OptionalCubeViewClause() override = default;
  // The GUID text: the clause's unique name.
  virtual const TOVAString& getGuid() const = 0;
  // With one reference for the caller; null for a clause that applies to the whole view.
  virtual Tuple* getTuple() const = 0;
  // Not disabled, and in force on the view's current layout.
  virtual bool isActive() const = 0;
  // Set by the cube view; does not notify.
  virtual void setActive(bool active) = 0;
  virtual int getSolveOrder() const = 0;
  // Set by the cube view right after creation; does not notify.
  virtual void setSolveOrder(int order) = 0;
  virtual bool isDisabled() const = 0;
  // An undoable command of the cube view that holds the clause; set directly (and notified)
  // for a clause that belongs to no view.
  virtual void setDisabled(bool disabled) = 0;
  // A null listener is ignored; the same listener added twice is called twice.
  virtual void addListener(OptionalCubeViewClauseListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(OptionalCubeViewClauseListener* listener) const = 0;
};

class VTQ_EXPORT Sort : public virtual OptionalCubeViewClause {
 public:
  // Stored and written as numbers. The B forms order across the whole axis, ignoring the
  // hierarchy (members are not kept under their parents).
  enum Direction : int32_t {
    SD_ASCENDING = 0,
    SD_DESCENDING = 1,
    SD_BASC = 2,
    SD_BDESC = 3,
  };

  virtual Direction getDirection() const = 0;
  // Notifies when the direction changes.
  virtual void setDirection(const Direction& direction) = 0;
  // A copy with the same GUID and no listeners; one reference for the caller.
  virtual Sort* clone() const = 0;
};

class VTQ_EXPORT Filter : public virtual OptionalCubeViewClause {
 public:
  // 1 unless set otherwise; not persisted.
  virtual int getFilterMode() const = 0;
  // Notifies when the mode changes.
  virtual void setFilterMode(const int& mode) = 0;
  // With one reference for the caller, or null.
  virtual Expression* getExpression() const = 0;
  // A copy with the same GUID and no listeners; one reference for the caller.
  virtual Filter* clone() const = 0;
};

// A highlighting rule: cells where the expression holds belong to a group and band.
class VTQ_EXPORT ExceptionSpecification : public virtual OptionalCubeViewClause {
 public:
  // With one reference for the caller, or null.
  virtual Expression* getExpression() const = 0;
  virtual const TOVAString& getGroup() const = 0;
  // Notifies when the text changes.
  virtual void setGroup(const TOVAString& group) = 0;
  virtual int getBanding() const = 0;
  // Notifies when the number changes; -1 (no band) is reported as an assertion and stored.
  virtual void setBanding(int banding) = 0;
  // A copy with the same GUID and no listeners; one reference for the caller.
  virtual ExceptionSpecification* clone() const = 0;
};

}  // namespace NUVA_o
