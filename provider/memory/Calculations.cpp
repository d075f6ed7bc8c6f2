// Calculated measures in grid queries, computed by the library's expression evaluator over the
// stored measures that the aggregation engine delivers.

#include "Calculations.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <map>
#include <tuple>
#include <unordered_map>

#include "common/CommonExpression.h"
#include "common/ExpressionEvaluator.h"

namespace memory {

const MeasureColumn* linear_measure(const CubeImpl& cube, const HierarchyImpl& measures,
                                    int32_t member) {
  // Facts held elsewhere have no columns here: the evaluator computes the measure there.
  if (cube.factSource()) return nullptr;
  const int32_t calculation = measures.member(member).calculation;
  return calculation < 0 ? nullptr : cube.linearColumn(measures, static_cast<size_t>(calculation));
}

namespace {

// Values of stored measures read from a grid already computed under the query's slicer. A
// requested member that the grid's coordinate holds reads its cells; one whose leaves members
// of the coordinate tile exactly (a year over its months, a hierarchy left open over all its
// months) reads the sum of theirs. Whatever else is asked is not known here.
class KnownCells {
 public:
  // `hierarchies` numbers the hierarchies as the cell source does.
  KnownCells(const GridData& grid, const std::vector<const HierarchyImpl*>& hierarchies,
             const std::vector<ResolvedCoordinate>& slicer, const CubeImpl& cube)
      : m_Grid(grid), m_Slicer(slicer), m_Hierarchies(hierarchies) {
    for (size_t a = 0; a < grid.axes.size(); ++a) {
      const ResolvedAxis& axis = grid.axes[a];
      for (size_t h = 0; h < axis.hierarchies.size(); ++h) {
        const ResolvedCoordinate& c = axis.hierarchies[h];
        Coordinate coordinate;
        coordinate.axis = a;
        coordinate.stride = axis.strides[h];
        coordinate.c = &c;
        coordinate.hierarchy = static_cast<int32_t>(
            std::find(hierarchies.begin(), hierarchies.end(), c.hierarchy) - hierarchies.begin());
        coordinate.position.assign(static_cast<size_t>(c.hierarchy->memberCount()), -1);
        for (size_t i = c.members.size(); i-- > 0;)
          coordinate.position[static_cast<size_t>(c.members[i])] = static_cast<int32_t>(i);
        if (c.isMeasures) m_Measures = m_Coordinates.size();
        m_Coordinates.push_back(std::move(coordinate));
      }
      if (axis.ordered) {
        std::unordered_map<uint64_t, uint64_t>& shown = m_Shown[a];
        for (size_t t = 0; t < axis.order.size(); ++t) shown.emplace(axis.order[t], t);
      }
    }
    // The one measure of a grid without a measures coordinate, chosen as the aggregation chose it.
    for (const ResolvedCoordinate& c : slicer)
      if (c.isMeasures) m_GridMeasure = c.members.front();
    if (m_GridMeasure < 0)
      for (const auto& dimension : cube.dimensions())
        if (dimension->m_IsMeasures && !dimension->m_Hierarchies.empty() && m_GridMeasure < 0)
          m_GridMeasure = dimension->m_Hierarchies.front()->m_DefaultMember;
  }

  // False, with nothing read, when a value asked for is not known here.
  bool read(const common::EvaluationRows& rows, int32_t measuresHierarchy, const std::vector<int32_t>& measures,
            std::vector<std::vector<double>>& values, std::vector<std::vector<uint8_t>>& filled) const {
    // Which column of the rows names each coordinate, or -1; the other columns must leave the
    // grid's cells as they are.
    std::vector<int> column(m_Coordinates.size(), -1);
    for (size_t k = 0; k < rows.hierarchies.size(); ++k) {
      const int32_t hierarchy = rows.hierarchies[k];
      if (hierarchy == measuresHierarchy) return false;
      bool onGrid = false;
      for (size_t i = 0; i < m_Coordinates.size(); ++i)
        if (m_Coordinates[i].hierarchy == hierarchy) column[i] = static_cast<int>(k), onGrid = true;
      if (!onGrid && !leaves_grid_alone(rows, k)) return false;
    }
    // Axes of measures are neither filtered nor sorted, so their tuples are all shown; an order
    // there would be read from the facts.
    if (m_Measures < m_Coordinates.size() && m_Grid.axes[m_Coordinates[m_Measures].axis].ordered) return false;
    std::vector<int64_t> measurePosition(measures.size(), -1);
    for (size_t j = 0; j < measures.size(); ++j) {
      if (m_Measures < m_Coordinates.size()) {
        const auto& position = m_Coordinates[m_Measures].position;
        measurePosition[j] = position[static_cast<size_t>(measures[j])];
        if (measurePosition[j] < 0) return false;
      } else if (measures[j] != m_GridMeasure) {
        return false;
      }
    }
    // Per row, the cells whose sum it reads (before the measure), gathered before anything is
    // written so that a miss leaves the outputs untouched.
    std::vector<uint64_t> begin(rows.count + 1, 0);
    std::vector<uint64_t> cells;
    std::vector<uint8_t> empty(rows.count, 0);
    std::vector<uint64_t> axisCells, next, combined;
    for (size_t r = 0; r < rows.count; ++r) {
      begin[r] = cells.size();
      bool null = false;
      for (size_t k = 0; k < rows.hierarchies.size() && !null; ++k) null = rows.members[k][r] < 0;
      if (null) {
        empty[r] = 1;
        continue;
      }
      size_t firstOfRow = cells.size();
      cells.push_back(0);
      for (size_t a = 0; a < m_Grid.axes.size(); ++a) {
        // The cross-join ordinals of the axis this row reads.
        axisCells.assign(1, 0);
        for (size_t i = 0; i < m_Coordinates.size(); ++i) {
          const Coordinate& coordinate = m_Coordinates[i];
          if (coordinate.axis != a || i == m_Measures) continue;
          const int32_t member = column[i] >= 0 ? rows.members[static_cast<size_t>(column[i])][r] : kWhole;
          const std::vector<uint32_t>* parts = tiles(coordinate, member);
          if (!parts || axisCells.size() * parts->size() > kMostCells) return false;
          next.clear();
          for (uint64_t at : axisCells)
            for (uint32_t p : *parts) next.push_back(at + p * coordinate.stride);
          axisCells.swap(next);
        }
        const size_t before = cells.size() - firstOfRow;
        if (before * axisCells.size() > kMostCells) return false;
        combined.clear();
        for (size_t c = firstOfRow; c < cells.size(); ++c)
          for (uint64_t at : axisCells) {
            uint64_t shown = at;
            if (m_Grid.axes[a].ordered) {
              // A tuple the axis no longer shows: its cells were not kept.
              auto found = m_Shown.find(a)->second.find(at);
              if (found == m_Shown.find(a)->second.end()) return false;
              shown = found->second;
            }
            combined.push_back(cells[c] + shown * m_Grid.cellStrides[a]);
          }
        cells.resize(firstOfRow);
        cells.insert(cells.end(), combined.begin(), combined.end());
      }
    }
    begin[rows.count] = cells.size();
    values.assign(measures.size(), std::vector<double>(rows.count, 0.0));
    filled.assign(measures.size(), std::vector<uint8_t>(rows.count, 0));
    for (size_t j = 0; j < measures.size(); ++j) {
      // The cells gathered stand at the first measure of a measures coordinate.
      const uint64_t shift = measurePosition[j] > 0 ? static_cast<uint64_t>(measurePosition[j]) *
                                                          m_Coordinates[m_Measures].stride *
                                                          m_Grid.cellStrides[m_Coordinates[m_Measures].axis]
                                                    : 0;
      for (size_t r = 0; r < rows.count; ++r) {
        if (empty[r]) continue;
        double sum = 0;
        uint8_t any = 0;
        for (uint64_t c = begin[r]; c < begin[r + 1]; ++c) {
          const auto cell = static_cast<size_t>(cells[static_cast<size_t>(c)] + shift);
          if (m_Grid.filled[cell]) {
            sum += m_Grid.values[cell];
            any = 1;
          }
        }
        values[j][r] = sum;
        filled[j][r] = any;
      }
    }
    return true;
  }

 private:
  static constexpr int32_t kWhole = -2;
  // Cells one value may sum; beyond that the facts are read instead.
  static constexpr size_t kMostCells = 4096;

  struct Coordinate {
    size_t axis = 0;
    uint64_t stride = 1;
    const ResolvedCoordinate* c = nullptr;
    int32_t hierarchy = -1;
    std::vector<int32_t> position;  // per member of the hierarchy, its first place in the list or -1
    mutable std::unordered_map<int32_t, std::vector<uint32_t>> tiles;
    mutable std::vector<int32_t> missing;
  };

  // A hierarchy the rows name that is not on the grid: it must ask for what the grid was
  // computed with, the slicer's member or, outside the slicer, the whole hierarchy.
  bool leaves_grid_alone(const common::EvaluationRows& rows, size_t k) const {
    const int32_t hierarchy = rows.hierarchies[k];
    const ResolvedCoordinate* sliced = nullptr;
    for (const ResolvedCoordinate& c : m_Slicer)
      if (hierarchy_of(c.hierarchy) == hierarchy) sliced = &c;
    for (size_t r = 0; r < rows.count; ++r) {
      const int32_t member = rows.members[k][r];
      if (member < 0) continue;
      if (sliced) {
        if (sliced->members.size() != 1 || sliced->members.front() != member) return false;
        continue;
      }
      const HierarchyImpl& h = *m_Hierarchies[static_cast<size_t>(hierarchy)];
      const MemberNode& node = h.member(member);
      if (node.calculation >= 0 || node.firstLeaf != 0 || node.endLeaf != static_cast<int32_t>(h.m_LeafMember.size()))
        return false;
    }
    return true;
  }

  int32_t hierarchy_of(const HierarchyImpl* h) const {
    return static_cast<int32_t>(std::find(m_Hierarchies.begin(), m_Hierarchies.end(), h) - m_Hierarchies.begin());
  }

  // The places in the coordinate's list whose cells add up to the member's (kWhole: the whole
  // hierarchy), or null when no such places exist.
  const std::vector<uint32_t>* tiles(const Coordinate& coordinate, int32_t member) const {
    auto cached = coordinate.tiles.find(member);
    if (cached != coordinate.tiles.end()) return &cached->second;
    if (std::find(coordinate.missing.begin(), coordinate.missing.end(), member) != coordinate.missing.end())
      return nullptr;
    const HierarchyImpl& h = *coordinate.c->hierarchy;
    std::vector<uint32_t> parts;
    if (member >= 0 && coordinate.position[static_cast<size_t>(member)] >= 0) {
      parts.push_back(static_cast<uint32_t>(coordinate.position[static_cast<size_t>(member)]));
    } else {
      const int32_t first = member >= 0 ? h.member(member).firstLeaf : 0;
      const int32_t end = member >= 0 ? h.member(member).endLeaf : static_cast<int32_t>(h.m_LeafMember.size());
      // (first leaf, -end leaf, place): at each leaf the widest member first, so that a list
      // holding years and their months sums the years.
      std::vector<std::tuple<int32_t, int32_t, uint32_t>> inside;
      const auto& list = coordinate.c->members;
      for (size_t i = 0; i < list.size(); ++i) {
        const MemberNode& node = h.member(list[i]);
        if (coordinate.position[static_cast<size_t>(list[i])] != static_cast<int32_t>(i)) continue;
        if (node.firstLeaf >= first && node.endLeaf <= end && node.firstLeaf < node.endLeaf)
          inside.emplace_back(node.firstLeaf, -node.endLeaf, static_cast<uint32_t>(i));
      }
      std::sort(inside.begin(), inside.end());
      int32_t reached = first;
      for (const auto& [leaf, negativeEnd, place] : inside) {
        if (leaf < reached) continue;  // within (or across) what is summed already
        if (leaf > reached) break;     // leaves no member of the list covers
        reached = -negativeEnd;
        parts.push_back(place);
      }
      if (first >= end || reached != end) {
        coordinate.missing.push_back(member);
        return nullptr;
      }
    }
    return &coordinate.tiles.emplace(member, std::move(parts)).first->second;
  }

  const GridData& m_Grid;
  const std::vector<ResolvedCoordinate>& m_Slicer;
  std::vector<const HierarchyImpl*> m_Hierarchies;
  std::vector<Coordinate> m_Coordinates;
  size_t m_Measures = static_cast<size_t>(-1);
  int32_t m_GridMeasure = -1;
  std::unordered_map<size_t, std::unordered_map<uint64_t, uint64_t>> m_Shown;
};


// The cube as seen by the evaluator: hierarchies numbered across dimensions, members by their
// index (calculated measures after the stored ones), values aggregated by the grid engine under
// the query's slicer.
class CubeCells final : public common::CellSource {
 public:
  CubeCells(CubeImpl* cube, const ResolvedQuery& query, const std::atomic<bool>* interrupt,
            const GridData* known = nullptr)
      : m_pCube(cube), m_Query(query), m_pInterrupt(interrupt) {
    const auto& dimensions = cube->dimensions();
    for (size_t d = 0; d < dimensions.size(); ++d)
      for (const auto& hierarchy : dimensions[d]->m_Hierarchies) {
        if (dimensions[d]->m_IsMeasures && m_Measures < 0) m_Measures = static_cast<int32_t>(m_Hierarchies.size());
        m_Hierarchies.push_back(hierarchy.get());
        m_Dimension.push_back(d);
      }
    m_Parsed.resize(m_Measures >= 0 ? m_Hierarchies[static_cast<size_t>(m_Measures)]->m_Calculations.size() : 0);
    if (known) m_Known = std::make_unique<KnownCells>(*known, m_Hierarchies, query.slicer, *cube);
  }

  int32_t findHierarchy(const TOVAString& name) const override {
    if (const HierarchyImpl* h = m_pCube->findHierarchy(name)) return index_of(h);
    for (const auto& dimension : m_pCube->dimensions())
      if (dimension->getUniqueName().compare(name, 0) == 0 && !dimension->m_Hierarchies.empty())
        return index_of(dimension->m_Hierarchies[dimension->m_DefaultHierarchy].get());
    return -1;
  }
  int32_t measuresHierarchy() const override { return m_Measures; }
  bool findMember(const TOVAString& name, int32_t& hierarchy, int32_t& member) const override {
    for (size_t h = 0; h < m_Hierarchies.size(); ++h) {
      member = m_Hierarchies[h]->findMember(name);
      if (member >= 0) {
        hierarchy = static_cast<int32_t>(h);
        return true;
      }
    }
    return false;
  }
  bool findLevel(const TOVAString& name, int32_t& hierarchy, int32_t& level) const override {
    for (size_t h = 0; h < m_Hierarchies.size(); ++h)
      for (size_t l = 0; l < m_Hierarchies[h]->m_Levels.size(); ++l)
        if (m_Hierarchies[h]->m_Levels[l]->getUniqueName().compare(name, 0) == 0) {
          hierarchy = static_cast<int32_t>(h);
          level = static_cast<int32_t>(l);
          return true;
        }
    return false;
  }
  int32_t findLevelByName(int32_t hierarchy, const TOVAString& name) const override {
    const auto& levels = at(hierarchy).m_Levels;
    for (size_t l = 0; l < levels.size(); ++l)
      if (levels[l]->getName().compare(name, 0) == 0) return static_cast<int32_t>(l);
    return -1;
  }
  int32_t levelCount(int32_t hierarchy) const override { return static_cast<int32_t>(at(hierarchy).m_Levels.size()); }
  const std::vector<int32_t>& levelMembers(int32_t hierarchy, int32_t level) const override {
    return at(hierarchy).level(level)->m_Members;
  }
  int32_t levelOf(int32_t hierarchy, int32_t member) const override { return at(hierarchy).member(member).level; }
  int32_t parent(int32_t hierarchy, int32_t member) const override { return at(hierarchy).member(member).parent; }
  const std::vector<int32_t>& children(int32_t hierarchy, int32_t member) const override {
    return at(hierarchy).member(member).children;
  }
  const TOVAString& memberUniqueName(int32_t hierarchy, int32_t member) const override {
    return at(hierarchy).member(member).uniqueName;
  }
  int32_t contextMember(int32_t hierarchy) const override {
    for (const ResolvedCoordinate& c : m_Query.slicer)
      if (c.hierarchy == &at(hierarchy) && c.members.size() == 1) return c.members.front();
    return at(hierarchy).m_DefaultMember;
  }
  NUVA_o::Expression* calculation(int32_t hierarchy, int32_t member) const override {
    if (hierarchy != m_Measures || !is_calculated(at(hierarchy), member)) return nullptr;
    const auto k = static_cast<size_t>(at(hierarchy).member(member).calculation);
    if (!m_Parsed[k]) {
      auto_unuse<NUVA_o::Expression> tree(createCommonExpression(m_pCube));
      tree->setTextAndCreateTree(at(hierarchy).m_Calculations[k]->getExpression());
      m_Parsed[k] = std::move(tree);
    }
    return m_Parsed[k].get();
  }

  // The rows become a grid of one axis: per column the distinct members it holds, then the
  // measures; the slicer restricts what the rows leave open. Each row reads its cell back.
  void fetch(const common::EvaluationRows& rows, const std::vector<int32_t>& measures,
             std::vector<std::vector<double>>& values, std::vector<std::vector<uint8_t>>& filled) override {
    if (m_Known && m_Known->read(rows, m_Measures, measures, values, filled)) return;
    ResolvedQuery query;
    ResolvedAxis axis;
    std::vector<std::vector<int32_t>> position(rows.hierarchies.size());
    for (size_t k = 0; k < rows.hierarchies.size(); ++k) {
      const HierarchyImpl& h = at(rows.hierarchies[k]);
      ResolvedCoordinate c;
      c.hierarchy = &h;
      c.dimension = m_Dimension[static_cast<size_t>(rows.hierarchies[k])];
      position[k].assign(static_cast<size_t>(h.memberCount()), -1);
      for (int32_t m : rows.members[k])
        if (m >= 0 && position[k][static_cast<size_t>(m)] < 0) {
          position[k][static_cast<size_t>(m)] = static_cast<int32_t>(c.members.size());
          c.members.push_back(m);
        }
      axis.hierarchies.push_back(std::move(c));
    }
    ResolvedCoordinate measureCoordinate;
    measureCoordinate.hierarchy = &at(m_Measures);
    measureCoordinate.isMeasures = true;
    measureCoordinate.members = measures;
    axis.hierarchies.push_back(std::move(measureCoordinate));
    finish_axis(axis);
    query.cellCount = axis.tupleCount;
    query.axes.push_back(std::move(axis));
    for (const ResolvedCoordinate& c : m_Query.slicer)
      if (!c.isMeasures && std::find(rows.hierarchies.begin(), rows.hierarchies.end(), index_of(c.hierarchy)) ==
                               rows.hierarchies.end())
        query.slicer.push_back(c);
    const ResolvedAxis& laid = query.axes.front();
    std::vector<uint64_t> strides = laid.strides;
    std::shared_ptr<const GridData> grid = evaluate_grid(m_pCube, std::move(query), m_pInterrupt);
    values.assign(measures.size(), std::vector<double>(rows.count, 0.0));
    filled.assign(measures.size(), std::vector<uint8_t>(rows.count, 0));
    for (size_t r = 0; r < rows.count; ++r) {
      uint64_t cell = 0;
      bool null = false;
      for (size_t k = 0; k < rows.hierarchies.size() && !null; ++k) {
        const int32_t m = rows.members[k][r];
        null = m < 0;
        if (!null) cell += static_cast<uint64_t>(position[k][static_cast<size_t>(m)]) * strides[k];
      }
      if (null) continue;
      for (size_t j = 0; j < measures.size(); ++j) {
        const uint64_t c = cell + j * strides.back();
        values[j][r] = grid->values[c];
        filled[j][r] = grid->filled[c];
      }
    }
  }

  int32_t index_of(const HierarchyImpl* h) const {
    return static_cast<int32_t>(std::find(m_Hierarchies.begin(), m_Hierarchies.end(), h) - m_Hierarchies.begin());
  }

 private:
  const HierarchyImpl& at(int32_t h) const { return *m_Hierarchies[static_cast<size_t>(h)]; }

  CubeImpl* m_pCube;
  const ResolvedQuery& m_Query;
  const std::atomic<bool>* m_pInterrupt;
  std::vector<const HierarchyImpl*> m_Hierarchies;
  std::vector<size_t> m_Dimension;
  int32_t m_Measures = -1;
  mutable std::vector<auto_unuse<NUVA_o::Expression>> m_Parsed;
  std::unique_ptr<KnownCells> m_Known;
};

}  // namespace

std::unique_ptr<common::CellSource> make_cell_source(CubeImpl* cube, const ResolvedQuery& query,
                                                     const std::atomic<bool>* interrupt, const GridData* known) {
  return std::make_unique<CubeCells>(cube, query, interrupt, known);
}

void evaluate_calculations(CubeImpl* cube, const ResolvedQuery& query, GridData& grid,
                           const std::atomic<bool>* interrupt) {
  // Where the measure of each cell comes from.
  const ResolvedCoordinate* measures = nullptr;
  size_t measureAxis = 0, measureIndex = 0;
  for (size_t a = 0; a < query.axes.size(); ++a)
    for (size_t h = 0; h < query.axes[a].hierarchies.size(); ++h)
      if (query.axes[a].hierarchies[h].isMeasures)
        measures = &query.axes[a].hierarchies[h], measureAxis = a, measureIndex = h;
  bool onAxis = measures != nullptr;
  if (!measures)
    for (const ResolvedCoordinate& c : query.slicer)
      if (c.isMeasures) measures = &c;
  if (!measures) return;
  const HierarchyImpl& measureHierarchy = *measures->hierarchy;

  CubeCells cells(cube, query, interrupt);
  // The rows of a calculated measure: the cells that show it, with their members.
  auto cell_rows = [&](size_t position, std::vector<uint64_t>& ordinals) {
    common::EvaluationRows rows;
    std::vector<std::pair<size_t, size_t>> where;
    for (size_t a = 0; a < query.axes.size(); ++a)
      for (size_t h = 0; h < query.axes[a].hierarchies.size(); ++h)
        if (!query.axes[a].hierarchies[h].isMeasures) {
          rows.hierarchies.push_back(cells.index_of(query.axes[a].hierarchies[h].hierarchy));
          where.emplace_back(a, h);
        }
    rows.members.resize(where.size());
    const uint64_t total = grid.values.size();
    for (uint64_t c = 0; c < total; ++c) {
      if (onAxis) {
        const uint64_t t = (c / grid.cellStrides[measureAxis]) % query.axes[measureAxis].tupleCount;
        const ResolvedAxis& axis = query.axes[measureAxis];
        if ((t / axis.strides[measureIndex]) % axis.hierarchies[measureIndex].members.size() != position) continue;
      }
      ordinals.push_back(c);
      for (size_t k = 0; k < where.size(); ++k) {
        const auto [a, h] = where[k];
        const ResolvedAxis& axis = query.axes[a];
        const uint64_t t = (c / grid.cellStrides[a]) % axis.tupleCount;
        rows.members[k].push_back(axis.hierarchies[h].members[(t / axis.strides[h]) % axis.hierarchies[h].members.size()]);
      }
    }
    rows.count = ordinals.size();
    return rows;
  };
  for (size_t p = 0; p < measures->members.size(); ++p) {
    const int32_t member = measures->members[p];
    if (!is_calculated(measureHierarchy, member) || summed_with_facts(*cube, measureHierarchy, member))
      continue;
    auto compiled = common::CompiledExpression::compileCalculation(cells, cells.index_of(&measureHierarchy), member);
    std::vector<uint64_t> ordinals;
    const common::EvaluationRows rows = cell_rows(onAxis ? p : 0, ordinals);
    std::vector<double> values;
    std::vector<uint8_t> filled;
    compiled->evaluate(rows, values, filled);
    for (size_t r = 0; r < ordinals.size(); ++r) {
      grid.values[ordinals[r]] = values[r];
      grid.filled[ordinals[r]] = filled[r];
    }
  }
}

}  // namespace memory

namespace memory {

namespace {

using NUVA_o::Expression;

// Adds coefficient * (the expression) to `coefficients` (one per stored measure). False when
// the expression is not a sum of stored measures times integer constants.
bool collect_linear(Expression& e, int64_t coefficient, const HierarchyImpl& measures,
                    std::vector<int64_t>& coefficients) {
  constexpr int64_t kLargestFactor = 1000000;
  auto& k = e.getExpressions();
  switch (e.getType()) {
    case Expression::ET_PLUS:
    case Expression::ET_MINUS:
      return k.size() == 2 && collect_linear(*k[0], coefficient, measures, coefficients) &&
             collect_linear(*k[1], e.getType() == Expression::ET_PLUS ? coefficient : -coefficient,
                            measures, coefficients);
    case Expression::ET_NEGATE:
      return k.size() == 1 && collect_linear(*k[0], -coefficient, measures, coefficients);
    case Expression::ET_PARENTHESES:
    case Expression::ET_UNARY_PLUS:
    case Expression::ET_MEMBER:
    case Expression::ET_MEMBER_GROUP:
    case Expression::ET_VALUE:
    case Expression::ET_TUPLE:
      return k.size() == 1 && collect_linear(*k[0], coefficient, measures, coefficients);
    case Expression::ET_MULTIPLY: {
      if (k.size() != 2) return false;
      for (size_t side = 0; side < 2; ++side) {
        if (k[side]->getType() != Expression::ET_NUMBER) continue;
        const VARIANT& v = k[side]->getValue();
        if (v.vt != VT_R8 || v.dblVal != std::trunc(v.dblVal) ||
            std::fabs(v.dblVal) > kLargestFactor)
          return false;
        return collect_linear(*k[1 - side], coefficient * static_cast<int64_t>(v.dblVal), measures,
                              coefficients);
      }
      return false;
    }
    case Expression::ET_MEMBER_NAME: {
      const int32_t member = measures.findMember(e.getStringValue());
      // Calculated measures are no columns of their own: only stored measures make a sum.
      if (member < 0 || measures.member(member).calculation >= 0) return false;
      coefficients[static_cast<size_t>(member)] += coefficient;
      return std::llabs(coefficients[static_cast<size_t>(member)]) <= kLargestFactor;
    }
    default:
      return false;
  }
}

// The column of a linear combination of integer-stored measures, or null when a measure is
// stored as doubles or a value could leave the exact integers.
std::shared_ptr<const MeasureColumn> linear_column(const FactTable& facts,
                                                   const std::vector<int64_t>& coefficients) {
  int decimals = 0;
  bool any = false;
  for (size_t m = 0; m < coefficients.size(); ++m) {
    if (coefficients[m] == 0) continue;
    if (m >= facts.values.size() || !facts.values[m].isInteger()) return nullptr;
    decimals = std::max(decimals, facts.values[m].decimals());
    any = true;
  }
  if (!any) return nullptr;
  const size_t rows = facts.rowCount();
  std::vector<int64_t> out(rows, 0);
  double bound = 0;
  for (size_t m = 0; m < coefficients.size(); ++m) {
    if (coefficients[m] == 0) continue;
    const MeasureColumn& column = facts.values[m];
    int64_t factor = coefficients[m];
    for (int d = column.decimals(); d < decimals; ++d) factor *= 10;
    double largest = 0;
    column.visit([&](const auto* v) {
      if constexpr (std::is_same_v<std::decay_t<decltype(*v)>, double>)
        return;
      else
        for (size_t r = 0; r < rows; ++r)
          largest = std::max(largest, std::fabs(static_cast<double>(v[r])));
    });
    bound += largest * std::fabs(static_cast<double>(factor));
    if (bound >= 9.0e15) return nullptr;
    column.visit([&](const auto* v) {
      if constexpr (std::is_same_v<std::decay_t<decltype(*v)>, double>)
        return;
      else
        for (size_t r = 0; r < rows; ++r) out[r] += static_cast<int64_t>(v[r]) * factor;
    });
  }
  return std::make_shared<const MeasureColumn>(MeasureColumn::fromScaled(std::move(out), decimals));
}

}  // namespace

namespace {

// The coefficients of a calculation's text, or an empty vector when it is no linear form.
std::vector<int64_t> coefficients_of(const CubeImpl& cube, const HierarchyImpl& measures,
                                     const TOVAString& text) {
  std::vector<int64_t> coefficients(static_cast<size_t>(measures.memberCount()), 0);
  try {
    auto_unuse<Expression> tree(createCommonExpression(const_cast<CubeImpl*>(&cube)));
    if (tree->setTextAndCreateTree(text) && collect_linear(*tree, 1, measures, coefficients) &&
        std::any_of(coefficients.begin(), coefficients.end(), [](int64_t c) { return c != 0; }))
      return coefficients;
  } catch (const olap_api::ApiException&) {
    // Not a linear form: the evaluator computes it, and reports what is wrong with it.
  }
  return {};
}

}  // namespace

std::vector<int64_t> linear_coefficients(const CubeImpl& cube, const HierarchyImpl& measures,
                                         int32_t member) {
  const int32_t calculation = measures.member(member).calculation;
  if (calculation < 0) return {};
  return coefficients_of(
      cube, measures, measures.m_Calculations[static_cast<size_t>(calculation)]->getExpression());
}

bool summed_with_facts(const CubeImpl& cube, const HierarchyImpl& measures, int32_t member) {
  if (!is_calculated(measures, member)) return false;
  if (cube.factSource()) return !linear_coefficients(cube, measures, member).empty();
  return linear_measure(cube, measures, member) != nullptr;
}

const MeasureColumn* CubeImpl::linearColumn(const HierarchyImpl& measures,
                                            size_t calculation) const {
  const TOVAString& text = measures.m_Calculations[calculation]->getExpression();
  std::lock_guard<std::mutex> lock(m_LinearMutex);
  auto found = m_LinearColumns.find(text);
  if (found != m_LinearColumns.end()) return found->second.get();
  std::shared_ptr<const MeasureColumn> column;
  const std::vector<int64_t> coefficients = coefficients_of(*this, measures, text);
  if (!coefficients.empty()) column = linear_column(m_Facts, coefficients);
  return m_LinearColumns.emplace(text, std::move(column)).first->second.get();
}

}  // namespace memory
