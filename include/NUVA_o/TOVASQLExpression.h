#pragma once

#include <vector>

#include "NUVA_o/ColumnInfo.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/Parameter.h"
#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o::tovasql_parser {

// A node of a flat request: a SELECT root with its field list, FROM list, optional WHERE
// condition and optional GROUP BY list, or one of their parts. Built nodes are shared between
// trees and do not change, except through replaceChild.
class VTQ_EXPORT TOVASQLExpression : public virtual olap_api::RefCount {
 public:
  enum TOVASQLExpressionType : int {
    TOVASQL_ET_NONE = 0,
    TOVASQL_ET_SELECT = 1,
    TOVASQL_ET_FIELDLIST = 2,
    TOVASQL_ET_FIELD = 3,
    TOVASQL_ET_FROM = 4,
    TOVASQL_ET_HIERARCHY = 5,
    TOVASQL_ET_WHERE = 6,
    TOVASQL_ET_AND = 7,
    TOVASQL_ET_OR = 8,
    TOVASQL_ET_EQUAL = 9,
    TOVASQL_ET_NOTEQUAL = 10,
    TOVASQL_ET_LESS = 11,
    TOVASQL_ET_LESSEQUAL = 12,
    TOVASQL_ET_GREATER = 13,
    TOVASQL_ET_GREATEREQUAL = 14,
    TOVASQL_ET_BETWEEN = 15,
    TOVASQL_ET_NOTBETWEEN = 16,
    TOVASQL_ET_INLIST = 17,
    TOVASQL_ET_NOTINLIST = 18,
    TOVASQL_ET_LIKE = 19,
    TOVASQL_ET_NOTLIKE = 20,
    TOVASQL_ET_PARAMETER = 21,
    TOVASQL_ET_STRINGVALUE = 22,
    TOVASQL_ET_NUMERICVALUE = 23,
    TOVASQL_ET_UNARYMINUS = 24,  // reserved: no operation makes it
    TOVASQL_ET_LIST = 25,
    TOVASQL_ET_GROUPBY = 26,
    TOVASQL_ET_GROUPINGSET = 27,
  };

  // Trees deeper than this (conditions combined with AND and OR) are refused while they are
  // built, so that every operation on a tree stays within a thread's stack.
  static constexpr int MAX_DEPTH = 1000;

  using ColumnInfos = std::vector<auto_unuse<ColumnInfo>>;
  using FieldLists = std::vector<std::vector<auto_unuse<Field>>>;

  ~TOVASQLExpression() override = default;

  // The indented debug dump of the subtree; replaces `out`.
  virtual void toString(TOVAString& out) const = 0;
  // Scans and parses a statement into this node, which becomes its SELECT root. Throws
  // InvalidExpressionException (syntax, names) and leaves the node empty on failure. Does
  // nothing on a node without a cube.
  virtual void setTextAndCreateTree(const TOVAString& text) = 0;
  virtual TOVASQLExpressionType getType() const = 0;
  // The subtree as statement text; `spaced` puts a blank before the nodes that take one.
  virtual TOVAString getText(bool spaced) const = 0;
  virtual unsigned getNumChildren() const = 0;
  // With one reference for the caller; null when `index` is out of range.
  virtual const TOVASQLExpression* getChild(unsigned index) const = 0;
  // Takes over the caller's reference on `child`; ignored (the reference released) when
  // `index` is out of range.
  virtual void replaceChild(unsigned index, const TOVASQLExpression* child) = 0;
  // Of STRINGVALUE, FIELD, HIERARCHY and PARAMETER nodes; other types throw
  // UnsupportedOperationException.
  virtual const TOVAString& getStringValue() const = 0;
  // Of NUMERICVALUE nodes; other types throw UnsupportedOperationException, a text that is no
  // number InvalidCastException.
  virtual double getDoubleValue() const = 0;
  // The column index of a FIELD node.
  virtual int getIndexValue() const = 0;
  // Replaces `out` with the columns of a SELECT tree, in field-list order.
  virtual void getColumnInfos(ColumnInfos& out) const = 0;
  // Appends the columns of grouping set `set`, each with the ordinal of its field's column.
  virtual void getColumnInfosForGroupingSet(unsigned set, ColumnInfos& out) const = 0;
  // Borrowed; null when the node holds none.
  virtual const Field* getField() const = 0;
  virtual const Parameter* getParameter() const = 0;
  // A new node (one reference for the caller) negating a comparison; null for other types.
  virtual TOVASQLExpression* invert() const = 0;
  // A deep copy with one reference for the caller.
  virtual TOVASQLExpression* clone() const = 0;
  virtual bool doesExpressionContainGroupingSet() const = 0;
  virtual void setGroupingSetStatus(bool status) = 0;
  // True when a SELECT tree asks for a plain list of values of one level.
  virtual bool useRegularLOVRowset() const = 0;
  virtual bool checkRegularLOVWhereNode(const TOVAString& dimension, unsigned level) const = 0;
  virtual bool checkRegularLOVFilterNode(const TOVAString& dimension, unsigned level,
                                         unsigned& filters) const = 0;
  // Appends one column per field of lower-filter list `list`, numbered after those in `out`.
  virtual void getExtraDatasetColumnInfos(ColumnInfos& out, unsigned list) const = 0;
  virtual void setLowerFilterFieldsAddedToRowFields(const FieldLists& lists) = 0;
};

}  // namespace NUVA_o::tovasql_parser
