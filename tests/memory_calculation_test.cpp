// Calculated measures of the memory provider, evaluated by the library's expression evaluator
// on the sample cube, checked cell by cell against SQL over the sample CSV files.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "SampleOracle.h"
#include "VtqTest.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace {

using Grid = std::map<std::pair<std::string, std::string>, std::optional<double>>;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sample cube with these calculations added to its measures, read from memory.
memory::MemoryCube* sample_with(const std::string& calculations) {
  const std::string dir = vtq_testing::sourceDir() + "/examples/sales/";
  memory::FileSet files;
  std::string definition = read_file(dir + "sales.cube.xml");
  definition.insert(definition.find("</Measures>"), calculations);
  files[dir + "sales.cube.xml"] = definition;
  for (const char* table : {"facts.csv", "products.csv", "cities.csv", "months.csv"})
    files[dir + table] = read_file(dir + table);
  return memory::loadCube(dir + "sales.cube.xml", files);
}

// Every cell keyed by (column captions joined by '|', row captions joined by '|'); the row
// captions in their order go to `rowOrder` when given.
// `bands`, when given, receives the band and group of every highlighted cell, keyed as the cells.
using Bands = std::map<std::pair<std::string, std::string>, std::pair<int, std::string>>;
Grid run(memory::MemoryCube* cube, const memory::GridQuery& query, std::vector<std::string>* rowOrder = nullptr,
         Bands* bands = nullptr) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query));
  struct Collect final : NUVA_o::ChunkHandler {
    uint32_t use() override { return 1; }
    uint32_t unuse() override { return 1; }
    bool handleChunk(NUVA_o::Chunk* chunk, bool) override {
      chunks.emplace_back(chunk);
      return true;
    }
    NUVA_o::Chunk* GetChunk() override { return nullptr; }
    void CancelChunks() override {}
    void StartFetch() override {}
    std::vector<auto_unuse<NUVA_o::Chunk>> chunks;
  } columns, rows, cells;
  result->fetchChunks(&columns, 0, 0, 0x7fffffff);
  result->fetchChunks(&rows, 1, 0, 0x7fffffff);
  result->fetchChunksRange(&cells, 0, 0x7fffffff);
  auto captions = [](Collect& c) {
    std::vector<std::string> out;
    for (auto& chunk : c.chunks) {
      auto* tuples = dynamic_cast<memory::MemoryAxisChunk*>(chunk.get());
      for (long t = 0; t < tuples->getTupleCount(); ++t) {
        std::string caption;
        for (int h = 0; h < tuples->getHierarchyCount(); ++h)
          caption += (h ? "|" : "") + tuples->getMemberCaption(t, h).string();
        out.push_back(caption);
      }
    }
    return out;
  };
  const auto columnCaptions = captions(columns), rowCaptions = captions(rows);
  if (rowOrder) *rowOrder = rowCaptions;
  Grid out;
  for (auto& chunk : cells.chunks) {
    auto* data = dynamic_cast<memory::MemoryCellDataChunk*>(chunk.get());
    for (long i = 0; i < data->getCellCount(); ++i) {
      const auto ordinal = static_cast<size_t>(data->getFirstCell() + i);
      auto& cell = out[{columnCaptions[ordinal % columnCaptions.size()], rowCaptions[ordinal / columnCaptions.size()]}];
      if (!data->isEmpty(i)) cell = data->getValue(i);
      if (bands && data->getBand(i) >= 0)
        (*bands)[{columnCaptions[ordinal % columnCaptions.size()], rowCaptions[ordinal / columnCaptions.size()]}] = {
            data->getBand(i), data->getGroup(i).string()};
    }
  }
  return out;
}

// Rows of (column, row, value) from SQL; a NULL value is an empty cell.
Grid oracle(const std::string& sql) {
  Grid out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql))
    out[{row[0], row[1]}] = row[2].empty() ? std::nullopt : std::optional<double>(std::stod(row[2]));
  return out;
}

// Every cell of `expected` is in `actual` within a cent (ratios within a millionth), and
// `actual` holds no other filled cell.
void expect_grid(const Grid& expected, const Grid& actual, double tolerance = 0.005) {
  for (const auto& [key, value] : expected) {
    auto it = actual.find(key);
    ASSERT_NE(actual.end(), it) << key.first << " / " << key.second;
    ASSERT_EQ(value.has_value(), it->second.has_value()) << key.first << " / " << key.second;
    if (value) {
      EXPECT_NEAR(*value, *it->second, tolerance) << key.first << " / " << key.second;
    }
  }
  for (const auto& [key, value] : actual)
    if (value) {
      EXPECT_TRUE(expected.count(key)) << "unexpected " << key.first << " / " << key.second;
    }
}

std::vector<TOVAString> members(const std::string& sql) {
  std::vector<TOVAString> out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql)) out.emplace_back(row[0]);
  return out;
}

memory::GridCoordinate measures(std::vector<TOVAString> names) { return {"[Measures]", std::move(names)}; }

const char* const kCategories =
    "SELECT DISTINCT '[Product].[' || category || ']' FROM products ORDER BY 1";
const char* const kSubcategories =
    "SELECT DISTINCT '[Product].[' || category || '].[' || subcategory || ']' FROM products ORDER BY 1";
const char* const kYears = "SELECT DISTINCT '[Time].[Calendar].[' || year || ']' FROM months ORDER BY 1";
const char* const kMonths =
    "SELECT '[Time].[Calendar].[' || year || '].[' || quarter || '].[' || month_name || ']' FROM months ORDER BY month";

class MemoryCalculationTest : public vtq_testing::VtqTest {};

// Margin and Margin % of the sample cube beside a stored measure on the columns, and a
// calculated measure alone in the slicer.
TEST_F(MemoryCalculationTest, CalculatedMeasuresOnAxesAndInTheSlicerEqualSql) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  memory::GridQuery query;
  query.axes.push_back({{measures({"[Measures].[Sales]", "[Measures].[Margin]", "[Measures].[Margin %]"})}});
  query.axes.push_back({{{"[Product]", members(kCategories)}, {"[Time].[Calendar]", members(kYears)}}});
  const Grid grid = run(cube.get(), query);
  // Margin % is a ratio: compared within a millionth.
  const std::string join = " FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month"
                           " GROUP BY p.category, m.year";
  expect_grid(oracle("SELECT 'Sales', p.category || '|' || m.year, SUM(f.sales)" + join + " UNION ALL "
                     "SELECT 'Margin', p.category || '|' || m.year, SUM(f.sales) - SUM(f.cost)" + join),
              [&] {
                Grid g = grid;
                for (auto it = g.begin(); it != g.end();) it = it->first.first == "Margin %" ? g.erase(it) : ++it;
                return g;
              }());
  for (const auto& [key, value] : oracle("SELECT 'Margin %', p.category || '|' || m.year,"
                                         " (SUM(f.sales) - SUM(f.cost)) / SUM(f.sales)" + join)) {
    ASSERT_TRUE(grid.at(key).has_value()) << key.second;
    EXPECT_NEAR(*value, *grid.at(key), 1e-6) << key.second;
  }

  memory::GridQuery sliced;
  sliced.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  sliced.axes.push_back({{{"[Product]", members(kCategories)}}});
  sliced.slicer.push_back(measures({"[Measures].[Margin]"}));
  sliced.slicer.push_back({"[Geography]", {"[Geography].[Europe]"}});
  expect_grid(oracle("SELECT m.year, p.category, SUM(f.sales) - SUM(f.cost) FROM facts f"
                     " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month"
                     " JOIN cities c ON c.city = f.city WHERE c.region = 'Europe' GROUP BY 1, 2"),
              run(cube.get(), sliced));
}

// Time navigation on months: the previous month, the year to date and the same month a year
// before; empty where the month has no predecessor.
TEST_F(MemoryCalculationTest, TimeNavigationEqualsSql) {
  auto_unuse<memory::MemoryCube> cube(sample_with(
      R"xml(<Calculation name="Prev" expression="Tuple([Measures].[Sales], PrevMember(CurrentMember([Time].[Calendar])))"/>
         <Calculation name="YTD" expression="Sum(YTD(CurrentMember([Time].[Calendar])), [Measures].[Sales])"/>
         <Calculation name="LastYear" expression="Tuple([Measures].[Sales], ParallelPeriod([Time].[Calendar].[Year], 1, CurrentMember([Time].[Calendar])))"/>
         <Calculation name="Growth" expression="[Measures].[Sales] - [Measures].[Prev]"/>)xml"));
  memory::GridQuery query;
  query.axes.push_back({{measures({"[Measures].[Prev]", "[Measures].[YTD]", "[Measures].[LastYear]", "[Measures].[Growth]"})}});
  query.axes.push_back({{{"[Product]", members(kCategories)}, {"[Time].[Calendar]", members(kMonths)}}});
  // Month sums per category, numbered in calendar order.
  const std::string monthly =
      "WITH s AS (SELECT p.category AS c, m.month AS k, m.year AS y, m.month_name AS n, SUM(f.sales) AS v"
      " FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2)";
  expect_grid(oracle(monthly +
                     " SELECT 'Prev', c || '|' || n, LAG(v) OVER (PARTITION BY c ORDER BY k) FROM s UNION ALL"
                     " SELECT 'YTD', c || '|' || n, SUM(v) OVER (PARTITION BY c, y ORDER BY k) FROM s UNION ALL"
                     " SELECT 'LastYear', c || '|' || n, LAG(v, 12) OVER (PARTITION BY c ORDER BY k) FROM s UNION ALL"
                     " SELECT 'Growth', c || '|' || n, v - LAG(v) OVER (PARTITION BY c ORDER BY k) FROM s"),
              run(cube.get(), query));
}

// Aggregates and ranking over the subcategories of each category by year: average, count,
// maximum month, the sum of the two best, and each subcategory's rank among its siblings.
TEST_F(MemoryCalculationTest, AggregatesAndRankingEqualSql) {
  auto_unuse<memory::MemoryCube> cube(sample_with(
      R"xml(<Calculation name="Avg" expression="Avg(Children(CurrentMember([Product])), [Measures].[Sales])"/>
         <Calculation name="Count" expression="Count(Filter(Children(CurrentMember([Product])), [Measures].[Sales] > 0))"/>
         <Calculation name="BestMonth" expression="Max(Descendants(CurrentMember([Time].[Calendar]), [Time].[Calendar].[Month]), [Measures].[Sales])"/>
         <Calculation name="Top2" expression="Sum(TopCount(Children(CurrentMember([Product])), 2, [Measures].[Sales]), [Measures].[Sales])"/>
         <Calculation name="Stdev" expression="Stdev(Children(CurrentMember([Product])), [Measures].[Sales])"/>
         <Calculation name="Rank" expression="Rank(CurrentMember([Product]), Children(Parent(CurrentMember([Product]))), [Measures].[Sales])"/>)xml"));
  memory::GridQuery byCategory;
  byCategory.axes.push_back({{measures({"[Measures].[Avg]", "[Measures].[Count]", "[Measures].[BestMonth]",
                                        "[Measures].[Top2]", "[Measures].[Stdev]"})}});
  byCategory.axes.push_back({{{"[Product]", members(kCategories)}, {"[Time].[Calendar]", members(kYears)}}});
  const std::string sums =
      "WITH s AS (SELECT p.category AS c, p.subcategory AS sc, m.year AS y, SUM(f.sales) AS v FROM facts f"
      " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2, 3),"
      " mo AS (SELECT p.category AS c, m.year AS y, SUM(f.sales) AS v FROM facts f"
      " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, m.month),"
      " r AS (SELECT c, y, v, ROW_NUMBER() OVER (PARTITION BY c, y ORDER BY v DESC) AS n FROM s)";
  Grid expected = oracle(
      sums +
      " SELECT 'Avg', c || '|' || y, AVG(v) FROM s GROUP BY c, y UNION ALL"
      " SELECT 'Count', c || '|' || y, COUNT(*) FROM s GROUP BY c, y UNION ALL"
      " SELECT 'BestMonth', c || '|' || y, MAX(v) FROM mo GROUP BY c, y UNION ALL"
      " SELECT 'Top2', c || '|' || y, SUM(v) FROM r WHERE n <= 2 GROUP BY c, y UNION ALL"
      " SELECT 'Stdev', c || '|' || y, CASE WHEN COUNT(*) > 1 THEN"
      "   SQRT((SUM(v * v) - SUM(v) * SUM(v) / COUNT(*)) / (COUNT(*) - 1)) END FROM s GROUP BY c, y");
  expect_grid(expected, run(cube.get(), byCategory), 0.01);

  memory::GridQuery bySubcategory;
  bySubcategory.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  bySubcategory.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  bySubcategory.slicer.push_back(measures({"[Measures].[Rank]"}));
  expect_grid(oracle(sums + " SELECT y, sc, RANK() OVER (PARTITION BY c, y ORDER BY v DESC) FROM s"),
              run(cube.get(), bySubcategory));
}

// Division by zero gives empty cells; a calculation that reaches itself or asks for a function
// the evaluator lacks fails the query with a code naming it, and the cube answers the next one.
TEST_F(MemoryCalculationTest, BadCalculationsAreRefusedByName) {
  auto_unuse<memory::MemoryCube> cube(sample_with(
      R"xml(<Calculation name="Zero" expression="[Measures].[Sales] / ([Measures].[Cost] - [Measures].[Cost])"/>
         <Calculation name="Ping" expression="[Measures].[Pong] + 1"/>
         <Calculation name="Pong" expression="[Measures].[Ping] * 2"/>
         <Calculation name="Slope" expression="LinRegSlope(Children([Product].[Bikes]), [Measures].[Sales])"/>)xml"));
  auto query_of = [](const char* measure) {
    memory::GridQuery q;
    q.axes.push_back({{measures({measure, "[Measures].[Sales]"})}});
    q.axes.push_back({{{"[Product]", members(kCategories)}}});
    return q;
  };
  const Grid zero = run(cube.get(), query_of("[Measures].[Zero]"));
  size_t sales = 0;
  for (const auto& [key, value] : zero) {
    if (key.first == "Zero") {
      EXPECT_FALSE(value.has_value()) << key.second;
    }
    sales += key.first == "Sales" && value.has_value();
  }
  EXPECT_EQ(members(kCategories).size(), sales);

  auto failure = [&](const char* measure) -> std::pair<uint32_t, std::string> {
    try {
      run(cube.get(), query_of(measure));
    } catch (const olap_api::ApiException& e) {
      return {e.getCode(), e.getMessage().string()};
    }
    return {0, ""};
  };
  const auto [loop, loopText] = failure("[Measures].[Ping]");
  EXPECT_EQ(support::COMMON_E_EVAL_RECURSION, loop);
  EXPECT_NE(std::string::npos, loopText.find("[Measures].[Ping]")) << loopText;
  const auto [slope, slopeText] = failure("[Measures].[Slope]");
  EXPECT_EQ(support::COMMON_E_EVAL_UNSUPPORTED, slope);
  EXPECT_NE(std::string::npos, slopeText.find("LinRegSlope")) << slopeText;
  EXPECT_EQ(members(kCategories).size() * 2, run(cube.get(), query_of("[Measures].[Margin]")).size());
}

}  // namespace

// Filters and sorts of the rows: the five best subcategories by 2024 Sales in descending
// order, a hierarchical sort that keeps subcategories under their categories, a logical filter,
// and a refused clause that leaves the cube usable.
TEST_F(MemoryCalculationTest, FiltersAndSortsOfRowsEqualSql) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  const std::string bySubcategory2024 =
      "SELECT p.subcategory, SUM(f.sales) AS v FROM facts f JOIN products p ON p.item = f.item"
      " JOIN months m ON m.month = f.month WHERE m.year = 2024 GROUP BY 1";
  memory::GridQuery top;
  top.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  top.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  top.filters.push_back({1, "TopCount(Members([Product].[Subcategory]), 5, Tuple([Measures].[Sales], [Time].[Calendar].[2024]))", "top"});
  top.sorts.push_back({1, "Tuple([Time].[Calendar].[2024])", true, false, "by 2024"});
  std::vector<std::string> order;
  const Grid grid = run(cube.get(), top, &order);
  std::vector<std::string> expectedOrder;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(bySubcategory2024 + " ORDER BY v DESC LIMIT 5"))
    expectedOrder.push_back(row[0]);
  EXPECT_EQ(expectedOrder, order);
  expect_grid(oracle("WITH t AS (" + bySubcategory2024 + " ORDER BY v DESC LIMIT 5)"
                     " SELECT m.year, p.subcategory, SUM(f.sales) FROM facts f JOIN products p ON p.item = f.item"
                     " JOIN months m ON m.month = f.month WHERE p.subcategory IN (SELECT subcategory FROM t)"
                     " GROUP BY 1, 2"),
              grid);

  // Ascending and hierarchical: categories by their 2024 Sales, each followed by its
  // subcategories by theirs; a logical filter drops the subcategories under 150,000.
  memory::GridQuery tree;
  std::vector<TOVAString> both = members(kCategories);
  for (const TOVAString& s : members(kSubcategories)) both.push_back(s);
  tree.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  tree.axes.push_back({{{"[Product]", both}}});
  tree.filters.push_back({1, "Tuple([Measures].[Sales], [Time].[Calendar].[2024]) >= 150000", "big"});
  tree.sorts.push_back({1, "Tuple([Time].[Calendar].[2024])", false, true, "by 2024"});
  run(cube.get(), tree, &order);
  expectedOrder.clear();
  for (const auto& row : vtq_testing::SampleOracle::get().rows(
           "WITH s AS (SELECT p.category AS c, p.subcategory AS s, SUM(f.sales) AS v FROM facts f"
           " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month WHERE m.year = 2024"
           " GROUP BY 1, 2), k AS (SELECT c, SUM(v) AS cv FROM s GROUP BY c)"
           " SELECT name FROM (SELECT k.c AS name, k.cv AS a, 0 AS lvl, 0 AS b FROM k UNION ALL"
           " SELECT s.s, k.cv, 1, s.v FROM s JOIN k ON k.c = s.c WHERE s.v >= 150000) ORDER BY a, lvl, b"))
    expectedOrder.push_back(row[0]);
  EXPECT_EQ(expectedOrder, order);

  // A member the cube does not have: refused with the clause's name; the cube answers on.
  memory::GridQuery bad = top;
  bad.filters.front().expression = "Tuple([Measures].[Sales], [Time].[Calendar].[2099]) > 0";
  try {
    run(cube.get(), bad);
    ADD_FAILURE() << "an unknown member was accepted";
  } catch (const olap_api::ApiException& e) {
    EXPECT_EQ(0xC2031026u, e.getCode());  // MEMORY_E_CLAUSE
    EXPECT_NE(std::string::npos, e.getMessage().string().find("top"));
    EXPECT_NE(std::string::npos, e.getMessage().string().find("[2099]"));
  }
  EXPECT_EQ(grid, run(cube.get(), top));
}

// Filters, sorts and highlights read the grid's own cells where the grid holds what they ask,
// sums of its cells where those tile a member (a year over its months, the whole of Time over
// every month), and the facts for anything else: a year the columns do not hold, a slicer
// member they override, a measure that is not on the grid. Every way gives SQL's numbers.
TEST_F(MemoryCalculationTest, ClausesReadTheGridOrTheFactsAndAgreeWithSql) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  const auto& sql = vtq_testing::SampleOracle::get();
  auto first_column = [&](const std::string& statement) {
    std::vector<std::string> out;
    for (const auto& row : sql.rows(statement)) out.push_back(row[0]);
    return out;
  };
  const std::string bySubcategory =
      "SELECT p.subcategory, SUM(f.sales) AS v FROM facts f JOIN products p ON p.item = f.item"
      " JOIN months m ON m.month = f.month JOIN cities c ON c.city = f.city";

  // Every month on the columns: the 2024 ranking sums twelve month cells per row, the filter on
  // all of time every month cell of the row.
  const auto median = sql.rows("SELECT v FROM (" + bySubcategory + " GROUP BY 1) ORDER BY v LIMIT 1 OFFSET 5");
  ASSERT_EQ(1u, median.size());
  memory::GridQuery months;
  months.axes.push_back({{{"[Time].[Calendar]", members(kMonths)}}});
  months.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  months.filters.push_back({1, "[Measures].[Sales] > " + TOVAString(median[0][0]), "above the median"});
  months.filters.push_back({1, "TopCount(Members([Product].[Subcategory]), 6, Tuple([Measures].[Sales], [Time].[Calendar].[2024]))", "top"});
  months.sorts.push_back({1, "Tuple([Time].[Calendar].[2024])", true, false, "by 2024"});
  // Month captions repeat across years: the rows are checked by their totals.
  months.subtotals.push_back({0, 0, 0, 1, "All months", "SubTotal_months", "subtotal"});
  std::vector<std::string> order;
  const Grid monthly = run(cube.get(), months, &order);
  // The six best of 2024 that are above the median over all years, best first.
  EXPECT_EQ(first_column("WITH t AS (" + bySubcategory + " WHERE m.year = 2024 GROUP BY 1 ORDER BY v DESC LIMIT 6),"
                         " a AS (" + bySubcategory + " GROUP BY 1)"
                         " SELECT t.subcategory FROM t JOIN a USING (subcategory) WHERE a.v > " +
                         std::string(median[0][0]) + " ORDER BY t.v DESC"),
            order);
  EXPECT_FALSE(order.empty());
  for (const std::string& row : order) {
    const auto expected = sql.rows(bySubcategory + " WHERE p.subcategory = '" + row + "' GROUP BY 1");
    ASSERT_EQ(1u, expected.size());
    ASSERT_TRUE(monthly.at({"All months", row})) << row;
    EXPECT_NEAR(std::stod(expected[0][1]), *monthly.at({"All months", row}), 0.005) << row;
  }

  // Only the months of 2024 on the columns: the ranking by 2023 reads the facts.
  memory::GridQuery year;
  year.axes.push_back({{{"[Time].[Calendar]",
                         members("SELECT '[Time].[Calendar].[' || year || '].[' || quarter || '].[' || month_name || ']'"
                                 " FROM months WHERE year = '2024' ORDER BY month")}}});
  year.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  year.filters.push_back({1, "TopCount(Members([Product].[Subcategory]), 4, Tuple([Measures].[Sales], [Time].[Calendar].[2023]))", "top"});
  year.sorts.push_back({1, "Tuple([Measures].[Sales], [Time].[Calendar].[2023])", true, false, "by 2023"});
  const Grid only2024 = run(cube.get(), year, &order);
  const std::string top2023 = bySubcategory + " WHERE m.year = 2023 GROUP BY 1 ORDER BY v DESC LIMIT 4";
  EXPECT_EQ(first_column(top2023), order);
  expect_grid(oracle("SELECT m.month_name, p.subcategory, SUM(f.sales) FROM facts f JOIN products p ON p.item = f.item"
                     " JOIN months m ON m.month = f.month WHERE m.year = 2024 AND p.subcategory IN (SELECT subcategory FROM (" +
                     top2023 + ")) GROUP BY 1, 2"),
              only2024);

  // Cells of Europe, rows chosen by the Pacific against Europe and sorted by the Pacific over
  // every month: the tuples override the slicer, so the grid's cells cannot tell.
  memory::GridQuery sliced = months;
  sliced.slicer.push_back({"[Geography]", {"[Geography].[Europe]"}});
  sliced.filters = {{1, "Tuple([Measures].[Sales], [Geography].[Pacific]) / Tuple([Measures].[Sales], [Geography].[Europe]) > 0.55",
                     "Pacific against Europe"}};
  sliced.sorts.front().tuple = "Tuple([Geography].[Pacific])";
  const Grid europe = run(cube.get(), sliced, &order);
  EXPECT_EQ(first_column("SELECT p.subcategory FROM facts f JOIN products p ON p.item = f.item JOIN cities c ON c.city = f.city"
                         " GROUP BY 1 HAVING SUM(CASE WHEN c.region = 'Pacific' THEN f.sales END) >"
                         " 0.55 * SUM(CASE WHEN c.region = 'Europe' THEN f.sales END)"
                         " ORDER BY SUM(CASE WHEN c.region = 'Pacific' THEN f.sales END) DESC"),
            order);
  for (const std::string& row : order) {
    const auto expected = sql.rows(bySubcategory + " WHERE c.region = 'Europe' AND p.subcategory = '" + row + "' GROUP BY 1");
    ASSERT_EQ(1u, expected.size());
    ASSERT_TRUE(europe.at({"All months", row})) << row;
    EXPECT_NEAR(std::stod(expected[0][1]), *europe.at({"All months", row}), 0.005) << row;
  }

  // Sales by category and year: a rule on Cost, which the grid does not hold, reads the facts.
  memory::GridQuery costly;
  costly.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  costly.axes.push_back({{{"[Product]", members(kCategories)}}});
  costly.highlights = {{"[Measures].[Cost] > 2000000", "Costly", 2, 2, "costly"}};
  Bands costlyBands;
  run(cube.get(), costly, nullptr, &costlyBands);
  Bands costlyExpected;
  for (const auto& row : sql.rows("SELECT m.year, p.category FROM facts f JOIN products p ON p.item = f.item"
                                  " JOIN months m ON m.month = f.month GROUP BY 1, 2 HAVING SUM(f.cost) > 2000000"))
    costlyExpected[{row[0], row[1]}] = {2, "Costly"};
  EXPECT_FALSE(costlyExpected.empty());
  EXPECT_EQ(costlyExpected, costlyBands);

  // Sales and Quantity by year on the columns: a rule on Quantity marks the Sales cell beside
  // each Quantity it holds for; one on Cost, which the measures there lack, reads the facts.
  memory::GridQuery both;
  both.axes.push_back({{{"[Time].[Calendar]", members(kYears)}, measures({"[Measures].[Sales]", "[Measures].[Quantity]"})}});
  both.axes.push_back({{{"[Product]", members(kCategories)}}});
  both.highlights = {{"[Measures].[Quantity] > 12000", "Many", 1, 1, "many"},
                     {"[Measures].[Cost] > 2000000", "Costly", 2, 2, "costly"}};
  Bands bands;
  run(cube.get(), both, nullptr, &bands);
  Bands expected;
  for (const auto& row : sql.rows("SELECT m.year, p.category, SUM(f.quantity), SUM(f.cost) FROM facts f"
                                  " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2")) {
    const bool many = std::stod(row[2]) > 12000, costly = std::stod(row[3]) > 2000000;
    if (!many && !costly) continue;
    for (const char* measure : {"Sales", "Quantity"})
      expected[{row[0] + "|" + measure, row[1]}] = costly ? std::pair<int, std::string>{2, "Costly"}
                                                          : std::pair<int, std::string>{1, "Many"};
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(expected, bands);
}

namespace {

// Highlights over categories by years: the rule of highest solve order wins whatever the order
// of the list, a rule that holds nowhere marks nothing, and an expression that does not parse
// fails the query naming the rule while the cube answers the next query.
TEST_F(MemoryCalculationTest, HighlightsMarkTheCellsSqlSelects) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  memory::GridQuery query;
  query.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  query.axes.push_back({{{"[Product]", members(kCategories)}}});
  query.highlights = {{"[Measures].[Sales] > 4000000", "Huge", 2, 5, "huge"},
                      {"[Measures].[Sales] > 3000000", "Big", 1, 3, "big"},
                      {"[Measures].[Sales] < 0", "Never", 7, 9, "never"}};
  Bands bands;
  run(cube.get(), query, nullptr, &bands);
  // SQL: the band of each cell by the same thresholds.
  const char* sql =
      "SELECT m.year, p.category,"
      " CASE WHEN SUM(f.sales) > 4000000 THEN 2 WHEN SUM(f.sales) > 3000000 THEN 1 END"
      " FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month"
      " GROUP BY m.year, p.category HAVING SUM(f.sales) > 3000000";
  Bands expected;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql))
    expected[{row[0], row[1]}] = {std::stoi(row[2]), row[2] == "2" ? "Huge" : "Big"};
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(expected, bands);

  query.highlights.push_back({"[Measures].[Sales] >", "Bad", 3, 0, "highlight Bad"});
  try {
    run(cube.get(), query);
    ADD_FAILURE() << "a highlight that does not parse was evaluated";
  } catch (const olap_api::ApiException& e) {
    EXPECT_EQ(0xC2031026u, e.getCode());  // MEMORY_E_CLAUSE
    EXPECT_NE(std::string::npos, e.getMessage().string().find("highlight Bad")) << e.getMessage().string();
  }
  query.highlights.pop_back();
  bands.clear();
  run(cube.get(), query, nullptr, &bands);
  EXPECT_EQ(expected, bands);
}

}  // namespace

namespace {

// Subtotals on both axes: yearly columns with their maximum after them, subcategory rows with a
// sum after each category's and an average of the whole axis before them. Row totals aggregate
// the cells of the rows they total, the maximum column included.
TEST_F(MemoryCalculationTest, SubtotalsEqualSql) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  memory::GridQuery query;
  query.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  query.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  query.subtotals = {{1, 0, 1, 1, "Sum", "SubTotal_a", "subtotal a"},
                     {1, 1, 0, 0, "Average", "SubTotal_b", "subtotal b"},
                     {0, 3, 0, 1, "Maximum", "SubTotal_c", "subtotal c"},
                     {1, 4, 1, 1, "Count", "SubTotal_d", "subtotal d"}};
  std::vector<std::string> rowOrder;
  const Grid grid = run(cube.get(), query, &rowOrder);
  const Grid expected = oracle(
      "WITH s AS (SELECT p.category c, p.subcategory sc, CAST(m.year AS TEXT) y, SUM(f.sales) v"
      "  FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2, 3),"
      " cells AS (SELECT c, sc, y, v FROM s UNION ALL SELECT c, sc, 'Maximum', MAX(v) FROM s GROUP BY c, sc)"
      " SELECT y, sc, v FROM cells"
      " UNION ALL SELECT y, c || ' Sum', SUM(v) FROM cells GROUP BY y, c"
      " UNION ALL SELECT y, c || ' Count', COUNT(v) FROM cells GROUP BY y, c"
      " UNION ALL SELECT y, 'Average', AVG(v) FROM cells GROUP BY y");
  expect_grid(expected, grid);
  // The average stands first; each category's sum, then its count, right after its subcategories.
  const auto categories = vtq_testing::SampleOracle::get().rows(
      "SELECT category, subcategory FROM products GROUP BY 1, 2 ORDER BY 1, 2");
  ASSERT_FALSE(rowOrder.empty());
  EXPECT_EQ("Average", rowOrder.front());
  std::map<std::string, std::string> categoryOf;
  for (const auto& row : categories) categoryOf[row[1]] = row[0];
  std::string open;
  for (size_t r = 1; r < rowOrder.size(); ++r) {
    const std::string& caption = rowOrder[r];
    if (categoryOf.count(caption)) {
      if (open.empty()) open = categoryOf[caption];
      EXPECT_EQ(open, categoryOf[caption]) << caption;
    } else if (caption == open + " Sum") {
      ASSERT_LT(r + 1, rowOrder.size());
      EXPECT_EQ(open + " Count", rowOrder[++r]);
      open.clear();
    } else {
      ADD_FAILURE() << "unexpected row " << caption;
    }
  }
  EXPECT_TRUE(open.empty());

  query.subtotals.push_back({1, 7, 0, 1, "Odd", "SubTotal_e", "subtotal e"});
  try {
    run(cube.get(), query);
    ADD_FAILURE() << "a subtotal of an unknown operation was evaluated";
  } catch (const olap_api::ApiException& e) {
    EXPECT_EQ(0xC2031026u, e.getCode());  // MEMORY_E_CLAUSE
    EXPECT_NE(std::string::npos, e.getMessage().string().find("subtotal e")) << e.getMessage().string();
  }
}

}  // namespace

namespace {

// Dynamic calculations on subcategory rows by year, each right after the row it names: shares
// of the axis total and of the parent (read from the cube, the categories not being on the
// axis), a rank, a running sum in axis order, and difference and ratio to the previous row. A
// column total of the years is computed like a year; the cube has no parent value there.
TEST_F(MemoryCalculationTest, DynamicCalculationsEqualSqlWindows) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  memory::GridQuery query;
  query.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  query.axes.push_back({{{"[Product]", members(kSubcategories)}}});
  const std::vector<std::pair<std::string, int>> calculations = {
      {"Road", 0}, {"Road", 1}, {"Touring", 2}, {"Helmets", 3}, {"Mountain", 4}, {"Mountain", 5}};
  for (const auto& [subcategory, type] : calculations) {
    const auto rows = vtq_testing::SampleOracle::get().rows(
        "SELECT '[Product].[' || category || '].[' || subcategory || ']' FROM products WHERE subcategory = '" +
        subcategory + "' LIMIT 1");
    ASSERT_EQ(1u, rows.size()) << subcategory;
    query.calculations.push_back({1, type, {TOVAString(rows[0][0])}, TOVAString("T" + std::to_string(type)), "", "calc"});
  }
  query.subtotals = {{0, 0, 0, 1, "Sum", "SubTotal_s", "subtotal s"}};
  std::vector<std::string> rowOrder;
  const Grid grid = run(cube.get(), query, &rowOrder);
  // The axis order is the order of the members given: by category, then subcategory.
  const Grid expected = oracle(
      "WITH y AS (SELECT p.category c, p.subcategory sc, CAST(m.year AS TEXT) y, SUM(f.sales) v"
      "  FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month GROUP BY 1, 2, 3),"
      " s AS (SELECT * FROM y UNION ALL SELECT c, sc, 'Sum', SUM(v) FROM y GROUP BY c, sc),"
      " w AS (SELECT c, sc, y, v, v / SUM(v) OVER (PARTITION BY y) share,"
      "  CASE WHEN y <> 'Sum' THEN v / SUM(v) OVER (PARTITION BY y, c) END parentShare, RANK() OVER (PARTITION BY y ORDER BY v DESC) rnk,"
      "  SUM(v) OVER (PARTITION BY y ORDER BY c, sc) running, v - LAG(v) OVER (PARTITION BY y ORDER BY c, sc) diff,"
      "  v / LAG(v) OVER (PARTITION BY y ORDER BY c, sc) ratio FROM s)"
      " SELECT y, sc, v FROM w"
      " UNION ALL SELECT y, sc || ' T0', share FROM w WHERE sc = 'Road'"
      " UNION ALL SELECT y, sc || ' T1', parentShare FROM w WHERE sc = 'Road'"
      " UNION ALL SELECT y, sc || ' T2', rnk FROM w WHERE sc = 'Touring'"
      " UNION ALL SELECT y, sc || ' T3', running FROM w WHERE sc = 'Helmets'"
      " UNION ALL SELECT y, sc || ' T4', diff FROM w WHERE sc = 'Mountain'"
      " UNION ALL SELECT y, sc || ' T5', ratio FROM w WHERE sc = 'Mountain'");
  expect_grid(expected, grid, 1e-6);
  for (const auto& [subcategory, type] : calculations) {
    const auto at = std::find(rowOrder.begin(), rowOrder.end(), subcategory);
    ASSERT_NE(rowOrder.end(), at) << subcategory;
    const auto entry = std::find(rowOrder.begin(), rowOrder.end(), subcategory + " T" + std::to_string(type));
    EXPECT_TRUE(entry > at && entry - at <= 2) << subcategory << " T" << type;
  }

  // A tuple the axis does not show adds nothing; an unknown type fails the query by name.
  query.subtotals.clear();
  query.calculations = {{1, 2, {"[Product].[Bikes]"}, "Rank", "", "calc bikes"}};
  EXPECT_EQ(members(kSubcategories).size(), (run(cube.get(), query, &rowOrder), rowOrder.size()));
  query.calculations = {{1, 9, {"[Product].[Bikes]"}, "Odd", "", "calc odd"}};
  try {
    run(cube.get(), query);
    ADD_FAILURE() << "a calculation of an unknown type was evaluated";
  } catch (const olap_api::ApiException& e) {
    EXPECT_EQ(0xC2031026u, e.getCode());  // MEMORY_E_CLAUSE
    EXPECT_NE(std::string::npos, e.getMessage().string().find("calc odd")) << e.getMessage().string();
  }
}

}  // namespace
