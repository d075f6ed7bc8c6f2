#pragma once

#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"

namespace NUVA_o {

class Tuple;

// What sorts, filters and exception specifications have in common: a tuple that decides on
// which axis the clause applies, an activity flag kept by the cube view, and listeners.
class VTQ_EXPORT OptionalCubeViewClause : public Persistable, public virtual olap_api::RefCount {
 public:
  class VTQ_EXPORT OptionalCubeViewClauseListener {
   public:
    virtual ~OptionalCubeViewClauseListener() = default;
    virtual void optionalCubeViewClauseChanged(const OptionalCubeViewClause* clause) = 0;
  };

  ~OptionalCubeViewClause() override = default;
  // Borrowed; null for a clause that applies to the whole view.
  virtual const Tuple* getTuple() const = 0;
  virtual bool isActive() const = 0;
  virtual void setActive(bool active) = 0;
  virtual void addListener(OptionalCubeViewClauseListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(OptionalCubeViewClauseListener* listener) const = 0;
};

class VTQ_EXPORT Sort : public OptionalCubeViewClause {
 public:
  enum Direction : int32_t {};
  // A copy with no listeners; one reference for the caller.
  virtual Sort* clone() const = 0;
};

class VTQ_EXPORT Filter : public OptionalCubeViewClause {
 public:
  virtual Filter* clone() const = 0;
};

class VTQ_EXPORT ExceptionSpecification : public OptionalCubeViewClause {
 public:
  virtual ExceptionSpecification* clone() const = 0;
};

}  // namespace NUVA_o
