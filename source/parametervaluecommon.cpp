#include "common/CommonParameter.h"
#include "memberrangecommon.h"
#include "parametercommon.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "common/ComponentLog.h"

namespace common {

namespace {

// A member object of the value's own on the same member as `member`.
auto_unuse<NUVA_o::Member> own_member(const NUVA_o::Member* member) {
  auto_unuse<NUVA_o::Member> copy(member->getHierarchy()->getDefaultMember());
  copy->moveTo(member);
  return copy;
}

// A set of the value's own on `hierarchy` holding the members of `source`.
auto_unuse<NUVA_o::MemberSet> filled_set(const NUVA_o::Hierarchy* hierarchy, const NUVA_o::MemberSet* source,
                                         auto_unuse<NUVA_o::MemberSet> target) {
  if (!target) target.reset(hierarchy->createMemberSet(NUVA_o::CS_CREATEEMPTY));
  auto_unuse<NUVA_o::MemberSetCommand> command(target->createCommand());
  command->addMemberSet(source);
  command->execute();
  return target;
}

}  // namespace

ParameterValueCommon::ParameterValueCommon(NUVA_o::Parameter* parent)
    : support::RefCountImpl("ParameterValueCommon", support::nextInstanceNumber<ParameterValueCommon>()),
      m_pParent(parent ? parent->getWeakRef() : nullptr),
      m_Guid(StringConverters::convertGUIDToString(SystemSupport::GenerateGUID(), false)) {}

ParameterValueCommon::ParameterValueCommon(const TOVAString& text)
    : support::RefCountImpl("ParameterValueCommon", support::nextInstanceNumber<ParameterValueCommon>()),
      m_Kind(PV_STRING),
      m_Text(text) {}

ParameterValueCommon::ParameterValueCommon(double number)
    : support::RefCountImpl("ParameterValueCommon", support::nextInstanceNumber<ParameterValueCommon>()),
      m_Kind(PV_NUMBER),
      m_Number(number) {}

ParameterValueCommon::ParameterValueCommon(NUVA_o::MemberSet* memberSet)
    : support::RefCountImpl("ParameterValueCommon", support::nextInstanceNumber<ParameterValueCommon>()),
      m_Kind(PV_MEMBERSET),
      m_pMemberSet(memberSet) {}

ParameterValueCommon::ParameterValueCommon(const ParameterValueCommon& source, ParameterCommon* parent)
    : support::RefCountImpl("ParameterValueCommon", support::nextInstanceNumber<ParameterValueCommon>()),
      m_pParent(parent->getWeakRef()),
      m_Kind(source.m_Kind),
      m_bBool(source.m_bBool),
      m_Int(source.m_Int),
      m_Guid(source.m_Guid),
      m_Text(source.m_Text),
      m_Number(source.m_Number) {
  if (source.m_pMember) m_pMember = own_member(source.m_pMember.get());
  if (source.m_pMemberSet)
    m_pMemberSet = filled_set(source.m_pMemberSet->getHierarchy(), source.m_pMemberSet.get(), nullptr);
  if (source.m_pMemberRange) {
    auto_unuse<NUVA_o::Member> start(source.m_pMemberRange->getStart());
    auto_unuse<NUVA_o::Member> end(source.m_pMemberRange->getEnd());
    m_pMemberRange.reset(new MemberRangeCommon(start.get(), end.get()));
  }
  addListener(parent);
}

auto_unuse<NUVA_o::Parameter> ParameterValueCommon::parent() const {
  if (!m_pParent) return nullptr;
  auto_unuse<support::StrongRefBase> locked(m_pParent->lock());
  if (!locked) return nullptr;
  auto* parameter = dynamic_cast<NUVA_o::Parameter*>(locked.get());
  return auto_unuse<NUVA_o::Parameter>::share(parameter);
}

void ParameterValueCommon::notify(bool silent) const {
  if (silent) return;
  m_Listeners.notify([this](ParameterValueListener* listener) { listener->parameterValueChanged(this); });
}

void ParameterValueCommon::setBoolValue(bool value, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (owner && owner->getType() != NUVA_o::Parameter::PT_COMPLEX)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_BOOL_PART,
                                                      owner->getUniqueName());
  m_bBool = value;
  notify(silent);
}

void ParameterValueCommon::setIntValue(int32_t value, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (owner && owner->getType() != NUVA_o::Parameter::PT_COMPLEX)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_INT_PART,
                                                      owner->getUniqueName());
  m_Int = value;
  notify(silent);
}

void ParameterValueCommon::setStringValue(const TOVAString& text, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (!owner) return;
  TOVAString normalised = owner->validateStringValue(text);
  if (m_Kind == PV_STRING && m_Text == normalised) return;
  m_Text = std::move(normalised);
  m_Kind = PV_STRING;
  notify(silent);
}

void ParameterValueCommon::setNumericValue(double number, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (!owner) return;
  owner->validateNumericValue(number);
  if (m_Kind == PV_NUMBER && m_Number == number) return;
  m_Number = number;
  m_Kind = PV_NUMBER;
  notify(silent);
}

NUVA_o::Member* ParameterValueCommon::getMemberValue() const {
  return auto_unuse<NUVA_o::Member>::share(m_pMember.get()).release();
}

void ParameterValueCommon::setMemberValue(const NUVA_o::Member* member, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (!owner) return;
  owner->validateMemberValue(member);
  if (!member) return;
  bool changed = m_Kind != PV_MEMBER;
  if (!m_pMember) {
    m_pMember.reset(member->getHierarchy()->getDefaultMember());
    changed = true;
  }
  m_Kind = PV_MEMBER;
  if (m_pMember->getUniqueName() != member->getUniqueName()) {
    m_pMember->moveTo(member);
    changed = true;
  }
  if (changed) notify(silent);
}

NUVA_o::MemberSet* ParameterValueCommon::getMemberSetValue() const {
  return auto_unuse<NUVA_o::MemberSet>::share(m_pMemberSet.get()).release();
}

void ParameterValueCommon::setMemberSetValue(const NUVA_o::MemberSet* memberSet, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (!owner) return;
  owner->validateMemberSetValue(memberSet);
  if (!memberSet) return;
  const NUVA_o::Hierarchy* hierarchy = memberSet->getHierarchy();
  auto_unuse<NUVA_o::MemberSet> target;
  // A set of the same hierarchy grows; another hierarchy's replaces the held one.
  if (m_pMemberSet && m_pMemberSet->getHierarchy()->getUniqueName() == hierarchy->getUniqueName())
    target = m_pMemberSet;
  m_pMemberSet = filled_set(hierarchy, memberSet, std::move(target));
  m_Kind = PV_MEMBERSET;
  notify(silent);
}

NUVA_o::MemberRange* ParameterValueCommon::getMemberRangeValue() const {
  return auto_unuse<NUVA_o::MemberRange>::share(m_pMemberRange.get()).release();
}

void ParameterValueCommon::setMemberRangeValue(const NUVA_o::Member* start, const NUVA_o::Member* end, bool silent) {
  auto_unuse<NUVA_o::Parameter> owner = parent();
  if (!owner) return;
  owner->validateMemberRangeValue(start, end);
  if (!start || !end) return;
  bool changed = m_Kind != PV_MEMBERRANGE;
  if (!m_pMemberRange) {
    m_pMemberRange.reset(new MemberRangeCommon(start, end));
    changed = true;
  } else {
    if (m_pMemberRange->getStartUniqueName() != start->getUniqueName()) {
      m_pMemberRange->setStart(start);
      changed = true;
    }
    if (m_pMemberRange->getEndUniqueName() != end->getUniqueName()) {
      m_pMemberRange->setEnd(end);
      changed = true;
    }
  }
  m_Kind = PV_MEMBERRANGE;
  if (changed) notify(silent);
}

void ParameterValueCommon::clearValue() {
  if (m_Kind == PV_NONE) return;
  // The kind changes first: releasing the provider's objects may make it count what values hold.
  m_Kind = PV_NONE;
  m_Text.clear();
  m_Number = 0;
  m_pMember.reset();
  m_pMemberSet.reset();
  m_pMemberRange.reset();
}

void setParameterValueTexts(NUVA_o::Parameter& parameter, const std::vector<TOVAString>& texts) {
  const auto type = parameter.getType();
  const bool set = type == NUVA_o::Parameter::PT_MEMBERSET || type == NUVA_o::Parameter::PT_MEMBERSET_DERIVED;
  parameter.beginParameterTransaction();
  try {
    parameter.clearParameterValues();
    for (const TOVAString& text : texts) {
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      if (type == NUVA_o::Parameter::PT_NUMERIC) {
        double number = 0;
        if (!StringConverters::convertStringToReal(text, number))
          support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_NUMBER, text,
                                                       parameter.getUniqueName());
        value->setNumericValue(number, false);
      } else if (set) {
        NUVA_o::Hierarchy* hierarchy = parameter.getHierarchy();
        if (!hierarchy)
          support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_INVALID_POINTER,
                                                      "m_pHierarchy", "setParameterValueTexts", "ParameterCommon");
        auto_unuse<NUVA_o::MemberSet> members(hierarchy->createMemberSet(NUVA_o::CS_CREATEEMPTY));
        auto_unuse<NUVA_o::MemberSetCommand> command(members->createCommand());
        TOVAString inner = text;
        if (inner.size() >= 2 && inner[0] == u'{' && inner[inner.size() - 1] == u'}')
          inner = inner.substr(1, inner.size() - 2);
        // Unique names end in "]", so ", [" only separates members.
        size_t at = 0;
        for (;;) {
          const size_t comma = inner.find(TOVAString("], ["), at);
          const size_t end = comma == TOVAString::npos ? inner.size() : comma + 1;
          if (end > at) command->addMember(inner.substr(at, end - at));
          if (comma == TOVAString::npos) break;
          at = comma + 3;
        }
        command->execute();
        value->setMemberSetValue(members.get(), false);
      } else {
        value->setStringValue(text, false);
      }
    }
  } catch (...) {
    parameter.rollbackParameterTransaction();
    throw;
  }
  parameter.commitParameterTransaction();
}

TOVAString parameterValueText(const NUVA_o::ParameterValue& value) {
  switch (value.getValueType()) {
    case NUVA_o::ParameterValue::PV_STRING:
      return value.getStringValue();
    case NUVA_o::ParameterValue::PV_NUMBER:
      return StringConverters::convertRealToString(value.getNumericValue(), 15);
    case NUVA_o::ParameterValue::PV_MEMBER: {
      auto_unuse<NUVA_o::Member> member(value.getMemberValue());
      return member->getUniqueName();
    }
    case NUVA_o::ParameterValue::PV_MEMBERSET: {
      auto_unuse<NUVA_o::MemberSet> set(value.getMemberSetValue());
      return set->getServerText();
    }
    case NUVA_o::ParameterValue::PV_MEMBERRANGE: {
      auto_unuse<NUVA_o::MemberRange> range(value.getMemberRangeValue());
      return range->getStartUniqueName() + " : " + range->getEndUniqueName();
    }
    default:
      return TOVAString();
  }
}

}  // namespace common
