// Clauses of grid queries: the library orders and filters the tuples of an axis, read from the
// cube through the evaluator; the axis then keeps the chosen tuples of its cross join. Highlights
// are evaluated over the final cells.

#include <algorithm>
#include <map>

#include "Calculations.h"
#include "QueryEngine.h"
#include "common/CommonExpression.h"
#include "common/GridClauses.h"

namespace memory {

common::EvaluationRows axis_rows(const common::CellSource& source, const ResolvedAxis& axis,
                               const std::vector<uint64_t>& tuples) {
  common::EvaluationRows rows;
  rows.count = tuples.size();
  for (size_t h = 0; h < axis.hierarchies.size(); ++h) {
    const ResolvedCoordinate& c = axis.hierarchies[h];
    rows.hierarchies.push_back(source.findHierarchy(c.hierarchy->getUniqueName()));
    std::vector<int32_t> members(tuples.size());
    for (size_t r = 0; r < tuples.size(); ++r)
      members[r] = c.members[static_cast<size_t>((tuples[r] / axis.strides[h]) % c.members.size())];
    rows.members.push_back(std::move(members));
  }
  return rows;
}

void shrink_cross_join(ResolvedAxis& axis) {
  const size_t n = axis.hierarchies.size();
  std::vector<std::vector<int32_t>> newIndex(n);
  for (size_t h = 0; h < n; ++h) {
    const size_t size = axis.hierarchies[h].members.size();
    std::vector<uint8_t> used(size, 0);
    for (uint64_t t : axis.order) used[static_cast<size_t>((t / axis.strides[h]) % size)] = 1;
    newIndex[h].assign(size, -1);
    std::vector<int32_t> kept;
    for (size_t i = 0; i < size; ++i)
      if (used[i]) {
        newIndex[h][i] = static_cast<int32_t>(kept.size());
        kept.push_back(axis.hierarchies[h].members[i]);
      }
    axis.hierarchies[h].members = std::move(kept);
  }
  const std::vector<uint64_t> oldStrides = axis.strides;
  std::vector<size_t> oldSizes(n);
  for (size_t h = 0; h < n; ++h) oldSizes[h] = newIndex[h].size();
  finish_axis(axis);
  for (uint64_t& t : axis.order) {
    uint64_t renumbered = 0;
    for (size_t h = 0; h < n; ++h)
      renumbered += static_cast<uint64_t>(newIndex[h][static_cast<size_t>((t / oldStrides[h]) % oldSizes[h])]) *
                    axis.strides[h];
    t = renumbered;
  }
}

auto_unuse<NUVA_o::Expression> parse_clause(CubeImpl* cube, const TOVAString& text, const TOVAString& context) {
  auto_unuse<NUVA_o::Expression> tree(createCommonExpression(cube));
  bool parsed = false;
  try {
    parsed = tree->setTextAndCreateTree(text);
  } catch (const olap_api::ApiException& e) {
    // The parser's error names the expression only; the query's names the clause too.
    raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_CLAUSE, context, e);
  }
  if (!parsed)
    raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_CLAUSE, context, TOVAString().build("'%s' does not parse", text));
  return tree;
}

void apply_axis_clauses(CubeImpl* cube, const GridQuery& query, ResolvedQuery& resolved, const GridData* known,
                        const std::atomic<bool>* interrupt) {
  if (query.filters.empty() && query.sorts.empty()) return;
  std::unique_ptr<common::CellSource> source = make_cell_source(cube, resolved, interrupt, known);
  const int32_t measure = source->contextMember(source->measuresHierarchy());
  for (size_t a = 0; a < resolved.axes.size(); ++a) {
    auto on_axis = [a](const auto& clause) { return clause.axis == a; };
    const bool filtered = std::any_of(query.filters.begin(), query.filters.end(), on_axis);
    const bool sorted = std::any_of(query.sorts.begin(), query.sorts.end(), on_axis);
    if (!filtered && !sorted) continue;
    ResolvedAxis& axis = resolved.axes[a];
    for (const ResolvedCoordinate& c : axis.hierarchies)
      if (c.isMeasures)
        raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "an axis of measures is neither filtered nor sorted");
    // An axis that the fact source filtered already starts from the tuples it kept.
    std::vector<uint64_t> tuples = axis.order;
    if (!axis.ordered) {
      tuples.resize(static_cast<size_t>(axis.tupleCount));
      for (size_t t = 0; t < tuples.size(); ++t) tuples[t] = t;
    }
    for (const GridFilter& filter : query.filters) {
      if (filter.axis != a) continue;
      auto_unuse<NUVA_o::Expression> tree = parse_clause(cube, filter.expression, filter.context);
      const std::vector<size_t> kept =
          common::filterRows(*source, axis_rows(*source, axis, tuples), *tree, measure, filter.context);
      std::vector<uint64_t> left;
      left.reserve(kept.size());
      for (size_t r : kept) left.push_back(tuples[r]);
      tuples = std::move(left);
    }
    if (sorted) {
      const common::EvaluationRows rows = axis_rows(*source, axis, tuples);
      std::vector<common::RowSortKey> keys;
      for (const GridSort& sort : query.sorts)
        if (sort.axis == a) {
          auto_unuse<NUVA_o::Expression> tree = parse_clause(cube, sort.tuple, sort.context);
          keys.push_back(common::sortKey(*source, rows, *tree, measure, sort.context, sort.descending,
                                         sort.hierarchical));
        }
      std::vector<uint64_t> ordered;
      ordered.reserve(tuples.size());
      for (size_t r : common::orderRows(*source, rows, keys)) ordered.push_back(tuples[r]);
      tuples = std::move(ordered);
    }
    axis.ordered = true;
    axis.order = std::move(tuples);
    // A grid computed already keeps the whole cross joins that the orders pick from.
    if (!known) shrink_cross_join(axis);
  }
  // The cells to aggregate: the cross joins, before the orders pick from them.
  resolved.cellCount = 1;
  for (const ResolvedAxis& axis : resolved.axes) resolved.cellCount *= axis.tupleCount;
}

void apply_highlights(CubeImpl* cube, const GridQuery& query, const std::vector<ResolvedCoordinate>& slicer,
                      GridData& grid, const std::atomic<bool>* interrupt) {
  if (query.highlights.empty()) return;
  ResolvedQuery context;
  context.slicer = slicer;
  // The rules read the grid's own cells; cells of other tuples only when they name them.
  std::unique_ptr<common::CellSource> source = make_cell_source(cube, context, interrupt, &grid);
  std::vector<auto_unuse<NUVA_o::Expression>> trees;
  std::vector<common::CellRule> rules;
  for (const GridHighlight& highlight : query.highlights) {
    trees.push_back(parse_clause(cube, highlight.expression, highlight.context));
    rules.push_back({trees.back().get(), highlight.solveOrder, highlight.context});
  }
  // The cells by the measure they show: each measure compiles the rules once.
  const size_t axes = grid.axes.size();
  std::vector<std::pair<size_t, size_t>> coordinates;
  common::EvaluationRows base;
  size_t measureAxis = axes, measureIndex = 0;
  for (size_t a = 0; a < axes; ++a)
    for (size_t h = 0; h < grid.axes[a].hierarchies.size(); ++h) {
      const ResolvedCoordinate& c = grid.axes[a].hierarchies[h];
      if (c.isMeasures) {
        measureAxis = a, measureIndex = h;
        continue;
      }
      coordinates.emplace_back(a, h);
      base.hierarchies.push_back(source->findHierarchy(c.hierarchy->getUniqueName()));
    }
  std::map<int32_t, std::vector<uint64_t>> cellsOf;
  const uint64_t total = grid.values.size();
  const int32_t contextMeasure = source->contextMember(source->measuresHierarchy());
  for (uint64_t c = 0; c < total; ++c) {
    const int32_t measure =
        measureAxis < axes
            ? grid.member(measureAxis, (c / grid.cellStrides[measureAxis]) % grid.axes[measureAxis].tupleCount, measureIndex)
            : contextMeasure;
    cellsOf[measure].push_back(c);
  }
  grid.rules = query.highlights;
  grid.band.assign(static_cast<size_t>(total), -1);
  for (const auto& entry : cellsOf) {
    const std::vector<uint64_t>& cells = entry.second;
    common::EvaluationRows rows = base;
    rows.count = cells.size();
    rows.members.assign(coordinates.size(), std::vector<int32_t>(cells.size()));
    for (size_t k = 0; k < coordinates.size(); ++k) {
      const size_t a = coordinates[k].first, h = coordinates[k].second;
      for (size_t r = 0; r < cells.size(); ++r)
        rows.members[k][r] = grid.member(a, (cells[r] / grid.cellStrides[a]) % grid.axes[a].tupleCount, h);
    }
    const std::vector<int32_t> winner = common::highlightRows(*source, rows, rules, entry.first);
    for (size_t r = 0; r < cells.size(); ++r) grid.band[static_cast<size_t>(cells[r])] = winner[r];
  }
}

}  // namespace memory
