#pragma once

// Evaluation of expression trees over rows of coordinates, independent of where the values are
// stored: a provider gives members, their navigation and the values of its stored measures
// through a CellSource, and the evaluator computes everything else. An expression is compiled
// once; each evaluation walks the compiled form once over whole columns of rows.

#include <cstdint>
#include <memory>
#include <vector>

#include "NUVA_o/Expression.h"
#include "support/Export.h"
#include "support/TOVAString.h"

namespace common {

// Rows of coordinates: for each listed hierarchy one member per row. A member of -1 is the null
// member (a navigation that fell off its hierarchy); a value at such a row is empty. Hierarchies
// not listed stand at their context member (CellSource::contextMember).
struct EvaluationRows {
  size_t count = 0;
  std::vector<int32_t> hierarchies;
  std::vector<std::vector<int32_t>> members;  // members[k][row] is a member of hierarchies[k]
};

// What an evaluation reads. Hierarchies and members are numbered by the source; members of a
// hierarchy are numbered in depth-first order, so that a parent comes before its children and
// siblings keep their order.
class VTQ_EXPORT CellSource {
 public:
  virtual ~CellSource() = default;

  // Index of the hierarchy of that unique name, or of a dimension's default hierarchy; -1 if none.
  virtual int32_t findHierarchy(const TOVAString& uniqueName) const = 0;
  virtual int32_t measuresHierarchy() const = 0;
  // False when no member (stored or calculated) has that unique name.
  virtual bool findMember(const TOVAString& uniqueName, int32_t& hierarchy, int32_t& member) const = 0;
  // False when no level has that unique name.
  virtual bool findLevel(const TOVAString& uniqueName, int32_t& hierarchy, int32_t& level) const = 0;
  // Level number of the level of that name in the hierarchy, or -1.
  virtual int32_t findLevelByName(int32_t hierarchy, const TOVAString& name) const = 0;
  virtual int32_t levelCount(int32_t hierarchy) const = 0;
  // Stored members of the level, in hierarchy order.
  virtual const std::vector<int32_t>& levelMembers(int32_t hierarchy, int32_t level) const = 0;
  virtual int32_t levelOf(int32_t hierarchy, int32_t member) const = 0;
  // -1 at the top of the hierarchy.
  virtual int32_t parent(int32_t hierarchy, int32_t member) const = 0;
  virtual const std::vector<int32_t>& children(int32_t hierarchy, int32_t member) const = 0;
  virtual const TOVAString& memberUniqueName(int32_t hierarchy, int32_t member) const = 0;
  // The member of cells that do not name the hierarchy: the slicer's, else the default member.
  virtual int32_t contextMember(int32_t hierarchy) const = 0;
  // The tree of a calculated member (borrowed, alive as long as the source), null for a stored
  // member.
  virtual NUVA_o::Expression* calculation(int32_t hierarchy, int32_t member) const = 0;
  // The values of stored measures at the rows: values[m][row], filled[m][row] 0 for an empty
  // cell. Throws the library's exceptions (a query too large, an interrupt).
  virtual void fetch(const EvaluationRows& rows, const std::vector<int32_t>& measures,
                     std::vector<std::vector<double>>& values,
                     std::vector<std::vector<uint8_t>>& filled) = 0;
};

// A numeric expression compiled against a source. Unknown names, unsupported functions or
// forms and calculated members that refer to themselves are refused when compiling, with
// codes COMMON_E_EVAL_* whose inserts name the culprit and `context` (what is evaluated: a
// calculation's unique name, a clause).
class VTQ_EXPORT CompiledExpression {
 public:
  // The expression of a calculated member, evaluated as that member.
  static std::unique_ptr<CompiledExpression> compileCalculation(CellSource& source, int32_t hierarchy,
                                                                int32_t member);
  // Any numeric or logical expression; tuples that name no measure read `currentMeasure`.
  static std::unique_ptr<CompiledExpression> compile(CellSource& source, NUVA_o::Expression& root,
                                                     int32_t currentMeasure, const TOVAString& context);
  ~CompiledExpression();

  // One value per row; filled[row] is 0 where the value is empty. Never yields a value that is
  // not finite: division by zero and the like give empty cells.
  void evaluate(const EvaluationRows& rows, std::vector<double>& values, std::vector<uint8_t>& filled) const;

  struct Program;

 private:
  explicit CompiledExpression(std::unique_ptr<Program> program);
  std::unique_ptr<Program> m_pProgram;
};

// A set expression (a ranking such as TopCount, a Filter, a literal set) compiled against a
// source, refused as CompiledExpression::compile refuses.
class VTQ_EXPORT CompiledSet {
 public:
  // Whether the tree's root is a set form that `compile` accepts.
  static bool isSet(NUVA_o::Expression& root);
  static std::unique_ptr<CompiledSet> compile(CellSource& source, NUVA_o::Expression& root,
                                              int32_t currentMeasure, const TOVAString& context);
  ~CompiledSet();

  // The hierarchies of the set's tuples, in the order of their members.
  const std::vector<int32_t>& hierarchies() const;
  // The tuples at the context of every hierarchy, in the set's order: tuple t's member of
  // hierarchies()[k] is members[t * hierarchies().size() + k].
  std::vector<int32_t> evaluate() const;

  struct Program;

 private:
  explicit CompiledSet(std::unique_ptr<Program> program);
  std::unique_ptr<Program> m_pProgram;
};

}  // namespace common
