#pragma once

#include <cstdint>
#include <vector>

#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Cube;
class Dimension;
class Field;
class Hierarchy;
class Member;
class MemberRange;
class MemberSet;
class Parameter;

// One value of a parameter: nothing, a text, a number, a member, a member set or a member
// range. Assignments are validated by the owning parameter and reported to the listeners.
class VTQ_EXPORT ParameterValue : public virtual olap_api::RefCount {
 public:
  enum ValueKind : int32_t {
    PV_NONE = 0,
    PV_STRING = 1,
    PV_NUMBER = 2,
    PV_MEMBER = 3,
    PV_MEMBERSET = 4,
    PV_MEMBERRANGE = 5,
  };

  class VTQ_EXPORT ParameterValueListener {
   public:
    virtual ~ParameterValueListener() = default;
    virtual void parameterValueChanged(const ParameterValue* value) = 0;
  };

  ~ParameterValue() override = default;
  virtual const TOVAString& getGuid() const = 0;
  virtual ValueKind getValueType() const = 0;
  // The boolean and integer parts belong to complex parameters; setting them on another
  // parameter's value throws UnsupportedOperationException.
  virtual bool getBoolValue() const = 0;
  virtual void setBoolValue(bool value, bool silent) = 0;
  virtual int32_t getIntValue() const = 0;
  virtual void setIntValue(int32_t value, bool silent) = 0;
  // The setters below ask the owning parameter to validate first and throw what it throws; a
  // value without a parameter ignores them. `silent` suppresses the notification.
  virtual const TOVAString& getStringValue() const = 0;
  virtual void setStringValue(const TOVAString& text, bool silent) = 0;
  virtual double getNumericValue() const = 0;
  virtual void setNumericValue(double number, bool silent) = 0;
  // With one reference for the caller, or null.
  virtual Member* getMemberValue() const = 0;
  virtual void setMemberValue(const Member* member, bool silent) = 0;
  // With one reference for the caller, or null.
  virtual MemberSet* getMemberSetValue() const = 0;
  virtual void setMemberSetValue(const MemberSet* memberSet, bool silent) = 0;
  // With one reference for the caller, or null.
  virtual MemberRange* getMemberRangeValue() const = 0;
  virtual void setMemberRangeValue(const Member* start, const Member* end, bool silent) = 0;
  // Back to PV_NONE without notifying; the boolean and integer parts stay.
  virtual void clearValue() = 0;
  // Listeners are not owned; null is ignored; removal removes every registration.
  virtual void addListener(ParameterValueListener* listener) = 0;
  virtual void removeListener(ParameterValueListener* listener) = 0;
};

// A cube parameter (prompt): current and default values, validation by type, and transactions
// that hold change notices until they are committed.
class VTQ_EXPORT Parameter : public virtual olap_api::RefCount, public virtual support::StrongRefBase {
 public:
  enum ParameterType : int32_t {
    PT_UNKNOWN = 0,
    PT_HIERARCHY = 3,
    PT_MEMBER = 4,
    PT_MEMBERSET = 5,
    PT_NUMERIC = 6,
    PT_INTERVAL = 7,
    PT_MEMBER_OR_TEXT = 8,
    PT_COMPLEX = 12,
    PT_TEXT = 13,
    PT_MEMBERSET_DERIVED = 14,
    PT_KEYDATE = 15,
  };

  class VTQ_EXPORT ParameterListener {
   public:
    virtual ~ParameterListener() = default;
    virtual void parameterChanged(Parameter* parameter) = 0;
  };

  ~Parameter() override = default;
  // Listeners are not owned and are called in registration order.
  virtual void addListener(ParameterListener* listener) const = 0;
  virtual void removeListener(ParameterListener* listener) const = 0;
  virtual const TOVAString& getUniqueName() const = 0;
  virtual const TOVAString& getUniqueID() const = 0;
  virtual const TOVAString& getCaption() const = 0;
  virtual const TOVAString& getDescription() const = 0;
  // Borrowed: the cube owns its parameters.
  virtual Cube* getCube() const = 0;
  virtual bool hasAValue() const = 0;
  virtual bool hasADefaultValue() const = 0;
  // Copies; each entry holds its own reference.
  virtual std::vector<auto_unuse<ParameterValue>> getParameterValues() const = 0;
  // A new empty value appended to the current values, with one reference for the caller.
  // Throws UnsupportedOperationException when `inTransaction` is true and no transaction is
  // open, or when a non-complex parameter already holds a value.
  virtual ParameterValue* createParameterValue(bool inTransaction) = 0;
  virtual void removeParameterValue(const ParameterValue* value, bool inTransaction) = 0;
  // Only inside a transaction.
  virtual void clearParameterValues() = 0;
  virtual std::vector<auto_unuse<ParameterValue>> getParameterDefaultValues() const = 0;
  // Each throws the library's exceptions when the value does not suit the parameter.
  virtual TOVAString validateStringValue(const TOVAString& text) = 0;
  virtual void validateNumericValue(double number) const = 0;
  virtual void validateMemberValue(const Member* member) const = 0;
  virtual void validateMemberSetValue(const MemberSet* memberSet) const = 0;
  virtual void validateMemberRangeValue(const Member* start, const Member* end) const = 0;
  virtual bool validateParameterValue(const std::vector<TOVAString>& names, const TOVAString& value,
                                      const std::vector<TOVAString>& values) const = 0;
  virtual bool isServerProvided() const = 0;
  virtual ParameterType getType() const = 0;
  virtual int32_t getEntryType() const = 0;
  virtual const TOVAString& getDimensionUniqueName() const = 0;
  virtual void setDimensionUniqueName(const TOVAString& name) = 0;
  virtual const TOVAString& getHierarchyUniqueName() const = 0;
  virtual void setHierarchyUniqueName(const TOVAString& name) = 0;
  // Between begin and commit or rollback, change notices are held: commit delivers one if
  // anything changed, rollback restores the values as they were at begin and delivers none.
  virtual void beginParameterTransaction() = 0;
  virtual void commitParameterTransaction() = 0;
  virtual void rollbackParameterTransaction() = 0;
  virtual bool isInTransaction() const = 0;
  virtual std::vector<TOVAString> getSetOfValues() const = 0;
  // Only for hierarchy parameters; entries hold their own references.
  virtual std::vector<auto_unuse<Hierarchy>> getListOfHierarchyValues() = 0;
  // Borrowed, or null.
  virtual Parameter* getDependancy() const = 0;
  virtual Dimension* getDimension() const = 0;
  virtual Hierarchy* getHierarchy() const = 0;
  virtual unsigned getFieldCount() = 0;
  virtual Field* getField(unsigned index) = 0;

 protected:
  virtual void holdEvents() = 0;
  virtual void releaseEvents() = 0;
  virtual void discardEvents() = 0;
};

}  // namespace NUVA_o
