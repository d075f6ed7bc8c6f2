#pragma once

// Filters and sorts over the tuples of one axis of a grid, independent of where the values are
// stored: the axis is given as evaluation rows (one row per tuple) and values are read through
// the provider's CellSource.

#include <cstdint>
#include <vector>

#include "common/ExpressionEvaluator.h"

namespace common {

// Indexes of the rows that a filter keeps, in row order: those where a logical expression is
// true, or, for a set expression (TopCount and the like), those whose members on the hierarchies
// the set shares with the axis form one of its tuples. Throws the evaluator's exceptions with
// `context` as what is evaluated, and COMMON_E_EVAL_INVALID for a set that shares no hierarchy
// with the axis.
VTQ_EXPORT std::vector<size_t> filterRows(CellSource& source, const EvaluationRows& axis,
                                          NUVA_o::Expression& expression, int32_t currentMeasure,
                                          const TOVAString& context);

// One sort: the value of every row at the sort's tuple, and how to order by it.
struct RowSortKey {
  std::vector<double> values;
  std::vector<uint8_t> filled;  // 0 for an empty value, which orders below every number
  bool descending = false;
  // Children stay under their parents, ordered among their siblings.
  bool hierarchical = true;
};

// The value of `tuple` (an expression naming members) at every row of the axis.
VTQ_EXPORT RowSortKey sortKey(CellSource& source, const EvaluationRows& axis, NUVA_o::Expression& tuple,
                              int32_t currentMeasure, const TOVAString& context, bool descending,
                              bool hierarchical);

// The rows in sorted order. The first key decides first, each later one breaks the ties of
// those before; ties left keep the rows' order. A hierarchical first key orders the tree of
// rows (a row's parent is the row of its nearest ancestor tuple) sibling by sibling.
VTQ_EXPORT std::vector<size_t> orderRows(const CellSource& source, const EvaluationRows& axis,
                                         const std::vector<RowSortKey>& keys);

// A highlighting rule over cells: cells where the logical expression holds carry the rule.
struct CellRule {
  NUVA_o::Expression* expression = nullptr;
  int solveOrder = 0;
  TOVAString context;  // what errors name: the clause
};

// Per row (a cell given by its coordinates), the index of the rule that holds there with the
// highest solve order (the later in the list on equal orders), or -1 where none holds. Tuples
// that name no measure read `currentMeasure`. Throws the evaluator's exceptions naming the
// rule's context.
VTQ_EXPORT std::vector<int32_t> highlightRows(CellSource& source, const EvaluationRows& cells,
                                              const std::vector<CellRule>& rules, int32_t currentMeasure);

}  // namespace common
