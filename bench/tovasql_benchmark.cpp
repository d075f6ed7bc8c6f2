// Statement parsing: 200 TOVASQL statements over the sample cube through our scanner, parser
// and name resolution, against sqlite3_prepare_v2 of the same statements as SQL over tables
// of the same names (one per hierarchy, its fields as columns) in the same program.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "provider/memory/MemoryCube.h"
#include "tovasqlexpressioncommon.h"

namespace {

struct Hierarchy {
  const char* name;
  std::vector<const char*> fields;
  std::vector<const char*> values;
};

const std::vector<Hierarchy>& hierarchies() {
  static const std::vector<Hierarchy> h = {
      {"[Product]", {"[Product].[Category]", "[Product].[Subcategory]", "[Product].[Item]"},
       {"Bikes", "Road", "Road-150", "O''Brien"}},
      {"[Time].[Calendar]", {"[Time].[Calendar].[Year]", "[Time].[Calendar].[Quarter]",
                             "[Time].[Calendar].[Month]"}, {"2024", "Q1", "Jan"}},
      {"[Geography]", {"[Geography].[Region]", "[Geography].[Country]", "[Geography].[City]"},
       {"Europe", "France", "Paris"}},
  };
  return h;
}

const char* const kMeasures[] = {"[Measures].[Sales]", "[Measures].[Quantity]", "[Measures].[Cost]"};

struct Statements {
  std::vector<TOVAString> tovasql;
  std::vector<std::string> sql;
  int64_t bytes = 0;
  auto_unuse<memory::MemoryCube> cube{
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml")};
  sqlite3* db = nullptr;

  Statements() {
    sqlite3_open(":memory:", &db);
    for (const Hierarchy& h : hierarchies()) {
      std::string create = std::string("CREATE TABLE \"") + h.name + "\"(";
      for (size_t i = 0; i < h.fields.size(); ++i)
        create += std::string(i ? ", \"" : "\"") + h.fields[i] + "\" TEXT";
      sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db,
                 "CREATE TABLE \"[Measures]\"(\"[Measures].[Sales]\" REAL, "
                 "\"[Measures].[Quantity]\" REAL, \"[Measures].[Cost]\" REAL)",
                 nullptr, nullptr, nullptr);

    std::mt19937 random(15);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    // Each piece is written twice: as TOVASQL (bare bracketed names) and as SQL (the same
    // names quoted as identifiers).
    std::string t, s;
    auto both = [&](const std::string& tovasql, const std::string& sqlText) {
      t += tovasql;
      s += sqlText;
    };
    auto name = [&](const std::string& n) { both(n, "\"" + n + "\""); };
    for (int k = 0; k < 200; ++k) {
      t.clear();
      s.clear();
      const Hierarchy& a = hierarchies()[pick(3)];
      const Hierarchy& b = hierarchies()[pick(3)];
      both("SELECT ", "SELECT ");
      name(a.fields[pick(3)]);
      both(", ", ", ");
      name(b.fields[pick(3)]);
      both(", ", ", ");
      name(kMeasures[pick(3)]);
      both(" FROM ", " FROM ");
      name(a.name);
      if (&a != &b) {
        both(", ", ", ");
        name(b.name);
      }
      both(", ", ", ");
      name("[Measures]");
      const int conditions = static_cast<int>(pick(4));
      for (int c = 0; c < conditions; ++c) {
        const char* connector = c == 0 ? " WHERE " : pick(2) ? " AND " : " OR ";
        both(connector, connector);
        switch (pick(4)) {
          case 0:
            name(a.fields[pick(3)]);
            both(" = '", " = '");
            {
              const char* value = a.values[pick(a.values.size())];
              both(value, value);
            }
            both("'", "'");
            break;
          case 1:
            name(kMeasures[pick(3)]);
            both(" BETWEEN 10 AND -2.5", " BETWEEN 10 AND -2.5");
            break;
          case 2:
            name(b.fields[pick(3)]);
            both(" NOT IN ('x', 'y', 'z')", " NOT IN ('x', 'y', 'z')");
            break;
          default:
            name(a.fields[pick(3)]);
            both(" LIKE 'B%'", " LIKE 'B%'");
            break;
        }
      }
      tovasql.emplace_back(t);
      sql.push_back(s);
      bytes += static_cast<int64_t>(t.size());
    }
  }
};

Statements& statements() {
  static Statements* s = new Statements();
  return *s;
}

void BM_TovasqlParse(benchmark::State& state) {
  Statements& s = statements();
  for (auto _ : state) {
    for (const TOVAString& text : s.tovasql) {
      auto_unuse<common::TOVASQLExpressionCommon> root(
          new common::TOVASQLExpressionCommon(s.cube.get()));
      root->setTextAndCreateTree(text);
      benchmark::DoNotOptimize(root->getNumChildren());
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.tovasql.size()));
  state.SetBytesProcessed(state.iterations() * s.bytes);
}
BENCHMARK(BM_TovasqlParse);

void BM_SqlitePrepare(benchmark::State& state) {
  Statements& s = statements();
  for (const std::string& sql : s.sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(s.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      state.SkipWithError((std::string("SQLite refused: ") + sql).c_str());
      return;
    }
    sqlite3_finalize(stmt);
  }
  for (auto _ : state) {
    for (const std::string& sql : s.sql) {
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(s.db, sql.c_str(), -1, &stmt, nullptr);
      sqlite3_finalize(stmt);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(s.sql.size()));
  state.SetBytesProcessed(state.iterations() * s.bytes);
}
BENCHMARK(BM_SqlitePrepare);

}  // namespace

int main(int argc, char** argv) {
  return vtq_bench::runWithRatios(argc, argv, {{"BM_TovasqlParse", "BM_SqlitePrepare"}}, 1.0);
}
