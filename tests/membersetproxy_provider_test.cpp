#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSetProxy.h"
#include "VtqTest.h"
#include "common/CreationRecord.h"
#include "provider/memory/MemoryCube.h"
#include "support/XmlSupport.h"

using common::CreationRecord;
using NUVA_o::MemberSet;
using NUVA_o::MemberSetProxy;

namespace {

// Notes the events a set reports.
class RecordingListener : public MemberSet::MemberSetListener {
 public:
  void preMemberSetCommandExecute(const NUVA_o::MemberSetCommand*) override { m_Events += "pre;"; }
  void memberSetChanged(const NUVA_o::MemberSetCommand*, bool&) override { m_Events += "changed;"; }
  void memberSetDestroyed(const MemberSet*) override { m_Events += "destroyed;"; }
  bool memberSetInactivated() override { return false; }
  void memberSetListenerFinish() override {}
  std::string m_Events;
};

// The member set proxy against the in-memory provider on the bundled sample cube.
class MemberSetProxyProviderTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
    m_pCalendar.reset(m_pCube->getHierarchyByUniqueName("[Time].[Calendar]"));
    ASSERT_TRUE(m_pCalendar);
  }
  void TearDown() override {
    m_pCalendar.reset();
    m_pCube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<MemberSetProxy> proxy(int32_t level, NUVA_o::CreateSetAs kind) {
    return auto_unuse<MemberSetProxy>(new MemberSetProxy(
        m_pCalendar.get(), CreationRecord("[Time].[Calendar]", level, kind)));
  }

  static std::string names(const MemberSet* set) {
    std::string out;
    for (const TOVAString& name : memory::memberUniqueNames(set))
      out += (out.empty() ? "" : ", ") + name.string();
    return out;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
  auto_unuse<NUVA_o::Hierarchy> m_pCalendar;
};

TEST_F(MemberSetProxyProviderTest, TheProviderSetIsMadeOnceWhenFirstNeeded) {
  const uint64_t before = m_pCube->getMemberSetsCreated();
  auto_unuse<MemberSetProxy> years = proxy(1, NUVA_o::CS_CREATEALL);
  auto_unuse<MemberSetProxy> empty = proxy(-1, NUVA_o::CS_CREATEEMPTY);
  years->setName("Years");
  years->addQueryProperty(NUVA_o::IS_RANKED);
  EXPECT_EQ(0, empty->getServerCount());
  EXPECT_EQ(before, m_pCube->getMemberSetsCreated());

  const long yearCount = m_pCalendar->getLevel(1)->getMemberCount();
  EXPECT_GT(yearCount, 0);
  EXPECT_EQ(yearCount, years->getServerCount());
  EXPECT_EQ(before + 1, m_pCube->getMemberSetsCreated());
  EXPECT_EQ(yearCount, years->getServerCount());
  EXPECT_EQ(before + 1, m_pCube->getMemberSetsCreated());
  EXPECT_EQ(0u, names(years.get()).find("[Time].[Calendar].["));
}

TEST_F(MemberSetProxyProviderTest, RecordedSettingsReachTheProviderSet) {
  auto_unuse<MemberSetProxy> months = proxy(3, NUVA_o::CS_CREATEEMPTY);
  RecordingListener listener;
  std::vector<NUVA_o::MemberProperty*> properties;
  m_pCalendar->getMemberProperties(properties);
  const TOVAString guid = months->getGuid();
  months->setName("Months");
  months->addQueryProperty(NUVA_o::USE_CHUNKING);
  months->setRestricted(false);
  for (NUVA_o::MemberProperty* property : properties) months->addMemberProperty(property);
  months->addMemberSetListener(&listener);
  months->setMemberSetOrder(5);

  MemberSet* server = months->getServerMemberSet();
  EXPECT_EQ(guid, server->getGuid());
  EXPECT_EQ(guid, months->getGuid());
  EXPECT_EQ("Months", server->getName().string());
  EXPECT_TRUE(server->hasQueryProperty(NUVA_o::USE_CHUNKING));
  EXPECT_FALSE(server->isRestricted());
  EXPECT_EQ(5, server->getMemberSetOrder());
  EXPECT_EQ(properties.size(), server->getMemberProperties().size());

  // The listener was handed over: a command on the set reaches it.
  auto_unuse<NUVA_o::MemberSetCommand> command(months->createCommand());
  ASSERT_TRUE(command);
  command->addMember("[Time].[Calendar].[2024]");
  command->execute();
  EXPECT_EQ("pre;changed;", listener.m_Events);
  EXPECT_EQ("[Time].[Calendar].[2024]", names(months.get()));
  months->removeMemberSetListener(&listener);
}

TEST_F(MemberSetProxyProviderTest, PersistedProxiesComeBackWithTheSameMembers) {
  auto_unuse<MemberSetProxy> quarters = proxy(2, NUVA_o::CS_CREATEALL);
  auto_unuse<MemberSetProxy> recipe = proxy(2, NUVA_o::CS_CREATEALL);
  recipe->setMemberSetOrder(4);
  const std::string expected = names(quarters.get());  // creates `quarters`

  for (MemberSetProxy* original : {quarters.get(), recipe.get()}) {
    XmlSupport xml;
    original->persist(xml, xml.addAChild(nullptr, "AxisHierarchy"));
    XmlSupport reread;
    ASSERT_TRUE(reread.parseXML(xml.getXml()));
    DOMElement* element =
        XmlSupport::findChild(reread.getDocumentElement(), "MembersetProxy");
    ASSERT_NE(nullptr, element);
    auto_unuse<MemberSet> copy(MemberSetProxy::createFromXML(element, m_pCalendar.get()));
    EXPECT_EQ(expected, names(copy.get()));
    EXPECT_EQ(original->getMemberSetOrder(), copy->getMemberSetOrder());
  }
}

TEST_F(MemberSetProxyProviderTest, AnAssignedProxyTakesOverTheOtherSetsMembers) {
  auto_unuse<MemberSetProxy> source = proxy(2, NUVA_o::CS_CREATEALL);
  auto_unuse<MemberSetProxy> target = proxy(-1, NUVA_o::CS_CREATEEMPTY);
  target->assign(source.get());
  EXPECT_EQ(names(source.get()), names(target.get()));

  // Persisting an assigned, uncreated proxy writes the members it took over.
  auto_unuse<MemberSetProxy> late = proxy(1, NUVA_o::CS_CREATEALL);
  late->assign(source.get());
  XmlSupport xml;
  late->persist(xml, xml.addAChild(nullptr, "AxisHierarchy"));
  EXPECT_TRUE(late->isCreated());
  auto_unuse<MemberSet> copy(MemberSetProxy::createFromXML(
      XmlSupport::findChild(xml.getDocumentElement(), "MembersetProxy"), m_pCalendar.get()));
  EXPECT_EQ(names(source.get()), names(copy.get()));
}

}  // namespace
