#include "KELLexer.h"

#include <array>
#include <vector>

#include "KELParser.h"
#include "common/ComponentLog.h"
#include "support/Exceptions.h"

#if __has_include("NUVA_o/Cube.h")
#include "NUVA_o/Cube.h"
#define KEL_HAVE_CUBE 1
#endif

namespace {

struct Keyword {
  TOVAString suffix;  // the word without its first letter, in capitals
  int token;
};

// The keywords by first letter, in the order in which they are tried: a keyword that another
// one extends with "_" (SELF_AND_AFTER and SELF, Y_T_D and YTD) comes first.
#define K(word, token) {u"" #word, KT_##token}
const std::vector<std::pair<char16_t, std::vector<std::pair<const char16_t*, int>>>>& keyword_list() {
  static const std::vector<std::pair<char16_t, std::vector<std::pair<const char16_t*, int>>>> list = {
      {u'A', {K(ADDCALCULATEDMEMBERS, ADDCALCULATEDMEMBERS), K(AGGREGATE, AGGREGATE),
              K(ALLMEMBERS, ALLMEMBERS), K(ASCENDANTS, ASCENDANTS), K(ANCESTORS, ANCESTORS),
              K(ANCESTOR, ANCESTOR), K(ARRAY, ARRAY), K(AFTER, AFTER), K(AXIS, AXIS),
              K(ACOS, ACOS), K(ASIN, ASIN), K(ASC, ASC), K(ABS, ABS), K(ATN, ATN), K(AND, AND),
              K(AVG, AVG), K(ALL, ALL)}},
      {u'B', {K(BEFORE_AND_AFTER, BEFORE_AND_AFTER), K(BOTTOMPERCENT, BOTTOMPERCENT),
              K(BOTTOMCOUNT, BOTTOMCOUNT), K(BOTTOMSUM, BOTTOMSUM), K(BETWEEN, BETWEEN),
              K(BEFORE, BEFORE), K(BDESC, BDESC), K(BASC, BASC)}},
      {u'C', {K(CURRENTDIMENSIONFILTEREDSET, CURRENTDIMENSIONFILTEREDSET),
              K(CURRENTAXISFILTEREDSET, CURRENTAXISFILTEREDSET),
              K(CURRENTDIMENSIONSET, CURRENTDIMENSIONSET), K(CURRENTAXISSET, CURRENTAXISSET),
              K(CURRENTMEMBER, CURRENTMEMBER), K(COALESCEEMPTY, COALESCEEMPTY),
              K(CLOSINGPERIOD, CLOSINGPERIOD), K(CORRELATION, CORRELATION),
              K(COVARIANCEN, COVARIANCEN), K(COVARIANCE, COVARIANCE), K(CURRENTSET, CURRENTSET),
              K(CROSSJOIN, CROSSJOIN), K(CHILDREN, CHILDREN), K(CURRENT, CURRENT),
              K(COUSIN, COUSIN), K(COUNT, COUNT), K(CRPI, CRPI), K(CAPTION, CAPTION),
              K(COS, COS)}},
      {u'D', {K(DATE, DATE), K(DRILLDOWNMEMBERBOTTOM, DRILLDOWNMEMBERBOTTOM),
              K(DRILLDOWNLEVELBOTTOM, DRILLDOWNLEVELBOTTOM),
              K(DRILLDOWNMEMBERTOP, DRILLDOWNMEMBERTOP), K(DRILLDOWNLEVELTOP, DRILLDOWNLEVELTOP),
              K(DRILLDOWNMEMBER, DRILLDOWNMEMBER), K(DRILLDOWNLEVEL, DRILLDOWNLEVEL),
              K(DRILLUPMEMBER, DRILLUPMEMBER), K(DISTINCTCOUNT, DISTINCTCOUNT),
              K(DEFAULTMEMBER, DEFAULTMEMBER), K(DRILLUPLEVEL, DRILLUPLEVEL),
              K(DESCENDANTS, DESCENDANTS), K(DIMENSIONS, DIMENSIONS), K(DIMENSION, DIMENSION),
              K(DISTINCT, DISTINCT), K(D_T_D, D_T_D), K(DESC, DESC)}},
      {u'E', {K(EXCLUDEEMPTY, EXCLUDEEMPTY), K(EXTRACT, EXTRACT), K(EXCEPT, EXCEPT), K(EXP, EXP),
              K(EQV, EQV), K(E, E), K(EXISTS, EXISTS)}},
      {u'F', {K(FIRSTSIBLING, FIRSTSIBLING), K(FIRSTCHILD, FIRSTCHILD), K(FILTER, FILTER),
              K(FALSE, FALSE), K(FIX, FIX)}},
      {u'G', {K(GETUNIQUENAME, GETUNIQUENAME), K(GENERATESET, GENERATESET),
              K(GETCAPTION, GETCAPTION), K(GENERATE, GENERATE), K(GETNAME, GETNAME)}},
      {u'H', {K(HIERARCHIZE, HIERARCHIZE), K(HIDETUPLE, HIDETUPLE), K(H_T_D, H_T_D),
              K(HEAD, HEAD)}},
      {u'I', {K(INCLUDEEMPTY, INCLUDEEMPTY), K(ISGENERATION, ISGENERATION),
              K(ISANCESTOR, ISANCESTOR), K(INTERSECT, INTERSECT), K(ISSIBLING, ISSIBLING),
              K(ISEMPTY, ISEMPTY), K(INHERIT, INHERIT), K(ISLEAF, ISLEAF), K(ITEM, ITEM),
              K(IIF, IIF), K(INT, INT), K(IMP, IMP), K(IS, IS)}},
      {u'L', {K(LINREGINTERCEPT, LINREGINTERCEPT), K(LINREGVARIANCE, LINREGVARIANCE),
              K(LINREGSLOPE, LINREGSLOPE), K(LINREGPOINT, LINREGPOINT),
              K(LASTPERIODS, LASTPERIODS), K(LASTSIBLING, LASTSIBLING), K(LASTCHILD, LASTCHILD),
              K(LINREGR2, LINREGR2), K(LEVELS, LEVELS), K(LEAVES, LEAVES), K(LEVEL, LEVEL),
              K(LEAD, LEAD), K(LAG, LAG), K(LOG, LOG)}},
      {u'M', {K(MEMBERS, MEMBERS), K(MEMBER, MEMBER), K(MEDIAN, MEDIAN), K(M_T_D, M_T_D),
              K(MIN, MIN), K(MAX, MAX), K(MOD, MOD), K(MTD, MTD)}},
      {u'N', {K(NONEMPTYCROSSJOIN, NONEMPTYCROSSJOIN), K(NEXTMEMBER, NEXTMEMBER),
              K(NAMETOSET, NAMETOSET), K(NATIVE, NATIVE), K(NULL, NULL), K(NOT, NOT),
              K(NAME, NAME)}},
      {u'O', {K(OPENINGPERIOD, OPENINGPERIOD), K(OUTSIDE, OUTSIDE), K(ORDINAL, ORDINAL),
              K(ORDER, ORDER), K(OR, OR)}},
      {u'P', {K(PARALLELPERIOD, PARALLELPERIOD), K(PERIODSTODATE, PERIODSTODATE),
              K(PREVMEMBER, PREVMEMBER), K(PROPERTY, PROPERTY), K(PARENT, PARENT),
              K(P_T_D, P_T_D), K(POST, POST)}},
      {u'Q', {K(Q_T_D, Q_T_D), K(QTD, QTD)}},
      {u'R', {K(ROLLUPCHILDREN, ROLLUPCHILDREN), K(REMAINDER, REMAINDER),
              K(RECURSIVE, RECURSIVE), K(ROUND, ROUND), K(RANK, RANK)}},
      {u'S', {K(STRIPCALCULATEDMEMBERS, STRIPCALCULATEDMEMBERS),
              K(SELF_BEFORE_AFTER, SELF_BEFORE_AFTER), K(SELF_AND_BEFORE, SELF_AND_BEFORE),
              K(SELF_AND_AFTER, SELF_AND_AFTER), K(SHOWTUPLE, SHOWTUPLE), K(SIBLINGS, SIBLINGS),
              K(STDDEVP, STDDEVP), K(SUBSET, SUBSET), K(STDDEV, STDDEV), K(STDEVP, STDDEVP),
              K(STDEV, STDDEV), K(S_T_D, S_T_D), K(SELF, SELF), K(SUM, SUM), K(SIN, SIN),
              K(SGN, SGN), K(SQR, SQR), K(SET, SET)}},
      {u'T', {K(TOGGLEDRILLSTATE, TOGGLEDRILLSTATE), K(TOPPERCENT, TOPPERCENT),
              K(TOPCOUNT, TOPCOUNT), K(TOPSUM, TOPSUM), K(TUPLE, TUPLE), K(TAIL, TAIL),
              K(TRUE, TRUE), K(TAN, TAN)}},
      {u'U', {K(UNIQUENAME, UNIQUENAME), K(UNION, UNION)}},
      {u'V', {K(VARIANCEP, VARIANCEP), K(VARIANCE, VARIANCE), K(VALUE, VALUE),
              K(VARP, VARIANCEP), K(VAR, VARIANCE)}},
      {u'W', {K(W_T_D, W_T_D), K(WTD, WTD)}},
      {u'X', {K(XOR, XOR)}},
      {u'Y', {K(Y_T_D, Y_T_D), K(YTD, YTD)}},
  };
  return list;
}
#undef K

// Suffix tables indexed by the upper-case first letter.
const std::array<std::vector<Keyword>, 26>& keyword_table() {
  static const std::array<std::vector<Keyword>, 26> table = [] {
    std::array<std::vector<Keyword>, 26> t;
    for (const auto& [letter, words] : keyword_list())
      for (const auto& [word, token] : words)
        t[letter - u'A'].push_back(Keyword{TOVAString(word + 1), token});
    return t;
  }();
  return table;
}

bool ends_bare_name(char16_t c) {
  switch (c) {
    case 0: case u'\n': case u'(': case u')': case u',': case u':': case u'=': case u'<':
    case u'>': case u'{': case u'}': case u';':
      return true;
    default:
      return TOVAFormatLexer::isBlank(c) || TOVAFormatLexer::isOperator(c);
  }
}

}  // namespace

size_t KELLexer::keywordCount() {
  size_t n = 0;
  for (const auto& entry : keyword_list()) n += entry.second.size();
  return n;
}

KELLexer::KELLexer(const TOVAString& input, NUVA_o::Cube* cube) : TOVAFormatLexer(input, cube) {}

KELLexer::~KELLexer() = default;

TOVAString KELLexer::quoteName(const TOVAString& name) {
  TOVAString out;
  out.u16().reserve(name.length() + 2);
  out.append(u'{');
  for (size_t i = 0; i < name.length(); ++i) {
    out.append(name[i]);
    if (name[i] == u'}') out.append(u'}');
  }
  out.append(u'}');
  return out;
}

int KELLexer::nextToken() {
  char16_t c = nextChar();
  while (isBlank(c)) c = nextChar();
  m_TokenStart = (c == 0 && m_Position >= m_Input.length()) ? m_Position : m_Position - 1;
  switch (c) {
    case 0:
    case u'\n':
      return end_of_input();
    case u',': return KT_COMMA;
    case u'=': return KT_EQ;
    case u'(': return KT_LPAREN;
    case u')': return KT_RPAREN;
    case u'%': return KT_PERCENT;
    case u'+': return KT_PLUS;
    case u'-': return KT_MINUS;
    case u'*': return KT_STAR;
    case u'/': return KT_SLASH;
    case u'\\': return KT_BACKSLASH;
    case u'^': return KT_CARET;
    case u':': return KT_COLON;
    case u'<': {
      char16_t d = nextChar();
      if (d == u'<') {
        if (scan_placeholder()) return KT_PLACEHOLDER;
        pushBack();
        return KT_LT;
      }
      if (d == u'=') return KT_LE;
      if (d == u'>') return KT_NE;
      pushBack();
      return KT_LT;
    }
    case u'>': {
      char16_t d = nextChar();
      if (d == u'=') return KT_GE;
      if (d == u'<') return KT_NE;
      pushBack();
      return KT_GT;
    }
    case u'{':
      return scan_braced_name();
    default:
      break;
  }
  if (c == u'.' || isDigit(c)) {
    pushBack();
    scanNumber();
    if (numberOutOfRange()) {
      // The number itself and the whole text, as a signed operand reports them.
      support::raise<InvalidExpressionExceptionImpl>(
          common::moduleName(), support::COMMON_E_INVALID_NUMBER, m_TokenText, m_Input);
    }
    return KT_NUMBER;
  }
  if (isLetter(c)) {
    int token = keyword_token(c);
    if (token != 0) return token;
  }
  return scan_bare_name(c);
}

int KELLexer::end_of_input() {
  // A line feed (or a 0 character) ends the expression; text after it would silently be
  // dropped, so anything but blanks there is reported as a token the grammar rejects.
  for (size_t p = m_Position; p < m_Input.length(); ++p) {
    char16_t c = m_Input[p];
    if (isBlank(c) || c == u'\n' || c == 0) continue;
    m_TokenStart = p;
    m_Position = p;
    return KT_TRAILING_TEXT;
  }
  return KT_END;
}

int KELLexer::keyword_token(char16_t first) {
  char16_t upper = first >= u'a' ? static_cast<char16_t>(first - u'a' + u'A') : first;
  for (const Keyword& k : keyword_table()[upper - u'A']) {
    if (!matchKeyword(k.suffix)) continue;
    if (k.token == KT_AGGREGATE) {
      bool supported = false;
#ifdef KEL_HAVE_CUBE
      supported = m_pCube != nullptr && m_pCube->supports(10);
#endif
      if (!supported)
        support::raise<InvalidExpressionExceptionImpl>(
            common::moduleName(), support::COMMON_E_AGGREGATE_UNSUPPORTED, m_Input);
    }
    return k.token;
  }
  return 0;
}

int KELLexer::scan_braced_name() {
  m_TokenText.clear();
  for (;;) {
    char16_t c = nextChar();
    if (c == 0 && m_bAtEnd) break;
    if (c == u'}') {
      if (nextChar() == u'}') {
        m_TokenText.append(u'}');
        continue;
      }
      pushBack();
      break;
    }
    m_TokenText.append(c);
  }
  if (!m_bResolveNames) return KT_IDENT;
#ifdef KEL_HAVE_CUBE
  if (m_pCube == nullptr) return KT_IDENT;
  unsigned bits = m_pCube->classifyBracedName(m_TokenText, 0);
  if (bits == 0) bits = m_pCube->classifyBracedName(m_TokenText, 1);
  if (bits & 2) return KT_DIMENSION_NAME;
  if (bits & 4) return KT_DIMENSION_NAME3;
  if (bits & 8) return KT_LEVEL_NAME;
  if (bits & 16) return KT_MEASURE_NAME;
  if (bits & 32) return KT_MEMBER_NAME;
  if (bits & 1) return KT_NAME1;
#endif
  return KT_IDENT;
}

bool KELLexer::scan_placeholder() {
  // "<<" name ">>": the name ends at the first ">>" outside square brackets.
  const size_t start = m_Position;
  const size_t n = m_Input.length();
  bool bracketed = false;
  for (size_t p = start; p < n && m_Input[p] != u'\n'; ++p) {
    const char16_t c = m_Input[p];
    if (bracketed) {
      if (c == u']') {
        if (p + 1 < n && m_Input[p + 1] == u']') ++p;
        else bracketed = false;
      }
    } else if (c == u'[') {
      bracketed = true;
    } else if (c == u'>' && p + 1 < n && m_Input[p + 1] == u'>') {
      m_TokenText = TOVAString(m_Input.u16().substr(start, p - start));
      m_Position = p + 2;
      return true;
    }
  }
  return false;
}

int KELLexer::scan_bare_name(char16_t first) {
  m_TokenText.clear();
  m_TokenText.append(first);
  // Inside square brackets nothing ends the name but the closing bracket ("]]" is a "]"),
  // so that "[Road-150]" or "[New York]" stay one name.
  bool bracketed = first == u'[';
  for (;;) {
    char16_t c = nextChar();
    if (bracketed) {
      if (c == u'\n' || (c == 0 && m_bAtEnd)) {
        pushBack();
        break;
      }
      m_TokenText.append(c);
      if (c == u']') {
        if (nextChar() == u']') m_TokenText.append(u']');
        else {
          pushBack();
          bracketed = false;
        }
      }
      continue;
    }
    if (ends_bare_name(c)) {
      pushBack();
      break;
    }
    m_TokenText.append(c);
    if (c == u'[') bracketed = true;
  }
  if (!m_bResolveNames) return KT_IDENT;
  int kind = 0;
#ifdef KEL_HAVE_CUBE
  if (m_pCube != nullptr) {
    TOVAString name = m_TokenText;
    kind = m_pCube->classifyName(name, m_TokenText);
  }
#endif
  switch (kind) {
    case 1: return KT_NAME1;
    case 2: return KT_DIMENSION_NAME;
    case 3: return KT_DIMENSION_NAME3;
    case 4: return KT_LEVEL_NAME;
    case 5: return KT_MEMBER_NAME;
    case 6: return KT_MEASURE_NAME;
    default: break;
  }
  support::raise<InvalidExpressionExceptionImpl>(
      common::moduleName(), support::COMMON_E_UNKNOWN_NAME, m_Input, m_TokenText);
}
