#pragma once

#include "TOVAFormatLexer.h"

// The token scanner of TOVASQL statements. Numbers, identifiers and quoted texts leave their
// text in getTokenText(). A line feed ends the statement; only blanks may follow it.
class VTQ_EXPORT TOVASQLLexer : public TOVAFormatLexer {
 public:
  enum TOVASQLTokenType : int {
    TT_END = 1,
    TT_NUMBER = 2,
    TT_IDENTIFIER = 3,
    TT_DOUBLE_QUOTED = 4,
    TT_SINGLE_QUOTED = 5,
    TT_COMMA = 6,
    TT_COLON = 7,
    TT_SEMICOLON = 8,
    TT_LEFT_PARENTHESIS = 9,
    TT_RIGHT_PARENTHESIS = 10,
    TT_MINUS = 11,
    TT_EQUAL = 12,
    TT_NOT_EQUAL = 13,
    TT_LESS = 14,
    TT_LESS_EQUAL = 15,
    TT_GREATER_EQUAL = 16,
    TT_GREATER = 17,
    TT_BETWEEN = 18,
    TT_IN = 19,
    TT_LIKE = 20,
    TT_AND = 21,
    TT_OR = 22,
    TT_NOT = 23,
    TT_SELECT = 24,
    TT_FROM = 25,
    TT_WHERE = 26,
    TT_STAR = 27,
    // Not a token of the language: a number without digits ("."), or non-blank text after
    // the line feed that ended the statement. No rule admits it.
    TT_INVALID = 28,
  };

  // `cube` is not owned and may be null.
  TOVASQLLexer(const TOVAString& text, NUVA_o::Cube* cube);
  TOVASQLLexer(const TOVASQLLexer&) = default;
  TOVASQLLexer& operator=(const TOVASQLLexer&) = default;
  ~TOVASQLLexer() override;

  // Throws InvalidExpressionException for quoted text without its closing quote.
  TOVASQLTokenType nextToken();

  // Where the last token started in the text.
  size_t tokenStart() const { return m_TokenStart; }
  // Moves the token text to the caller.
  TOVAString takeTokenText() { return std::move(m_TokenText); }
  // True when `text` begins with a keyword of the language as the scanner reads it.
  static bool startsKeyword(const TOVAString& text);

 private:
  TOVASQLTokenType scan_quoted(char16_t quote, TOVASQLTokenType type);
  TOVASQLTokenType scan_number();
  TOVASQLTokenType scan_identifier();
  // The keyword at the token start, or TT_IDENTIFIER.
  static TOVASQLTokenType keyword_at(const TOVAString& text, size_t start, size_t& end);

  size_t m_TokenStart = 0;
  bool m_bEnded = false;
};
