// Grid query of the memory provider against the same aggregation done by SQLite over the same
// fact rows in an in-memory database: 2,000,000 facts, Product at Subcategory on rows and Time
// at Month on columns, the sum of Sales in each cell. Our query is a cube view's `query`, with
// its cells read back in chunks and the result set closed (so the next query evaluates again);
// the provider's grid engine alone is timed too. SQLite joins the dimension tables and groups on
// their integer keys, and its rows are stepped through. `--dump-csv DIR` writes the generated
// tables as CSV with this program's own result (rows and total) in grid.expected, for
// bench/duckdb_compare.sh.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "GeneratedFacts.h"
#include "SqliteBaseline.h"
#include "SummingHandler.h"
#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/ViewResultSet.h"
#include "NUVA_o/Viewpoint.h"
#include "ViewTesting.h"
#include "common/ViewpointFactory.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/RefCountImpl.h"

namespace {

// 2,000,000 unless --facts N says otherwise; set once before anything is generated.
size_t kFacts = 2000000;
// Fewest facts at which the two-thread scan is held to its goal against the one-thread scan.
constexpr size_t kThreadGoalFacts = 20000000;
using Item = vtq_bench::GeneratedFacts::Item;
using Month = vtq_bench::GeneratedFacts::Month;
using City = vtq_bench::GeneratedFacts::City;

// The generated data, the cube built from it and the same rows in SQLite.
struct Fixture : vtq_bench::GeneratedFacts {
  auto_unuse<memory::MemoryCube> cube;
  auto_unuse<NUVA_o::Viewpoint> view;
  sqlite3* db = nullptr;
  memory::GridQuery query;

  Fixture() : GeneratedFacts(kFacts) {
    build_cube();
    build_database();
    for (const Month& m : months)
      monthNames.push_back(TOVAString("[Time].[Calendar].[") + TOVAString(m.year) + "].[" +
                           TOVAString(m.quarter) + "].[" + TOVAString(m.name) + "]");
    std::vector<TOVAString> subcategories;
    for (size_t i = 0; i < items.size(); i += kItems)
      subcategories.push_back(TOVAString("[Product].[") + TOVAString(items[i].category) + "].[" +
                              TOVAString(items[i].subcategory) + "]");
    query.axes.push_back(memory::GridAxis{{memory::GridCoordinate{"[Time].[Calendar]", monthNames}}});
    query.axes.push_back(memory::GridAxis{{memory::GridCoordinate{"[Product]", subcategories}}});
    build_view();
  }
  ~Fixture() {
    view.reset();
    sqlite3_close(db);
  }

  // Months on the columns, subcategories on the rows.
  void build_view() {
    view.reset(createCommonViewpoint());
    view->initialise(cube.get(), 2, 1);
    lay_out("[Time].[Calendar]", 0, 3);
    lay_out("[Product]", 1, 2);
  }

  void lay_out(const TOVAString& hierarchy, size_t axis, int level) {
    vtq_testing::layOut(*view, hierarchy, axis, level);
  }

  // The dimensions of the generated data, without measures.
  void declare(memory::CubeBuilder& b) const {
    b.addDimension("Time");
    b.addHierarchy("Time", "Calendar", {"Year", "Quarter", "Month"});
    for (const Month& m : months) b.addPath("[Time].[Calendar]", m.key, {m.year, m.quarter, m.name});
    b.addDimension("Product");
    b.addHierarchy("Product", "Product", {"Category", "Subcategory", "Item"});
    for (const Item& i : items) b.addPath("[Product]", i.name, {i.category, i.subcategory, i.name});
    b.addDimension("Geography");
    b.addHierarchy("Geography", "Geography", {"City"});
    for (const City& c : cities) b.addPath("[Geography]", c.name, {c.name});
  }

  // The leaf indexes of fact row r (paths are placed in the order of the generated lists).
  void fact_keys(size_t r, std::vector<int32_t>& keys) const {
    keys[0] = factMonth[r];
    keys[1] = factItem[r];
    keys[2] = factCity[r];
  }

  void build_cube() {
    memory::CubeBuilder b("Generated");
    declare(b);
    b.addMeasure("Sales");
    b.addMeasure("Cost");
    std::vector<int32_t> keys(3);
    std::vector<double> values(2);
    for (size_t r = 0; r < kFacts; ++r) {
      fact_keys(r, keys);
      values[0] = factSales[r];
      values[1] = std::floor(factSales[r] * 0.6);
      b.addFact(keys, values);
    }
    b.addCalculation("[Measures]", "Margin", "[Measures].[Sales] - [Measures].[Cost]", NUVA_o::CF_NUMBER);
    cube.reset(b.build());
  }

  void exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
      std::abort();
    }
  }

  void build_database() {
    sqlite3_open(":memory:", &db);
    exec("CREATE TABLE months(month_id INTEGER PRIMARY KEY, month TEXT, quarter TEXT, year TEXT);"
         "CREATE TABLE products(item_id INTEGER PRIMARY KEY, item TEXT, subcategory_id INTEGER, subcategory TEXT, category TEXT);"
         "CREATE TABLE cities(city_id INTEGER PRIMARY KEY, city TEXT);"
         "CREATE TABLE facts(month_id INTEGER, item_id INTEGER, city_id INTEGER, sales REAL);"
         "BEGIN");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO months VALUES(?,?,?,?)", -1, &s, nullptr);
    for (size_t i = 0; i < months.size(); ++i) {
      sqlite3_bind_int(s, 1, static_cast<int>(i));
      sqlite3_bind_text(s, 2, months[i].key.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 3, months[i].quarter.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 4, months[i].year.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "INSERT INTO products VALUES(?,?,?,?,?)", -1, &s, nullptr);
    for (size_t i = 0; i < items.size(); ++i) {
      sqlite3_bind_int(s, 1, static_cast<int>(i));
      sqlite3_bind_text(s, 2, items[i].name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, static_cast<int>(i / kItems));
      sqlite3_bind_text(s, 4, items[i].subcategory.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 5, items[i].category.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "INSERT INTO cities VALUES(?,?)", -1, &s, nullptr);
    for (size_t i = 0; i < cities.size(); ++i) {
      sqlite3_bind_int(s, 1, static_cast<int>(i));
      sqlite3_bind_text(s, 2, cities[i].name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "INSERT INTO facts VALUES(?,?,?,?)", -1, &s, nullptr);
    for (size_t r = 0; r < kFacts; ++r) {
      sqlite3_bind_int(s, 1, factMonth[r]);
      sqlite3_bind_int(s, 2, factItem[r]);
      sqlite3_bind_int(s, 3, factCity[r]);
      sqlite3_bind_double(s, 4, factSales[r]);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    exec("COMMIT");
  }

  std::vector<TOVAString> monthNames;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

using vtq_bench::SummingHandler;

std::pair<double, long> run_engine(Fixture& f) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(f.cube.get(), f.query));
  SummingHandler handler;
  result->fetchChunksRange(&handler, 0, result->getCellCount());
  return {handler.total, handler.filled};
}

// The grid with a measure beside the months on the columns.
std::pair<double, long> run_measure(Fixture& f, const TOVAString& measure) {
  memory::GridQuery query = f.query;
  query.axes[0].hierarchies.push_back(memory::GridCoordinate{"[Measures]", {measure}});
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(f.cube.get(), query));
  SummingHandler handler;
  result->fetchChunksRange(&handler, 0, result->getCellCount());
  return {handler.total, handler.filled};
}

std::pair<double, long> run_view(Fixture& f) {
  auto_unuse<NUVA_o::ViewResultSet> held(f.view->query());
  auto* result = static_cast<memory::MemoryResultSet*>(held.get());
  SummingHandler handler;
  result->fetchChunksRange(&handler, 0, result->getCellCount());
  result->close();
  return {handler.total, handler.filled};
}

std::pair<double, long> run_sqlite(Fixture& f) {
  const auto [total, rows] = vtq_bench::sqliteColumnSum(
      f.db,
      "SELECT p.subcategory_id, m.month_id, SUM(f.sales) FROM facts f "
      "JOIN products p ON p.item_id = f.item_id "
      "JOIN months m ON m.month_id = f.month_id "
      "GROUP BY p.subcategory_id, m.month_id",
      2);
  return {total, static_cast<long>(rows)};
}

// Both must agree before anything is timed.
void check_same(Fixture& f) {
  static bool checked = false;
  if (checked) return;
  const auto theirs = run_sqlite(f);
  for (const auto& ours : {run_view(f), run_engine(f)})
    if (ours.second != theirs.second || std::fabs(ours.first - theirs.first) > 1e-6 * std::fabs(theirs.first)) {
      std::fprintf(stderr, "results differ: %ld cells totalling %.2f against %ld rows totalling %.2f\n",
                   ours.second, ours.first, theirs.second, theirs.first);
      std::abort();
    }
  checked = true;
}

void BM_ViewQuery(benchmark::State& state) {
  Fixture& f = fixture();
  check_same(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_view(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_ViewQuery)->Unit(benchmark::kMillisecond);

void BM_GridEngine(benchmark::State& state) {
  Fixture& f = fixture();
  check_same(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_engine(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_GridEngine)->Unit(benchmark::kMillisecond);

// A calculated measure (Sales - Cost) against Sales alone on the same grid.
void BM_GridStoredMeasure(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(run_measure(f, "[Measures].[Sales]"));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_GridStoredMeasure)->Unit(benchmark::kMillisecond);

void BM_GridCalculatedMeasure(benchmark::State& state) {
  Fixture& f = fixture();
  const auto margin = run_measure(f, "[Measures].[Margin]");
  double expected = 0;
  for (size_t r = 0; r < kFacts; ++r) expected += f.factSales[r] - std::floor(f.factSales[r] * 0.6);
  if (std::fabs(margin.first - expected) > 1e-6 * expected) {
    std::fprintf(stderr, "margin differs: %.2f against %.2f\n", margin.first, expected);
    std::abort();
  }
  for (auto _ : state) benchmark::DoNotOptimize(run_measure(f, "[Measures].[Margin]"));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_GridCalculatedMeasure)->Unit(benchmark::kMillisecond);

// The ten best subcategories by the last year's Sales, sorted descending; with
// `highlightAndSubtotal`, cells above 1,000,000 highlighted and a sum per category after its
// subcategories.
memory::GridQuery top_query(const Fixture& f, bool highlightAndSubtotal) {
  memory::GridQuery query = f.query;
  const std::string year = "[Time].[Calendar].[" + std::to_string(2010 + vtq_bench::GeneratedFacts::kYears - 1) + "]";
  query.filters.push_back({1, TOVAString("TopCount(Members([Product].[Subcategory]), 10, Tuple([Measures].[Sales], ") +
                                  year.c_str() + "))", "top"});
  query.sorts.push_back({1, TOVAString("Tuple(") + year.c_str() + ")", true, false, "sort"});
  if (highlightAndSubtotal) {
    query.highlights.push_back({"[Measures].[Sales] > 1000000", "Big", 1, 0, "highlight"});
    query.subtotals.push_back({1, 0, 1, 1, "Sum", "SubTotal_category", "subtotal"});
  }
  return query;
}

struct TopResult {
  double total = 0;
  long filled = 0, banded = 0, rows = 0;
};

TopResult run_top(Fixture& f, const memory::GridQuery& query) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(f.cube.get(), query));
  SummingHandler handler;
  result->fetchChunksRange(&handler, 0, result->getCellCount());
  return {handler.total, handler.filled, handler.banded, result->getTupleCount(1)};
}

// The same ten subcategories by the same year in SQL, their cells by month, best first. CROSS
// JOIN keeps SQLite reading the facts in the outer loop (two passes over them) instead of
// indexing them anew or reading them once per chosen subcategory.
std::string sqlite_top_sql() {
  return "WITH top AS MATERIALIZED (SELECT p.subcategory_id s, SUM(f.sales) v FROM facts f "
         "CROSS JOIN products p ON p.item_id = f.item_id CROSS JOIN months m ON m.month_id = f.month_id "
         "WHERE m.year = '" + std::to_string(2010 + vtq_bench::GeneratedFacts::kYears - 1) + "' "
         "GROUP BY p.subcategory_id ORDER BY v DESC LIMIT 10), "
         "g AS MATERIALIZED (SELECT p.subcategory_id s, f.month_id, SUM(f.sales) AS sales FROM facts f "
         "CROSS JOIN products p ON p.item_id = f.item_id WHERE p.subcategory_id IN (SELECT s FROM top) "
         "GROUP BY 1, 2) "
         "SELECT g.s, g.month_id, g.sales FROM g JOIN top t ON t.s = g.s ORDER BY t.v DESC, g.month_id";
}

std::pair<double, long> run_sqlite_top(Fixture& f) {
  static const std::string sql = sqlite_top_sql();
  const auto [total, rows] = vtq_bench::sqliteColumnSum(f.db, sql.c_str(), 2);
  return {total, static_cast<long>(rows)};
}

// Ours against SQLite before anything is timed: the same cells of the ten rows; with the
// subtotals each value counted once more, and as many highlighted cells as SQL finds above the
// threshold.
void check_top(Fixture& f) {
  static bool checked = false;
  if (checked) return;
  const auto theirs = run_sqlite_top(f);
  const auto close = [](double a, double b) { return std::fabs(a - b) <= 1e-6 * std::fabs(b); };
  const TopResult plain = run_top(f, top_query(f, false));
  const TopResult full = run_top(f, top_query(f, true));
  sqlite3_stmt* s = nullptr;
  const std::string count = "SELECT COUNT(*) FROM (" + sqlite_top_sql() + ") WHERE sales > 1000000";
  long expectedBands = -1;
  if (sqlite3_prepare_v2(f.db, count.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
    expectedBands = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  if (plain.rows != 10 || plain.filled != theirs.second || !close(plain.total, theirs.first) ||
      !close(full.total, 2 * theirs.first) || full.banded != expectedBands || full.rows <= 10) {
    std::fprintf(stderr,
                 "top ten differ: %ld cells totalling %.2f (%.2f with subtotals, %ld highlighted) against %ld "
                 "rows totalling %.2f (%ld above the threshold)\n",
                 plain.filled, plain.total, full.total, full.banded, theirs.second, theirs.first, expectedBands);
    std::abort();
  }
  checked = true;
}

// Against the plain grid (BM_GridEngine): goal at most 1.5.
void BM_GridTopCountSorted(benchmark::State& state) {
  Fixture& f = fixture();
  check_top(f);
  const memory::GridQuery query = top_query(f, false);
  for (auto _ : state) benchmark::DoNotOptimize(run_top(f, query).total);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_GridTopCountSorted)->Unit(benchmark::kMillisecond);

void BM_GridTopCountHighlightSubtotal(benchmark::State& state) {
  Fixture& f = fixture();
  check_top(f);
  const memory::GridQuery query = top_query(f, true);
  for (auto _ : state) benchmark::DoNotOptimize(run_top(f, query).total);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_GridTopCountHighlightSubtotal)->Unit(benchmark::kMillisecond);

// The top-ten query in SQLite: goal for ours at most 0.5 of it.
void BM_SqliteTopCount(benchmark::State& state) {
  Fixture& f = fixture();
  check_top(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_sqlite_top(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_SqliteTopCount)->Unit(benchmark::kMillisecond);

// The grid query with its fact scan on one thread and on two (the cube's pool).
void grid_on_threads(benchmark::State& state, unsigned threads) {
  Fixture& f = fixture();
  f.cube->setScanThreads(threads);
  check_same(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_engine(f));
  f.cube->setScanThreads(0);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
void BM_GridOneThread(benchmark::State& state) { grid_on_threads(state, 1); }
BENCHMARK(BM_GridOneThread)->Unit(benchmark::kMillisecond);
void BM_GridTwoThreads(benchmark::State& state) { grid_on_threads(state, 2); }
BENCHMARK(BM_GridTwoThreads)->Unit(benchmark::kMillisecond);

// Building a cube of the generated rows' three keys and Sales, with the bytes its facts take
// per row (goal: at most 8).
void BM_BuildFacts(benchmark::State& state) {
  Fixture& f = fixture();
  double bytes = 0;
  for (auto _ : state) {
    memory::CubeBuilder b("Dense");
    f.declare(b);
    b.addMeasure("Sales");
    std::vector<int32_t> keys(3);
    std::vector<double> values(1);
    for (size_t r = 0; r < kFacts; ++r) {
      f.fact_keys(r, keys);
      values[0] = f.factSales[r];
      b.addFact(keys, values);
    }
    auto_unuse<memory::MemoryCube> cube(b.build());
    bytes = static_cast<double>(cube->getFactBytes()) / static_cast<double>(cube->getFactCount());
  }
  state.counters["bytes_per_fact"] = bytes;
  std::printf("bytes per fact (three keys and Sales): %.2f (goal <= 8)\n", bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_BuildFacts)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SqliteGroupBy(benchmark::State& state) {
  Fixture& f = fixture();
  check_same(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_sqlite(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_SqliteGroupBy)->Unit(benchmark::kMillisecond);

// Both in one run, alternating, so that the ratio compares like with like. Goal: at most 0.5.
void BM_ViewQueryOverSqlite(benchmark::State& state) {
  Fixture& f = fixture();
  check_same(f);
  std::chrono::duration<double> ours{0}, theirs{0};
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(run_view(f));
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(run_sqlite(f));
    auto t2 = std::chrono::steady_clock::now();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["view_ms"] = ours.count() * 1e3 / n;
  state.counters["sqlite_ms"] = theirs.count() * 1e3 / n;
  state.counters["view_over_sqlite"] = ours.count() / theirs.count();
}
BENCHMARK(BM_ViewQueryOverSqlite)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  kFacts = vtq_bench::takeFactsOption(argc, argv, kFacts);
  const std::string dumpDir = vtq_bench::takeDumpCsvOption(argc, argv);
  if (!dumpDir.empty()) {
    Fixture& f = fixture();
    check_same(f);
    check_top(f);
    const auto ours = run_view(f);
    const TopResult top = run_top(f, top_query(f, false));
    FILE* expected = std::fopen((dumpDir + "/grid.expected").c_str(), "w");
    FILE* topExpected = std::fopen((dumpDir + "/top10.expected").c_str(), "w");
    if (!f.dumpCsv(dumpDir) || !expected || !topExpected) return 1;
    std::fprintf(expected, "%ld %.6f\n", ours.second, ours.first);
    std::fprintf(topExpected, "%ld %.6f\n", top.filled, top.total);
    return (std::fclose(expected) == 0) & (std::fclose(topExpected) == 0) ? 0 : 1;
  }
  std::vector<vtq_bench::Ratio> ratios = {{"BM_ViewQuery", "BM_SqliteGroupBy", 0.5},
                                         {"BM_GridCalculatedMeasure", "BM_GridStoredMeasure", 1.3},
                                         {"BM_GridTopCountSorted", "BM_GridEngine", 1.5},
                                         {"BM_GridTopCountHighlightSubtotal", "BM_GridEngine", 1.5},
                                         {"BM_GridTopCountSorted", "BM_SqliteTopCount", 0.5}};
  // The threads' goal is set for large tables, where the scan outweighs waking a thread and
  // merging its grid; bench/run_all.sh runs the two at 20,000,000 facts for it.
  if (kFacts >= kThreadGoalFacts) ratios.push_back({"BM_GridTwoThreads", "BM_GridOneThread", 0.6});
  return vtq_bench::runWithRatios(argc, argv, ratios);
}
