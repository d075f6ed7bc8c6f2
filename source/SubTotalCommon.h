#pragma once

#include <vector>

#include "NUVA_o/SubTotal.h"
#include "support/ListenerList.h"
#include "support/RefCountImpl.h"
#include "support/oleauto.h"

namespace common {

class ViewpointCommandExecutioner;

// A subtotal of an axis. Only the listener list is guarded; the rest belongs to the thread that
// edits the view.
class VTQ_EXPORT SubTotalCommon : public support::RefCountImpl, public NUVA_o::SubTotal {
 public:
  // A new subtotal with a fresh GUID. Throws InvalidArgumentException COMMON_E_UNKNOWN_SUBTOTAL_VALUE for a value
  // outside its enumeration.
  SubTotalCommon(SubTotalOperation operation, SubTotalType type, SubTotalPosition position,
                 ViewpointCommandExecutioner* executioner);
  // Empty, for restore.
  explicit SubTotalCommon(ViewpointCommandExecutioner* executioner);

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  // Throws InvalidXMLException COMMON_E_XML_ELEMENT for a missing or malformed "Guid" or a number outside
  // its enumeration; the subtotal is unchanged then.
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  void setCaption(const TOVAString& caption) override;
  const TOVAString& getCaption() const override { return m_Caption; }
  void setName(const TOVAString& name) override;
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  // The three setters throw InvalidArgumentException COMMON_E_UNKNOWN_SUBTOTAL_VALUE for an unknown value.
  void setPosition(SubTotalPosition position) override;
  SubTotalPosition getPosition() const override { return m_Position; }
  void setType(SubTotalType type) override;
  SubTotalType getType() const override { return m_Type; }
  void setOperation(SubTotalOperation operation) override;
  SubTotalOperation getOperation() const override { return m_Operation; }
  void setDisabled(bool disabled) override;
  bool isDisabled() const override { return m_bDisabled; }
  void addDriverIdentification(const TOVAString& name) override;
  bool matchesDriverIdentification(const TOVAString& name) const override;
  void clearDriverIdentification() override { m_DriverIdentifications.clear(); }
  NUVA_o::SubTotal* clone() const override;
  void addListener(SubTotalListener* listener) const override { m_Listeners.add(listener); }
  void removeListener(SubTotalListener* listener) const override { m_Listeners.remove(listener); }

  const GUID& getGUID() const { return m_Guid; }
  // The view whose history records setDisabled (not held); null edits directly.
  void setCommandExecutioner(ViewpointCommandExecutioner* executioner) {
    m_pExecutioner = executioner;
  }
  ViewpointCommandExecutioner* getCommandExecutioner() const { return m_pExecutioner; }
  // The step the disabled-change command runs: stores and notifies when it differs.
  void internal_set_disabled(bool disabled);

  // Throw InvalidArgumentException COMMON_E_UNKNOWN_SUBTOTAL_VALUE naming the value's kind for one outside the
  // enumeration.
  static void check_operation(long operation);
  static void check_type(long type);
  static void check_position(long position);

 protected:
  SubTotalCommon(const SubTotalCommon& other);
  ~SubTotalCommon() override;

 private:
  void notify_listeners() const;

  GUID m_Guid{};
  TOVAString m_UniqueName;
  ViewpointCommandExecutioner* m_pExecutioner = nullptr;
  std::vector<TOVAString> m_DriverIdentifications;
  TOVAString m_Caption;
  TOVAString m_Name;
  TOVAString m_Description;
  SubTotalPosition m_Position = SP_BEFORE;
  SubTotalType m_Type = STT_AXIS_TOTAL;
  SubTotalOperation m_Operation = SO_SUM;
  bool m_bDisabled = false;
  mutable support::ListenerList<SubTotalListener> m_Listeners;
};

}  // namespace common
