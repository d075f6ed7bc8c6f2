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

// Indexes of the rows, in row order, whose members on the hierarchies that a set's tuples share
// with the axis form one of its tuples (tuple t's member of setHierarchies[k] is
// members[t * setHierarchies.size() + k]). Throws COMMON_E_EVAL_INVALID naming `context` when
// they share no hierarchy.
VTQ_EXPORT std::vector<size_t> rowsInSet(const EvaluationRows& axis, const std::vector<int32_t>& setHierarchies,
                                         const std::vector<int32_t>& members, const TOVAString& context);

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

// A subtotal of one axis, with the numbers of the SubTotal interface: operation sum 0, average
// 1, minimum 2, maximum 3, count 4; type whole axis 0, per parent 1; position before 0, after 1.
struct AxisSubtotal {
  int operation = 0;
  int type = 0;
  int position = 1;
};

// A dynamic calculation of one axis: it stands right after `row` and computes, by its type
// (the numbers of the DynamicCalculation interface: share of the axis total 0, share of the
// parent 1, rank 2, running sum 3, difference from the previous row 4, ratio to the previous
// row 5), a value of that row at every place on the other axes.
struct AxisCalculation {
  size_t row = 0;
  int type = 0;
};

// One entry of an axis once its subtotals and calculations are added: a row of the axis, a
// total of rows or a calculation.
struct AxisEntry {
  int64_t row = -1;          // the row shown, or -1 for a total or a calculation
  int64_t calculation = -1;  // a calculation's index in the calculations
  size_t subtotal = 0;       // a total's index in the subtotals
  int32_t parent = -1;       // a per-parent total's parent member of the axis's last hierarchy
  std::vector<size_t> rows;  // the rows a total aggregates; the first gives its other members
};

// The axis's rows in order with the totals of the subtotals and the calculations added, in
// subtotal order where several stand at one place; calculations come right after their row. A whole-axis total aggregates every row; a per-parent total the
// rows whose member of the last hierarchy has that parent (and whose other members agree), at
// every level, standing before the first or after the last of them.
VTQ_EXPORT std::vector<AxisEntry> subtotalAxis(const CellSource& source, const EvaluationRows& axis,
                                               const std::vector<AxisSubtotal>& subtotals,
                                               const std::vector<AxisCalculation>& calculations = {});

// The value of a calculation of type `type` for `row` at one place on the other axes, from the
// values there of every row of the axis in order; `parent` is the value there of the row's
// parent (share of the parent) when filled. Shares are fractions (0.25 for a quarter); the rank
// of the largest value is 1. False for an empty result: the row's value empty, no previous
// row or an empty one, a zero divisor.
VTQ_EXPORT bool calculateRow(int type, size_t row, const std::vector<double>& values,
                             const std::vector<uint8_t>& filled, const double* parent, double& out);

// The aggregate of the filled values by a subtotal's operation. False when it is empty: no
// value to aggregate, except for count, which is then 0.
VTQ_EXPORT bool aggregateValues(int operation, const std::vector<double>& filledValues, double& out);

// The caption of a subtotal without one: the name of its operation ("Sum", "Average", ...).
VTQ_EXPORT TOVAString subtotalOperationName(int operation);
// The caption of a calculation without one: the name of its type ("% of Total", "Rank", ...).
VTQ_EXPORT TOVAString calculationTypeName(int type);

}  // namespace common
