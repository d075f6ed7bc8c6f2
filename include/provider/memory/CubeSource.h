#pragma once

// Cubes whose tables live elsewhere than in CSV files: a cube definition with a Source element
// reads its dimension tables through a CubeSource and leaves its facts where they are, to be
// aggregated by a FactSource on each grid query. Members, names and clauses stay the memory
// provider's.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NUVA_o/Cube.h"
#include "common/FlatQueryPlan.h"
#include "support/Export.h"
#include "support/TOVAString.h"

namespace memory {

// A table read whole: its column names and its records, every field as text.
struct SourceTable {
  std::string name;  // shown in errors in place of a file path
  std::vector<TOVAString> header;
  std::vector<std::vector<TOVAString>> rows;
};

// Where the facts are: the table, one key column per dimension (in the definition's order,
// Measures excluded) and one value column per stored measure.
struct FactLayout {
  TOVAString table;
  std::vector<TOVAString> keyColumns;
  std::vector<TOVAString> valueColumns;
};

// What one grid query asks of the facts. A fact row reaches the cells whose offsets are the
// sums of one offset of each listed dimension's entry for its key (rows whose key a listed
// dimension does not hold reach none); dimensions not listed do not restrict. Each term adds
// the row's value of `measure` at `offset` from that cell, or, for a calculated measure that
// is a sum of stored measures times constants, the sum over each measure m of
// coefficients[m] times the cell's sum of m.
struct FactRequest {
  struct Dimension {
    size_t keyColumn = 0;  // index in FactLayout::keyColumns
    std::vector<TOVAString> keys;
    std::vector<std::vector<int64_t>> offsets;  // per key, never empty
    // The keys are every leaf key of the dimension: only rows whose key no member holds (which
    // reach no cell) are left to exclude.
    bool allKeys = false;
  };
  struct Term {
    size_t measure = 0;  // index in FactLayout::valueColumns
    int64_t offset = 0;
    std::vector<int64_t> coefficients;  // per value column; empty for a stored measure
    TOVAString calculation;             // the calculated measure's name, for the log
  };
  std::vector<Dimension> dimensions;
  std::vector<Term> terms;
  TOVAString purpose;  // said in errors: what the query was for
};

// A condition on fact rows of a flat request: AND and OR of key tests (the row's key in a
// key column is one of `keys`) and value tests (`predicate->matches` of the row's value of
// `measure`).
struct FactCondition {
  enum Kind { FK_AND, FK_OR, FK_KEYS, FK_VALUE };
  Kind kind = FK_KEYS;
  std::unique_ptr<FactCondition> left, right;
  size_t keyColumn = 0;
  std::vector<TOVAString> keys;
  size_t measure = 0;
  const common::FlatCondition* predicate = nullptr;  // borrowed from the request's plan
};

// What a flat request asks of the facts: the rows that pass `condition` (null: every row) and
// whose key in each listed dimension is one of its keys, grouped by the sum of their keys'
// offsets, with the sums of `measures` per group.
struct FlatFactRequest {
  struct Dimension {
    size_t keyColumn = 0;
    std::vector<TOVAString> keys;
    std::vector<int64_t> offsets;  // per key, at least 0
    bool allKeys = false;          // as in FactRequest
  };
  std::vector<Dimension> dimensions;
  std::vector<size_t> measures;  // indexes in FactLayout::valueColumns
  std::unique_ptr<FactCondition> condition;
  TOVAString purpose;
};

// A test of one cell's sums: AND and OR of comparisons of one term's sum with a number.
struct SumCondition {
  enum Kind { SC_AND, SC_OR, SC_COMPARE };
  enum Comparison { SC_EQ, SC_NE, SC_LT, SC_LE, SC_GT, SC_GE };
  Kind kind = SC_COMPARE;
  std::unique_ptr<SumCondition> left, right;
  size_t term = 0;  // index in FactRequest::terms; the sum stands left of the comparison
  Comparison comparison = SC_GT;
  double number = 0;
};

// The cells of a request ordered by one term's sum (largest first when descending), at most
// `limit` of them.
struct SumRanking {
  size_t term = 0;
  bool descending = true;
  uint64_t limit = 0;
};

// One cell that fact rows reached, with the sum of each term of the request.
struct CellSums {
  int64_t cell = 0;
  std::vector<double> sums;
};

// Aggregates facts held elsewhere. Shared by a cube and the queries running on it; its
// operations may be called from several threads at once.
class VTQ_EXPORT FactSource {
 public:
  virtual ~FactSource();
  // Adds the request's sums into `values` and sets `filled` where a fact row reached a cell.
  // Checks `interrupt` (may be null) while it waits and stops the work it started when it is
  // set. Throws the library's exceptions, never leaving a cell outside the vectors touched.
  virtual void aggregate(const FactRequest& request, std::vector<double>& values,
                         std::vector<uint8_t>& filled,
                         const std::atomic<bool>* interrupt) const = 0;
  // Throws InvalidArgumentException naming a key of that key column which is none of `keys`
  // (the leaf keys of `dimension`), so that every fact row lies under the members.
  virtual void checkKeys(size_t keyColumn, const TOVAString& dimension,
                         const std::vector<TOVAString>& keys) const = 0;
  // Number of fact rows.
  virtual long factCount() const = 0;
  // Calls `onGroup` with each group that rows reached and the sums of its measures, in any
  // order. Interruption and errors as aggregate.
  virtual void groupFacts(
      const FlatFactRequest& request,
      const std::function<void(int64_t group, const std::vector<double>& sums)>& onGroup,
      const std::atomic<bool>* interrupt) const = 0;
  // As aggregate, and also adds into `totals` (with `totalsFilled`) the sums over every key of
  // the last `totalled` dimensions of the request, each key of those reaching one cell at most:
  // at the cells the other dimensions' offsets give, the totalled ones' taken as 0. False, with
  // nothing done, when the source does not total; then the caller aggregates.
  virtual bool aggregateWithTotals(const FactRequest& request, size_t totalled,
                                   std::vector<double>& values, std::vector<uint8_t>& filled,
                                   std::vector<double>& totals, std::vector<uint8_t>& totalsFilled,
                                   const std::atomic<bool>* interrupt) const;
  // For a request whose keys each reach one cell at most and whose terms all stand at offset
  // 0: appends to `cells` the cells that rows reached and whose sums pass `condition` (null:
  // every one), in the order of `ranking` and no more than its limit (null: any order). False,
  // with nothing appended, when the source does not select cells itself. Interruption and
  // errors as aggregate.
  virtual bool selectCells(const FactRequest& request, const SumCondition* condition,
                           const SumRanking* ranking, std::vector<CellSums>& cells,
                           const std::atomic<bool>* interrupt) const;
  // The provider name its cubes report.
  virtual const TOVAString& providerName() const = 0;
};

// The server or store a definition's Source element names.
class VTQ_EXPORT CubeSource {
 public:
  virtual ~CubeSource();
  // The table of that name, read whole. Throws the library's exceptions.
  virtual SourceTable readTable(const TOVAString& table) = 0;
  // The facts of the layout; checks that the table and its columns exist.
  virtual std::shared_ptr<FactSource> openFacts(const FactLayout& layout) = 0;
};

// Makes a source from the Source element's attributes (name to value) and the definition's
// path; throws InvalidArgumentException with the problem for attributes it refuses.
using CubeSourceFactory = std::function<std::unique_ptr<CubeSource>(
    const std::map<std::string, TOVAString>& attributes, const std::string& definitionPath)>;

// Source elements of kind `kind` are read by `factory` from now on (replacing any other).
VTQ_EXPORT void registerCubeSource(const std::string& kind, CubeSourceFactory factory);
VTQ_EXPORT void unregisterCubeSource(const std::string& kind);

}  // namespace memory
