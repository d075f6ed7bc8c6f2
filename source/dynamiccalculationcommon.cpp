#include "dynamiccalculationcommon.h"

#include "TupleCommon.h"
#include "common/CalculationFunctionCommon.h"
#include "common/ComponentLog.h"
#include "common/ViewpointCommandExecutioner.h"
#include "optionalcubeviewclausecommon.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "viewpointcommands.h"

namespace common {

namespace {
const char* const kVersion = "11.5.8";
const char* const kElement = "DynamicCalculation";
}  // namespace

void DynamicCalculationCommon::check_type(long type) {
  if (type < NUVA_o::DC_PERCENT_OF_TOTAL || type > NUVA_o::DC_RATIO)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_UNKNOWN_CALCULATION_TYPE, type);
}

DynamicCalculationCommon::DynamicCalculationCommon(const NUVA_o::Tuple* tuple,
                                                   NUVA_o::DynamicCalculationType type,
                                                   ViewpointCommandExecutioner* executioner)
    : support::RefCountImpl("DynamicCalculationCommomn",
                            support::nextInstanceNumber<DynamicCalculationCommon>()),
      m_pExecutioner(executioner),
      m_Guid(SystemSupport::GenerateGUID()),
      m_UniqueName(StringConverters::convertGUIDToString(m_Guid, false)),
      m_pTuple(tuple ? tuple->clone() : nullptr),
      m_Type(type) {
  check_type(type);
}

DynamicCalculationCommon::DynamicCalculationCommon(ViewpointCommandExecutioner* executioner)
    : support::RefCountImpl("DynamicCalculationCommomn",
                            support::nextInstanceNumber<DynamicCalculationCommon>()),
      m_pExecutioner(executioner) {}

DynamicCalculationCommon::DynamicCalculationCommon(const DynamicCalculationCommon& other)
    : olap_api::RefCount(),
      support::RefCountImpl("DynamicCalculationCommomn",
                            support::nextInstanceNumber<DynamicCalculationCommon>()),
      NUVA_o::DynamicCalculation(),
      m_pExecutioner(other.m_pExecutioner),
      m_Guid(other.m_Guid),
      m_UniqueName(other.m_UniqueName),
      m_AuxiliaryText(other.m_AuxiliaryText),
      m_Name(other.m_Name),
      m_Caption(other.m_Caption),
      m_Description(other.m_Description),
      m_pTuple(other.m_pTuple ? other.m_pTuple->clone() : nullptr),
      m_Type(other.m_Type),
      m_bIncludeCalcs(other.m_bIncludeCalcs),
      m_bActive(other.m_bActive),
      m_bDisabled(other.m_bDisabled) {}

DynamicCalculationCommon::~DynamicCalculationCommon() = default;

NUVA_o::DynamicCalculation* DynamicCalculationCommon::clone() const {
  return new DynamicCalculationCommon(*this);
}

void DynamicCalculationCommon::notify_listeners() const {
  m_Listeners.notify(
      [this](DynamicCalculationListener* listener) { listener->dynamicCalculationChanged(this); });
}

void DynamicCalculationCommon::setCaption(const TOVAString& caption) {
  if (caption == m_Caption) return;
  m_Caption = caption;
  notify_listeners();
}

void DynamicCalculationCommon::setName(const TOVAString& name) {
  if (name == m_Name) return;
  m_Name = name;
  notify_listeners();
}

void DynamicCalculationCommon::setType(NUVA_o::DynamicCalculationType type) {
  check_type(type);
  if (type == m_Type) return;
  m_Type = type;
  notify_listeners();
}

void DynamicCalculationCommon::setIncludeCalcs(bool includeCalcs) {
  if (includeCalcs == m_bIncludeCalcs) return;
  m_bIncludeCalcs = includeCalcs;
  notify_listeners();
}

void DynamicCalculationCommon::setDisabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  if (!m_pExecutioner) return internal_set_disabled(disabled);
  auto_unuse<ChangeDynamicCalculationDisabled> command(
      new ChangeDynamicCalculationDisabled(this, disabled));
  m_pExecutioner->execute(command.get());
}

void DynamicCalculationCommon::internal_set_disabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  m_bDisabled = disabled;
  notify_listeners();
}

void DynamicCalculationCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, kElement);
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", m_UniqueName);
  XmlSupport::write_to(element, "Type", int(m_Type));
  XmlSupport::write_to(element, "IncludeCalcs", m_bIncludeCalcs);
  XmlSupport::write_to(element, "Name", m_Name);
  XmlSupport::write_to(element, "Caption", m_Caption);
  XmlSupport::write_to(element, "Description", m_Description);
  XmlSupport::write_to(element, "Disabled", m_bDisabled);
  if (m_pTuple) m_pTuple->persist(xml, element);
}

void DynamicCalculationCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  if (!cube) {
    support_dll::AssertionFailure("pCube != NULL", __FILE__, __LINE__);
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_RESTORE_WITHOUT_CUBE);
  }
  const TOVAString guidText = XmlSupport::getAttribute(element, "Guid");
  if (guidText.empty())
    OptionalCubeViewClauseCommon::raise_restore_exception("Guid", support::COMMON_M_XML_MISSING,
                                                          kElement);
  GUID guid{};
  if (!StringConverters::convertStringToGUID(guidText, guid))
    OptionalCubeViewClauseCommon::raise_restore_exception(
        "Guid", support::COMMON_M_XML_NOT_A_GUID, kElement);
  const long type = XmlSupport::getNumberAttribute(element, "Type");
  if (type < NUVA_o::DC_PERCENT_OF_TOTAL || type > NUVA_o::DC_RATIO)
    OptionalCubeViewClauseCommon::raise_restore_exception(
        "Type", support::COMMON_M_XML_OUT_OF_RANGE, kElement);

  const std::vector<DOMElement*> tuples =
      XmlSupport::getDescendantElementsByTagName(element, "Tuple");
  if (tuples.empty())
    OptionalCubeViewClauseCommon::raise_restore_exception("Tuple", support::COMMON_M_XML_MISSING,
                                                          kElement);
  if (tuples.size() != 1)
    support_dll::AssertionFailure("pTupleList->getLength( ) == 1", __FILE__, __LINE__);
  auto_unuse<NUVA_o::Tuple> tuple(new TupleCommon());
  tuple->restore(tuples[0], cube);

  // Tuples name the calculation by its GUID text, kept as the document spells it.
  m_Guid = guid;
  m_UniqueName = guidText;
  m_Name = XmlSupport::getAttribute(element, "Name");
  m_Caption = XmlSupport::getAttribute(element, "Caption");
  m_Description = XmlSupport::getAttribute(element, "Description");
  m_Type = NUVA_o::DynamicCalculationType(type);
  m_bIncludeCalcs = XmlSupport::getBooleanAttribute(element, "IncludeCalcs");
  m_bDisabled = XmlSupport::getBooleanAttribute(element, "Disabled");
  m_pTuple = std::move(tuple);
}

}  // namespace common

// ---------------------------------------------------------------------------------------------
// Calculation functions

CalculationFunctionCommon::CalculationFunctionCommon()
    : support::RefCountImpl("CalculationFunctionCommon",
                            support::nextInstanceNumber<CalculationFunctionCommon>()) {}

CalculationFunctionCommon::~CalculationFunctionCommon() = default;
