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

// What the cube's key-date parameters keep of a dimension: the facts whose leaf in `hierarchy`
// comes before `endLeaf`, the leaf after the last one under the parameter's member (its value,
// else its default). Flat requests honour them wherever the facts are.
struct KeyDateCut {
  size_t dimension;  // index in CubeImpl::dimensions()
  const HierarchyImpl* hierarchy;
  int32_t endLeaf;
};
std::vector<KeyDateCut> key_date_cuts(const CubeImpl& cube);

}  // namespace memory
