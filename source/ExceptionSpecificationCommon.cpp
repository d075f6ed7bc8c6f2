#include "ExceptionSpecificationCommon.h"

#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

ExceptionSpecificationCommon::ExceptionSpecificationCommon()
    : OptionalCubeViewClauseCommon("ExceptionSpecificationCommon",
                                   support::nextInstanceNumber<ExceptionSpecificationCommon>(),
                                   nullptr) {}

ExceptionSpecificationCommon::ExceptionSpecificationCommon(const NUVA_o::Tuple* tuple,
                                                           const NUVA_o::Expression* expression)
    : OptionalCubeViewClauseCommon("ExceptionSpecificationCommon",
                                   support::nextInstanceNumber<ExceptionSpecificationCommon>(),
                                   tuple) {
  if (!expression) {
    support_dll::AssertionFailure("pExpression != NULL", __FILE__, __LINE__);
    return;
  }
  m_Expression.hold(const_cast<NUVA_o::Expression*>(expression));
}

ExceptionSpecificationCommon::ExceptionSpecificationCommon(
    const ExceptionSpecificationCommon& other)
    : NUVA_o::OptionalCubeViewClause(other),
      OptionalCubeViewClauseCommon("ExceptionSpecificationCommon",
                                   support::nextInstanceNumber<ExceptionSpecificationCommon>(),
                                   other),
      NUVA_o::ExceptionSpecification(other),
      m_nBanding(other.m_nBanding),
      m_Group(other.m_Group) {
  if (other.m_Expression.get()) {
    auto_unuse<NUVA_o::Expression> copy(other.m_Expression.get()->clone());
    m_Expression.hold(copy.get());
  }
}

ExceptionSpecificationCommon::~ExceptionSpecificationCommon() = default;

NUVA_o::ExceptionSpecification* ExceptionSpecificationCommon::clone() const {
  return new ExceptionSpecificationCommon(*this);
}

NUVA_o::Expression* ExceptionSpecificationCommon::getExpression() const {
  NUVA_o::Expression* expression = m_Expression.get();
  if (expression) expression->use();
  return expression;
}

void ExceptionSpecificationCommon::setGroup(const TOVAString& group) {
  if (group == m_Group) return;
  m_Group = group;
  notify();
}

void ExceptionSpecificationCommon::setBanding(int banding) {
  if (banding == -1) support_dll::AssertionFailure("banding != -1", __FILE__, __LINE__);
  if (banding == m_nBanding) return;
  m_nBanding = banding;
  notify();
}

void ExceptionSpecificationCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "ExceptionSpecification");
  XmlSupport::write_to(element, "Banding", m_nBanding);
  XmlSupport::write_to(element, "Group", m_Group);
  XmlSupport::write_to(element, "Expression", m_Expression.text());
  persist_base(xml, element);
}

void ExceptionSpecificationCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  const long banding = XmlSupport::getNumberAttribute(element, "Banding");
  if (banding < INT32_MIN || banding > INT32_MAX)
    raise_restore_exception("Banding", support::COMMON_M_XML_OUT_OF_RANGE,
                            "ExceptionSpecification");
  const TOVAString group = XmlSupport::getAttribute(element, "Group");
  const TOVAString text = XmlSupport::getAttribute(element, "Expression");
  if (text.empty())
    raise_restore_exception("Expression", support::COMMON_M_XML_MISSING, "ExceptionSpecification");
  ClauseExpressionHolder restored(*this);
  restored.restore(cube, text);
  restore_base(element, cube, "ExceptionSpecification");
  // Stored directly: a saved "no band" (-1) is not a caller's mistake.
  m_nBanding = int(banding);
  m_Group = group;
  m_Expression.hold(restored.get());
}

}  // namespace common
