// Cubes over a server: the Source element's server, its dimension tables, and grid queries
// aggregated by the server in one statement each.

#include "Source.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "common/ComponentLog.h"
#include "provider/memory/MemoryCube.h"
#include "support/StringConverters.h"

namespace clickhouse {

namespace {

// What is wrong with the column types of a grouped answer: `dims` keys of `keyType`, `width`
// sums as Float64 and a row count; empty when nothing is.
std::string grouped_columns_problem(const std::vector<std::string>& types, size_t dims, const char* keyType,
                                    size_t width) {
  if (types.size() != dims + width + 1) return "the answer has " + std::to_string(types.size()) + " columns";
  for (size_t i = 0; i < types.size(); ++i) {
    const char* expected = i < dims ? keyType : i + 1 < types.size() ? "Float64" : "UInt64";
    if (types[i] != expected) return "column " + std::to_string(i + 1) + " is " + types[i] + ", not " + expected;
  }
  return std::string();
}

long milliseconds(const std::map<std::string, TOVAString>& attributes, const char* name,
                  long fallback) {
  auto it = attributes.find(name);
  if (it == attributes.end()) return fallback;
  double value = 0;
  if (!StringConverters::convertStringToReal(it->second, value) || value < 1 || value > 86400000 ||
      value != static_cast<double>(static_cast<long>(value)))
    raise<InvalidArgumentExceptionImpl>(
        CLICKHOUSE_E_SOURCE,
        TOVAString().build(
            "attribute '%s' must be a whole number of milliseconds from 1 to 86400000, not '%s'",
            TOVAString(name), it->second));
  return static_cast<long>(value);
}

bool parse_number(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end;
}

std::string number_sql(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return std::string("toFloat64(") + buffer + ")";
}

// A value predicate as SQL, with the comparisons written as the library's own evaluates them
// (a <= b as NOT (b < a)), so that NaN values pass and fail alike.
std::string predicate_sql(const common::FlatCondition& c, const std::string& v) {
  const auto& n = c.numbers;
  std::string out;
  switch (c.op) {
    case common::FlatCondition::FO_EQUAL:
      out = v + " = " + number_sql(n.at(0));
      break;
    case common::FlatCondition::FO_LESS:
      out = v + " < " + number_sql(n.at(0));
      break;
    case common::FlatCondition::FO_LESSEQUAL:
      out = "NOT (" + number_sql(n.at(0)) + " < " + v + ")";
      break;
    case common::FlatCondition::FO_GREATER:
      out = number_sql(n.at(0)) + " < " + v;
      break;
    case common::FlatCondition::FO_GREATEREQUAL:
      out = "NOT (" + v + " < " + number_sql(n.at(0)) + ")";
      break;
    case common::FlatCondition::FO_BETWEEN:
      out = "NOT (" + v + " < " + number_sql(n.at(0)) + ") AND NOT (" + number_sql(n.at(1)) +
            " < " + v + ")";
      break;
    case common::FlatCondition::FO_IN: {
      out = "0";
      for (double x : n) out += " OR " + v + " = " + number_sql(x);
      break;
    }
    case common::FlatCondition::FO_LIKE:
      out = "0";
      break;
  }
  return c.negated ? "NOT (" + out + ")" : "(" + out + ")";
}

const common::ComponentLog& facts_log() {
  static const common::ComponentLog log(moduleName(), "ServerFacts");
  return log;
}

class ServerFacts final : public memory::FactSource {
 public:
  ServerFacts(std::shared_ptr<const ServerConnection> server, memory::FactLayout layout)
      : m_pServer(std::move(server)), m_Layout(std::move(layout)) {
    m_Table = quoteIdentifier(m_Layout.table.string());
    for (const TOVAString& c : m_Layout.keyColumns) m_Keys.push_back(quoteIdentifier(c.string()));
    for (const TOVAString& c : m_Layout.valueColumns)
      m_Values.push_back(quoteIdentifier(c.string()));
  }

  void aggregate(const memory::FactRequest& request, std::vector<double>& values,
                 std::vector<uint8_t>& filled, const std::atomic<bool>* interrupt) const override {
    aggregate_into(request, 0, values, filled, nullptr, nullptr, interrupt);
  }

  bool aggregateWithTotals(const memory::FactRequest& request, size_t totalled,
                           std::vector<double>& values, std::vector<uint8_t>& filled,
                           std::vector<double>& totals, std::vector<uint8_t>& totalsFilled,
                           const std::atomic<bool>* interrupt) const override {
    if (totalled == 0 || totalled > request.dimensions.size() || totals.size() != values.size() ||
        totalsFilled.size() != values.size())
      return false;
    aggregate_into(request, totalled, values, filled, &totals, &totalsFilled, interrupt);
    return true;
  }

  bool selectCells(const memory::FactRequest& request, const memory::SumCondition* condition,
                   const memory::SumRanking* ranking, std::vector<memory::CellSums>& cells,
                   const std::atomic<bool>* interrupt) const override {
    // Rows of keys that no member holds must not pass the condition nor take a rank.
    const Statement statement = grid_statement(request, true);
    std::string sql = statement.sql;
    std::string pushed;
    if (condition) {
      sql += " HAVING " + condition_sql(*condition, statement);
      pushed = "the filter as HAVING";
    }
    if (ranking) {
      sql += " ORDER BY v" + std::to_string(statement.column.at(ranking->term)) +
             (ranking->descending ? " DESC" : " ASC") + " LIMIT " + std::to_string(ranking->limit);
      pushed += std::string(pushed.empty() ? "" : ", ") + "the ranking as ORDER BY with LIMIT";
    }
    facts_log().logAt(5, "%s: %s", request.purpose, TOVAString(pushed));
    const size_t dims = request.dimensions.size();
    std::vector<const std::vector<int64_t>*> lists(dims);
    auto on_row = [&](const std::vector<std::string>& fields) {
      if (!statement.read(*this, request, fields, lists)) return;
      memory::CellSums& out = cells.emplace_back();
      for (size_t d = 0; d < dims; ++d) {
        if (lists[d]->size() != 1) bad_response(request, "a group of several cells");
        out.cell += lists[d]->front();
      }
      for (size_t t = 0; t < request.terms.size(); ++t)
        out.sums.push_back(statement.sums[statement.column[t]]);
    };
    m_pServer->select(sql, request.purpose, statement.checker(dims), on_row, interrupt);
    return true;
  }

  void checkKeys(size_t keyColumn, const TOVAString& dimension,
                 const std::vector<TOVAString>& keys) const override {
    const std::string& column = m_Keys.at(keyColumn);
    std::string list;
    for (const TOVAString& key : keys)
      list += (list.empty() ? "" : ",") + quoteLiteral(key.string());
    std::string stray;
    bool found = false;
    m_pServer->select(
        "SELECT " + column + " FROM " + m_Table +
            (list.empty() ? "" : " WHERE " + column + " NOT IN (" + list + ")") + " LIMIT 1",
        TOVAString().build("checking the keys of dimension '%s' in table '%s'", dimension,
                           m_Layout.table),
        nullptr,
        [&](const std::vector<std::string>& fields) {
          found = true;
          stray = fields[0];
        },
        nullptr);
    if (found)
      raise<InvalidArgumentExceptionImpl>(
          CLICKHOUSE_E_SOURCE,
          TOVAString().build("table '%s' has the key '%s' in column '%s', which no member of "
                             "dimension '%s' holds",
                             m_Layout.table, TOVAString(stray), m_Layout.keyColumns.at(keyColumn),
                             dimension));
  }

  long factCount() const override {
    long count = 0;
    const TOVAString purpose =
        TOVAString().build("counting the rows of table '%s'", m_Layout.table);
    m_pServer->select(
        "SELECT count() FROM " + m_Table, purpose,
        [](const std::vector<std::string>&, const std::vector<std::string>& types) {
          return types.size() == 1 && types[0] == "UInt64" ? std::string()
                                                           : std::string("no count");
        },
        [&](const std::vector<std::string>& fields) {
          double value = 0;
          if (parse_number(fields[0], value)) count = static_cast<long>(value);
        },
        nullptr);
    return count;
  }

  void groupFacts(const memory::FlatFactRequest& request,
                  const std::function<void(int64_t, const std::vector<double>&)>& onGroup,
                  const std::atomic<bool>* interrupt) const override {
    const size_t dims = request.dimensions.size();
    std::string select = "SELECT ", where, groupBy;
    for (size_t d = 0; d < dims; ++d) {
      const memory::FlatFactRequest::Dimension& dimension = request.dimensions[d];
      std::string keys, offsets;
      for (size_t k = 0; k < dimension.keys.size(); ++k) {
        if (k) keys += ',', offsets += ',';
        keys += quoteLiteral(dimension.keys[k].string());
        offsets += std::to_string(dimension.offsets[k]);
      }
      const std::string& column = m_Keys.at(dimension.keyColumn);
      const std::string alias = "g" + std::to_string(d);
      select += "transform(" + column + ", [" + keys + "], CAST([" + offsets +
                "] AS Array(Int64)), toInt64(-1)) AS " + alias + ", ";
      if (!dimension.allKeys)
        where += std::string(where.empty() ? "" : " AND ") + column + " IN (" + keys + ")";
      groupBy += (groupBy.empty() ? " GROUP BY " : ", ") + alias;
    }
    if (request.condition)
      where +=
          std::string(where.empty() ? "" : " AND ") + "(" + condition_sql(*request.condition) + ")";
    for (size_t m = 0; m < request.measures.size(); ++m)
      select += "toFloat64(sum(" + m_Values.at(request.measures[m]) + ")) AS v" +
                std::to_string(m) + ", ";
    select += "count() AS n FROM " + m_Table + (where.empty() ? "" : " WHERE " + where) + groupBy;

    const size_t width = request.measures.size();
    auto check = [&](const std::vector<std::string>&, const std::vector<std::string>& types) {
      return grouped_columns_problem(types, dims, "Int64", width);
    };
    std::vector<double> sums(width);
    auto on_row = [&](const std::vector<std::string>& fields) {
      if (fields.back() == "0") return;  // no group field and no row
      int64_t group = 0;
      for (size_t d = 0; d < dims; ++d) {
        int64_t offset = 0;
        const char* end = fields[d].data() + fields[d].size();
        auto [at, error] = std::from_chars(fields[d].data(), end, offset);
        if (error != std::errc() || at != end)
          raise<RunTimeExceptionImpl>(CLICKHOUSE_E_BAD_RESPONSE, TOVAString(m_pServer->describe()),
                                      request.purpose,
                                      TOVAString("'" + fields[d] + "' is not a group"));
        if (offset < 0) return;  // keys that no member holds
        group += offset;
      }
      for (size_t m = 0; m < width; ++m)
        if (!parse_number(fields[dims + m], sums[m]))
          raise<RunTimeExceptionImpl>(CLICKHOUSE_E_BAD_RESPONSE, TOVAString(m_pServer->describe()),
                                      request.purpose,
                                      TOVAString("'" + fields[dims + m] + "' is not a number"));
      onGroup(group, sums);
    };
    m_pServer->select(select, request.purpose, check, on_row, interrupt);
  }

  const TOVAString& providerName() const override { return clickhouse::providerName(); }

 private:
  // The grid's cells and, with `totalled`, the rows that the statement's rollup adds where the
  // last `totalled` group ids are 0 (the rolled-up keys read as 0; real groups start at 1, and
  // rows of keys no member holds are left out), which are the totals over those dimensions.
  void aggregate_into(const memory::FactRequest& request, size_t totalled, std::vector<double>& values,
                      std::vector<uint8_t>& filled, std::vector<double>* totals,
                      std::vector<uint8_t>* totalsFilled, const std::atomic<bool>* interrupt) const {
    const Statement statement = grid_statement(request, totalled > 0);
    const size_t dims = request.dimensions.size();
    const size_t kept = dims - totalled;  // dimensions whose groups a total keeps
    std::string sql = statement.sql;
    if (totalled) {
      sql += " WITH ROLLUP";
      facts_log().logAt(5, "%s: the sums over the last %d dimensions read from rollup rows",
                        request.purpose, static_cast<int>(totalled));
    }
    const std::vector<int64_t> none{0};
    std::vector<const std::vector<int64_t>*> lists(dims);
    std::vector<size_t> at(dims);
    auto on_row = [&](const std::vector<std::string>& fields) {
      if (!statement.read(*this, request, fields, lists, totalled > 0)) return;
      size_t rolled = 0;
      bool total = true;
      for (size_t d = 0; d < dims; ++d) {
        if (lists[d]) continue;
        ++rolled;
        total = total && d >= kept;
      }
      // A rollup row of fewer or more dimensions than the totalled ones is no total asked for.
      if (rolled && (!total || rolled != totalled)) return;
      std::vector<double>& into = rolled ? *totals : values;
      std::vector<uint8_t>& reached = rolled ? *totalsFilled : filled;
      for (size_t d = kept; d < dims && rolled; ++d) lists[d] = &none;
      // Every combination of the groups' offsets is one cell the rows reach.
      std::fill(at.begin(), at.end(), 0);
      for (;;) {
        int64_t cell = 0;
        for (size_t d = 0; d < dims; ++d) cell += (*lists[d])[at[d]];
        for (size_t t = 0; t < request.terms.size(); ++t) {
          const int64_t c = cell + request.terms[t].offset;
          if (c < 0 || static_cast<size_t>(c) >= into.size())
            bad_response(request, "a cell outside the grid");
          into[static_cast<size_t>(c)] += statement.sums[statement.column[t]];
          reached[static_cast<size_t>(c)] = 1;
        }
        size_t d = 0;
        while (d < dims && ++at[d] == lists[d]->size()) at[d++] = 0;
        if (d == dims) break;
      }
    };
    m_pServer->select(sql, request.purpose, statement.checker(dims), on_row, interrupt);
  }

  [[noreturn]] void bad_response(const memory::FactRequest& request, const std::string& what) const {
    raise<RunTimeExceptionImpl>(CLICKHOUSE_E_BAD_RESPONSE, TOVAString(m_pServer->describe()),
                                request.purpose, TOVAString(what));
  }

  // One statement over the facts of a grid request: per dimension the group id of a row's key
  // (g0, g1, ...), the sums v0, v1, ... and count() as n, grouped by the ids.
  struct Statement {
    std::string sql;
    // Per dimension, the offsets of each group id - 1: keys with the same cell offsets form one
    // group, so that the server sums them together.
    std::vector<std::vector<const std::vector<int64_t>*>> groups;
    std::vector<size_t> column;  // per term, the index of its sum
    size_t width = 0;            // number of sums
    mutable std::vector<double> sums;  // of the row read last

    std::function<std::string(const std::vector<std::string>&, const std::vector<std::string>&)>
    checker(size_t dims) const {
      const size_t w = width;
      return [dims, w](const std::vector<std::string>&, const std::vector<std::string>& types) {
        return grouped_columns_problem(types, dims, "UInt32", w);
      };
    }

    // Reads a row's groups into `lists` and its sums into `sums`; false for a row that reaches
    // no cell. With `rollup`, a group 0 is a rolled-up key and reads as null. Throws
    // CLICKHOUSE_E_BAD_RESPONSE for a group or a number the statement did not ask for.
    bool read(const ServerFacts& facts, const memory::FactRequest& request,
              const std::vector<std::string>& fields,
              std::vector<const std::vector<int64_t>*>& lists, bool rollup = false) const {
      const size_t dims = request.dimensions.size();
      for (size_t d = 0; d < dims; ++d) {
        double id = 0;
        if (!parse_number(fields[d], id) || id < 0 ||
            id > static_cast<double>(groups[d].size()) ||
            (id == 0 && !request.dimensions[d].allKeys && !rollup))
          facts.bad_response(request, "a group '" + fields[d] + "' the statement did not ask for");
        if (id == 0 && rollup) {
          lists[d] = nullptr;
          continue;
        }
        if (id == 0) return false;  // keys that no member holds
        lists[d] = groups[d][static_cast<size_t>(id) - 1];
      }
      sums.resize(width);
      for (size_t m = 0; m < width; ++m)
        if (!parse_number(fields[dims + m], sums[m]))
          facts.bad_response(request, "'" + fields[dims + m] + "' is not a number");
      return fields.back() != "0";
    }
  };

  // With `everyKey`, rows whose key no member holds are left out by the statement itself.
  Statement grid_statement(const memory::FactRequest& request, bool everyKey) const {
    Statement out;
    out.groups.resize(request.dimensions.size());
    std::string select = "SELECT ";
    std::string where;
    std::string groupBy;
    for (size_t d = 0; d < request.dimensions.size(); ++d) {
      const memory::FactRequest::Dimension& dimension = request.dimensions[d];
      std::map<std::vector<int64_t>, uint32_t> known;
      std::string keys, ids;
      for (size_t k = 0; k < dimension.keys.size(); ++k) {
        auto [it, added] =
            known.emplace(dimension.offsets[k], static_cast<uint32_t>(known.size() + 1));
        if (added) out.groups[d].push_back(&dimension.offsets[k]);
        if (k) keys += ',', ids += ',';
        keys += quoteLiteral(dimension.keys[k].string());
        ids += std::to_string(it->second);
      }
      const std::string& column = m_Keys.at(dimension.keyColumn);
      const std::string alias = "g" + std::to_string(d);
      select += "toUInt32(transform(" + column + ", [" + keys + "], [" + ids + "], 0)) AS " +
                alias + ", ";
      // Filtering on every key costs the server more than the rows of unknown keys it keeps,
      // which come back in group 0 and are dropped.
      if (!dimension.allKeys || everyKey)
        where += (where.empty() ? " WHERE " : " AND ") + column + " IN (" + keys + ")";
      groupBy += (groupBy.empty() ? " GROUP BY " : ", ") + alias;
    }
    // Each stored measure or combination of them is summed once, whatever number of terms
    // read it. A combination is written as the evaluator computes it on the grid, from the sums
    // of its measures, so that its cells are the same either way.
    std::map<std::vector<int64_t>, size_t> known;
    std::string pushed;
    for (const memory::FactRequest::Term& term : request.terms) {
      std::vector<int64_t> key = term.coefficients;
      if (key.empty()) {
        key.assign(m_Values.size(), 0);
        key.at(term.measure) = 1;
      }
      if (key.size() != m_Values.size())
        raise<InvalidArgumentExceptionImpl>(
            CLICKHOUSE_E_SOURCE, TOVAString("a sum of measures that the fact table does not hold"));
      auto [it, added] = known.emplace(std::move(key), known.size());
      out.column.push_back(it->second);
      if (!added) continue;
      const std::string expression = term.coefficients.empty()
                                         ? "toFloat64(sum(" + m_Values[term.measure] + "))"
                                         : combination_sql(term.coefficients);
      select += expression + " AS v" + std::to_string(it->second) + ", ";
      if (!term.calculation.empty())
        pushed += (pushed.empty() ? "" : ", ") + term.calculation.string() + " as " + expression;
    }
    out.width = known.size();
    if (!pushed.empty())
      facts_log().logAt(5, "%s: calculated measures summed by the server: %s", request.purpose,
                        TOVAString(pushed));
    out.sql = select + "count() AS n FROM " + m_Table + where + groupBy;
    return out;
  }

  // A condition on the sums, each comparison written as the evaluator computes it on the
  // grid's values.
  static std::string condition_sql(const memory::SumCondition& c, const Statement& statement) {
    switch (c.kind) {
      case memory::SumCondition::SC_AND:
        return "(" + condition_sql(*c.left, statement) + ") AND (" +
               condition_sql(*c.right, statement) + ")";
      case memory::SumCondition::SC_OR:
        return "(" + condition_sql(*c.left, statement) + ") OR (" +
               condition_sql(*c.right, statement) + ")";
      case memory::SumCondition::SC_COMPARE:
        break;
    }
    static const char* const operators[] = {" = ", " != ", " < ", " <= ", " > ", " >= "};
    return "v" + std::to_string(statement.column.at(c.term)) + operators[c.comparison] +
           number_sql(c.number);
  }

  // Of the stored measures' sums, the multiples that `coefficients` gives, in the measures'
  // order: sum(a) - sum(b) for a minus b.
  std::string combination_sql(const std::vector<int64_t>& coefficients) const {
    std::string out;
    for (size_t m = 0; m < coefficients.size(); ++m) {
      const int64_t k = coefficients[m];
      if (k == 0) continue;
      std::string sum = "toFloat64(sum(" + m_Values[m] + "))";
      if (k != 1 && k != -1) sum += " * " + std::to_string(k < 0 ? -k : k);
      out += out.empty() ? (k < 0 ? "-" : "") + sum : (k < 0 ? " - " : " + ") + sum;
    }
    return "(" + out + ")";
  }

  std::string condition_sql(const memory::FactCondition& c) const {
    switch (c.kind) {
      case memory::FactCondition::FK_AND:
        return "(" + condition_sql(*c.left) + ") AND (" + condition_sql(*c.right) + ")";
      case memory::FactCondition::FK_OR:
        return "(" + condition_sql(*c.left) + ") OR (" + condition_sql(*c.right) + ")";
      case memory::FactCondition::FK_VALUE:
        return predicate_sql(*c.predicate, m_Values.at(c.measure));
      case memory::FactCondition::FK_KEYS:
        break;
    }
    if (c.keys.empty()) return "0";
    std::string keys;
    for (const TOVAString& key : c.keys)
      keys += (keys.empty() ? "" : ",") + quoteLiteral(key.string());
    return m_Keys.at(c.keyColumn) + " IN (" + keys + ")";
  }

  std::shared_ptr<const ServerConnection> m_pServer;
  memory::FactLayout m_Layout;
  std::string m_Table;
  std::vector<std::string> m_Keys;
  std::vector<std::string> m_Values;
};

class ServerSource final : public memory::CubeSource {
 public:
  explicit ServerSource(ServerSettings settings)
      : m_pServer(std::make_shared<const ServerConnection>(std::move(settings))) {}

  memory::SourceTable readTable(const TOVAString& table) override {
    memory::SourceTable out;
    out.name = "table '" + table.string() + "' on " + m_pServer->describe();
    const TOVAString purpose = TOVAString().build("reading the members of table '%s'", table);
    m_pServer->select(
        "SELECT * FROM " + quoteIdentifier(table.string()), purpose,
        [&](const std::vector<std::string>& names, const std::vector<std::string>&) {
          for (const std::string& name : names) out.header.emplace_back(name);
          return std::string();
        },
        [&](const std::vector<std::string>& fields) {
          std::vector<TOVAString>& row = out.rows.emplace_back();
          row.reserve(fields.size());
          for (const std::string& field : fields) row.emplace_back(field);
        },
        nullptr);
    return out;
  }

  std::shared_ptr<memory::FactSource> openFacts(const memory::FactLayout& layout) override {
    auto facts = std::make_shared<ServerFacts>(m_pServer, layout);
    std::unordered_map<std::string, std::string> types;
    const TOVAString purpose =
        TOVAString().build("reading the columns of table '%s'", layout.table);
    m_pServer->select(
        "SELECT name, type FROM system.columns WHERE database = currentDatabase() AND table = " +
            quoteLiteral(layout.table.string()),
        purpose, nullptr,
        [&](const std::vector<std::string>& fields) { types[fields[0]] = fields[1]; }, nullptr);
    auto fail = [&](const TOVAString& problem) {
      raise<InvalidArgumentExceptionImpl>(CLICKHOUSE_E_SOURCE, problem);
    };
    if (types.empty())
      fail(TOVAString().build("the server %s has no table '%s' in database '%s'",
                              TOVAString(m_pServer->describe()), layout.table,
                              TOVAString(m_pServer->settings().database)));
    for (const TOVAString& key : layout.keyColumns) {
      auto it = types.find(key.string());
      if (it == types.end())
        fail(TOVAString().build("table '%s' has no column '%s'", layout.table, key));
      if (it->second.find("String") == std::string::npos)
        fail(TOVAString().build("key column '%s' of table '%s' is %s, not text", key, layout.table,
                                TOVAString(it->second)));
    }
    for (const TOVAString& value : layout.valueColumns) {
      auto it = types.find(value.string());
      if (it == types.end())
        fail(TOVAString().build("table '%s' has no column '%s'", layout.table, value));
      if (it->second.find("Int") == std::string::npos &&
          it->second.find("Float") == std::string::npos &&
          it->second.find("Decimal") == std::string::npos)
        fail(TOVAString().build("measure column '%s' of table '%s' is %s, not a number", value,
                                layout.table, TOVAString(it->second)));
    }
    return facts;
  }

 private:
  std::shared_ptr<const ServerConnection> m_pServer;
};

}  // namespace

std::unique_ptr<memory::CubeSource> openSource(const std::map<std::string, TOVAString>& attributes,
                                               const std::string&) {
  ServerSettings settings;
  for (const auto& [name, value] : attributes) {
    if (name == "url")
      settings.url = value.string();
    else if (name == "database")
      settings.database = value.string();
    else if (name == "user")
      settings.user = value.string();
    else if (name == "passwordVariable")
      settings.passwordVariable = value.string();
    else if (name != "timeout" && name != "connectTimeout")
      raise<InvalidArgumentExceptionImpl>(
          CLICKHOUSE_E_SOURCE,
          TOVAString().build("unknown attribute '%s' of a server source", TOVAString(name)));
  }
  settings.timeoutMs = milliseconds(attributes, "timeout", settings.timeoutMs);
  settings.connectTimeoutMs = milliseconds(attributes, "connectTimeout", settings.connectTimeoutMs);
  if (!settings.url.starts_with("http://") && !settings.url.starts_with("https://"))
    raise<InvalidArgumentExceptionImpl>(
        CLICKHOUSE_E_SOURCE, TOVAString().build("the url '%s' is not an http or https address",
                                                TOVAString(settings.url)));
  quoteIdentifier(settings.database);
  return std::make_unique<ServerSource>(std::move(settings));
}

}  // namespace clickhouse
