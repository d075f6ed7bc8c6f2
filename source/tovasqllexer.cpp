#include "tovasqllexer.h"

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// A line feed ends a name too, so that a statement may end with one ("... FROM h\n").
bool ends_identifier(char16_t c) {
  return TOVAFormatLexer::isOperator(c) || TOVAFormatLexer::isBlank(c) || c == u'\n';
}

bool is_literal_terminator(char16_t c) {
  return c == u',' || c == u';' || c == u'\'' || c == u'"';
}

}  // namespace

TOVASQLLexer::TOVASQLLexer(const TOVAString& text, NUVA_o::Cube* cube)
    : TOVAFormatLexer(text, cube) {}

TOVASQLLexer::~TOVASQLLexer() = default;

TOVASQLLexer::TOVASQLTokenType TOVASQLLexer::keyword_at(const TOVAString& text, size_t start,
                                                        size_t& end) {
  struct Keyword {
    char16_t first;
    const char16_t* rest;
    TOVASQLTokenType type;
  };
  static const Keyword keywords[] = {
      {u'B', u"ETWEEN", TT_BETWEEN}, {u'I', u"N", TT_IN},      {u'L', u"IKE", TT_LIKE},
      {u'A', u"ND", TT_AND},         {u'O', u"R", TT_OR},      {u'N', u"OT", TT_NOT},
      {u'S', u"ELECT", TT_SELECT},   {u'F', u"ROM", TT_FROM},  {u'W', u"HERE", TT_WHERE}};
  if (start >= text.length()) return TT_IDENTIFIER;
  const char16_t first = upper(text[start]);
  for (const Keyword& k : keywords) {
    if (k.first != first) continue;
    size_t p = start + 1;
    for (const char16_t* r = k.rest; *r; ++r, ++p)
      if (p >= text.length() || upper(text[p]) != *r) return TT_IDENTIFIER;
    // Only a letter makes it a longer word: "SELECT1" is SELECT and 1.
    if (p < text.length() && isLetter(text[p])) return TT_IDENTIFIER;
    end = p;
    return k.type;
  }
  return TT_IDENTIFIER;
}

bool TOVASQLLexer::startsKeyword(const TOVAString& text) {
  size_t end = 0;
  return keyword_at(text, 0, end) != TT_IDENTIFIER;
}

TOVASQLLexer::TOVASQLTokenType TOVASQLLexer::nextToken() {
  const size_t n = m_Input.length();
  if (m_bEnded) {
    // After the line feed that ended the statement only blanks may follow.
    while (m_Position < n && (isBlank(m_Input[m_Position]) || m_Input[m_Position] == u'\n'))
      ++m_Position;
    m_TokenStart = m_Position;
    if (m_Position >= n) return TT_END;
    m_Position = n;
    return TT_INVALID;
  }
  while (m_Position < n && isBlank(m_Input[m_Position])) ++m_Position;
  m_TokenStart = m_Position;
  if (m_Position >= n) return TT_END;
  const char16_t c = m_Input[m_Position];
  if (c == u'\n') {
    ++m_Position;
    m_bEnded = true;
    return TT_END;
  }
  if (isDigit(c) || c == u'.') return scan_number();
  switch (c) {
    case u'"': return scan_quoted(u'"', TT_DOUBLE_QUOTED);
    case u'\'': return scan_quoted(u'\'', TT_SINGLE_QUOTED);
    case u',': ++m_Position; return TT_COMMA;
    case u':': ++m_Position; return TT_COLON;
    case u';': ++m_Position; return TT_SEMICOLON;
    case u'(': ++m_Position; return TT_LEFT_PARENTHESIS;
    case u')': ++m_Position; return TT_RIGHT_PARENTHESIS;
    case u'-': ++m_Position; return TT_MINUS;
    case u'*': ++m_Position; return TT_STAR;
    case u'=': ++m_Position; return TT_EQUAL;
    case u'<':
      ++m_Position;
      if (m_Position < n && m_Input[m_Position] == u'>') { ++m_Position; return TT_NOT_EQUAL; }
      if (m_Position < n && m_Input[m_Position] == u'=') { ++m_Position; return TT_LESS_EQUAL; }
      return TT_LESS;
    case u'>':
      ++m_Position;
      if (m_Position < n && m_Input[m_Position] == u'=') { ++m_Position; return TT_GREATER_EQUAL; }
      return TT_GREATER;
    default:
      break;
  }
  if (isLetter(c)) {
    size_t end = 0;
    TOVASQLTokenType keyword = keyword_at(m_Input, m_Position, end);
    if (keyword != TT_IDENTIFIER) {
      m_Position = end;
      return keyword;
    }
  }
  return scan_identifier();
}

TOVASQLLexer::TOVASQLTokenType TOVASQLLexer::scan_quoted(char16_t quote, TOVASQLTokenType type) {
  const size_t n = m_Input.length();
  m_TokenText.clear();
  size_t p = m_Position + 1;
  for (;;) {
    if (p >= n) {
      m_Position = n;
      InvalidExpressionExceptionImpl e(common::moduleName(),
                                       support::COMMON_E_TOVASQL_UNTERMINATED_TEXT);
      e.addStringInsert(m_Input);
      e.setUnknownToken(m_TokenText);
      e.log();
      throw e;
    }
    const char16_t c = m_Input[p++];
    if (c == quote) {
      if (p < n && m_Input[p] == quote) {
        m_TokenText.append(quote);
        ++p;
        continue;
      }
      break;
    }
    m_TokenText.append(c);
  }
  m_Position = p;
  return type;
}

TOVASQLLexer::TOVASQLTokenType TOVASQLLexer::scan_number() {
  // Digits, a fraction and an exponent; unlike expressions, statements have no scale
  // suffixes, so the text is the whole number and converts to the value it shows.
  const size_t n = m_Input.length();
  size_t p = m_Position;
  size_t digits = 0;
  while (p < n && isDigit(m_Input[p])) ++p, ++digits;
  if (p < n && m_Input[p] == u'.') {
    ++p;
    while (p < n && isDigit(m_Input[p])) ++p, ++digits;
  }
  if (digits > 0 && p < n && (m_Input[p] == u'e' || m_Input[p] == u'E')) {
    size_t q = p + 1;
    if (q < n && (m_Input[q] == u'+' || m_Input[q] == u'-')) ++q;
    if (q < n && isDigit(m_Input[q])) {
      while (q < n && isDigit(m_Input[q])) ++q;
      p = q;
    }
  }
  m_TokenText = m_Input.substr(m_Position, p - m_Position);
  m_Position = p;
  return digits > 0 ? TT_NUMBER : TT_INVALID;
}

TOVASQLLexer::TOVASQLTokenType TOVASQLLexer::scan_identifier() {
  const size_t n = m_Input.length();
  m_TokenText.clear();
  size_t p = m_Position;
  m_TokenText.append(m_Input[p++]);
  while (p < n) {
    const char16_t c = m_Input[p];
    if (ends_identifier(c)) break;
    if (is_literal_terminator(c)) {
      // A doubled terminator stands for the character itself.
      if (p + 1 < n && m_Input[p + 1] == c) {
        m_TokenText.append(c);
        p += 2;
        continue;
      }
      break;
    }
    m_TokenText.append(c);
    ++p;
  }
  m_Position = p;
  return TT_IDENTIFIER;
}
