// Fact storage and scans of the memory provider: columns as narrow as their contents allow,
// values read back as given, exact integer sums, and scans on several threads (with their
// interruption) that give the numbers of one.

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <optional>
#include <sstream>
#include <thread>

#include "SampleOracle.h"
#include "VtqTest.h"
#include "common/SynchronousChunkHandlerCommon.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "sql_command.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"

namespace {

using memory::GridAxis;
using memory::GridCoordinate;
using memory::GridQuery;
using Cells = std::vector<std::optional<double>>;

class MemoryFactsTest : public vtq_testing::VtqTest {};

Cells cells_of(memory::MemoryCube* cube, const GridQuery& query,
               const std::atomic<bool>* stop = nullptr) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query, stop));
  Cells out;
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(result.get(), 0, -1));
  handler->StartFetch();
  while (auto_unuse<NUVA_o::Chunk> chunk{handler->GetChunk()}) {
    auto* cells = dynamic_cast<memory::MemoryCellDataChunk*>(chunk.get());
    if (!cells) break;
    for (long c = 0; c < cells->getCellCount(); ++c)
      out.push_back(cells->isEmpty(c) ? std::nullopt : std::optional<double>(cells->getValue(c)));
  }
  return out;
}

std::vector<TOVAString> names(const char* format, int count) {
  std::vector<TOVAString> out;
  for (int i = 0; i < count; ++i) out.push_back(TOVAString().build(format, i));
  return out;
}

// A cube of dimensions A (`a` leaves) and B (`b` leaves), each a flat list under All, with the
// given measures and no facts yet.
void declare(memory::CubeBuilder& builder, int a, int b, const std::vector<const char*>& measures) {
  for (auto [dimension, leaves] : {std::pair{"A", a}, std::pair{"B", b}}) {
    builder.addDimension(dimension);
    const TOVAString hierarchy = builder.addHierarchy(dimension, dimension, {"Leaf"});
    for (int i = 0; i < leaves; ++i) {
      const TOVAString key = TOVAString().build("%s%d", TOVAString(dimension), i);
      builder.addPath(hierarchy, key, {key});
    }
  }
  for (const char* measure : measures) builder.addMeasure(measure);
}

// Every value of a column reads back as the very double it was given, whatever the column's
// storage became as values arrived (more decimals, a larger magnitude, too many decimals), and
// the fact table takes the bytes those storages need.
TEST_F(MemoryFactsTest, ValuesReadBackAsGivenInTheNarrowestColumns) {
  const std::vector<double> twoDecimals{1,    2.5,      0.07,
                                        -3.2, 123.4567, 19.99};  // 4 decimals at most: int32
  const std::vector<double> large{1, -7, 5e9, 0.5, 42, 3};       // beyond int32: int64
  const std::vector<double> fine{0.1, 7, 0.12345, 1e-9, 2.75, std::nextafter(1.0, 2.0)};  // doubles
  memory::CubeBuilder builder("Facts");
  declare(builder, 6, 300, {"Two", "Large", "Fine"});
  for (int row = 0; row < 6; ++row)
    builder.addFact(std::vector<int32_t>{row, 299 - row * 50},
                    std::vector<double>{twoDecimals[row], large[row], fine[row]});
  auto_unuse<memory::MemoryCube> cube(builder.build());
  // Keys: 1 byte (6 leaves) and 2 bytes (300 leaves); measures: 4 + 8 + 8 bytes.
  EXPECT_EQ(6u * (1 + 2 + 4 + 8 + 8), cube->getFactBytes());

  GridQuery query;
  query.axes.push_back(GridAxis{{GridCoordinate{"[A]", names("[A].[A%d]", 6)}}});
  query.axes.push_back(GridAxis{{GridCoordinate{
      "[Measures]", {"[Measures].[Two]", "[Measures].[Large]", "[Measures].[Fine]"}}}});
  query.slicer.push_back(GridCoordinate{"[B]", {"[B].[All]"}});
  const Cells cells = cells_of(cube.get(), query);
  ASSERT_EQ(18u, cells.size());
  for (size_t row = 0; row < 6; ++row) {
    EXPECT_EQ(twoDecimals[row], cells[row]) << row;
    EXPECT_EQ(large[row], cells[6 + row]) << row;
    EXPECT_EQ(fine[row], cells[12 + row]) << row;
  }

  // Leaf indexes past 255 and 65,535 widen a key column as they arrive; rows added before keep
  // their keys.
  memory::CubeBuilder wide("Wide");
  declare(wide, 70000, 2, {"M"});
  for (int32_t leaf : {0, 5, 300, 69999, 7})
    wide.addFact(std::vector<int32_t>{leaf, 1}, std::vector<double>{leaf + 0.5});
  auto_unuse<memory::MemoryCube> wideCube(wide.build());
  EXPECT_EQ(5u * (4 + 1 + 4), wideCube->getFactBytes());
  GridQuery leaves;
  leaves.axes.push_back(GridAxis{
      {GridCoordinate{"[A]", {"[A].[A0]", "[A].[A5]", "[A].[A300]", "[A].[A69999]", "[A].[A7]"}}}});
  EXPECT_EQ((Cells{0.5, 5.5, 300.5, 69999.5, 7.5}), cells_of(wideCube.get(), leaves));
}

// A fact table's value texts are read from their digits where they are plain decimals, and by
// the general conversion otherwise. Either way the loaded column holds, in the same storage,
// what a builder given the general conversion of each text holds: signs, leading and trailing
// zeros, widening past 32 bits, more decimals arriving, values at the edge of exact integers,
// and texts only the general conversion reads.
TEST_F(MemoryFactsTest, LoadedValueTextsEqualTheirGeneralConversion) {
  const std::vector<std::vector<const char*>> columns{
      {"4350.00", "3", "-2730.50", "0.07", "007.10", "-0", "-0.00", ".5", "5."},
      {"1", "2147483647", "2147483648", "-2147483649", "0.5"},
      {"2147483.00", "2147483647", "-2147483648.0000"},
      {"12.5", "0.00001", "3"},
      {"0.0001", "899999999999", "-899999999999"},
      {"0.0001", "89999999999.9999", "900000000000"},
      {"123456789012345", "1.5", "-999999999999999"},
      {"000000000000000000000012.25", "0.0000000000000000000001", "1.0000000000000000000000"},
      {"1e3", "+2.5", "2.5E-2", "1234567890123456789", "0.1234567890123456", "-12345678901234567"},
  };
  for (const auto& texts : columns) {
    const int n = static_cast<int>(texts.size());
    memory::CubeBuilder builder("Expected");
    builder.addDimension("A");
    builder.addHierarchy("A", "A", {"Leaf"});
    std::string keys = "a\n", facts = "a,m\n";
    for (int i = 0; i < n; ++i) {
      const std::string key = "A" + std::to_string(i);
      builder.addPath("[A]", TOVAString(key), {TOVAString(key)});
      keys += key + "\n";
      facts += key + "," + texts[static_cast<size_t>(i)] + "\n";
    }
    builder.addMeasure("M");
    for (int i = 0; i < n; ++i) {
      double value = 0;
      ASSERT_TRUE(StringConverters::convertUtf8ToReal(texts[static_cast<size_t>(i)], value)) << texts[static_cast<size_t>(i)];
      builder.addFact(std::vector<int32_t>{i}, std::vector<double>{value});
    }
    auto_unuse<memory::MemoryCube> expected(builder.build());
    const memory::FileSet files{
        {"/t/c.cube.xml",
         "<Cube name='Loaded'><Dimension name='A' table='a.csv' key='a'><Hierarchy name='A'>"
         "<Level name='Leaf' column='a'/></Hierarchy></Dimension><Measures><Measure name='M' "
         "column='m'/></Measures><Facts table='f.csv'><Key dimension='A' column='a'/></Facts></Cube>"},
        {"/t/a.csv", keys},
        {"/t/f.csv", facts}};
    auto_unuse<memory::MemoryCube> loaded(memory::loadCube("/t/c.cube.xml", files));
    const std::string story = facts;
    // The storage: 1 key byte and 4 or 8 value bytes a row.
    EXPECT_EQ(expected->getFactBytes(), loaded->getFactBytes()) << story;
    GridQuery query;
    query.axes.push_back(GridAxis{{GridCoordinate{"[A]", names("[A].[A%d]", n)}}});
    const Cells want = cells_of(expected.get(), query);
    const Cells got = cells_of(loaded.get(), query);
    ASSERT_EQ(want.size(), got.size()) << story;
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_TRUE(want[i] && got[i]) << story << i;
      // Bit for bit: the sign of zero included.
      EXPECT_EQ(std::bit_cast<uint64_t>(*want[i]), std::bit_cast<uint64_t>(*got[i])) << texts[i] << ": " << *got[i];
    }
  }
}

// A cube of `rows` facts spread over 4 x 3 cells, each row with Cents = 0.1 and Fine = 1/3.
memory::MemoryCube* tenths_cube(size_t rows) {
  memory::CubeBuilder builder("Tenths");
  declare(builder, 4, 3, {"Cents", "Fine"});
  std::vector<int32_t> keys(2);
  const std::vector<double> values{0.1, 1.0 / 3.0};
  for (size_t r = 0; r < rows; ++r) {
    keys[0] = static_cast<int32_t>(r % 4);
    keys[1] = static_cast<int32_t>(r % 3);
    builder.addFact(keys, values);
  }
  return builder.build();
}

GridQuery tenths_query() {
  GridQuery query;
  query.axes.push_back(
      GridAxis{{GridCoordinate{"[A]", names("[A].[A%d]", 4)},
                GridCoordinate{"[Measures]", {"[Measures].[Cents]", "[Measures].[Fine]"}}}});
  query.axes.push_back(GridAxis{{GridCoordinate{"[B]", names("[B].[B%d]", 3)}}});
  return query;
}

// Regression: sums were added up in doubles, so 0.1 added 25,000 times gave 2499.9999999996
// rather than 2500. Integer-stored columns sum exactly on any number of threads; double
// columns agree across thread counts within rounding.
TEST_F(MemoryFactsTest, IntegerSumsAreExactOnEveryThreadCount) {
  const size_t rows = 300000;  // several morsels
  auto_unuse<memory::MemoryCube> cube(tenths_cube(rows));
  EXPECT_EQ(rows * (1 + 1 + 4 + 8), cube->getFactBytes());
  const GridQuery query = tenths_query();
  Cells first;
  for (unsigned threads : {1u, 2u, 3u}) {
    cube->setScanThreads(threads);
    EXPECT_EQ(threads, cube->getScanThreads());
    const Cells cells = cells_of(cube.get(), query);
    ASSERT_EQ(24u, cells.size());
    for (size_t c = 0; c < cells.size(); ++c) {
      // Rows r with r % 4 == a and r % 3 == b: one in 12 of them.
      const double facts = static_cast<double>(rows / 12);
      ASSERT_TRUE(cells[c].has_value()) << c;
      if (c % 2 == 0)
        EXPECT_EQ(facts / 10, *cells[c]) << threads << " threads, cell " << c;
      else
        EXPECT_NEAR(facts / 3, *cells[c], 1e-9 * facts) << threads << " threads, cell " << c;
      if (!first.empty() && c % 2 == 0) {
        EXPECT_EQ(first[c], cells[c]);
      }
    }
    if (first.empty()) first = cells;
  }
  cube->setScanThreads(0);
  EXPECT_EQ(std::max(1u, std::thread::hardware_concurrency()), cube->getScanThreads());

  // A flat request sums the same way on one thread and on two.
  std::string one, two;
  for (unsigned threads : {1u, 2u}) {
    cube->setScanThreads(threads);
    std::ostringstream out;
    vtq::runStatement(cube.get(),
                      "SELECT [A].[Leaf], [Measures].[Cents] FROM [A] WHERE [B].[Leaf] <> 'B2'",
                      true, out);
    (threads == 1 ? one : two) = out.str();
  }
  EXPECT_EQ("[A].[Leaf],[Measures].[Cents]\nA0,5000\nA1,5000\nA2,5000\nA3,5000\n", one);
  EXPECT_EQ(one, two);
}

// Money of the sample cube is stored as cents: every total equals SQLite's rounded to the
// cent, exactly, and so does the linear calculated measure Margin (Sales - Cost).
TEST_F(MemoryFactsTest, SampleTotalsEqualSqliteToTheCent) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  const auto& oracle = vtq_testing::SampleOracle::get();
  const auto expected = oracle.rows(
      "SELECT p.category, substr(f.month, 1, 4), round(sum(f.sales), 2), round(sum(f.cost), 2), "
      "round(sum(f.sales - f.cost), 2) FROM facts f JOIN products p ON p.item = f.item GROUP BY 1, "
      "2");
  ASSERT_FALSE(expected.empty());
  for (const auto& row : expected) {
    GridQuery query;
    query.axes.push_back(GridAxis{{GridCoordinate{
        "[Measures]", {"[Measures].[Sales]", "[Measures].[Cost]", "[Measures].[Margin]"}}}});
    query.slicer.push_back(
        GridCoordinate{"[Product]", {TOVAString("[Product].[") + TOVAString(row[0]) + "]"}});
    query.slicer.push_back(GridCoordinate{
        "[Time].[Calendar]", {TOVAString("[Time].[Calendar].[") + TOVAString(row[1]) + "]"}});
    const Cells cells = cells_of(cube.get(), query);
    ASSERT_EQ(3u, cells.size());
    for (size_t m = 0; m < 3; ++m)
      EXPECT_EQ(std::stod(row[2 + m]), cells[m]) << row[0] << " " << row[1] << " " << m;
  }
}

// Calculated measures that are sums of stored measures times integers are summed as columns of
// their own; they give what the evaluator gives for the same expression written otherwise,
// and a measure stored as doubles still goes through the evaluator.
TEST_F(MemoryFactsTest, LinearCalculatedMeasuresEqualTheirTerms) {
  memory::CubeBuilder builder("Linear");
  declare(builder, 3, 2, {"Sales", "Cost", "Ratio"});
  const double sales[] = {10.25, 3.5, 7.01, 100};
  const double cost[] = {4.1, 1, 2.02, 55.55};
  const double ratio[] = {0.123456, 1.5, 2.000001, 3};
  for (int r = 0; r < 4; ++r)
    builder.addFact(std::vector<int32_t>{r % 3, r % 2},
                    std::vector<double>{sales[r], cost[r], ratio[r]});
  builder.addCalculation("[Measures]", "Twice", "2 * [Measures].[Sales] - ([Measures].[Cost] * 3)",
                         NUVA_o::CF_NUMBER);
  builder.addCalculation("[Measures]", "Negated", "-[Measures].[Cost]", NUVA_o::CF_NUMBER);
  builder.addCalculation("[Measures]", "Mixed", "[Measures].[Sales] + [Measures].[Ratio]",
                         NUVA_o::CF_NUMBER);
  builder.addCalculation("[Measures]", "Scaled", "[Measures].[Sales] * 1.5", NUVA_o::CF_NUMBER);
  auto_unuse<memory::MemoryCube> cube(builder.build());
  GridQuery query;
  query.axes.push_back(GridAxis{{GridCoordinate{"[A]", names("[A].[A%d]", 3)}}});
  query.axes.push_back(GridAxis{{GridCoordinate{"[Measures]",
                                                {"[Measures].[Twice]", "[Measures].[Negated]",
                                                 "[Measures].[Mixed]", "[Measures].[Scaled]"}}}});
  const Cells cells = cells_of(cube.get(), query);
  // A0 holds rows 0 and 3, A1 row 1, A2 row 2.
  const std::vector<std::vector<int>> rowsOf{{0, 3}, {1}, {2}};
  ASSERT_EQ(12u, cells.size());
  for (size_t a = 0; a < 3; ++a) {
    double s = 0, c = 0, q = 0;
    for (int r : rowsOf[a]) s += sales[r], c += cost[r], q += ratio[r];
    EXPECT_NEAR(2 * s - 3 * c, cells[a].value_or(-1), 1e-9) << a;
    EXPECT_NEAR(-c, cells[3 + a].value_or(-1), 1e-9) << a;
    EXPECT_NEAR(s + q, cells[6 + a].value_or(-1), 1e-9) << a;
    EXPECT_NEAR(s * 1.5, cells[9 + a].value_or(-1), 1e-9) << a;
  }
  // Exact where every term is stored as cents: 2 * 110.25 - 3 * 59.65 = 41.55.
  EXPECT_EQ(41.55, cells[0]);
}

// Regression guard for threads: an interrupt raised while several threads scan stops every
// one of them promptly, and the cube answers the next query in full.
TEST_F(MemoryFactsTest, InterruptStopsEveryScanThread) {
  const size_t rows = 2400000;
  auto_unuse<memory::MemoryCube> cube(tenths_cube(rows));
  cube->setScanThreads(3);
  const GridQuery query = tenths_query();
  std::atomic<bool> stop{false};
  bool interrupted = false;
  std::chrono::steady_clock::time_point raised;
  for (int attempt = 0; attempt < 200 && !interrupted; ++attempt) {
    stop = false;
    std::atomic<bool> started{false};
    std::thread interrupter([&] {
      while (!started) std::this_thread::yield();
      raised = std::chrono::steady_clock::now();
      stop = true;
    });
    try {
      started = true;
      cells_of(cube.get(), query, &stop);
    } catch (const olap_api::RunTimeException& e) {
      EXPECT_EQ(0xC2031023u, e.getCode());
      interrupted = true;
    }
    interrupter.join();
    if (interrupted) {
      EXPECT_LT(std::chrono::steady_clock::now() - raised, std::chrono::seconds(2))
          << "the scan went on";
    }
  }
  EXPECT_TRUE(interrupted);
  stop = false;
  const Cells cells = cells_of(cube.get(), query, &stop);
  ASSERT_EQ(24u, cells.size());
  EXPECT_EQ(static_cast<double>(rows / 12) / 10, cells[0]);
}

}  // namespace
