#pragma once

#include <map>

#include "common/TOVASQLExpressionBuilder.h"
#include "support/RefCountImpl.h"
#include "tovasqlexpressioncommon.h"

namespace common {

// The builder behind XML query documents. One builder serves one document: the column table
// is not cleared by buildNewExpression.
class VTQ_EXPORT TOVASQLExpressionBuilderCommon : public support::RefCountImpl,
                                                  public TOVASQLExpressionBuilder {
 public:
  TOVASQLExpressionBuilderCommon();

  NUVA_o::tovasql_parser::TOVASQLExpression* takeRoot() override;
  void buildNewExpression(NUVA_o::Cube* cube) override;
  void buildStringNode(const TOVAString& text) override;
  void buildExpressionNode(Type type) override;
  void buildNumericNode(const TOVAString& text) override;
  void linkFilterConstraint(const unsigned& operands) override;
  void buildParameterNode(auto_unuse<NUVA_o::Parameter> parameter,
                          auto_unuse<NUVA_o::Field> field) override;
  void buildParameterFieldNode(auto_unuse<NUVA_o::Parameter> parameter,
                               auto_unuse<NUVA_o::Field> field, bool hasIndex,
                               int index) override;
  void buildFieldNode(auto_unuse<NUVA_o::Field> field, bool hasIndex, int index) override;
  void buildGroupingSetItemNode(int index) override;
  void buildStringValueNode(const TOVAString& text) override;

 protected:
  ~TOVASQLExpressionBuilderCommon() override = default;

 private:
  TOVASQLExpressionCommon& root(const char* operation) const;
  void process_group_field(TOVASQLExpressionCommon& node, int index);
  void push(auto_unuse<TOVASQLExpressionCommon> node, const char* operation);

  auto_unuse<TOVASQLExpressionCommon> m_pRoot;
  std::map<int, auto_unuse<TOVASQLExpressionCommon>> m_GroupFields;
};

}  // namespace common
