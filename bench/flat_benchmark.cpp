// A flat request on 2,000,000 generated facts (bench/GeneratedFacts.h, shared with the grid
// query benchmark): Category, Year and the sum of Sales where Region is one of four, through
// a flattener and the memory provider, against the same SQL in SQLite over the same rows in an
// in-memory database. Both sides return 5 x 10 rows; SQLite's are stepped through. A list of
// values (the years that facts reach) is measured against SQLite's SELECT DISTINCT and against
// the same rows asked through a condition on another dimension, which takes the grouping scan
// instead of the list-of-values path. DuckDB is
// compared by bench/duckdb_compare.sh, from the tables `--dump-csv DIR` writes (with this
// program's own result, rows and total, in flat.expected).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "GeneratedFacts.h"
#include "SqliteBaseline.h"
#include "NUVA_o/Flattener.h"
#include "common/CommonFlattener.h"
#include "provider/memory/MemoryCube.h"

namespace {

// 2,000,000 unless --facts N says otherwise; set once before anything is generated.
size_t kFacts = 2000000;
const char* const kStatement =
    "SELECT [Product].[Category], [Time].[Calendar].[Year], [Measures].[Sales] "
    "FROM [Product], [Time].[Calendar] WHERE [Geography].[Region] = 'R2'";
const char* const kSql =
    "SELECT p.category, m.year, SUM(f.sales) FROM facts f JOIN products p ON p.item_id = f.item_id "
    "JOIN months m ON m.month_id = f.month_id JOIN cities c ON c.city_id = f.city_id "
    "WHERE c.region = 'R2' GROUP BY p.category, m.year";

const char* const kValues = "SELECT [Time].[Calendar].[Year] FROM [Time].[Calendar]";
const char* const kValuesScanned =
    "SELECT [Time].[Calendar].[Year] FROM [Time].[Calendar] WHERE [Product].[Category] <> ''";
const char* const kValuesSql =
    "SELECT DISTINCT m.year FROM facts f JOIN months m ON m.month_id = f.month_id";

struct Fixture {
  vtq_bench::GeneratedFacts data{kFacts};
  auto_unuse<memory::MemoryCube> cube;
  auto_unuse<NUVA_o::FlattenerQuery> query, lovQuery, lovScannedQuery;
  sqlite3* db = nullptr;

  Fixture() {
    memory::CubeBuilder b("Generated");
    b.addDimension("Time");
    b.addHierarchy("Time", "Calendar", {"Year", "Month"});
    b.addDimension("Product");
    b.addHierarchy("Product", "Product", {"Category", "Subcategory", "Item"});
    b.addDimension("Geography");
    b.addHierarchy("Geography", "Geography", {"Region", "City"});
    b.addMeasure("Sales");
    sqlite3_open(":memory:", &db);
    exec("CREATE TABLE months(month_id INTEGER PRIMARY KEY, year TEXT);"
         "CREATE TABLE products(item_id INTEGER PRIMARY KEY, category TEXT);"
         "CREATE TABLE cities(city_id INTEGER PRIMARY KEY, region TEXT);"
         "CREATE TABLE facts(month_id INTEGER, item_id INTEGER, city_id INTEGER, sales REAL);"
         "BEGIN");
    std::vector<int32_t> monthLeaf, itemLeaf, cityLeaf;
    for (const auto& m : data.months) {
      b.addPath("[Time].[Calendar]", m.key, {m.year, m.key});
      monthLeaf.push_back(b.leafIndex("Time", m.key));
      insert("INSERT INTO months VALUES(" + std::to_string(monthLeaf.size() - 1) + ", '" + m.year +
             "')");
    }
    for (const auto& i : data.items) {
      b.addPath("[Product]", i.name, {i.category, i.subcategory, i.name});
      itemLeaf.push_back(b.leafIndex("Product", i.name));
      insert("INSERT INTO products VALUES(" + std::to_string(itemLeaf.size() - 1) + ", '" +
             i.category + "')");
    }
    for (const auto& c : data.cities) {
      b.addPath("[Geography]", c.name, {c.region, c.name});
      cityLeaf.push_back(b.leafIndex("Geography", c.name));
      insert("INSERT INTO cities VALUES(" + std::to_string(cityLeaf.size() - 1) + ", '" + c.region +
             "')");
    }
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO facts VALUES(?,?,?,?)", -1, &s, nullptr);
    std::vector<int32_t> keys(3);
    std::vector<double> values(1);
    for (size_t r = 0; r < kFacts; ++r) {
      const int month = data.factMonth[r], item = data.factItem[r], city = data.factCity[r];
      keys = {monthLeaf[static_cast<size_t>(month)], itemLeaf[static_cast<size_t>(item)],
              cityLeaf[static_cast<size_t>(city)]};
      values[0] = data.factSales[r];
      b.addFact(keys, values);
      sqlite3_bind_int(s, 1, month);
      sqlite3_bind_int(s, 2, item);
      sqlite3_bind_int(s, 3, city);
      sqlite3_bind_double(s, 4, data.factSales[r]);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    exec("COMMIT");
    cube.reset(b.build());
    auto_unuse<NUVA_o::Flattener> flattener(createCommonFlattener(cube.get()));
    query.reset(flattener->createQuery());
    query->setQueryText(kStatement);
    lovQuery.reset(flattener->createQuery());
    lovQuery->setQueryText(kValues);
    lovScannedQuery.reset(flattener->createQuery());
    lovScannedQuery->setQueryText(kValuesScanned);
  }
  ~Fixture() { sqlite3_close(db); }
  void exec(const char* sql) { insert(sql); }
  void insert(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// Total of the Sales column and the row count.
std::pair<double, size_t> run_flat(Fixture& f) {
  auto_unuse<NUVA_o::RowsetDataModel> rows(f.query->execute());
  double total = 0;
  for (size_t r = 0; r < rows->getRowCount(); ++r) total += rows->getRow(r)->getDatum(2).getRealValue();
  return {total, rows->getRowCount()};
}

std::pair<double, size_t> run_sqlite(Fixture& f) {
  return vtq_bench::sqliteColumnSum(f.db, kSql, 2);
}

void check_same(Fixture& f) {
  auto ours = run_flat(f), theirs = run_sqlite(f);
  if (ours.second != theirs.second || std::fabs(ours.first - theirs.first) > 0.01 * ours.second) {
    std::fprintf(stderr, "results differ: %zu rows %.2f against %zu rows %.2f\n", ours.second,
                 ours.first, theirs.second, theirs.first);
    std::abort();
  }
}

void BM_FlatQuery(benchmark::State& state) {
  Fixture& f = fixture();
  check_same(f);
  for (auto _ : state) benchmark::DoNotOptimize(run_flat(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_FlatQuery)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_SqliteFlatQuery(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(run_sqlite(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_SqliteFlatQuery)->Unit(benchmark::kMillisecond)->Repetitions(3);

size_t run_values(NUVA_o::FlattenerQuery& query) {
  auto_unuse<NUVA_o::RowsetDataModel> rows(query.execute());
  return rows->getRowCount();
}

size_t run_sqlite_values(Fixture& f) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(f.db, kValuesSql, -1, &s, nullptr);
  size_t rows = 0;
  while (sqlite3_step(s) == SQLITE_ROW) ++rows;
  sqlite3_finalize(s);
  return rows;
}

void BM_ListOfValues(benchmark::State& state) {
  Fixture& f = fixture();
  const size_t expected = run_sqlite_values(f);
  if (run_values(*f.lovQuery) != expected || run_values(*f.lovScannedQuery) != expected) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(run_values(*f.lovQuery));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_ListOfValues)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_ListOfValuesScanned(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(run_values(*f.lovScannedQuery));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_ListOfValuesScanned)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_SqliteListOfValues(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(run_sqlite_values(f));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}
BENCHMARK(BM_SqliteListOfValues)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
  kFacts = vtq_bench::takeFactsOption(argc, argv, kFacts);
  const std::string dumpDir = vtq_bench::takeDumpCsvOption(argc, argv);
  if (!dumpDir.empty()) {
    Fixture& f = fixture();
    check_same(f);
    const auto ours = run_flat(f);
    FILE* expected = std::fopen((dumpDir + "/flat.expected").c_str(), "w");
    if (!f.data.dumpCsv(dumpDir) || !expected) return 1;
    std::fprintf(expected, "%zu %.6f\n", ours.second, ours.first);
    return std::fclose(expected) == 0 ? 0 : 1;
  }
  return vtq_bench::runWithRatios(argc, argv,
                                  {{"BM_FlatQuery/repeats:3", "BM_SqliteFlatQuery/repeats:3"},
                                   {"BM_ListOfValues/repeats:3", "BM_SqliteListOfValues/repeats:3"},
                                   {"BM_ListOfValues/repeats:3", "BM_ListOfValuesScanned/repeats:3"}},
                                  0.5);
}
