#pragma once

#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/Tuple.h"
#include "support/ListenerList.h"
#include "support/RefCountImpl.h"
#include "support/oleauto.h"

namespace common {

class ViewpointCommandExecutioner;

// A dynamic calculation of an axis. The axis decides its activity. Only the listener list is
// guarded; the rest belongs to the thread that edits the view.
class VTQ_EXPORT DynamicCalculationCommon : public support::RefCountImpl,
                                            public NUVA_o::DynamicCalculation {
 public:
  // A fresh GUID and a clone of the tuple (when given). Throws InvalidArgumentException
  // COMMON_E_UNKNOWN_CALCULATION_TYPE for a type outside its enumeration.
  DynamicCalculationCommon(const NUVA_o::Tuple* tuple, NUVA_o::DynamicCalculationType type,
                           ViewpointCommandExecutioner* executioner);
  // Empty, for restore.
  explicit DynamicCalculationCommon(ViewpointCommandExecutioner* executioner);

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  // Throws InvalidArgumentException COMMON_E_RESTORE_WITHOUT_CUBE without a cube, InvalidXMLException COMMON_E_XML_ELEMENT
  // for a missing or malformed "Guid", an unknown "Type" or a missing "Tuple", and what the
  // tuple's restore throws; the calculation is unchanged then.
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getCaption() const override { return m_Caption; }
  void setCaption(const TOVAString& caption) override;
  const TOVAString& getName() const override { return m_Name; }
  void setName(const TOVAString& name) override;
  bool isActive() const override { return m_bActive && !m_bDisabled; }
  void setActive(bool active) override { m_bActive = active; }
  NUVA_o::Tuple* getTuple() const override { return m_pTuple.share(); }
  NUVA_o::DynamicCalculationType getType() const override { return m_Type; }
  // Throws InvalidArgumentException COMMON_E_UNKNOWN_CALCULATION_TYPE for an unknown type.
  void setType(NUVA_o::DynamicCalculationType type) override;
  bool getIncludeCalcs() const override { return m_bIncludeCalcs; }
  void setIncludeCalcs(bool includeCalcs) override;
  void setDisabled(bool disabled) override;
  bool isDisabled() const override { return m_bDisabled; }
  NUVA_o::DynamicCalculation* clone() const override;
  void setAuxiliaryText(const TOVAString& text) override { m_AuxiliaryText = text; }
  const TOVAString& getAuxiliaryText() const override { return m_AuxiliaryText; }
  void addListener(DynamicCalculationListener* listener) const override {
    m_Listeners.add(listener);
  }
  void removeListener(DynamicCalculationListener* listener) const override {
    m_Listeners.remove(listener);
  }

  const GUID& getGUID() const { return m_Guid; }
  // The view whose history records setDisabled (not held); null edits directly.
  void setCommandExecutioner(ViewpointCommandExecutioner* executioner) {
    m_pExecutioner = executioner;
  }
  ViewpointCommandExecutioner* getCommandExecutioner() const { return m_pExecutioner; }
  // The step the disabled-change command runs: stores and notifies when it differs.
  void internal_set_disabled(bool disabled);

  static void check_type(long type);

 protected:
  DynamicCalculationCommon(const DynamicCalculationCommon& other);
  ~DynamicCalculationCommon() override;

 private:
  void notify_listeners() const;

  ViewpointCommandExecutioner* m_pExecutioner = nullptr;
  GUID m_Guid{};
  TOVAString m_UniqueName;
  TOVAString m_AuxiliaryText;
  TOVAString m_Name;
  TOVAString m_Caption;
  TOVAString m_Description;
  auto_unuse<NUVA_o::Tuple> m_pTuple;
  NUVA_o::DynamicCalculationType m_Type = NUVA_o::DC_PERCENT_OF_TOTAL;
  bool m_bIncludeCalcs = false;
  bool m_bActive = false;
  bool m_bDisabled = false;
  mutable support::ListenerList<DynamicCalculationListener> m_Listeners;
};

}  // namespace common
