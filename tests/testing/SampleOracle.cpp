#include "SampleOracle.h"

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "VtqTest.h"

namespace vtq_testing {

namespace {

// The sample files hold no quoted fields, so a plain split is exact for them.
std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  for (std::string field; std::getline(s, field, ',');) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

bool is_number(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

}  // namespace

const SampleOracle& SampleOracle::get() {
  static const SampleOracle oracle;
  return oracle;
}

SampleOracle::SampleOracle() {
  if (sqlite3_open(":memory:", &m_pDb) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
  const std::string dir = sourceDir() + "/examples/sales/";
  for (const char* table : {"facts", "products", "cities", "months"})
    load_table(table, dir + table + ".csv");
}

SampleOracle::~SampleOracle() { sqlite3_close(m_pDb); }

void SampleOracle::exec(const std::string& sql) const {
  char* error = nullptr;
  if (sqlite3_exec(m_pDb, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(text + " in: " + sql);
  }
}

void SampleOracle::load_table(const std::string& table, const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::vector<std::string> header = split(line);
  std::vector<std::vector<std::string>> records;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) records.push_back(split(line));
  }
  // A column whose values all read as numbers has NUMERIC affinity: years stay "2023" as keys
  // and money sums as numbers.
  std::string create = "CREATE TABLE " + table + " (", insert = "INSERT INTO " + table + " VALUES (";
  for (size_t c = 0; c < header.size(); ++c) {
    bool numeric = !records.empty();
    for (const auto& r : records) numeric = numeric && c < r.size() && is_number(r[c]);
    create += (c ? ", " : "") + header[c] + (numeric ? " NUMERIC" : " TEXT");
    insert += c ? ", ?" : "?";
  }
  exec(create + ")");
  exec("BEGIN");
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(m_pDb, (insert + ")").c_str(), -1, &statement, nullptr);
  for (const auto& record : records) {
    for (size_t c = 0; c < header.size(); ++c)
      sqlite3_bind_text(statement, int(c + 1), c < record.size() ? record[c].c_str() : "", -1,
                        SQLITE_TRANSIENT);
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  exec("COMMIT");
}

std::vector<std::vector<std::string>> SampleOracle::rows(const std::string& sql) const {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(m_pDb, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string(sqlite3_errmsg(m_pDb)) + " in: " + sql);
  std::vector<std::vector<std::string>> out;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
      const unsigned char* text = sqlite3_column_text(statement, c);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    out.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  return out;
}

std::map<std::pair<std::string, std::string>, double> SampleOracle::pairSums(
    const std::string& sql) const {
  std::map<std::pair<std::string, std::string>, double> out;
  for (const auto& row : rows(sql)) out[{row.at(0), row.at(1)}] = std::stod(row.at(2));
  return out;
}

}  // namespace vtq_testing
