#include "common/GridClauses.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

std::vector<int32_t> row_tuple(const EvaluationRows& axis, size_t row) {
  std::vector<int32_t> tuple(axis.hierarchies.size());
  for (size_t k = 0; k < tuple.size(); ++k) tuple[k] = axis.members[k][row];
  return tuple;
}

// -1, 0 or 1 as row a orders before, with or after row b under one key.
int compare_key(const RowSortKey& key, size_t a, size_t b) {
  const bool fa = key.filled[a] != 0, fb = key.filled[b] != 0;
  int c = 0;
  if (fa != fb)
    c = fa ? 1 : -1;
  else if (fa && key.values[a] != key.values[b])
    c = key.values[a] < key.values[b] ? -1 : 1;
  return key.descending ? -c : c;
}

}  // namespace

std::vector<size_t> filterRows(CellSource& source, const EvaluationRows& axis, NUVA_o::Expression& expression,
                               int32_t currentMeasure, const TOVAString& context) {
  std::vector<size_t> kept;
  if (!CompiledSet::isSet(expression)) {
    auto compiled = CompiledExpression::compile(source, expression, currentMeasure, context);
    std::vector<double> values;
    std::vector<uint8_t> filled;
    compiled->evaluate(axis, values, filled);
    for (size_t r = 0; r < axis.count; ++r)
      if (filled[r] && values[r] != 0.0) kept.push_back(r);
    return kept;
  }
  auto compiled = CompiledSet::compile(source, expression, currentMeasure, context);
  return rowsInSet(axis, compiled->hierarchies(), compiled->evaluate(), context);
}

std::vector<size_t> rowsInSet(const EvaluationRows& axis, const std::vector<int32_t>& setHierarchies,
                              const std::vector<int32_t>& members, const TOVAString& context) {
  std::vector<size_t> kept;
  // Pairs (position in the set's tuples, position in the axis) of the shared hierarchies.
  std::vector<std::pair<size_t, size_t>> shared;
  for (size_t s = 0; s < setHierarchies.size(); ++s)
    for (size_t k = 0; k < axis.hierarchies.size(); ++k)
      if (setHierarchies[s] == axis.hierarchies[k]) shared.emplace_back(s, k);
  if (shared.empty())
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_EVAL_INVALID,
                                                   "the set shares no hierarchy with the axis it filters",
                                                   context);
  const size_t width = setHierarchies.size();
  std::set<std::vector<int32_t>> selected;
  for (size_t t = 0; width && t < members.size() / width; ++t) {
    std::vector<int32_t> key;
    for (const auto& [s, k] : shared) key.push_back(members[t * width + s]);
    selected.insert(std::move(key));
  }
  for (size_t r = 0; r < axis.count; ++r) {
    std::vector<int32_t> key;
    for (const auto& [s, k] : shared) key.push_back(axis.members[k][r]);
    if (selected.count(key)) kept.push_back(r);
  }
  return kept;
}

RowSortKey sortKey(CellSource& source, const EvaluationRows& axis, NUVA_o::Expression& tuple,
                   int32_t currentMeasure, const TOVAString& context, bool descending, bool hierarchical) {
  RowSortKey key;
  key.descending = descending;
  key.hierarchical = hierarchical;
  CompiledExpression::compile(source, tuple, currentMeasure, context)->evaluate(axis, key.values, key.filled);
  return key;
}

std::vector<size_t> orderRows(const CellSource& source, const EvaluationRows& axis,
                              const std::vector<RowSortKey>& keys) {
  std::vector<size_t> rows(axis.count);
  for (size_t r = 0; r < rows.size(); ++r) rows[r] = r;
  auto before = [&keys](size_t a, size_t b) {
    for (const RowSortKey& key : keys)
      if (const int c = compare_key(key, a, b)) return c < 0;
    return false;
  };
  if (keys.empty()) return rows;
  if (!keys.front().hierarchical) {
    std::stable_sort(rows.begin(), rows.end(), before);
    return rows;
  }
  std::map<std::vector<int32_t>, size_t> rowOf;
  for (size_t r = 0; r < axis.count; ++r) rowOf.emplace(row_tuple(axis, r), r);
  // The parent of a row: the first row found by walking up one hierarchy at a time.
  constexpr size_t kRoot = static_cast<size_t>(-1);
  std::vector<std::vector<size_t>> children(axis.count + 1);
  for (size_t r = 0; r < axis.count; ++r) {
    size_t parent = kRoot;
    std::vector<int32_t> tuple = row_tuple(axis, r);
    for (size_t k = 0; k < tuple.size() && parent == kRoot; ++k) {
      const int32_t own = tuple[k];
      for (int32_t m = own >= 0 ? source.parent(axis.hierarchies[k], own) : -1; m >= 0 && parent == kRoot;
           m = source.parent(axis.hierarchies[k], m)) {
        tuple[k] = m;
        auto found = rowOf.find(tuple);
        if (found != rowOf.end()) parent = found->second;
      }
      tuple[k] = own;
    }
    children[parent == kRoot ? axis.count : parent].push_back(r);
  }
  std::vector<size_t> out;
  out.reserve(axis.count);
  // Depth first without recursion: deep hierarchies must not exhaust the stack.
  std::vector<std::pair<size_t, size_t>> stack{{axis.count, 0}};
  std::stable_sort(children[axis.count].begin(), children[axis.count].end(), before);
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next == children[node].size()) {
      stack.pop_back();
      continue;
    }
    const size_t child = children[node][next++];
    out.push_back(child);
    std::stable_sort(children[child].begin(), children[child].end(), before);
    stack.emplace_back(child, 0);
  }
  return out;
}

std::vector<int32_t> highlightRows(CellSource& source, const EvaluationRows& cells,
                                   const std::vector<CellRule>& rules, int32_t currentMeasure) {
  std::vector<int32_t> winner(cells.count, -1);
  std::vector<double> values;
  std::vector<uint8_t> filled;
  for (size_t k = 0; k < rules.size(); ++k) {
    const CellRule& rule = rules[k];
    CompiledExpression::compile(source, *rule.expression, currentMeasure, rule.context)->evaluate(cells, values, filled);
    for (size_t r = 0; r < cells.count; ++r) {
      if (!filled[r] || values[r] == 0.0) continue;
      int32_t& held = winner[r];
      if (held < 0 || rule.solveOrder >= rules[static_cast<size_t>(held)].solveOrder) held = static_cast<int32_t>(k);
    }
  }
  return winner;
}

std::vector<AxisEntry> subtotalAxis(const CellSource& source, const EvaluationRows& axis,
                                    const std::vector<AxisSubtotal>& subtotals,
                                    const std::vector<AxisCalculation>& calculations) {
  // What stands before row r (index r) and after the last row (index count).
  std::vector<std::vector<AxisEntry>> before(axis.count + 1), after(axis.count + 1);
  const size_t last = axis.hierarchies.size();
  for (size_t s = 0; s < subtotals.size(); ++s) {
    const AxisSubtotal& subtotal = subtotals[s];
    std::vector<AxisEntry> totals;
    if (subtotal.type == 0) {
      if (axis.count == 0) continue;
      AxisEntry total;
      total.subtotal = s;
      for (size_t r = 0; r < axis.count; ++r) total.rows.push_back(r);
      totals.push_back(std::move(total));
    } else {
      // Groups keyed by the row's tuple with its last member replaced by that member's parent.
      std::map<std::vector<int32_t>, size_t> groupOf;
      for (size_t r = 0; r < axis.count && last; ++r) {
        const int32_t member = axis.members[last - 1][r];
        const int32_t parent = member >= 0 ? source.parent(axis.hierarchies[last - 1], member) : -1;
        if (parent < 0) continue;
        std::vector<int32_t> key = row_tuple(axis, r);
        key.back() = parent;
        auto [found, added] = groupOf.emplace(std::move(key), totals.size());
        if (added) {
          AxisEntry total;
          total.subtotal = s;
          total.parent = parent;
          totals.push_back(std::move(total));
        }
        totals[found->second].rows.push_back(r);
      }
    }
    for (AxisEntry& total : totals) {
      const size_t first = total.rows.front(), end = total.rows.back();
      if (subtotal.position == 0)
        before[first].push_back(std::move(total));
      else
        after[end].push_back(std::move(total));
    }
  }
  std::vector<AxisEntry> out;
  for (size_t r = 0; r < axis.count; ++r) {
    for (AxisEntry& entry : before[r]) out.push_back(std::move(entry));
    AxisEntry row;
    row.row = static_cast<int64_t>(r);
    out.push_back(std::move(row));
    for (size_t k = 0; k < calculations.size(); ++k)
      if (calculations[k].row == r) {
        AxisEntry calculated;
        calculated.calculation = static_cast<int64_t>(k);
        calculated.rows.push_back(r);
        out.push_back(std::move(calculated));
      }
    for (AxisEntry& entry : after[r]) out.push_back(std::move(entry));
  }
  return out;
}

bool aggregateValues(int operation, const std::vector<double>& filledValues, double& out) {
  if (operation == 4) {
    out = static_cast<double>(filledValues.size());
    return true;
  }
  if (filledValues.empty()) return false;
  double sum = 0;
  for (double v : filledValues) sum += v;
  switch (operation) {
    case 1:
      out = sum / static_cast<double>(filledValues.size());
      break;
    case 2:
      out = *std::min_element(filledValues.begin(), filledValues.end());
      break;
    case 3:
      out = *std::max_element(filledValues.begin(), filledValues.end());
      break;
    default:
      out = sum;
  }
  return true;
}

TOVAString subtotalOperationName(int operation) {
  static const char* const names[] = {"Sum", "Average", "Minimum", "Maximum", "Count"};
  return TOVAString(operation >= 0 && operation < 5 ? names[operation] : names[0]);
}

bool calculateRow(int type, size_t row, const std::vector<double>& values, const std::vector<uint8_t>& filled,
                  const double* parent, double& out) {
  if (row >= values.size() || !filled[row]) return false;
  const double v = values[row];
  switch (type) {
    case 0: {
      double total = 0;
      for (size_t r = 0; r < values.size(); ++r)
        if (filled[r]) total += values[r];
      if (total == 0) return false;
      out = v / total;
      return true;
    }
    case 1:
      if (!parent || *parent == 0) return false;
      out = v / *parent;
      return true;
    case 2: {
      size_t above = 0;
      for (size_t r = 0; r < values.size(); ++r) above += filled[r] && values[r] > v;
      out = static_cast<double>(above + 1);
      return true;
    }
    case 3:
      out = 0;
      for (size_t r = 0; r <= row; ++r)
        if (filled[r]) out += values[r];
      return true;
    case 4:
    case 5:
      if (row == 0 || !filled[row - 1]) return false;
      if (type == 4) {
        out = v - values[row - 1];
        return true;
      }
      if (values[row - 1] == 0) return false;
      out = v / values[row - 1];
      return true;
    default:
      return false;
  }
}

TOVAString calculationTypeName(int type) {
  static const char* const names[] = {"% of Total", "% of Parent", "Rank", "Running Sum", "Difference", "Ratio"};
  return TOVAString(type >= 0 && type < 6 ? names[type] : "Calculation");
}

}  // namespace common
