#include "TOVAFormatLexer.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool continues_word(char16_t c) {
  return TOVAFormatLexer::isLetter(c) || TOVAFormatLexer::isDigit(c) || c == u'_';
}

}  // namespace


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
  // A keyword ends where a name could not go on: "Count_Orders" and "Sum1" are names.
  if (continues_word(following)) {
    m_Position -= n;
    return false;
  }
  return true;
}

namespace {

// Whether the text from `p` on begins with something that can be an operand, so that a "%"
// before it is the operator, not the percent suffix. A sign counts as an operator there, so
// that "20% - 1" keeps its meaning; word operators are no operands.
bool starts_operand(const TOVAString& input, size_t p) {
  const size_t n = input.length();
  while (p < n && TOVAFormatLexer::isBlank(input[p])) ++p;
  if (p >= n) return false;
  const char16_t c = input[p];
  switch (c) {
    case 0: case u'\n': case u',': case u')': case u'=': case u'>': case u':': case u';':
    case u'}': case u'+': case u'-': case u'*': case u'/': case u'\\': case u'^': case u'%':
      return false;
    case u'<':
      return p + 1 < n && input[p + 1] == u'<';  // a placeholder
    default:
      break;
  }
  if (!TOVAFormatLexer::isLetter(c)) return true;
  std::u16string word;
  for (; p < n && continues_word(input[p]); ++p)
    word += input[p] >= u'a' && input[p] <= u'z' ? static_cast<char16_t>(input[p] - u'a' + u'A') : input[p];
  for (const char16_t* infix : {u"AND", u"OR", u"XOR", u"EQV", u"IMP", u"IS", u"MOD", u"E"})
    if (word == infix) return false;
  return true;
}

// The power of ten of a scale suffix, or 0 for a character that is none.
int scale_of(char16_t c) {
  switch (c) {
    case u'k': return 3;
    case u'M': return 6;
    case u'B': return 9;
    case u'T': return 12;
    case u'%': return -2;
    case u'm': return -3;
    case u'u': return -6;
    case u'n': return -9;
    case u'p': return -12;
    default: return 0;
  }
}

}  // namespace

void TOVAFormatLexer::scanNumber() {
  std::u16string integerDigits;
  std::u16string fractionDigits;
  // Blanks between digits are skipped ("1 000"), but a suffix or an exponent must follow the
  // number directly: "7 MOD 3" is no 7 million.
  char16_t last = 0;
  char16_t c = nextChar();
  for (; isDigit(c) || isBlank(c); c = nextChar()) {
    if (isDigit(c)) integerDigits += c;
    last = c;
  }
  bool fraction = false;
  if (c == u'.') {
    fraction = true;
    last = c;
    for (c = nextChar(); isDigit(c) || isBlank(c); c = nextChar()) {
      if (isDigit(c)) fractionDigits += c;
      last = c;
    }
  }
  pushBack();
  const bool attached = !isBlank(last);

  m_TokenText = TOVAString(integerDigits);
  if (fraction && !fractionDigits.empty()) {
    m_TokenText.append(u'.');
    m_TokenText.append(TOVAString(fractionDigits));
  }

  // A signed or unsigned exponent: "1e-3", "2.5E+2".
  long exponent = 0;
  bool hasExponent = false;
  const size_t n = m_Input.length();
  if (attached && m_Position < n && (m_Input[m_Position] == u'e' || m_Input[m_Position] == u'E')) {
    size_t p = m_Position + 1;
    bool negative = false;
    if (p < n && (m_Input[p] == u'+' || m_Input[p] == u'-')) negative = m_Input[p++] == u'-';
    if (p < n && isDigit(m_Input[p])) {
      hasExponent = true;
      m_TokenText.append(m_Input[m_Position]);
      if (m_Input[m_Position + 1] == u'-' || m_Input[m_Position + 1] == u'+')
        m_TokenText.append(m_Input[m_Position + 1]);
      for (; p < n && isDigit(m_Input[p]); ++p) {
        m_TokenText.append(m_Input[p]);
        // Far beyond any double; the range check below refuses it.
        if (exponent < 1000000) exponent = exponent * 10 + (m_Input[p] - u'0');
      }
      if (negative) exponent = -exponent;
      m_Position = p;
    }
  }

  // A scale suffix directly after the digits; a letter only when no word goes on after it,
  // "%" only when no operand follows (else it is the operator).
  if (attached && !hasExponent && m_Position < n) {
    const char16_t s = m_Input[m_Position];
    const int scale = scale_of(s);
    bool suffix = scale != 0;
    if (suffix && s == u'%')
      suffix = !starts_operand(m_Input, m_Position + 1);
    else if (suffix)
      suffix = !(m_Position + 1 < n && continues_word(m_Input[m_Position + 1]));
    if (suffix) {
      exponent += scale;
      ++m_Position;
    }
  }

  // The digits are converted as one decimal number, correctly rounded, scale and exponent
  // included, so that printed text reads back as the same double.
  std::string decimal;
  decimal.reserve(integerDigits.size() + fractionDigits.size() + 16);
  bool nonzero = false;
  for (char16_t d : integerDigits) {
    decimal += static_cast<char>(d);
    nonzero = nonzero || d != u'0';
  }
  if (decimal.empty()) decimal += '0';
  if (!fractionDigits.empty()) {
    decimal += '.';
    for (char16_t d : fractionDigits) {
      decimal += static_cast<char>(d);
      nonzero = nonzero || d != u'0';
    }
  }
  if (exponent != 0) decimal += "e" + std::to_string(exponent);
  double value = 0.0;
  auto result = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  // Too large for a double, or so small that it would silently read as 0.
  m_bNumberOutOfRange = result.ec == std::errc::result_out_of_range || !std::isfinite(value) ||
                        (nonzero && value == 0.0);
  m_NumberValue = m_bNumberOutOfRange ? 0.0 : value;
}
