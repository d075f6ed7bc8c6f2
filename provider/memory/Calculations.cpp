// Calculated measures in grid queries, computed by the library's expression evaluator over the
// stored measures that the aggregation engine delivers.

#include "Calculations.h"

#include <algorithm>
#include <map>

#include "common/CommonExpression.h"
#include "common/ExpressionEvaluator.h"

namespace memory {

namespace {

// The cube as seen by the evaluator: hierarchies numbered across dimensions, members by their
// index (calculated measures after the stored ones), values aggregated by the grid engine under
// the query's slicer.
class CubeCells final : public common::CellSource {
 public:
  CubeCells(CubeImpl* cube, const ResolvedQuery& query, const std::atomic<bool>* interrupt)
      : m_pCube(cube), m_Query(query), m_pInterrupt(interrupt) {
    const auto& dimensions = cube->dimensions();
    for (size_t d = 0; d < dimensions.size(); ++d)
      for (const auto& hierarchy : dimensions[d]->m_Hierarchies) {
        if (dimensions[d]->m_IsMeasures && m_Measures < 0) m_Measures = static_cast<int32_t>(m_Hierarchies.size());
        m_Hierarchies.push_back(hierarchy.get());
        m_Dimension.push_back(d);
      }
    m_Parsed.resize(m_Measures >= 0 ? m_Hierarchies[static_cast<size_t>(m_Measures)]->m_Calculations.size() : 0);
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
};

}  // namespace

std::unique_ptr<common::CellSource> make_cell_source(CubeImpl* cube, const ResolvedQuery& query,
                                                     const std::atomic<bool>* interrupt) {
  return std::make_unique<CubeCells>(cube, query, interrupt);
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
    if (!is_calculated(measureHierarchy, member)) continue;
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
