// Entries that subtotals and dynamic calculations add to the axes of a computed grid: the
// library lays out each axis with its entries; the grid is then rebuilt along that axis, a
// total's cells aggregating the cells of the tuples it totals, a calculation's computed from the
// cells of the axis's tuples at the same place.

#include <map>

#include "Calculations.h"
#include "QueryEngine.h"
#include "common/GridClauses.h"

namespace memory {

namespace {

// The grid with axis `a` replaced by `entries`: a row's cells are copied, a total's aggregate
// the cells of its rows at the same place on the other axes; a calculation's stay empty until
// every axis has its entries (compute_calculations).
void relayout_cells(GridData& grid, size_t a, const std::vector<common::AxisEntry>& entries,
                    const std::vector<int>& operations, const std::vector<uint8_t>& summedBySource) {
  const size_t axes = grid.axes.size();
  std::vector<uint64_t> counts(axes), strides(axes);
  uint64_t total = 1;
  for (size_t k = 0; k < axes; ++k) {
    counts[k] = k == a ? entries.size() : grid.axes[k].tupleCount;
    strides[k] = total;
    total *= counts[k];
  }
  std::vector<double> values(static_cast<size_t>(total), 0.0);
  std::vector<uint8_t> filled(static_cast<size_t>(total), 0);
  std::vector<int32_t> band(grid.band.empty() ? 0 : static_cast<size_t>(total), -1);
  std::vector<double> gathered;
  for (uint64_t c = 0; c < total; ++c) {
    // The old ordinal of the cell with tuple 0 on axis a.
    uint64_t base = 0;
    for (size_t k = 0; k < axes; ++k)
      if (k != a) base += ((c / strides[k]) % counts[k]) * grid.cellStrides[k];
    const common::AxisEntry& entry = entries[static_cast<size_t>((c / strides[a]) % counts[a])];
    const auto to = static_cast<size_t>(c);
    if (entry.row >= 0) {
      const auto from = static_cast<size_t>(base + static_cast<uint64_t>(entry.row) * grid.cellStrides[a]);
      values[to] = grid.values[from];
      filled[to] = grid.filled[from];
      if (!band.empty()) band[to] = grid.band[from];
      continue;
    }
    if (entry.calculation >= 0) continue;
    if (summedBySource[entry.subtotal]) {
      values[to] = grid.totals[static_cast<size_t>(base)];
      filled[to] = grid.totalsFilled[static_cast<size_t>(base)];
      continue;
    }
    gathered.clear();
    for (size_t r : entry.rows) {
      const auto from = static_cast<size_t>(base + r * grid.cellStrides[a]);
      if (grid.filled[from]) gathered.push_back(grid.values[from]);
    }
    filled[to] = common::aggregateValues(operations[entry.subtotal], gathered, values[to]) ? 1 : 0;
  }
  grid.values = std::move(values);
  grid.filled = std::move(filled);
  grid.band = std::move(band);
  grid.cellStrides = std::move(strides);
  grid.axes[a].tupleCount = counts[a];
  // The totals' numbering is the grid's before the entries.
  grid.totals.clear();
  grid.totalsFilled.clear();
}

// A calculation laid out on its axis, computed once every axis has its entries, so that its
// cells at the totals of other axes come from the totals' cells.
struct PendingCalculation {
  size_t entry;  // shown index of its entry
  size_t row;    // the row it stands after, among the axis's rows before entries
  int type;
  TOVAString context;
};

// Places on the other axes: the ordinals of the cells whose tuple on axis `a` is the first.
std::vector<uint64_t> places_of(const GridData& grid, size_t a) {
  std::vector<uint64_t> out;
  const uint64_t count = grid.axes[a].tupleCount;
  for (uint64_t c = 0; c < grid.values.size(); ++c)
    if ((c / grid.cellStrides[a]) % count == 0) out.push_back(c);
  return out;
}

MemberNode added_node(const TOVAString& caption, const TOVAString& uniqueName, int32_t level) {
  MemberNode node;
  node.name = caption;
  node.caption = caption;
  node.uniqueName = uniqueName;
  node.level = level;
  return node;
}

// The row of the axis that shows the calculation's tuple, or -1.
int64_t find_row(const common::CellSource& source, const common::EvaluationRows& rows,
                 const GridCalculation& calculation) {
  if (rows.hierarchies.empty()) return -1;
  std::vector<int32_t> wanted(rows.hierarchies.size(), -2);
  for (const TOVAString& name : calculation.members) {
    int32_t hierarchy = -1, member = -1;
    if (!source.findMember(name, hierarchy, member))
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_CLAUSE, calculation.context,
                                                TOVAString().build("the cube has no member '%s'", name));
    for (size_t k = 0; k < rows.hierarchies.size(); ++k)
      if (rows.hierarchies[k] == hierarchy) wanted[k] = member;
  }
  for (size_t r = 0; r < rows.count; ++r) {
    bool same = true;
    for (size_t k = 0; k < wanted.size() && same; ++k) same = rows.members[k][r] == wanted[k];
    if (same) return static_cast<int64_t>(r);
  }
  return -1;
}

// The value of the parent of `row` (its tuple with the last member's parent) at every place on
// the other axes: from the axis when it shows the parent, else read from the cube at the places
// that are tuples of the other axes (not entries added to them).
std::map<uint64_t, double> parent_values(CubeImpl* cube, common::CellSource& source, const GridData& grid, size_t a,
                                         const common::EvaluationRows& rows, const std::vector<size_t>& rowShown,
                                         size_t row, const TOVAString& context) {
  std::map<uint64_t, double> out;
  const size_t last = rows.hierarchies.size();
  if (!last) return out;
  std::vector<int32_t> tuple(last);
  for (size_t k = 0; k < last; ++k) tuple[k] = rows.members[k][row];
  tuple.back() = tuple.back() >= 0 ? source.parent(rows.hierarchies[last - 1], tuple.back()) : -1;
  if (tuple.back() < 0) return out;
  int64_t shown = -1;
  for (size_t r = 0; r < rows.count && shown < 0; ++r) {
    bool same = true;
    for (size_t k = 0; k < last && same; ++k) same = rows.members[k][r] == tuple[k];
    if (same) shown = static_cast<int64_t>(r);
  }
  const std::vector<uint64_t> bases = places_of(grid, a);
  if (shown >= 0) {
    for (uint64_t c : bases) {
      const auto from = static_cast<size_t>(c + rowShown[static_cast<size_t>(shown)] * grid.cellStrides[a]);
      if (grid.filled[from]) out[c] = grid.values[from];
    }
    return out;
  }
  // Read from the cube: the places by the measure they show, each evaluated in one pass.
  const int32_t measures = source.measuresHierarchy();
  int32_t measure = source.contextMember(measures);
  for (size_t k = 0; k < last; ++k)
    if (rows.hierarchies[k] == measures) measure = tuple[k];
  std::map<int32_t, std::pair<std::vector<uint64_t>, common::EvaluationRows>> places;
  for (uint64_t c : bases) {
    common::EvaluationRows at;
    int32_t shows = measure;
    bool real = true;
    for (size_t k = 0; k < last; ++k)
      if (rows.hierarchies[k] != measures) {
        at.hierarchies.push_back(rows.hierarchies[k]);
        at.members.push_back({tuple[k]});
      }
    for (size_t b = 0; b < grid.axes.size() && real; ++b) {
      if (b == a) continue;
      uint64_t t = (c / grid.cellStrides[b]) % grid.axes[b].tupleCount;
      if (b < grid.layout.size() && !grid.layout[b].empty()) {
        const int64_t entry = grid.layout[b][static_cast<size_t>(t)];
        real = entry >= 0;
        t = static_cast<uint64_t>(entry);
      }
      for (size_t h = 0; h < grid.axes[b].hierarchies.size() && real; ++h) {
        const int32_t member = grid.member(b, t, h);
        const int32_t hierarchy = source.findHierarchy(grid.axes[b].hierarchies[h].hierarchy->getUniqueName());
        if (hierarchy == measures) {
          shows = member;
        } else {
          at.hierarchies.push_back(hierarchy);
          at.members.push_back({member});
        }
      }
    }
    if (!real) continue;
    auto& [cells, evaluation] = places[shows];
    if (cells.empty()) evaluation.hierarchies = at.hierarchies, evaluation.members.resize(at.members.size());
    cells.push_back(c);
    for (size_t k = 0; k < at.members.size(); ++k) evaluation.members[k].push_back(at.members[k].front());
    evaluation.count = cells.size();
  }
  for (auto& entry : places) {
    auto_unuse<NUVA_o::Expression> tree =
        parse_clause(cube, source.memberUniqueName(measures, entry.first), context);
    std::vector<double> values;
    std::vector<uint8_t> filled;
    common::CompiledExpression::compile(source, *tree, entry.first, context)
        ->evaluate(entry.second.second, values, filled);
    for (size_t r = 0; r < entry.second.first.size(); ++r)
      if (filled[r]) out[entry.second.first[r]] = values[r];
  }
  return out;
}

}  // namespace

void apply_axis_entries(CubeImpl* cube, const GridQuery& query, const std::vector<ResolvedCoordinate>& slicer,
                        GridData& grid, const std::atomic<bool>* interrupt) {
  if (query.subtotals.empty() && query.calculations.empty()) return;
  for (const GridSubtotal& subtotal : query.subtotals)
    if (subtotal.operation < 0 || subtotal.operation > 4 || subtotal.type < 0 || subtotal.type > 1 ||
        subtotal.position < 0 || subtotal.position > 1)
      raise_query<InvalidArgumentExceptionImpl>(
          MEMORY_E_CLAUSE, subtotal.context,
          TOVAString().build("operation %d, type %d or position %d is not one the provider knows", subtotal.operation,
                             subtotal.type, subtotal.position));
  for (const GridCalculation& calculation : query.calculations)
    if (calculation.type < 0 || calculation.type > 5)
      raise_query<InvalidArgumentExceptionImpl>(
          MEMORY_E_CLAUSE, calculation.context,
          TOVAString().build("type %d is not one the provider knows", calculation.type));
  ResolvedQuery context;
  context.slicer = slicer;
  std::unique_ptr<common::CellSource> source = make_cell_source(cube, context, interrupt);
  grid.layout.resize(grid.axes.size());
  grid.added.resize(grid.axes.size());
  std::vector<common::EvaluationRows> rowsOf(grid.axes.size());
  std::vector<std::vector<PendingCalculation>> pending(grid.axes.size());
  for (size_t a = 0; a < grid.axes.size(); ++a) {
    std::vector<common::AxisSubtotal> subtotals;
    std::vector<const GridSubtotal*> of;
    std::vector<int> operations;
    for (const GridSubtotal& subtotal : query.subtotals)
      if (subtotal.axis == a) {
        subtotals.push_back({subtotal.operation, subtotal.type, subtotal.position});
        of.push_back(&subtotal);
        operations.push_back(subtotal.operation);
      }
    const ResolvedAxis& axis = grid.axes[a];
    const size_t hierarchies = axis.hierarchies.size();
    common::EvaluationRows rows;
    rows.count = static_cast<size_t>(axis.tupleCount);
    for (size_t h = 0; h < hierarchies; ++h) {
      rows.hierarchies.push_back(source->findHierarchy(axis.hierarchies[h].hierarchy->getUniqueName()));
      std::vector<int32_t> members(rows.count);
      for (size_t t = 0; t < rows.count; ++t) members[t] = grid.member(a, t, h);
      rows.members.push_back(std::move(members));
    }
    std::vector<common::AxisCalculation> calculations;
    std::vector<const GridCalculation*> calculationOf;
    for (const GridCalculation& calculation : query.calculations) {
      if (calculation.axis != a) continue;
      const int64_t row = find_row(*source, rows, calculation);
      if (row < 0) continue;
      calculations.push_back({static_cast<size_t>(row), calculation.type});
      calculationOf.push_back(&calculation);
    }
    if (subtotals.empty() && calculations.empty()) continue;
    const std::vector<common::AxisEntry> entries = common::subtotalAxis(*source, rows, subtotals, calculations);
    std::vector<int64_t>& layout = grid.layout[a];
    for (const common::AxisEntry& entry : entries) {
      if (entry.row >= 0) {
        layout.push_back(entry.row);
        continue;
      }
      std::vector<MemberNode> nodes;
      const size_t first = entry.rows.front();
      for (size_t h = 0; h + 1 < hierarchies; ++h) nodes.push_back(grid.node(axis.hierarchies[h], grid.member(a, first, h)));
      if (entry.calculation >= 0) {
        const GridCalculation& calculation = *calculationOf[static_cast<size_t>(entry.calculation)];
        pending[a].push_back({layout.size(), first, calculation.type, calculation.context});
        const MemberNode& at = grid.node(axis.hierarchies[hierarchies - 1], grid.member(a, first, hierarchies - 1));
        nodes.push_back(added_node(TOVAString().build("%s %s", at.caption, calculation.caption), calculation.uniqueName,
                                   at.level));
      } else if (entry.parent >= 0) {
        const GridSubtotal& subtotal = *of[entry.subtotal];
        const MemberNode& parent = grid.node(axis.hierarchies[hierarchies - 1], entry.parent);
        nodes.push_back(added_node(TOVAString().build("%s %s", parent.caption, subtotal.caption), subtotal.uniqueName,
                                   parent.level));
      } else {
        const GridSubtotal& subtotal = *of[entry.subtotal];
        nodes.push_back(added_node(subtotal.caption, subtotal.uniqueName, 0));
      }
      layout.push_back(-1 - static_cast<int64_t>(grid.added[a].size()));
      grid.added[a].push_back(std::move(nodes));
    }
    // The source summed this axis whole with the cells, before any other axis got entries.
    std::vector<uint8_t> summedBySource(subtotals.size(), 0);
    if (grid.totalsAxis == static_cast<int>(a) && !grid.totals.empty())
      for (size_t s = 0; s < subtotals.size(); ++s)
        summedBySource[s] = subtotals[s].operation == 0 && subtotals[s].type == 0;
    relayout_cells(grid, a, entries, operations, summedBySource);
    rowsOf[a] = std::move(rows);
  }
  // The calculations, over the axes as shown: at another axis's total, from the total's cells.
  for (size_t a = 0; a < grid.axes.size(); ++a) {
    if (pending[a].empty()) continue;
    const common::EvaluationRows& rows = rowsOf[a];
    std::vector<size_t> rowShown(rows.count);
    for (size_t t = 0; t < grid.layout[a].size(); ++t)
      if (grid.layout[a][t] >= 0) rowShown[static_cast<size_t>(grid.layout[a][t])] = t;
    const uint64_t stride = grid.cellStrides[a];
    std::vector<double> line(rows.count);
    std::vector<uint8_t> lineFilled(rows.count);
    for (const PendingCalculation& calculation : pending[a]) {
      const std::map<uint64_t, double> parents =
          calculation.type == 1 ? parent_values(cube, *source, grid, a, rows, rowShown, calculation.row, calculation.context)
                                : std::map<uint64_t, double>();
      for (uint64_t base : places_of(grid, a)) {
        for (size_t r = 0; r < rows.count; ++r) {
          const auto from = static_cast<size_t>(base + rowShown[r] * stride);
          line[r] = grid.values[from];
          lineFilled[r] = grid.filled[from];
        }
        const auto parent = parents.find(base);
        const auto to = static_cast<size_t>(base + calculation.entry * stride);
        grid.filled[to] = common::calculateRow(calculation.type, calculation.row, line, lineFilled,
                                               parent == parents.end() ? nullptr : &parent->second, grid.values[to])
                              ? 1
                              : 0;
      }
    }
  }
}

}  // namespace memory
