#pragma once

// The independent oracle of query tests: the sample cube's CSV files loaded into an in-memory
// SQLite database, so expected figures come from SQL rather than from code under test.

#include <map>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace vtq_testing {

class SampleOracle {
 public:
  // Tables facts, products, cities and months with the columns of their CSV headers (facts:
  // month, item, city, sales, quantity, cost). Loaded once per process.
  static const SampleOracle& get();

  // Every row of the statement's result, each value as text (NULL as "").
  std::vector<std::vector<std::string>> rows(const std::string& sql) const;
  // A statement of three columns (a, b, number) as a map from (a, b) to the number.
  std::map<std::pair<std::string, std::string>, double> pairSums(const std::string& sql) const;

  SampleOracle(const SampleOracle&) = delete;
  SampleOracle& operator=(const SampleOracle&) = delete;

 private:
  SampleOracle();
  ~SampleOracle();
  void load_table(const std::string& table, const std::string& path);
  void exec(const std::string& sql) const;

  sqlite3* m_pDb = nullptr;
};

}  // namespace vtq_testing
