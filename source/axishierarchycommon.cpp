#include "axishierarchycommon.h"

#include <algorithm>

#include "NUVA_o/MemberSetProxy.h"
#include "common/ComponentLog.h"
#include "common/CreationRecord.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

namespace common {

namespace {

// The hierarchy that a hierarchy parameter listing `saved` now stands for; empty when no
// parameter lists it or the one that does has no value to give.
TOVAString hierarchy_from_parameters(NUVA_o::Cube* cube, const TOVAString& saved) {
  for (const auto& parameter : cube->getParameters()) {
    if (parameter->getType() != NUVA_o::Parameter::PT_HIERARCHY) continue;
    const auto choices = parameter->getListOfHierarchyValues();
    // The list holds only hierarchies the cube knows, which `saved` is not; a saved name of the
    // parameter's dimension is taken as standing for it too.
    const TOVAString dimensionPrefix = parameter->getDimensionUniqueName() + ".";
    const bool lists = std::any_of(choices.begin(), choices.end(),
                                   [&saved](const auto& hierarchy) { return hierarchy->getUniqueName() == saved; });
    if (!lists && saved.substr(0, dimensionPrefix.size()) != dimensionPrefix) continue;
    auto values = parameter->hasAValue() ? parameter->getParameterValues() : parameter->getParameterDefaultValues();
    if (values.empty()) {
      support_dll::AssertionFailure("! \"Hierarchy not reset as parameter has no value and no default value\"",
                                    __FILE__, __LINE__);
      return TOVAString();
    }
    return values.front()->getStringValue();
  }
  return TOVAString();
}

const char* const kVersion = "11.5.8";

[[noreturn]] void raise_restore_exception(const char* attribute, uint32_t handle,
                                          const char* element) {
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XML_ELEMENT, attribute,
                                          support::Handle{handle}, element);
}

[[noreturn]] void raise_invalid_pointer(const char* operation, const char* pointer) {
  support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_INVALID_POINTER,
                                              "AxisHierarchyCommon", operation, pointer);
}

// A command works on the provider's set behind a proxy, which carries the proxy's GUID.
bool is_same_set(const NUVA_o::MemberSet* commandSet, const NUVA_o::MemberSet* set) {
  if (!commandSet || !set) return false;
  return commandSet == set || commandSet->getGuid() == set->getGuid();
}

}  // namespace

AxisHierarchyCommon::AxisHierarchyCommon(NUVA_o::Hierarchy* hierarchy)
    : support::StrongRef("AxisHierarchyCommon", support::nextInstanceNumber<AxisHierarchyCommon>()),
      m_Guid(SystemSupport::GenerateGUID()),
      m_pHierarchy(auto_unuse<NUVA_o::Hierarchy>::share(hierarchy)) {
  if (!hierarchy) support_dll::AssertionFailure("pHierarchy != NULL", __FILE__, __LINE__);
  axisHierarchyLog().logAt(5, "AxisHierarchyCommon[%u] created for %s", getInstanceNumber(),
                           hierarchy ? hierarchy->getUniqueName() : TOVAString());
}

AxisHierarchyCommon::AxisHierarchyCommon()
    : support::StrongRef("AxisHierarchyCommon", support::nextInstanceNumber<AxisHierarchyCommon>()) {}

AxisHierarchyCommon::~AxisHierarchyCommon() {
  if (m_pActiveSlice) m_pActiveSlice->removeMemberListener(this);
  if (m_pViewMemberSet) m_pViewMemberSet->removeMemberSetListener(this);
  if (m_pActiveSliceMemberSet) m_pActiveSliceMemberSet->removeMemberSetListener(this);
}

NUVA_o::AxisHierarchy* AxisHierarchyCommon::s_CreateAxisHierarchyFromXML(DOMElement* element,
                                                                         NUVA_o::Cube* cube) {
  if (!element || !cube) return nullptr;
  auto_unuse<AxisHierarchyCommon> created(new AxisHierarchyCommon());
  created->restore(element, cube);
  return created.release();
}

const TOVAString& AxisHierarchyCommon::getUniqueName() const {
  if (!m_pHierarchy) {
    support_dll::AssertionFailure("m_pHierarchy", __FILE__, __LINE__);
    raise_invalid_pointer("getUniqueName", "m_pHierarchy");
  }
  return m_pHierarchy->getUniqueName();
}

NUVA_o::MemberSet* AxisHierarchyCommon::make_member_set(int32_t levelIndex,
                                                        NUVA_o::CreateSetAs kind,
                                                        const char* suffix) const {
  const TOVAString& name = getUniqueName();
  CreationRecord record(name, levelIndex, kind);
  auto_unuse<NUVA_o::MemberSet> set(new NUVA_o::MemberSetProxy(m_pHierarchy.get(), record));
  TOVAString setName = name;
  setName.append(suffix);
  set->setName(setName);
  set->addMemberSetListener(const_cast<AxisHierarchyCommon*>(this));
  return set.release();
}

NUVA_o::MemberSet* AxisHierarchyCommon::getViewMemberSet() const {
  KorvelSynchronized lock(m_Mutex);
  if (!m_pViewMemberSet)
    m_pViewMemberSet.reset(make_member_set(0, NUVA_o::CS_CREATEALL, " view set"));
  return m_pViewMemberSet.share();
}

NUVA_o::MemberSet* AxisHierarchyCommon::getActiveSliceMemberSet() const {
  KorvelSynchronized lock(m_Mutex);
  if (!m_pActiveSliceMemberSet)
    m_pActiveSliceMemberSet.reset(make_member_set(-1, NUVA_o::CS_CREATEEMPTY, " active slice set"));
  return m_pActiveSliceMemberSet.share();
}

NUVA_o::Member* AxisHierarchyCommon::getActiveSlice() const {
  KorvelSynchronized lock(m_Mutex);
  if (!m_pActiveSlice) {
    if (!m_pHierarchy) raise_invalid_pointer("getActiveSlice", "m_pHierarchy");
    auto_unuse<NUVA_o::Member> member(m_pHierarchy->getDefaultMember());
    if (!member) raise_invalid_pointer("getActiveSlice", "m_pActiveSlice");
    member->addMemberListener(const_cast<AxisHierarchyCommon*>(this));
    m_pActiveSlice = std::move(member);
  }
  return m_pActiveSlice.share();
}

bool AxisHierarchyCommon::activeSliceIsDefault() const {
  KorvelSynchronized lock(m_Mutex);
  return !m_pActiveSlice || m_pActiveSlice->isDefaultMember();
}

void AxisHierarchyCommon::resetActiveSlice() {
  if (m_pHierarchy && m_pActiveSlice) {
    auto_unuse<NUVA_o::Member> defaultMember(m_pHierarchy->getDefaultMember());
    if (defaultMember) m_pActiveSlice->moveTo(defaultMember.get());
  }
  if (m_pActiveSliceMemberSet) {
    auto_unuse<NUVA_o::MemberSetCommand> command(m_pActiveSliceMemberSet->createCommand());
    command->makeEmpty();
    command->execute();
  }
}

void AxisHierarchyCommon::resetActiveViewMemberSet() {
  if (!m_pViewMemberSet) return;
  {
    auto_unuse<NUVA_o::MemberSetCommand> command(m_pViewMemberSet->createCommand());
    command->makeEmpty();
    command->execute();
  }
  initialise_active_set();
}

void AxisHierarchyCommon::initialise_active_set() {
  if (!m_pViewMemberSet) {
    support_dll::AssertionFailure("m_pViewMemberSet", __FILE__, __LINE__);
    return;
  }
  NUVA_o::Level* level = m_pHierarchy ? m_pHierarchy->getFirstLevel() : nullptr;
  if (!level) {
    support_dll::AssertionFailure("pLevel != NULL", __FILE__, __LINE__);
    return;
  }
  auto_unuse<NUVA_o::MemberSet> all(level->createMemberSet(NUVA_o::CS_CREATEALL));
  all->setRestricted(true);
  auto_unuse<NUVA_o::MemberSetCommand> command(m_pViewMemberSet->createCommand());
  command->addMemberSet(all.get());
  command->execute();
}

NUVA_o::AxisHierarchy* AxisHierarchyCommon::clone() const {
  auto_unuse<AxisHierarchyCommon> copy(new AxisHierarchyCommon(m_pHierarchy.get()));
  if (m_pViewMemberSet) {
    auto_unuse<NUVA_o::MemberSet> set(copy->getViewMemberSet());
    set->assign(m_pViewMemberSet.get());
  }
  if (m_pActiveSlice) {
    auto_unuse<NUVA_o::Member> slice(copy->getActiveSlice());
    slice->moveTo(m_pActiveSlice.get());
  }
  if (m_pActiveSliceMemberSet) {
    auto_unuse<NUVA_o::MemberSet> set(copy->getActiveSliceMemberSet());
    set->assign(m_pActiveSliceMemberSet.get());
  }
  copy->m_RepairDetails = m_RepairDetails;
  return copy.release();
}

void AxisHierarchyCommon::addListener(AxisHierarchyListener* listener) const {
  m_Listeners.add(listener);
}

void AxisHierarchyCommon::removeListener(AxisHierarchyListener* listener) const {
  m_Listeners.remove(listener);
}

// Notifications run outside m_Mutex: listeners take locks of their own (the view's command
// history), which must never be taken while this mutex is held.
void AxisHierarchyCommon::preMemberSetCommandExecute(const NUVA_o::MemberSetCommand* command) {
  m_Listeners.notify([&](AxisHierarchyListener* listener) { listener->executingCommand(command); });
}

void AxisHierarchyCommon::memberSetChanged(const NUVA_o::MemberSetCommand* command, bool& out) {
  bool slice = false;
  {
    KorvelSynchronized lock(m_Mutex);
    slice = command && m_pActiveSliceMemberSet &&
            is_same_set(command->getCommandMemberSet(), m_pActiveSliceMemberSet.get());
  }
  m_Listeners.notify([&](AxisHierarchyListener* listener) {
    if (slice)
      listener->activeSliceMemberSetChanged(command);
    else
      listener->activeViewSetChanged(command);
  });
  out = false;
}

void AxisHierarchyCommon::memberChanged(const NUVA_o::MemberCommand* command) {
  // The member that calls us must outlive its own callback, so a replaced active slice is
  // released only when this function returns.
  auto_unuse<NUVA_o::Member> replaced;
  {
    KorvelSynchronized lock(m_Mutex);
    if (m_pActiveSlice && m_pActiveSlice->getMemberType() == NUVA_o::Member::MT_UNRESOLVED) {
      NUVA_o::Hierarchy* hierarchy = m_pActiveSlice->getHierarchy();
      if (!hierarchy) {
        support_dll::AssertionFailure("! \"Error getting default hierarchy from member\"", __FILE__,
                                      __LINE__);
      } else {
        auto_unuse<NUVA_o::Member> replacement(hierarchy->getDefaultMember());
        if (replacement) {
          m_pActiveSlice->removeMemberListener(this);
          replaced = std::move(m_pActiveSlice);
          replacement->addMemberListener(this);
          m_pActiveSlice = std::move(replacement);
        }
      }
    }
  }
  m_Listeners.notify(
      [&](AxisHierarchyListener* listener) { listener->activeMemberChanged(command); });
}

void AxisHierarchyCommon::memberDestroyed(const NUVA_o::Member*) {
  support_dll::AssertionFailure("!\"AxisHierarchyCommon::memberDestroyed\"", __FILE__, __LINE__);
}

void AxisHierarchyCommon::memberSetDestroyed(const NUVA_o::MemberSet*) {
  support_dll::AssertionFailure("!\"AxisHierarchyCommon::memberSetDestroyed\"", __FILE__, __LINE__);
}

bool AxisHierarchyCommon::inactivated() {
  // Held across the calls: the reference count read below answers "nobody else holds us" only
  // if no other thread can hand out our member sets while the listeners let go of us.
  KorvelSynchronized lock(m_Mutex);
  use();
  const TOVAString name = m_pHierarchy ? m_pHierarchy->getUniqueName() : TOVAString();
  // Each listener is asked once; one that lets go removes itself from the list inside the call.
  m_Listeners.notify(
      [&](AxisHierarchyListener* listener) { listener->activeViewSetInactivated(name); });
  // Besides the reference taken above only the self-reference of a strong object is left:
  // nobody else holds the axis hierarchy. The caller's finish call releases ours.
  if (getRefCount() == 2) return true;
  unuse();
  return false;
}

bool AxisHierarchyCommon::memberSetInactivated() { return inactivated(); }
bool AxisHierarchyCommon::memberInactivated() { return inactivated(); }
void AxisHierarchyCommon::memberSetListenerFinish() { unuse(); }
void AxisHierarchyCommon::memberListenerFinish() { unuse(); }

void AxisHierarchyCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "AxisHierarchy");
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", StringConverters::convertGUIDToString(m_Guid, false));
  XmlSupport::write_to(element, "Hierarchy", getUniqueName());
  KorvelSynchronized lock(m_Mutex);
  if (m_pViewMemberSet) m_pViewMemberSet->persist(xml, xml.addAChild(element, "ActiveView"));
  if (m_pActiveSlice && !m_pActiveSlice->isDefaultMember())
    XmlSupport::write_to(element, "ActiveSlice", m_pActiveSlice->getUniqueName());
  if (m_pActiveSliceMemberSet)
    m_pActiveSliceMemberSet->persist(xml, xml.addAChild(element, "ActiveSliceMemberSet"));
}

NUVA_o::MemberSet* AxisHierarchyCommon::restore_member_set(DOMElement* element, const char* tag) {
  const std::vector<DOMElement*> list = XmlSupport::getDescendantElementsByTagName(element, tag);
  const XMLSize_t count = list.size();
  if (count == 0) return nullptr;
  if (count > 1) raise_restore_exception(tag, support::COMMON_M_XML_REPEATED, "AxisHierarchy");
  DOMElement* holder = list[0];
  DOMElement* setElement = XmlSupport::getFirstChildElement(holder);
  if (!setElement) raise_restore_exception(tag, support::COMMON_M_XML_MISSING, "AxisHierarchy");
  auto_unuse<NUVA_o::MemberSet> set(
      NUVA_o::MemberSetProxy::createFromXML(setElement, m_pHierarchy.get()));
  if (!set) raise_restore_exception(tag, support::COMMON_M_XML_MISSING, "AxisHierarchy");
  return set.release();
}

void AxisHierarchyCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  if (!cube) {
    support_dll::AssertionFailure("pCube != NULL", __FILE__, __LINE__);
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_RESTORE_WITHOUT_CUBE);
  }
  const TOVAString guid = XmlSupport::getAttribute(element, "Guid");
  if (guid.empty() || !StringConverters::convertStringToGUID(guid, m_Guid)) m_Guid = SystemSupport::GenerateGUID();

  const TOVAString name = XmlSupport::getAttribute(element, "Hierarchy");
  if (name.empty())
    raise_restore_exception("Hierarchy", support::COMMON_M_XML_MISSING, "AxisHierarchy");
  TOVAString resolvedName = name;
  auto_unuse<NUVA_o::Hierarchy> hierarchy(cube->getHierarchyByUniqueName(name));
  if (!hierarchy && cube->hasParameters()) {
    resolvedName = hierarchy_from_parameters(cube, name);
    if (!resolvedName.empty()) hierarchy.reset(cube->getHierarchyByUniqueName(resolvedName));
    else resolvedName = name;
  }
  if (!hierarchy)
    support::raise<InvalidXMLExceptionImpl>(
        moduleName(), support::COMMON_E_RESTORE_UNKNOWN_HIERARCHY, "AxisHierarchy", resolvedName);

  // Restore into locals first, so that a damaged element leaves the object as it was.
  auto_unuse<NUVA_o::Hierarchy> previousHierarchy = std::move(m_pHierarchy);
  m_pHierarchy = std::move(hierarchy);
  auto_unuse<NUVA_o::MemberSet> view, sliceSet;
  auto_unuse<NUVA_o::Member> slice;
  std::vector<TOVAString> repairs;
  try {
    view.reset(restore_member_set(element, "ActiveView"));
    const TOVAString sliceName = XmlSupport::getAttribute(element, "ActiveSlice");
    if (!sliceName.empty()) {
      slice.reset(m_pHierarchy->getDefaultMember());
      if (slice) {
        slice->moveTo(sliceName);
        if (slice->getMemberType() == NUVA_o::Member::MT_UNRESOLVED) {
          slice.reset(m_pHierarchy->getDefaultMember());
          TOVAString text;
          TOVAString insert = m_pHierarchy->getName();
          support_dll::CoreLog::getLogObject()->get(text, support::COMMON_R_ACTIVE_SLICE_RESET, 1,
                                                    &insert);
          axisHierarchyLog().logAt(3, "%s", text);
          repairs.push_back(text);
        }
      }
    }
    sliceSet.reset(restore_member_set(element, "ActiveSliceMemberSet"));
  } catch (...) {
    m_pHierarchy = std::move(previousHierarchy);
    throw;
  }

  KorvelSynchronized lock(m_Mutex);
  if (view) {
    if (m_pViewMemberSet) m_pViewMemberSet->removeMemberSetListener(this);
    view->addMemberSetListener(this);
    m_pViewMemberSet = std::move(view);
  }
  if (slice) {
    if (m_pActiveSlice) m_pActiveSlice->removeMemberListener(this);
    slice->addMemberListener(this);
    m_pActiveSlice = std::move(slice);
  }
  if (sliceSet) {
    if (m_pActiveSliceMemberSet) m_pActiveSliceMemberSet->removeMemberSetListener(this);
    sliceSet->addMemberSetListener(this);
    m_pActiveSliceMemberSet = std::move(sliceSet);
  }
  m_RepairDetails.insert(m_RepairDetails.end(), repairs.begin(), repairs.end());
}

}  // namespace common
