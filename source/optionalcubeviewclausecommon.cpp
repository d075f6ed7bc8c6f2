#include "optionalcubeviewclausecommon.h"

#include <climits>

#include "ExpressionBase.h"
#include "TupleCommon.h"
#include "common/ComponentLog.h"
#include "common/ViewpointCommandExecutioner.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "viewpointcommands.h"

namespace common {

namespace {
const char* const kVersion = "11.5.8";
}  // namespace

void OptionalCubeViewClauseCommon::raise_restore_exception(const char* attribute, uint32_t handle,
                                                           const char* element) {
  InvalidXMLExceptionImpl e(moduleName(), support::COMMON_E_XML_ELEMENT);
  e.addStringInsert(attribute);
  e.addHandleInsert(handle);
  e.addStringInsert(element);
  e.log();
  throw e;
}

// ---------------------------------------------------------------------------------------------
// The shared part

OptionalCubeViewClauseCommon::OptionalCubeViewClauseCommon(const TOVAString& traceName,
                                                           uint32_t instanceNumber,
                                                           const NUVA_o::Tuple* tuple)
    : support::RefCountImpl(traceName, instanceNumber),
      m_Guid(SystemSupport::GenerateGUID()),
      m_pTuple(auto_unuse<NUVA_o::Tuple>::share(const_cast<NUVA_o::Tuple*>(tuple))) {
  m_GuidText = StringConverters::convertGUIDToString(m_Guid, false);
}

OptionalCubeViewClauseCommon::OptionalCubeViewClauseCommon(
    const TOVAString& traceName, uint32_t instanceNumber, const OptionalCubeViewClauseCommon& other)
    : support::RefCountImpl(traceName, instanceNumber),
      m_GuidText(other.m_GuidText),
      m_Guid(other.m_Guid),
      m_pTuple(other.m_pTuple ? other.m_pTuple->clone() : nullptr),
      m_nSolveOrder(other.m_nSolveOrder),
      m_bActive(other.m_bActive),
      m_bDisabled(other.m_bDisabled) {}

OptionalCubeViewClauseCommon::~OptionalCubeViewClauseCommon() = default;

void OptionalCubeViewClauseCommon::addListener(OptionalCubeViewClauseListener* listener) const {
  m_Listeners.add(listener);
}

void OptionalCubeViewClauseCommon::removeListener(OptionalCubeViewClauseListener* listener) const {
  if (listener) m_Listeners.remove(listener);
}

void OptionalCubeViewClauseCommon::notify() const {
  m_Listeners.notify([this](OptionalCubeViewClauseListener* listener) {
    listener->optionalCubeViewClauseChanged(this);
  });
}

void OptionalCubeViewClauseCommon::setDisabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  if (!m_pExecutioner) return internal_set_disabled(disabled);
  auto_unuse<ChangeClauseDisabledCommand> command(new ChangeClauseDisabledCommand(this, disabled));
  m_pExecutioner->execute(command.get());
}

void OptionalCubeViewClauseCommon::internal_set_disabled(bool disabled) {
  if (disabled == m_bDisabled) return;
  m_bDisabled = disabled;
  notify();
}

void OptionalCubeViewClauseCommon::persist_base(XmlSupport& xml, DOMElement* element) const {
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", m_GuidText);
  XmlSupport::write_to(element, "Order", m_nSolveOrder);
  // Written only when set, so that documents without disabled clauses read as before.
  if (m_bDisabled) XmlSupport::write_to(element, "Disabled", true);
  if (m_pTuple) m_pTuple->persist(xml, element);
}

void OptionalCubeViewClauseCommon::restore_base(DOMElement* element, NUVA_o::Cube* cube,
                                                const char* elementName) {
  const TOVAString guidText = XmlSupport::getAttribute(element, "Guid");
  if (guidText.empty()) raise_restore_exception("Guid", support::COMMON_M_XML_MISSING, elementName);
  GUID guid{};
  if (!StringConverters::convertStringToGUID(guidText, guid))
    raise_restore_exception("Guid", support::COMMON_M_XML_NOT_A_GUID, elementName);
  // Solve orders are handed out from 1 upwards; the view counts on the next one fitting.
  const long order = XmlSupport::getNumberAttribute(element, "Order");
  if (order < 0 || order >= INT_MAX)
    raise_restore_exception("Order", support::COMMON_M_XML_OUT_OF_RANGE, elementName);

  auto_unuse<NUVA_o::Tuple> tuple;
  const std::vector<DOMElement*> tuples =
      XmlSupport::getDescendantElementsByTagName(element, "Tuple");
  if (!tuples.empty()) {
    if (tuples.size() != 1)
      support_dll::AssertionFailure("pTupleList->getLength( ) == 1", __FILE__, __LINE__);
    tuple.reset(new TupleCommon());
    tuple->restore(tuples[0], cube);
  }
  // The GUID is kept as the document spells it canonically.
  m_Guid = guid;
  m_GuidText = StringConverters::convertGUIDToString(guid, false);
  m_nSolveOrder = int(order);
  m_bDisabled = XmlSupport::getBooleanAttribute(element, "Disabled");
  m_pTuple = std::move(tuple);
}

// ---------------------------------------------------------------------------------------------
// Sorts

SortCommon::SortCommon() : SortCommon(nullptr) {}

SortCommon::SortCommon(const NUVA_o::Tuple* tuple)
    : OptionalCubeViewClauseCommon("SortCommon", support::nextInstanceNumber<SortCommon>(), tuple) {
}

SortCommon::SortCommon(const SortCommon& other)
    : NUVA_o::OptionalCubeViewClause(other),
      OptionalCubeViewClauseCommon("SortCommon", support::nextInstanceNumber<SortCommon>(), other),
      NUVA_o::Sort(other),
      m_Direction(other.m_Direction) {}

SortCommon::~SortCommon() = default;

NUVA_o::Sort* SortCommon::clone() const { return new SortCommon(*this); }

void SortCommon::setDirection(const Direction& direction) {
  if (direction == m_Direction) return;
  m_Direction = direction;
  notify();
}

void SortCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "Sort");
  XmlSupport::write_to(element, "Direction", int(m_Direction));
  persist_base(xml, element);
}

void SortCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  const long direction = XmlSupport::getNumberAttribute(element, "Direction");
  if (direction < INT32_MIN || direction > INT32_MAX)
    raise_restore_exception("Direction", support::COMMON_M_XML_OUT_OF_RANGE, "Sort");
  restore_base(element, cube, "Sort");
  m_Direction = Direction(direction);
}

// ---------------------------------------------------------------------------------------------
// The expression of filters and exception specifications

ClauseExpressionHolder::~ClauseExpressionHolder() {
  if (m_pExpression) m_pExpression->removeListener(this);
}

void ClauseExpressionHolder::hold(NUVA_o::Expression* expression) {
  if (m_pExpression) m_pExpression->removeListener(this);
  m_pExpression = auto_unuse<NUVA_o::Expression>::share(expression);
  if (m_pExpression) m_pExpression->addListener(this);
}

void ClauseExpressionHolder::restore(NUVA_o::Cube* cube, const TOVAString& text) {
  auto_unuse<NUVA_o::Expression> expression(new ExpressionBase(cube));
  // A condition that no longer parses against the cube is refused rather than kept as an
  // empty tree that would be saved over the user's text.
  if (!expression->setTextAndCreateTree(text))
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_BAD_EXPRESSION);
  hold(expression.get());
}

TOVAString ClauseExpressionHolder::text() const {
  return m_pExpression ? m_pExpression->getTextFromTree() : TOVAString();
}

void ClauseExpressionHolder::expressionModified(NUVA_o::Expression*) { m_Clause.notify(); }

// ---------------------------------------------------------------------------------------------
// Filters

FilterCommon::FilterCommon()
    : OptionalCubeViewClauseCommon("FilterCommon", support::nextInstanceNumber<FilterCommon>(),
                                   nullptr) {}

FilterCommon::FilterCommon(const NUVA_o::Tuple* tuple, const NUVA_o::Expression* expression)
    : OptionalCubeViewClauseCommon("FilterCommon", support::nextInstanceNumber<FilterCommon>(),
                                   tuple) {
  m_Expression.hold(const_cast<NUVA_o::Expression*>(expression));
}

FilterCommon::FilterCommon(const FilterCommon& other)
    : NUVA_o::OptionalCubeViewClause(other),
      OptionalCubeViewClauseCommon("FilterCommon", support::nextInstanceNumber<FilterCommon>(),
                                   other),
      NUVA_o::Filter(other),
      m_nFilterMode(other.m_nFilterMode) {
  if (other.m_Expression.get()) {
    auto_unuse<NUVA_o::Expression> copy(other.m_Expression.get()->clone());
    m_Expression.hold(copy.get());
  }
}

FilterCommon::~FilterCommon() = default;

NUVA_o::Filter* FilterCommon::clone() const { return new FilterCommon(*this); }

void FilterCommon::setFilterMode(const int& mode) {
  if (mode == m_nFilterMode) return;
  m_nFilterMode = mode;
  notify();
}

NUVA_o::Expression* FilterCommon::getExpression() const {
  NUVA_o::Expression* expression = m_Expression.get();
  if (expression) expression->use();
  return expression;
}

void FilterCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  if (!parent) {
    support_dll::AssertionFailure("pParent != NULL", __FILE__, __LINE__);
    return;
  }
  DOMElement* element = xml.addAChild(parent, "Filter");
  XmlSupport::write_to(element, "Expression", m_Expression.text());
  persist_base(xml, element);
}

void FilterCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  const TOVAString text = XmlSupport::getAttribute(element, "Expression");
  if (text.empty()) raise_restore_exception("Expression", support::COMMON_M_XML_MISSING, "Filter");
  ClauseExpressionHolder restored(*this);
  restored.restore(cube, text);
  restore_base(element, cube, "Filter");
  m_Expression.hold(restored.get());
}

}  // namespace common
