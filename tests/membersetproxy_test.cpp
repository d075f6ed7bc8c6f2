#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSetProxy.h"
#include "VtqTest.h"
#include "common/CreationRecord.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"
#include "support/RefCountImpl.h"
#include "support/XmlSupport.h"

using common::CreationRecord;
using NUVA_o::MemberSet;
using NUVA_o::MemberSetProxy;

namespace {

// What the fake provider was asked, in order.
using Journal = std::vector<std::string>;

std::string text(const TOVAString& s) { return s.string(); }

class FakeMemberProperty : public support::RefCountImpl, public NUVA_o::MemberProperty {
 public:
  explicit FakeMemberProperty(const TOVAString& uniqueName)
      : support::RefCountImpl("FakeMemberProperty", 0), m_UniqueName(uniqueName) {}
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getName() const override { return m_UniqueName; }

 private:
  TOVAString m_UniqueName;
};

class FakeHierarchy;

// A provider set that notes every call it receives in the journal.
class FakeServerSet : public support::RefCountImpl, public MemberSet {
 public:
  FakeServerSet(Journal& journal, NUVA_o::Hierarchy* hierarchy, NUVA_o::CreateSetAs kind,
                int32_t level, long count)
      : support::RefCountImpl("FakeServerSet", 0),
        m_Journal(journal),
        m_pHierarchy(hierarchy),
        m_Record(hierarchy->getUniqueName(), level, kind),
        m_Count(count) {}

  bool m_bFailOnOrder = false;
  std::vector<MemberSetListener*> m_Listeners;

  void note(const std::string& line) { m_Journal.push_back(line); }

  void query(NUVA_o::QueryArgument* argument) override {
    note(argument ? "query(arg)" : "query(null)");
  }
  void persist(XmlSupport& xml, DOMElement* parent) const override {
    DOMElement* element = xml.addAChild(parent, "Memberset");
    XmlSupport::write_to(element, "Count", static_cast<long>(m_Count));
  }
  void restore(DOMElement*, NUVA_o::Cube*) override {}
  void setGuid(const TOVAString& guid) override {
    m_Guid = guid;
    note("setGuid");
  }
  const TOVAString& getGuid() const override { return m_Guid; }
  void setName(const TOVAString& name) override {
    m_Name = name;
    note("setName(" + text(name) + ")");
  }
  const TOVAString& getName() const override { return m_Name; }
  HistoricalReference* getHistoricalReference() const override;
  TOVAString getServerText() const override { return "server text"; }
  void persistCreationRecord(XmlSupport& xml, DOMElement* element) const override {
    m_Record.persist(xml, element);
  }
  void executeOnServer() override { note("executeOnServer"); }
  void addMemberSetListener(MemberSetListener* listener) override {
    m_Listeners.push_back(listener);
    note("addMemberSetListener");
  }
  void removeMemberSetListener(MemberSetListener* listener) override {
    auto it = std::find(m_Listeners.begin(), m_Listeners.end(), listener);
    if (it != m_Listeners.end()) m_Listeners.erase(it);
    note("removeMemberSetListener");
  }
  const CreationRecord& getCreationRecord() const override { return m_Record; }
  MemberSet* getServerMemberSet() const override { return const_cast<FakeServerSet*>(this); }
  void setServerOption(long) override { note("setServerOption"); }
  int32_t getMemberSetOrder() const override { return m_Order; }
  void setMemberSetOrder(int32_t order) override {
    note("setMemberSetOrder(" + std::to_string(order) + ")");
    if (m_bFailOnOrder) support::raise<RunTimeExceptionImpl>("FAKE", support::COMMON_E_RUN_TIME);
    m_Order = order;
  }
  int getSizeHint() const override { return 40; }
  int getDepthHint() const override { return 10; }
  bool isServerFlagA() const override { return true; }
  bool isServerFlagB() const override { return true; }
  void serverOperationA() override { note("serverOperationA"); }
  NUVA_o::MemberSetCommand* createCommand() override {
    note("createCommand");
    return nullptr;
  }
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy; }
  void serverOperationB() override { note("serverOperationB"); }
  void serverOperationC() override { note("serverOperationC"); }
  void serverOperationD() override { note("serverOperationD"); }
  void serverOperationE() override { note("serverOperationE"); }
  int32_t getLevelIndex() const override { return m_Record.m_LevelIndex; }
  void setServerValue(long) override { note("setServerValue"); }
  long getServerCount() const override { return m_Count; }
  bool isRestricted() const override { return m_Properties.count(NUVA_o::UNRESTRICTED) == 0; }
  void setRestricted(bool restricted) override {
    note(std::string("setRestricted(") + (restricted ? "true" : "false") + ")");
    if (restricted)
      m_Properties.erase(NUVA_o::UNRESTRICTED);
    else
      m_Properties.insert(NUVA_o::UNRESTRICTED);
  }
  void serverOperationF() override { note("serverOperationF"); }
  void addQueryProperty(int id) override {
    note("addQueryProperty(" + std::to_string(id) + ")");
    m_Properties.insert(static_cast<NUVA_o::QueryProperty>(id));
  }
  void removeQueryProperty(int id) override {
    note("removeQueryProperty(" + std::to_string(id) + ")");
    m_Properties.erase(static_cast<NUVA_o::QueryProperty>(id));
  }
  bool hasQueryProperty(int id) const override {
    return m_Properties.count(static_cast<NUVA_o::QueryProperty>(id)) != 0;
  }
  const NUVA_o::QueryPropertySet* getQueryPropertySet() const override { return &m_Properties; }
  void clearQueryProperties() override {
    note("clearQueryProperties");
    m_Properties.clear();
  }
  void addMemberProperty(NUVA_o::MemberProperty* property) override {
    note("addMemberProperty(" + text(property->getUniqueName()) + ")");
    m_MemberProperties.push_back(auto_unuse<NUVA_o::MemberProperty>::share(property));
    m_MemberPropertyView.push_back(property);
  }
  void removeMemberProperty(NUVA_o::MemberProperty* property) override {
    note("removeMemberProperty(" + text(property->getUniqueName()) + ")");
  }
  void clearMemberProperties() override {
    note("clearMemberProperties");
    m_MemberPropertyView.clear();
    m_MemberProperties.clear();
  }
  const std::vector<NUVA_o::MemberProperty*>& getMemberProperties() const override {
    return m_MemberPropertyView;
  }
  void makeEmpty() override {
    note("makeEmpty");
    m_Count = 0;
  }
  void assign(const MemberSet* other) override {
    note("assign(" + std::to_string(other->getServerCount()) + ")");
    m_Count = other->getServerCount();
  }

 protected:
  ~FakeServerSet() override = default;

 private:
  Journal& m_Journal;
  NUVA_o::Hierarchy* m_pHierarchy;
  CreationRecord m_Record;
  long m_Count;
  TOVAString m_Guid;
  TOVAString m_Name;
  int32_t m_Order = 0;
  NUVA_o::QueryPropertySetCommon m_Properties;
  std::vector<auto_unuse<NUVA_o::MemberProperty>> m_MemberProperties;
  std::vector<NUVA_o::MemberProperty*> m_MemberPropertyView;
};

// A provider's own historical reference, for sets that were created.
class FakeReference : public support::RefCountImpl, public MemberSet::HistoricalReference {
 public:
  explicit FakeReference(MemberSet* set)
      : support::RefCountImpl("FakeReference", 0), m_pSet(auto_unuse<MemberSet>::share(set)) {}
  void persist(XmlSupport&, DOMElement*) const override {}
  void restore(DOMElement*, NUVA_o::Cube*) override {}
  MemberSet* getMemberSet() override { return m_pSet.get(); }
  const TOVAString& getGuid() const override { return m_pSet->getGuid(); }

 private:
  auto_unuse<MemberSet> m_pSet;
};

MemberSet::HistoricalReference* FakeServerSet::getHistoricalReference() const {
  return new FakeReference(const_cast<FakeServerSet*>(this));
}

class FakeLevel : public support::RefCountImpl, public NUVA_o::Level {
 public:
  FakeLevel(Journal& journal, NUVA_o::Hierarchy* hierarchy, int number)
      : support::RefCountImpl("FakeLevel", 0),
        m_Journal(journal),
        m_pHierarchy(hierarchy),
        m_Number(number) {}
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_Name; }
  MemberSet* createMemberSet(NUVA_o::CreateSetAs kind) const override {
    m_Journal.push_back("level" + std::to_string(m_Number) + ".createMemberSet(" +
                        std::to_string(kind) + ")");
    return new FakeServerSet(m_Journal, m_pHierarchy, kind, m_Number,
                             kind == NUVA_o::CS_CREATEEMPTY ? 0 : 10 * (m_Number + 1));
  }
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy; }
  int getLevelNumber() const override { return m_Number; }
  long getMemberCount() const override { return 10 * (m_Number + 1); }

 private:
  Journal& m_Journal;
  NUVA_o::Hierarchy* m_pHierarchy;
  int m_Number;
  TOVAString m_Name = "level";
};

class FakeHierarchy : public support::RefCountImpl, public NUVA_o::Hierarchy {
 public:
  FakeHierarchy(Journal& journal, const TOVAString& uniqueName)
      : support::RefCountImpl("FakeHierarchy", 0), m_Journal(journal), m_UniqueName(uniqueName) {
    for (int i = 0; i < 3; ++i) m_Levels.emplace_back(new FakeLevel(journal, this, i));
    for (const char* name : {"[P].[Colour]", "[P].[Size]", "[P].[Weight]"})
      m_Properties.emplace_back(new FakeMemberProperty(name));
  }

  NUVA_o::MemberProperty* property(size_t i) const { return m_Properties[i].get(); }

  const TOVAString& getName() const override { return m_UniqueName; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  NUVA_o::Dimension* getDimension() const override { return nullptr; }
  NUVA_o::Level* getLevel(int index) const override {
    return index >= 0 && index < static_cast<int>(m_Levels.size()) ? m_Levels[index].get()
                                                                    : nullptr;
  }
  NUVA_o::Level* getFirstLevel() const override { return m_Levels[0].get(); }
  MemberSet* createMemberSet(NUVA_o::CreateSetAs kind) const override {
    m_Journal.push_back("hierarchy.createMemberSet(" + std::to_string(kind) + ")");
    return new FakeServerSet(m_Journal, const_cast<FakeHierarchy*>(this), kind, -1,
                             kind == NUVA_o::CS_CREATEEMPTY ? 0 : 100);
  }
  MemberSet* createMemberSetFromExpression(const TOVAString& expression,
                                           const TOVAString& language) const override {
    m_Journal.push_back("createMemberSetFromExpression(" + text(expression) + "," +
                        text(language) + ")");
    if (expression == "bad")
      support::raise<InvalidExpressionExceptionImpl>("FAKE", support::COMMON_E_UNKNOWN_NAME);
    return new FakeServerSet(m_Journal, const_cast<FakeHierarchy*>(this),
                             NUVA_o::CS_CREATEFROMEXPRESSION, -1, 2);
  }
  MemberSet* createMemberSetFromXML(DOMElement* element) const override {
    m_Journal.push_back("createMemberSetFromXML(" + text(XmlSupport::getNodeName(element)) + ")");
    if (XmlSupport::getNodeName(element) != "Memberset" || !XmlSupport::hasAttribute(element, "Count"))
      support::raise<InvalidXMLExceptionImpl>("FAKE", support::COMMON_E_INVALID_XML);
    return new FakeServerSet(m_Journal, const_cast<FakeHierarchy*>(this), NUVA_o::CS_CREATEALL, -1,
                             XmlSupport::getNumberAttribute(element, "Count"));
  }
  void getMemberProperties(std::vector<NUVA_o::MemberProperty*>& out) const override {
    m_Journal.push_back("getMemberProperties");
    for (const auto& p : m_Properties) out.push_back(p.get());
  }
  void getCalculations(std::map<TOVAString, NUVA_o::Calculation*>&) const override {}
  NUVA_o::Member* getDefaultMember() const override { return nullptr; }
  NUVA_o::Field* getFieldByName(const TOVAString&) const override { return nullptr; }
  NUVA_o::Field* getCalculatedField(const TOVAString&) const override { return nullptr; }
  NUVA_o::Field* getAttributeField(const TOVAString&) const override { return nullptr; }
  int getLevelCount() const override { return static_cast<int>(m_Levels.size()); }

 private:
  Journal& m_Journal;
  TOVAString m_UniqueName;
  std::vector<auto_unuse<FakeLevel>> m_Levels;
  std::vector<auto_unuse<FakeMemberProperty>> m_Properties;
};

class FakeListener : public MemberSet::MemberSetListener {
 public:
  void preMemberSetCommandExecute(const NUVA_o::MemberSetCommand*) override {}
  void memberSetChanged(const NUVA_o::MemberSetCommand*, bool&) override {}
  void memberSetDestroyed(const MemberSet*) override {}
  bool memberSetInactivated() override { return false; }
  void memberSetListenerFinish() override {}
};

const char* const kHierarchy = "[Time].[Calendar]";

class MemberSetProxyTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pHierarchy.reset(new FakeHierarchy(m_Journal, kHierarchy));
  }
  void TearDown() override {
    m_pHierarchy.reset();
    VtqTest::TearDown();
  }

  auto_unuse<MemberSetProxy> proxy(int32_t level, NUVA_o::CreateSetAs kind,
                                   const TOVAString& expression = TOVAString()) {
    return auto_unuse<MemberSetProxy>(new MemberSetProxy(
        m_pHierarchy.get(), CreationRecord(kHierarchy, level, kind, expression, "MDX")));
  }

  std::string journal() {
    std::string out;
    for (const std::string& line : m_Journal) out += line + "\n";
    m_Journal.clear();
    return out;
  }

  static std::string properties(const MemberSet& set) {
    std::string out;
    for (NUVA_o::QueryProperty id : *set.getQueryPropertySet())
      out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
  }

  static std::string memberProperties(const MemberSet& set) {
    std::string out;
    for (NUVA_o::MemberProperty* p : set.getMemberProperties())
      out += (out.empty() ? "" : ",") + text(p->getUniqueName());
    return out;
  }

  Journal m_Journal;
  auto_unuse<FakeHierarchy> m_pHierarchy;
};

TEST_F(MemberSetProxyTest, ANewProxyAnswersFromItsRecordWithoutTheProvider) {
  auto_unuse<MemberSetProxy> p = proxy(2, NUVA_o::CS_CREATEALL);
  EXPECT_EQ(0, p->getMemberSetOrder());
  EXPECT_TRUE(p->isRestricted());
  EXPECT_EQ(2, p->getLevelIndex());
  EXPECT_EQ(4, p->getSizeHint());
  EXPECT_EQ(1, p->getDepthHint());
  EXPECT_FALSE(p->isServerFlagA());
  EXPECT_FALSE(p->isServerFlagB());
  EXPECT_EQ(m_pHierarchy.get(), p->getHierarchy());
  EXPECT_EQ(NUVA_o::CS_CREATEALL, p->getCreationRecord().m_CreateSetAs);
  EXPECT_TRUE(p->getName().empty());
  p->setServerOption(1);
  p->setServerValue(2);
  EXPECT_EQ(38u, p->getGuid().length());
  EXPECT_EQ(u'{', p->getGuid()[0]);
  EXPECT_FALSE(p->isCreated());

  auto_unuse<MemberSetProxy> empty = proxy(-1, NUVA_o::CS_CREATEEMPTY);
  EXPECT_EQ(0, empty->getServerCount());
  EXPECT_NE(p->getGuid(), empty->getGuid());
  EXPECT_EQ("", journal());
}

TEST_F(MemberSetProxyTest, TheRestrictedFlagFollowsUnrestricted) {
  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  p->addQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_FALSE(p->isRestricted());
  p->removeQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_TRUE(p->isRestricted());
  p->setRestricted(false);
  EXPECT_TRUE(p->hasQueryProperty(NUVA_o::UNRESTRICTED));
  EXPECT_FALSE(p->isRestricted());
  p->addQueryProperty(NUVA_o::IS_RANKED);
  p->clearQueryProperties();
  EXPECT_TRUE(p->isRestricted());
  EXPECT_EQ("", properties(*p));
  p->setRestricted(false);
  p->setRestricted(true);
  EXPECT_EQ("", properties(*p));
  // Removing what is absent changes nothing; identifiers outside the table are refused.
  p->removeQueryProperty(NUVA_o::IS_FILTERED);
  p->removeQueryProperty(99);
  EXPECT_FALSE(p->hasQueryProperty(-4));
  EXPECT_THROW(p->addQueryProperty(18), olap_api::InvalidArgumentException);
  EXPECT_THROW(p->addQueryProperty(-1), olap_api::InvalidArgumentException);
  EXPECT_EQ("", properties(*p));
  EXPECT_EQ("", journal());
}

// The must-show case: everything recorded before creation reaches the provider's set in
// order, and the proxy keeps its own GUID.
TEST_F(MemberSetProxyTest, SettingsMadeBeforeCreationAreReplayedInOrder) {
  auto_unuse<MemberSetProxy> p = proxy(1, NUVA_o::CS_CREATEALL);
  FakeListener first, second, dropped;
  const TOVAString guid = p->getGuid();
  p->setName("Sales regions");
  p->addQueryProperty(NUVA_o::USE_CHUNKING);
  p->addQueryProperty(NUVA_o::IS_FILTERED);
  p->setRestricted(false);
  p->addMemberProperty(m_pHierarchy->property(1));
  p->addMemberProperty(m_pHierarchy->property(0));
  p->addMemberSetListener(&first);
  p->addMemberSetListener(&dropped);
  p->addMemberSetListener(&second);
  p->removeMemberSetListener(&dropped);
  p->setMemberSetOrder(7);
  p->setGuid("{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ("", journal());
  const int32_t propertyCount = static_cast<support::RefCountImpl*>(
      static_cast<FakeMemberProperty*>(m_pHierarchy->property(0)))->getRefCount();

  MemberSet* server = p->getServerMemberSet();
  ASSERT_NE(nullptr, server);
  EXPECT_EQ(
      "level1.createMemberSet(1)\n"
      "setGuid\n"
      "setName(Sales regions)\n"
      "addQueryProperty(0)\n"
      "addQueryProperty(15)\n"
      "addQueryProperty(16)\n"
      "addMemberProperty([P].[Size])\n"
      "addMemberProperty([P].[Colour])\n"
      "addMemberSetListener\n"
      "addMemberSetListener\n"
      "setRestricted(false)\n"
      "setMemberSetOrder(7)\n",
      journal());
  auto* fake = static_cast<FakeServerSet*>(server);
  EXPECT_EQ((std::vector<MemberSet::MemberSetListener*>{&first, &second}), fake->m_Listeners);
  EXPECT_EQ(guid, server->getGuid());
  EXPECT_EQ(guid, p->getGuid());
  p->setGuid("{11111111-1111-1111-1111-111111111111}");
  EXPECT_EQ(guid, p->getGuid());
  EXPECT_EQ(guid, server->getGuid());

  // The proxy let go of its own copies: the property is held by the server set alone now.
  EXPECT_EQ(propertyCount,
            static_cast<support::RefCountImpl*>(
                static_cast<FakeMemberProperty*>(m_pHierarchy->property(0)))->getRefCount());
  EXPECT_EQ("[P].[Size],[P].[Colour]", memberProperties(*p));
  EXPECT_EQ("0,15,16", properties(*p));
  EXPECT_EQ(7, p->getMemberSetOrder());

  // Created once only.
  EXPECT_EQ(server, p->getServerMemberSet());
  EXPECT_EQ(20, p->getServerCount());
  EXPECT_EQ("", journal());
}

TEST_F(MemberSetProxyTest, TheRecordDecidesHowTheProviderMakesTheSet) {
  auto_unuse<MemberSetProxy> byHierarchy = proxy(-1, NUVA_o::CS_CREATEBASE);
  EXPECT_EQ(100, byHierarchy->getServerCount());
  auto_unuse<MemberSetProxy> byExpression =
      proxy(2, NUVA_o::CS_CREATEFROMEXPRESSION, "{[Time].[2024]}");
  byExpression->executeOnServer();
  auto_unuse<MemberSetProxy> byLevel = proxy(0, NUVA_o::CS_CREATEEMPTY);
  EXPECT_EQ(0, byLevel->getServerCount());  // answered without the provider
  byLevel->query(nullptr);
  EXPECT_EQ(
      "hierarchy.createMemberSet(2)\nsetGuid\nsetName()\nsetRestricted(true)\n"
      "setMemberSetOrder(0)\n"
      "createMemberSetFromExpression({[Time].[2024]},MDX)\nsetGuid\nsetName()\n"
      "setRestricted(true)\nsetMemberSetOrder(0)\nexecuteOnServer\n"
      "level0.createMemberSet(8)\nsetGuid\nsetName()\nsetRestricted(true)\n"
      "setMemberSetOrder(0)\nquery(null)\n",
      journal());
}

TEST_F(MemberSetProxyTest, AfterCreationEveryOperationForwards) {
  auto_unuse<MemberSetProxy> p = proxy(0, NUVA_o::CS_CREATEALL);
  FakeListener listener;
  int dummy = 0;
  p->query(reinterpret_cast<NUVA_o::QueryArgument*>(&dummy));  // creates, passes null
  journal();
  EXPECT_EQ(40, p->getSizeHint());
  EXPECT_EQ(10, p->getDepthHint());
  EXPECT_TRUE(p->isServerFlagA());
  EXPECT_TRUE(p->isServerFlagB());
  EXPECT_EQ("server text", text(p->getServerText()));
  p->query(reinterpret_cast<NUVA_o::QueryArgument*>(&dummy));
  p->setName("n");
  p->addQueryProperty(NUVA_o::IS_RANKED);
  p->addQueryProperty(NUVA_o::UNRESTRICTED);
  EXPECT_FALSE(p->isRestricted());
  p->clearQueryProperties();
  EXPECT_TRUE(p->isRestricted());
  p->addMemberSetListener(&listener);
  p->removeMemberSetListener(&listener);
  p->addMemberProperty(m_pHierarchy->property(2));
  p->removeMemberProperty(m_pHierarchy->property(2));
  p->clearMemberProperties();
  p->setMemberSetOrder(3);
  p->setRestricted(false);
  p->removeQueryProperty(NUVA_o::UNRESTRICTED);
  p->setServerOption(1);
  p->setServerValue(1);
  p->serverOperationA();
  p->serverOperationB();
  p->serverOperationC();
  p->serverOperationD();
  p->serverOperationE();
  p->serverOperationF();
  EXPECT_EQ(nullptr, p->createCommand());
  p->makeEmpty();
  EXPECT_EQ(0, p->getServerCount());
  EXPECT_EQ(
      "query(arg)\nsetName(n)\naddQueryProperty(1)\naddQueryProperty(16)\n"
      "clearQueryProperties\naddMemberSetListener\nremoveMemberSetListener\n"
      "addMemberProperty([P].[Weight])\nremoveMemberProperty([P].[Weight])\n"
      "clearMemberProperties\nsetMemberSetOrder(3)\nsetRestricted(false)\n"
      "removeQueryProperty(16)\nsetServerOption\nsetServerValue\nserverOperationA\n"
      "serverOperationB\nserverOperationC\nserverOperationD\nserverOperationE\n"
      "serverOperationF\ncreateCommand\nmakeEmpty\n",
      journal());
  EXPECT_EQ("n", text(p->getName()));
  EXPECT_EQ(3, p->getMemberSetOrder());
}

TEST_F(MemberSetProxyTest, MemberPropertiesAreHeldUntilRemoved) {
  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  auto_unuse<FakeMemberProperty> sameName(new FakeMemberProperty("[P].[Colour]"));
  p->addMemberProperty(m_pHierarchy->property(0));
  p->addMemberProperty(m_pHierarchy->property(1));
  p->addMemberProperty(m_pHierarchy->property(0));
  EXPECT_EQ("[P].[Colour],[P].[Size],[P].[Colour]", memberProperties(*p));
  // Removal goes by unique name and takes the first match only.
  p->removeMemberProperty(sameName.get());
  EXPECT_EQ("[P].[Size],[P].[Colour]", memberProperties(*p));
  p->removeMemberProperty(m_pHierarchy->property(2));
  EXPECT_EQ("[P].[Size],[P].[Colour]", memberProperties(*p));
  EXPECT_THROW(p->addMemberProperty(nullptr), olap_api::InvalidArgumentException);
  EXPECT_THROW(p->removeMemberProperty(nullptr), olap_api::InvalidArgumentException);
  p->clearMemberProperties();
  EXPECT_EQ("", memberProperties(*p));
  p->addMemberProperty(sameName.get());
  // Released with the proxy: the fixture fails on a leak.
}

TEST_F(MemberSetProxyTest, AFailedCreationLeavesTheProxyAsItWas) {
  // A level the hierarchy does not have.
  auto_unuse<MemberSetProxy> p = proxy(7, NUVA_o::CS_CREATEALL);
  FakeListener listener;
  p->addMemberSetListener(&listener);
  p->addQueryProperty(NUVA_o::IS_DRILLED);
  EXPECT_THROW(p->getServerMemberSet(), olap_api::InvalidArgumentException);
  EXPECT_FALSE(p->isCreated());
  EXPECT_EQ("10", properties(*p));

  // The provider refuses the expression: its exception reaches the caller.
  auto_unuse<MemberSetProxy> bad = proxy(-1, NUVA_o::CS_CREATEFROMEXPRESSION, "bad");
  EXPECT_THROW(bad->executeOnServer(), olap_api::InvalidExpressionException);
  EXPECT_FALSE(bad->isCreated());

  // A proxy without a hierarchy cannot be created but answers what it recorded.
  auto_unuse<MemberSetProxy> orphan(new MemberSetProxy(nullptr, CreationRecord("H", -1, NUVA_o::CS_CREATEALL)));
  EXPECT_EQ(nullptr, orphan->getHierarchy());
  EXPECT_THROW(orphan->getServerMemberSet(), olap_api::InvalidPointerException);
  journal();
}

TEST_F(MemberSetProxyTest, AssignTakesOverTheOtherSetThroughAHistoricalReference) {
  auto_unuse<MemberSetProxy> source = proxy(1, NUVA_o::CS_CREATEALL);
  source->addQueryProperty(NUVA_o::IS_NULL_FILTERED);
  source->addQueryProperty(NUVA_o::UNRESTRICTED);
  source->addMemberProperty(m_pHierarchy->property(2));
  source->setMemberSetOrder(3);

  auto_unuse<MemberSetProxy> target = proxy(-1, NUVA_o::CS_CREATEBASE);
  target->addMemberProperty(m_pHierarchy->property(0));
  target->assign(source.get());
  EXPECT_EQ("", journal());
  EXPECT_EQ(NUVA_o::CS_CREATEEMPTY, target->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ("5,16", properties(*target));
  EXPECT_EQ("[P].[Weight]", memberProperties(*target));
  EXPECT_FALSE(target->isRestricted());
  EXPECT_EQ(3, target->getMemberSetOrder());

  // The reference is kept and handed out again rather than rebuilt.
  auto_unuse<MemberSet::HistoricalReference> reference(target->getHistoricalReference());
  auto_unuse<MemberSet::HistoricalReference> again(target->getHistoricalReference());
  EXPECT_EQ(reference.get(), again.get());
  EXPECT_NE(source->getGuid(), reference->getGuid());
  again.reset();

  // Removing an absent property does nothing; a present one needs the members first.
  target->removeQueryProperty(NUVA_o::IS_FILTERED);
  EXPECT_EQ("", journal());

  // Assigned sets are not empty: counting them makes the set and takes over the members.
  EXPECT_EQ(20, target->getServerCount());
  EXPECT_EQ(
      "hierarchy.createMemberSet(8)\nsetGuid\nsetName()\n"
      "level1.createMemberSet(1)\nsetGuid\nsetName()\nsetRestricted(true)\n"
      "setMemberSetOrder(0)\nassign(20)\n"
      "addQueryProperty(5)\naddQueryProperty(16)\naddMemberProperty([P].[Weight])\n"
      "setRestricted(false)\nsetMemberSetOrder(3)\n",
      journal());
  // The source itself was never made.
  EXPECT_FALSE(source->isCreated());

  // The reference persists the recipe it stands for; it cannot be restored.
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Reference");
  reference->persist(xml, root);
  EXPECT_EQ("CreateAll", text(XmlSupport::getAttribute(root, "CreatedAs")));
  EXPECT_EQ(1, XmlSupport::getNumberAttribute(root, "LevelIndex"));
  const uint64_t before = support_dll::assertionFailureCount();
  reference->restore(root, nullptr);
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
  EXPECT_THROW(target->assign(nullptr), olap_api::InvalidArgumentException);
}

TEST_F(MemberSetProxyTest, AssignFromACreatedSetAndMakeEmpty) {
  auto_unuse<MemberSetProxy> source = proxy(2, NUVA_o::CS_CREATEALL);
  source->getServerMemberSet();
  auto_unuse<MemberSetProxy> target = proxy(-1, NUVA_o::CS_CREATEALL);
  target->assign(source.get());
  target->makeEmpty();  // forgets the reference: the set is empty again
  EXPECT_EQ(0, target->getServerCount());
  auto_unuse<MemberSetProxy> other = proxy(-1, NUVA_o::CS_CREATEALL);
  other->assign(source.get());
  other->removeQueryProperty(NUVA_o::IS_FILTERED);
  other->addQueryProperty(NUVA_o::IS_FILTERED);
  journal();
  // With a reference, removing a present property makes the set first.
  other->removeQueryProperty(NUVA_o::IS_FILTERED);
  EXPECT_EQ(
      "hierarchy.createMemberSet(8)\nsetGuid\nsetName()\nassign(30)\naddQueryProperty(0)\n"
      "setRestricted(true)\nsetMemberSetOrder(0)\nremoveQueryProperty(0)\n",
      journal());

  // Assigning a set to itself keeps its settings intact.
  auto_unuse<MemberSetProxy> self = proxy(1, NUVA_o::CS_CREATEALL);
  self->addMemberProperty(m_pHierarchy->property(1));
  self->addQueryProperty(NUVA_o::IS_RANKED);
  self->assign(self.get());
  EXPECT_EQ("[P].[Size]", memberProperties(*self));
  EXPECT_EQ("1", properties(*self));
  EXPECT_EQ(20, self->getServerCount());
  journal();
}

// ---- persistence ----------------------------------------------------------------------------

class MemberSetProxyXmlTest : public MemberSetProxyTest {
 protected:
  // The "MembersetProxy" element that `set` writes, as text.
  std::string persisted(const MemberSet& set) {
    XmlSupport xml;
    DOMElement* root = xml.addAChild(nullptr, "AxisHierarchy");
    set.persist(xml, root);
    DOMElement* element = XmlSupport::findChild(root, "MembersetProxy");
    EXPECT_NE(nullptr, element);
    m_Xml = xml.getXml().string();
    return m_Xml;
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

  std::string m_Xml;
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
  p->addMemberProperty(m_pHierarchy->property(2));
  p->addMemberProperty(m_pHierarchy->property(0));
  p->setMemberSetOrder(-4);
  EXPECT_EQ(
      "<AxisHierarchy><MembersetProxy CreatedAs=\"CreateAll\" Hierarchy=\"[Time].[Calendar]\" "
      "LevelIndex=\"1\" MemberSetOrder=\"-4\"><QueryProperties><QueryProperty "
      "Name=\"IS_FILTERED\"/><QueryProperty Name=\"USE_CHUNKING\"/></QueryProperties>"
      "<MemberProperties><MemberProperty UniqueName=\"[P].[Weight]\"/><MemberProperty "
      "UniqueName=\"[P].[Colour]\"/></MemberProperties></MembersetProxy></AxisHierarchy>",
      persisted(*p));
  EXPECT_EQ("", journal());
}

TEST_F(MemberSetProxyXmlTest, ACreatedProxyWritesTheRecordAndTheProvidersElement) {
  auto_unuse<MemberSetProxy> p = proxy(2, NUVA_o::CS_CREATEALL);
  p->addQueryProperty(NUVA_o::IS_RANKED);
  p->getServerMemberSet();
  EXPECT_EQ(
      "<AxisHierarchy><MembersetProxy CreatedAs=\"CreateAll\" Hierarchy=\"[Time].[Calendar]\" "
      "LevelIndex=\"2\"><Memberset Count=\"30\"/></MembersetProxy></AxisHierarchy>",
      persisted(*p));

  // A proxy assigned from another set makes its set before it writes.
  auto_unuse<MemberSetProxy> assigned = proxy(-1, NUVA_o::CS_CREATEALL);
  assigned->assign(p.get());
  journal();
  EXPECT_EQ(
      "<AxisHierarchy><MembersetProxy CreatedAs=\"CreateEmpty\" Hierarchy=\"[Time].[Calendar]\" "
      "LevelIndex=\"-1\"><Memberset Count=\"30\"/></MembersetProxy></AxisHierarchy>",
      persisted(*assigned));
  EXPECT_TRUE(assigned->isCreated());
  EXPECT_EQ("hierarchy.createMemberSet(8)\nsetGuid\nsetName()\nassign(30)\n"
            "addQueryProperty(1)\nsetRestricted(true)\nsetMemberSetOrder(0)\n",
            journal());
}

TEST_F(MemberSetProxyXmlTest, PersistAndCreateFromXMLGiveTheSameSettings) {
  auto_unuse<MemberSetProxy> p = proxy(2, NUVA_o::CS_CREATEBASE);
  p->addQueryProperty(NUVA_o::IS_SUBTOTAL);
  p->setRestricted(false);
  p->addMemberProperty(m_pHierarchy->property(1));
  p->addMemberProperty(m_pHierarchy->property(0));
  p->setMemberSetOrder(12);
  auto_unuse<MemberSet> copy = restored(persisted(*p));
  EXPECT_EQ("13,16", properties(*copy));
  EXPECT_FALSE(copy->isRestricted());
  EXPECT_EQ("[P].[Size],[P].[Colour]", memberProperties(*copy));
  EXPECT_EQ(12, copy->getMemberSetOrder());
  EXPECT_EQ(2, copy->getLevelIndex());
  EXPECT_EQ(NUVA_o::CS_CREATEBASE, copy->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ(m_pHierarchy.get(), copy->getHierarchy());
  EXPECT_NE(p->getGuid(), copy->getGuid());
  EXPECT_EQ("getMemberProperties\n", journal());
  EXPECT_EQ(persisted(*p), persisted(*copy));

  // A created proxy comes back created, from the provider's element.
  p->getServerMemberSet();
  journal();
  auto_unuse<MemberSet> created = restored(persisted(*p));
  EXPECT_EQ("createMemberSetFromXML(Memberset)\n", journal());
  EXPECT_EQ(30, created->getServerCount());
  EXPECT_TRUE(static_cast<MemberSetProxy*>(created.get())->isCreated());

  // A provider's element on its own is taken as the server set.
  auto_unuse<MemberSet> bare = restored(
      "<AxisHierarchy Hierarchy='[Time].[Calendar]'><Memberset Count='5'/></AxisHierarchy>",
      "Memberset");
  EXPECT_EQ(5, bare->getServerCount());
  EXPECT_EQ("createMemberSetFromXML(Memberset)\n", journal());
}

TEST_F(MemberSetProxyXmlTest, UnknownMemberPropertiesAreDroppedAndLogged) {
  support_dll::CapturingSink& log = captureLog(5);
  auto_unuse<MemberSet> p = restored(
      "<MembersetProxy Hierarchy='[Time].[Calendar]' CreatedAs='CreateAll' LevelIndex='0'>"
      "<MemberProperties><MemberProperty UniqueName='[P].[Weight]'/>"
      "<MemberProperty UniqueName='[P].[Gone]'/><MemberProperty/>"
      "<MemberProperty UniqueName='[P].[Colour]'/></MemberProperties></MembersetProxy>");
  EXPECT_EQ("[P].[Weight],[P].[Colour]", memberProperties(*p));
  std::vector<std::string> lines;
  for (const support_dll::LogRecord& record : log.records()) {
    if (record.function != "NUVA_o::MemberSetProxy::restore") continue;
    EXPECT_EQ(support::COMMON_LOG_LINE, record.messageId);
    EXPECT_EQ(support_dll::CoreLog::getUnitString("COMMONMODULE", ""), record.unit);
    lines.push_back(std::to_string(record.verbosity) + " " + record.text.string());
  }
  EXPECT_EQ((std::vector<std::string>{
                "5 MemberSetProxy[0]::restore: Successfully restored Member Property [P].[Weight]",
                "4 MemberSetProxy[0]::restore: Unable to locate Member Property [P].[Gone]. The "
                "Property will be removed",
                "4 MemberSetProxy[0]::restore: Unable to locate Member Property . The Property "
                "will be removed",
                "5 MemberSetProxy[0]::restore: Successfully restored Member Property [P].[Colour]"}),
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
  EXPECT_THROW(restored("<MembersetProxy Hierarchy='[Time].[Calendar]'><Memberset/>"
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
  journal();
}

TEST_F(MemberSetProxyXmlTest, RestoreHandsEarlierListenersToTheRestoredSet) {
  auto_unuse<MemberSetProxy> p = proxy(-1, NUVA_o::CS_CREATEALL);
  FakeListener listener;
  p->addMemberSetListener(&listener);
  XmlSupport xml;
  ASSERT_TRUE(xml.parseXML("<MembersetProxy><Memberset Count='3'/></MembersetProxy>"));
  p->restore(xml.getDocumentElement(), nullptr);
  ASSERT_TRUE(p->isCreated());
  EXPECT_EQ((std::vector<MemberSet::MemberSetListener*>{&listener}),
            static_cast<FakeServerSet*>(p->getServerMemberSet())->m_Listeners);
  EXPECT_EQ(3, p->getServerCount());
  // A created proxy keeps its set: a second restore is reported and ignored.
  const uint64_t before = support_dll::assertionFailureCount();
  p->restore(xml.getDocumentElement(), nullptr);
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
  EXPECT_EQ("createMemberSetFromXML(Memberset)\naddMemberSetListener\n", journal());
}

TEST_F(MemberSetProxyXmlTest, DamagedDocumentsNeverCrashOrLeak) {
  const std::string good =
      "<AxisHierarchy Hierarchy='[Time].[Calendar]'><MembersetProxy Hierarchy='[Time].[Calendar]' "
      "CreatedAs='CreateFromExpression' Expression='{a}' Expression_Language='MDX' "
      "LevelIndex='1' MemberSetOrder='2'><QueryProperties><QueryProperty Name='IS_RANKED'/>"
      "</QueryProperties><MemberProperties><MemberProperty UniqueName='[P].[Size]'/>"
      "</MemberProperties><Memberset Count='4'/></MembersetProxy></AxisHierarchy>";
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
  journal();
}

}  // namespace
