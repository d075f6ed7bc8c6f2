#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "common/CommandManagerCommon.h"
#include "common/ViewpointCommand.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

using common::CommandManagerCommon;

namespace {

// What the fake commands edit: a list of numbers, each command appending its own.
struct Document {
  std::vector<int> values;
  std::string text() const {
    std::string out;
    for (int v : values) out += (out.empty() ? "" : " ") + std::to_string(v);
    return out;
  }
};

class FakeCommand : public support::RefCountImpl, public NUVA_o::Command {
 public:
  FakeCommand(Document& document, int value) : RefCountImpl("FakeCommand", 0),
                                               m_Document(document), m_Value(value) {}
  bool m_bFailExecute = false;
  bool m_bFailUndo = false;

  void execute() override {
    if (m_bFailExecute)
      throw InvalidArgumentExceptionImpl("TEST", support::COMMON_E_INVALID_ARGUMENT);
    m_Document.values.push_back(m_Value);
  }
  void undo() override {
    if (m_bFailUndo) throw CubeViewStateExceptionImpl("TEST", support::COMMON_E_NOT_BOUND);
    ASSERT_FALSE(m_Document.values.empty());
    ASSERT_EQ(m_Value, m_Document.values.back());
    m_Document.values.pop_back();
  }
  int value() const { return m_Value; }

 private:
  Document& m_Document;
  int m_Value;
};

class CommandManagerTest : public vtq_testing::VtqTest {
 protected:
  // Runs a new command adding `value` through the manager.
  void run(CommandManagerCommon& manager, int value) {
    auto_unuse<FakeCommand> command(new FakeCommand(m_Document, value));
    manager._execute(command.get());
  }
  static std::string history(const std::vector<CommandManagerCommon::Entry>& entries) {
    std::string out;
    for (const auto& entry : entries) {
      if (!out.empty()) out += " ";
      out += std::to_string(dynamic_cast<FakeCommand*>(entry.command.get())->value());
      if (entry.marked) out += "*";
    }
    return out;
  }
  std::string undos(const CommandManagerCommon& m) const { return history(m.getUndoHistory()); }
  std::string redos(const CommandManagerCommon& m) const { return history(m.getRedoHistory()); }

  Document m_Document;
};

TEST_F(CommandManagerTest, HistoriesKeepAtMostTheLimitAndANewCommandEmptiesRedo) {
  CommandManagerCommon manager(10);
  for (int i = 1; i <= 11; ++i) run(manager, i);
  EXPECT_EQ("2 3 4 5 6 7 8 9 10 11", undos(manager));

  for (int i = 0; i < 10; ++i) EXPECT_TRUE(manager.undo());
  EXPECT_FALSE(manager.undo()) << "the first command fell off the history";
  EXPECT_EQ("1", m_Document.text());
  EXPECT_EQ("11 10 9 8 7 6 5 4 3 2", redos(manager));

  EXPECT_TRUE(manager.redo());
  EXPECT_TRUE(manager.redo());
  EXPECT_EQ("1 2 3", m_Document.text());
  run(manager, 42);
  EXPECT_EQ("", redos(manager));
  EXPECT_FALSE(manager.redo());
  EXPECT_EQ("2 3 42", undos(manager));
  EXPECT_EQ("1 2 3 42", m_Document.text());
}

TEST_F(CommandManagerTest, UnlimitedHistoryKeepsEverything) {
  CommandManagerCommon manager(0);
  for (int i = 1; i <= 25; ++i) run(manager, i);
  EXPECT_EQ(25u, manager.getUndoHistory().size());
}

TEST_F(CommandManagerTest, RevertUndoesAndDiscardsEverythingAboveTheMark) {
  CommandManagerCommon manager(10);
  EXPECT_FALSE(manager.revert()) << "nothing to revert";
  run(manager, 1);
  run(manager, 2);
  run(manager, 3);
  manager.mark();
  run(manager, 4);
  run(manager, 5);
  EXPECT_EQ("1 2 3* 4 5", undos(manager));

  EXPECT_TRUE(manager.revert());
  EXPECT_EQ("1 2 3", m_Document.text());
  EXPECT_EQ("1 2 3*", undos(manager));
  EXPECT_EQ("", redos(manager)) << "reverted commands are discarded, not redoable";

  // Right after a query the newest package carries the mark; revert looks below it.
  EXPECT_FALSE(manager.revert());
  EXPECT_EQ("1 2 3", m_Document.text());
  run(manager, 4);
  manager.mark();
  EXPECT_TRUE(manager.revert());
  EXPECT_EQ("1 2 3", m_Document.text()) << "the older mark is the target, the newest undone";
  EXPECT_EQ("1 2 3*", undos(manager));
}

TEST_F(CommandManagerTest, ARefusedRevertSaysWhyThereIsNothingToGoBackTo) {
  CommandManagerCommon manager(3);
  EXPECT_EQ(CommandManagerCommon::RR_NO_MARK, manager.getRevertRefusal());
  run(manager, 1);
  EXPECT_EQ(CommandManagerCommon::RR_NO_MARK, manager.getRevertRefusal());
  manager.mark();
  // Regression: right after a query the refusal said that no query had been made.
  EXPECT_FALSE(manager.revert());
  EXPECT_EQ(CommandManagerCommon::RR_UNCHANGED_SINCE_MARK, manager.getRevertRefusal());
  run(manager, 2);
  EXPECT_EQ(CommandManagerCommon::RR_NONE, manager.getRevertRefusal());
  EXPECT_TRUE(manager.revert());
  EXPECT_EQ(CommandManagerCommon::RR_UNCHANGED_SINCE_MARK, manager.getRevertRefusal());
  // The mark falls off the three-entry history.
  for (int i = 2; i <= 4; ++i) run(manager, i);
  EXPECT_EQ("2 3 4", undos(manager));
  EXPECT_FALSE(manager.revert());
  EXPECT_EQ(CommandManagerCommon::RR_MARK_GONE, manager.getRevertRefusal());
  // An undo takes the mark away with the marked package.
  manager.mark();
  EXPECT_TRUE(manager.undo());
  EXPECT_EQ(CommandManagerCommon::RR_MARK_GONE, manager.getRevertRefusal());
}

TEST_F(CommandManagerTest, UndoClearsTheMarkAndRedoDoesNotRestoreIt) {
  CommandManagerCommon manager(10);
  run(manager, 1);
  manager.mark();
  run(manager, 2);
  EXPECT_TRUE(manager.undo());
  EXPECT_TRUE(manager.undo());
  EXPECT_EQ("2 1", redos(manager));
  EXPECT_TRUE(manager.redo());
  EXPECT_TRUE(manager.redo());
  EXPECT_EQ("1 2", undos(manager));
  EXPECT_FALSE(manager.revert());
  manager.mark();
  EXPECT_EQ("1 2*", undos(manager));
}

TEST_F(CommandManagerTest, AFailedCommandLeavesBothHistoriesAsTheyWere) {
  CommandManagerCommon manager(10);
  run(manager, 1);
  run(manager, 2);
  ASSERT_TRUE(manager.undo());

  auto_unuse<FakeCommand> failing(new FakeCommand(m_Document, 9));
  failing->m_bFailExecute = true;
  EXPECT_THROW(manager._execute(failing.get()), olap_api::ApiException);
  EXPECT_EQ("1", undos(manager));
  // Regression: the redo history used to be emptied before the command had run.
  EXPECT_EQ("2", redos(manager));
  EXPECT_EQ(2, failing->use()) << "no package kept a reference";
  failing->unuse();

  try {
    manager._execute(nullptr);
    ADD_FAILURE() << "a null command was accepted";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(support::COMMON_E_INVALID_ARGUMENT, e.getCode());
  }
  EXPECT_TRUE(manager.redo());
  EXPECT_EQ("1 2", m_Document.text());
}

TEST_F(CommandManagerTest, AFailingUndoOrRedoLeavesThePackageWhereItWas) {
  CommandManagerCommon manager(10);
  auto_unuse<FakeCommand> command(new FakeCommand(m_Document, 1));
  manager._execute(command.get());
  run(manager, 2);

  command->m_bFailUndo = true;
  ASSERT_TRUE(manager.undo());
  EXPECT_THROW(manager.undo(), olap_api::ApiException);
  EXPECT_EQ("1", undos(manager));
  EXPECT_EQ("2", redos(manager));
  command->m_bFailUndo = false;
  EXPECT_TRUE(manager.undo());
  EXPECT_EQ("", m_Document.text());

  command->m_bFailExecute = true;
  EXPECT_THROW(manager.redo(), olap_api::ApiException);
  EXPECT_EQ("2 1", redos(manager));
  command->m_bFailExecute = false;
  EXPECT_TRUE(manager.redo());
  EXPECT_EQ("1", m_Document.text());

  // A revert that fails half way keeps what it reverted and the package that refused.
  run(manager, 2);
  manager.mark();
  run(manager, 3);
  auto_unuse<FakeCommand> stubborn(new FakeCommand(m_Document, 4));
  manager._execute(stubborn.get());
  run(manager, 5);
  stubborn->m_bFailUndo = true;
  EXPECT_THROW(manager.revert(), olap_api::ApiException);
  EXPECT_EQ("1 2* 3 4", undos(manager));
  EXPECT_EQ("1 2 3 4", m_Document.text());
  stubborn->m_bFailUndo = false;
  EXPECT_TRUE(manager.revert());
  EXPECT_EQ("1 2", m_Document.text());
}

TEST_F(CommandManagerTest, EditsFromSeveralThreadsAreAllRecorded) {
  CommandManagerCommon manager(0);
  std::vector<std::thread> threads;
  Document documents[4];
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        // Each thread edits its own document so that the commands themselves do not race;
        // the histories are shared.
        auto_unuse<FakeCommand> command(new FakeCommand(documents[t], i));
        manager._execute(command.get());
        if (i % 10 == 0) manager.mark();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(800u, manager.getUndoHistory().size());
  size_t total = 0;
  for (auto& document : documents) total += document.values.size();
  EXPECT_EQ(800u, total);
}

// A view command without a view, over the fake document.
class NumberCommand : public common::ViewpointCommand {
 public:
  NumberCommand(Document& document, int value)
      : ViewpointCommand("NumberCommand", nullptr), m_Document(document), m_Value(value) {}
  bool m_bFail = false;
  TOVAString getDescription() const override { return TOVAString().build("add %d", m_Value); }

 protected:
  TOVAString execute_message() const override {
    return TOVAString().build("Executing command Number; Adding %d", m_Value);
  }
  TOVAString undo_message() const override {
    return TOVAString().build("Undoing command Number; Removing %d", m_Value);
  }
  void do_execute() override {
    if (m_bFail) throw InvalidArgumentExceptionImpl("TEST", support::COMMON_E_INVALID_ARGUMENT);
    m_Document.values.push_back(m_Value);
  }
  void do_undo() override { m_Document.values.pop_back(); }

 private:
  Document& m_Document;
  int m_Value;
};

TEST_F(CommandManagerTest, ViewCommandsLogAndRefuseToRunTwiceInOneDirection) {
  auto& log = captureLog(4);
  CommandManagerCommon manager(10);
  auto_unuse<NumberCommand> command(new NumberCommand(m_Document, 7));
  manager.execute(command.get());
  EXPECT_TRUE(command->isExecuted());

  uint64_t assertions = support_dll::assertionFailureCount();
  command->execute();
  EXPECT_EQ(assertions + 1, support_dll::assertionFailureCount());
  EXPECT_EQ("7", m_Document.text()) << "a second execute does nothing";

  ASSERT_TRUE(manager.undo());
  command->undo();
  EXPECT_EQ(assertions + 2, support_dll::assertionFailureCount());
  EXPECT_EQ("", m_Document.text());

  std::vector<std::string> lines;
  for (const auto& record : log.records())
    if (record.unit == "COMMANDS@COMMONMODULE") lines.push_back(record.text.string());
  EXPECT_EQ((std::vector<std::string>{"Executing command Number; Adding 7",
                                      "Executing command Number; Adding 7",
                                      "Undoing command Number; Removing 7",
                                      "Undoing command Number; Removing 7"}),
            lines);

  auto_unuse<NumberCommand> failing(new NumberCommand(m_Document, 8));
  failing->m_bFail = true;
  EXPECT_THROW(manager.execute(failing.get()), olap_api::ApiException);
  EXPECT_FALSE(failing->isExecuted()) << "a failed action leaves the command unexecuted";
  failing->m_bFail = false;
  failing->execute();
  EXPECT_TRUE(failing->isExecuted());
}

}  // namespace
