#pragma once

#include <cstdint>

#include "support/TOVAString.h"

namespace NUVA_o {
class Cube;
}

// A character reader over one copy of a text: reads and push-backs (reads past the end count
// as 0 characters and are undone first), keyword suffixes, decimal numbers with scale suffixes.
class VTQ_EXPORT TOVAFormatLexer {
 public:
  // `cube` classifies names and is not owned; it may be null.
  TOVAFormatLexer(const TOVAString& input, NUVA_o::Cube* cube);

  // The text of the last name or number token (null-terminated, owned by the lexer).
  virtual const char16_t* getTokenText() const;
  // The value of the last number token; resets it to 0.0.
  virtual double takeNumberValue();
  // The next blank-delimited word after the position, or the whole input when there is none.
  virtual void getNextWord(TOVAString& out);
  virtual void setResolveNames(bool resolve);
  virtual TOVAString& getInput();
  virtual ~TOVAFormatLexer();

  virtual char16_t nextChar();
  virtual char16_t pushBack();
  // Entered with the position on the first digit or '.'. A scale suffix or an exponent counts
  // only directly after the digits; a value outside the range of a double sets
  // numberOutOfRange() and reads as 0.
  virtual void scanNumber();
  // Case-insensitive match of the upper-case `suffix` at the position, not followed by a
  // letter, a digit or "_".
  virtual bool matchKeyword(const TOVAString& suffix);

  static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
  static bool isLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  }
  static bool isBlank(char16_t c) { return c == u' ' || c == u'\r' || c == u'\t'; }
  static bool isOperator(char16_t c) {
    return c == u'+' || c == u'-' || c == u'^' || c == u'\\' || c == u'/' || c == u'*' ||
           c == u'%';
  }

  size_t position() const { return m_Position; }
  bool numberOutOfRange() const { return m_bNumberOutOfRange; }

 protected:
  NUVA_o::Cube* m_pCube;
  bool m_bResolveNames;
  TOVAString m_Input;
  size_t m_Position;
  TOVAString m_TokenText;
  double m_NumberValue;
  bool m_bAtEnd;
  uint32_t m_ReadsPastEnd;
  bool m_bNumberOutOfRange = false;
};
