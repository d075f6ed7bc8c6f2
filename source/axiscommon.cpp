#include "axiscommon.h"

#include <algorithm>

#include "NUVA_o/Cube.h"
#include "NUVA_o/Tuple.h"
#include "SubTotalCommon.h"
#include "axishierarchycommon.h"
#include "dynamiccalculationcommon.h"
#include "common/ComponentLog.h"
#include "common/ViewpointFactory.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

const char* const kVersion = "11.5.8";
const char* const kHidden = "HIDDEN";

[[noreturn]] void raise_restore_exception(const char* attribute, uint32_t handle) {
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XML_ELEMENT, attribute,
                                          support::Handle{handle}, "Axis");
}

TOVAString catalogue_text(uint32_t id) {
  TOVAString text;
  support_dll::CoreLog::getLogObject()->get(text, id, 0, nullptr);
  return text;
}

AxisHierarchyCommon* as_common(NUVA_o::AxisHierarchy* axisHierarchy) {
  return dynamic_cast<AxisHierarchyCommon*>(axisHierarchy);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// AxisProperty

AxisCommon::AxisProperty::AxisProperty(AxisCommon* parent, const TOVAString& name,
                                       const TOVAString& description, bool value)
    : support::RefCountImpl("AxisCommon::AxisProperty",
                            support::nextInstanceNumber<AxisProperty>()),
      m_Name(name),
      m_Description(description),
      m_Value(value) {
  setParent(parent);
}

void AxisCommon::AxisProperty::setParent(AxisCommon* parent) {
  m_pParent.reset(parent ? parent->getWeakRef() : nullptr);
}

void AxisCommon::AxisProperty::setPropertyValue(const SmartCommonVariant& value) {
  if (value == m_Value) return;
  m_Value = value;
  if (!m_pParent) return;
  auto_unuse<support::StrongRefBase> parent(m_pParent->lock());
  if (auto* axis = dynamic_cast<AxisCommon*>(parent.get())) axis->propertyChanged(this);
}

NUVA_o::MetaDataProperty* AxisCommon::AxisProperty::cloneProperty() const {
  auto* copy = new AxisProperty(nullptr, m_Name, m_Description, false);
  copy->m_Value = m_Value;
  copy->m_pParent = m_pParent;
  return copy;
}

void AxisCommon::AxisProperty::persist(XmlSupport& xml, DOMElement* parent) const {
  DOMElement* element = xml.addAChild(parent, "AxisProperty");
  XmlSupport::write_to(element, "Name", m_Name);
  XmlSupport::write_to(element, "Description", m_Description);
  if (m_Value.Type() != support::DT_BOOLEAN)
    support_dll::AssertionFailure("support::DT_BOOLEAN == m_Value.Type()", __FILE__, __LINE__);
  XmlSupport::write_to(element, "Type", "Bool");
  XmlSupport::write_to(element, "Value", m_Value.Boolean() ? "True" : "False");
}

void AxisCommon::AxisProperty::restore(DOMElement* element, NUVA_o::Cube*) {
  if (!element) return;
  m_Name = XmlSupport::getAttribute(element, "Name");
  m_Description = XmlSupport::getAttribute(element, "Description");
  if (XmlSupport::getAttribute(element, "Type") != "Bool")
    support_dll::AssertionFailure("type == XML_BOOL_VAL", __FILE__, __LINE__);
  m_Value = SmartCommonVariant(false);
  if (XmlSupport::getAttribute(element, "Value") == "True") setPropertyValue(SmartCommonVariant(true));
}

// ---------------------------------------------------------------------------------------------
// Construction

AxisCommon::AxisCommon(AxisType type, ViewpointCommandExecutioner* executioner)
    : support::StrongRef("AxisCommon", support::nextInstanceNumber<AxisCommon>()),
      m_pExecutioner(executioner),
      m_Guid(SystemSupport::GenerateGUID()),
      m_AxisType(type) {
  m_UniqueName.build("Axis%u", getInstanceNumber());
  if (type == AT_SLICE)
    m_Properties.emplace_back(new AxisProperty(this, kHidden, TOVAString(), false));
}

AxisCommon::AxisCommon(ViewpointCommandExecutioner* executioner)
    : support::StrongRef("AxisCommon", support::nextInstanceNumber<AxisCommon>()),
      m_pExecutioner(executioner) {
  m_UniqueName.build("Axis%u", getInstanceNumber());
}

AxisCommon::AxisCommon(const AxisCommon& other)
    : olap_api::RefCount(),
      support::StrongRefBase(),
      NUVA_o::Axis(),
      support::StrongRef("AxisCommon", support::nextInstanceNumber<AxisCommon>()),
      NUVA_o::AxisHierarchy::AxisHierarchyListener(),
      NUVA_o::SubTotal::SubTotalListener(),
      NUVA_o::DynamicCalculation::DynamicCalculationListener(),
      m_Guid(SystemSupport::GenerateGUID()),
      m_Name(other.m_Name),
      m_AxisType(other.m_AxisType),
      m_AxisHierarchies(other.m_AxisHierarchies),
      m_bNullFilter(other.m_bNullFilter),
      m_bHidden(other.m_bHidden),
      m_RepairDetails(other.m_RepairDetails) {
  m_UniqueName.build("Axis%u", getInstanceNumber());
  for (auto& axisHierarchy : m_AxisHierarchies) listen_to(axisHierarchy.get());
  copy_properties_from(other);
  for (auto& subTotal : other.m_SubTotals) m_SubTotals.emplace_back(subTotal->clone());
  for (auto& calculation : other.m_DynamicCalculations)
    m_DynamicCalculations.emplace_back(calculation->clone());
  // The copies must not record their edits in the source view's history.
  setCommandExecutioner(nullptr);
}

void AxisCommon::copy_properties_from(const AxisCommon& other) {
  // A copied property reports to the axis that holds it, never to the source axis.
  for (auto& property : other.m_Properties) {
    auto_unuse<NUVA_o::MetaDataProperty> copy(property->cloneProperty());
    if (auto* own = dynamic_cast<AxisProperty*>(copy.get())) own->setParent(this);
    m_Properties.push_back(std::move(copy));
  }
}

AxisCommon::~AxisCommon() {
  for (auto& axisHierarchy : m_AxisHierarchies) stop_listening_to(axisHierarchy.get());
  for (auto& subTotal : m_SubTotals) subTotal->removeListener(this);
  for (auto& calculation : m_DynamicCalculations) calculation->removeListener(this);
  notify_listeners(AxisListener::AE_AXIS_DESTROYED);
}

NUVA_o::Axis* AxisCommon::s_CreateAxisFromXML(DOMElement* element, NUVA_o::Cube* cube,
                                              ViewpointCommandExecutioner* executioner) {
  if (!element || !cube) return nullptr;
  auto_unuse<AxisCommon> axis(new AxisCommon(executioner));
  axis->restore(element, cube);
  return axis.release();
}

NUVA_o::Axis* AxisCommon::clone() const {
  auto_unuse<AxisCommon> copy(new AxisCommon(m_pExecutioner));
  copy->m_pExecutioner = nullptr;
  copy->m_AxisType = m_AxisType;
  copy->m_Name = m_Name;
  copy->m_bNullFilter = m_bNullFilter;
  copy->m_bHidden = m_bHidden;
  copy->m_RepairDetails = m_RepairDetails;
  copy->m_Guid = SystemSupport::GenerateGUID();
  copy->copy_properties_from(*this);
  for (auto& axisHierarchy : m_AxisHierarchies) {
    auto_unuse<NUVA_o::AxisHierarchy> cloned(axisHierarchy->clone());
    copy->listen_to(cloned.get());
    copy->m_AxisHierarchies.push_back(std::move(cloned));
  }
  // The clone owns its subtotals and calculations, so it reports their changes too.
  for (auto& subTotal : m_SubTotals) {
    auto_unuse<NUVA_o::SubTotal> cloned(subTotal->clone());
    cloned->addListener(copy.get());
    copy->m_SubTotals.push_back(std::move(cloned));
  }
  for (auto& calculation : m_DynamicCalculations) {
    auto_unuse<NUVA_o::DynamicCalculation> cloned(calculation->clone());
    cloned->addListener(copy.get());
    copy->m_DynamicCalculations.push_back(std::move(cloned));
  }
  // The clone's subtotals and calculations work for whichever view takes the clone, never
  // for this axis's view.
  copy->setCommandExecutioner(nullptr);
  return copy.release();
}

// ---------------------------------------------------------------------------------------------
// Listeners

void AxisCommon::notify_listeners(AxisListener::AxisEvent event) const {
  m_Listeners.notify([&](AxisListener* listener) { listener->axisChanged(this, event); });
}

void AxisCommon::addListener(AxisListener* listener) const { m_Listeners.add(listener); }

void AxisCommon::removeListener(AxisListener* listener) const { m_Listeners.remove(listener); }

void AxisCommon::listen_to(NUVA_o::AxisHierarchy* axisHierarchy) {
  if (auto* common = as_common(axisHierarchy)) common->addListener(this);
}

void AxisCommon::stop_listening_to(NUVA_o::AxisHierarchy* axisHierarchy) {
  if (auto* common = as_common(axisHierarchy)) common->removeListener(this);
}

void AxisCommon::activeMemberChanged(const NUVA_o::MemberCommand*) {
  if (m_AxisType == AT_SLICE) notify_listeners(AxisListener::AE_ACTIVE_MEMBERS_CHANGED);
}

void AxisCommon::activeSliceMemberSetChanged(const NUVA_o::MemberSetCommand*) {
  if (m_AxisType == AT_SLICE) notify_listeners(AxisListener::AE_ACTIVE_MEMBERS_CHANGED);
}

void AxisCommon::activeViewSetChanged(const NUVA_o::MemberSetCommand*) {
  if (m_AxisType == AT_VIEW) notify_listeners(AxisListener::AE_ACTIVE_MEMBERS_CHANGED);
}

bool AxisCommon::activeViewSetInactivated(TOVAString uniqueName) {
  const unsigned position = getAxisHierarchyPosition(uniqueName);
  if (position == support::NO_POSITION) return false;
  auto_unuse<NUVA_o::AxisHierarchy> removed(removeAxisHierarchy(uniqueName));
  if (!removed) return false;
  NUVA_o::Hierarchy* hierarchy = removed->getHierarchy();
  NUVA_o::Dimension* dimension = hierarchy ? hierarchy->getDimension() : nullptr;
  NUVA_o::Hierarchy* replacement = dimension ? dimension->getDefaultHierarchy() : nullptr;
  if (replacement) addAxisHierarchy(replacement, position);
  notify_listeners(AxisListener::AE_HIERARCHY_REPLACED);
  return true;
}

void AxisCommon::executingCommand(const NUVA_o::MemberSetCommand* command) {
  m_Listeners.notify([&](AxisListener* listener) { listener->executingCommand(command); });
}

void AxisCommon::subTotalChanged(const NUVA_o::SubTotal*) {
  notify_listeners(AxisListener::AE_SUBTOTAL_CHANGED);
}

void AxisCommon::dynamicCalculationChanged(const NUVA_o::DynamicCalculation*) {
  notify_listeners(AxisListener::AE_DYNAMIC_CALCULATION_CHANGED);
}

void AxisCommon::propertyChanged(const NUVA_o::MetaDataProperty* property) {
  if (!property || property->getPropertyName() != kHidden) return;
  m_bHidden = property->getPropertyValueRef().Boolean();
  notify_listeners(AxisListener::AE_PROPERTY_CHANGED);
}

// ---------------------------------------------------------------------------------------------
// Hierarchies

void AxisCommon::getAxisProperties(std::vector<auto_unuse<NUVA_o::MetaDataProperty>>& out) const {
  out = m_Properties;
}

NUVA_o::AxisHierarchy* AxisCommon::getAxisHierarchy(const TOVAString& uniqueName) const {
  for (auto& axisHierarchy : m_AxisHierarchies)
    if (axisHierarchy->getUniqueName() == uniqueName) return axisHierarchy.share();
  return nullptr;
}

unsigned AxisCommon::getAxisHierarchyPosition(const TOVAString& uniqueName) const {
  for (size_t i = 0; i < m_AxisHierarchies.size(); ++i)
    if (m_AxisHierarchies[i]->getUniqueName() == uniqueName) return unsigned(i);
  return support::NO_POSITION;
}

void AxisCommon::addAxisHierarchy(NUVA_o::AxisHierarchy* axisHierarchy, unsigned position) {
  if (!axisHierarchy) {
    support_dll::AssertionFailure("pAxisHierarchy != NULL", __FILE__, __LINE__);
    return;
  }
  if (position > m_AxisHierarchies.size()) {
    support_dll::AssertionFailure("nPosition <= m_AxisHierarchies.size( )", __FILE__, __LINE__);
    return;
  }
  m_AxisHierarchies.insert(m_AxisHierarchies.begin() + position,
                           auto_unuse<NUVA_o::AxisHierarchy>::share(axisHierarchy));
  listen_to(axisHierarchy);
  validate_dynamic_calculations();
}

void AxisCommon::addAxisHierarchy(NUVA_o::Hierarchy* hierarchy, unsigned position) {
  auto_unuse<NUVA_o::AxisHierarchy> axisHierarchy(new AxisHierarchyCommon(hierarchy));
  addAxisHierarchy(axisHierarchy.get(), position);
}

void AxisCommon::addAxisHierarchy(NUVA_o::Hierarchy* hierarchy) {
  addAxisHierarchy(hierarchy, unsigned(m_AxisHierarchies.size()));
}

NUVA_o::AxisHierarchy* AxisCommon::removeAxisHierarchy(const TOVAString& uniqueName) {
  const unsigned position = getAxisHierarchyPosition(uniqueName);
  if (position == support::NO_POSITION) {
    support_dll::AssertionFailure("pHierarchy", __FILE__, __LINE__);
    return nullptr;
  }
  auto_unuse<NUVA_o::AxisHierarchy> removed = std::move(m_AxisHierarchies[position]);
  m_AxisHierarchies.erase(m_AxisHierarchies.begin() + position);
  stop_listening_to(removed.get());
  validate_dynamic_calculations();
  return removed.release();
}

void AxisCommon::clearAxisHierarchies() {
  for (auto& axisHierarchy : m_AxisHierarchies) stop_listening_to(axisHierarchy.get());
  m_AxisHierarchies.clear();
  validate_dynamic_calculations();
}

void AxisCommon::moveAxisHierarchy(const TOVAString& uniqueName, unsigned position) {
  if (!(position < m_AxisHierarchies.size() && m_AxisHierarchies.size() > 1)) {
    support_dll::AssertionFailure(
        "nPosition < m_AxisHierarchies.size( ) && m_AxisHierarchies.size( ) > 1", __FILE__,
        __LINE__);
    return;
  }
  const unsigned from = getAxisHierarchyPosition(uniqueName);
  if (from == support::NO_POSITION) return;
  auto_unuse<NUVA_o::AxisHierarchy> moved = std::move(m_AxisHierarchies[from]);
  m_AxisHierarchies.erase(m_AxisHierarchies.begin() + from);
  m_AxisHierarchies.insert(m_AxisHierarchies.begin() + position, std::move(moved));
}

void AxisCommon::setAxisNullFilter(bool nullFilter) {
  if (nullFilter == m_bNullFilter) return;
  m_bNullFilter = nullFilter;
  notify_listeners(AxisListener::AE_NULL_FILTER_CHANGED);
}

// ---------------------------------------------------------------------------------------------
// Subtotals and dynamic calculations

void AxisCommon::drop_with_repair(uint32_t code, const TOVAString& reason) {
  TOVAString detail = catalogue_text(code);
  if (!reason.empty()) detail += TOVAString(" ") + reason;
  axisLog().log(detail, 3);
  m_RepairDetails.push_back(detail);
}

void AxisCommon::check_subtotal_room() const {
  // A limit that only reported would let a script fill an axis without bound; refused with
  // nothing changed instead.
  if (m_SubTotals.size() >= kMaxSubTotals)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_TOO_MANY_SUBTOTALS,
                                                 kMaxSubTotals);
}

NUVA_o::SubTotal* AxisCommon::addAxisSubTotal(NUVA_o::SubTotal::SubTotalPosition position,
                                              NUVA_o::SubTotal::SubTotalType type,
                                              NUVA_o::SubTotal::SubTotalOperation operation) {
  check_subtotal_room();
  auto_unuse<NUVA_o::SubTotal> subTotal(
      new SubTotalCommon(operation, type, position, m_pExecutioner));
  subTotal->addListener(this);
  m_SubTotals.emplace_back(subTotal.share());
  notify_listeners(AxisListener::AE_SUBTOTAL_ADDED);
  return subTotal.release();
}

void AxisCommon::insert_subtotal(NUVA_o::SubTotal* subTotal, size_t index) {
  if (!subTotal) return;
  check_subtotal_room();
  index = std::min(index, m_SubTotals.size());
  m_SubTotals.insert(m_SubTotals.begin() + index, auto_unuse<NUVA_o::SubTotal>::share(subTotal));
  subTotal->addListener(this);
  notify_listeners(AxisListener::AE_SUBTOTAL_ADDED);
}

uint32_t AxisCommon::subtotal_index(const NUVA_o::SubTotal* subTotal) const {
  for (size_t i = 0; i < m_SubTotals.size(); ++i)
    if (m_SubTotals[i].get() == subTotal) return uint32_t(i);
  return support::NO_POSITION;
}

void AxisCommon::setCommandExecutioner(ViewpointCommandExecutioner* executioner) {
  m_pExecutioner = executioner;
  for (auto& subTotal : m_SubTotals)
    if (auto* common = dynamic_cast<SubTotalCommon*>(subTotal.get()))
      common->setCommandExecutioner(executioner);
  for (auto& calculation : m_DynamicCalculations)
    if (auto* common = dynamic_cast<DynamicCalculationCommon*>(calculation.get()))
      common->setCommandExecutioner(executioner);
}

void AxisCommon::removeAxisSubTotal(const NUVA_o::SubTotal* subTotal) {
  auto it = std::find(m_SubTotals.begin(), m_SubTotals.end(), subTotal);
  if (it == m_SubTotals.end()) return;
  auto_unuse<NUVA_o::SubTotal> removed = std::move(*it);
  m_SubTotals.erase(it);
  removed->removeListener(this);
  notify_listeners(AxisListener::AE_SUBTOTAL_REMOVED);
}

bool AxisCommon::tuple_matches_axis(const NUVA_o::Tuple* tuple, TOVAString* missing) const {
  if (!tuple) return false;
  const std::vector<TOVAString> names = tuple->getHierarchyUniqueNames();
  if (names.size() != m_AxisHierarchies.size()) return false;
  for (const TOVAString& name : names) {
    if (getAxisHierarchyPosition(name) == support::NO_POSITION) {
      if (missing) *missing = name;
      return false;
    }
  }
  return true;
}

void AxisCommon::validate_dynamic_calculations() {
  const char* const function = "common::AxisCommon::validate_dynamic_calculations";
  for (auto& calculation : m_DynamicCalculations) {
    auto_unuse<NUVA_o::Tuple> tuple(calculation->getTuple());
    const size_t count = tuple ? tuple->getHierarchyUniqueNames().size() : 0;
    if (!tuple || count != m_AxisHierarchies.size()) {
      axisLog().logAt({__FILE__, __LINE__, function}, 4,
                      "Disabling Dynamic Calculation %s because the number of Hierarchies on the "
                      "Axis does not match the calculation tuple",
                      calculation->getUniqueName());
      calculation->setActive(false);
      continue;
    }
    TOVAString missing;
    const bool active = tuple_matches_axis(tuple.get(), &missing);
    if (active)
      axisLog().logAt({__FILE__, __LINE__, function}, 4, "Activating Dynamic Calculation %s",
                      calculation->getUniqueName());
    else
      axisLog().logAt({__FILE__, __LINE__, function}, 4,
                      "Disabling Dynamic Calculation %s because Hierarchy %s is not present on "
                      "the axis",
                      calculation->getUniqueName(), missing);
    calculation->setActive(active);
  }
}

void AxisCommon::addDynamicCalculation(NUVA_o::DynamicCalculation* calculation) {
  insert_dynamic_calculation(calculation, m_DynamicCalculations.size());
}

void AxisCommon::insert_dynamic_calculation(NUVA_o::DynamicCalculation* calculation,
                                            size_t index) {
  if (!calculation) return;
  index = std::min(index, m_DynamicCalculations.size());
  m_DynamicCalculations.insert(m_DynamicCalculations.begin() + index,
                               auto_unuse<NUVA_o::DynamicCalculation>::share(calculation));
  calculation->addListener(this);
  validate_dynamic_calculations();
  if (calculation->isActive()) notify_listeners(AxisListener::AE_DYNAMIC_CALCULATION_ADDED);
}

uint32_t AxisCommon::dynamic_calculation_index(
    const NUVA_o::DynamicCalculation* calculation) const {
  for (size_t i = 0; i < m_DynamicCalculations.size(); ++i)
    if (m_DynamicCalculations[i].get() == calculation) return uint32_t(i);
  return support::NO_POSITION;
}

NUVA_o::DynamicCalculation* AxisCommon::addDynamicCalculation(
    const NUVA_o::Tuple* tuple, NUVA_o::DynamicCalculationType type) {
  if (!tuple)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                 "Axis", "addDynamicCalculation", 1,
                                                 support::null_insert);
  const bool active = tuple_matches_axis(tuple, nullptr);
  auto_unuse<DynamicCalculationCommon> calculation(
      new DynamicCalculationCommon(tuple, type, m_pExecutioner));
  if (!active)
    axisLog().logAt(3, "Adding a Dynamic Calculation whose initial state is inactive (Hierarchy "
                       "mismatch)");
  calculation->addListener(this);
  m_DynamicCalculations.emplace_back(calculation.share());
  calculation->setActive(active);
  if (active) notify_listeners(AxisListener::AE_DYNAMIC_CALCULATION_ADDED);
  return calculation.release();
}

void AxisCommon::removeDynamicCalculation(const NUVA_o::DynamicCalculation* calculation) {
  auto it = std::find(m_DynamicCalculations.begin(), m_DynamicCalculations.end(), calculation);
  if (!calculation || it == m_DynamicCalculations.end()) return;
  auto_unuse<NUVA_o::DynamicCalculation> removed = std::move(*it);
  m_DynamicCalculations.erase(it);
  removed->removeListener(this);
  notify_listeners(AxisListener::AE_DYNAMIC_CALCULATION_REMOVED);
}

void AxisCommon::clearDynamicCalculations() {
  while (!m_DynamicCalculations.empty()) {
    auto_unuse<NUVA_o::DynamicCalculation> removed = std::move(m_DynamicCalculations.front());
    m_DynamicCalculations.erase(m_DynamicCalculations.begin());
    removed->removeListener(this);
    notify_listeners(AxisListener::AE_DYNAMIC_CALCULATION_REMOVED);
  }
}

void AxisCommon::calculationRemoved(const NUVA_o::Calculation* calculation) {
  if (!calculation) return;
  const TOVAString& name = calculation->getUniqueName();
  for (size_t i = 0; i < m_DynamicCalculations.size();) {
    auto_unuse<NUVA_o::Tuple> tuple(m_DynamicCalculations[i]->getTuple());
    if (tuple && tuple->contains(name)) {
      // Dropped without an event, but never left with this axis as its listener.
      m_DynamicCalculations[i]->removeListener(this);
      m_DynamicCalculations.erase(m_DynamicCalculations.begin() + i);
    } else {
      ++i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// XML

void AxisCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "Axis");
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", StringConverters::convertGUIDToString(m_Guid, false));
  XmlSupport::write_to(element, "Name", m_Name);
  XmlSupport::write_to(element, "AxisType", m_AxisType == AT_VIEW ? "View" : "Slice");
  XmlSupport::write_to(element, "NullFilter", m_bNullFilter);

  DOMElement* properties = xml.addAChild(element, "AxisProperties");
  for (auto& property : m_Properties) {
    auto* persistable = dynamic_cast<const NUVA_o::Persistable*>(property.get());
    if (!persistable) {
      support_dll::AssertionFailure("NULL != property", __FILE__, __LINE__);
      continue;
    }
    persistable->persist(xml, properties);
  }
  DOMElement* hierarchies = xml.addAChild(element, "AxisHierarchies");
  for (auto& axisHierarchy : m_AxisHierarchies) axisHierarchy->persist(xml, hierarchies);
  DOMElement* calculations = xml.addAChild(element, "DynamicCalculations");
  for (auto& calculation : m_DynamicCalculations) calculation->persist(xml, calculations);
  DOMElement* subTotals = xml.addAChild(element, "Subtotals");
  for (auto& subTotal : m_SubTotals) subTotal->persist(xml, subTotals);
}

void AxisCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  const TOVAString type = XmlSupport::getAttribute(element, "AxisType");
  if (type == "View")
    m_AxisType = AT_VIEW;
  else if (type == "Slice")
    m_AxisType = AT_SLICE;
  else
    raise_restore_exception("AxisType", support::COMMON_M_XML_MISSING);

  const TOVAString guid = XmlSupport::getAttribute(element, "Guid");
  if (guid.empty()) m_Guid = SystemSupport::GenerateGUID();
  else StringConverters::convertStringToGUID(guid, m_Guid);
  m_Name = XmlSupport::getAttribute(element, "Name");
  m_bNullFilter = XmlSupport::getBooleanAttribute(element, "NullFilter");

  if (DOMElement* properties = XmlSupport::findChild(element, "AxisProperties")) {
    for (DOMElement* node :
         XmlSupport::getDescendantElementsByTagName(properties, "AxisProperty")) {
      auto_unuse<AxisProperty> property(new AxisProperty(this, TOVAString(), TOVAString(), false));
      m_Properties.emplace_back(property.share());
      property->restore(node, cube);
    }
  } else {
    support_dll::AssertionFailure("! \"Axis Properties Element not found\"", __FILE__, __LINE__);
  }

  // The axis's parts, found in one walk of its element.
  const std::vector<std::vector<DOMElement*>> parts = XmlSupport::getDescendantElementsByTagNames(
      element, {"AxisHierarchy", "DynamicCalculation", "Subtotal"});
  const std::vector<DOMElement*>& hierarchies = parts[0];
  const XMLSize_t hierarchyCount = hierarchies.size();
  axisLog().logAt(4, "Axis definition has %u AxisHierarchies", unsigned(hierarchyCount));
  for (XMLSize_t i = 0; i < hierarchyCount; ++i) {
    TOVAString problem;
    try {
      auto_unuse<NUVA_o::AxisHierarchy> axisHierarchy(
          AxisHierarchyCommon::s_CreateAxisHierarchyFromXML(hierarchies[i], cube));
      if (!axisHierarchy) continue;
      const auto& details = axisHierarchy->getRepairDetails();
      m_RepairDetails.insert(m_RepairDetails.end(), details.begin(), details.end());
      listen_to(axisHierarchy.get());
      m_AxisHierarchies.push_back(std::move(axisHierarchy));
      continue;
    } catch (const olap_api::ApiException& e) {
      problem = e.getMessage();
    } catch (...) {
      problem = catalogue_text(support::COMMON_R_AXIS_HIERARCHY_DROPPED);
    }
    axisLog().logAt(3, "%s", problem);
    m_RepairDetails.push_back(problem);
  }

  const std::vector<DOMElement*>& calculations = parts[1];
  const XMLSize_t calculationCount = calculations.size();
  axisLog().logAt(4, "Axis definition has %u Dynamic Calculations", unsigned(calculationCount));
  for (XMLSize_t i = 0; i < calculationCount; ++i) {
    TOVAString problem;
    try {
      auto_unuse<DynamicCalculationCommon> calculation(new DynamicCalculationCommon(m_pExecutioner));
      calculation->restore(calculations[i], cube);
      calculation->addListener(this);
      m_DynamicCalculations.emplace_back(calculation.release());
      continue;
    } catch (const olap_api::ApiException& e) {
      problem = e.getMessage();
    } catch (...) {
    }
    drop_with_repair(support::COMMON_R_DYNAMIC_CALCULATION_DROPPED, problem);
  }

  const std::vector<DOMElement*>& subTotals = parts[2];
  const XMLSize_t subTotalCount = subTotals.size();
  axisLog().logAt(4, "Axis definition has %u AxisSubtotals", unsigned(subTotalCount));
  for (XMLSize_t i = 0; i < subTotalCount; ++i) {
    TOVAString problem;
    try {
      // A damaged document must not grow an axis past what addAxisSubTotal allows.
      check_subtotal_room();
      auto_unuse<SubTotalCommon> subTotal(new SubTotalCommon(m_pExecutioner));
      subTotal->restore(subTotals[i], cube);
      subTotal->addListener(this);
      m_SubTotals.emplace_back(subTotal.release());
      continue;
    } catch (const olap_api::ApiException& e) {
      problem = e.getMessage();
    } catch (...) {
    }
    drop_with_repair(support::COMMON_R_SUBTOTAL_DROPPED, problem);
  }

  validate_dynamic_calculations();
}

}  // namespace common

// ---------------------------------------------------------------------------------------------
// Entry points

extern "C" NUVA_o::Axis* copyCommonAxis(NUVA_o::Axis* axis) {
  if (auto* common = dynamic_cast<common::AxisCommon*>(axis)) return common->clone();
  support_dll::AssertionFailure("! \"Error copying Axis\"", __FILE__, __LINE__);
  return nullptr;
}

namespace common {

bool compare_axes_for_same_dimension(const NUVA_o::Axis& a, const NUVA_o::Axis& b) {
  for (auto& first : a.getAxisHierarchies()) {
    NUVA_o::Hierarchy* h1 = first->getHierarchy();
    if (!h1) continue;
    for (auto& second : b.getAxisHierarchies()) {
      NUVA_o::Hierarchy* h2 = second->getHierarchy();
      if (h2 && h1->getDimension()->getUniqueName() == h2->getDimension()->getUniqueName())
        return true;
    }
  }
  return false;
}

}  // namespace common
