#include "TupleCommon.h"

#include <algorithm>

#include "NUVA_o/Cube.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/SubTotal.h"
#include "common/CommonTuple.h"
#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

const char* const kVersion = "11.5.8";

const TOVAString& hierarchy_name(const NUVA_o::Member* member) {
  return member->getHierarchy()->getUniqueName();
}

void add_name_once(std::vector<TOVAString>& names, const TOVAString& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

// The elements of that name below `element`, in document order.
template <class Visit>
void for_each_descendant(DOMElement* element, const char* name, Visit&& visit) {
  for (DOMElement* found : XmlSupport::getDescendantElementsByTagName(element, name)) visit(found);
}

}  // namespace

TupleCommon::TupleCommon()
    : support::RefCountImpl("TupleCommon", support::nextInstanceNumber<TupleCommon>()) {}

TupleCommon::TupleCommon(const TupleCommon& other)
    : NUVA_o::Tuple(other),
      support::RefCountImpl("TupleCommon", support::nextInstanceNumber<TupleCommon>()),
      m_Members(other.m_Members),
      m_DynamicCalculations(other.m_DynamicCalculations),
      m_SubTotals(other.m_SubTotals) {}

TupleCommon::~TupleCommon() = default;

NUVA_o::Tuple* TupleCommon::clone() const { return new TupleCommon(*this); }

void TupleCommon::addMember(const NUVA_o::Member* member) {
  if (!member) return;
  // The tuple shares the caller's member object, as the interface says; it never moves it.
  auto held = auto_unuse<NUVA_o::Member>::share(const_cast<NUVA_o::Member*>(member));
  const TOVAString& hierarchy = hierarchy_name(member);
  for (auto& current : m_Members)
    if (hierarchy_name(current.get()) == hierarchy) {
      current = std::move(held);
      return;
    }
  m_Members.push_back(std::move(held));
}

void TupleCommon::removeMember(const TOVAString& hierarchyUniqueName) {
  auto found = std::find_if(m_Members.begin(), m_Members.end(), [&](const auto& member) {
    return hierarchy_name(member.get()) == hierarchyUniqueName;
  });
  if (found != m_Members.end()) m_Members.erase(found);
}

void TupleCommon::removeMember(const NUVA_o::Member* member) {
  if (!member) return;
  const TOVAString& name = member->getUniqueName();
  auto found = std::find_if(m_Members.begin(), m_Members.end(),
                            [&](const auto& held) { return held->getUniqueName() == name; });
  if (found != m_Members.end()) m_Members.erase(found);
}

void TupleCommon::addDynamicCalculation(const NUVA_o::DynamicCalculation* calculation) {
  if (calculation) add_name_once(m_DynamicCalculations, calculation->getUniqueName());
}

void TupleCommon::addSubTotal(const NUVA_o::SubTotal* subTotal) {
  if (subTotal) add_name_once(m_SubTotals, subTotal->getUniqueName());
}

NUVA_o::Member* TupleCommon::getMember(const TOVAString& hierarchyUniqueName) const {
  for (const auto& member : m_Members)
    if (hierarchy_name(member.get()) == hierarchyUniqueName) return member.share();
  return nullptr;
}

std::vector<TOVAString> TupleCommon::getHierarchyUniqueNames() const {
  std::vector<TOVAString> names;
  names.reserve(m_Members.size());
  for (const auto& member : m_Members) names.push_back(hierarchy_name(member.get()));
  return names;
}

std::vector<TOVAString> TupleCommon::getMemberUniqueNames() const {
  std::vector<TOVAString> names;
  names.reserve(m_Members.size());
  for (const auto& member : m_Members) names.push_back(member->getUniqueName());
  return names;
}

bool TupleCommon::contains(const TOVAString& memberUniqueName) const {
  return std::any_of(m_Members.begin(), m_Members.end(), [&](const auto& member) {
    return member->getUniqueName() == memberUniqueName;
  });
}

void TupleCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "Tuple");
  XmlSupport::write_to(element, "Version", kVersion);
  for (const auto& member : m_Members) {
    DOMElement* child = xml.addAChild(element, "Member");
    XmlSupport::write_to(child, "UniqueName", member->getUniqueName());
    XmlSupport::write_to(child, "Hierarchy", hierarchy_name(member.get()));
  }
  for (const TOVAString& name : m_DynamicCalculations)
    XmlSupport::write_to(xml.addAChild(element, "DynamicCalcRef"), "UniqueName", name);
  for (const TOVAString& name : m_SubTotals)
    XmlSupport::write_to(xml.addAChild(element, "SubTotalRef"), "UniqueName", name);
}

void TupleCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  if (!m_Members.empty())
    support_dll::AssertionFailure("m_Members.size( ) == 0", __FILE__, __LINE__);
  if (!cube) {
    support_dll::AssertionFailure("pCube != NULL", __FILE__, __LINE__);
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_RESTORE_WITHOUT_CUBE);
  }
  // Read into locals: a tuple whose element fails half way keeps what it held before.
  std::vector<auto_unuse<NUVA_o::Member>> members;
  for_each_descendant(element, "Member", [&](DOMElement* child) {
    const TOVAString hierarchyName = XmlSupport::getAttribute(child, "Hierarchy");
    auto_unuse<NUVA_o::Hierarchy> hierarchy(cube->getHierarchyByUniqueName(hierarchyName));
    if (!hierarchy)
      support::raise<InvalidXMLExceptionImpl>(
          moduleName(), support::COMMON_E_RESTORE_UNKNOWN_HIERARCHY, "Tuple", hierarchyName);
    const TOVAString uniqueName = XmlSupport::getAttribute(child, "UniqueName");
    auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
    if (!member)
      support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                              support::COMMON_E_RESTORE_UNKNOWN_MEMBER, uniqueName);
    member->moveTo(uniqueName);
    if (member->getMemberType() == NUVA_o::Member::MT_UNRESOLVED)
      support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                              support::COMMON_E_RESTORE_UNKNOWN_MEMBER, uniqueName);
    members.push_back(std::move(member));
  });
  std::vector<TOVAString> calculations = m_DynamicCalculations, subTotals = m_SubTotals;
  for_each_descendant(element, "DynamicCalcRef", [&](DOMElement* child) {
    calculations.push_back(XmlSupport::getAttribute(child, "UniqueName"));
  });
  for_each_descendant(element, "SubTotalRef", [&](DOMElement* child) {
    subTotals.push_back(XmlSupport::getAttribute(child, "UniqueName"));
  });
  for (auto& member : members) m_Members.push_back(std::move(member));
  m_DynamicCalculations = std::move(calculations);
  m_SubTotals = std::move(subTotals);
}

}  // namespace common

extern "C" NUVA_o::Tuple* createCommonTuple() { return new (std::nothrow) common::TupleCommon(); }
