// Grid queries of the memory provider: sums checked against the sample CSV files, upper levels,
// slicers, measures, refusals, interruption, chunk delivery and closing.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "SampleOracle.h"
#include "VtqTest.h"
#include "common/SynchronousChunkHandlerCommon.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/Exceptions.h"

namespace {

using memory::GridAxis;
using memory::GridCoordinate;
using memory::GridQuery;
using memory::MemoryResultSet;

// Joins every fact with its product, city and month, for the oracle's statements.
const char* const kJoined =
    " FROM facts f JOIN products p ON p.item = f.item JOIN cities c ON c.city = f.city"
    " JOIN months m ON m.month = f.month";

double oracle_number(const std::string& select) {
  return std::stod(vtq_testing::SampleOracle::get().rows(select + kJoined).at(0).at(0));
}

GridCoordinate coordinate(const TOVAString& hierarchy, std::vector<TOVAString> members) {
  return GridCoordinate{hierarchy, std::move(members)};
}

// Every cell as "column|row=value" (empty cells as "-"), reading chunks as a consumer would.
struct Grid {
  std::vector<std::string> columns, rows;
  std::vector<std::string> cells;  // ordinal order
  std::string at(size_t row, size_t column) const { return cells[row * columns.size() + column]; }
};

std::string number(double v) {
  std::ostringstream out;
  out.precision(15);
  out << v;
  return out.str();
}

std::vector<std::string> axis_captions(MemoryResultSet* result, int axis) {
  std::vector<std::string> out;
  auto_unuse<SynchronousChunkHandlerCommon> handler(new SynchronousChunkHandlerCommon(result, axis, 0, -1));
  handler->StartFetch();
  while (auto_unuse<NUVA_o::Chunk> chunk{handler->GetChunk()}) {
    auto* tuples = dynamic_cast<memory::MemoryAxisChunk*>(chunk.get());
    EXPECT_NE(nullptr, tuples);
    if (!tuples) break;
    EXPECT_EQ(axis, tuples->getAxis());
    EXPECT_EQ(static_cast<long>(out.size()), tuples->getFirstTuple());
    for (long t = 0; t < tuples->getTupleCount(); ++t) {
      std::string caption;
      for (int h = 0; h < tuples->getHierarchyCount(); ++h)
        caption += (h ? "|" : "") + tuples->getMemberCaption(t, h).string();
      out.push_back(caption);
    }
  }
  return out;
}

std::vector<std::string> cell_texts(MemoryResultSet* result) {
  std::vector<std::string> out;
  auto_unuse<SynchronousChunkHandlerCommon> handler(new SynchronousChunkHandlerCommon(result, 0, -1));
  handler->StartFetch();
  while (auto_unuse<NUVA_o::Chunk> chunk{handler->GetChunk()}) {
    auto* cells = dynamic_cast<memory::MemoryCellDataChunk*>(chunk.get());
    EXPECT_NE(nullptr, cells);
    if (!cells) break;
    EXPECT_EQ(static_cast<long>(out.size()), cells->getFirstCell());
    for (long c = 0; c < cells->getCellCount(); ++c)
      out.push_back(cells->isEmpty(c) ? "-" : number(cells->getValue(c)));
  }
  return out;
}

Grid read_grid(MemoryResultSet* result) {
  Grid grid;
  grid.columns = axis_captions(result, 0);
  grid.rows = result->getAxisCount() > 1 ? axis_captions(result, 1) : std::vector<std::string>{""};
  grid.cells = cell_texts(result);
  EXPECT_EQ(grid.columns.size() * grid.rows.size(), grid.cells.size());
  return grid;
}

// Compares a grid with sums keyed by (row caption, column caption); absent keys are empty.
void expect_sums(const Grid& grid, const std::map<std::pair<std::string, std::string>, double>& sums) {
  for (size_t r = 0; r < grid.rows.size(); ++r)
    for (size_t c = 0; c < grid.columns.size(); ++c) {
      auto it = sums.find({grid.rows[r], grid.columns[c]});
      if (it == sums.end()) {
        EXPECT_EQ("-", grid.at(r, c)) << grid.rows[r] << " / " << grid.columns[c];
      } else {
        ASSERT_NE("-", grid.at(r, c)) << grid.rows[r] << " / " << grid.columns[c];
        EXPECT_NEAR(it->second, std::stod(grid.at(r, c)), 1e-6 * std::max(1.0, std::fabs(it->second)))
            << grid.rows[r] << " / " << grid.columns[c];
      }
    }
}

class MemoryQueryTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<MemoryResultSet> run(const GridQuery& query) {
    return auto_unuse<MemoryResultSet>(memory::executeGridQuery(m_pCube.get(), query));
  }

  static const std::vector<TOVAString>& years() {
    static const std::vector<TOVAString> names{"[Time].[Calendar].[2023]", "[Time].[Calendar].[2024]",
                                               "[Time].[Calendar].[2025]"};
    return names;
  }
  static const std::vector<TOVAString>& categories() {
    static const std::vector<TOVAString> names{"[Product].[Bikes]", "[Product].[Components]",
                                               "[Product].[Clothing]", "[Product].[Accessories]"};
    return names;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(MemoryQueryTest, SumsByCategoryAndYearEqualTheCsvFiles) {
  const auto& oracle = vtq_testing::SampleOracle::get();
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Time].[Calendar]", years())}});
  query.axes.push_back(GridAxis{{coordinate("[Product]", categories())}});
  auto result = run(query);
  EXPECT_EQ(2, result->getAxisCount());
  EXPECT_EQ(3, result->getTupleCount(0));
  EXPECT_EQ(4, result->getTupleCount(1));
  EXPECT_EQ(12, result->getCellCount());
  EXPECT_EQ(std::vector<TOVAString>{"[Measures].[Sales]"}, result->getSlicer());
  expect_sums(read_grid(result.get()),
              oracle.pairSums(std::string("SELECT p.category, m.year, SUM(f.sales)") + kJoined +
                              " GROUP BY 1, 2"));

  // Leaf levels on both axes with a region slicer and another measure: Quantity of
  // Subcategory by Month in Europe, months of 2024 only.
  std::vector<TOVAString> subcategories;
  for (const auto& row : oracle.rows("SELECT DISTINCT category, subcategory FROM products"))
    subcategories.push_back(TOVAString().build("[Product].[%s].[%s]", row[0].c_str(), row[1].c_str()));
  std::vector<TOVAString> months;
  const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 0; m < 12; ++m)
    months.push_back(TOVAString().build("[Time].[Calendar].[2024].[Q%d].[%s]", m / 3 + 1, names[m]));
  GridQuery detail;
  detail.axes.push_back(GridAxis{{coordinate("[Time].[Calendar]", months)}});
  detail.axes.push_back(GridAxis{{coordinate("[Product]", subcategories)}});
  detail.slicer.push_back(coordinate("[Geography]", {"[Geography].[Europe]"}));
  detail.slicer.push_back(coordinate("[Measures]", {"[Measures].[Quantity]"}));
  auto detailed = run(detail);
  EXPECT_EQ((std::vector<TOVAString>{"[Geography].[Europe]", "[Measures].[Quantity]"}), detailed->getSlicer());
  expect_sums(read_grid(detailed.get()),
              oracle.pairSums(std::string("SELECT p.subcategory, m.month_name, SUM(f.quantity)") +
                              kJoined + " WHERE c.region = 'Europe' AND m.year = 2024 GROUP BY 1, 2"));
}

// Fact tables are read in blocks of 1 MiB, the first of which ends at that offset of the file.
// Whatever lies across the end of a block (a line break of two bytes, a doubled quote, a closing
// quote, a UTF-8 sequence, a lone CR, a record longer than the block) must read as if the table
// were read whole; problems past the first block name their own line and byte offset.
TEST_F(MemoryQueryTest, FactTablesReadInBlocksSumAsTheCsvFiles) {
  namespace fs = std::filesystem;
  const fs::path sample = fs::path(vtq_testing::sampleCubePath()).parent_path();
  const fs::path dir = fs::path(::testing::TempDir()) / "memory_query_blocks";
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* name : {"sales.cube.xml", "months.csv", "products.csv", "cities.csv"})
    fs::copy_file(sample / name, dir / name);
  std::ifstream in(sample / "facts.csv", std::ios::binary);
  std::string header, line, noted;
  std::getline(in, header);
  size_t records = 0;
  // Every record gains an empty note column, which the cube does not read.
  for (; std::getline(in, line); ++records) noted += line + ",\n";
  const std::string start = header + ",note\n" + noted + noted;
  const size_t kBlock = size_t(1) << 20;
  const std::string padding = "2023-01,Road-150,Lyon,0,0,0,\"";
  ASSERT_LT(start.size() + padding.size() + 8, kBlock);
  auto write = [&](const std::string& text) {
    std::ofstream out(dir / "facts.csv", std::ios::binary | std::ios::trunc);
    out << text;
  };
  // The start, two copies of the records, a record whose note ends in `before` at the end of
  // the first block and goes on with `after`, then a third copy.
  auto astride = [&](const std::string& before, const std::string& after) {
    std::string text = start + padding;
    // A note longer than the block needs no filler.
    if (text.size() + before.size() < kBlock) text.append(kBlock - text.size() - before.size(), 'x');
    return text + before + after + noted;
  };
  const std::string years = "SELECT p.category, m.year, SUM(f.sales)";
  auto sums = vtq_testing::SampleOracle::get().pairSums(years + kJoined + " GROUP BY 1, 2");
  for (auto& sum : sums) sum.second *= 3;
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Time].[Calendar]", this->years())}});
  query.axes.push_back(GridAxis{{coordinate("[Product]", categories())}});
  const std::pair<std::string, std::string> cases[] = {
      {"x\"\r", "\n"},        {"x\"", "\"y\"\n"},       {"x\"", "\n"},
      {"x\xC3", "\xA9\"\n"}, {"x\"\r", ""},            {std::string(kBlock * 3 / 2, 'x') + "\"", "\r\n"}};
  for (const auto& [before, after] : cases) {
    write(astride(before, after));
    m_pCube.reset(memory::loadCube((dir / "sales.cube.xml").string()));
    EXPECT_EQ(static_cast<long>(3 * records + 1), m_pCube->getFactCount()) << before.size();
    expect_sums(read_grid(run(query).get()), sums);
  }

  // Lines as an editor counts them: "\r\n", "\n" and a lone "\r" end one each.
  auto lines_of = [](const std::string& text) {
    int lines = 1;
    for (size_t i = 0; i < text.size(); ++i)
      lines += text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    return lines;
  };
  // A CRLF cut by the block's end counts once.
  const std::string table = astride("x\"\r", "\n") + "2023-01,Road-150,Lyon,1,1,1,\"two\nlines\"\n";
  auto failure = [&](const std::string& bad) {
    write(table + bad);
    try {
      auto_unuse<memory::MemoryCube> cube(memory::loadCube((dir / "sales.cube.xml").string()));
      ADD_FAILURE() << "loaded: " << bad;
    } catch (const olap_api::InvalidArgumentException& e) {
      return e.getMessage().string();
    }
    return std::string();
  };
  const std::string at = (dir / "facts.csv").string() + ", line " + std::to_string(lines_of(table)) + ": ";
  EXPECT_NE(std::string::npos, failure("2023-01,Road-150,Lyon,12.x5,1,1,\n").find(at + "'12.x5' in column 'sales' is not a number"));
  EXPECT_NE(std::string::npos, failure("2023-01,Road-150,Atlantis,1,1,1,\n").find(at + "unknown Geography 'Atlantis' in column 'city'"));
  EXPECT_NE(std::string::npos, failure("2023-01,Road-150\r\n").find(at + "the record has 2 fields; the header has 7"));
  EXPECT_NE(std::string::npos, failure("2023-01,Road-150,Lyon,1,1,1,\"open\n").find(at + "a quoted field is not closed"));
  EXPECT_NE(std::string::npos, failure("2023-01,Road-150,Lyon,1,1,1,caf\xE9\n")
                                   .find(at + "the text is not valid UTF-8 (byte offset " +
                                         std::to_string(table.size() + 31) + ")"));
  // The cube loaded last is still whole.
  expect_sums(read_grid(run(query).get()), sums);
  fs::remove_all(dir);
}

TEST_F(MemoryQueryTest, UpperLevelsAggregateTheirDescendantsAndMeasuresMayLieOnAnAxis) {
  const double total = oracle_number("SELECT SUM(f.sales)");
  const double bikes = oracle_number("SELECT SUM(CASE WHEN p.category = 'Bikes' THEN f.sales END)");
  const double bikesCost = oracle_number("SELECT SUM(CASE WHEN p.category = 'Bikes' THEN f.cost END)");
  const double road = oracle_number("SELECT SUM(CASE WHEN p.subcategory = 'Road' THEN f.sales END)");
  const double europe2025 =
      oracle_number("SELECT SUM(CASE WHEN c.region = 'Europe' AND m.year = 2025 THEN f.sales END)");
  // Overlapping members on one axis: a fact row of a road bike reaches three rows.
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Measures]", {"[Measures].[Sales]", "[Measures].[Cost]"})}});
  query.axes.push_back(GridAxis{{coordinate("[Product]", {"[Product].[All]", "[Product].[Bikes]",
                                                         "[Product].[Bikes].[Road]"})}});
  Grid grid = read_grid(run(query).get());
  EXPECT_EQ((std::vector<std::string>{"Sales", "Cost"}), grid.columns);
  EXPECT_EQ((std::vector<std::string>{"All", "Bikes", "Road"}), grid.rows);
  EXPECT_NEAR(total, std::stod(grid.at(0, 0)), 1e-3);
  EXPECT_NEAR(bikes, std::stod(grid.at(1, 0)), 1e-3);
  EXPECT_NEAR(bikesCost, std::stod(grid.at(1, 1)), 1e-3);
  EXPECT_NEAR(road, std::stod(grid.at(2, 0)), 1e-3);

  // Two hierarchies cross joined on one axis, the last varying fastest, and the same
  // dimension restricted twice (calendar year on the axis, fiscal All in the slicer).
  GridQuery crossed;
  crossed.axes.push_back(GridAxis{{coordinate("[Geography]", {"[Geography].[Europe]", "[Geography].[Pacific]"}),
                                   coordinate("[Time].[Calendar]", {"[Time].[Calendar].[2024]", "[Time].[Calendar].[2025]"})}});
  crossed.slicer.push_back(coordinate("[Time].[Fiscal]", {"[Time].[Fiscal].[All]"}));
  Grid cross = read_grid(run(crossed).get());
  EXPECT_EQ((std::vector<std::string>{"Europe|2024", "Europe|2025", "Pacific|2024", "Pacific|2025"}), cross.columns);
  EXPECT_NEAR(europe2025, std::stod(cross.at(0, 1)), 1e-3);

  // A slicer of two members keeps the facts under either.
  GridQuery either;
  either.axes.push_back(GridAxis{{coordinate("[Product]", {"[Product].[All]"})}});
  either.slicer.push_back(coordinate("[Product].[Product]", {}));  // unknown hierarchy name
  EXPECT_THROW(run(either), olap_api::InvalidArgumentException);
  either.slicer = {coordinate("[Time].[Calendar]", {"[Time].[Calendar].[2023]", "[Time].[Calendar].[2025]"})};
  const double twoYears = oracle_number("SELECT SUM(CASE WHEN m.year <> 2024 THEN f.sales END)");
  EXPECT_NEAR(twoYears, std::stod(read_grid(run(either).get()).at(0, 0)), 1e-3);
}

TEST_F(MemoryQueryTest, EmptyCellsStayEmptyAndBadQueriesAreRefused) {
  memory::CubeBuilder b("Tiny");
  b.addDimension("Store");
  b.addHierarchy("Store", "Store", {"Country", "Store"});
  b.addPath("[Store]", "N", {"Norway", "N"});
  b.addPath("[Store]", "S", {"Spain", "S"});
  b.addMeasure("Units");
  b.addFact(std::vector<TOVAString>{"N"}, {0});
  b.addFact(std::vector<TOVAString>{"N"}, {0});
  auto_unuse<memory::MemoryCube> tiny(b.build());
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Store]", {"[Store].[Norway]", "[Store].[Spain]"})}});
  auto_unuse<MemoryResultSet> result(memory::executeGridQuery(tiny.get(), query));
  // Facts summing to zero give 0; no facts give an empty cell.
  EXPECT_EQ((std::vector<std::string>{"0", "-"}), cell_texts(result.get()));

  try {
    GridQuery bad = query;
    bad.axes[0].hierarchies[0].members.push_back("[Store].[Italy]");
    memory::executeGridQuery(tiny.get(), bad);
    FAIL() << "unknown member accepted";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_NE(std::string::npos, e.getMessage().string().find("[Store].[Italy]"));
  }
  GridQuery twice = query;
  twice.slicer.push_back(coordinate("[Store]", {"[Store].[All]"}));
  EXPECT_THROW(memory::executeGridQuery(tiny.get(), twice), olap_api::InvalidArgumentException);
  GridQuery twoMeasures = query;
  twoMeasures.slicer.push_back(coordinate("[Measures]", {}));
  EXPECT_THROW(memory::executeGridQuery(tiny.get(), twoMeasures), olap_api::InvalidArgumentException);
  EXPECT_THROW(memory::executeGridQuery(nullptr, query), olap_api::InvalidArgumentException);
  // The cube still answers after the refusals.
  auto_unuse<MemoryResultSet> again(memory::executeGridQuery(tiny.get(), query));
  EXPECT_EQ(2, again->getCellCount());
}

TEST_F(MemoryQueryTest, GridsAboveTheCellLimitAreRefused) {
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Time].[Calendar]", years())}});
  query.axes.push_back(GridAxis{{coordinate("[Product]", categories())}});
  EXPECT_EQ(memory::MemoryCube::DEFAULT_QUERY_CELL_LIMIT, m_pCube->getQueryCellLimit());
  EXPECT_EQ(12u, memory::countGridCells(m_pCube.get(), query));
  m_pCube->setQueryCellLimit(11);
  try {
    run(query);
    FAIL() << "a grid of 12 cells passed a limit of 11";
  } catch (const olap_api::QueryTooLargeException& e) {
    EXPECT_NE(std::string::npos, e.getMessage().string().find("12"));
  }
  m_pCube->setQueryCellLimit(12);
  EXPECT_EQ(12, run(query)->getCellCount());
}

// A cube of `rows` facts over 100 products and 120 months, with a fixed seed.
memory::MemoryCube* big_cube(size_t rows) {
  memory::CubeBuilder b("Big");
  b.addDimension("Time");
  b.addHierarchy("Time", "Time", {"Year", "Month"});
  std::vector<int32_t> months, products;
  for (int m = 0; m < 120; ++m) {
    const std::string key = std::to_string(2000 + m / 12) + "-" + std::to_string(m % 12 + 1);
    b.addPath("[Time]", key, {std::to_string(2000 + m / 12), std::to_string(m % 12 + 1)});
    months.push_back(b.leafIndex("Time", key));
  }
  b.addDimension("Product");
  b.addHierarchy("Product", "Product", {"Group", "Item"});
  for (int p = 0; p < 100; ++p) {
    b.addPath("[Product]", "P" + std::to_string(p), {"G" + std::to_string(p % 10), "P" + std::to_string(p)});
    products.push_back(b.leafIndex("Product", "P" + std::to_string(p)));
  }
  b.addMeasure("Sales");
  uint64_t seed = 42;
  for (size_t i = 0; i < rows; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    b.addFact({months[(seed >> 33) % 120], products[(seed >> 45) % 100]}, {1.0});
  }
  return b.build();
}

TEST_F(MemoryQueryTest, InterruptStopsARunningEvaluation) {
  auto_unuse<memory::MemoryCube> big(big_cube(1000000));
  GridQuery query;
  std::vector<TOVAString> groups;
  for (int g = 0; g < 10; ++g) groups.push_back(TOVAString().build("[Product].[G%d]", g));
  query.axes.push_back(GridAxis{{coordinate("[Product]", groups)}});

  std::atomic<bool> stop{true};
  try {
    memory::executeGridQuery(big.get(), query, &stop);
    FAIL() << "an interrupted query returned";
  } catch (const olap_api::RunTimeException& e) {
    EXPECT_EQ(0xC2031023u, e.getCode());
    EXPECT_NE(std::string::npos, e.getMessage().string().find("interrupted"));
  }

  // From another thread, while the evaluation runs (repeated until it lands mid-run).
  bool interrupted = false;
  for (int attempt = 0; attempt < 200 && !interrupted; ++attempt) {
    stop = false;
    std::atomic<bool> started{false};
    std::thread interrupter([&] {
      while (!started) std::this_thread::yield();
      stop = true;
    });
    try {
      started = true;
      auto_unuse<MemoryResultSet> result(memory::executeGridQuery(big.get(), query, &stop));
    } catch (const olap_api::RunTimeException&) {
      interrupted = true;
    }
    interrupter.join();
  }
  EXPECT_TRUE(interrupted);
  stop = false;
  auto_unuse<MemoryResultSet> result(memory::executeGridQuery(big.get(), query, &stop));
  double total = 0;
  for (const std::string& cell : cell_texts(result.get())) total += std::stod(cell);
  EXPECT_EQ(1000000.0, total);
}

struct CountingListener : NUVA_o::ViewResultSet::ViewResultSetListener {
  NUVA_o::ViewResultSet* resultSet = nullptr;
  bool removeSelf = false;
  int closed = 0;
  void viewResultSetClosed() override {
    ++closed;
    if (removeSelf) resultSet->removeListener(this);
  }
};

TEST_F(MemoryQueryTest, ChunksAreCutToSizeAndClosingTellsTheListeners) {
  auto_unuse<memory::MemoryCube> big(big_cube(1000));
  std::vector<TOVAString> items, months;
  for (int p = 0; p < 100; ++p) items.push_back(TOVAString().build("[Product].[G%d].[P%d]", p % 10, p));
  for (int m = 0; m < 120; ++m) months.push_back(TOVAString().build("[Time].[%d].[%d]", 2000 + m / 12, m % 12 + 1));
  GridQuery query;
  query.axes.push_back(GridAxis{{coordinate("[Time]", months)}});
  query.axes.push_back(GridAxis{{coordinate("[Product]", items)}});
  auto_unuse<MemoryResultSet> result(memory::executeGridQuery(big.get(), query));
  ASSERT_EQ(12000, result->getCellCount());

  auto_unuse<SynchronousChunkHandlerCommon> rows(new SynchronousChunkHandlerCommon(result.get(), 1, 250, 60));
  rows->StartFetch();
  auto_unuse<NUVA_o::Chunk> first{rows->GetChunk()};
  auto* tuples = dynamic_cast<memory::MemoryAxisChunk*>(first.get());
  ASSERT_NE(nullptr, tuples);
  // Only 100 rows exist: the request is clipped to an empty range and flagged last.
  EXPECT_EQ(0, tuples->getTupleCount());
  EXPECT_EQ(nullptr, auto_unuse<NUVA_o::Chunk>(rows->GetChunk()).get());

  auto_unuse<SynchronousChunkHandlerCommon> columns(new SynchronousChunkHandlerCommon(result.get(), 0, 100, -1));
  columns->StartFetch();
  auto_unuse<NUVA_o::Chunk> c{columns->GetChunk()};
  auto* monthChunk = dynamic_cast<memory::MemoryAxisChunk*>(c.get());
  ASSERT_NE(nullptr, monthChunk);
  EXPECT_EQ(100, monthChunk->getFirstTuple());
  EXPECT_EQ(20, monthChunk->getTupleCount());
  EXPECT_EQ(120, monthChunk->getAxisTupleCount());
  EXPECT_EQ("[Time]", monthChunk->getHierarchyUniqueName(0).string());
  EXPECT_EQ("[Time].[2008].[5]", monthChunk->getMemberUniqueName(0, 0).string());
  EXPECT_EQ(2, monthChunk->getMemberLevel(0, 0));
  EXPECT_THROW(monthChunk->getMemberCaption(20, 0), olap_api::InvalidArgumentException);
  EXPECT_THROW(monthChunk->getMemberCaption(0, 1), olap_api::InvalidArgumentException);

  // All cells in pieces of at most 4096, the last one flagged; their values add up to the facts.
  struct Recorder : SynchronousChunkHandlerCommon {
    using SynchronousChunkHandlerCommon::SynchronousChunkHandlerCommon;
    std::vector<std::pair<long, bool>> seen;
    bool handleChunk(NUVA_o::Chunk* chunk, bool last) override {
      seen.emplace_back(dynamic_cast<memory::MemoryCellDataChunk*>(chunk)->getCellCount(), last);
      return SynchronousChunkHandlerCommon::handleChunk(chunk, last);
    }
  };
  auto_unuse<Recorder> cells(new Recorder(result.get(), 0, -1));
  cells->StartFetch();
  EXPECT_EQ((std::vector<std::pair<long, bool>>{{4096, false}, {4096, false}, {3808, true}}), cells->seen);
  double sum = 0;
  while (auto_unuse<NUVA_o::Chunk> chunk{cells->GetChunk()}) {
    auto* data = dynamic_cast<memory::MemoryCellDataChunk*>(chunk.get());
    EXPECT_EQ(12000, data->getTotalCellCount());
    for (long i = 0; i < data->getCellCount(); ++i) sum += data->getValue(i);
  }
  EXPECT_EQ(1000.0, sum);

  // A cancelled handler stops the delivery after the chunk it refused.
  auto_unuse<Recorder> cancelled(new Recorder(result.get(), MemoryResultSet::CELLS, 0, -1));
  cancelled->CancelChunks();
  cancelled->StartFetch();
  EXPECT_EQ(1u, cancelled->seen.size());

  // Bad requests.
  auto_unuse<Recorder> badAxis(new Recorder(result.get(), 2, 0, -1));
  EXPECT_THROW(badAxis->StartFetch(), olap_api::InvalidArgumentException);
  auto_unuse<Recorder> badFirst(new Recorder(result.get(), -5, 10));
  EXPECT_THROW(badFirst->StartFetch(), olap_api::InvalidArgumentException);
  EXPECT_THROW(result->fetchChunksRange(nullptr, 0, 1), olap_api::InvalidArgumentException);

  // Closing: every listener once, one removing itself while told, one removed before; chunks
  // cut before stay readable, new fetches are refused.
  CountingListener a, b, removed;
  b.resultSet = result.get();
  b.removeSelf = true;
  result->addListener(&a);
  result->addListener(&b);
  result->addListener(&removed);
  result->removeListener(&removed);
  EXPECT_FALSE(result->isClosed());
  result->close();
  result->close();
  EXPECT_TRUE(result->isClosed());
  EXPECT_EQ(1, a.closed);
  EXPECT_EQ(1, b.closed);
  EXPECT_EQ(0, removed.closed);
  EXPECT_EQ("[Time].[2008].[5]", monthChunk->getMemberUniqueName(0, 0).string());
  auto_unuse<Recorder> late(new Recorder(result.get(), 0, -1));
  try {
    late->StartFetch();
    FAIL() << "a closed result set delivered";
  } catch (const olap_api::RunTimeException& e) {
    EXPECT_NE(std::string::npos, e.getMessage().string().find("closed"));
  }
  result->removeListener(&a);
}

}  // namespace
