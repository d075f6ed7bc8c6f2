#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "NUVA_o/ViewResultSet.h"
#include "provider/memory/MemoryCube.h"
#include "support/TOVAString.h"

// Grid queries of the memory provider: what a cube view's companion evaluates, also callable
// directly. A grid has one axis per view axis (axis 0 the columns, axis 1 the rows, further
// axes pages); each axis holds the cross join of one member list per hierarchy, the last
// hierarchy varying fastest. A cell is the sum of the measure over the fact rows that lie under
// every coordinate of the cell and of the slicer; a cell no fact row reaches is empty.
namespace memory {

// The members of one hierarchy taking part in a query.
struct GridCoordinate {
  TOVAString hierarchy;              // hierarchy unique name
  std::vector<TOVAString> members;   // member unique names of that hierarchy
};

struct GridAxis {
  std::vector<GridCoordinate> hierarchies;  // cross joined in this order
};

// A filter of one axis: keeps the tuples where the expression is true, or those a set
// expression (TopCount and the like) selects.
struct GridFilter {
  size_t axis = 0;
  TOVAString expression;
  TOVAString context;  // what errors name: the clause
};

// A sort of one axis by the values at a tuple (an expression such as "Tuple([Measures].[Sales],
// [Time].[2024])"). Hierarchical sorts keep children under their parents.
struct GridSort {
  size_t axis = 0;
  TOVAString tuple;
  bool descending = false;
  bool hierarchical = true;
  TOVAString context;
};

// A highlighting rule: the cells where the logical expression holds carry its group and band;
// where several hold, the one of highest solve order (the later on equal orders).
struct GridHighlight {
  TOVAString expression;
  TOVAString group;
  int banding = 0;
  int solveOrder = 0;
  TOVAString context;
};

// A subtotal of one axis, with the numbers of the SubTotal interface (operation sum 0, average
// 1, minimum 2, maximum 3, count 4; type whole axis 0, per parent 1; position before 0, after
// 1). Its entries show `caption` on the axis's last hierarchy (after the parent's caption for a
// per-parent total) and the members of the totalled tuples on the others.
struct GridSubtotal {
  size_t axis = 0;
  int operation = 0;
  int type = 0;
  int position = 1;
  TOVAString caption;
  TOVAString uniqueName;
  TOVAString context;
};

// A dynamic calculation of one axis at the tuple of that axis named by `members` (one member
// unique name per hierarchy of the axis), with the type numbers of the DynamicCalculation
// interface (share of the axis total 0, share of the parent 1, rank 2, running sum 3,
// difference from the previous tuple 4, ratio to the previous tuple 5). Its entry stands right
// after that tuple, captioned by the tuple's last member and `caption`; a tuple the axis does not
// show adds nothing. Shares are fractions; the parent is the tuple with its last member's parent,
// read from the axis when it shows it, else from the cube (none at another axis's added entry).
// Calculations are computed once every axis has its entries: at a total of another axis, from
// the total's cells.
struct GridCalculation {
  size_t axis = 0;
  int type = 0;
  std::vector<TOVAString> members;
  TOVAString caption;
  TOVAString uniqueName;
  TOVAString context;
};

struct GridQuery {
  std::vector<GridAxis> axes;
  // Every filter applies; the sorts apply in this order, each later one breaking the ties of
  // those before. Errors in them throw the evaluator's exceptions (COMMON_E_EVAL_*).
  std::vector<GridFilter> filters;
  std::vector<GridSort> sorts;
  // Evaluated over the final cells, after filters and sorts.
  std::vector<GridHighlight> highlights;
  // Add their entries to the final axes, after the highlights; entries carry no band.
  std::vector<GridSubtotal> subtotals;
  std::vector<GridCalculation> calculations;
  // Each coordinate restricts every cell to the facts under any of its members; an All member
  // restricts nothing. A [Measures] coordinate names the measure (exactly one member).
  std::vector<GridCoordinate> slicer;
};

// The measure comes from the [Measures] hierarchy on an axis (each tuple then names its own),
// else from the slicer, else it is the default measure of the cube.

class MemoryAxisChunk;
class MemoryCellDataChunk;

// The result of a grid query. Fetches deliver chunks on the calling thread:
// - fetchChunks(handler, axis, first, count): the tuples [first, first + count) of that axis,
//   in MemoryAxisChunk pieces of at most AXIS_CHUNK_TUPLES tuples; axis CELLS (-1) asks for
//   cells as fetchChunksRange does.
// - fetchChunksRange(handler, first, count): the cells of ordinals [first, first + count), in
//   MemoryCellDataChunk pieces of at most CELL_CHUNK_CELLS cells.
// The range is clipped to what exists; an empty range delivers one empty chunk, so the last
// flag is always seen. Delivery stops when the handler answers false. A negative first or
// count, an unknown axis or a null handler throws InvalidArgumentException; a closed result set
// throws RunTimeException.
class VTQ_EXPORT MemoryResultSet : public NUVA_o::ViewResultSet {
 public:
  static constexpr long CELLS = -1;
  static constexpr long AXIS_CHUNK_TUPLES = 256;
  static constexpr long CELL_CHUNK_CELLS = 4096;

  ~MemoryResultSet() override = default;

  virtual int getAxisCount() const = 0;
  // Throws InvalidArgumentException for an unknown axis.
  virtual long getTupleCount(int axis) const = 0;
  // Product of the tuple counts; a cell's ordinal is the sum over axes of its tuple index
  // times the product of the tuple counts of the axes before (columns vary fastest).
  virtual long getCellCount() const = 0;
  // Unique names of the hierarchies of an axis, in order.
  virtual std::vector<TOVAString> getAxisHierarchies(int axis) const = 0;
  // Unique names of the slicer's members, and the measure of cells not laid out by an axis.
  virtual std::vector<TOVAString> getSlicer() const = 0;
  // Tells the listeners (once) that the result set is closed; later fetches throw.
  virtual void close() = 0;
  virtual bool isClosed() const = 0;
};

// Tuples of one axis. Indexes given to the getters are relative to the chunk.
class VTQ_EXPORT MemoryAxisChunk : public NUVA_o::AxisChunk {
 public:
  ~MemoryAxisChunk() override = default;
  virtual int getAxis() const = 0;
  // Index in the axis of the chunk's first tuple.
  virtual long getFirstTuple() const = 0;
  virtual long getTupleCount() const = 0;
  // Tuples of the whole axis.
  virtual long getAxisTupleCount() const = 0;
  virtual int getHierarchyCount() const = 0;
  virtual const TOVAString& getHierarchyUniqueName(int hierarchy) const = 0;
  // Throw InvalidArgumentException for indexes out of range.
  virtual const TOVAString& getMemberUniqueName(long tuple, int hierarchy) const = 0;
  virtual const TOVAString& getMemberCaption(long tuple, int hierarchy) const = 0;
  virtual int getMemberLevel(long tuple, int hierarchy) const = 0;
};

// Cell values. Indexes given to the getters are relative to the chunk.
class VTQ_EXPORT MemoryCellDataChunk : public NUVA_o::CellDataChunk {
 public:
  ~MemoryCellDataChunk() override = default;
  // Ordinal of the chunk's first cell.
  virtual long getFirstCell() const = 0;
  virtual long getCellCount() const = 0;
  // Cells of the whole result.
  virtual long getTotalCellCount() const = 0;
  // Throw InvalidArgumentException for an index out of range. An empty cell has value 0.
  virtual bool isEmpty(long cell) const = 0;
  virtual double getValue(long cell) const = 0;
  // The highlighting rule the cell falls under: its banding, or -1 for none, and its group,
  // empty for none.
  virtual int getBand(long cell) const = 0;
  virtual const TOVAString& getGroup(long cell) const = 0;
};

// Number of cells a query would produce (saturating), after resolving its names. Throws
// InvalidArgumentException for unknown hierarchies or members or a malformed query.
VTQ_EXPORT uint64_t countGridCells(MemoryCube* cube, const GridQuery& query);

// Evaluates the query. The result set comes with one reference for the caller. Throws
// InvalidArgumentException for unknown hierarchies or members or a malformed query,
// QueryTooLargeException above the cube's cell limit, RunTimeException when `interrupt` (may be
// null) becomes true during the evaluation.
VTQ_EXPORT MemoryResultSet* executeGridQuery(MemoryCube* cube, const GridQuery& query,
                                             const std::atomic<bool>* interrupt = nullptr);

}  // namespace memory
