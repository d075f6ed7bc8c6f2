#pragma once

#include "NUVA_o/Cube.h"
#include "NUVA_o/Parameter.h"
#include "NUVA_o/TOVASQLExpression.h"
#include "olap_api/RefCount.h"

namespace common {

// Assembles a TOVASQL tree step by step, the way the statement parser does: operands are
// pushed at the back of the root's queue and operators combine what is queued. Fields may be
// registered under a column index so that grouping sets can name them again.
class VTQ_EXPORT TOVASQLExpressionBuilder : public virtual olap_api::RefCount {
 public:
  using Type = NUVA_o::tovasql_parser::TOVASQLExpression::TOVASQLExpressionType;

  ~TOVASQLExpressionBuilder() override = default;
  // The root with one reference for the caller (the builder keeps its own); null before
  // buildNewExpression.
  virtual NUVA_o::tovasql_parser::TOVASQLExpression* takeRoot() = 0;
  // Starts a new root (type NONE) on `cube`. The other operations need a root: without one
  // they throw InvalidArgumentException.
  virtual void buildNewExpression(NUVA_o::Cube* cube) = 0;
  // A hierarchy, a field or else a string value.
  virtual void buildStringNode(const TOVAString& text) = 0;
  virtual void buildExpressionNode(Type type) = 0;
  virtual void buildNumericNode(const TOVAString& text) = 0;
  // Combines the pending operator with `operands` queued operands (0: an IN list).
  virtual void linkFilterConstraint(const unsigned& operands) = 0;
  virtual void buildParameterNode(auto_unuse<NUVA_o::Parameter> parameter,
                                  auto_unuse<NUVA_o::Field> field) = 0;
  // A FIELD node holding the parameter and the field; registered under `index` when
  // `hasIndex`. A duplicate index throws InvalidXMLException.
  virtual void buildParameterFieldNode(auto_unuse<NUVA_o::Parameter> parameter,
                                       auto_unuse<NUVA_o::Field> field, bool hasIndex,
                                       int index) = 0;
  virtual void buildFieldNode(auto_unuse<NUVA_o::Field> field, bool hasIndex, int index) = 0;
  // Pushes the field node registered under `index` once more; InvalidXMLException when no
  // node carries that index.
  virtual void buildGroupingSetItemNode(int index) = 0;
  // A STRINGVALUE node holding `text` as it is, without the name search of buildStringNode.
  virtual void buildStringValueNode(const TOVAString& text) = 0;
};

}  // namespace common
