#include "FactRequest.h"

#include <mutex>

#include "Calculations.h"
#include "FlatQuery.h"
#include "common/FlatQueryPlan.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace memory {

FactSource::~FactSource() = default;

bool FactSource::aggregateWithTotals(const FactRequest&, size_t, std::vector<double>&,
                                     std::vector<uint8_t>&, std::vector<double>&,
                                     std::vector<uint8_t>&, const std::atomic<bool>*) const {
  return false;
}

bool FactSource::selectCells(const FactRequest&, const SumCondition*, const SumRanking*,
                             std::vector<CellSums>&, const std::atomic<bool>*) const {
  return false;
}
CubeSource::~CubeSource() = default;

namespace {

struct Part {
  const ResolvedCoordinate* coordinate;
  uint64_t multiplier;  // 0 for a slicer coordinate
};

std::mutex& sources_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, CubeSourceFactory>& sources() {
  static std::map<std::string, CubeSourceFactory> map;
  return map;
}

// Number of key columns of the fact layout: one per dimension but Measures.
size_t dimensions_key_columns(const CubeImpl& cube) {
  size_t n = 0;
  for (const auto& dimension : cube.dimensions()) n += dimension->m_IsMeasures ? 0 : 1;
  return n;
}

// The key column of dimension `d` (not Measures).
size_t key_column(const CubeImpl& cube, size_t d) {
  size_t column = 0;
  for (size_t k = 0; k < d; ++k) column += cube.dimensions()[k]->m_IsMeasures ? 0 : 1;
  return column;
}

}  // namespace

bool summed_term(const CubeImpl& cube, const HierarchyImpl& measures, int32_t member,
                 int64_t offset, FactRequest::Term& term) {
  const size_t measureCount = cube.m_FactLayout.valueColumns.size();
  term = FactRequest::Term();
  term.offset = offset;
  if (!is_calculated(measures, member)) {
    if (member < 0 || static_cast<size_t>(member) >= measureCount)
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a measure without values");
    term.measure = static_cast<size_t>(member);
    return true;
  }
  std::vector<int64_t> coefficients = linear_coefficients(cube, measures, member);
  if (coefficients.empty()) return false;
  // Calculated members follow the stored ones, and no sum holds a calculated measure.
  coefficients.resize(measureCount);
  term.coefficients = std::move(coefficients);
  term.calculation = measures.member(member).uniqueName;
  return true;
}

FactRequest make_fact_request(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid) {
  const auto& dimensions = cube.dimensions();
  std::vector<std::vector<Part>> parts(dimensions.size());
  const ResolvedCoordinate* axisMeasure = nullptr;
  uint64_t measureMultiplier = 0;
  const ResolvedCoordinate* slicerMeasure = nullptr;
  for (size_t a = 0; a < query.axes.size(); ++a) {
    const ResolvedAxis& axis = query.axes[a];
    for (size_t h = 0; h < axis.hierarchies.size(); ++h) {
      const uint64_t multiplier = axis.strides[h] * grid.cellStrides[a];
      if (axis.hierarchies[h].isMeasures) {
        axisMeasure = &axis.hierarchies[h];
        measureMultiplier = multiplier;
      } else {
        parts[axis.hierarchies[h].dimension].push_back({&axis.hierarchies[h], multiplier});
      }
    }
  }
  for (const ResolvedCoordinate& coordinate : query.slicer) {
    if (coordinate.isMeasures)
      slicerMeasure = &coordinate;
    else
      parts[coordinate.dimension].push_back({&coordinate, 0});
  }

  FactRequest request;
  const size_t measureCount = cube.m_FactLayout.valueColumns.size();
  auto add_term = [&](int32_t member, int64_t offset) {
    if (member < 0 || static_cast<size_t>(member) >= measureCount)
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a measure without values");
    FactRequest::Term& term = request.terms.emplace_back();
    term.measure = static_cast<size_t>(member);
    term.offset = offset;
  };
  auto add_member = [&](const ResolvedCoordinate& coordinate, int32_t member, int64_t offset) {
    FactRequest::Term term;
    if (summed_term(cube, *coordinate.hierarchy, member, offset, term))
      request.terms.push_back(std::move(term));
  };
  if (axisMeasure) {
    for (size_t i = 0; i < axisMeasure->members.size(); ++i)
      add_member(*axisMeasure, axisMeasure->members[i], static_cast<int64_t>(i * measureMultiplier));
  } else if (slicerMeasure) {
    add_member(*slicerMeasure, slicerMeasure->members.front(), 0);
  } else {
    const HierarchyImpl* measures = nullptr;
    for (const auto& dimension : dimensions)
      if (dimension->m_IsMeasures && !dimension->m_Hierarchies.empty())
        measures = dimension->m_Hierarchies.front().get();
    if (!measures || measures->memberCount() == 0)
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "the cube has no measure");
    add_term(measures->m_DefaultMember, 0);
    grid.slicer.push_back(measures->member(measures->m_DefaultMember).uniqueName);
  }

  size_t keyColumn = 0;
  for (size_t d = 0; d < dimensions.size(); ++d) {
    if (dimensions[d]->m_IsMeasures) continue;
    const size_t column = keyColumn++;
    if (parts[d].empty()) continue;
    const DimensionImpl& dimension = *dimensions[d];
    const size_t leaves = dimension.m_LeafKeys.size();
    std::vector<std::vector<int64_t>> offsets(leaves, std::vector<int64_t>{0});
    bool restricts = false;
    for (const Part& part : parts[d]) {
      const auto cover = covering(dimension, *part.coordinate);
      for (size_t key = 0; key < leaves; ++key) {
        std::vector<int64_t>& mine = offsets[key];
        if (mine.empty()) continue;
        if (part.multiplier == 0) {
          // A slicer keeps the leaf when any of its members covers it.
          if (cover[key].empty()) mine.clear();
          restricts = restricts || cover[key].empty();
          continue;
        }
        restricts = true;
        std::vector<int64_t> next;
        next.reserve(mine.size() * cover[key].size());
        for (int64_t base : mine)
          for (uint32_t i : cover[key])
            next.push_back(base + static_cast<int64_t>(i * part.multiplier));
        mine.swap(next);
      }
    }
    if (!restricts) continue;  // an All slicer member: every fact row qualifies
    FactRequest::Dimension entry;
    entry.keyColumn = column;
    for (size_t key = 0; key < leaves; ++key) {
      if (offsets[key].empty()) continue;
      entry.keys.push_back(dimension.m_LeafKeys[key]);
      entry.offsets.push_back(std::move(offsets[key]));
    }
    entry.allKeys = entry.keys.size() == leaves;
    request.dimensions.push_back(std::move(entry));
  }
  return request;
}

void aggregate_elsewhere(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid,
                         const std::atomic<bool>* interrupt) {
  FactRequest request = make_fact_request(cube, query, grid);
  if (grid.values.empty() || request.terms.empty()) return;
  // A dimension none of whose keys reaches the grid leaves every cell empty.
  for (const FactRequest::Dimension& dimension : request.dimensions)
    if (dimension.keys.empty()) return;
  request.purpose = TOVAString().build("a grid query of cube '%s'", cube.getName());
  if (query.totalsAxis >= 0 && grid.totalsAxis == query.totalsAxis) {
    const size_t a = static_cast<size_t>(query.totalsAxis);
    std::vector<uint8_t> onAxis(dimensions_key_columns(cube), 0);
    for (const ResolvedCoordinate& c : query.axes[a].hierarchies) onAxis[key_column(cube, c.dimension)] = 1;
    // The axis's dimensions go last: the source totals over the trailing ones.
    std::stable_partition(request.dimensions.begin(), request.dimensions.end(),
                          [&](const FactRequest::Dimension& d) { return !onAxis[d.keyColumn]; });
    size_t totalled = 0;
    bool single = true;
    for (const FactRequest::Dimension& d : request.dimensions)
      if (onAxis[d.keyColumn]) {
        ++totalled;
        for (const auto& offsets : d.offsets) single = single && offsets.size() == 1;
      }
    if (single && totalled &&
        cube.factSource()->aggregateWithTotals(request, totalled, grid.values, grid.filled, grid.totals,
                                               grid.totalsFilled, interrupt)) {
      const uint64_t stride = grid.cellStrides[a], count = query.axes[a].tupleCount;
      for (uint64_t c = 0; c < grid.totals.size(); ++c) {
        const uint64_t t = (c / stride) % count;
        if (t == 0) continue;
        grid.totals[static_cast<size_t>(c)] = grid.totals[static_cast<size_t>(c - t * stride)];
        grid.totalsFilled[static_cast<size_t>(c)] = grid.totalsFilled[static_cast<size_t>(c - t * stride)];
      }
      return;
    }
    grid.totalsAxis = -1;
    grid.totals.clear();
    grid.totalsFilled.clear();
  }
  cube.factSource()->aggregate(request, grid.values, grid.filled, interrupt);
}

namespace {

using common::FlatCondition;

class FlatRequestBuilder {
 public:
  explicit FlatRequestBuilder(const CubeImpl& cube) : m_Cube(cube) {
    size_t column = 0;
    for (const auto& dimension : cube.dimensions())
      m_KeyColumn.push_back(dimension->m_IsMeasures ? 0 : column++);
  }

  const FieldImpl& own_field(const NUVA_o::Field* field) const { return memory::own_field(m_Cube, field); }

  TextSource source(const NUVA_o::Field* field) const { return text_source(m_Cube, field); }

  size_t measure(const NUVA_o::Field* field) const {
    const FieldImpl& impl = own_field(field);
    const auto* hierarchy = static_cast<const HierarchyImpl*>(impl.getHierarchy());
    const int32_t member = hierarchy->findMember(impl.getUniqueName());
    if (member < 0 || static_cast<size_t>(member) >= m_Cube.m_FactLayout.valueColumns.size())
      raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a measure without values");
    return static_cast<size_t>(member);
  }

  std::unique_ptr<FactCondition> compile(const FlatCondition& c) const {
    auto out = std::make_unique<FactCondition>();
    if (c.kind != FlatCondition::FC_PREDICATE) {
      out->kind = c.kind == FlatCondition::FC_AND ? FactCondition::FK_AND : FactCondition::FK_OR;
      out->left = compile(*c.left);
      out->right = compile(*c.right);
    } else if (c.field->isNumeric()) {
      out->kind = FactCondition::FK_VALUE;
      out->measure = measure(c.field);
      out->predicate = &c;
    } else {
      const TextSource field = source(c.field);
      out->keyColumn = m_KeyColumn[field.dimension];
      const std::vector<uint8_t> passes = key_mask(m_Cube, c);
      const auto& keys = m_Cube.dimensions()[field.dimension]->m_LeafKeys;
      for (size_t k = 0; k < passes.size() && k < keys.size(); ++k)
        if (passes[k]) out->keys.push_back(keys[k]);
    }
    return out;
  }

  const CubeImpl& m_Cube;
  std::vector<size_t> m_KeyColumn;  // per dimension
};

}  // namespace

namespace {

// The groups of one grouping of the plan, summed by the cube's fact source in one request.
common::FlatQueryPlan::Groups group_elsewhere(CubeImpl& cube, const common::FlatQueryPlan& plan,
                                              const FlatRequestBuilder& builder,
                                              const common::FlatQueryPlan::Grouping& grouping) {
  const auto& fields = grouping.groupFields;
  const auto& dimensions = cube.dimensions();
  common::FlatQueryPlan::Groups groups;
  const GroupNumbering numbering(cube, fields);
  groups.values = numbering.texts;
  // Per dimension: the offset each leaf key adds to a row's group, -1 for keys left out.
  std::vector<std::vector<int64_t>> offsets(dimensions.size());
  auto table = [&](size_t d) -> std::vector<int64_t>& {
    if (offsets[d].empty()) offsets[d].assign(dimensions[d]->m_LeafKeys.size(), 0);
    return offsets[d];
  };
  for (size_t f = 0; f < fields.size(); ++f)
    numbering.addOffsets(f, table(numbering.sources[f].dimension));
  for (const KeyDateCut& cut : key_date_cuts(cube)) {
    std::vector<int64_t>& t = table(cut.dimension);
    for (size_t k = 0; k < t.size(); ++k)
      if (cut.hierarchy->m_LeafPosition[k] >= cut.endLeaf) t[k] = -1;
  }
  FlatFactRequest request;
  // Conditions on one dimension of the top-level AND chain narrow that dimension's keys; the
  // rest goes to the source as a row condition.
  if (const common::FlatCondition* condition = plan.condition()) {
    std::vector<const common::FlatCondition*> parts;
    condition->collectConjuncts(parts);
    for (const common::FlatCondition* c : parts) {
      bool measures = false;
      const int d = single_dimension(cube, *c, measures);
      if (!measures && d >= 0) {
        const std::vector<uint8_t> passes = key_mask(cube, *c);
        std::vector<int64_t>& t = table(static_cast<size_t>(d));
        for (size_t k = 0; k < t.size(); ++k)
          if (k >= passes.size() || !passes[k]) t[k] = -1;
        continue;
      }
      std::unique_ptr<FactCondition> compiled = builder.compile(*c);
      if (!request.condition) {
        request.condition = std::move(compiled);
      } else {
        auto both = std::make_unique<FactCondition>();
        both->kind = FactCondition::FK_AND;
        both->left = std::move(request.condition);
        both->right = std::move(compiled);
        request.condition = std::move(both);
      }
    }
  }
  for (const NUVA_o::Field* field : grouping.measureFields)
    request.measures.push_back(builder.measure(field));
  bool empty = false;
  for (size_t d = 0; d < dimensions.size(); ++d) {
    if (offsets[d].empty()) continue;
    FlatFactRequest::Dimension entry;
    entry.keyColumn = builder.m_KeyColumn[d];
    for (size_t k = 0; k < offsets[d].size(); ++k)
      if (offsets[d][k] >= 0) {
        entry.keys.push_back(dimensions[d]->m_LeafKeys[k]);
        entry.offsets.push_back(offsets[d][k]);
      }
    entry.allKeys = entry.keys.size() == offsets[d].size();
    empty = empty || entry.keys.empty();
    request.dimensions.push_back(std::move(entry));
  }
  if (!empty) {
    request.purpose = TOVAString().build("a flat request of cube '%s'", cube.getName());
    const size_t width = request.measures.size();
    cube.factSource()->groupFacts(
        request,
        [&](int64_t group, const std::vector<double>& sums) {
          if (group < 0 || static_cast<uint64_t>(group) >= numbering.total || sums.size() != width)
            raise_query<RunTimeExceptionImpl>(MEMORY_E_QUERY,
                                              "the source answered a group outside the request");
          for (size_t f = 0; f < fields.size(); ++f)
            groups.keys.push_back(static_cast<uint32_t>(
                (static_cast<uint64_t>(group) / numbering.strides[f]) % numbering.cardinality[f]));
          groups.sums.insert(groups.sums.end(), sums.begin(), sums.end());
        },
        nullptr);
  }
  return groups;
}

}  // namespace

NUVA_o::RowsetDataModel* execute_flat_elsewhere(
    CubeImpl& cube, const NUVA_o::tovasql_parser::TOVASQLExpression& root) {
  const common::FlatQueryPlan plan(root);
  const FlatRequestBuilder builder(cube);
  std::vector<common::FlatQueryPlan::Groups> groups;
  for (const common::FlatQueryPlan::Grouping& grouping : plan.groupings())
    groups.push_back(group_elsewhere(cube, plan, builder, grouping));
  return plan.makeRowset(groups);
}

void registerCubeSource(const std::string& kind, CubeSourceFactory factory) {
  std::lock_guard<std::mutex> lock(sources_mutex());
  sources()[kind] = std::move(factory);
}

void unregisterCubeSource(const std::string& kind) {
  std::lock_guard<std::mutex> lock(sources_mutex());
  sources().erase(kind);
}

CubeSourceFactory cube_source_factory(const std::string& kind) {
  std::lock_guard<std::mutex> lock(sources_mutex());
  auto it = sources().find(kind);
  return it == sources().end() ? CubeSourceFactory() : it->second;
}

}  // namespace memory
