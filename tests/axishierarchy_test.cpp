#include <gtest/gtest.h>

#include "axishierarchycommon.h"
#include "NUVA_o/MemberSet.h"
#include "VtqTest.h"
#include "support/CoreLog.h"
#include "ViewTesting.h"

using common::AxisHierarchyCommon;
using vtq_testing::members;
using vtq_testing::thrownCode;

namespace {

// Records the calls an axis hierarchy makes to its listeners, one letter each.
struct CallLog : NUVA_o::AxisHierarchy::AxisHierarchyListener {
  std::string calls;
  AxisHierarchyCommon* leaveFrom = nullptr;  // removes itself when told the view set is gone
  auto_unuse<AxisHierarchyCommon> holder;     // and lets go of this reference
  void activeMemberChanged(const NUVA_o::MemberCommand*) override { calls += "m"; }
  void activeSliceMemberSetChanged(const NUVA_o::MemberSetCommand*) override { calls += "s"; }
  void activeViewSetChanged(const NUVA_o::MemberSetCommand*) override { calls += "v"; }
  bool activeViewSetInactivated(TOVAString) override {
    calls += "i";
    if (!leaveFrom) return false;
    leaveFrom->removeListener(this);
    holder.reset();
    return true;
  }
  void executingCommand(const NUVA_o::MemberSetCommand*) override { calls += "x"; }
};

class AxisHierarchyTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(false));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }
  auto_unuse<AxisHierarchyCommon> make(const char* name) {
    auto_unuse<NUVA_o::Hierarchy> h(m_pCube->getHierarchyByUniqueName(name));
    return auto_unuse<AxisHierarchyCommon>(new AxisHierarchyCommon(h.get()));
  }
  std::string persisted(const NUVA_o::AxisHierarchy& h) {
    XmlSupport xml;
    h.persist(xml, xml.addAChild(nullptr, "Root"));
    return xml.getXml().string();
  }
  auto_unuse<NUVA_o::AxisHierarchy> fromText(const std::string& text) {
    XmlSupport xml;
    EXPECT_TRUE(xml.parseXML(TOVAString(text))) << text;
    return auto_unuse<NUVA_o::AxisHierarchy>(AxisHierarchyCommon::s_CreateAxisHierarchyFromXML(
        xml.getDocumentElement(), m_pCube.get()));
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(AxisHierarchyTest, MemberChoicesAreMadeOnFirstUseAndWrittenOnlyThen) {
  auto h = make("[Time].[Calendar]");
  const std::string guid = "Guid=\"";
  std::string bare = persisted(*h);
  EXPECT_NE(std::string::npos, bare.find("Version=\"11.5.8\"")) << bare;
  EXPECT_NE(std::string::npos, bare.find("Hierarchy=\"[Time].[Calendar]\"")) << bare;
  EXPECT_EQ(std::string::npos, bare.find("ActiveView")) << bare;
  EXPECT_EQ(std::string::npos, bare.find("ActiveSlice")) << bare;
  EXPECT_TRUE(h->activeSliceIsDefault());
  EXPECT_FALSE(h->hasActiveSlice());

  auto_unuse<NUVA_o::Member> slice(h->getActiveSlice());
  EXPECT_TRUE(h->activeSliceIsDefault());
  EXPECT_EQ(std::string::npos, persisted(*h).find("ActiveSlice"));
  slice->moveTo(TOVAString("[Time].[Calendar].[2023]"));
  EXPECT_FALSE(h->activeSliceIsDefault());
  EXPECT_NE(std::string::npos, persisted(*h).find("ActiveSlice=\"[Time].[Calendar].[2023]\""));

  auto_unuse<NUVA_o::MemberSet> view(h->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSet> again(h->getViewMemberSet());
  EXPECT_EQ(view.get(), again.get());
  auto_unuse<NUVA_o::MemberSet> slices(h->getActiveSliceMemberSet());
  EXPECT_EQ("[Time].[Calendar] active slice set", slices->getName().string());
  EXPECT_EQ(0u, m_pCube->getMemberSetsCreated());
  const std::string full = persisted(*h);
  EXPECT_LT(full.find("<ActiveView>"), full.find("<ActiveSliceMemberSet>")) << full;
  EXPECT_EQ(0u, m_pCube->getMemberSetsCreated());
  EXPECT_EQ("[Time].[Calendar].[All]", members(view.get()));  // all members of level 0
}

TEST_F(AxisHierarchyTest, ResetsBringBackTheDefaultChoices) {
  auto h = make("[Product]");
  h->resetActiveViewMemberSet();  // nothing made yet: nothing to reset
  h->resetActiveSlice();
  EXPECT_FALSE(h->hasViewMemberSet());
  EXPECT_FALSE(h->hasActiveSlice());

  auto_unuse<NUVA_o::MemberSet> view(h->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSet> slices(h->getActiveSliceMemberSet());
  auto_unuse<NUVA_o::Member> slice(h->getActiveSlice());
  {
    auto_unuse<NUVA_o::MemberSetCommand> command(view->createCommand());
    command->makeEmpty();
    command->addMember("[Product].[Gear].[Glove]");
    command->execute();
    auto_unuse<NUVA_o::MemberSetCommand> more(slices->createCommand());
    more->addMember("[Product].[Bikes]");
    more->execute();
    slice->moveTo(TOVAString("[Product].[Bikes].[Road]"));
  }
  EXPECT_EQ("[Product].[Gear].[Glove]", members(view.get()));
  EXPECT_EQ("[Product].[Bikes]", members(slices.get()));
  h->resetActiveViewMemberSet();
  h->resetActiveSlice();
  EXPECT_EQ("[Product].[All]", members(view.get()));  // all members of the first level
  EXPECT_EQ("", members(slices.get()));
  EXPECT_TRUE(h->activeSliceIsDefault());
}

TEST_F(AxisHierarchyTest, ListenersHearOfViewSetSliceSetAndActiveMemberChanges) {
  auto h = make("[Product]");
  CallLog log;
  h->addListener(&log);
  auto_unuse<NUVA_o::MemberSet> view(h->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSet> slices(h->getActiveSliceMemberSet());
  auto_unuse<NUVA_o::Member> slice(h->getActiveSlice());
  auto run = [](NUVA_o::MemberSet* set) {
    auto_unuse<NUVA_o::MemberSetCommand> command(set->createCommand());
    command->addMember("[Product].[Gear]");
    command->execute();
  };
  run(view.get());
  run(slices.get());
  slice->moveTo(TOVAString("[Product].[Gear]"));
  h->removeListener(&log);
  run(view.get());
  EXPECT_EQ("xvxsm", log.calls);
}

TEST_F(AxisHierarchyTest, CloneCopiesTheChoicesButNotTheListeners) {
  auto h = make("[Time].[Calendar]");
  CallLog log;
  h->addListener(&log);
  {
    auto_unuse<NUVA_o::MemberSet> view(h->getViewMemberSet());
    auto_unuse<NUVA_o::MemberSetCommand> command(view->createCommand());
    command->makeEmpty();
    command->addMember("[Time].[Calendar].[2024]");
    command->execute();
    auto_unuse<NUVA_o::Member> slice(h->getActiveSlice());
    slice->moveTo(TOVAString("[Time].[Calendar].[2024].[Jan]"));
  }
  log.calls.clear();
  auto_unuse<NUVA_o::AxisHierarchy> copy(h->clone());
  auto* common = static_cast<AxisHierarchyCommon*>(copy.get());
  EXPECT_FALSE(common->getGUID() == h->getGUID());
  EXPECT_FALSE(common->hasActiveSliceMemberSet());
  auto_unuse<NUVA_o::MemberSet> view(copy->getViewMemberSet());
  EXPECT_EQ("[Time].[Calendar].[2024]", members(view.get()));
  auto_unuse<NUVA_o::Member> slice(copy->getActiveSlice());
  EXPECT_EQ("[Time].[Calendar].[2024].[Jan]", slice->getUniqueName().string());
  slice->moveTo(TOVAString("[Time].[Calendar].[2023]"));
  EXPECT_EQ("", log.calls);
  h->removeListener(&log);
}

TEST_F(AxisHierarchyTest, RestoreRefusesDamagedElementsWithTheirCodes) {
  EXPECT_EQ(support::COMMON_E_XML_ELEMENT,
            thrownCode([&] { fromText("<AxisHierarchy Version='11.5.8'/>"); }));
  EXPECT_EQ(support::COMMON_E_RESTORE_UNKNOWN_HIERARCHY,
            thrownCode([&] { fromText("<AxisHierarchy Hierarchy='[No]'/>"); }));
  EXPECT_EQ(support::COMMON_E_XML_ELEMENT, thrownCode([&] {
              fromText("<AxisHierarchy Hierarchy='[Product]'><ActiveView/></AxisHierarchy>");
            }));
  EXPECT_EQ(support::COMMON_E_XML_ELEMENT, thrownCode([&] {
              fromText(
                  "<AxisHierarchy Hierarchy='[Product]'><ActiveView><MembersetProxy "
                  "Hierarchy='[Product]'/></ActiveView><ActiveView><MembersetProxy "
                  "Hierarchy='[Product]'/></ActiveView></AxisHierarchy>");
            }));
  // A member set of another hierarchy is refused by the member set itself.
  EXPECT_EQ(support::COMMON_E_FOREIGN_MEMBER_SET, thrownCode([&] {
              fromText(
                  "<AxisHierarchy Hierarchy='[Product]'><ActiveView><MembersetProxy "
                  "Hierarchy='[Measures]'/></ActiveView></AxisHierarchy>");
            }));
  XmlSupport xml;
  xml.parseXML("<AxisHierarchy Hierarchy='[Product]'/>");
  auto h = make("[Product]");
  EXPECT_EQ(support::COMMON_E_RESTORE_WITHOUT_CUBE,
            thrownCode([&] { h->restore(xml.getDocumentElement(), nullptr); }));
  EXPECT_EQ("[Product]", h->getUniqueName().string());

  // The saved GUID and an unresolvable slice: the default member with a repair detail.
  auto restored = fromText(
      "<AxisHierarchy Guid='{00000000-0000-0000-0000-0000000000AB}' Hierarchy='[Product]' "
      "ActiveSlice='[Product].[Gone]'/>");
  ASSERT_TRUE(restored);
  EXPECT_EQ(1u, restored->getRepairDetails().size());
  EXPECT_TRUE(restored->activeSliceIsDefault());
  EXPECT_NE(std::string::npos,
            persisted(*restored).find("Guid=\"{00000000-0000-0000-0000-0000000000AB}\""));
}

TEST_F(AxisHierarchyTest, DeferredReleaseReentersTheListenerMutex) {
  auto h = make("[Product]");
  CallLog keeps, leaves;
  leaves.leaveFrom = h.get();
  h->addListener(&keeps);
  h->addListener(&leaves);
  h->addListener(&keeps);
  // The test still holds the axis hierarchy: it is not released.
  EXPECT_FALSE(h->memberSetInactivated());
  EXPECT_EQ("ii", keeps.calls);
  EXPECT_EQ("i", leaves.calls);
  h->removeListener(&keeps);

  // Held only by the listener that lets go: alive until the finish call releases it.
  AxisHierarchyCommon* raw = h.get();
  CallLog owner;
  owner.leaveFrom = raw;
  owner.holder = std::move(h);
  raw->addListener(&owner);
  const int64_t live = support::liveObjectCount("AxisHierarchyCommon");
  EXPECT_TRUE(raw->memberInactivated());
  EXPECT_EQ(live, support::liveObjectCount("AxisHierarchyCommon"));
  raw->memberListenerFinish();
  EXPECT_EQ(live - 1, support::liveObjectCount("AxisHierarchyCommon"));
}

}  // namespace
