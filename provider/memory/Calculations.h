#pragma once

// Calculated measures in grid queries: the cube serves the expression evaluator as its cell
// source, and the cells of calculated measures are computed from the stored ones.

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/ExpressionEvaluator.h"

#include "QueryEngine.h"

namespace memory {

// Whether a member index of the hierarchy is a calculated measure.
inline bool is_calculated(const HierarchyImpl& hierarchy, int32_t member) {
  return hierarchy.member(member).calculation >= 0;
}

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
