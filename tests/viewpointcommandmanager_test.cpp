#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "VtqTest.h"
#include "common/CreationRecord.h"
#include "common/ViewpointCommandManager.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

using common::ViewpointCommandManager;
using NUVA_o::MemberSet;

namespace {

class FakeMemberSet;

// A snapshot of a set's members, as a provider's historical reference stands for them.
class FakeHistoricalReference : public support::RefCountImpl,
                                public MemberSet::HistoricalReference {
 public:
  explicit FakeHistoricalReference(std::set<std::string> members);
  ~FakeHistoricalReference() override;
  MemberSet* getMemberSet() override;
  const TOVAString& getGuid() const override { return m_Guid; }
  void persist(XmlSupport&, DOMElement*) const override {}
  void restore(DOMElement*, NUVA_o::Cube*) override {}

 private:
  FakeMemberSet* m_pSnapshot;
  TOVAString m_Guid;
};

// A member set of plain names whose commands report themselves to the manager before they run,
// as the view passes on its axis hierarchies' member-set commands.
class FakeMemberSet : public support::RefCountImpl, public MemberSet {
 public:
  FakeMemberSet(ViewpointCommandManager* manager, std::set<std::string> members)
      : RefCountImpl("FakeMemberSet", 0), m_pManager(manager), m_Members(std::move(members)) {}

  ViewpointCommandManager* m_pManager;
  std::set<std::string> m_Members;
  int m_nCommandsRun = 0;

  std::string text() const {
    std::string out;
    for (const auto& m : m_Members) out += (out.empty() ? "" : ",") + m;
    return out;
  }

  HistoricalReference* getHistoricalReference() const override {
    return new FakeHistoricalReference(m_Members);
  }
  NUVA_o::MemberSetCommand* createCommand() override;

  void query(NUVA_o::QueryArgument*) override {}
  void persist(XmlSupport&, DOMElement*) const override {}
  void restore(DOMElement*, NUVA_o::Cube*) override {}
  void setGuid(const TOVAString&) override {}
  const TOVAString& getGuid() const override { return m_Name; }
  void setName(const TOVAString&) override {}
  const TOVAString& getName() const override { return m_Name; }
  TOVAString getServerText() const override { return {}; }
  void persistCreationRecord(XmlSupport&, DOMElement*) const override {}
  void executeOnServer() override {}
  void addMemberSetListener(MemberSetListener*) override {}
  void removeMemberSetListener(MemberSetListener*) override {}
  const common::CreationRecord& getCreationRecord() const override { return m_Record; }
  MemberSet* getServerMemberSet() const override { return const_cast<FakeMemberSet*>(this); }
  void setServerOption(long) override {}
  int32_t getMemberSetOrder() const override { return 0; }
  void setMemberSetOrder(int32_t) override {}
  int getSizeHint() const override { return 0; }
  int getDepthHint() const override { return 0; }
  bool isServerFlagA() const override { return false; }
  bool isServerFlagB() const override { return false; }
  void serverOperationA() override {}
  NUVA_o::Hierarchy* getHierarchy() const override { return nullptr; }
  void serverOperationB() override {}
  void serverOperationC() override {}
  void serverOperationD() override {}
  void serverOperationE() override {}
  int32_t getLevelIndex() const override { return -1; }
  void setServerValue(long) override {}
  long getServerCount() const override { return static_cast<long>(m_Members.size()); }
  bool isRestricted() const override { return false; }
  void setRestricted(bool) override {}
  void serverOperationF() override {}
  void addQueryProperty(int) override {}
  void removeQueryProperty(int) override {}
  bool hasQueryProperty(int) const override { return false; }
  const NUVA_o::QueryPropertySet* getQueryPropertySet() const override { return nullptr; }
  void clearQueryProperties() override {}
  void addMemberProperty(NUVA_o::MemberProperty*) override {}
  void removeMemberProperty(NUVA_o::MemberProperty*) override {}
  void clearMemberProperties() override {}
  const std::vector<NUVA_o::MemberProperty*>& getMemberProperties() const override {
    return m_Properties;
  }
  void makeEmpty() override { m_Members.clear(); }
  void assign(const MemberSet*) override {}

 private:
  TOVAString m_Name;
  common::CreationRecord m_Record{"[Fake]", 0, NUVA_o::CS_CREATEEMPTY};
  std::vector<NUVA_o::MemberProperty*> m_Properties;
};

FakeHistoricalReference::FakeHistoricalReference(std::set<std::string> members)
    : RefCountImpl("FakeHistoricalReference", 0),
      m_pSnapshot(new FakeMemberSet(nullptr, std::move(members))) {}
FakeHistoricalReference::~FakeHistoricalReference() { m_pSnapshot->unuse(); }
MemberSet* FakeHistoricalReference::getMemberSet() { return m_pSnapshot; }

class FakeMemberSetCommand : public support::RefCountImpl, public NUVA_o::MemberSetCommand {
 public:
  explicit FakeMemberSetCommand(FakeMemberSet* set)
      : RefCountImpl("FakeMemberSetCommand", 0),
        m_pSet(auto_unuse<FakeMemberSet>::share(set)) {}

  void makeEmpty() override { m_bEmpty = true; }
  void addMember(const TOVAString& uniqueName) override { m_Add.insert(uniqueName.string()); }
  void addMemberSet(const MemberSet* set) override {
    for (const auto& m : dynamic_cast<const FakeMemberSet*>(set)->m_Members) m_Add.insert(m);
  }
  MemberSet* getCommandMemberSet() const override { return m_pSet.get(); }
  void execute() override {
    if (m_pSet->m_pManager) m_pSet->m_pManager->recordMemberSetCommand(this);
    if (m_bEmpty) m_pSet->m_Members.clear();
    m_pSet->m_Members.insert(m_Add.begin(), m_Add.end());
    ++m_pSet->m_nCommandsRun;
  }
  void undo() override {}

 private:
  auto_unuse<FakeMemberSet> m_pSet;
  bool m_bEmpty = false;
  std::set<std::string> m_Add;
};

NUVA_o::MemberSetCommand* FakeMemberSet::createCommand() { return new FakeMemberSetCommand(this); }

// A view command stand-in: sets a flag, and on request edits the member set while it runs.
class FlagCommand : public support::RefCountImpl, public NUVA_o::Command {
 public:
  FlagCommand(bool& flag, FakeMemberSet* sideEffect)
      : RefCountImpl("FlagCommand", 0), m_Flag(flag), m_pSideEffect(sideEffect) {}
  void execute() override {
    m_Flag = true;
    if (m_pSideEffect) {
      auto_unuse<NUVA_o::MemberSetCommand> edit(m_pSideEffect->createCommand());
      edit->makeEmpty();
      edit->execute();
    }
  }
  void undo() override { m_Flag = false; }

 private:
  bool& m_Flag;
  FakeMemberSet* m_pSideEffect;
};

class ViewpointCommandManagerTest : public vtq_testing::VtqTest {
 protected:
  // A user's edit of the set: replaces its members by `members`.
  static void edit(FakeMemberSet* set, std::initializer_list<const char*> members) {
    auto_unuse<NUVA_o::MemberSetCommand> command(set->createCommand());
    command->makeEmpty();
    for (const char* m : members) command->addMember(m);
    command->execute();
  }
  static size_t undos(const ViewpointCommandManager& m) { return m.getUndoHistory().size(); }
  static size_t redos(const ViewpointCommandManager& m) { return m.getRedoHistory().size(); }
};

TEST_F(ViewpointCommandManagerTest, MemberSetEditsUndoToExactlyWhatTheSetHeldBefore) {
  ViewpointCommandManager manager(10);
  auto_unuse<FakeMemberSet> set(new FakeMemberSet(&manager, {"A", "B"}));
  edit(set.get(), {"X"});
  edit(set.get(), {"X", "Y"});
  EXPECT_EQ("X,Y", set->text());
  EXPECT_EQ(2u, undos(manager));

  ASSERT_TRUE(manager.undo());
  EXPECT_EQ("X", set->text());
  ASSERT_TRUE(manager.undo());
  // Regression: the old members used to be added to the current ones ("A,B,X").
  EXPECT_EQ("A,B", set->text());
  // Regression: the compensating commands were recorded while undo moved the package.
  EXPECT_EQ(0u, undos(manager));
  EXPECT_EQ(2u, redos(manager));

  ASSERT_TRUE(manager.redo());
  ASSERT_TRUE(manager.redo());
  EXPECT_EQ("X,Y", set->text());
  EXPECT_EQ(2u, undos(manager));
  EXPECT_EQ(0u, redos(manager));
  EXPECT_EQ(6, set->m_nCommandsRun);
}

TEST_F(ViewpointCommandManagerTest, EditsACommandCausesAreUndoneWithItAndRevertRecordsNothing) {
  ViewpointCommandManager manager(10);
  auto_unuse<FakeMemberSet> set(new FakeMemberSet(&manager, {"A"}));
  bool flag = false;
  auto_unuse<FlagCommand> first(new FlagCommand(flag, nullptr));
  manager._execute(first.get());
  manager.mark();

  // Regression: the edit the command caused took a slot of its own below the command, so one
  // undo took back the command and left the set empty.
  bool other = false;
  auto_unuse<FlagCommand> second(new FlagCommand(other, set.get()));
  manager._execute(second.get());
  EXPECT_EQ("", set->text());
  EXPECT_EQ(2u, undos(manager));
  EXPECT_EQ(second.get(), manager.getUndoHistory().back().command.get());
  ASSERT_TRUE(manager.undo());
  EXPECT_FALSE(other);
  EXPECT_EQ("A", set->text());
  ASSERT_TRUE(manager.redo());
  EXPECT_TRUE(other);
  EXPECT_EQ("", set->text());
  EXPECT_EQ(2u, undos(manager));

  edit(set.get(), {"Q"});
  EXPECT_EQ(3u, undos(manager));
  EXPECT_TRUE(manager.revert());
  EXPECT_EQ("A", set->text());
  EXPECT_FALSE(other);
  EXPECT_TRUE(flag);
  EXPECT_EQ(1u, undos(manager)) << "a member-set change made during a revert is not recorded";
  EXPECT_EQ(0u, redos(manager));
}

TEST_F(ViewpointCommandManagerTest, AMemberSetEditEmptiesTheRedoHistory) {
  ViewpointCommandManager manager(10);
  auto_unuse<FakeMemberSet> set(new FakeMemberSet(&manager, {}));
  edit(set.get(), {"1"});
  ASSERT_TRUE(manager.undo());
  EXPECT_EQ(1u, redos(manager));
  // Regression: a new member-set edit kept the old redo history, and redo then put the undone
  // edit on top of it.
  edit(set.get(), {"0"});
  EXPECT_EQ(0u, redos(manager));
  EXPECT_FALSE(manager.redo());
  EXPECT_EQ("0", set->text());
}

TEST_F(ViewpointCommandManagerTest, TheLimitAppliesToRecordedEditsAndUnusableSetsAreNotRecorded) {
  ViewpointCommandManager manager(3);
  auto_unuse<FakeMemberSet> set(new FakeMemberSet(&manager, {}));
  for (const char* m : {"1", "2", "3", "4", "5"}) edit(set.get(), {m});
  EXPECT_EQ(3u, undos(manager));
  while (manager.undo()) {
  }
  EXPECT_EQ("2", set->text());

  uint64_t assertions = support_dll::assertionFailureCount();
  manager.recordMemberSetCommand(nullptr);
  EXPECT_EQ(assertions + 1, support_dll::assertionFailureCount());
  EXPECT_EQ(0u, undos(manager));
}

}  // namespace
