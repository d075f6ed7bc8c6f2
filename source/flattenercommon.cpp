#include "flattenercommon.h"

#include "common/CommonFlattener.h"
#include "common/ComponentLog.h"
#include "common/FlatQueryPlan.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressionbuildercommon.h"
#include "tovasqlexpressioncommon.h"
#include "tovaxmlqueryprocessorcommon.h"

namespace common {

FlattenerCommon::FlattenerCommon(NUVA_o::Cube* cube)
    : RefCountImpl("FLATTENER", support::nextInstanceNumber<FlattenerCommon>()),
      m_pCube(auto_unuse<NUVA_o::Cube>::share(cube)) {
  if (!cube) support_dll::AssertionFailure("NULL != pCube", "flattenercommon", 68);
}

NUVA_o::FlattenerQuery* FlattenerCommon::createQuery() { return new FlattenerQueryCommon(this); }

bool FlattenerCommon::is_xml_document(const TOVAString& text) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'\uFEFF') ++i;
  while (i < text.size() &&
         (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
    ++i;
  return i < text.size() && text[i] == u'<';
}

NUVA_o::RowsetDataModel* FlattenerCommon::execute_query(const TOVAString& text) {
  if (!m_pCube) {
    support_dll::AssertionFailure("m_pCube != NULL", "flattenercommon", 93);
    return nullptr;
  }
  auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression> root;
  // Only a leading '<' makes a document: a statement may contain any word, a document any
  // text in its values.
  if (is_xml_document(text)) {
    auto_unuse<TOVAXMLQueryProcessorCommon> processor(new TOVAXMLQueryProcessorCommon(
        auto_unuse<TOVASQLExpressionBuilder>(new TOVASQLExpressionBuilderCommon), m_pCube.get()));
    // The plan's checks run before the document's key date is committed, so that a tree the
    // plan refuses leaves the parameters as they were.
    root.reset(processor->parse_xml(
        text, [](const NUVA_o::tovasql_parser::TOVASQLExpression& tree) { FlatQueryPlan{tree}; }));
  } else {
    auto_unuse<TOVASQLExpressionCommon> statement(new TOVASQLExpressionCommon(m_pCube.get()));
    statement->setTextAndCreateTree(text);
    // A statement that names no field, or compares a field with a value of another type, is
    // refused here so that no provider has to.
    FlatQueryPlan{*statement};
    root = std::move(statement);
  }
  return m_pCube->executeQuery(root.get());
}

FlattenerQueryCommon::FlattenerQueryCommon(FlattenerCommon* flattener)
    : RefCountImpl("FLATTENERQUERY", support::nextInstanceNumber<FlattenerQueryCommon>()),
      m_pFlattener(auto_unuse<FlattenerCommon>::share(flattener)) {
  if (!flattener) support_dll::AssertionFailure("NULL != pFlattener", "flattenerquerycommon", 39);
}

NUVA_o::RowsetDataModel* FlattenerQueryCommon::execute() {
  return m_pFlattener ? m_pFlattener->execute_query(m_QueryText) : nullptr;
}

}  // namespace common

NUVA_o::Flattener* createCommonFlattener(NUVA_o::Cube* cube) {
  if (!cube) {
    support_dll::AssertionFailure("NULL != pCube", "flattenercommon", 47);
    return nullptr;
  }
  cube->prepareForFlattening();
  return new common::FlattenerCommon(cube);
}
