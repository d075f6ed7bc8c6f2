#include "parametercommon.h"

#include <algorithm>

#include "common/CommonParameter.h"
#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"

namespace common {

namespace {

const ComponentLog& parameter_log() {
  static const ComponentLog log(moduleName(), "Parameter");
  return log;
}

const TOVAString& empty_text() {
  static const TOVAString empty;
  return empty;
}

template <class... Types>
bool one_of(NUVA_o::Parameter::ParameterType type, Types... types) {
  return ((type == types) || ...);
}

}  // namespace

using NUVA_o::Parameter;

ParameterCommon::ParameterCommon(const NUVA_o::Cube* cube, const NUVA_o::ServerParameter* serverParameter)
    : support::StrongRef("ParameterCommon", support::nextInstanceNumber<ParameterCommon>()),
      m_pCube(cube),
      m_pServerParameter(auto_unuse<NUVA_o::ServerParameter>::share(
          const_cast<NUVA_o::ServerParameter*>(serverParameter))) {
  if (!m_pServerParameter) return;
  m_Type = static_cast<ParameterType>(m_pServerParameter->getType());
  m_UniqueName = m_pServerParameter->getUniqueName();
  m_DimensionUniqueName = m_pServerParameter->getDimensionUniqueName();
  m_HierarchyUniqueName = m_pServerParameter->getHierarchyUniqueName();
  m_bServerProvided = true;
  make_default_value();
}

ParameterCommon::~ParameterCommon() {
  release_values(m_Values);
  release_values(m_TransactionValues);
  release_values(m_DefaultValues);
}

void ParameterCommon::make_default_value() {
  const TOVAString& text = m_pServerParameter->getDefaultValue();
  if (text.empty()) return;
  switch (m_Type) {
    case PT_HIERARCHY:
    case PT_MEMBER:
    case PT_MEMBER_OR_TEXT:
    case PT_TEXT:
    case PT_KEYDATE:
    case PT_INTERVAL:
    case PT_COMPLEX:
      m_DefaultValues.emplace_back(new ParameterValueCommon(text));
      return;
    case PT_NUMERIC: {
      double number = 0;
      if (!StringConverters::convertStringToReal(text, number))
        support_dll::AssertionFailure("bConverted", __FILE__, __LINE__);
      m_DefaultValues.emplace_back(new ParameterValueCommon(number));
      return;
    }
    case PT_MEMBERSET:
    case PT_MEMBERSET_DERIVED: {
      NUVA_o::Hierarchy* hierarchy = find_default_hierarchy();
      if (!hierarchy) {
        parameter_log().logAt(
            LogSite{"parametercommon.cpp", __LINE__, "common::ParameterCommon::ParameterCommon"}, 3,
            "Unable to find hierarchy for default value %s. Default value for parameter %s is being discarded",
            text, m_UniqueName);
        return;
      }
      auto_unuse<NUVA_o::MemberSet> set(hierarchy->createMemberSet(NUVA_o::CS_CREATEEMPTY));
      set->setRestricted(false);
      auto_unuse<NUVA_o::MemberSetCommand> command(set->createCommand());
      command->addMember(text);
      command->execute();
      m_DefaultValues.emplace_back(new ParameterValueCommon(set.release()));
      return;
    }
    default:
      return;
  }
}

NUVA_o::Hierarchy* ParameterCommon::find_default_hierarchy() const {
  if (!m_HierarchyUniqueName.empty()) {
    // The cube's answer carries a reference; the cube keeps the hierarchy alive regardless.
    auto_unuse<NUVA_o::Hierarchy> found(m_pCube->getHierarchyByUniqueName(m_HierarchyUniqueName));
    NUVA_o::Hierarchy* hierarchy = found ? found.get() : m_pServerParameter->getHierarchy();
    if (!hierarchy) support_dll::AssertionFailure("pHier != NULL", __FILE__, __LINE__);
    return hierarchy;
  }
  NUVA_o::Dimension* dimension = m_pCube->getDimensionByName(m_DimensionUniqueName);
  if (!dimension) return nullptr;
  const TOVAString& text = m_pServerParameter->getDefaultValue();
  for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
    auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
    if (!member) continue;
    member->moveTo(text);
    if (member->getMemberType() == NUVA_o::Member::MT_REGULAR) return hierarchy;
  }
  return nullptr;
}

const TOVAString& ParameterCommon::getUniqueID() const {
  return m_pServerParameter ? m_pServerParameter->getUniqueID() : empty_text();
}
const TOVAString& ParameterCommon::getCaption() const {
  return m_pServerParameter ? m_pServerParameter->getCaption() : empty_text();
}
const TOVAString& ParameterCommon::getDescription() const {
  return m_pServerParameter ? m_pServerParameter->getDescription() : empty_text();
}
int32_t ParameterCommon::getEntryType() const {
  return m_pServerParameter ? m_pServerParameter->getEntryType() : 0;
}
const TOVAString& ParameterCommon::getHierarchyUniqueName() const {
  if (m_HierarchyUniqueName.empty() && m_pServerParameter) return m_pServerParameter->getHierarchyUniqueName();
  return m_HierarchyUniqueName;
}
std::vector<TOVAString> ParameterCommon::getSetOfValues() const {
  return m_pServerParameter ? m_pServerParameter->getSetOfValues() : std::vector<TOVAString>{};
}
Parameter* ParameterCommon::getDependancy() const {
  return m_pServerParameter ? m_pServerParameter->getDependancy() : nullptr;
}
NUVA_o::Dimension* ParameterCommon::getDimension() const {
  return m_pCube->getDimensionByName(m_DimensionUniqueName);
}
unsigned ParameterCommon::getFieldCount() { return m_pServerParameter ? m_pServerParameter->getFieldCount() : 0; }
NUVA_o::Field* ParameterCommon::getField(unsigned index) {
  return m_pServerParameter ? m_pServerParameter->getField(index) : nullptr;
}

bool ParameterCommon::hasAValue() const {
  return std::any_of(m_Values.begin(), m_Values.end(), [](const auto& value) {
    return value->getValueType() != NUVA_o::ParameterValue::PV_NONE;
  });
}

NUVA_o::Hierarchy* ParameterCommon::getHierarchy() const {
  if (m_pServerParameter && m_pServerParameter->getHierarchy()) return m_pServerParameter->getHierarchy();
  const TOVAString& name = getHierarchyUniqueName();
  if (name.empty()) return nullptr;
  // Borrowed: the cube keeps its hierarchies for its whole life.
  auto_unuse<NUVA_o::Hierarchy> hierarchy(m_pCube->getHierarchyByUniqueName(name));
  return hierarchy.get();
}

// ---- validation ----

TOVAString ParameterCommon::validateStringValue(const TOVAString& text) {
  if (!one_of(m_Type, PT_HIERARCHY, PT_MEMBER, PT_INTERVAL, PT_MEMBER_OR_TEXT, PT_COMPLEX, PT_TEXT, PT_KEYDATE))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NOT_TEXT,
                                                      m_UniqueName, m_Type);
  return m_pServerParameter ? m_pServerParameter->validateStringValue(text) : TOVAString();
}

void ParameterCommon::validateNumericValue(double number) const {
  if (m_Type != PT_NUMERIC)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NOT_NUMBER,
                                                      m_UniqueName, m_Type);
  if (m_pServerParameter) m_pServerParameter->validateNumericValue(number);
}

void ParameterCommon::validateMemberValue(const NUVA_o::Member* member) const {
  if (!one_of(m_Type, PT_MEMBER, PT_MEMBER_OR_TEXT, PT_COMPLEX, PT_KEYDATE))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NOT_MEMBER,
                                                      m_UniqueName, m_Type);
  if (!member) return;
  if (member->getMemberType() != NUVA_o::Member::MT_REGULAR)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_MEMBER_UNRESOLVED,
                                                 member->getUniqueName(), m_UniqueName);
  TOVAString expected = getHierarchyUniqueName();
  if (expected.empty()) {
    Parameter* dependency = getDependancy();
    if (!dependency)
      support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_INVALID_POINTER, "m_pHierarchy",
                                                  "validateMemberValue", "ParameterCommon");
    auto values = dependency->hasAValue() ? dependency->getParameterValues() : dependency->getParameterDefaultValues();
    if (values.empty())
      support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_DEPENDENCY_EMPTY,
                                                        m_UniqueName, dependency->getUniqueName());
    expected = values.front()->getStringValue();
  }
  if (member->getHierarchy()->getUniqueName() != expected)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_FOREIGN_MEMBER,
                                                 member->getUniqueName(), m_UniqueName);
  if (m_pServerParameter) (void)m_pServerParameter->validateStringValue(member->getUniqueName());
}

void ParameterCommon::validateMemberSetValue(const NUVA_o::MemberSet* memberSet) const {
  if (!memberSet) return;
  const TOVAString& expected = getHierarchyUniqueName();
  const TOVAString& actual = memberSet->getHierarchy()->getUniqueName();
  if (!expected.empty() && actual != expected)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_FOREIGN_SET, actual,
                                                 m_UniqueName);
  if (m_pServerParameter) m_pServerParameter->validateMemberSetValue(memberSet);
}

void ParameterCommon::validateMemberRangeValue(const NUVA_o::Member* start, const NUVA_o::Member* end) const {
  if (!one_of(m_Type, PT_INTERVAL, PT_COMPLEX))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NOT_RANGE,
                                                      m_UniqueName, m_Type);
  if (start && end && m_pServerParameter) m_pServerParameter->validateMemberRangeValue(start, end);
}

bool ParameterCommon::validateParameterValue(const std::vector<TOVAString>& names, const TOVAString& value,
                                             const std::vector<TOVAString>& values) const {
  if (!m_pServerParameter) {
    support_dll::AssertionFailure("m_pServerParameter != NULL", __FILE__, __LINE__);
    return false;
  }
  return m_pServerParameter->validateParameterValue(names, value, values);
}

// ---- values ----

void ParameterCommon::require_transaction(bool inTransaction) const {
  if (inTransaction && !m_bEventsHeld)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NO_TRANSACTION,
                                                      m_UniqueName);
}

NUVA_o::ParameterValue* ParameterCommon::createParameterValue(bool inTransaction) {
  require_transaction(inTransaction);
  if (!m_Values.empty() && m_Type != PT_COMPLEX)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_SINGLE_VALUE,
                                                      m_UniqueName);
  auto_unuse<NUVA_o::ParameterValue> value(new ParameterValueCommon(this));
  value->addListener(this);
  m_Values.push_back(value);
  return value.release();
}

void ParameterCommon::removeParameterValue(const NUVA_o::ParameterValue* value, bool inTransaction) {
  require_transaction(inTransaction);
  auto it = std::find_if(m_Values.begin(), m_Values.end(), [value](const auto& held) { return held.get() == value; });
  if (it == m_Values.end()) return;
  (*it)->removeListener(this);
  auto_unuse<NUVA_o::ParameterValue> leaving = std::move(*it);
  m_Values.erase(it);
  leaving.reset();
  notify_listeners();
}

void ParameterCommon::clearParameterValues() {
  require_transaction(true);
  const bool had = !m_Values.empty();
  release_values(m_Values);
  if (had) notify_listeners();
}

void ParameterCommon::release_values(std::vector<auto_unuse<NUVA_o::ParameterValue>>& values) {
  // Out of the list before they go: releasing a value's members may call back into code that
  // reads this parameter's lists.
  std::vector<auto_unuse<NUVA_o::ParameterValue>> leaving;
  leaving.swap(values);
  for (auto& value : leaving) value->removeListener(this);
}

void ParameterCommon::copy_values(const std::vector<auto_unuse<NUVA_o::ParameterValue>>& from,
                                  std::vector<auto_unuse<NUVA_o::ParameterValue>>& to) {
  for (const auto& value : from)
    to.emplace_back(new ParameterValueCommon(static_cast<const ParameterValueCommon&>(*value), this));
}

// ---- transactions and events ----

void ParameterCommon::beginParameterTransaction() {
  // A second begin would replace the copy taken by the first and lose what rollback restores.
  if (m_bEventsHeld)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_TRANSACTION_OPEN,
                                                      m_UniqueName);
  release_values(m_TransactionValues);
  copy_values(m_Values, m_TransactionValues);
  holdEvents();
}

void ParameterCommon::commitParameterTransaction() {
  require_transaction(true);
  release_values(m_TransactionValues);
  releaseEvents();
}

void ParameterCommon::rollbackParameterTransaction() {
  require_transaction(true);
  release_values(m_Values);
  copy_values(m_TransactionValues, m_Values);
  release_values(m_TransactionValues);
  discardEvents();
}

void ParameterCommon::releaseEvents() {
  bool pending;
  {
    std::lock_guard<std::mutex> lock(m_EventMutex);
    m_bEventsHeld = false;
    pending = m_bEventPending;
  }
  if (pending) notify_listeners();
}

void ParameterCommon::discardEvents() {
  std::lock_guard<std::mutex> lock(m_EventMutex);
  m_bEventsHeld = false;
  m_bEventPending = false;
}

void ParameterCommon::notify_listeners() {
  {
    std::lock_guard<std::mutex> lock(m_EventMutex);
    if (m_bEventsHeld) {
      m_bEventPending = true;
      return;
    }
    m_bEventPending = false;
  }
  parameter_log().logAt(5, "Parameter %s: notifying %u listeners", m_UniqueName,
                        static_cast<unsigned>(m_Listeners.size()));
  m_Listeners.notify([this](ParameterListener* listener) { listener->parameterChanged(this); });
}

// ---- hierarchies ----

std::vector<auto_unuse<NUVA_o::Hierarchy>> ParameterCommon::getListOfHierarchyValues() {
  if (m_Type != PT_HIERARCHY)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_NOT_HIERARCHY,
                                                      m_UniqueName);
  std::vector<auto_unuse<NUVA_o::Hierarchy>> result;
  if (!m_pServerParameter) return result;
  std::vector<TOVAString> names;
  m_pServerParameter->getHierarchyNames(names);
  for (const TOVAString& name : names) {
    for (NUVA_o::Dimension* dimension : m_pCube->getDimensions()) {
      if (NUVA_o::Hierarchy* hierarchy = dimension->getHierarchy(name)) {
        result.push_back(auto_unuse<NUVA_o::Hierarchy>::share(hierarchy));
        break;
      }
    }
  }
  return result;
}

}  // namespace common

NUVA_o::Parameter* createCommonParameter(const NUVA_o::Cube* cube, const NUVA_o::ServerParameter* serverParameter) {
  return new common::ParameterCommon(cube, serverParameter);
}
