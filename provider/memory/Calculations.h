#pragma once

// Calculated measures in grid queries: the cube serves the expression evaluator as its cell
// source, and the cells of calculated measures are computed from the stored ones.

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/ExpressionEvaluator.h"

#include "QueryEngine.h"

namespace memory {

// The member index that stands for a calculated measure in queries (after the stored
// measures), or -1 when the measures hierarchy has no calculation of that unique name.
int32_t find_calculated_measure(const HierarchyImpl& measures, const TOVAString& uniqueName);

// Whether a member index of the hierarchy is a calculated measure.
inline bool is_calculated(const HierarchyImpl& hierarchy, int32_t member) {
  return member >= hierarchy.memberCount();
}

// The column of a calculated measure that is a sum of integer-stored measures times integer
// constants (summed like a stored measure), or null for any other member.
const MeasureColumn* linear_measure(const CubeImpl& cube, const HierarchyImpl& measures,
                                    int32_t member);

// The member node of a calculated measure's index (name, caption, unique name; level 0).
MemberNode calculated_member_node(const HierarchyImpl& measures, int32_t member);

// The cube as the evaluator reads it, under the query's slicer. Keeps references to `query`,
// which must outlive it.
std::unique_ptr<common::CellSource> make_cell_source(CubeImpl* cube, const ResolvedQuery& query,
                                                     const std::atomic<bool>* interrupt);

// Fills the cells of the calculated measures of the query (on an axis or in the slicer) in
// `grid`, whose stored cells are already aggregated. Throws the evaluator's exceptions for a
// calculation it refuses.
void evaluate_calculations(CubeImpl* cube, const ResolvedQuery& query, GridData& grid,
                           const std::atomic<bool>* interrupt);

}  // namespace memory
