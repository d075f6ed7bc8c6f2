#pragma once

// Private side of grid queries: name resolution, aggregation over the columnar facts, and the
// result set with its chunks.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "MemoryCubeImpl.h"
#include "NUVA_o/Expression.h"
#include "provider/memory/MemoryQuery.h"

namespace memory {

// Exceptions of grid queries (module "MEMORYPROVIDER").
enum : uint32_t {
  MEMORY_E_UNKNOWN_HIERARCHY = 0xC2031020,  // %1 hierarchy
  MEMORY_E_QUERY = 0xC2031021,              // %1 problem
  MEMORY_E_QUERY_TOO_LARGE = 0xC2031022,    // %1 cells, %2 limit
  MEMORY_E_INTERRUPTED = 0xC2031023,
  MEMORY_E_RESULT_CLOSED = 0xC2031024,
  MEMORY_E_RESULT_RANGE = 0xC2031025,       // %1 what, %2 value
  MEMORY_E_CLAUSE = 0xC2031026,             // %1 clause, %2 the expression's error
};

// Registers the texts of the codes above (idempotent).
void registerQueryMessages();

template <class E, class... Inserts>
[[noreturn]] void raise_query(uint32_t code, const Inserts&... inserts) {
  registerMessages();
  registerQueryMessages();
  support::raise<E>(moduleName(), code, inserts...);
}

// One hierarchy of a query with the indexes of its members.
struct ResolvedCoordinate {
  const HierarchyImpl* hierarchy = nullptr;
  size_t dimension = 0;  // index in CubeImpl::dimensions()
  bool isMeasures = false;
  std::vector<int32_t> members;
};

struct ResolvedAxis {
  std::vector<ResolvedCoordinate> hierarchies;
  // Tuples of the axis (saturating), and per hierarchy the tuple distance between two of its
  // members: the last hierarchy varies fastest.
  uint64_t tupleCount = 1;
  std::vector<uint64_t> strides;
  // Set by filters and sorts: the axis's tuples are these tuples of the cross join, in order.
  bool ordered = false;
  std::vector<uint64_t> order;
};

struct ResolvedQuery {
  std::vector<ResolvedAxis> axes;
  std::vector<ResolvedCoordinate> slicer;
  uint64_t cellCount = 1;  // saturating
  // An axis whose whole sum the fact source adds up with the cells (GridData::totals), or -1.
  int totalsAxis = -1;
};

// Per leaf key of the dimension, the indexes in the coordinate's list of the members that cover
// it (several where members of the list overlap).
std::vector<std::vector<uint32_t>> covering(const DimensionImpl& dimension,
                                            const ResolvedCoordinate& coordinate);

// Sets the strides and the tuple count of an axis from its coordinates.
void finish_axis(ResolvedAxis& axis);

// Drops the members of an ordered axis that no tuple of its order holds, so that the cross join
// to aggregate is no larger than needed, and renumbers the order in the smaller cross join.
void shrink_cross_join(ResolvedAxis& axis);

// Throws InvalidArgumentException for unknown names, a hierarchy used twice, a [Measures]
// slicer without exactly one member.
ResolvedQuery resolve_query(const CubeImpl& cube, const GridQuery& query);

// A computed grid, shared by a result set and the chunks cut from it.
struct GridData {
  auto_unuse<CubeImpl> cube;  // keeps the hierarchies of the coordinates alive
  std::vector<ResolvedAxis> axes;
  std::vector<uint64_t> cellStrides;  // per axis: cells between two of its tuples
  std::vector<TOVAString> slicer;     // slicer members and the measure when no axis has one
  std::vector<double> values;
  std::vector<uint8_t> filled;        // 1 where a fact row reached the cell
  // Where the fact source summed axis `totalsAxis` whole: per cell, the sum over that axis's
  // tuples at the cell's place on the other axes (the same along the axis). Empty otherwise,
  // and once entries are added.
  int totalsAxis = -1;
  std::vector<double> totals;
  std::vector<uint8_t> totalsFilled;
  // Per cell the index in `rules` of its highlighting rule, or -1; empty without rules.
  std::vector<int32_t> band;
  std::vector<GridHighlight> rules;
  // Axes with entries added by subtotals and calculations: per axis the shown tuples in order, each a tuple of
  // the axis before the entries or, when negative, -1 - k for the entry added[axis][k] (one node
  // per hierarchy). Empty for an axis without entries.
  std::vector<std::vector<int64_t>> layout;
  std::vector<std::vector<std::vector<MemberNode>>> added;

  // The member node of hierarchy `h` in shown tuple `t` of axis `a`.
  const MemberNode& shownNode(size_t a, uint64_t t, size_t h) const {
    if (a < layout.size() && !layout[a].empty()) {
      const int64_t at = layout[a][static_cast<size_t>(t)];
      if (at < 0) return added[a][static_cast<size_t>(-1 - at)][h];
      t = static_cast<uint64_t>(at);
    }
    return node(axes[a].hierarchies[h], member(a, t, h));
  }

  const MemberNode& node(const ResolvedCoordinate& c, int32_t member) const { return c.hierarchy->member(member); }

  // The member index of hierarchy `h` in tuple `t` of axis `a`, before entries are added.
  int32_t member(size_t a, uint64_t t, size_t h) const {
    const ResolvedAxis& axis = axes[a];
    const ResolvedCoordinate& c = axis.hierarchies[h];
    if (axis.ordered) t = axis.order[static_cast<size_t>(t)];
    return c.members[static_cast<size_t>((t / axis.strides[h]) % c.members.size())];
  }
};

// The tree of a clause's expression. Throws MEMORY_E_CLAUSE naming `context` when it does not
// parse.
auto_unuse<NUVA_o::Expression> parse_clause(CubeImpl* cube, const TOVAString& text, const TOVAString& context);

// Applies the query's filters and sorts to the axes of `resolved`: the axes they touch get an
// order, and, unless `known` (the grid of `resolved` already computed, may be null) is given to
// read values from, lose the members that no kept tuple holds. Throws the evaluator's exceptions.
void apply_axis_clauses(CubeImpl* cube, const GridQuery& query, ResolvedQuery& resolved, const GridData* known,
                        const std::atomic<bool>* interrupt);

// Aggregates the facts into the grid. Axes with an order show those tuples only. Refuses grids above the cube's cell limit; checks
// `interrupt` (may be null) between blocks of rows.
std::shared_ptr<GridData> evaluate_grid(CubeImpl* cube, ResolvedQuery query,
                                              const std::atomic<bool>* interrupt);

// Evaluates the query's highlights over the final cells of `grid`, whose values are read under
// `slicer`. Throws MEMORY_E_CLAUSE for an expression that does not parse and the evaluator's
// exceptions.
void apply_highlights(CubeImpl* cube, const GridQuery& query, const std::vector<ResolvedCoordinate>& slicer,
                      GridData& grid, const std::atomic<bool>* interrupt);

// Adds the entries of the query's subtotals and calculations to the axes of `grid`, with their
// cells. Throws MEMORY_E_CLAUSE for a subtotal or calculation of unknown numbers.
void apply_axis_entries(CubeImpl* cube, const GridQuery& query, const std::vector<ResolvedCoordinate>& slicer,
                     GridData& grid, const std::atomic<bool>* interrupt);

// The whole evaluation of a grid query: clauses of the axes, aggregation, highlights, then the
// entries of subtotals and calculations. Throws as the steps do.
std::shared_ptr<GridData> evaluate_query(CubeImpl* cube, const GridQuery& query, ResolvedQuery resolved,
                                         const std::atomic<bool>* interrupt);

// Chooses the axis whose sum subtotal the cube's fact source adds up with the grid's cells
// (resolved.totalsAxis): the first axis with entries, when its tuples are those the facts
// group by and every cell is a sum of facts. `resolved` has the filters that the source
// computed applied already.
void choose_totals_axis(const CubeImpl& cube, const GridQuery& query, ResolvedQuery& resolved);

// A result set over the grid, with one reference for the caller.
MemoryResultSet* make_result_set(std::shared_ptr<const GridData> grid);

}  // namespace memory
