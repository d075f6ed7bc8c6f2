#pragma once

#include <mutex>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/Parameter.h"
#include "support/ListenerList.h"
#include "support/RefCountImpl.h"

namespace common {

// A prompt of a cube over the provider's description. Edits outside a transaction notify at
// once; inside one the notice is held until commit and dropped by rollback.
class ParameterCommon final : public NUVA_o::Parameter,
                              public support::StrongRef,
                              public NUVA_o::ParameterValue::ParameterValueListener {
 public:
  // `cube` is borrowed; `serverParameter` may be null (a parameter without defaults).
  ParameterCommon(const NUVA_o::Cube* cube, const NUVA_o::ServerParameter* serverParameter);

  void addListener(ParameterListener* listener) const override { m_Listeners.add(listener); }
  void removeListener(ParameterListener* listener) const override { m_Listeners.remove(listener); }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getUniqueID() const override;
  const TOVAString& getCaption() const override;
  const TOVAString& getDescription() const override;
  NUVA_o::Cube* getCube() const override { return const_cast<NUVA_o::Cube*>(m_pCube); }
  bool hasAValue() const override;
  bool hasADefaultValue() const override { return !m_DefaultValues.empty(); }
  std::vector<auto_unuse<NUVA_o::ParameterValue>> getParameterValues() const override { return m_Values; }
  NUVA_o::ParameterValue* createParameterValue(bool inTransaction) override;
  void removeParameterValue(const NUVA_o::ParameterValue* value, bool inTransaction) override;
  void clearParameterValues() override;
  std::vector<auto_unuse<NUVA_o::ParameterValue>> getParameterDefaultValues() const override {
    return m_DefaultValues;
  }
  TOVAString validateStringValue(const TOVAString& text) override;
  void validateNumericValue(double number) const override;
  void validateMemberValue(const NUVA_o::Member* member) const override;
  void validateMemberSetValue(const NUVA_o::MemberSet* memberSet) const override;
  void validateMemberRangeValue(const NUVA_o::Member* start, const NUVA_o::Member* end) const override;
  bool validateParameterValue(const std::vector<TOVAString>& names, const TOVAString& value,
                              const std::vector<TOVAString>& values) const override;
  bool isServerProvided() const override { return m_bServerProvided; }
  ParameterType getType() const override { return m_Type; }
  int32_t getEntryType() const override;
  const TOVAString& getDimensionUniqueName() const override { return m_DimensionUniqueName; }
  void setDimensionUniqueName(const TOVAString& name) override { m_DimensionUniqueName = name; }
  const TOVAString& getHierarchyUniqueName() const override;
  void setHierarchyUniqueName(const TOVAString& name) override { m_HierarchyUniqueName = name; }
  void beginParameterTransaction() override;
  void commitParameterTransaction() override;
  void rollbackParameterTransaction() override;
  bool isInTransaction() const override { return m_bEventsHeld; }
  std::vector<TOVAString> getSetOfValues() const override;
  std::vector<auto_unuse<NUVA_o::Hierarchy>> getListOfHierarchyValues() override;
  NUVA_o::Parameter* getDependancy() const override;
  NUVA_o::Dimension* getDimension() const override;
  NUVA_o::Hierarchy* getHierarchy() const override;
  unsigned getFieldCount() override;
  NUVA_o::Field* getField(unsigned index) override;

  void parameterValueChanged(const NUVA_o::ParameterValue*) override { notify_listeners(); }

 protected:
  ~ParameterCommon() override;
  void holdEvents() override { m_bEventsHeld = true; }
  void releaseEvents() override;
  void discardEvents() override;

 private:
  void make_default_value();
  NUVA_o::Hierarchy* find_default_hierarchy() const;
  void require_transaction(bool inTransaction) const;
  void release_values(std::vector<auto_unuse<NUVA_o::ParameterValue>>& values);
  void copy_values(const std::vector<auto_unuse<NUVA_o::ParameterValue>>& from,
                   std::vector<auto_unuse<NUVA_o::ParameterValue>>& to);
  void notify_listeners();

  const NUVA_o::Cube* m_pCube;
  bool m_bServerProvided = false;
  ParameterType m_Type = PT_UNKNOWN;
  auto_unuse<NUVA_o::ServerParameter> m_pServerParameter;
  TOVAString m_UniqueName;
  TOVAString m_DimensionUniqueName;
  TOVAString m_HierarchyUniqueName;
  std::vector<auto_unuse<NUVA_o::ParameterValue>> m_Values;
  std::vector<auto_unuse<NUVA_o::ParameterValue>> m_TransactionValues;
  std::vector<auto_unuse<NUVA_o::ParameterValue>> m_DefaultValues;
  mutable support::ListenerList<ParameterListener> m_Listeners;
  std::mutex m_EventMutex;
  bool m_bEventsHeld = false;
  bool m_bEventPending = false;
};

// One value of a parameter, or a free-standing value built from a plain text, number or set.
class ParameterValueCommon final : public NUVA_o::ParameterValue, public support::RefCountImpl {
 public:
  // A fresh empty value of `parent`, with a GUID of its own.
  explicit ParameterValueCommon(NUVA_o::Parameter* parent);
  explicit ParameterValueCommon(const TOVAString& text);
  explicit ParameterValueCommon(double number);
  // Holds `memberSet` itself.
  explicit ParameterValueCommon(NUVA_o::MemberSet* memberSet);
  // A copy of `source` owned by `parent`, with its own member objects and sets; `parent` is
  // added as the copy's listener.
  ParameterValueCommon(const ParameterValueCommon& source, ParameterCommon* parent);

  const TOVAString& getGuid() const override { return m_Guid; }
  ValueKind getValueType() const override { return m_Kind; }
  bool getBoolValue() const override { return m_bBool; }
  void setBoolValue(bool value, bool silent) override;
  int32_t getIntValue() const override { return m_Int; }
  void setIntValue(int32_t value, bool silent) override;
  const TOVAString& getStringValue() const override { return m_Text; }
  void setStringValue(const TOVAString& text, bool silent) override;
  double getNumericValue() const override { return m_Number; }
  void setNumericValue(double number, bool silent) override;
  NUVA_o::Member* getMemberValue() const override;
  void setMemberValue(const NUVA_o::Member* member, bool silent) override;
  NUVA_o::MemberSet* getMemberSetValue() const override;
  void setMemberSetValue(const NUVA_o::MemberSet* memberSet, bool silent) override;
  NUVA_o::MemberRange* getMemberRangeValue() const override;
  void setMemberRangeValue(const NUVA_o::Member* start, const NUVA_o::Member* end, bool silent) override;
  void clearValue() override;
  void addListener(ParameterValueListener* listener) override { m_Listeners.add(listener); }
  void removeListener(ParameterValueListener* listener) override { m_Listeners.remove(listener); }

 protected:
  ~ParameterValueCommon() override = default;

 private:
  auto_unuse<NUVA_o::Parameter> parent() const;
  void notify(bool silent) const;

  auto_unuse<support::WeakRefBase> m_pParent;
  ValueKind m_Kind = PV_NONE;
  bool m_bBool = false;
  int32_t m_Int = 0;
  TOVAString m_Guid;
  TOVAString m_Text;
  double m_Number = 0;
  auto_unuse<NUVA_o::Member> m_pMember;
  auto_unuse<NUVA_o::MemberSet> m_pMemberSet;
  auto_unuse<NUVA_o::MemberRange> m_pMemberRange;
  support::ListenerList<ParameterValueListener> m_Listeners;
};

}  // namespace common
