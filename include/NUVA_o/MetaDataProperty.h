#pragma once

#include "olap_api/RefCount.h"
#include "support/SmartCommonVariant.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// A named, described property with a typed value.
class VTQ_EXPORT MetaDataProperty : public virtual olap_api::RefCount {
 public:
  ~MetaDataProperty() override = default;
  virtual const TOVAString& getPropertyName() const = 0;
  virtual const TOVAString& getPropertyDescription() const = 0;
  virtual bool isPropertyReadOnly() const = 0;
  virtual SmartCommonVariant getPropertyValue() const = 0;
  virtual const SmartCommonVariant& getPropertyValueRef() const = 0;
  // Tells the property's owner when the value changes.
  virtual void setPropertyValue(const SmartCommonVariant& value) = 0;
  // A new property with the same name, description, value and owner; one reference for the
  // caller.
  virtual MetaDataProperty* cloneProperty() const = 0;
};

}  // namespace NUVA_o
