#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/Flattener.h"
#include "NUVA_o/TOVASQLExpression.h"
#include "support/TOVAString.h"

namespace common {

// One node of a WHERE condition in normal form: AND and OR of predicates, each a field
// compared with values (`<>`, NOT BETWEEN, NOT IN and NOT LIKE are negated predicates).
struct VTQ_EXPORT FlatCondition {
  enum Kind { FC_AND, FC_OR, FC_PREDICATE };
  enum Operator { FO_EQUAL, FO_LESS, FO_LESSEQUAL, FO_GREATER, FO_GREATEREQUAL, FO_BETWEEN,
                  FO_IN, FO_LIKE };

  Kind kind = FC_PREDICATE;
  // FC_AND and FC_OR.
  std::unique_ptr<FlatCondition> left, right;
  // FC_PREDICATE: the field (borrowed from the plan), the operator and its values: texts for
  // a text field (an IN list sorted), numbers for a numeric one.
  NUVA_o::Field* field = nullptr;
  Operator op = FO_EQUAL;
  bool negated = false;
  std::vector<TOVAString> texts;
  std::vector<double> numbers;

  // Whether a value of the predicate's field satisfies it. LIKE takes % for any run of
  // characters and _ for one; letters A to Z match either case there.
  bool matches(const TOVAString& value) const;
  bool matches(double value) const;
  // Appends the parts joined by AND, in order (this node itself when it is no AND).
  void collectConjuncts(std::vector<const FlatCondition*>& out) const;
};

// What a SELECT tree asks for, independent of where the facts are stored: the columns, the
// text fields that group the rows, the numeric fields summed per group, and the condition.
// A provider computes the groups and hands them back to make the rowset.
class VTQ_EXPORT FlatQueryPlan {
 public:
  struct Column {
    NUVA_o::Field* field;  // borrowed from the plan
    bool measure;
    unsigned slot;         // position in groupFields() or measureFields()
  };

  // What a provider computed: for every group field the texts of its values in row order
  // (value ids index them), and per group its value ids (one per group field) and its sums
  // (one per measure field). Groups may come in any order.
  struct Groups {
    std::vector<std::vector<TOVAString>> values;
    std::vector<uint32_t> keys;
    std::vector<double> sums;
  };

  // One way of grouping the rows: the statement's own (every group and measure field) or one
  // grouping set of its GROUP BY, which groups by its text fields, sums its measures and
  // leaves the other columns empty.
  struct Grouping {
    // Both in the plan's order (borrowed from the plan).
    std::vector<NUVA_o::Field*> groupFields;
    std::vector<NUVA_o::Field*> measureFields;
    // Per column: its position in groupFields or measureFields, -1 when the column is empty.
    std::vector<int> columnSlots;
  };

  // Throws an exception of the library's family (nothing is executed) for a tree that is not
  // a SELECT, a selected text field whose hierarchy the FROM list does not name, a condition
  // on something that is no field, a value of the wrong type for its field, or a grouping set
  // naming a field that no column selects.
  explicit FlatQueryPlan(const NUVA_o::tovasql_parser::TOVASQLExpression& root);
  ~FlatQueryPlan();
  FlatQueryPlan(const FlatQueryPlan&) = delete;
  FlatQueryPlan& operator=(const FlatQueryPlan&) = delete;

  const std::vector<Column>& columns() const { return m_Columns; }
  // Distinct by unique name, in the order the statement first names them.
  const std::vector<NUVA_o::Field*>& groupFields() const { return m_GroupFields; }
  const std::vector<NUVA_o::Field*>& measureFields() const { return m_MeasureFields; }
  // Null when the statement has no WHERE.
  const FlatCondition* condition() const { return m_pCondition.get(); }
  // One per grouping set of the GROUP BY, in its order; else one with every field.
  const std::vector<Grouping>& groupings() const { return m_Groupings; }

  // The rowset, with one reference for the caller, from the groups computed for each
  // grouping (fields as the grouping lists them): the rows of each grouping in turn, one per
  // group, ordered by value ids field by field. A grouping without group fields has one row,
  // empty (DT_NULL) when no group was computed.
  NUVA_o::RowsetDataModel* makeRowset(const std::vector<Groups>& groups) const;

 private:
  void add_field(const NUVA_o::tovasql_parser::TOVASQLExpression& node,
                 const std::vector<TOVAString>& from);
  std::unique_ptr<FlatCondition> normalise(const NUVA_o::tovasql_parser::TOVASQLExpression& node);
  NUVA_o::Field* keep(const NUVA_o::Field* field);
  Grouping make_grouping(const NUVA_o::tovasql_parser::TOVASQLExpression* set) const;

  const NUVA_o::tovasql_parser::TOVASQLExpression& m_Root;
  std::vector<auto_unuse<NUVA_o::Field>> m_Kept;
  std::vector<Column> m_Columns;
  std::vector<NUVA_o::Field*> m_GroupFields;
  std::vector<NUVA_o::Field*> m_MeasureFields;
  std::unique_ptr<FlatCondition> m_pCondition;
  std::vector<Grouping> m_Groupings;
};

}  // namespace common
