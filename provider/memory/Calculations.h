#pragma once

// Calculated measures in grid queries: the cube serves the expression evaluator as its cell
// source, and the cells of calculated measures are computed from the stored ones.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/ExpressionEvaluator.h"

#include "QueryEngine.h"

namespace memory {

// Whether a member index of the hierarchy is a calculated measure.
inline bool is_calculated(const HierarchyImpl& hierarchy, int32_t member) {
  return hierarchy.member(member).calculation >= 0;
}

// The column of a calculated measure that is a sum of integer-stored measures times integer
// constants (summed like a stored measure), or null for any other member.
const MeasureColumn* linear_measure(const CubeImpl& cube, const HierarchyImpl& measures,
                                    int32_t member);

// The multiple of each stored measure (one per member of `measures`; zero for calculated ones)
// that a calculated measure sums, or an empty vector when it is no such sum of stored measures
// times integer constants.
std::vector<int64_t> linear_coefficients(const CubeImpl& cube, const HierarchyImpl& measures,
                                         int32_t member);

// Whether the cells of a calculated measure come from the facts with the stored ones (a linear
// column in memory, a sum the fact source computes elsewhere) rather than from the evaluator.
bool summed_with_facts(const CubeImpl& cube, const HierarchyImpl& measures, int32_t member);

// The cube as the evaluator reads it, under the query's slicer. Values that `known` (a grid
// computed under the same slicer, may be null) holds, or that sums of its cells give (a year
// from its months), are read from it; the others are aggregated from the facts. Keeps
// references to `query` and `known`, which must outlive it.
std::unique_ptr<common::CellSource> make_cell_source(CubeImpl* cube, const ResolvedQuery& query,
                                                     const std::atomic<bool>* interrupt,
                                                     const GridData* known = nullptr);

// The evaluation rows of those tuples (ordinals in the cross join) of the axis, with the
// hierarchies numbered as `source` numbers them.
common::EvaluationRows axis_rows(const common::CellSource& source, const ResolvedAxis& axis,
                                 const std::vector<uint64_t>& tuples);

// Fills the cells of the calculated measures of the query (on an axis or in the slicer) in
// `grid`, whose stored cells are already aggregated. Throws the evaluator's exceptions for a
// calculation it refuses.
void evaluate_calculations(CubeImpl* cube, const ResolvedQuery& query, GridData& grid,
                           const std::atomic<bool>* interrupt);

}  // namespace memory
