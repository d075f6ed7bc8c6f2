#include "SubTotalCommon.h"

#include <algorithm>

#include "common/ComponentLog.h"
#include "common/ViewpointCommandExecutioner.h"
#include "optionalcubeviewclausecommon.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "viewpointcommands.h"

namespace common {

namespace {

const char* const kVersion = "11.5.8";

TOVAString unique_name_of(const GUID& guid) {
  TOVAString name = TOVAString("SubTotal_") + StringConverters::convertGUIDToString(guid, false);
  std::replace(name.u16().begin(), name.u16().end(), u',', u'#');
  std::replace(name.u16().begin(), name.u16().end(), u' ', u'#');
  return name;
}

void check_range(long value, long last, const char* what) {
  if (value < 0 || value > last)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_UNKNOWN_SUBTOTAL_VALUE, what,
                                                 value);
}

}  // namespace

void SubTotalCommon::check_operation(long operation) {
  check_range(operation, SO_COUNT, "operation");
}

void SubTotalCommon::check_type(long type) { check_range(type, STT_PER_PARENT, "type"); }

void SubTotalCommon::check_position(long position) {
  check_range(position, SP_AFTER, "position");
}

SubTotalCommon::SubTotalCommon(SubTotalOperation operation, SubTotalType type,
                               SubTotalPosition position, ViewpointCommandExecutioner* executioner)
    : support::RefCountImpl("SubTotalCommon", support::nextInstanceNumber<SubTotalCommon>()),
      m_Guid(SystemSupport::GenerateGUID()),
      m_UniqueName(unique_name_of(m_Guid)),
      m_pExecutioner(executioner),
      m_Position(position),
      m_Type(type),
      m_Operation(operation) {
  check_operation(operation);
  check_type(type);
  check_position(position);
}

SubTotalCommon::SubTotalCommon(ViewpointCommandExecutioner* executioner)
    : support::RefCountImpl("SubTotalCommon", support::nextInstanceNumber<SubTotalCommon>()),
      m_pExecutioner(executioner) {}

SubTotalCommon::SubTotalCommon(const SubTotalCommon& other)
    : olap_api::RefCount(),
      support::RefCountImpl("SubTotalCommon", support::nextInstanceNumber<SubTotalCommon>()),
      NUVA_o::SubTotal(),
      m_Guid(other.m_Guid),
      m_UniqueName(other.m_UniqueName),
      m_pExecutioner(other.m_pExecutioner),
      m_DriverIdentifications(other.m_DriverIdentifications),
      m_Caption(other.m_Caption),
      m_Name(other.m_Name),
      m_Description(other.m_Description),
      m_Position(other.m_Position),
      m_Type(other.m_Type),
      m_Operation(other.m_Operation),
      m_bDisabled(other.m_bDisabled) {}

SubTotalCommon::~SubTotalCommon() = default;

NUVA_o::SubTotal* SubTotalCommon::clone() const { return new SubTotalCommon(*this); }

void SubTotalCommon::notify_listeners() const {
  m_Listeners.notify([this](SubTotalListener* listener) { listener->subTotalChanged(this); });
}

void SubTotalCommon::setCaption(const TOVAString& caption) {
  m_Caption = caption;
  notify_listeners();
}

void SubTotalCommon::setName(const TOVAString& name) {
  m_Name = name;
  notify_listeners();
}

void SubTotalCommon::setPosition(SubTotalPosition position) {
  check_position(position);
  m_Position = position;
  notify_listeners();
}

void SubTotalCommon::setType(SubTotalType type) {
  check_type(type);
  m_Type = type;
  notify_listeners();
}

void SubTotalCommon::setOperation(SubTotalOperation operation) {
  check_operation(operation);
  m_Operation = operation;
  notify_listeners();
}

void SubTotalCommon::setDisabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  if (!m_pExecutioner) return internal_set_disabled(disabled);
  auto_unuse<ChangeSubTotalDisabled> command(new ChangeSubTotalDisabled(this, disabled));
  m_pExecutioner->execute(command.get());
}

void SubTotalCommon::internal_set_disabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  m_bDisabled = disabled;
  notify_listeners();
}

void SubTotalCommon::addDriverIdentification(const TOVAString& name) {
  m_DriverIdentifications.push_back(name);
}

bool SubTotalCommon::matchesDriverIdentification(const TOVAString& name) const {
  return name == m_UniqueName ||
         std::find(m_DriverIdentifications.begin(), m_DriverIdentifications.end(), name) !=
             m_DriverIdentifications.end();
}

void SubTotalCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "Subtotal");
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", StringConverters::convertGUIDToString(m_Guid, false));
  XmlSupport::write_to(element, "UniqueName", m_UniqueName);
  XmlSupport::write_to(element, "Name", m_Name);
  XmlSupport::write_to(element, "Caption", m_Caption);
  XmlSupport::write_to(element, "Description", m_Description);
  XmlSupport::write_to(element, "Position", int(m_Position));
  XmlSupport::write_to(element, "Type", int(m_Type));
  XmlSupport::write_to(element, "Operation", int(m_Operation));
  XmlSupport::write_to(element, "Disabled", m_bDisabled);
}

void SubTotalCommon::restore(DOMElement* element, NUVA_o::Cube*) {
  if (!element) return;
  // Tuples refer to a subtotal by its unique name, which stands on the GUID: a subtotal
  // without one could never be named, so it is refused rather than kept nameless.
  const TOVAString guidText = XmlSupport::getAttribute(element, "Guid");
  GUID guid{};
  if (guidText.empty())
    OptionalCubeViewClauseCommon::raise_restore_exception("Guid", support::COMMON_M_XML_MISSING,
                                                          "Subtotal");
  if (!StringConverters::convertStringToGUID(guidText, guid))
    OptionalCubeViewClauseCommon::raise_restore_exception(
        "Guid", support::COMMON_M_XML_NOT_A_GUID, "Subtotal");
  struct Number {
    const char* attribute;
    long last;
    long value;
  };
  Number numbers[] = {{"Position", SP_AFTER, 0}, {"Type", STT_PER_PARENT, 0},
                      {"Operation", SO_COUNT, 0}};
  for (Number& number : numbers) {
    number.value = XmlSupport::getNumberAttribute(element, number.attribute);
    if (number.value < 0 || number.value > number.last)
      OptionalCubeViewClauseCommon::raise_restore_exception(
          number.attribute, support::COMMON_M_XML_OUT_OF_RANGE, "Subtotal");
  }
  m_Guid = guid;
  m_UniqueName = XmlSupport::getAttribute(element, "UniqueName");
  if (m_UniqueName.empty()) m_UniqueName = unique_name_of(guid);
  m_Name = XmlSupport::getAttribute(element, "Name");
  m_Caption = XmlSupport::getAttribute(element, "Caption");
  m_Description = XmlSupport::getAttribute(element, "Description");
  m_Position = SubTotalPosition(numbers[0].value);
  m_Type = SubTotalType(numbers[1].value);
  m_Operation = SubTotalOperation(numbers[2].value);
  m_bDisabled = XmlSupport::getBooleanAttribute(element, "Disabled");
}

}  // namespace common
