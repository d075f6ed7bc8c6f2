#include "FactRequest.h"

#include <mutex>

#include "Calculations.h"

namespace memory {

FactSource::~FactSource() = default;
CubeSource::~CubeSource() = default;

namespace {

// Per leaf key of the dimension, the indexes in the coordinate's list of the members that cover it.
std::vector<std::vector<uint32_t>> covering_members(const DimensionImpl& dimension,
                                                    const ResolvedCoordinate& coordinate) {
  const HierarchyImpl& hierarchy = *coordinate.hierarchy;
  std::vector<int32_t> keyAt(hierarchy.m_LeafMember.size(), -1);
  for (size_t key = 0; key < hierarchy.m_LeafPosition.size() && key < dimension.m_LeafKeys.size(); ++key) {
    const int32_t position = hierarchy.m_LeafPosition[key];
    if (position >= 0 && static_cast<size_t>(position) < keyAt.size())
      keyAt[static_cast<size_t>(position)] = static_cast<int32_t>(key);
  }
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

}  // namespace

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
    request.terms.push_back({static_cast<size_t>(member), offset});
  };
  // Calculated measures get no term: their cells are computed from the stored ones later.
  if (axisMeasure) {
    for (size_t i = 0; i < axisMeasure->members.size(); ++i)
      if (!is_calculated(*axisMeasure->hierarchy, axisMeasure->members[i]))
        add_term(axisMeasure->members[i], static_cast<int64_t>(i * measureMultiplier));
  } else if (slicerMeasure) {
    if (!is_calculated(*slicerMeasure->hierarchy, slicerMeasure->members.front()))
      add_term(slicerMeasure->members.front(), 0);
  } else {
    const HierarchyImpl* measures = nullptr;
    for (const auto& dimension : dimensions)
      if (dimension->m_IsMeasures && !dimension->m_Hierarchies.empty()) measures = dimension->m_Hierarchies.front().get();
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
      const auto cover = covering_members(dimension, *part.coordinate);
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
          for (uint32_t i : cover[key]) next.push_back(base + static_cast<int64_t>(i * part.multiplier));
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
  cube.factSource()->aggregate(request, grid.values, grid.filled, interrupt);
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
