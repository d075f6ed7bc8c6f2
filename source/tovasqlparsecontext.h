#pragma once

#include <memory>
#include <vector>

#include "support/Exceptions.h"
#include "tovasqlexpressioncommon.h"
#include "tovasqllexer.h"

// The state of one statement parse: the token texts handed to the parser and the first
// failure. The generated parser is pure, so two threads may parse at once. Building steps
// that fail are recorded and the parse aborted, so that the parser frees its own stack; then
// parse() throws the failure.
class TovasqlParseContext {
 public:
  TovasqlParseContext(TOVASQLLexer& lexer, common::TOVASQLExpressionCommon& root);

  // Runs the parser over the whole text; throws the first failure.
  void parse();

  // Called by the parser.
  int lex(int* text);
  void syntax_error(const char* message);
  // Runs one building step on the root; false (failure recorded) when it throws.
  template <class Step>
  bool step(Step&& body) {
    if (m_pFailure) return false;
    try {
      body(m_Root);
      return true;
    } catch (const ExceptionCommon& e) {
      m_pFailure.reset(e.duplicate());
      return false;
    }
  }
  const TOVAString& text(int index) const { return m_Texts[static_cast<size_t>(index)]; }
  // A number, negated when `negative`; false (failure recorded) when the text is no number
  // a double can hold.
  bool number(int index, bool negative);

 private:
  void record_syntax_error();

  TOVASQLLexer& m_Lexer;
  common::TOVASQLExpressionCommon& m_Root;
  std::vector<TOVAString> m_Texts;
  std::unique_ptr<ExceptionCommon> m_pFailure;
  bool m_bEndSeen = false;
  bool m_bExhausted = false;
};
