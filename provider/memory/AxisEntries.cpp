// Entries that subtotals add to the axes of a computed grid: the library lays out each axis with
// its totals; the grid is then rebuilt along that axis, a total's cells aggregating the cells
// of the tuples it totals.

#include "Calculations.h"
#include "QueryEngine.h"
#include "common/GridClauses.h"

namespace memory {

namespace {

// The grid with axis `a` replaced by `entries`: a row's cells are copied, a total's aggregate
// the cells of its rows at the same place on the other axes.
void relayout_cells(GridData& grid, size_t a, const std::vector<common::AxisEntry>& entries,
                    const std::vector<int>& operations) {
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
}

MemberNode added_node(const TOVAString& caption, const TOVAString& uniqueName, int32_t level) {
  MemberNode node;
  node.name = caption;
  node.caption = caption;
  node.uniqueName = uniqueName;
  node.level = level;
  return node;
}

}  // namespace

void apply_subtotals(CubeImpl* cube, const GridQuery& query, const std::vector<ResolvedCoordinate>& slicer,
                     GridData& grid, const std::atomic<bool>* interrupt) {
  if (query.subtotals.empty()) return;
  for (const GridSubtotal& subtotal : query.subtotals)
    if (subtotal.operation < 0 || subtotal.operation > 4 || subtotal.type < 0 || subtotal.type > 1 ||
        subtotal.position < 0 || subtotal.position > 1)
      raise_query<InvalidArgumentExceptionImpl>(
          MEMORY_E_CLAUSE, subtotal.context,
          TOVAString().build("operation %d, type %d or position %d is not one the provider knows", subtotal.operation,
                             subtotal.type, subtotal.position));
  ResolvedQuery context;
  context.slicer = slicer;
  std::unique_ptr<common::CellSource> source = make_cell_source(cube, context, interrupt);
  grid.layout.resize(grid.axes.size());
  grid.added.resize(grid.axes.size());
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
    if (subtotals.empty()) continue;
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
    const std::vector<common::AxisEntry> entries = common::subtotalAxis(*source, rows, subtotals);
    std::vector<int64_t>& layout = grid.layout[a];
    for (const common::AxisEntry& entry : entries) {
      if (entry.row >= 0) {
        layout.push_back(entry.row);
        continue;
      }
      const GridSubtotal& subtotal = *of[entry.subtotal];
      std::vector<MemberNode> nodes;
      const size_t first = entry.rows.front();
      for (size_t h = 0; h + 1 < hierarchies; ++h) nodes.push_back(grid.node(axis.hierarchies[h], grid.member(a, first, h)));
      if (entry.parent >= 0) {
        const MemberNode& parent = grid.node(axis.hierarchies[hierarchies - 1], entry.parent);
        nodes.push_back(added_node(TOVAString().build("%s %s", parent.caption, subtotal.caption), subtotal.uniqueName,
                                   parent.level));
      } else {
        nodes.push_back(added_node(subtotal.caption, subtotal.uniqueName, 0));
      }
      layout.push_back(-1 - static_cast<int64_t>(grid.added[a].size()));
      grid.added[a].push_back(std::move(nodes));
    }
    relayout_cells(grid, a, entries, operations);
  }
}

}  // namespace memory
