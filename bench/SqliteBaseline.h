#pragma once

// The SQLite side of the query benchmarks: runs a statement and sums one column of its rows, so
// that the baseline does the same work of reading every row as our side.

#include <sqlite3.h>

#include <cstddef>
#include <utility>

namespace vtq_bench {

// The sum of column `column` over the statement's rows, and the row count.
inline std::pair<double, size_t> sqliteColumnSum(sqlite3* db, const char* sql, int column) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  double total = 0;
  size_t rows = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    total += sqlite3_column_double(statement, column);
    ++rows;
  }
  sqlite3_finalize(statement);
  return {total, rows};
}

}  // namespace vtq_bench
