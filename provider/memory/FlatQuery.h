#pragma once

// Flat requests on the columnar facts: the storage side of a statement plan.

#include "MemoryCubeImpl.h"
#include "NUVA_o/Flattener.h"
#include "NUVA_o/TOVASQLExpression.h"

namespace memory {

// Executes a SELECT tree in one pass over the facts; the rows with one reference for the
// caller. Throws the plan's exceptions (nothing is scanned then), InvalidArgumentException for
// a field of another cube and QueryTooLargeException when the groups cannot be numbered.
NUVA_o::RowsetDataModel* execute_flat_query(CubeImpl& cube,
                                            const NUVA_o::tovasql_parser::TOVASQLExpression& root);

}  // namespace memory
