#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSetProxy.h"
#include "VtqTest.h"
#include "ViewTesting.h"
#include "common/CreationRecord.h"
#include "provider/memory/MemoryCube.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/XmlSupport.h"

using common::CreationRecord;
using NUVA_o::MemberSet;
using NUVA_o::MemberSetProxy;
using vtq_testing::members;

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

// Calendar: All, Year {2023, 2024}, Month {Dec, Jan, Feb} with the properties Colour, Size and
// Weight; Product: All, Category {Bikes}.
memory::MemoryCube* buildCube() {
  memory::CubeBuilder b("Proxy");
  b.addDimension("Time");
  b.addHierarchy("Time", "Calendar", {"Year", "Month"});
  b.addDimension("Product");
  b.addHierarchy("Product", "Product", {"Category"});
  for (const char* property : {"Colour", "Size", "Weight"})
    b.addLevelProperty("[Time].[Calendar].[Month]", property);
  b.addPath("[Time].[Calendar]", "2023-12", {"2023", "Dec"});
  b.addPath("[Time].[Calendar]", "2024-01", {"2024", "Jan"});
  b.addPath("[Time].[Calendar]", "2024-02", {"2024", "Feb"});
  b.addPath("[Product]", "road", {"Bikes"});
  b.addMeasure("Sales");
  return b.build();
}

const char* const kHierarchy = "[Time].[Calendar]";
const char* const kYears = "[Time].[Calendar].[2023], [Time].[Calendar].[2024]";
const char* const kMonths =
    "[Time].[Calendar].[2023].[Dec], [Time].[Calendar].[2024].[Jan], [Time].[Calendar].[2024].[Feb]";

// The member set proxy on the in-memory provider: the cube counts the sets it makes, which
// shows when the proxy went to the provider.
class MemberSetProxyTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(buildCube());
    m_pHierarchy.reset(m_pCube->getHierarchyByUniqueName(kHierarchy));
    ASSERT_TRUE(m_pHierarchy);
    m_pHierarchy->getMemberProperties(m_Properties);
    ASSERT_EQ(3u, m_Properties.size());
  }
  void TearDown() override {
    m_Properties.clear();
    m_pHierarchy.reset();
    m_pCube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<MemberSetProxy> proxy(int32_t level, NUVA_o::CreateSetAs kind,
                                   const TOVAString& expression = TOVAString()) {
    return auto_unuse<MemberSetProxy>(new MemberSetProxy(
        m_pHierarchy.get(), CreationRecord(kHierarchy, level, kind, expression, "MDX")));
  }

  uint64_t created() const { return m_pCube->getMemberSetsCreated(); }
  NUVA_o::MemberProperty* property(size_t i) const { return m_Properties[i]; }

  static std::string properties(const MemberSet& set) {
    std::string out;
    for (NUVA_o::QueryProperty id : *set.getQueryPropertySet())
      out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
  }

  // "Colour,Size": the member properties of a set, without their level.
  static std::string memberProperties(const MemberSet& set) {
    std::string out;
    for (NUVA_o::MemberProperty* p : set.getMemberProperties()) {
      const std::string name = p->getUniqueName().string();
      out += (out.empty() ? "" : ",") + name.substr(name.rfind('[') + 1, name.size() - name.rfind('[') - 2);
    }
    return out;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
  auto_unuse<NUVA_o::Hierarchy> m_pHierarchy;
  std::vector<NUVA_o::MemberProperty*> m_Properties;
};

TEST_F(MemberSetProxyTest, TheProviderSetIsMadeOnceWhenFirstNeededFromTheRecord) {
  const uint64_t before = created();
  auto_unuse<MemberSetProxy> years = proxy(1, NUVA_o::CS_CREATEALL);
  // Until then the proxy answers from its record and its defaults.
  EXPECT_EQ(0, years->getMemberSetOrder());
  EXPECT_TRUE(years->isRestricted());
  EXPECT_EQ(1, years->getLevelIndex());
  EXPECT_EQ(4, years->getSizeHint());
  EXPECT_EQ(1, years->getDepthHint());
  EXPECT_EQ(m_pHierarchy.get(), years->getHierarchy());
  EXPECT_TRUE(years->getName().empty());
  years->setServerOption(1);
  years->setServerValue(2);
  EXPECT_EQ(38u, years->getGuid().length());
  EXPECT_EQ(u'{', years->getGuid()[0]);
  auto_unuse<MemberSetProxy> empty = proxy(-1, NUVA_o::CS_CREATEEMPTY);
  EXPECT_EQ(0, empty->getServerCount());
  EXPECT_NE(years->getGuid(), empty->getGuid());
  EXPECT_FALSE(years->isCreated());
  EXPECT_EQ(before, created());

  EXPECT_EQ(2, years->getServerCount());
  EXPECT_EQ(2, years->getServerCount());
  EXPECT_EQ(before + 1, created());
  EXPECT_EQ(2, years->getSizeHint());
  EXPECT_EQ("{" + std::string(kYears) + "}", years->getServerText().string());

  // The record decides how: by hierarchy, by level, or from an expression.
  auto_unuse<MemberSetProxy> all = proxy(-1, NUVA_o::CS_CREATEALL);
  auto_unuse<MemberSetProxy> months = proxy(2, NUVA_o::CS_CREATEALL);
  auto_unuse<MemberSetProxy> byExpression =
      proxy(2, NUVA_o::CS_CREATEFROMEXPRESSION, "{[Time].[Calendar].[2024]}");
  EXPECT_EQ(6, all->getServerCount());
  EXPECT_EQ(kMonths, members(months.get()));
  byExpression->executeOnServer();
  EXPECT_EQ("[Time].[Calendar].[2024]", members(byExpression.get()));
  EXPECT_EQ(before + 4, created());
}

TEST_F(MemberSetProxyTest, AFailedCreationLeavesTheProxyAsItWas) {
  // A level the hierarchy does not have (a record from an older document).
  auto_unuse<MemberSetProxy> p = proxy(7, NUVA_o::CS_CREATEALL);
  p->addQueryProperty(NUVA_o::IS_DRILLED);
  EXPECT_THROW(p->getServerMemberSet(), olap_api::InvalidArgumentException);
  EXPECT_FALSE(p->isCreated());
  EXPECT_EQ("10", properties(*p));

  // The provider refuses the expression: its exception reaches the caller.
  auto_unuse<MemberSetProxy> bad = proxy(-1, NUVA_o::CS_CREATEFROMEXPRESSION, "{[Nowhere]");
  RecordingListener listener;
  bad->addMemberSetListener(&listener);
  EXPECT_THROW(bad->executeOnServer(), olap_api::InvalidExpressionException);
  EXPECT_FALSE(bad->isCreated());

  // A proxy without a hierarchy cannot be created but answers what it recorded.
  auto_unuse<MemberSetProxy> orphan(
      new MemberSetProxy(nullptr, CreationRecord("H", -1, NUVA_o::CS_CREATEALL)));
  EXPECT_EQ(nullptr, orphan->getHierarchy());
  EXPECT_THROW(orphan->getServerMemberSet(), olap_api::InvalidPointerException);
}

TEST_F(MemberSetProxyTest, TheRestrictedFlagFollowsUnrestricted) {
  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  p->addQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_FALSE(p->isRestricted());
  p->removeQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_TRUE(p->isRestricted());
  p->setRestricted(false);
  EXPECT_TRUE(p->hasQueryProperty(NUVA_o::UNRESTRICTED));
  p->addQueryProperty(NUVA_o::IS_RANKED);
  p->clearQueryProperties();
  EXPECT_TRUE(p->isRestricted());
  p->setRestricted(false);
  p->setRestricted(true);
  // Removing what is absent changes nothing; identifiers outside the table are refused.
  p->removeQueryProperty(NUVA_o::IS_FILTERED);
  p->removeQueryProperty(99);
  EXPECT_FALSE(p->hasQueryProperty(-4));
  EXPECT_THROW(p->addQueryProperty(18), olap_api::InvalidArgumentException);
  EXPECT_THROW(p->addQueryProperty(-1), olap_api::InvalidArgumentException);
  EXPECT_EQ("", properties(*p));
  EXPECT_FALSE(p->isCreated());
}

// Everything recorded before creation reaches the provider's set, and the proxy keeps its own
// GUID.
TEST_F(MemberSetProxyTest, SettingsMadeBeforeCreationReachTheProviderSet) {
  auto_unuse<MemberSetProxy> p = proxy(1, NUVA_o::CS_CREATEALL);
  RecordingListener first, second, dropped;
  const TOVAString guid = p->getGuid();
  p->setName("Sales regions");
  p->addQueryProperty(NUVA_o::USE_CHUNKING);
  p->addQueryProperty(NUVA_o::IS_FILTERED);
  p->setRestricted(false);
  p->addMemberProperty(property(1));
  p->addMemberProperty(property(0));
  p->addMemberSetListener(&first);
  p->addMemberSetListener(&dropped);
  p->addMemberSetListener(&second);
  p->removeMemberSetListener(&dropped);
  p->setMemberSetOrder(7);
  p->setGuid("{00000000-0000-0000-0000-000000000000}");
  // The count of a property shared with the cube: the proxy holds one reference now.
  property(0)->use();
  const uint32_t held = property(0)->unuse();

  MemberSet* server = p->getServerMemberSet();
  ASSERT_NE(nullptr, server);
  EXPECT_NE(static_cast<MemberSet*>(p.get()), server);
  EXPECT_EQ("Sales regions", server->getName().string());
  EXPECT_EQ("0,15,16", properties(*server));
  EXPECT_FALSE(server->isRestricted());
  EXPECT_EQ("Size,Colour", memberProperties(*server));
  EXPECT_EQ(7, server->getMemberSetOrder());
  EXPECT_EQ(guid, server->getGuid());
  p->setGuid("{11111111-1111-1111-1111-111111111111}");
  EXPECT_EQ(guid, p->getGuid());
  EXPECT_EQ(guid, server->getGuid());
  // The proxy let go of its copy: the server set's reference replaces it (the set also holds
  // the cube through its hierarchy, whose count the property shares).
  property(0)->use();
  EXPECT_EQ(held + 1, property(0)->unuse());

  // The listeners were handed over (the dropped one not): a command reaches them.
  auto_unuse<NUVA_o::MemberSetCommand> command(p->createCommand());
  ASSERT_TRUE(command);
  command->addMember("[Time].[Calendar].[2024]");
  command->execute();
  EXPECT_EQ("pre;changed;", first.m_Events);
  EXPECT_EQ("pre;changed;", second.m_Events);
  EXPECT_EQ("", dropped.m_Events);
  p->removeMemberSetListener(&first);
  p->removeMemberSetListener(&second);
  EXPECT_EQ(server, p->getServerMemberSet());
}

TEST_F(MemberSetProxyTest, AfterCreationOperationsReachTheProviderSet) {
  auto_unuse<MemberSetProxy> p = proxy(2, NUVA_o::CS_CREATEALL);
  p->query(nullptr);
  MemberSet* server = p->getServerMemberSet();
  p->setName("n");
  p->addQueryProperty(NUVA_o::IS_RANKED);
  p->addQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_FALSE(server->isRestricted());
  p->clearQueryProperties();
  EXPECT_TRUE(server->isRestricted());
  p->addMemberProperty(property(2));
  EXPECT_EQ("Weight", memberProperties(*server));
  p->removeMemberProperty(property(2));
  p->addMemberProperty(property(1));
  p->clearMemberProperties();
  p->setMemberSetOrder(3);
  p->setRestricted(false);
  EXPECT_EQ("16", properties(*server));
  EXPECT_EQ("n", server->getName().string());
  EXPECT_EQ("", memberProperties(*server));
  EXPECT_EQ(3, server->getMemberSetOrder());
  EXPECT_EQ(3, p->getServerCount());
  p->makeEmpty();
  EXPECT_EQ(0, server->getServerCount());
}

TEST_F(MemberSetProxyTest, MemberPropertiesAreHeldUntilRemoved) {
  // Another cube's property of the same unique name.
  auto_unuse<memory::MemoryCube> other(buildCube());
  std::vector<NUVA_o::MemberProperty*> others;
  auto_unuse<NUVA_o::Hierarchy>(other->getHierarchyByUniqueName(kHierarchy))
      ->getMemberProperties(others);
  NUVA_o::MemberProperty* sameName = others[0];

  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  p->addMemberProperty(property(0));
  p->addMemberProperty(property(1));
  p->addMemberProperty(property(0));
  EXPECT_EQ("Colour,Size,Colour", memberProperties(*p));
  // Removal goes by unique name and takes the first match only.
  p->removeMemberProperty(sameName);
  EXPECT_EQ("Size,Colour", memberProperties(*p));
  p->removeMemberProperty(property(2));
  EXPECT_EQ("Size,Colour", memberProperties(*p));
  EXPECT_THROW(p->addMemberProperty(nullptr), olap_api::InvalidArgumentException);
  EXPECT_THROW(p->removeMemberProperty(nullptr), olap_api::InvalidArgumentException);
  p->clearMemberProperties();
  EXPECT_EQ("", memberProperties(*p));
  // The proxy holds the other cube alive through its property until the proxy goes.
  p->addMemberProperty(sameName);
  other.reset();
  EXPECT_EQ("Colour", memberProperties(*p));
}

TEST_F(MemberSetProxyTest, AssignTakesOverTheOtherSetThroughAHistoricalReference) {
  const uint64_t before = created();
  auto_unuse<MemberSetProxy> source = proxy(1, NUVA_o::CS_CREATEALL);
  source->addQueryProperty(NUVA_o::IS_NULL_FILTERED);
  source->addQueryProperty(NUVA_o::UNRESTRICTED);
  source->addMemberProperty(property(2));
  source->setMemberSetOrder(3);

  auto_unuse<MemberSetProxy> target = proxy(-1, NUVA_o::CS_CREATEBASE);
  target->addMemberProperty(property(0));
  target->assign(source.get());
  EXPECT_EQ(NUVA_o::CS_CREATEEMPTY, target->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ("5,16", properties(*target));
  EXPECT_EQ("Weight", memberProperties(*target));
  EXPECT_FALSE(target->isRestricted());
  EXPECT_EQ(3, target->getMemberSetOrder());

  // The reference is kept and handed out again rather than rebuilt.
  auto_unuse<MemberSet::HistoricalReference> reference(target->getHistoricalReference());
  auto_unuse<MemberSet::HistoricalReference> again(target->getHistoricalReference());
  EXPECT_EQ(reference.get(), again.get());
  EXPECT_NE(source->getGuid(), reference->getGuid());
  again.reset();
  // Removing an absent property does nothing; nothing was made so far.
  target->removeQueryProperty(NUVA_o::IS_FILTERED);
  EXPECT_EQ(before, created());

  // Assigned sets are not empty: counting them makes the set, which takes over the members
  // and keeps the settings taken from the source (replayed after the members).
  EXPECT_EQ(2, target->getServerCount());
  MemberSet* server = target->getServerMemberSet();
  EXPECT_EQ(kYears, members(server));
  EXPECT_EQ("5,16", properties(*server));
  EXPECT_EQ("Weight", memberProperties(*server));
  EXPECT_FALSE(server->isRestricted());
  EXPECT_EQ(3, server->getMemberSetOrder());
  EXPECT_FALSE(source->isCreated());

  // The reference persists the recipe it stands for; it cannot be restored.
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Reference");
  reference->persist(xml, root);
  EXPECT_EQ("CreateAll", XmlSupport::getAttribute(root, "CreatedAs").string());
  EXPECT_EQ(1, XmlSupport::getNumberAttribute(root, "LevelIndex"));
  const uint64_t failures = support_dll::assertionFailureCount();
  reference->restore(root, nullptr);
  EXPECT_EQ(failures + 1, support_dll::assertionFailureCount());
  EXPECT_THROW(target->assign(nullptr), olap_api::InvalidArgumentException);
}

TEST_F(MemberSetProxyTest, AssignFromACreatedSetMakeEmptyAndSelfAssign) {
  auto_unuse<MemberSetProxy> source = proxy(2, NUVA_o::CS_CREATEALL);
  source->getServerMemberSet();
  auto_unuse<MemberSetProxy> target = proxy(-1, NUVA_o::CS_CREATEALL);
  target->assign(source.get());
  target->makeEmpty();  // forgets the reference: the set is empty again
  const uint64_t before = created();
  EXPECT_EQ(0, target->getServerCount());
  EXPECT_EQ(before, created());

  // With a reference, removing a present property makes the set first.
  auto_unuse<MemberSetProxy> other = proxy(-1, NUVA_o::CS_CREATEALL);
  other->assign(source.get());
  other->addQueryProperty(NUVA_o::IS_FILTERED);
  other->removeQueryProperty(NUVA_o::IS_FILTERED);
  EXPECT_TRUE(other->isCreated());
  EXPECT_EQ("", properties(*other->getServerMemberSet()));
  EXPECT_EQ(kMonths, members(other.get()));

  // Assigning a set to itself keeps its settings intact.
  auto_unuse<MemberSetProxy> self = proxy(1, NUVA_o::CS_CREATEALL);
  self->addMemberProperty(property(1));
  self->addQueryProperty(NUVA_o::IS_RANKED);
  self->assign(self.get());
  EXPECT_EQ("Size", memberProperties(*self));
  EXPECT_EQ("1", properties(*self));
  EXPECT_EQ(2, self->getServerCount());
}

// ---- persistence ----------------------------------------------------------------------------

class MemberSetProxyXmlTest : public MemberSetProxyTest {
 protected:
  // The document that `set` writes under an "AxisHierarchy" element.
  static std::string persisted(const MemberSet& set) {
    XmlSupport xml;
    set.persist(xml, xml.addAChild(nullptr, "AxisHierarchy"));
    return xml.getXml().string();
  }

  // Restores the first "MembersetProxy" (or `tag`) element of `text` with createFromXML.
  auto_unuse<MemberSet> restored(const std::string& text, const char* tag = "MembersetProxy") {
    XmlSupport xml;
    EXPECT_TRUE(xml.parseXML(text)) << xml.getParseError().string();
    DOMNodeList* list = xml.getElementsByTagName(tag);
    EXPECT_EQ(1u, list->getLength());
    return auto_unuse<MemberSet>(MemberSetProxy::createFromXML(
        static_cast<DOMElement*>(list->item(0)), m_pHierarchy.get()));
  }
};

TEST_F(MemberSetProxyXmlTest, AnUncreatedProxyWritesItsRecipeAndSettings) {
  auto_unuse<MemberSetProxy> p = proxy(1, NUVA_o::CS_CREATEALL);
  EXPECT_EQ(
      "<AxisHierarchy><MembersetProxy CreatedAs=\"CreateAll\" Hierarchy=\"[Time].[Calendar]\" "
      "LevelIndex=\"1\" MemberSetOrder=\"0\"><QueryProperties/><MemberProperties/>"
      "</MembersetProxy></AxisHierarchy>",
      persisted(*p));

  p->addQueryProperty(NUVA_o::USE_CHUNKING);
  p->addQueryProperty(NUVA_o::IS_FILTERED);
  p->addMemberProperty(property(2));
  p->addMemberProperty(property(0));
  p->setMemberSetOrder(-4);
  EXPECT_EQ(
      "<AxisHierarchy><MembersetProxy CreatedAs=\"CreateAll\" Hierarchy=\"[Time].[Calendar]\" "
      "LevelIndex=\"1\" MemberSetOrder=\"-4\"><QueryProperties><QueryProperty "
      "Name=\"IS_FILTERED\"/><QueryProperty Name=\"USE_CHUNKING\"/></QueryProperties>"
      "<MemberProperties><MemberProperty UniqueName=\"[Time].[Calendar].[Month].[Weight]\"/>"
      "<MemberProperty UniqueName=\"[Time].[Calendar].[Month].[Colour]\"/></MemberProperties>"
      "</MembersetProxy></AxisHierarchy>",
      persisted(*p));
  EXPECT_FALSE(p->isCreated());
}

TEST_F(MemberSetProxyXmlTest, PersistAndCreateFromXMLGiveTheSameSetBack) {
  auto_unuse<MemberSetProxy> p = proxy(2, NUVA_o::CS_CREATEBASE);
  p->addQueryProperty(NUVA_o::IS_SUBTOTAL);
  p->setRestricted(false);
  p->addMemberProperty(property(1));
  p->addMemberProperty(property(0));
  p->setMemberSetOrder(12);
  auto_unuse<MemberSet> copy = restored(persisted(*p));
  EXPECT_EQ("13,16", properties(*copy));
  EXPECT_FALSE(copy->isRestricted());
  EXPECT_EQ("Size,Colour", memberProperties(*copy));
  EXPECT_EQ(12, copy->getMemberSetOrder());
  EXPECT_EQ(2, copy->getLevelIndex());
  EXPECT_EQ(NUVA_o::CS_CREATEBASE, copy->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ(m_pHierarchy.get(), copy->getHierarchy());
  EXPECT_NE(p->getGuid(), copy->getGuid());
  EXPECT_FALSE(static_cast<MemberSetProxy*>(copy.get())->isCreated());
  EXPECT_EQ(persisted(*p), persisted(*copy));

  // A created proxy writes the record and the provider's element, and comes back created
  // with the same members, even after a command changed them.
  auto_unuse<NUVA_o::MemberSetCommand> command(p->createCommand());
  command->makeEmpty();
  command->addMember("[Time].[Calendar].[2024].[Feb]");
  command->execute();
  const std::string text = persisted(*p);
  EXPECT_NE(std::string::npos, text.find("<MembersetProxy CreatedAs=\"CreateBase\" "
                                         "Hierarchy=\"[Time].[Calendar]\" LevelIndex=\"2\"><Memberset"))
      << text;
  auto_unuse<MemberSet> created = restored(text);
  EXPECT_TRUE(static_cast<MemberSetProxy*>(created.get())->isCreated());
  EXPECT_EQ("[Time].[Calendar].[2024].[Feb]", members(created.get()));
  EXPECT_EQ(12, created->getMemberSetOrder());

  // A provider's element on its own is taken as the server set.
  auto_unuse<MemberSet> bare = restored(text, "Memberset");
  EXPECT_EQ("[Time].[Calendar].[2024].[Feb]", members(bare.get()));

  // A proxy assigned from another set makes its set before it writes, with the members.
  auto_unuse<MemberSetProxy> assigned = proxy(1, NUVA_o::CS_CREATEALL);
  assigned->assign(p.get());
  auto_unuse<MemberSet> assignedCopy = restored(persisted(*assigned));
  EXPECT_TRUE(assigned->isCreated());
  EXPECT_EQ("[Time].[Calendar].[2024].[Feb]", members(assignedCopy.get()));
}

TEST_F(MemberSetProxyXmlTest, UnknownMemberPropertiesAreDroppedAndLogged) {
  support_dll::CapturingSink& log = captureLog(5);
  auto_unuse<MemberSet> p = restored(
      "<MembersetProxy Hierarchy='[Time].[Calendar]' CreatedAs='CreateAll' LevelIndex='0'>"
      "<MemberProperties><MemberProperty UniqueName='[Time].[Calendar].[Month].[Weight]'/>"
      "<MemberProperty UniqueName='[P].[Gone]'/><MemberProperty/>"
      "<MemberProperty UniqueName='[Time].[Calendar].[Month].[Colour]'/></MemberProperties>"
      "</MembersetProxy>");
  EXPECT_EQ("Weight,Colour", memberProperties(*p));
  std::vector<std::string> lines;
  for (const support_dll::LogRecord& record : log.records()) {
    if (record.function != "NUVA_o::MemberSetProxy::restore") continue;
    EXPECT_EQ(support::COMMON_LOG_LINE, record.messageId);
    EXPECT_EQ(support_dll::CoreLog::getUnitString("COMMONMODULE", ""), record.unit);
    lines.push_back(std::to_string(record.verbosity) + " " + record.text.string());
  }
  const std::string prefix = "MemberSetProxy[0]::restore: ";
  EXPECT_EQ((std::vector<std::string>{
                "5 " + prefix + "Successfully restored Member Property [Time].[Calendar].[Month].[Weight]",
                "4 " + prefix + "Unable to locate Member Property [P].[Gone]. The Property will be removed",
                "4 " + prefix + "Unable to locate Member Property . The Property will be removed",
                "5 " + prefix + "Successfully restored Member Property [Time].[Calendar].[Month].[Colour]"}),
            lines);
}

TEST_F(MemberSetProxyXmlTest, DamagedElementsRestoreWhatTheyCan) {
  // No attributes at all inside an axis hierarchy: the hierarchy comes from the parent, the
  // rest keeps the defaults.
  auto_unuse<MemberSet> bare = restored(
      "<AxisHierarchy Hierarchy='[Time].[Calendar]'><MembersetProxy/></AxisHierarchy>");
  EXPECT_EQ(NUVA_o::CS_CREATEEMPTY, bare->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ(-1, bare->getLevelIndex());
  EXPECT_EQ(0, bare->getMemberSetOrder());
  EXPECT_TRUE(bare->isRestricted());
  EXPECT_EQ(0, bare->getServerCount());

  // Unknown attributes, children and names are ignored; a bad order reads as 0.
  const uint64_t before = support_dll::assertionFailureCount();
  auto_unuse<MemberSet> odd = restored(
      "<MembersetProxy Hierarchy='[Time].[Calendar]' CreatedAs='CreateEverything' Colour='x' "
      "LevelIndex='1' MemberSetOrder='seven'><Extra/><QueryProperties><QueryProperty "
      "Name='UNRESTRICTED'/><QueryProperty Name='NOT_A_PROPERTY'/></QueryProperties>"
      "</MembersetProxy>");
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
  EXPECT_EQ(NUVA_o::CS_CREATEEMPTY, odd->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ("16", properties(*odd));
  EXPECT_FALSE(odd->isRestricted());
  EXPECT_EQ(0, odd->getMemberSetOrder());
  EXPECT_EQ("", memberProperties(*odd));

  // Another hierarchy's set is refused with both names.
  try {
    restored("<MembersetProxy Hierarchy='[Product]' CreatedAs='CreateAll' LevelIndex='0'/>");
    ADD_FAILURE() << "no exception";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(support::COMMON_E_FOREIGN_MEMBER_SET, e.getCode());
    EXPECT_EQ((std::vector<TOVAString>{"[Product]", "[Time].[Calendar]"}), e.getInserts());
  }
  // A set saved as members has no recipe, so it names no hierarchy.
  EXPECT_THROW(restored("<MembersetProxy SaveMode='Members' Hierarchy='[Time].[Calendar]'/>"),
               olap_api::InvalidArgumentException);
  // A provider element the provider cannot read: its exception, nothing left alive.
  EXPECT_THROW(restored("<MembersetProxy Hierarchy='[Time].[Calendar]'><Memberset><Members>"
                        "<Member UniqueName='[Time].[Calendar].[1999]'/></Members></Memberset>"
                        "</MembersetProxy>"),
               olap_api::InvalidXMLException);
  EXPECT_THROW(restored("<AxisHierarchy Hierarchy='[Time].[Calendar]'><Other/></AxisHierarchy>",
                        "Other"),
               olap_api::InvalidXMLException);

  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "MembersetProxy");
  EXPECT_THROW(MemberSetProxy::createFromXML(nullptr, m_pHierarchy.get()),
               olap_api::InvalidArgumentException);
  EXPECT_THROW(MemberSetProxy::createFromXML(root, nullptr), olap_api::InvalidArgumentException);
}

TEST_F(MemberSetProxyXmlTest, RestoreHandsEarlierListenersToTheRestoredSet) {
  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  RecordingListener listener;
  p->addMemberSetListener(&listener);
  XmlSupport xml;
  ASSERT_TRUE(xml.parseXML("<MembersetProxy><Memberset><Members>"
                           "<Member UniqueName='[Time].[Calendar].[2023]'/></Members>"
                           "</Memberset></MembersetProxy>"));
  p->restore(xml.getDocumentElement(), nullptr);
  ASSERT_TRUE(p->isCreated());
  EXPECT_EQ("[Time].[Calendar].[2023]", members(p.get()));
  auto_unuse<NUVA_o::MemberSetCommand> command(p->createCommand());
  command->addMember("[Time].[Calendar].[2024]");
  command->execute();
  EXPECT_EQ("pre;changed;", listener.m_Events);
  // A created proxy keeps its set: a second restore is reported and ignored.
  const uint64_t before = support_dll::assertionFailureCount();
  p->restore(xml.getDocumentElement(), nullptr);
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
  EXPECT_EQ("[Time].[Calendar].[2023], [Time].[Calendar].[2024]", members(p.get()));
  p->removeMemberSetListener(&listener);
}

TEST_F(MemberSetProxyXmlTest, DamagedDocumentsNeverCrashOrLeak) {
  const std::string good =
      "<AxisHierarchy Hierarchy='[Time].[Calendar]'><MembersetProxy Hierarchy='[Time].[Calendar]' "
      "CreatedAs='CreateFromExpression' Expression='{a}' Expression_Language='MDX' "
      "LevelIndex='1' MemberSetOrder='2'><QueryProperties><QueryProperty Name='IS_RANKED'/>"
      "</QueryProperties><MemberProperties><MemberProperty "
      "UniqueName='[Time].[Calendar].[Month].[Size]'/></MemberProperties><Memberset><Members>"
      "<Member UniqueName='[Time].[Calendar].[2024]'/></Members></Memberset></MembersetProxy>"
      "</AxisHierarchy>";
  std::mt19937 random(20240611);
  int parsed = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text = good;
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const size_t at = random() % text.size();
      switch (random() % 3) {
        case 0: text.erase(at, 1 + random() % 12); break;
        case 1: text[at] = "<>/='\"x1-"[random() % 9]; break;
        default: text.insert(at, text.substr(random() % text.size(), random() % 16)); break;
      }
    }
    XmlSupport xml;
    if (!xml.parseXML(text)) continue;
    DOMNodeList* list = xml.getElementsByTagName("MembersetProxy");
    if (!list || list->getLength() == 0) continue;
    ++parsed;
    try {
      auto_unuse<MemberSet> set(MemberSetProxy::createFromXML(
          static_cast<DOMElement*>(list->item(0)), m_pHierarchy.get()));
      XmlSupport out;
      set->persist(out, out.addAChild(nullptr, "Out"));
    } catch (const olap_api::ApiException&) {
    }
  }
  EXPECT_GT(parsed, 20);
}

}  // namespace
