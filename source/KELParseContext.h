#pragma once

#include <memory>
#include <vector>

#include "ExpressionBase.h"
#include "KELLexer.h"
#include "KELParser.h"
#include "support/Exceptions.h"

// The state of one parse: the node stack, the token texts and the first failure. The
// generated parser (a pure parser) keeps its look-ahead and values in its own frame and calls
// back here; nothing is shared between parses. Failures are recorded and the parse aborted,
// so that the parser frees its own stack; the caller then throws.
class KelParseContext {
 public:
  explicit KelParseContext(KELLexer& lexer);
  ~KelParseContext();

  int lex(KelValue* value);
  void syntax_error(const char* message);

  void leaf(int type);
  void leaf_text(int type, int text);
  void number(double value);
  void boolean(bool value);
  void pi();
  // A node of `type` whose children are the topmost `count` nodes, in source order. False
  // (failure recorded) when the node would make the tree deeper than Expression::MAX_DEPTH.
  bool build(int type, int count);
  // A member or tuple used as a number becomes a value node (86). False as build().
  bool member_value();
  // False (with the failure recorded) when the operand cannot take the sign.
  bool signed_operand(int type, const char* sign);
  // Number E number: one number. False (failure recorded) for other operands.
  bool scaled_number();
  void negate_number();
  void finish();

  // After the parse: the node the input reduced to (null unless accepted), or the failure.
  auto_unuse<common::ExpressionBase> takeResult() { return std::move(m_Result); }
  ExceptionCommon* failure() const { return m_pFailure.get(); }
  bool stackExhausted() const { return m_bExhausted; }
  // The failure of a parse that stopped without one recorded (stack exhaustion, or an abort).
  void record_failure(uint32_t code);

 private:
  void fail(std::unique_ptr<ExceptionCommon> failure);
  common::ExpressionBase* top(size_t depth = 0) const;
  // Parentheses that only keep an operator's operand grouped add no node (printing writes
  // them again), so that a printed tree reads back as it was. One pair per operand is dropped:
  // a group inside them was written by itself.
  void drop_grouping_parentheses(int type, size_t count);

  KELLexer& m_Lexer;
  std::vector<auto_unuse<common::ExpressionBase>> m_Stack;
  std::vector<int> m_Heights;  // the height of each tree on the node stack
  std::vector<TOVAString> m_Texts;
  std::unique_ptr<ExceptionCommon> m_pFailure;
  auto_unuse<common::ExpressionBase> m_Result;
  bool m_bEndSeen = false;
  bool m_bExhausted = false;
};


