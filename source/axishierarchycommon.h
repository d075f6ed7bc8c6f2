#pragma once

#include <vector>

#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "support/ListenerList.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"
#include "support/oleauto.h"

namespace common {

// One provider hierarchy on an axis with its lazily made member choices. Listens to its member
// sets and its active slice and reports their changes to its own listeners (the axis).
class VTQ_EXPORT AxisHierarchyCommon : public NUVA_o::Member::MemberListener,
                            public NUVA_o::AxisHierarchy,
                            public NUVA_o::MemberSet::MemberSetListener,
                            public support::StrongRef {
 public:
  // A null hierarchy is reported and leaves an axis hierarchy without hierarchy.
  explicit AxisHierarchyCommon(NUVA_o::Hierarchy* hierarchy);

  // A new axis hierarchy restored from `element` with one reference for the caller; null when
  // either argument is null. Throws what restore throws.
  static NUVA_o::AxisHierarchy* s_CreateAxisHierarchyFromXML(DOMElement* element,
                                                             NUVA_o::Cube* cube);

  // Persistable
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  // AxisHierarchy
  const TOVAString& getUniqueName() const override;
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy.get(); }
  NUVA_o::MemberSet* getViewMemberSet() const override;
  NUVA_o::Member* getActiveSlice() const override;
  NUVA_o::MemberSet* getActiveSliceMemberSet() const override;
  bool activeSliceIsDefault() const override;
  void resetActiveViewMemberSet() override;
  void resetActiveSlice() override;
  NUVA_o::AxisHierarchy* clone() const override;
  const std::vector<TOVAString>& getRepairDetails() const override { return m_RepairDetails; }

  // Member::MemberListener
  void memberChanged(const NUVA_o::MemberCommand* command) override;
  void memberDestroyed(const NUVA_o::Member* member) override;
  bool memberInactivated() override;
  void memberListenerFinish() override;

  // MemberSet::MemberSetListener
  void preMemberSetCommandExecute(const NUVA_o::MemberSetCommand* command) override;
  void memberSetChanged(const NUVA_o::MemberSetCommand* command, bool& out) override;
  void memberSetDestroyed(const NUVA_o::MemberSet* memberSet) override;
  bool memberSetInactivated() override;
  void memberSetListenerFinish() override;

  // Listeners are not owned; added without de-duplication, removed every occurrence.
  void addListener(AxisHierarchyListener* listener) const;
  void removeListener(AxisHierarchyListener* listener) const;

  const GUID& getGUID() const { return m_Guid; }
  // Whether the lazily made objects exist yet (they are never dropped once made).
  bool hasViewMemberSet() const { return bool(m_pViewMemberSet); }
  bool hasActiveSlice() const { return bool(m_pActiveSlice); }
  bool hasActiveSliceMemberSet() const { return bool(m_pActiveSliceMemberSet); }

 protected:
  ~AxisHierarchyCommon() override;

 private:
  AxisHierarchyCommon();

  void initialise_active_set();
  // The deferred-release protocol shared by memberInactivated and memberSetInactivated.
  bool inactivated();
  NUVA_o::MemberSet* make_member_set(int32_t levelIndex, NUVA_o::CreateSetAs kind,
                                     const char* suffix) const;
  // The member set restored from the single `tag` element below `element`, or null when there
  // is none. Throws InvalidXMLException when there are several.
  NUVA_o::MemberSet* restore_member_set(DOMElement* element, const char* tag);

  GUID m_Guid{};
  auto_unuse<NUVA_o::Hierarchy> m_pHierarchy;
  mutable support::ListenerList<AxisHierarchyListener> m_Listeners;
  mutable KorvelMutex m_Mutex;
  mutable auto_unuse<NUVA_o::MemberSet> m_pViewMemberSet;
  mutable auto_unuse<NUVA_o::Member> m_pActiveSlice;
  mutable auto_unuse<NUVA_o::MemberSet> m_pActiveSliceMemberSet;
  std::vector<TOVAString> m_RepairDetails;
};

}  // namespace common
