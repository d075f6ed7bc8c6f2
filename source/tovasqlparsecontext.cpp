#include "tovasqlparsecontext.h"

#include <string_view>

#include "TOVASQLParser.h"
#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/StringConverters.h"

namespace {

// Parser token numbers of the scanner's tokens, by scanner value.
const int kParserTokens[] = {
    TQ_YYEOF,  TQ_END,    TQ_NUMBER, TQ_IDENT,   TQ_DQUOTED, TQ_SQUOTED, TQ_COMMA,
    TQ_COLON,  TQ_SEMICOLON, TQ_LPAREN, TQ_RPAREN, TQ_MINUS, TQ_EQ,      TQ_NE,
    TQ_LT,     TQ_LE,     TQ_GE,     TQ_GT,      TQ_BETWEEN, TQ_IN,      TQ_LIKE,
    TQ_AND,    TQ_OR,     TQ_NOT,    TQ_SELECT,  TQ_FROM,    TQ_WHERE,   TQ_STAR,
    TQ_INVALID};

}  // namespace

TovasqlParseContext::TovasqlParseContext(TOVASQLLexer& lexer, common::TOVASQLExpressionCommon& root)
    : m_Lexer(lexer), m_Root(root) {}

void TovasqlParseContext::parse() {
  const int result = tovasqlparse(this);
  if (!m_pFailure && result != 0) {
    if (m_bExhausted)
      m_pFailure = std::make_unique<InvalidExpressionExceptionImpl>(common::moduleName(),
                                                                    support::COMMON_E_PARSER_STACK);
    else
      record_syntax_error();
    m_pFailure->log();
  }
  if (m_pFailure) m_pFailure->rethrow();
}

int TovasqlParseContext::lex(int* value) {
  *value = -1;
  if (m_bEndSeen) {
    // The token after END: the end of the text, or text after a line feed, which no rule
    // admits.
    TOVASQLLexer::TOVASQLTokenType token;
    try {
      token = m_Lexer.nextToken();
    } catch (const ExceptionCommon& e) {
      m_pFailure.reset(e.duplicate());
      return TQ_TOVASQLerror;
    }
    return token == TOVASQLLexer::TT_END ? TQ_YYEOF : TQ_INVALID;
  }
  try {
    const TOVASQLLexer::TOVASQLTokenType token = m_Lexer.nextToken();
    switch (token) {
      case TOVASQLLexer::TT_END:
        m_bEndSeen = true;
        break;
      case TOVASQLLexer::TT_NUMBER: case TOVASQLLexer::TT_IDENTIFIER:
      case TOVASQLLexer::TT_DOUBLE_QUOTED: case TOVASQLLexer::TT_SINGLE_QUOTED:
        *value = static_cast<int>(m_Texts.size());
        m_Texts.push_back(m_Lexer.takeTokenText());
        break;
      default:
        break;
    }
    return kParserTokens[token];
  } catch (const ExceptionCommon& e) {
    // Logged by the lexer; the parser unwinds and parse() throws it again.
    m_pFailure.reset(e.duplicate());
    return TQ_TOVASQLerror;
  }
}

void TovasqlParseContext::syntax_error(const char* message) {
  if (m_pFailure) return;
  if (std::string_view(message).find("exhausted") != std::string_view::npos) m_bExhausted = true;
}

void TovasqlParseContext::record_syntax_error() {
  TOVAString& input = m_Lexer.getInput();
  const size_t start = m_Lexer.tokenStart();
  const size_t end = m_Lexer.position();
  // The token where the parse stopped, then the statement (the order of the message text).
  m_pFailure = std::make_unique<InvalidExpressionExceptionImpl>(common::moduleName(),
                                                                support::COMMON_E_SYNTAX);
  m_pFailure->addStringInsert(start < end ? input.substr(start, end - start) : TOVAString());
  m_pFailure->addStringInsert(input);
}

bool TovasqlParseContext::number(int index, bool negative) {
  TOVAString digits = negative ? TOVAString("-") + text(index) : text(index);
  double value = 0.0;
  if (!StringConverters::convertStringToReal(digits, value)) {
    m_pFailure = std::make_unique<InvalidExpressionExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_NUMBER);
    m_pFailure->addStringInsert(digits);
    m_pFailure->addStringInsert(m_Lexer.getInput());
    m_pFailure->log();
    return false;
  }
  return step([&](common::TOVASQLExpressionCommon& root) { root.add_numeric_node(digits); });
}
