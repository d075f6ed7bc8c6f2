#include "memberrangecommon.h"

#include "NUVA_o/Cube.h"
#include "support/CoreLog.h"

namespace common {

namespace {

bool same_hierarchy(const NUVA_o::Member* a, const NUVA_o::Member* b) {
  return a->getHierarchy()->getUniqueName() == b->getHierarchy()->getUniqueName();
}

// A member object of the range's own on the same member as `member`.
auto_unuse<NUVA_o::Member> copy_of(const NUVA_o::Member* member) {
  auto_unuse<NUVA_o::Member> copy(member->getHierarchy()->getDefaultMember());
  if (copy) copy->moveTo(member);
  return copy;
}

}  // namespace

MemberRangeCommon::MemberRangeCommon(const NUVA_o::Member* start, const NUVA_o::Member* end)
    : support::RefCountImpl("MemberRangeCommon", support::nextInstanceNumber<MemberRangeCommon>()) {
  if (!start || !end) {
    support_dll::AssertionFailure("start && end", __FILE__, __LINE__);
    return;
  }
  if (!same_hierarchy(start, end)) {
    support_dll::AssertionFailure(
        "start->getHierarchy( )->getUniqueName( ) == end->getHierarchy( )->getUniqueName( )",
        __FILE__, __LINE__);
    return;
  }
  m_pStart = copy_of(start);
  m_pEnd = copy_of(end);
}

MemberRangeCommon::~MemberRangeCommon() = default;

TOVAString MemberRangeCommon::getStartUniqueName() const {
  return m_pStart ? m_pStart->getUniqueName() : TOVAString();
}

TOVAString MemberRangeCommon::getEndUniqueName() const {
  return m_pEnd ? m_pEnd->getUniqueName() : TOVAString();
}

void MemberRangeCommon::setStart(const NUVA_o::Member* member) {
  if (member && m_pEnd && same_hierarchy(member, m_pEnd.get())) m_pStart = copy_of(member);
}

void MemberRangeCommon::setEnd(const NUVA_o::Member* member) {
  if (member && m_pStart && same_hierarchy(member, m_pStart.get())) m_pEnd = copy_of(member);
}

}  // namespace common
