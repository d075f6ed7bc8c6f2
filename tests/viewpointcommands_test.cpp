#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "VtqTest.h"
#include "common/ViewpointCommand.h"
#include "common/ViewpointCommandManager.h"
#include "common/ViewpointFactory.h"
#include "support/CoreLog.h"
#include "ViewTesting.h"

using common::ViewpointCommandManager;
using vtq_testing::layout;
using vtq_testing::thrownCode;

namespace {

// Runs on cubes with and without multiple-hierarchy queries.
class ViewpointCommandsTest : public vtq_testing::VtqTest,
                              public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(GetParam()));
    m_pView.reset(createCommonViewpoint());
    m_pView->initialise(m_pCube.get(), 2, 1);
    m_pManager = common::getViewpointCommandManager(m_pView.get());
    ASSERT_NE(nullptr, m_pManager);
  }
  void TearDown() override {
    m_pView.reset();
    m_pCube.reset();
    VtqTest::TearDown();
  }
  bool multiple() const { return GetParam(); }
  NUVA_o::Axis* axis(size_t i) const { return m_pView->getAxes()[i].get(); }
  std::string layout() const { return vtq_testing::layout(*m_pView); }
  // The lines of the two view axes.
  std::string viewAxes() const {
    std::string all = layout();
    return all.substr(0, all.find("\n2 ") + 1);
  }
  // The undo history, oldest first, one description per line.
  std::string undos() const { return describe(m_pManager->getUndoHistory()); }
  std::string redos() const { return describe(m_pManager->getRedoHistory()); }
  static std::string describe(const std::vector<ViewpointCommandManager::Entry>& entries) {
    std::string out;
    for (const auto& entry : entries) {
      auto* command = dynamic_cast<common::ViewpointCommand*>(entry.command.get());
      out += command ? command->getDescription().string() : std::string("member set edit");
      out += entry.marked ? "*\n" : "\n";
    }
    return out;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
  auto_unuse<NUVA_o::Viewpoint> m_pView;
  ViewpointCommandManager* m_pManager = nullptr;
};

TEST_P(ViewpointCommandsTest, MovesAndSwapsUndoAndRedoStepByStep) {
  const std::string initial = layout();
  auto& log = captureLog(4);
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  m_pView->moveAxisHierarchy("[Time].[Calendar]", axis(1), 0);
  m_pView->moveAxisHierarchy("[Measures]", axis(0), 5);  // past the end: appended
  const std::string moved = layout();
  EXPECT_EQ("0 view: [Product], [Measures]\n1 view: [Time].[Calendar]\n", viewAxes());

  m_pView->swapAxisHierarchies("[Product]", "[Time].[Calendar]");
  EXPECT_EQ("0 view: [Time].[Calendar], [Measures]\n1 view: [Product]\n", viewAxes());
  m_pView->swapAxes(axis(0), axis(1));
  EXPECT_EQ("0 view: [Product]\n1 view: [Time].[Calendar], [Measures]\n", viewAxes());
  EXPECT_EQ(
      "move [Product] 0 0\nmove [Time].[Calendar] 1 0\nmove [Measures] 0 5\n"
      "swap [Product] [Time].[Calendar]\nswap-axes 0 1\n",
      undos());

  ASSERT_TRUE(m_pManager->undo());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(moved, layout());
  ASSERT_TRUE(m_pManager->undo());
  ASSERT_TRUE(m_pManager->undo());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(initial, layout());
  EXPECT_FALSE(m_pManager->undo());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(m_pManager->redo());
  EXPECT_EQ("0 view: [Product]\n1 view: [Time].[Calendar], [Measures]\n", viewAxes());

  const std::string texts = log.texts();
  const std::string position = multiple() ? "2" : "1";
  for (const std::string& line :
       {"Executing command MoveAxisHierarchy; Hierarchy [Product] moving from Axis 2 to Axis 0, "
        "from position " + position + " to position 0",
        "Undoing command MoveAxisHierarchy; Hierarchy [Product] moveing from Axis 0 to Axis 2, "
        "from position 0 to position " + position,
        std::string("Executing command SwapAxisHierarchies; Hierarchy [Product] swapping with "
                    "Hierarchy [Time].[Calendar]"),
        std::string("Executing command SwapAxes"), std::string("Undoing command SwapAxes")})
    EXPECT_NE(std::string::npos, texts.find(line)) << line;
}

TEST_P(ViewpointCommandsTest, RevertReturnsToTheMarkAndRefusesWithNothingToRevert) {
  EXPECT_EQ(support::COMMON_W_NOTHING_TO_REVERT, thrownCode([&] { m_pView->revert(); }));
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  m_pView->moveAxisHierarchy("[Measures]", axis(1), 0);
  m_pView->moveAxisHierarchy("[Time].[Calendar]", axis(0), 1);
  m_pManager->mark();  // as a query does
  const std::string queried = layout();
  m_pView->swapAxes(axis(0), axis(1));
  m_pView->moveAxisHierarchy("[Measures]", axis(2), 0);
  m_pView->revert();
  EXPECT_EQ(queried, layout());
  EXPECT_EQ("move [Product] 0 0\nmove [Measures] 1 0\nmove [Time].[Calendar] 0 1*\n", undos());
  EXPECT_EQ("", redos());
  // Right after the mark there is nothing newer; revert looks below it and finds no mark.
  EXPECT_EQ(support::COMMON_W_NOTHING_TO_REVERT, thrownCode([&] { m_pView->revert(); }));
  EXPECT_EQ(queried, layout());
}

TEST_P(ViewpointCommandsTest, RefusedEditsChangeNeitherTheViewNorTheHistory) {
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  ASSERT_TRUE(m_pManager->undo());
  const std::string before = layout();

  auto_unuse<NUVA_o::Viewpoint> other(createCommonViewpoint());
  other->initialise(m_pCube.get(), 1, 1);
  NUVA_o::Axis* foreign = other->getAxes()[0].get();
  EXPECT_EQ(support::COMMON_E_FOREIGN_AXIS,
            thrownCode([&] { m_pView->moveAxisHierarchy("[Product]", foreign, 0); }));
  EXPECT_EQ(support::COMMON_E_FOREIGN_AXIS,
            thrownCode([&] { m_pView->moveAxisHierarchy("[Product]", nullptr, 0); }));
  EXPECT_EQ(support::COMMON_E_UNKNOWN_HIERARCHY,
            thrownCode([&] { m_pView->moveAxisHierarchy("[Nope]", axis(0), 0); }));
  EXPECT_EQ(support::COMMON_E_FOREIGN_AXIS,
            thrownCode([&] { m_pView->swapAxes(axis(0), foreign); }));
  EXPECT_NE(0u, thrownCode([&] { m_pView->swapAxisHierarchies("[Product]", "[Nope]"); }));

  EXPECT_EQ(before, layout());
  EXPECT_EQ("", undos());
  EXPECT_EQ("move [Product] 0 0\n", redos()) << "a refused edit keeps what could be redone";
}

TEST_P(ViewpointCommandsTest, NamesInAnotherLetterCaseNameTheHierarchyItself) {
  m_pView->moveAxisHierarchy("[product]", axis(0), 0);
  m_pView->moveAxisHierarchy("[TIME].[calendar]", axis(1), 0);
  m_pManager->mark();  // as a query does
  const std::string queried = layout();
  EXPECT_EQ("0 view: [Product]\n1 view: [Time].[Calendar]\n", viewAxes());
  const uint64_t assertions = support_dll::assertionFailureCount();

  // Regression: another spelling counted as on no axis, so the swap put [Product] on two axes
  // and a move within an axis was clamped with an assertion report.
  m_pView->swapAxisHierarchies("[PRODUCT]", "[time].[Calendar]");
  EXPECT_EQ("0 view: [Time].[Calendar]\n1 view: [Product]\n", viewAxes());
  m_pView->moveAxisHierarchy("[product]", axis(0), 1);
  EXPECT_EQ("0 view: [Time].[Calendar], [Product]\n1 view: \n", viewAxes());
  m_pView->moveAxisHierarchy("[pRoDuCt]", axis(0), 0);
  EXPECT_EQ("0 view: [Product], [Time].[Calendar]\n1 view: \n", viewAxes());
  m_pView->moveAxisHierarchy("[measures]", axis(1), 0);
  EXPECT_EQ(
      "move [Product] 0 0\nmove [Time].[Calendar] 1 0*\nswap [Product] [Time].[Calendar]\n"
      "move [Product] 0 1\nmove [Product] 0 0\nmove [Measures] 1 0\n",
      undos());
  ASSERT_TRUE(m_pManager->undo());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ("0 view: [Time].[Calendar], [Product]\n1 view: \n", viewAxes());
  m_pView->revert();
  EXPECT_EQ(queried, layout());

  // Unknown names are refused before anything changes.
  EXPECT_EQ(support::COMMON_E_UNKNOWN_HIERARCHY,
            thrownCode([&] { m_pView->moveAxisHierarchy("[Nowhere]", axis(0), 0); }));
  EXPECT_EQ(support::COMMON_E_INVALID_ARGUMENT,
            thrownCode([&] { m_pView->swapAxisHierarchies("[product]", "[Nowhere]"); }));
  EXPECT_EQ(queried, layout());
  EXPECT_EQ("move [Product] 0 0\nmove [Time].[Calendar] 1 0*\n", undos());
  EXPECT_EQ(assertions, support_dll::assertionFailureCount());
}

TEST_P(ViewpointCommandsTest, SwapAxesSwapsTheOriginalAxisHierarchies) {
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  auto_unuse<NUVA_o::AxisHierarchy> product =
      auto_unuse<NUVA_o::AxisHierarchy>::share(axis(0)->getAxisHierarchies()[0].get());
  m_pView->swapAxes(axis(0), axis(1));
  ASSERT_EQ(1u, axis(1)->getAxisHierarchies().size());
  EXPECT_EQ(product.get(), axis(1)->getAxisHierarchies()[0].get());
  EXPECT_TRUE(axis(0)->getAxisHierarchies().empty());
  EXPECT_EQ(NUVA_o::Axis::AT_VIEW, axis(1)->getAxisType());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(product.get(), axis(0)->getAxisHierarchies()[0].get());
}

TEST_P(ViewpointCommandsTest, MemberSetEditsShareTheHistoryAndUndoRecordsNothing) {
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  NUVA_o::AxisHierarchy* product = axis(0)->getAxisHierarchies()[0].get();
  auto_unuse<NUVA_o::MemberSet> set(product->getViewMemberSet());
  const std::string before = vtq_testing::members(set.get());
  {
    auto_unuse<NUVA_o::MemberSetCommand> edit(set->createCommand());
    edit->makeEmpty();
    edit->addMember("[Product].[Gear].[Helmet]");
    edit->execute();
  }
  EXPECT_EQ("[Product].[Gear].[Helmet]", vtq_testing::members(set.get()));
  EXPECT_EQ("move [Product] 0 0\nmember set edit\n", undos());

  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(before, vtq_testing::members(set.get()));
  EXPECT_EQ("move [Product] 0 0\n", undos()) << "the compensating edit was recorded";
  ASSERT_TRUE(m_pManager->redo());
  EXPECT_EQ("[Product].[Gear].[Helmet]", vtq_testing::members(set.get()));
  EXPECT_EQ("move [Product] 0 0\nmember set edit\n", undos());

  // Reverting past the edit restores the members without recording the restoring command.
  m_pManager->mark();
  m_pView->moveAxisHierarchy("[Measures]", axis(1), 0);
  {
    auto_unuse<NUVA_o::MemberSetCommand> edit(set->createCommand());
    edit->makeEmpty();
    edit->execute();
  }
  m_pView->revert();
  EXPECT_EQ("[Product].[Gear].[Helmet]", vtq_testing::members(set.get()));
  EXPECT_EQ("move [Product] 0 0\nmember set edit*\n", undos());
}

INSTANTIATE_TEST_SUITE_P(Cubes, ViewpointCommandsTest, ::testing::Bool(),
                         [](const auto& info) {
                           return info.param ? "MultipleHierarchies" : "OneHierarchyPerDimension";
                         });

class ExclusiveHierarchiesTest : public ViewpointCommandsTest {};

// Without multiple-hierarchy queries a hierarchy that comes onto the axes pushes the other
// hierarchy of its dimension off; undo must bring that one back where it was.
TEST_P(ExclusiveHierarchiesTest, UndoRestoresTheHierarchyThatWasPushedOff) {
  const std::string initial = layout();
  m_pView->moveAxisHierarchy("[Time].[Fiscal]", axis(0), 0);
  EXPECT_EQ("0 view: [Time].[Fiscal]\n1 view: \n2 slice: [Product], [Measures]\n", layout());
  // Regression: the move was recorded as coming from axis 0, so undo left [Time].[Fiscal] on
  // axis 0 and [Time].[Calendar] was gone for good.
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(initial, layout());
  ASSERT_TRUE(m_pManager->redo());
  EXPECT_EQ("0 view: [Time].[Fiscal]\n1 view: \n2 slice: [Product], [Measures]\n", layout());
  ASSERT_TRUE(m_pManager->undo());

  // Pushed off the target axis itself, before and after the requested place.
  m_pView->moveAxisHierarchy("[Time].[Calendar]", axis(0), 0);
  m_pView->moveAxisHierarchy("[Product]", axis(0), 1);
  const std::string calendarFirst = layout();
  m_pView->moveAxisHierarchy("[Time].[Fiscal]", axis(0), 2);
  EXPECT_EQ("0 view: [Product], [Time].[Fiscal]\n1 view: \n", viewAxes());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(calendarFirst, layout());
  m_pView->moveAxisHierarchy("[Product]", axis(0), 0);
  const std::string calendarSecond = layout();
  m_pView->moveAxisHierarchy("[Time].[Fiscal]", axis(0), 0);
  EXPECT_EQ("0 view: [Time].[Fiscal], [Product]\n1 view: \n", viewAxes());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(calendarSecond, layout());

  // A swap across dimensions with only one of them placed is refused.
  EXPECT_EQ(support::COMMON_E_DIFFERENT_DIMENSIONS,
            thrownCode([&] { m_pView->swapAxisHierarchies("[Time].[Fiscal]", "[Product]"); }));
  m_pView->swapAxisHierarchies("[Time].[Calendar]", "[Time].[Fiscal]");
  EXPECT_EQ("0 view: [Product], [Time].[Fiscal]\n1 view: \n", viewAxes());
  ASSERT_TRUE(m_pManager->undo());
  EXPECT_EQ(calendarSecond, layout());
}

INSTANTIATE_TEST_SUITE_P(Cubes, ExclusiveHierarchiesTest, ::testing::Values(false),
                         [](const auto&) { return "OneHierarchyPerDimension"; });

}  // namespace
