#pragma once

// Grid queries of cubes whose facts are held elsewhere: what the query asks of the facts, as a
// FactSource reads it.

#include <atomic>
#include <string>

#include "NUVA_o/TOVASQLExpression.h"
#include "QueryEngine.h"

namespace memory {

// The request of `query` over the cube's fact layout; the cube's default measure joins
// grid.slicer when no coordinate names a measure, as for facts in memory.
FactRequest make_fact_request(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid);

// Fills grid.values and grid.filled through the cube's fact source.
void aggregate_elsewhere(const CubeImpl& cube, const ResolvedQuery& query, GridData& grid,
                         const std::atomic<bool>* interrupt);

// Executes a SELECT tree through the cube's fact source; the rows with one reference for the
// caller. Throws as execute_flat_query does, and the source's exceptions.
NUVA_o::RowsetDataModel* execute_flat_elsewhere(
    CubeImpl& cube, const NUVA_o::tovasql_parser::TOVASQLExpression& root);

// The factory registered for Source elements of `kind`, or null.
CubeSourceFactory cube_source_factory(const std::string& kind);

}  // namespace memory
