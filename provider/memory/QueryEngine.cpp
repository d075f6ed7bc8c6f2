// Grid queries: resolution of names and aggregation of the columnar facts in one pass.

#include "QueryEngine.h"

#include "Calculations.h"
#include "FactRequest.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

#include "support/CoreLog.h"

namespace memory {

void registerQueryMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    support_dll::CoreLog* log = support_dll::CoreLog::getLogObject();
    log->registerMessage(MEMORY_E_UNKNOWN_HIERARCHY, "The cube has no hierarchy '%1'.");
    log->registerMessage(MEMORY_E_QUERY, "Invalid grid query: %1");
    log->registerMessage(MEMORY_E_QUERY_TOO_LARGE,
                         "The query asks for %1 cells; the cube allows at most %2.");
    log->registerMessage(MEMORY_E_INTERRUPTED, "The query was interrupted.");
    log->registerMessage(MEMORY_E_RESULT_CLOSED, "The result set is closed.");
    log->registerMessage(MEMORY_E_RESULT_RANGE, "%1 %2 is out of range.");
    log->registerMessage(MEMORY_E_CLAUSE, "The %1 cannot be evaluated: %2");
  });
}

namespace {

constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kSaturated / b ? kSaturated : a * b;
}

ResolvedCoordinate resolve_coordinate(const CubeImpl& cube, const GridCoordinate& coordinate,
                                      std::unordered_set<const HierarchyImpl*>& used) {
  ResolvedCoordinate out;
  out.hierarchy = cube.findHierarchy(coordinate.hierarchy);
  if (!out.hierarchy)
    raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_UNKNOWN_HIERARCHY, coordinate.hierarchy);
  if (!used.insert(out.hierarchy).second)
    raise_query<InvalidArgumentExceptionImpl>(
        MEMORY_E_QUERY, TOVAString().build("hierarchy '%s' is used twice", coordinate.hierarchy));
  const auto& dimensions = cube.dimensions();
  for (size_t d = 0; d < dimensions.size(); ++d)
    if (dimensions[d].get() == out.hierarchy->dimension()) out.dimension = d;
  out.isMeasures = out.hierarchy->dimension()->m_IsMeasures;
  out.members.reserve(coordinate.members.size());
  for (const TOVAString& name : coordinate.members) {
    const int32_t index = out.hierarchy->findMember(name);
    if (index < 0)
      raise<InvalidArgumentExceptionImpl>(MEMORY_E_UNKNOWN_MEMBER, coordinate.hierarchy, name);
    out.members.push_back(index);
  }
  return out;
}

// Fact rows per block between two looks at the interrupt flag, and per morsel: the share of a
// scan that one thread takes at a time. A table of one morsel is scanned on the calling thread.
constexpr size_t kBlock = 4096;
constexpr size_t kMorsel = size_t(1) << 16;
// Outside the query: far enough below zero that a row's cell, the sum of an offset from each of
// its dimensions, stays negative when any of them is kNone.
constexpr int64_t kNone = std::numeric_limits<int64_t>::min() / 4;
// Scans use several threads only for grids of at most one cell per this many fact rows.
constexpr size_t kRowsPerPartialCell = 8;

// The cell offsets that one dimension's leaf keys contribute: per leaf either one offset
// (dense) or a list of them (when members of a list overlap). Leaves outside the query have
// none.
struct DimensionLookup {
  const KeyColumn* keys = nullptr;
  bool dense = true;
  std::vector<int64_t> offset;    // dense: offset or kNone
  std::vector<uint32_t> begin;    // otherwise: offsets of leaf k are all[begin[k], begin[k+1])
  std::vector<int64_t> all;
};

struct MeasureTerm {
  const MeasureColumn* column;
  int64_t offset;
};

// One dimension's keys in a scan and the cell offset of each key.
template <class K>
struct KeyedOffsets {
  const K* __restrict keys;
  const int64_t* __restrict offset;
};

// The scan's hot loop for one to three dimension lookups: each row's cell is the sum of its
// keys' offsets, computed and added to in one pass so that nothing but the sums leaves
// registers. Lookups past the first `kLookups` are not read.
template <int kLookups, class K1, class K2, class K3, class V, class S>
void add_fused(KeyedOffsets<K1> a, KeyedOffsets<K2> b, KeyedOffsets<K3> c, const V* __restrict x, size_t n,
               S* __restrict sums, uint8_t* __restrict filled) {
  for (size_t i = 0; i < n; ++i) {
    int64_t cell = a.offset[a.keys[i]];
    if constexpr (kLookups > 1) cell += b.offset[b.keys[i]];
    if constexpr (kLookups > 2) cell += c.offset[c.keys[i]];
    if (cell < 0) continue;
    sums[cell] += static_cast<S>(x[i]);
    filled[cell] = 1;
  }
}

// Adds each row's value to its cell: integers into the integer sums, doubles into the values.
template <class V, class S>
void add_values(const V* x, int64_t shift, const int64_t* cell, size_t n, S* sums,
                uint8_t* filled) {
  for (size_t i = 0; i < n; ++i) {
    if (cell[i] < 0) continue;
    const int64_t c = cell[i] + shift;
    sums[c] += static_cast<S>(x[i]);
    filled[c] = 1;
  }
}

// Leaf key of each leaf position of the hierarchy (-1 for a position no key of the dimension has).
std::vector<int32_t> keys_by_position(const DimensionImpl& dimension, const HierarchyImpl& hierarchy) {
  const size_t leaves = dimension.m_LeafKeys.size();
  std::vector<int32_t> keyAt(hierarchy.m_LeafMember.size(), -1);
  for (size_t key = 0; key < hierarchy.m_LeafPosition.size() && key < leaves; ++key) {
    const int32_t position = hierarchy.m_LeafPosition[key];
    if (position >= 0 && static_cast<size_t>(position) < keyAt.size())
      keyAt[static_cast<size_t>(position)] = static_cast<int32_t>(key);
  }
  return keyAt;
}

// Per leaf key of the dimension, the index in the list of the member that covers it (-1 for
// none). False when members of the list overlap, so that a leaf has several.
bool covering_once(const DimensionImpl& dimension, const ResolvedCoordinate& coordinate,
                   std::vector<int32_t>& out) {
  const HierarchyImpl& hierarchy = *coordinate.hierarchy;
  const std::vector<int32_t> keyAt = keys_by_position(dimension, hierarchy);
  out.assign(dimension.m_LeafKeys.size(), -1);
  for (size_t i = 0; i < coordinate.members.size(); ++i) {
    const MemberNode& member = hierarchy.member(coordinate.members[i]);
    for (int32_t p = member.firstLeaf; p < member.endLeaf; ++p) {
      const int32_t key = keyAt[static_cast<size_t>(p)];
      if (key < 0) continue;
      if (out[static_cast<size_t>(key)] >= 0) return false;
      out[static_cast<size_t>(key)] = static_cast<int32_t>(i);
    }
  }
  return true;
}

// Per leaf key of the dimension, 1 when a member of the list covers it.
std::vector<uint8_t> covered(const DimensionImpl& dimension, const ResolvedCoordinate& coordinate) {
  const HierarchyImpl& hierarchy = *coordinate.hierarchy;
  const std::vector<int32_t> keyAt = keys_by_position(dimension, hierarchy);
  std::vector<uint8_t> out(dimension.m_LeafKeys.size(), 0);
  for (int32_t index : coordinate.members) {
    const MemberNode& member = hierarchy.member(index);
    for (int32_t p = member.firstLeaf; p < member.endLeaf; ++p)
      if (keyAt[static_cast<size_t>(p)] >= 0) out[static_cast<size_t>(keyAt[static_cast<size_t>(p)])] = 1;
  }
  return out;
}

class Aggregator {
 public:
  struct Part {
    const ResolvedCoordinate* coordinate;
    uint64_t multiplier;  // 0 for a slicer coordinate
  };

  Aggregator(CubeImpl* cube, const ResolvedQuery& query, GridData& grid,
             const std::atomic<bool>* interrupt)
      : m_Cube(*cube), m_Query(query), m_Grid(grid), m_pInterrupt(interrupt) {}

  void run() {
    plan();
    const size_t rows = m_Cube.facts().rowCount();
    if (m_Grid.values.empty() || m_Terms.empty() || rows == 0) return;
    m_bAllDense = std::all_of(m_Lookups.begin(), m_Lookups.end(),
                              [](const DimensionLookup& l) { return l.dense; });
    m_bIntegers = std::any_of(m_Terms.begin(), m_Terms.end(),
                              [](const MeasureTerm& t) { return t.column->isInteger(); });
    const size_t morsels = (rows + kMorsel - 1) / kMorsel;
    // Each thread adds into a grid of its own, worth it only for grids well below the rows.
    const bool threads = morsels > 1 && m_Grid.values.size() <= rows / kRowsPerPartialCell;
    std::shared_ptr<ScanPool> pool = threads ? m_Cube.scanPool() : nullptr;
    std::vector<Partial> partials(pool ? pool->threads() : 1);
    auto task = [&](unsigned worker, size_t morsel) {
      Partial& partial = partials[worker];
      if (!partial.ready) prepare(partial, worker == 0);
      const size_t end = std::min(rows, (morsel + 1) * kMorsel);
      for (size_t base = morsel * kMorsel; base < end; base += kBlock) {
        if (m_pInterrupt && m_pInterrupt->load(std::memory_order_relaxed))
          raise_query<RunTimeExceptionImpl>(MEMORY_E_INTERRUPTED);
        const size_t n = std::min(kBlock, end - base);
        if (m_bAllDense)
          accumulate_dense(partial, base, n);
        else
          accumulate_general(partial, base, n);
      }
    };
    if (pool) {
      pool->run(morsels, task);
    } else {
      for (size_t morsel = 0; morsel < morsels; ++morsel) task(0, morsel);
    }
    merge(partials);
  }

 private:
  // What one thread adds up. Worker 0 adds doubles and marks cells in the grid itself.
  struct Partial {
    bool ready = false;
    double* values = nullptr;
    uint8_t* filled = nullptr;
    std::vector<double> ownValues;
    std::vector<uint8_t> ownFilled;
    std::vector<int64_t> sums;  // integer-stored measures, scaled
    std::vector<int64_t> cell;  // per row of a block: its cell, or kNone
  };

  void prepare(Partial& partial, bool inGrid) {
    const size_t cells = m_Grid.values.size();
    if (inGrid) {
      partial.values = m_Grid.values.data();
      partial.filled = m_Grid.filled.data();
    } else {
      partial.ownValues.assign(cells, 0.0);
      partial.ownFilled.assign(cells, 0);
      partial.values = partial.ownValues.data();
      partial.filled = partial.ownFilled.data();
    }
    if (m_bIntegers) partial.sums.assign(cells, 0);
    partial.cell.resize(kBlock);
    partial.ready = true;
  }

  // Adds the threads' partial grids into the grid (integer sums exactly), then turns the
  // integer sums into values by their measures' scales.
  void merge(std::vector<Partial>& partials) {
    const size_t cells = m_Grid.values.size();
    Partial& first = partials.front();
    if (!first.ready) prepare(first, true);
    for (size_t w = 1; w < partials.size(); ++w) {
      const Partial& p = partials[w];
      if (!p.ready) continue;
      for (size_t c = 0; c < cells; ++c) {
        first.values[c] += p.values[c];
        first.filled[c] |= p.filled[c];
      }
      if (m_bIntegers)
        for (size_t c = 0; c < cells; ++c) first.sums[c] += p.sums[c];
    }
    if (!m_bIntegers) return;
    for (size_t c = 0; c < cells; ++c) {
      const int64_t sum = first.sums[c];
      if (sum == 0) continue;
      const size_t position =
          m_MeasureMultiplier == 0
              ? 0
              : static_cast<size_t>((c / m_MeasureMultiplier) % m_ScaleAt.size());
      first.values[c] += static_cast<double>(sum) / m_ScaleAt[position];
    }
  }

  // Each dimension's coordinates become one lookup from its fact keys to cell offsets; the
  // measure coordinate becomes the terms that add fact values into cells.
  void plan() {
    const auto& dimensions = m_Cube.dimensions();
    const FactTable& facts = m_Cube.facts();
    // Key column of each dimension: the dimensions besides Measures, in order.
    std::vector<int> keyColumn(dimensions.size(), -1);
    int column = 0;
    for (size_t d = 0; d < dimensions.size(); ++d)
      if (!dimensions[d]->m_IsMeasures) keyColumn[d] = column++;

    std::vector<std::vector<Part>> parts(dimensions.size());
    plan_measures(collect_parts(parts));
    for (size_t d = 0; d < dimensions.size(); ++d) {
      if (parts[d].empty()) continue;
      const KeyColumn* keys = &facts.keys[static_cast<size_t>(keyColumn[d])];
      if (!plan_dense(*dimensions[d], parts[d], keys)) plan_general(*dimensions[d], parts[d], keys);
    }
  }

  // Where the measure comes from: a coordinate of an axis (each tuple names its own), of the
  // slicer, or neither (the cube's default measure).
  struct MeasureSource {
    const ResolvedCoordinate* axis = nullptr;
    uint64_t multiplier = 0;
    const ResolvedCoordinate* slicer = nullptr;
  };

  // Sorts the query's coordinates into `parts`, per dimension, and returns the measure's.
  MeasureSource collect_parts(std::vector<std::vector<Part>>& parts) const {
    MeasureSource measure;
    for (size_t a = 0; a < m_Query.axes.size(); ++a) {
      const ResolvedAxis& axis = m_Query.axes[a];
      for (size_t h = 0; h < axis.hierarchies.size(); ++h) {
        const uint64_t multiplier = axis.strides[h] * m_Grid.cellStrides[a];
        if (axis.hierarchies[h].isMeasures)
          measure.axis = &axis.hierarchies[h], measure.multiplier = multiplier;
        else
          parts[axis.hierarchies[h].dimension].push_back({&axis.hierarchies[h], multiplier});
      }
    }
    for (const ResolvedCoordinate& coordinate : m_Query.slicer) {
      if (coordinate.isMeasures)
        measure.slicer = &coordinate;
      else
        parts[coordinate.dimension].push_back({&coordinate, 0});
    }
    return measure;
  }

  // The column a measure member adds: a stored measure's, a linear calculated measure's, or
  // null for another calculated measure (its cells are computed from the stored ones later).
  const MeasureColumn* measure_column(const HierarchyImpl& measures, int32_t member) const {
    if (is_calculated(measures, member)) return linear_measure(m_Cube, measures, member);
    const FactTable& facts = m_Cube.facts();
    if (member < 0 || static_cast<size_t>(member) >= facts.values.size())
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a measure without values");
    return &facts.values[static_cast<size_t>(member)];
  }

  void add_term(const MeasureColumn* column, size_t position, int64_t offset) {
    if (!column) return;
    m_Terms.push_back({column, offset});
    m_ScaleAt[position] = static_cast<double>(column->scale());
  }

  void plan_measures(const MeasureSource& measure) {
    if (measure.axis) {
      m_MeasureMultiplier = measure.multiplier;
      m_ScaleAt.assign(measure.axis->members.size(), 1.0);
      for (size_t i = 0; i < measure.axis->members.size(); ++i)
        add_term(measure_column(*measure.axis->hierarchy, measure.axis->members[i]), i,
                 static_cast<int64_t>(i * measure.multiplier));
      return;
    }
    m_ScaleAt.assign(1, 1.0);
    if (measure.slicer) {
      add_term(measure_column(*measure.slicer->hierarchy, measure.slicer->members.front()), 0, 0);
      return;
    }
    const HierarchyImpl* measures = nullptr;
    for (const auto& dimension : m_Cube.dimensions())
      if (dimension->m_IsMeasures && !dimension->m_Hierarchies.empty())
        measures = dimension->m_Hierarchies.front().get();
    if (!measures || measures->memberCount() == 0)
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "the cube has no measure");
    add_term(measure_column(*measures, measures->m_DefaultMember), 0, 0);
    m_Grid.slicer.push_back(measures->member(measures->m_DefaultMember).uniqueName);
  }

  // The lookup of a dimension whose axis lists overlap: each leaf key maps to every cell
  // offset that its members reach.
  void plan_general(const DimensionImpl& dimension, const std::vector<Part>& parts,
                    const KeyColumn* keys) {
    const size_t leaves = dimension.m_LeafKeys.size();
    std::vector<std::vector<int64_t>> offsets(leaves, std::vector<int64_t>{0});
    bool restricts = false;
    for (const Part& part : parts) {
      const auto cover = covering(dimension, *part.coordinate);
      for (size_t key = 0; key < leaves; ++key) {
        std::vector<int64_t>& mine = offsets[key];
        if (mine.empty()) continue;
        const std::vector<uint32_t>& under = cover[key];
        if (part.multiplier == 0) {
          // A slicer coordinate keeps the leaf when any of its members covers it.
          if (under.empty()) {
            mine.clear();
            restricts = true;
          }
          continue;
        }
        restricts = true;
        std::vector<int64_t> next;
        next.reserve(mine.size() * under.size());
        for (int64_t base : mine)
          for (uint32_t i : under) next.push_back(base + static_cast<int64_t>(i * part.multiplier));
        mine.swap(next);
      }
    }
    if (!restricts) return;  // an All slicer member: every fact row qualifies
    DimensionLookup lookup;
    lookup.keys = keys;
    size_t widest = 0;
    for (const auto& list : offsets) widest = std::max(widest, list.size());
    lookup.dense = widest <= 1;
    if (lookup.dense) {
      lookup.offset.resize(leaves);
      for (size_t key = 0; key < leaves; ++key)
        lookup.offset[key] = offsets[key].empty() ? kNone : offsets[key].front();
    } else {
      lookup.begin.reserve(leaves + 1);
      for (const auto& list : offsets) {
        lookup.begin.push_back(static_cast<uint32_t>(lookup.all.size()));
        lookup.all.insert(lookup.all.end(), list.begin(), list.end());
      }
      lookup.begin.push_back(static_cast<uint32_t>(lookup.all.size()));
    }
    m_Lookups.push_back(std::move(lookup));
  }

  // The lookup of a dimension whose lists do not overlap, built without per-leaf lists. False
  // (nothing added) when a list on an axis has overlapping members.
  bool plan_dense(const DimensionImpl& dimension, const std::vector<Part>& parts,
                  const KeyColumn* keys) {
    const size_t leaves = dimension.m_LeafKeys.size();
    DimensionLookup lookup;
    lookup.keys = keys;
    lookup.offset.assign(leaves, 0);
    bool restricts = false;
    std::vector<int32_t> cover;
    for (const Part& part : parts) {
      if (part.multiplier == 0) {
        // A slicer keeps a leaf under any of its members, overlapping or not.
        const std::vector<uint8_t> kept = covered(dimension, *part.coordinate);
        for (size_t key = 0; key < leaves; ++key)
          if (!kept[key]) {
            lookup.offset[key] = kNone;
            restricts = true;
          }
        continue;
      }
      if (!covering_once(dimension, *part.coordinate, cover)) return false;
      restricts = true;
      for (size_t key = 0; key < leaves; ++key) {
        int64_t& offset = lookup.offset[key];
        offset = (offset < 0 || cover[key] < 0)
                     ? kNone
                     : offset + static_cast<int64_t>(static_cast<uint64_t>(cover[key]) * part.multiplier);
      }
    }
    if (restricts) m_Lookups.push_back(std::move(lookup));
    return true;
  }

  void accumulate_dense(Partial& partial, size_t base, size_t n) {
    if (m_Lookups.size() <= 3) {
      for (const MeasureTerm& term : m_Terms) accumulate_fused(partial, term, base, n);
      return;
    }
    int64_t* cell = partial.cell.data();
    if (m_Lookups.empty()) std::fill(cell, cell + n, 0);
    for (size_t l = 0; l < m_Lookups.size(); ++l)
      addKeyOffsets(*m_Lookups[l].keys, base, n, m_Lookups[l].offset.data(), cell, l == 0);
    for (const MeasureTerm& term : m_Terms)
      term.column->visit([&](const auto* x) {
        if constexpr (std::is_same_v<std::decay_t<decltype(*x)>, double>)
          add_values(x + base, term.offset, cell, n, partial.values, partial.filled);
        else
          add_values(x + base, term.offset, cell, n, partial.sums.data(), partial.filled);
      });
  }

  // One term over at most three lookups, without the block's buffer of cells; with none, every
  // row adds to one cell.
  void accumulate_fused(Partial& partial, const MeasureTerm& term, size_t base, size_t n) {
    uint8_t* filled = partial.filled + term.offset;
    term.column->visit([&](const auto* x) {
      x += base;
      auto* sums = [&] {
        if constexpr (std::is_same_v<std::decay_t<decltype(*x)>, double>)
          return partial.values + term.offset;
        else
          return partial.sums.data() + term.offset;
      }();
      if (m_Lookups.empty()) {
        for (size_t i = 0; i < n; ++i) *sums += *x++;
        if (n) *filled = 1;
        return;
      }
      auto keyed = [base](const DimensionLookup& lookup, const auto* keys) {
        return KeyedOffsets<std::decay_t<decltype(*keys)>>{keys + base, lookup.offset.data()};
      };
      const size_t lookups = m_Lookups.size();
      m_Lookups[0].keys->visit([&](const auto* k1) {
        const auto a = keyed(m_Lookups[0], k1);
        if (lookups == 1) return add_fused<1>(a, a, a, x, n, sums, filled);
        m_Lookups[1].keys->visit([&](const auto* k2) {
          const auto b = keyed(m_Lookups[1], k2);
          if (lookups == 2) return add_fused<2>(a, b, b, x, n, sums, filled);
          m_Lookups[2].keys->visit([&](const auto* k3) {
            add_fused<3>(a, b, keyed(m_Lookups[2], k3), x, n, sums, filled);
          });
        });
      });
    });
  }

  // Rows whose leaves fall under several members of a list reach several cells: walk the
  // combinations of the offsets of every dimension.
  void accumulate_general(Partial& partial, size_t base, size_t n) {
    const size_t groups = m_Lookups.size();
    std::vector<const int64_t*> first(groups), last(groups), at(groups);
    for (size_t i = 0; i < n; ++i) {
      const size_t row = base + i;
      int64_t fixed = 0;
      size_t lists = 0;
      bool outside = false;
      for (const DimensionLookup& lookup : m_Lookups) {
        const size_t key = lookup.keys->at(row);
        if (lookup.dense) {
          const int64_t v = lookup.offset[key];
          if (v < 0) {
            outside = true;
            break;
          }
          fixed += v;
        } else {
          const int64_t* b = lookup.all.data() + lookup.begin[key];
          const int64_t* e = lookup.all.data() + lookup.begin[key + 1];
          if (b == e) {
            outside = true;
            break;
          }
          first[lists] = b;
          last[lists] = e;
          at[lists] = b;
          ++lists;
        }
      }
      if (outside) continue;
      for (;;) {
        int64_t cell = fixed;
        for (size_t g = 0; g < lists; ++g) cell += *at[g];
        for (const MeasureTerm& term : m_Terms) {
          const auto c = static_cast<size_t>(cell + term.offset);
          if (term.column->isInteger())
            partial.sums[c] += term.column->scaledAt(row);
          else
            partial.values[c] += term.column->at(row);
          partial.filled[c] = 1;
        }
        size_t g = 0;
        while (g < lists && ++at[g] == last[g]) {
          at[g] = first[g];
          ++g;
        }
        if (g == lists) break;
      }
    }
  }

  CubeImpl& m_Cube;
  const ResolvedQuery& m_Query;
  GridData& m_Grid;
  const std::atomic<bool>* m_pInterrupt;
  std::vector<DimensionLookup> m_Lookups;
  std::vector<MeasureTerm> m_Terms;
  // Cells between two measures of the axis that holds them (0: one measure for every cell), and
  // per measure position the scale of its integer sums.
  uint64_t m_MeasureMultiplier = 0;
  std::vector<double> m_ScaleAt;
  bool m_bAllDense = true;
  bool m_bIntegers = false;
};

CubeImpl* require_cube(MemoryCube* cube) {
  auto* impl = dynamic_cast<CubeImpl*>(cube);
  if (!impl)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                 support::null_insert);
  return impl;
}

// The cells of the ordered axes' tuples only, in their order. The grid holds the cells of an
// ordered axis's tuples at their ordinals in its cross join or, with `at`, at at[a] (positions
// among the axis's tuples in the grid).
void keep_ordered_tuples(GridData& grid, const std::vector<std::vector<uint64_t>>* at = nullptr) {
  const size_t axes = grid.axes.size();
  std::vector<uint64_t> counts(axes), strides(axes);
  uint64_t total = 1;
  for (size_t a = 0; a < axes; ++a) {
    const ResolvedAxis& axis = grid.axes[a];
    counts[a] = axis.ordered ? axis.order.size() : axis.tupleCount;
    strides[a] = total;
    total *= counts[a];
  }
  std::vector<double> values(static_cast<size_t>(total));
  std::vector<uint8_t> filled(static_cast<size_t>(total));
  const bool totals = !grid.totals.empty();
  std::vector<double> totalValues(totals ? static_cast<size_t>(total) : 0);
  std::vector<uint8_t> totalsFilled(totals ? static_cast<size_t>(total) : 0);
  for (uint64_t c = 0; c < total; ++c) {
    uint64_t from = 0;
    for (size_t a = 0; a < axes; ++a) {
      const uint64_t t = (c / strides[a]) % counts[a];
      const ResolvedAxis& axis = grid.axes[a];
      const uint64_t tuple = !axis.ordered ? t : at ? (*at)[a][static_cast<size_t>(t)] : axis.order[static_cast<size_t>(t)];
      from += tuple * grid.cellStrides[a];
    }
    values[static_cast<size_t>(c)] = grid.values[static_cast<size_t>(from)];
    filled[static_cast<size_t>(c)] = grid.filled[static_cast<size_t>(from)];
    if (totals) {
      totalValues[static_cast<size_t>(c)] = grid.totals[static_cast<size_t>(from)];
      totalsFilled[static_cast<size_t>(c)] = grid.totalsFilled[static_cast<size_t>(from)];
    }
  }
  grid.values = std::move(values);
  grid.filled = std::move(filled);
  grid.totals = std::move(totalValues);
  grid.totalsFilled = std::move(totalsFilled);
  grid.cellStrides = std::move(strides);
  for (size_t a = 0; a < axes; ++a) grid.axes[a].tupleCount = counts[a];
}

}  // namespace

// Per leaf key of the dimension, the list indexes whose member covers it.
std::vector<std::vector<uint32_t>> covering(const DimensionImpl& dimension,
                                            const ResolvedCoordinate& coordinate) {
  const HierarchyImpl& hierarchy = *coordinate.hierarchy;
  const std::vector<int32_t> keyAt = keys_by_position(dimension, hierarchy);
  std::vector<std::vector<uint32_t>> out(dimension.m_LeafKeys.size());
  for (size_t i = 0; i < coordinate.members.size(); ++i) {
    const MemberNode& member = hierarchy.member(coordinate.members[i]);
    for (int32_t p = member.firstLeaf; p < member.endLeaf; ++p) {
      const int32_t key = keyAt[static_cast<size_t>(p)];
      if (key >= 0) out[static_cast<size_t>(key)].push_back(static_cast<uint32_t>(i));
    }
  }
  return out;
}

void finish_axis(ResolvedAxis& axis) {
  axis.strides.assign(axis.hierarchies.size(), 1);
  uint64_t stride = 1;
  for (size_t h = axis.hierarchies.size(); h-- > 0;) {
    axis.strides[h] = stride;
    stride = saturating_multiply(stride, axis.hierarchies[h].members.size());
  }
  axis.tupleCount = stride;
}

ResolvedQuery resolve_query(const CubeImpl& cube, const GridQuery& query) {
  ResolvedQuery out;
  std::unordered_set<const HierarchyImpl*> used;
  for (const GridAxis& axis : query.axes) {
    ResolvedAxis resolved;
    for (const GridCoordinate& coordinate : axis.hierarchies) {
      resolved.hierarchies.push_back(resolve_coordinate(cube, coordinate, used));
    }
    finish_axis(resolved);
    out.cellCount = saturating_multiply(out.cellCount, resolved.tupleCount);
    out.axes.push_back(std::move(resolved));
  }
  for (const GridCoordinate& coordinate : query.slicer) {
    out.slicer.push_back(resolve_coordinate(cube, coordinate, used));
    const ResolvedCoordinate& last = out.slicer.back();
    if (last.isMeasures && last.members.size() != 1)
      raise_query<InvalidArgumentExceptionImpl>(
          MEMORY_E_QUERY, "a [Measures] slicer names exactly one measure");
    if (last.members.empty())
      raise_query<InvalidArgumentExceptionImpl>(
          MEMORY_E_QUERY, TOVAString().build("the slicer names no member of '%s'", coordinate.hierarchy));
  }
  return out;
}

std::shared_ptr<GridData> evaluate_grid(CubeImpl* cube, ResolvedQuery query,
                                              const std::atomic<bool>* interrupt) {
  const uint64_t limit = cube->getQueryCellLimit();
  if (query.cellCount > limit)
    raise_query<QueryTooLargeExceptionImpl>(MEMORY_E_QUERY_TOO_LARGE, query.cellCount, limit);
  auto grid = std::make_shared<GridData>();
  grid->cube = auto_unuse<CubeImpl>::share(cube);
  grid->cellStrides.resize(query.axes.size());
  uint64_t stride = 1;
  for (size_t a = 0; a < query.axes.size(); ++a) {
    grid->cellStrides[a] = stride;
    stride *= query.axes[a].tupleCount;
  }
  // Calculated measures need their nodes; those that are no linear column need the evaluator.
  bool calculations = false;
  auto note_calculations = [&](const ResolvedCoordinate& coordinate) {
    if (!coordinate.isMeasures) return;
    for (int32_t member : coordinate.members)
      calculations = calculations || (is_calculated(*coordinate.hierarchy, member) &&
                                      !summed_with_facts(*cube, *coordinate.hierarchy, member));
  };
  for (const ResolvedAxis& axis : query.axes)
    for (const ResolvedCoordinate& coordinate : axis.hierarchies) note_calculations(coordinate);
  for (const ResolvedCoordinate& coordinate : query.slicer) {
    note_calculations(coordinate);
    for (int32_t member : coordinate.members)
      grid->slicer.push_back(grid->node(coordinate, member).uniqueName);
  }
  grid->values.assign(static_cast<size_t>(query.cellCount), 0.0);
  grid->filled.assign(static_cast<size_t>(query.cellCount), 0);
  if (query.totalsAxis >= 0 && cube->factSource()) {
    grid->totalsAxis = query.totalsAxis;
    grid->totals.assign(static_cast<size_t>(query.cellCount), 0.0);
    grid->totalsFilled.assign(static_cast<size_t>(query.cellCount), 0);
  }
  if (cube->factSource())
    aggregate_elsewhere(*cube, query, *grid, interrupt);
  else
    Aggregator(cube, query, *grid, interrupt).run();
  if (calculations) evaluate_calculations(cube, query, *grid, interrupt);
  grid->axes = std::move(query.axes);
  if (std::any_of(grid->axes.begin(), grid->axes.end(), [](const ResolvedAxis& a) { return a.ordered; }))
    keep_ordered_tuples(*grid);
  return grid;
}

uint64_t countGridCells(MemoryCube* cube, const GridQuery& query) {
  return resolve_query(*require_cube(cube), query).cellCount;
}

std::shared_ptr<GridData> evaluate_query(CubeImpl* cube, const GridQuery& query, ResolvedQuery resolved,
                                         const std::atomic<bool>* interrupt) {
  const std::vector<ResolvedCoordinate> slicer = resolved.slicer;
  // The clauses left once the fact source has computed those it can.
  GridQuery rest;
  const GridQuery* clauses = &query;
  if (cube->factSource() && !query.filters.empty()) {
    rest = query;
    push_axis_filters(cube, rest, resolved, interrupt);
    clauses = &rest;
  }
  choose_totals_axis(*cube, query, resolved);
  std::shared_ptr<GridData> grid;
  if ((!clauses->filters.empty() || !clauses->sorts.empty()) && resolved.cellCount <= cube->getQueryCellLimit()) {
    // The grid of the whole cross joins costs the one pass over the facts that the grid needs
    // anyway, and the filters and sorts read their values from it instead of passes of their
    // own; the tuples they keep are then picked from it.
    grid = evaluate_grid(cube, resolved, interrupt);
    apply_axis_clauses(cube, *clauses, resolved, grid.get(), interrupt);
    // Axes that the source filtered hold only the tuples it kept: pick among those.
    std::vector<std::vector<uint64_t>> at(resolved.axes.size());
    for (size_t a = 0; a < resolved.axes.size(); ++a) {
      if (!resolved.axes[a].ordered) continue;
      if (grid->axes[a].ordered) {
        std::unordered_map<uint64_t, uint64_t> position;
        for (size_t t = 0; t < grid->axes[a].order.size(); ++t) position.emplace(grid->axes[a].order[t], t);
        for (uint64_t t : resolved.axes[a].order) at[a].push_back(position.at(t));
      } else {
        at[a] = resolved.axes[a].order;
      }
      grid->axes[a] = std::move(resolved.axes[a]);
    }
    keep_ordered_tuples(*grid, &at);
  } else {
    apply_axis_clauses(cube, *clauses, resolved, nullptr, interrupt);
    grid = evaluate_grid(cube, std::move(resolved), interrupt);
  }
  apply_highlights(cube, query, slicer, *grid, interrupt);
  apply_axis_entries(cube, query, slicer, *grid, interrupt);
  return grid;
}

MemoryResultSet* executeGridQuery(MemoryCube* cube, const GridQuery& query,
                                  const std::atomic<bool>* interrupt) {
  CubeImpl* impl = require_cube(cube);
  return make_result_set(evaluate_query(impl, query, resolve_query(*impl, query), interrupt));
}

}  // namespace memory
