#include "tovasqlexpressionbuildercommon.h"

#include <utility>

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

using NUVA_o::tovasql_parser::TOVASQLExpression;

TOVASQLExpressionBuilderCommon::TOVASQLExpressionBuilderCommon()
    : RefCountImpl("TOVASQLEXPRESSIONBUILDERCOMMON",
                   support::nextInstanceNumber<TOVASQLExpressionBuilderCommon>()) {}

TOVASQLExpressionCommon& TOVASQLExpressionBuilderCommon::root(const char* operation) const {
  if (!m_pRoot)
    support::raise<InvalidArgumentExceptionImpl>(
        moduleName(), support::COMMON_E_TOVASQL_BUILD_SEQUENCE, operation, 0);
  return *m_pRoot;
}

TOVASQLExpression* TOVASQLExpressionBuilderCommon::takeRoot() { return m_pRoot.share(); }

void TOVASQLExpressionBuilderCommon::buildNewExpression(NUVA_o::Cube* cube) {
  m_pRoot = auto_unuse<TOVASQLExpressionCommon>(new TOVASQLExpressionCommon(cube));
}

void TOVASQLExpressionBuilderCommon::buildStringNode(const TOVAString& text) {
  root("buildStringNode").add_string_node(text);
}

void TOVASQLExpressionBuilderCommon::buildExpressionNode(Type type) {
  root("buildExpressionNode").add_expression_node(type);
}

void TOVASQLExpressionBuilderCommon::buildNumericNode(const TOVAString& text) {
  root("buildNumericNode").add_numeric_node(text);
}

void TOVASQLExpressionBuilderCommon::linkFilterConstraint(const unsigned& operands) {
  root("linkFilterConstraint").build_constraint(operands);
}

void TOVASQLExpressionBuilderCommon::push(auto_unuse<TOVASQLExpressionCommon> node,
                                          const char* operation) {
  TOVASQLExpressionCommon& r = root(operation);
  r.adopt(*node);
  r.write_queue(std::move(node), false);
}

void TOVASQLExpressionBuilderCommon::buildParameterNode(auto_unuse<NUVA_o::Parameter> parameter,
                                                        auto_unuse<NUVA_o::Field> field) {
  push(auto_unuse<TOVASQLExpressionCommon>(
           new TOVASQLExpressionCommon(parameter.get(), field.get())),
       "buildParameterNode");
}

void TOVASQLExpressionBuilderCommon::buildParameterFieldNode(
    auto_unuse<NUVA_o::Parameter> parameter, auto_unuse<NUVA_o::Field> field, bool hasIndex,
    int index) {
  root("buildParameterFieldNode");
  auto_unuse<TOVASQLExpressionCommon> node(
      new TOVASQLExpressionCommon(parameter.get(), field.get()));
  node->set_node_type(TOVASQLExpression::TOVASQL_ET_FIELD);
  if (hasIndex) process_group_field(*node, index);
  push(std::move(node), "buildParameterFieldNode");
}

void TOVASQLExpressionBuilderCommon::buildFieldNode(auto_unuse<NUVA_o::Field> field,
                                                    bool hasIndex, int index) {
  root("buildFieldNode");
  auto_unuse<TOVASQLExpressionCommon> node(new TOVASQLExpressionCommon(field.get()));
  if (hasIndex) process_group_field(*node, index);
  push(std::move(node), "buildFieldNode");
}

void TOVASQLExpressionBuilderCommon::buildGroupingSetItemNode(int index) {
  auto found = m_GroupFields.find(index);
  if (found == m_GroupFields.end())
    support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                            support::COMMON_E_TOVASQL_UNKNOWN_COLUMN, index);
  push(auto_unuse<TOVASQLExpressionCommon>::share(found->second.get()),
       "buildGroupingSetItemNode");
}

void TOVASQLExpressionBuilderCommon::buildStringValueNode(const TOVAString& text) {
  auto_unuse<TOVASQLExpressionCommon> node(
      new TOVASQLExpressionCommon(root("buildStringValueNode").getCube()));
  node->set_node_type(TOVASQLExpression::TOVASQL_ET_STRINGVALUE);
  node->set_string_value(text);
  push(std::move(node), "buildStringValueNode");
}

void TOVASQLExpressionBuilderCommon::process_group_field(TOVASQLExpressionCommon& node,
                                                         int index) {
  if (m_GroupFields.count(index))
    support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                            support::COMMON_E_TOVASQL_DUPLICATE_COLUMN,
                                            node.getStringValue(), index);
  node.set_index_value(index);
  m_GroupFields.emplace(index, auto_unuse<TOVASQLExpressionCommon>::share(&node));
}

}  // namespace common
