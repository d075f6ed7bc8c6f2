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
  // Stored and written as numbers; 0 and 1 place the subtotal on one particular axis edge.
  enum SubTotalPosition : int32_t {};
  enum SubTotalType : int32_t {};
  enum SubTotalOperation : int32_t {};

  class VTQ_EXPORT SubTotalListener {
   public:
    virtual ~SubTotalListener() = default;
    virtual void subTotalChanged(const SubTotal* subTotal) = 0;
  };

  ~SubTotal() override = default;
  // "SubTotal_" followed by the GUID text.
  virtual const TOVAString& getUniqueName() const = 0;
  virtual SubTotalPosition getPosition() const = 0;
  // A copy with the same identity and no listeners; one reference for the caller.
  virtual SubTotal* clone() const = 0;
  virtual void addListener(SubTotalListener* listener) const = 0;
  // Removes every registration of `listener`.
  virtual void removeListener(SubTotalListener* listener) const = 0;
};

}  // namespace NUVA_o
