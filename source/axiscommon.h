#pragma once

#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/SubTotal.h"
#include "support/ListenerList.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"
#include "support/SmartCommonVariant.h"
#include "support/oleauto.h"

namespace common {

class ViewpointCommandExecutioner;

// One edge of a cube view. Listens to its axis hierarchies, subtotals and dynamic calculations
// and re-broadcasts their changes to its own listeners as axis events.
class VTQ_EXPORT AxisCommon : public NUVA_o::Axis,
                   public support::StrongRef,
                   public NUVA_o::AxisHierarchy::AxisHierarchyListener,
                   public NUVA_o::SubTotal::SubTotalListener,
                   public NUVA_o::DynamicCalculation::DynamicCalculationListener {
 public:
  // A named boolean property of an axis. It reports value changes to the axis that holds it
  // through a weak reference, so it never keeps the axis alive.
  class VTQ_EXPORT AxisProperty : public support::RefCountImpl,
                       public NUVA_o::MetaDataProperty,
                       public NUVA_o::Persistable {
   public:
    AxisProperty(AxisCommon* parent, const TOVAString& name, const TOVAString& description,
                 bool value);

    const TOVAString& getPropertyName() const override { return m_Name; }
    const TOVAString& getPropertyDescription() const override { return m_Description; }
    bool isPropertyReadOnly() const override { return false; }
    SmartCommonVariant getPropertyValue() const override { return m_Value; }
    const SmartCommonVariant& getPropertyValueRef() const override { return m_Value; }
    void setPropertyValue(const SmartCommonVariant& value) override;
    NUVA_o::MetaDataProperty* cloneProperty() const override;

    void persist(XmlSupport& xml, DOMElement* parent) const override;
    void restore(DOMElement* element, NUVA_o::Cube* cube) override;

    // Makes `parent` the axis told about changes (null: nobody).
    void setParent(AxisCommon* parent);

   protected:
    ~AxisProperty() override = default;

   private:
    auto_unuse<support::WeakRefBase> m_pParent;
    TOVAString m_Name;
    TOVAString m_Description;
    SmartCommonVariant m_Value;
  };

  AxisCommon(AxisType type, ViewpointCommandExecutioner* executioner);
  // A snapshot sharing the same axis hierarchies (listened to), with copies of the properties
  // (reporting to the copy), subtotals and dynamic calculations; no listeners, no executioner.
  AxisCommon(const AxisCommon& other);

  // A new axis restored from `element` with one reference for the caller; null when the element
  // or the cube is null. Throws what restore throws.
  static NUVA_o::Axis* s_CreateAxisFromXML(DOMElement* element, NUVA_o::Cube* cube,
                                           ViewpointCommandExecutioner* executioner);

  // Persistable
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  // Axis
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  void setName(const TOVAString& name) override { m_Name = name; }
  const TOVAString& getName() const override { return m_Name; }
  void getAxisProperties(std::vector<auto_unuse<NUVA_o::MetaDataProperty>>& out) const override;
  AxisType getAxisType() const override { return m_AxisType; }
  const std::vector<auto_unuse<NUVA_o::AxisHierarchy>>& getAxisHierarchies() const override {
    return m_AxisHierarchies;
  }
  NUVA_o::AxisHierarchy* getAxisHierarchy(const TOVAString& uniqueName) const override;
  void addAxisHierarchy(NUVA_o::AxisHierarchy* axisHierarchy, unsigned position) override;
  void addAxisHierarchy(NUVA_o::Hierarchy* hierarchy, unsigned position) override;
  void addAxisHierarchy(NUVA_o::Hierarchy* hierarchy) override;
  NUVA_o::AxisHierarchy* removeAxisHierarchy(const TOVAString& uniqueName) override;
  void clearAxisHierarchies() override;
  void moveAxisHierarchy(const TOVAString& uniqueName, unsigned position) override;
  unsigned getAxisHierarchyPosition(const TOVAString& uniqueName) const override;
  bool getAxisNullFilter() const override { return m_bNullFilter; }
  void setAxisNullFilter(bool nullFilter) override;
  void addListener(AxisListener* listener) const override;
  void removeListener(AxisListener* listener) const override;
  const std::vector<auto_unuse<NUVA_o::SubTotal>>& getAxisSubTotals() const override {
    return m_SubTotals;
  }
  NUVA_o::SubTotal* addAxisSubTotal(NUVA_o::SubTotal::SubTotalPosition position,
                                    NUVA_o::SubTotal::SubTotalType type,
                                    NUVA_o::SubTotal::SubTotalOperation operation) override;
  void removeAxisSubTotal(const NUVA_o::SubTotal* subTotal) override;
  const std::vector<auto_unuse<NUVA_o::DynamicCalculation>>& getDynamicCalculations()
      const override {
    return m_DynamicCalculations;
  }
  void addDynamicCalculation(NUVA_o::DynamicCalculation* calculation) override;
  NUVA_o::DynamicCalculation* addDynamicCalculation(const NUVA_o::Tuple* tuple,
                                                    NUVA_o::DynamicCalculationType type) override;
  void removeDynamicCalculation(const NUVA_o::DynamicCalculation* calculation) override;
  void clearDynamicCalculations() override;
  void calculationRemoved(const NUVA_o::Calculation* calculation) override;
  bool isHidden() const override { return m_bHidden; }
  const std::vector<TOVAString>& getRepairDetails() const override { return m_RepairDetails; }
  void propertyChanged(const NUVA_o::MetaDataProperty* property) override;
  void removeSpecs(const NUVA_o::Calculation*) override {}
  NUVA_o::Axis* clone() const override;

  // AxisHierarchyListener
  void activeMemberChanged(const NUVA_o::MemberCommand* command) override;
  void activeSliceMemberSetChanged(const NUVA_o::MemberSetCommand* command) override;
  void activeViewSetChanged(const NUVA_o::MemberSetCommand* command) override;
  bool activeViewSetInactivated(TOVAString uniqueName) override;
  void executingCommand(const NUVA_o::MemberSetCommand* command) override;

  // SubTotalListener, DynamicCalculationListener
  void subTotalChanged(const NUVA_o::SubTotal* subTotal) override;
  void dynamicCalculationChanged(const NUVA_o::DynamicCalculation* calculation) override;

  const GUID& getGUID() const { return m_Guid; }
  ViewpointCommandExecutioner* getCommandExecutioner() const { return m_pExecutioner; }
  // Gives the axis (a copy or clone), its subtotals and its dynamic calculations the
  // executioner of the view that now owns them.
  void setCommandExecutioner(ViewpointCommandExecutioner* executioner);
  void validate_dynamic_calculations();

  // The most subtotals one axis holds.
  static constexpr size_t kMaxSubTotals = 128;
  // Puts a subtotal that was on the axis back at `index` (clamped to the end), listening to it
  // and raising AE_SUBTOTAL_ADDED. Throws InvalidArgumentException COMMON_E_TOO_MANY_SUBTOTALS when the axis
  // is full.
  void insert_subtotal(NUVA_o::SubTotal* subTotal, size_t index);
  // Index in the subtotal list; support::NO_POSITION when absent.
  uint32_t subtotal_index(const NUVA_o::SubTotal* subTotal) const;
  // As addDynamicCalculation(calculation), at `index` (clamped to the end).
  void insert_dynamic_calculation(NUVA_o::DynamicCalculation* calculation, size_t index);
  uint32_t dynamic_calculation_index(const NUVA_o::DynamicCalculation* calculation) const;

 protected:
  ~AxisCommon() override;

 private:
  explicit AxisCommon(ViewpointCommandExecutioner* executioner);

  void notify_listeners(AxisListener::AxisEvent event) const;
  void listen_to(NUVA_o::AxisHierarchy* axisHierarchy);
  void stop_listening_to(NUVA_o::AxisHierarchy* axisHierarchy);
  // Whether every hierarchy the tuple names is on the axis and their numbers agree.
  bool tuple_matches_axis(const NUVA_o::Tuple* tuple, TOVAString* missing) const;
  void copy_properties_from(const AxisCommon& other);
  void check_subtotal_room() const;
  // Logs and records that an element was left out: the catalogue text of `code`, then the
  // reason when there is one.
  void drop_with_repair(uint32_t code, const TOVAString& reason);

  mutable support::ListenerList<AxisListener> m_Listeners;
  ViewpointCommandExecutioner* m_pExecutioner = nullptr;
  TOVAString m_UniqueName;
  GUID m_Guid{};
  TOVAString m_Name;
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> m_Properties;
  AxisType m_AxisType = AT_VIEW;
  std::vector<auto_unuse<NUVA_o::AxisHierarchy>> m_AxisHierarchies;
  bool m_bNullFilter = false;
  std::vector<auto_unuse<NUVA_o::SubTotal>> m_SubTotals;
  std::vector<auto_unuse<NUVA_o::DynamicCalculation>> m_DynamicCalculations;
  bool m_bHidden = false;
  std::vector<TOVAString> m_RepairDetails;
};

}  // namespace common
