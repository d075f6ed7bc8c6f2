#pragma once

// Grid queries of cubes whose facts are held elsewhere: what the query asks of the facts, as a
// FactSource reads it.

#include <atomic>
#include <string>

#include "NUVA_o/TOVASQLExpression.h"
#include "QueryEngine.h"

namespace memory {

// Sets `term` to sum `member` of the measures at `offset`: a stored measure, or a calculated
// one that sums stored ones times constants. False for any other calculated measure, which the
// evaluator computes. Throws MEMORY_E_QUERY for a stored member without values.
bool summed_term(const CubeImpl& cube, const HierarchyImpl& measures, int32_t member,
                 int64_t offset, FactRequest::Term& term);

// The request of `query` over the cube's fact layout; the cube's default measure joins
// grid.slicer when no coordinate names a measure, as for facts in memory.
FactRequest make_fact_request(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid);

// Fills grid.values and grid.filled through the cube's fact source.
void aggregate_elsewhere(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid,
                         const std::atomic<bool>* interrupt);

// Applies to the axes of `resolved` the filters of `query` that the cube's fact source computes
// itself (they become ordered, their cross joins shrunk) and removes them from `query`; the
// others stay. Does nothing for facts in memory. Throws the source's exceptions and
// MEMORY_E_CLAUSE for a filter that does not parse.
void push_axis_filters(CubeImpl* cube, GridQuery& query, ResolvedQuery& resolved,
                       const std::atomic<bool>* interrupt);

// Executes a SELECT tree through the cube's fact source; the rows with one reference for the
// caller. Throws as execute_flat_query does, and the source's exceptions.
NUVA_o::RowsetDataModel* execute_flat_elsewhere(
    CubeImpl& cube, const NUVA_o::tovasql_parser::TOVASQLExpression& root);

// The factory registered for Source elements of `kind`, or null.
CubeSourceFactory cube_source_factory(const std::string& kind);

}  // namespace memory
