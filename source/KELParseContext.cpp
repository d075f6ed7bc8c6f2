#include "KELParseContext.h"

#include <algorithm>
#include <cmath>

#include "KELParser.h"
#include "common/ComponentLog.h"

using common::ExpressionBase;

namespace {
// A failure of the parse, recorded now and thrown by the caller once the parser has unwound.
template <class... Inserts>
std::unique_ptr<ExceptionCommon> expression_failure(uint32_t code, const Inserts&... inserts) {
  return std::make_unique<InvalidExpressionExceptionImpl>(
      support::make<InvalidExpressionExceptionImpl>(common::moduleName(), code, inserts...));
}
}  // namespace

KelParseContext::KelParseContext(KELLexer& lexer) : m_Lexer(lexer) {
  m_Stack.reserve(32);
  m_Heights.reserve(32);
  m_Texts.reserve(16);
}

KelParseContext::~KelParseContext() {
  // Nodes left by an aborted parse go with the context.
  while (!m_Stack.empty()) m_Stack.pop_back();
}

int KelParseContext::lex(KelValue* value) {
  if (m_bEndSeen) return KT_YYEOF;
  if (m_pFailure) return KT_KELerror;
  try {
    int token = m_Lexer.nextToken();
    value->number = 0.0;
    switch (token) {
      case KT_END:
        m_bEndSeen = true;
        break;
      case KT_NUMBER:
        value->number = m_Lexer.takeNumberValue();
        break;
      case KT_IDENT: case KT_NAME1: case KT_LEVEL_NAME: case KT_MEMBER_NAME:
      case KT_MEASURE_NAME: case KT_DIMENSION_NAME3: case KT_DIMENSION_NAME: case KT_PLACEHOLDER:
        value->text = static_cast<int>(m_Texts.size());
        m_Texts.push_back(m_Lexer.takeTokenText());
        break;
      default:
        break;
    }
    return token;
  } catch (const ExceptionCommon& e) {
    // The lexer has logged it; the parser unwinds through its error path and the caller
    // throws it again.
    m_pFailure.reset(e.duplicate());
    return KT_KELerror;
  }
}

void KelParseContext::syntax_error(const char* message) {
  if (m_pFailure) return;
  if (std::string_view(message).find("exhausted") != std::string_view::npos) {
    m_bExhausted = true;
    return;
  }
  record_failure(support::COMMON_E_SYNTAX);
}

void KelParseContext::record_failure(uint32_t code) {
  if (code != support::COMMON_E_SYNTAX) return fail(expression_failure(code));
  TOVAString& input = m_Lexer.getInput();
  size_t start = m_Lexer.tokenStart();
  size_t end = m_Lexer.position();
  TOVAString token = start < end ? input.substr(start, end - start) : TOVAString();
  fail(expression_failure(code, token, input));
}

void KelParseContext::fail(std::unique_ptr<ExceptionCommon> failure) {
  if (m_pFailure) return;
  failure->log();
  m_pFailure = std::move(failure);
}

ExpressionBase* KelParseContext::top(size_t depth) const {
  if (m_Stack.size() <= depth) return nullptr;
  return m_Stack[m_Stack.size() - 1 - depth].get();
}

void KelParseContext::leaf(int type) {
  auto_unuse<ExpressionBase> node(ExpressionBase::createNode(0));
  node->setType(static_cast<NUVA_o::Expression::ExpressionType>(type));
  m_Stack.push_back(std::move(node));
  m_Heights.push_back(1);
}

void KelParseContext::leaf_text(int type, int text) {
  leaf(type);
  // A name leaf holds its name as text and string value, as loading it from XML gives it.
  if (text >= 0 && static_cast<size_t>(text) < m_Texts.size()) {
    TOVAString& name = m_Texts[static_cast<size_t>(text)];
    m_Stack.back()->setStringValue(name);
    m_Stack.back()->take_text(std::move(name));
  }
}

void KelParseContext::number(double value) {
  leaf(NUVA_o::Expression::ET_NUMBER);
  VARIANT& v = m_Stack.back()->getValue();
  v.vt = VT_R8;
  v.dblVal = value;
}

void KelParseContext::boolean(bool value) {
  leaf(NUVA_o::Expression::ET_BOOLEAN);
  VARIANT& v = m_Stack.back()->getValue();
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void KelParseContext::pi() {
  // The value that the printed text of pi reads back as, so that it survives a round trip.
  static const double value = [] {
    TOVAFormatLexer digits("3.141592654", nullptr);
    digits.scanNumber();
    return digits.takeNumberValue();
  }();
  number(value);
}

bool KelParseContext::build(int type, int count) {
  size_t n = static_cast<size_t>(count < 0 ? 0 : count);
  auto_unuse<ExpressionBase> node(ExpressionBase::createNode(n));
  node->setType(static_cast<NUVA_o::Expression::ExpressionType>(type));
  // The grammar never asks for more operands than it pushed; the guard keeps a broken rule
  // from reading below the stack.
  if (n > m_Stack.size()) {
    support_dll::AssertionFailure("count <= node stack size", "KELParseContext.cpp", __LINE__);
    n = m_Stack.size();
  }
  drop_grouping_parentheses(type, n);
  // A left-associative chain ("1+1+...+1") grows the tree without growing the parser's
  // stack, so the tree's own depth is checked here.
  int height = 1;
  for (size_t i = m_Heights.size() - n; i < m_Heights.size(); ++i)
    height = std::max(height, m_Heights[i] + 1);
  if (height > NUVA_o::Expression::MAX_DEPTH) {
    record_failure(support::COMMON_E_PARSER_STACK);
    return false;
  }
  for (size_t i = m_Stack.size() - n; i < m_Stack.size(); ++i)
    node->adopt_child(m_Stack[i].release());
  m_Stack.resize(m_Stack.size() - n);
  m_Heights.resize(m_Heights.size() - n);
  m_Stack.push_back(std::move(node));
  m_Heights.push_back(height);
  return true;
}

void KelParseContext::drop_grouping_parentheses(int type, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const size_t at = m_Stack.size() - count + i;
    ExpressionBase* operand = m_Stack[at].get();
    if (operand->getType() != NUVA_o::Expression::ET_PARENTHESES &&
        operand->getType() != NUVA_o::Expression::ET_PROPERTY_PARENTHESES)
      continue;
    if (operand->getExpressions().size() != 1 ||
        !ExpressionBase::operand_needs_parentheses(type, i, operand))
      continue;
    auto inner = auto_unuse<ExpressionBase>::share(
        static_cast<ExpressionBase*>(operand->getExpressions().front()));
    inner->SetParentExpression(nullptr);
    m_Stack[at] = std::move(inner);
    --m_Heights[at];
  }
}

bool KelParseContext::member_value() {
  ExpressionBase* operand = top();
  if (operand && operand->getType() == NUVA_o::Expression::ET_MEMBER_GROUP) {
    operand->setType(NUVA_o::Expression::ET_VALUE);
    return true;
  }
  return build(NUVA_o::Expression::ET_VALUE, 1);
}

bool KelParseContext::signed_operand(int type, const char* sign) {
  ExpressionBase* operand = top();
  // A sign needs an operand, and a number literal too large for a double has no signed value.
  bool bad = operand == nullptr ||
             (operand->getType() == NUVA_o::Expression::ET_NUMBER &&
              operand->getValue().vt == VT_R8 && !std::isfinite(operand->getValue().dblVal));
  if (bad) {
    fail(expression_failure(support::COMMON_E_INVALID_NUMBER, sign, m_Lexer.getInput()));
    return false;
  }
  return build(type, 1);
}

bool KelParseContext::scaled_number() {
  ExpressionBase* exponent = top(0);
  ExpressionBase* mantissa = top(1);
  if (!exponent || !mantissa || exponent->getType() != NUVA_o::Expression::ET_NUMBER ||
      mantissa->getType() != NUVA_o::Expression::ET_NUMBER) {
    fail(expression_failure(support::COMMON_E_OPERANDS_NOT_NUMBERS));
    for (int i = 0; i < 2 && !m_Stack.empty(); ++i) {
      m_Stack.pop_back();
      m_Heights.pop_back();
    }
    return false;
  }
  double value = mantissa->getValue().dblVal * std::pow(10.0, exponent->getValue().dblVal);
  m_Stack.pop_back();
  m_Stack.pop_back();
  m_Heights.resize(m_Heights.size() - 2);
  if (!std::isfinite(value)) {
    fail(expression_failure(support::COMMON_E_INVALID_NUMBER, "E", m_Lexer.getInput()));
    return false;
  }
  number(value);
  return true;
}

void KelParseContext::negate_number() {
  ExpressionBase* operand = top();
  if (operand && operand->getValue().vt == VT_R8)
    operand->getValue().dblVal = -operand->getValue().dblVal;
}

void KelParseContext::finish() {
  if (!m_Stack.empty()) {
    m_Result = std::move(m_Stack.back());
    m_Stack.pop_back();
    m_Heights.pop_back();
  }
}
