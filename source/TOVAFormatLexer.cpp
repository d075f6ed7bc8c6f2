#include "TOVAFormatLexer.h"

#include <charconv>
#include <cmath>
#include <vector>


TOVAFormatLexer::TOVAFormatLexer(const TOVAString& input, NUVA_o::Cube* cube)
    : m_pCube(cube),
      m_bResolveNames(true),
      m_Input(input),
      m_Position(0),
      m_NumberValue(0.0),
      m_bAtEnd(false),
      m_ReadsPastEnd(0) {}

TOVAFormatLexer::~TOVAFormatLexer() = default;

const char16_t* TOVAFormatLexer::getTokenText() const { return m_TokenText.c_str(); }

double TOVAFormatLexer::takeNumberValue() {
  double value = m_NumberValue;
  m_NumberValue = 0.0;
  return value;
}

void TOVAFormatLexer::getNextWord(TOVAString& out) {
  size_t p = m_Position;
  const size_t n = m_Input.length();
  while (p < n && isBlank(m_Input[p])) ++p;
  size_t start = p;
  while (p < n && !isBlank(m_Input[p])) ++p;
  out = p > start ? m_Input.substr(start, p - start) : m_Input;
}

void TOVAFormatLexer::setResolveNames(bool resolve) { m_bResolveNames = resolve; }

TOVAString& TOVAFormatLexer::getInput() { return m_Input; }

char16_t TOVAFormatLexer::nextChar() {
  if (m_Position >= m_Input.length()) {
    ++m_ReadsPastEnd;
    m_bAtEnd = true;
    return 0;
  }
  return m_Input[m_Position++];
}

char16_t TOVAFormatLexer::pushBack() {
  if (m_ReadsPastEnd > 0) {
    --m_ReadsPastEnd;
    return 0;
  }
  m_bAtEnd = false;
  if (m_Position == 0) return 0;
  return m_Input[--m_Position];
}

bool TOVAFormatLexer::matchKeyword(const TOVAString& suffix) {
  const size_t n = suffix.length();
  if (m_Position + n > m_Input.length()) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = m_Input[m_Position + i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != suffix[i]) return false;
  }
  m_Position += n;
  char16_t following = nextChar();
  pushBack();
  if (isLetter(following)) {
    m_Position -= n;
    return false;
  }
  return true;
}

void TOVAFormatLexer::scanNumber() {
  std::u16string integerDigits;
  std::u16string fractionDigits;
  char16_t c = nextChar();
  for (; isDigit(c) || isBlank(c); c = nextChar())
    if (isDigit(c)) integerDigits += c;
  bool fraction = false;
  if (c == u'.') {
    fraction = true;
    for (c = nextChar(); isDigit(c) || isBlank(c); c = nextChar())
      if (isDigit(c)) fractionDigits += c;
  }
  pushBack();

  m_TokenText = TOVAString(integerDigits);
  if (fraction && !fractionDigits.empty()) {
    m_TokenText.append(u'.');
    m_TokenText.append(TOVAString(fractionDigits));
  }

  // The digits are converted as one decimal number, correctly rounded, so that the value
  // of printed text (10 significant digits) reads back as the same double. Summing digit
  // values one by one does not: 0.1 + 0.05 is not the double nearest 0.15.
  double value = 0.0;
  std::vector<char> decimal;
  decimal.reserve(integerDigits.size() + fractionDigits.size() + 2);
  bool nonzeroInteger = false;
  for (char16_t d : integerDigits) {
    decimal.push_back(static_cast<char>(d));
    nonzeroInteger = nonzeroInteger || d != u'0';
  }
  if (decimal.empty()) decimal.push_back('0');
  if (!fractionDigits.empty()) {
    decimal.push_back('.');
    for (char16_t d : fractionDigits) decimal.push_back(static_cast<char>(d));
  }
  auto result = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  if (result.ec == std::errc::result_out_of_range) value = nonzeroInteger ? HUGE_VAL : 0.0;

  switch (nextChar()) {
    case u'k': value *= 1e3; break;
    case u'M': value *= 1e6; break;
    case u'B': value *= 1e9; break;
    case u'T': value *= 1e12; break;
    case u'%': value /= 100.0; break;
    case u'm': value /= 1e3; break;
    case u'u': value /= 1e6; break;
    case u'n': value /= 1e9; break;
    case u'p': value /= 1e12; break;
    default: pushBack(); break;
  }
  m_NumberValue = value;
}
