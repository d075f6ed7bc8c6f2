// The memory provider's companion of a cube view: the view's layout, view member sets and
// active slices evaluated on the sample cube, checked against sums of the CSV files.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Viewpoint.h"
#include "SampleOracle.h"
#include "result_grid.h"
#include "ViewTesting.h"
#include "VtqTest.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointBase.h"
#include "common/ViewpointCommandManager.h"
#include "common/ViewpointFactory.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/Exceptions.h"

namespace {

// Sum of a fact column by (category, year) from the oracle, for facts in `region` (or any).
std::map<std::pair<std::string, std::string>, double> csv_sums(const std::string& column,
                                                               const std::string& region) {
  return vtq_testing::SampleOracle::get().pairSums(
      "SELECT p.category, m.year, SUM(f." + column + ") FROM facts f"
      " JOIN products p ON p.item = f.item JOIN cities c ON c.city = f.city"
      " JOIN months m ON m.month = f.month" +
      (region.empty() ? std::string() : " WHERE c.region = '" + region + "'") + " GROUP BY 1, 2");
}

// Every filled cell of a result keyed by (column caption, row caption), read as the shell reads
// results.
std::map<std::pair<std::string, std::string>, double> read_result(memory::MemoryResultSet* result) {
  const vtq::ResultGrid grid = vtq::readResultGrid(result);
  std::map<std::pair<std::string, std::string>, double> out;
  for (size_t r = 0; r < grid.rowCaptions.size(); ++r)
    for (size_t c = 0; c < grid.columnHeaders.size(); ++c)
      if (const auto& cell = grid.cells[r * grid.columnHeaders.size() + c])
        out[{grid.columnHeaders[c], grid.rowCaptions[r].at(0)}] = *cell;
  return out;
}

void expect_same(const std::map<std::pair<std::string, std::string>, double>& expected,
                 const std::map<std::pair<std::string, std::string>, double>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (auto& [key, value] : expected) {
    auto it = actual.find(key);
    ASSERT_NE(actual.end(), it) << key.first << " / " << key.second;
    EXPECT_NEAR(value, it->second, 1e-6 * std::max(1.0, value)) << key.first << " / " << key.second;
  }
}

class MemoryViewQueryTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
    m_pView.reset(createCommonViewpoint());
    m_pView->initialise(m_pCube.get(), 2, 1);
    m_pCompanion.reset(common::createProviderLibrary("memory")->createDerivedViewpoint(m_pView.get()));
  }
  void TearDown() override {
    m_pCompanion.reset();
    m_pView.reset();
    m_pCube.reset();
    VtqTest::TearDown();
  }

  NUVA_o::Axis* axis(size_t i) { return m_pView->getAxes()[i].get(); }

  // Takes the hierarchy off the slice axis and puts it at the end of a view axis, with the
  // members of one level as its view member set.
  void lay_out(const TOVAString& hierarchy, size_t viewAxis, int level) {
    auto_unuse<NUVA_o::AxisHierarchy> moved(axis(2)->removeAxisHierarchy(hierarchy));
    ASSERT_TRUE(moved);
    axis(viewAxis)->addAxisHierarchy(moved.get(), static_cast<unsigned>(axis(viewAxis)->getAxisHierarchies().size()));
    set_level(hierarchy, level);
  }

  // The view member set becomes one level, through a command of the member set (recorded in
  // the view's history like any other edit).
  void set_level(const TOVAString& hierarchy, int level) {
    vtq_testing::setViewMembersToLevel(*m_pView, hierarchy, level);
  }

  void slice(const TOVAString& hierarchy, const TOVAString& member) {
    auto_unuse<NUVA_o::AxisHierarchy> slicer(axis(2)->getAxisHierarchy(hierarchy));
    auto_unuse<NUVA_o::Member> active(slicer->getActiveSlice());
    active->moveTo(member);
  }

  auto_unuse<memory::MemoryResultSet> query() {
    NUVA_o::ViewResultSet* result = m_pCompanion->executeQuery();
    auto* memoryResult = dynamic_cast<memory::MemoryResultSet*>(result);
    EXPECT_NE(nullptr, memoryResult);
    return auto_unuse<memory::MemoryResultSet>(memoryResult);
  }

  auto_unuse<memory::MemoryCube> m_pCube;
  auto_unuse<NUVA_o::Viewpoint> m_pView;
  std::unique_ptr<common::ViewpointBase> m_pCompanion;
};

TEST_F(MemoryViewQueryTest, CategoryByYearEqualsTheCsvSums) {
  lay_out("[Product]", 0, 1);
  lay_out("[Time].[Calendar]", 1, 1);
  EXPECT_FALSE(m_pCompanion->isQueryTooLarge());
  auto result = query();
  EXPECT_EQ(std::vector<TOVAString>{"[Product]"}, result->getAxisHierarchies(0));
  EXPECT_EQ(std::vector<TOVAString>{"[Time].[Calendar]"}, result->getAxisHierarchies(1));
  EXPECT_EQ(4, result->getTupleCount(0));
  EXPECT_EQ(3, result->getTupleCount(1));
  expect_same(csv_sums("sales", ""), read_result(result.get()));

  // The active slices of the slice axis restrict the cells and choose the measure.
  slice("[Geography]", "[Geography].[Europe]");
  slice("[Measures]", "[Measures].[Quantity]");
  auto sliced = query();
  const auto slicer = sliced->getSlicer();
  EXPECT_NE(slicer.end(), std::find(slicer.begin(), slicer.end(), TOVAString("[Geography].[Europe]")));
  EXPECT_NE(slicer.end(), std::find(slicer.begin(), slicer.end(), TOVAString("[Measures].[Quantity]")));
  expect_same(csv_sums("quantity", "Europe"), read_result(sliced.get()));
  // The first result is unchanged by the later query.
  expect_same(csv_sums("sales", ""), read_result(result.get()));
}

// Margin and Margin % of the cube definition are members of the measures level: counted,
// made by the calculated kinds, placed by the view's member sets, queried and saved like the
// stored measures, whose fact columns keep their indexes.
TEST_F(MemoryViewQueryTest, CalculatedMeasuresAreMembersOfTheMeasuresLevel) {
  auto_unuse<NUVA_o::Hierarchy> measures(m_pCube->getHierarchyByUniqueName("[Measures]"));
  ASSERT_TRUE(measures);
  EXPECT_EQ(5, measures->getLevel(0)->getMemberCount());
  auto_unuse<NUVA_o::MemberSet> calculated(measures->getLevel(0)->createMemberSet(NUVA_o::CS_CREATECALC));
  EXPECT_EQ((std::vector<TOVAString>{"[Measures].[Margin]", "[Measures].[Margin %]"}),
            memory::memberUniqueNames(calculated.get()));
  auto_unuse<NUVA_o::MemberSet> user(measures->createMemberSet(NUVA_o::CS_CREATEUSERCALC));
  EXPECT_TRUE(memory::memberUniqueNames(user.get()).empty());

  const auto rows = vtq_testing::SampleOracle::get().rows(
      "SELECT m.year, SUM(f.sales), SUM(f.sales) - SUM(f.cost), (SUM(f.sales) - SUM(f.cost)) / SUM(f.sales)"
      " FROM facts f JOIN months m ON m.month = f.month GROUP BY 1");
  std::map<std::pair<std::string, std::string>, double> expected;
  for (const auto& row : rows) {
    expected[{"Sales", row[0]}] = std::stod(row[1]);
    expected[{"Margin %", row[0]}] = std::stod(row[3]);
  }

  // Sales and Margin % by year, the measures chosen member by member.
  lay_out("[Measures]", 0, 0);
  lay_out("[Time].[Calendar]", 1, 1);
  {
    auto_unuse<NUVA_o::AxisHierarchy> placed(axis(0)->getAxisHierarchy("[Measures]"));
    auto_unuse<NUVA_o::MemberSet> viewSet(placed->getViewMemberSet());
    auto_unuse<NUVA_o::MemberSetCommand> command(viewSet->createCommand());
    command->makeEmpty();
    command->addMember("[Measures].[Sales]");
    command->addMember("[Measures].[Margin %]");
    command->execute();
  }
  auto result = query();
  EXPECT_EQ(2, result->getTupleCount(0));
  expect_same(expected, read_result(result.get()));

  // Saved and restored, the view asks for the same members and gets the same cells.
  auto_unuse<NUVA_o::Viewpoint> restored(createCommonViewpoint());
  restored->initialise(m_pCube.get(), m_pView->toXML());
  EXPECT_TRUE(restored->getRepairDetails().empty());
  std::unique_ptr<common::ViewpointBase> companion(
      common::createProviderLibrary("memory")->createDerivedViewpoint(restored.get()));
  auto_unuse<memory::MemoryResultSet> again(dynamic_cast<memory::MemoryResultSet*>(companion->executeQuery()));
  ASSERT_TRUE(again);
  expect_same(expected, read_result(again.get()));
}

TEST_F(MemoryViewQueryTest, TooLargeViewsAndInterruptionsAreRefused) {
  lay_out("[Product]", 0, 3);
  lay_out("[Time].[Calendar]", 1, 3);
  const long cells = 26L * 36L;
  m_pCube->setQueryCellLimit(cells);
  EXPECT_FALSE(m_pCompanion->isQueryTooLarge());
  m_pCube->setQueryCellLimit(cells - 1);
  EXPECT_TRUE(m_pCompanion->isQueryTooLarge());
  EXPECT_THROW(m_pCompanion->executeQuery(), olap_api::QueryTooLargeException);
  m_pCube->setQueryCellLimit(memory::MemoryCube::DEFAULT_QUERY_CELL_LIMIT);

  // An interrupt before the query does not stop it.
  m_pCompanion->interrupt();
  EXPECT_EQ(cells, query()->getCellCount());

  // An interrupt from another thread while queries run stops one of them.
  std::atomic<bool> done{false};
  std::thread interrupter([&] {
    while (!done) m_pCompanion->interrupt();
  });
  bool interrupted = false;
  for (int i = 0; i < 2000 && !interrupted; ++i) {
    try {
      query();
    } catch (const olap_api::RunTimeException& e) {
      EXPECT_EQ(0xC2031023u, e.getCode());
      interrupted = true;
    }
  }
  done = true;
  interrupter.join();
  EXPECT_TRUE(interrupted);
  EXPECT_EQ(cells, query()->getCellCount());
}

// The cube view's own query: numbering, caching, its checks, closing, revert and interrupt.
class ViewQueryTest : public MemoryViewQueryTest {
 protected:
  void move(const TOVAString& hierarchy, size_t toAxis) {
    m_pView->moveAxisHierarchy(hierarchy, axis(toAxis),
                               static_cast<unsigned>(axis(toAxis)->getAxisHierarchies().size()));
  }

  // Product categories on the columns, calendar years on the rows.
  void category_by_year() {
    move("[Product]", 0);
    move("[Time].[Calendar]", 1);
    set_level("[Product]", 1);
    set_level("[Time].[Calendar]", 1);
  }

  auto_unuse<NUVA_o::ViewResultSet> view_query() {
    return auto_unuse<NUVA_o::ViewResultSet>(m_pView->query());
  }

  static memory::MemoryResultSet* grid(const auto_unuse<NUVA_o::ViewResultSet>& result) {
    return dynamic_cast<memory::MemoryResultSet*>(result.get());
  }

  static size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  std::vector<std::string> layout() {
    std::vector<std::string> out;
    for (const auto& one : m_pView->getAxes()) {
      std::string line;
      for (const auto& placed : one->getAxisHierarchies()) line += placed->getUniqueName().string() + " ";
      out.push_back(line);
    }
    return out;
  }
};

TEST_F(ViewQueryTest, RepeatedQueriesShareOneResultSetUntilTheViewChanges) {
  category_by_year();
  auto& log = captureLog(5);
  auto first = view_query();
  auto again = view_query();
  EXPECT_EQ(first.get(), again.get());
  EXPECT_EQ(1u, count(log.texts(), "Executing query"));
  EXPECT_EQ(1u, count(log.texts(), "Executing query 1"));
  EXPECT_EQ(1u, count(log.texts(), "Adding ViewResultSetListener interface"));
  EXPECT_EQ(1u, count(log.texts(), "Query 1 execution complete"));
  expect_same(csv_sums("sales", ""), read_result(grid(first)));

  // An edit: the next number and a new result set, which the view no longer shares with the
  // old one's listeners.
  set_level("[Time].[Calendar]", 2);
  auto second = view_query();
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(1u, count(log.texts(), "Executing query 2"));
  EXPECT_EQ(12, grid(second)->getTupleCount(1));
  grid(first)->close();
  EXPECT_EQ(second.get(), view_query().get());

  // Closing the held result set makes the view dirty.
  grid(second)->close();
  auto third = view_query();
  EXPECT_NE(second.get(), third.get());
  EXPECT_EQ(1u, count(log.texts(), "Executing query 3"));
  EXPECT_FALSE(grid(third)->isClosed());
}

TEST_F(ViewQueryTest, AClosedResultSetLivesUntilTheNextQuery) {
  category_by_year();
  const TOVAString traceName("MemoryResultSet");
  NUVA_o::ViewResultSet* held = m_pView->query();
  held->unuse();  // the view's reference is the last one
  // The view must not release it from inside the notification of its closing.
  dynamic_cast<memory::MemoryResultSet*>(held)->close();
  EXPECT_EQ(1, support::liveObjectCount(traceName));
  auto next = view_query();
  EXPECT_NE(held, next.get());
  EXPECT_EQ(1, support::liveObjectCount(traceName));
}

TEST_F(ViewQueryTest, RefusedQueriesLeaveTheViewDirtyAndTheMarkInPlace) {
  {
    auto_unuse<NUVA_o::Viewpoint> unbound(createCommonViewpoint());
    try {
      unbound->query();
      FAIL() << "an unbound view has nothing to evaluate";
    } catch (const olap_api::InvalidPointerException& e) {
      EXPECT_EQ(support::COMMON_E_NO_PROVIDER_OBJECT, e.getCode());
    }
  }
  auto expect_empty_axis = [&] {
    try {
      view_query();
      FAIL() << "a view axis is empty";
    } catch (const olap_api::CubeViewStateException& e) {
      EXPECT_EQ(support::COMMON_E_EMPTY_VIEW_AXIS, e.getCode());
    }
  };
  expect_empty_axis();  // a new view has everything on the slice axis

  category_by_year();
  auto& log = captureLog(4);
  view_query();  // query 2, and the mark
  move("[Product]", 2);
  expect_empty_axis();  // query 3
  // The failed query set no mark, so revert goes back to the successful one.
  m_pView->revert();
  EXPECT_EQ("[Product] ", layout()[0]);
  m_pCube->setQueryCellLimit(4 * 3 - 1);
  EXPECT_THROW(view_query(), olap_api::QueryTooLargeException);  // query 4
  m_pCube->setQueryCellLimit(memory::MemoryCube::DEFAULT_QUERY_CELL_LIMIT);
  auto result = view_query();
  EXPECT_EQ(1u, count(log.texts(), "Executing query 5"));
  expect_same(csv_sums("sales", ""), read_result(grid(result)));
}

TEST_F(ViewQueryTest, RevertReturnsToTheLastQueriedLayout) {
  category_by_year();
  auto queried = view_query();
  const auto before = layout();
  move("[Geography]", 1);
  set_level("[Product]", 2);
  m_pView->swapAxes(axis(0), axis(1));
  m_pView->revert();
  EXPECT_EQ(before, layout());
  auto result = view_query();
  EXPECT_NE(queried.get(), result.get());
  expect_same(csv_sums("sales", ""), read_result(grid(result)));
}

TEST_F(ViewQueryTest, AnInterruptStopsARunningQueryAndTheViewGoesOn) {
  move("[Product]", 0);
  move("[Time].[Calendar]", 1);
  set_level("[Product]", 3);
  set_level("[Time].[Calendar]", 3);
  std::atomic<bool> done{false};
  std::thread interrupter([&] {
    while (!done) m_pView->interrupt();
  });
  bool interrupted = false;
  for (int i = 0; i < 2000 && !interrupted; ++i) {
    try {
      view_query();
    } catch (const olap_api::RunTimeException& e) {
      EXPECT_EQ(0xC2031023u, e.getCode());
      interrupted = true;
    }
    // The next query must evaluate again rather than hand back the cached result.
    m_pView->swapAxes(axis(0), axis(1));
  }
  done = true;
  interrupter.join();
  EXPECT_TRUE(interrupted);
  EXPECT_EQ(26L * 36L, grid(view_query())->getCellCount());
}

// Queries with reads and closes of their results on one thread, interrupts on a second and
// edits on a third (axis swaps, hierarchy moves and swaps, undo and redo, each in the view's
// write lock): run under ThreadSanitizer by `make tsan`. Every layout the editor leaves keeps
// Product and Calendar on the view axes at their levels, so every grid has 12 cells.
TEST_F(ViewQueryTest, QueriesInterruptsAndEditsOnThreeThreads) {
  category_by_year();
  std::atomic<bool> done{false};
  std::atomic<int> results{0};
  std::thread querier([&] {
    for (int i = 0; i < 300; ++i) {
      try {
        auto result = view_query();
        if (grid(result)->getCellCount() == 12) ++results;
        if (i % 3 == 0) grid(result)->close();
      } catch (const olap_api::RunTimeException& e) {
        EXPECT_EQ(0xC2031023u, e.getCode());
      }
    }
    done = true;
  });
  std::thread interrupter([&] {
    while (!done) m_pView->interrupt();
  });
  std::thread editor([&] {
    common::ViewpointCommandManager* history = common::getViewpointCommandManager(m_pView.get());
    for (unsigned i = 0; !done; ++i) {
      switch (i % 7) {
        case 0: m_pView->swapAxes(axis(0), axis(1)); break;
        case 1: m_pView->swapAxisHierarchies("[product]", "[Time].[Calendar]"); break;
        // Onto a view axis and off it again, which resets its view members.
        case 2: m_pView->moveAxisHierarchy("[Geography]", axis(i % 2), 0); break;
        case 3: EXPECT_TRUE(history->undo()); break;
        case 4: EXPECT_TRUE(history->redo()); break;
        case 5: m_pView->moveAxisHierarchy("[geography]", axis(2), 0); break;
        case 6: EXPECT_TRUE(history->undo()); break;
      }
    }
  });
  querier.join();
  interrupter.join();
  editor.join();
  EXPECT_GT(results.load(), 0);
  EXPECT_EQ(12, grid(view_query())->getCellCount());
}

}  // namespace

namespace {

// Gives the cube's prompt one text value, in one transaction as a user's edit would.
void set_prompt(NUVA_o::Cube& cube, const TOVAString& name, const TOVAString& text) {
  auto_unuse<NUVA_o::Parameter> parameter(cube.getParameterByName(name));
  ASSERT_TRUE(parameter);
  parameter->beginParameterTransaction();
  parameter->clearParameterValues();
  if (!text.empty()) {
    auto_unuse<NUVA_o::ParameterValue> value(parameter->createParameterValue(true));
    value->setStringValue(text, false);
  }
  parameter->commitParameterTransaction();
}

}  // namespace

TEST_F(MemoryViewQueryTest, PromptsMoveTheSliceAndSwapTheHierarchyOfTheQuery) {
  lay_out("[Product]", 0, 1);
  lay_out("[Time].[Calendar]", 1, 1);
  set_prompt(*m_pCube, "[Region]", "[Geography].[Europe]");
  expect_same(csv_sums("sales", "Europe"), read_result(query().get()));
  // No value: the slice is back on the default member, all regions.
  set_prompt(*m_pCube, "[Region]", "");
  expect_same(csv_sums("sales", ""), read_result(query().get()));

  set_prompt(*m_pCube, "[TimeHierarchy]", "[Time].[Fiscal]");
  // The new hierarchy comes with its own default view members; the user picks the years.
  set_level("[Time].[Fiscal]", 1);
  auto result = query();
  EXPECT_EQ(std::vector<TOVAString>{"[Time].[Fiscal]"}, result->getAxisHierarchies(1));
  const auto fiscal = vtq_testing::SampleOracle::get().pairSums(
      "SELECT p.category, m.fiscal_year, SUM(f.sales) FROM facts f JOIN products p ON p.item = f.item"
      " JOIN months m ON m.month = f.month GROUP BY 1, 2");
  expect_same(fiscal, read_result(result.get()));
}
