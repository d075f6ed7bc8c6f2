// Expression evaluation: a tree is compiled into closures over columns. Every closure takes all
// rows at once and returns a column (numbers, members or ragged sets of tuples), so a grid is
// evaluated in one walk of the compiled form; stored values come from the cell source in one
// fetch per distinct set of rows.

#include "common/ExpressionEvaluator.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <numeric>

#include "common/CommonExpression.h"
#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

using NUVA_o::Expression;
using enum NUVA_o::Expression::ExpressionType;

// Rows with an identity, so that the stored values of one set of rows are fetched once.
struct Rowset {
  EvaluationRows rows;
  uint64_t id = 0;
};

struct Num {
  std::vector<double> v;
  std::vector<uint8_t> ok;  // 0 for an empty value
  explicit Num(size_t n = 0) : v(n, 0.0), ok(n, 0) {}
  void set(size_t i, double x) {
    const bool finite = std::isfinite(x);
    v[i] = finite ? x : 0.0;
    ok[i] = finite;
  }
};

// Per row, the tuples [off[row], off[row + 1]); tuple t's member of hierarchy j is m[t * k + j].
struct Set {
  std::vector<uint32_t> off{0};
  std::vector<int32_t> m;
};

struct State {
  CellSource& source;
  const std::vector<int32_t>& measures;
  uint64_t nextId = 1;
  std::map<uint64_t, std::vector<Num>> fetched;
};

using NumFn = std::function<Num(const Rowset&, State&)>;
using Members = std::vector<int32_t>;

struct MemFn {
  int32_t h = -1;
  int32_t constant = -2;  // the member when the node names one, else -2
  std::function<Members(const Rowset&, State&)> f;
};

struct SetFn {
  std::vector<int32_t> h;
  std::function<Set(const Rowset&, State&)> f;
};

using Tuple = std::vector<int32_t>;

const std::vector<int32_t>* column(const EvaluationRows& rows, int32_t h) {
  for (size_t k = 0; k < rows.hierarchies.size(); ++k)
    if (rows.hierarchies[k] == h) return &rows.members[k];
  return nullptr;
}

// `in` with the columns of `hierarchies` replaced by `columns` (or added), as a new rowset.
Rowset with_columns(const Rowset& in, const std::vector<int32_t>& hierarchies,
                    std::vector<Members> columns, State& state) {
  Rowset out;
  out.rows.count = in.rows.count;
  out.id = state.nextId++;
  for (size_t k = 0; k < in.rows.hierarchies.size(); ++k) {
    if (std::find(hierarchies.begin(), hierarchies.end(), in.rows.hierarchies[k]) != hierarchies.end())
      continue;
    out.rows.hierarchies.push_back(in.rows.hierarchies[k]);
    out.rows.members.push_back(in.rows.members[k]);
  }
  for (size_t j = 0; j < hierarchies.size(); ++j) {
    out.rows.hierarchies.push_back(hierarchies[j]);
    out.rows.members.push_back(std::move(columns[j]));
  }
  return out;
}

// One row per tuple of the set, each the row it came from with the set's members in place.
Rowset expand(const Rowset& in, const std::vector<int32_t>& hierarchies, const Set& set, State& state) {
  const size_t k = hierarchies.size();
  const size_t total = set.off.back();
  Rowset out;
  out.rows.count = total;
  out.id = state.nextId++;
  for (size_t c = 0; c < in.rows.hierarchies.size(); ++c) {
    if (std::find(hierarchies.begin(), hierarchies.end(), in.rows.hierarchies[c]) != hierarchies.end())
      continue;
    Members col(total);
    const Members& from = in.rows.members[c];
    for (size_t r = 0; r < in.rows.count; ++r)
      std::fill(col.begin() + set.off[r], col.begin() + set.off[r + 1], from[r]);
    out.rows.hierarchies.push_back(in.rows.hierarchies[c]);
    out.rows.members.push_back(std::move(col));
  }
  for (size_t j = 0; j < k; ++j) {
    Members col(total);
    for (size_t t = 0; t < total; ++t) col[t] = set.m[t * k + j];
    out.rows.hierarchies.push_back(hierarchies[j]);
    out.rows.members.push_back(std::move(col));
  }
  return out;
}

const Num& fetch(const Rowset& rs, State& state, size_t measureSlot) {
  auto it = state.fetched.find(rs.id);
  if (it == state.fetched.end()) {
    std::vector<std::vector<double>> values;
    std::vector<std::vector<uint8_t>> filled;
    state.source.fetch(rs.rows, state.measures, values, filled);
    std::vector<Num> nums(state.measures.size());
    for (size_t m = 0; m < nums.size(); ++m) {
      Num& n = nums[m];
      n.v = std::move(values.at(m));
      n.ok = std::move(filled.at(m));
      if (n.v.size() != rs.rows.count || n.ok.size() != rs.rows.count)
        support::raise<RunTimeExceptionImpl>(moduleName(), support::COMMON_E_RUN_TIME);
      for (const Members& col : rs.rows.members)
        for (size_t r = 0; r < rs.rows.count; ++r)
          if (col[r] < 0) n.ok[r] = 0, n.v[r] = 0.0;
    }
    it = state.fetched.emplace(rs.id, std::move(nums)).first;
  }
  return it->second[measureSlot];
}

bool truthy(const Num& n, size_t i) { return n.ok[i] && n.v[i] != 0.0; }

// Position of a member among the members of its level, or -1.
int32_t level_position(const CellSource& s, int32_t h, int32_t m) {
  const std::vector<int32_t>& level = s.levelMembers(h, s.levelOf(h, m));
  auto it = std::lower_bound(level.begin(), level.end(), m);
  return it != level.end() && *it == m ? static_cast<int32_t>(it - level.begin()) : -1;
}

int32_t lag(const CellSource& s, int32_t h, int32_t m, long long n) {
  if (m < 0) return -1;
  const int32_t p = level_position(s, h, m);
  if (p < 0) return -1;
  const std::vector<int32_t>& level = s.levelMembers(h, s.levelOf(h, m));
  const long long q = static_cast<long long>(p) - n;
  return q < 0 || q >= static_cast<long long>(level.size()) ? -1 : level[static_cast<size_t>(q)];
}

int32_t ancestor_at(const CellSource& s, int32_t h, int32_t m, int32_t level) {
  while (m >= 0 && s.levelOf(h, m) > level) m = s.parent(h, m);
  return m >= 0 && s.levelOf(h, m) == level ? m : -1;
}

// Every member of the hierarchy in hierarchy order.
Members all_members(const CellSource& s, int32_t h) {
  Members out;
  for (int32_t l = 0; l < s.levelCount(h); ++l) {
    const auto& level = s.levelMembers(h, l);
    out.insert(out.end(), level.begin(), level.end());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Builds a set of tuples of `width` members row by row from a producer that appends the
// members of each row's tuples.
template <class F>
Set per_row(size_t rows, size_t width, F&& produce) {
  Set out;
  out.off.reserve(rows + 1);
  for (size_t r = 0; r < rows; ++r) {
    produce(r, out.m);
    out.off.push_back(static_cast<uint32_t>(out.m.size() / width));
  }
  return out;
}

double empty_low(const Num& n, size_t i) {
  return n.ok[i] ? n.v[i] : -std::numeric_limits<double>::infinity();
}

class Compiler {
 public:
  Compiler(CellSource& source, TOVAString context, std::vector<int32_t>& measures)
      : m_Source(source), m_Context(std::move(context)), m_Measures(measures),
        m_MeasuresHierarchy(source.measuresHierarchy()) {}

  int32_t m_CurrentMeasure = -1;
  std::vector<int32_t> m_Calculations;  // calculated measures being compiled, outermost first

  SetFn whole_set(Expression& e) { return set(e); }

  NumFn num(Expression& e) {
    auto& k = e.getExpressions();
    switch (e.getType()) {
      case ET_NUMBER: {
        const VARIANT& v = e.getValue();
        return constant(v.vt == VT_R8 ? v.dblVal : 0.0, true);
      }
      case ET_BOOLEAN: return constant(e.getValue().boolVal ? 1.0 : 0.0, true);
      case ET_NULL: return constant(0.0, false);
      case ET_PARENTHESES: case ET_UNARY_PLUS: return num(arg(e, 0));
      case ET_NEGATE: return unary(e, [](double x) { return -x; });
      case ET_PLUS: return binary(e, [](double a, double b) { return a + b; });
      case ET_MINUS: return binary(e, [](double a, double b) { return a - b; });
      case ET_MULTIPLY: return binary(e, [](double a, double b) { return a * b; });
      // A division by zero is not finite and so gives an empty value.
      case ET_DIVIDE: return binary(e, [](double a, double b) { return a / b; });
      case ET_INTEGER_DIVIDE: return binary(e, [](double a, double b) { return std::trunc(a / b); });
      case ET_POWER: return binary(e, [](double a, double b) { return std::pow(a, b); });
      case ET_MOD: return binary(e, [](double a, double b) { return std::fmod(a, b); });
      case ET_EQ: return compare(e, [](double a, double b) { return a == b; });
      case ET_NE: return compare(e, [](double a, double b) { return a != b; });
      case ET_LT: return compare(e, [](double a, double b) { return a < b; });
      case ET_LE: return compare(e, [](double a, double b) { return a <= b; });
      case ET_GT: return compare(e, [](double a, double b) { return a > b; });
      case ET_GE: return compare(e, [](double a, double b) { return a >= b; });
      case ET_AND: return logical(e, [](bool a, bool b) { return a && b; });
      case ET_OR: return logical(e, [](bool a, bool b) { return a || b; });
      case ET_XOR: return logical(e, [](bool a, bool b) { return a != b; });
      case ET_EQV: return logical(e, [](bool a, bool b) { return a == b; });
      case ET_IMP: return logical(e, [](bool a, bool b) { return !a || b; });
      case ET_NOT: {
        NumFn a = num(arg(e, 0));
        return [a](const Rowset& rs, State& st) {
          Num x = a(rs, st), r(rs.rows.count);
          for (size_t i = 0; i < r.v.size(); ++i) r.set(i, truthy(x, i) ? 0.0 : 1.0);
          return r;
        };
      }
      case ET_ABS: return unary(e, [](double x) { return std::fabs(x); });
      case ET_COS: return unary(e, [](double x) { return std::cos(x); });
      case ET_SIN: return unary(e, [](double x) { return std::sin(x); });
      case ET_TAN: return unary(e, [](double x) { return std::tan(x); });
      case ET_ATN: return unary(e, [](double x) { return std::atan(x); });
      case ET_ACOS: return unary(e, [](double x) { return std::acos(x); });
      case ET_ASIN: return unary(e, [](double x) { return std::asin(x); });
      case ET_LOG: return unary(e, [](double x) { return std::log(x); });
      case ET_SQR: return unary(e, [](double x) { return std::sqrt(x); });
      case ET_EXP: return unary(e, [](double x) { return std::exp(x); });
      case ET_INT: return unary(e, [](double x) { return std::floor(x); });
      case ET_SGN: return unary(e, [](double x) { return static_cast<double>((x > 0) - (x < 0)); });
      case ET_FIX:
        if (k.size() != 1) unsupported("Fix with a second argument");
        return unary(e, [](double x) { return std::trunc(x); });
      case ET_ROUND:
        if (k.size() == 1) return unary(e, [](double x) { return std::round(x); });
        return binary(e, [](double x, double d) {
          const double scale = std::pow(10.0, std::trunc(d));
          return std::round(x * scale) / scale;
        });
      case ET_IIF: {
        NumFn c = num(arg(e, 0)), a = num(arg(e, 1)), b = num(arg(e, 2));
        return [c, a, b](const Rowset& rs, State& st) {
          Num x = c(rs, st), l = a(rs, st), r = b(rs, st);
          for (size_t i = 0; i < x.v.size(); ++i)
            if (!truthy(x, i)) l.v[i] = r.v[i], l.ok[i] = r.ok[i];
          return l;
        };
      }
      case ET_ISEMPTY: {
        NumFn a = num(arg(e, 0));
        return [a](const Rowset& rs, State& st) {
          Num x = a(rs, st), r(rs.rows.count);
          for (size_t i = 0; i < r.v.size(); ++i) r.set(i, x.ok[i] ? 0.0 : 1.0);
          return r;
        };
      }
      case ET_VALUE: case ET_MEMBER_GROUP: case ET_TUPLE: return value_at(tuple(e));
      case ET_SUM: case ET_AVG: case ET_MIN: case ET_MAX: case ET_MEDIAN: case ET_VAR:
      case ET_VARP: case ET_STDEV: case ET_STDEVP: case ET_COUNT_EXCLUDEEMPTY:
      case ET_DISTINCTCOUNT:
        return aggregate(e);
      case ET_COUNT_INCLUDEEMPTY: {
        SetFn s = set(arg(e, 0));
        return [s](const Rowset& rs, State& st) {
          Set x = s.f(rs, st);
          Num r(rs.rows.count);
          for (size_t i = 0; i < r.v.size(); ++i) r.set(i, x.off[i + 1] - x.off[i]);
          return r;
        };
      }
      case ET_RANK: return rank(e);
      default: unsupported(e);
    }
  }

  [[noreturn]] void unsupported(Expression& e) {
    const char* keyword = expressionTypeKeyword(e.getType());
    unsupported(keyword ? TOVAString(keyword)
                        : TOVAString().build("node type %d", static_cast<int>(e.getType())));
  }
  [[noreturn]] void unsupported(const TOVAString& what) {
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_EVAL_UNSUPPORTED,
                                                      what, m_Context);
  }
  [[noreturn]] void invalid(const TOVAString& problem) {
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_EVAL_INVALID, problem,
                                                   m_Context);
  }

  // The value of a measure: a stored one is fetched, a calculated one is compiled in place.
  NumFn measure_value(int32_t measure) {
    if (measure < 0) invalid("no measure is current");
    if (Expression* calculation = m_Source.calculation(m_MeasuresHierarchy, measure)) {
      if (std::find(m_Calculations.begin(), m_Calculations.end(), measure) != m_Calculations.end())
        support::raise<InvalidExpressionExceptionImpl>(
            moduleName(), support::COMMON_E_EVAL_RECURSION,
            m_Source.memberUniqueName(m_MeasuresHierarchy, m_Calculations.front()));
      m_Calculations.push_back(measure);
      const int32_t outer = m_CurrentMeasure;
      m_CurrentMeasure = measure;
      NumFn body = num(*calculation);
      m_CurrentMeasure = outer;
      m_Calculations.pop_back();
      return body;
    }
    auto it = std::find(m_Measures.begin(), m_Measures.end(), measure);
    const size_t slot = static_cast<size_t>(it - m_Measures.begin());
    if (it == m_Measures.end()) m_Measures.push_back(measure);
    return [slot](const Rowset& rs, State& st) { return fetch(rs, st, slot); };
  }

 private:
  Expression& arg(Expression& e, size_t i) {
    auto& k = e.getExpressions();
    if (i >= k.size() || !k[i]) invalid(TOVAString().build("'%s' lacks an operand", keyword(e)));
    return *k[i];
  }
  static TOVAString keyword(Expression& e) {
    const char* k = expressionTypeKeyword(e.getType());
    return k ? TOVAString(k) : TOVAString().build("node type %d", static_cast<int>(e.getType()));
  }

  NumFn constant(double x, bool filled) {
    return [x, filled](const Rowset& rs, State&) {
      Num r(rs.rows.count);
      std::fill(r.v.begin(), r.v.end(), filled ? x : 0.0);
      std::fill(r.ok.begin(), r.ok.end(), filled);
      return r;
    };
  }
  template <class F>
  NumFn unary(Expression& e, F f) {
    NumFn a = num(arg(e, 0));
    return [a, f](const Rowset& rs, State& st) {
      Num x = a(rs, st);
      for (size_t i = 0; i < x.v.size(); ++i)
        if (x.ok[i]) x.set(i, f(x.v[i]));
      return x;
    };
  }
  // Empty in arithmetic is empty.
  template <class F>
  NumFn binary(Expression& e, F f) {
    NumFn a = num(arg(e, 0)), b = num(arg(e, 1));
    return [a, b, f](const Rowset& rs, State& st) {
      Num x = a(rs, st);
      const Num y = b(rs, st);
      for (size_t i = 0; i < x.v.size(); ++i)
        if (x.ok[i] && y.ok[i]) x.set(i, f(x.v[i], y.v[i]));
        else x.ok[i] = 0, x.v[i] = 0.0;
      return x;
    };
  }
  // Comparisons read an empty value as zero.
  template <class F>
  NumFn compare(Expression& e, F f) {
    NumFn a = num(arg(e, 0)), b = num(arg(e, 1));
    return [a, b, f](const Rowset& rs, State& st) {
      Num x = a(rs, st);
      const Num y = b(rs, st);
      for (size_t i = 0; i < x.v.size(); ++i) x.set(i, f(x.v[i], y.v[i]) ? 1.0 : 0.0);
      return x;
    };
  }
  template <class F>
  NumFn logical(Expression& e, F f) {
    NumFn a = num(arg(e, 0)), b = num(arg(e, 1));
    return [a, b, f](const Rowset& rs, State& st) {
      Num x = a(rs, st);
      const Num y = b(rs, st);
      for (size_t i = 0; i < x.v.size(); ++i) x.set(i, f(truthy(x, i), truthy(y, i)) ? 1.0 : 0.0);
      return x;
    };
  }

  // ---- members and tuples ----

  MemFn current(int32_t h) {
    MemFn out;
    out.h = h;
    if (h == m_MeasuresHierarchy) out.constant = m_CurrentMeasure;
    CellSource* s = &m_Source;
    out.f = [h, s](const Rowset& rs, State&) {
      if (const Members* col = column(rs.rows, h)) return *col;
      return Members(rs.rows.count, s->contextMember(h));
    };
    return out;
  }

  int32_t hierarchy(Expression& e) {
    if (e.getType() != ET_DIMENSION_NAME) unsupported(e);
    const int32_t h = m_Source.findHierarchy(e.getStringValue());
    if (h < 0) unknown(e.getStringValue());
    return h;
  }
  [[noreturn]] void unknown(const TOVAString& name) {
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_EVAL_UNKNOWN_NAME, name,
                                                   m_Context);
  }

  std::pair<int32_t, int32_t> level(Expression& e) {
    if (e.getType() != ET_LEVEL_NAME) unsupported(e);
    int32_t h = -1, l = -1;
    if (!m_Source.findLevel(e.getStringValue(), h, l)) unknown(e.getStringValue());
    return {h, l};
  }
  static bool is_level(Expression& e) {
    return e.getType() == ET_LEVEL_NAME || e.getType() == ET_LEVELS || e.getType() == ET_LEVEL;
  }

  // A member-to-member step applied row by row.
  template <class F>
  MemFn step(MemFn from, F f) {
    MemFn out;
    out.h = from.h;
    const int32_t h = from.h;
    CellSource* s = &m_Source;
    out.f = [from, f, h, s](const Rowset& rs, State& st) {
      Members m = from.f(rs, st);
      for (size_t i = 0; i < m.size(); ++i) m[i] = m[i] < 0 ? -1 : f(*s, h, m[i], i, rs, st);
      return m;
    };
    return out;
  }

  // A step whose second operand is a number evaluated per row.
  template <class F>
  MemFn counted_step(MemFn from, NumFn count, F f) {
    MemFn out;
    out.h = from.h;
    const int32_t h = from.h;
    CellSource* s = &m_Source;
    out.f = [from, count, f, h, s](const Rowset& rs, State& st) {
      Members m = from.f(rs, st);
      const Num n = count(rs, st);
      for (size_t i = 0; i < m.size(); ++i)
        m[i] = m[i] < 0 || !n.ok[i] ? -1 : f(*s, h, m[i], static_cast<long long>(std::trunc(n.v[i])));
      return m;
    };
    return out;
  }

  MemFn member(Expression& e) {
    switch (e.getType()) {
      case ET_MEMBER_NAME: {
        int32_t h = -1, m = -1;
        if (!m_Source.findMember(e.getStringValue(), h, m)) unknown(e.getStringValue());
        MemFn out;
        out.h = h;
        out.constant = m;
        out.f = [m](const Rowset& rs, State&) { return Members(rs.rows.count, m); };
        return out;
      }
      case ET_MEMBER_GROUP: case ET_MEMBER: return member(arg(e, 0));
      case ET_CURRENTMEMBER: return current(hierarchy(arg(e, 0)));
      case ET_PARENT:
        return step(member(arg(e, 0)), [](const CellSource& s, int32_t h, int32_t m, size_t, const Rowset&,
                                          State&) { return s.parent(h, m); });
      case ET_PREVMEMBER:
        return step(member(arg(e, 0)), [](const CellSource& s, int32_t h, int32_t m, size_t, const Rowset&,
                                          State&) { return lag(s, h, m, 1); });
      case ET_NEXTMEMBER:
        return step(member(arg(e, 0)), [](const CellSource& s, int32_t h, int32_t m, size_t, const Rowset&,
                                          State&) { return lag(s, h, m, -1); });
      case ET_FIRSTCHILD: case ET_LASTCHILD: {
        const bool first = e.getType() == ET_FIRSTCHILD;
        return step(member(arg(e, 0)), [first](const CellSource& s, int32_t h, int32_t m, size_t,
                                               const Rowset&, State&) {
          const auto& c = s.children(h, m);
          return c.empty() ? -1 : (first ? c.front() : c.back());
        });
      }
      case ET_LAG: case ET_LEAD: {
        const long long sign = e.getType() == ET_LAG ? 1 : -1;
        return counted_step(member(arg(e, 0)), num(arg(e, 1)),
                            [sign](const CellSource& s, int32_t h, int32_t m, long long n) {
                              return lag(s, h, m, sign * n);
                            });
      }
      case ET_ANCESTOR: {
        MemFn from = member(arg(e, 0));
        if (is_level(arg(e, 1))) {
          const auto [h, l] = level(arg(e, 1));
          if (h != from.h) invalid("Ancestor names a level of another hierarchy");
          const int32_t target = l;
          return step(from, [target](const CellSource& s, int32_t hh, int32_t m, size_t, const Rowset&,
                                     State&) { return ancestor_at(s, hh, m, target); });
        }
        return counted_step(from, num(arg(e, 1)), [](const CellSource& s, int32_t h, int32_t m, long long n) {
          for (; n > 0 && m >= 0; --n) m = s.parent(h, m);
          return n < 0 ? -1 : m;
        });
      }
      case ET_PARALLELPERIOD: return parallel_period(e);
      default: unsupported(e);
    }
  }

  MemFn parallel_period(Expression& e) {
    auto& k = e.getExpressions();
    if (k.empty()) unsupported(e);
    MemFn from = member(arg(e, k.size() - 1));
    int32_t fixedLevel = -1;
    NumFn count = constant(1.0, true);
    if (k.size() >= 2) {
      if (is_level(arg(e, 0))) {
        const auto [h, l] = level(arg(e, 0));
        if (h != from.h) invalid("ParallelPeriod names a level of another hierarchy");
        fixedLevel = l;
        if (k.size() == 3) count = num(arg(e, 1));
      } else {
        count = num(arg(e, 0));
      }
    }
    return counted_step(from, count, [fixedLevel](const CellSource& s, int32_t h, int32_t m, long long n) {
      const int32_t own = s.levelOf(h, m);
      const int32_t at = fixedLevel >= 0 ? fixedLevel : own - 1;
      if (at < 0 || at > own) return -1;
      // The path from the ancestor down to the member, as child positions, followed again
      // from the lagged ancestor.
      std::vector<size_t> path;
      int32_t x = m;
      while (s.levelOf(h, x) > at) {
        const int32_t p = s.parent(h, x);
        const auto& c = s.children(h, p);
        path.push_back(static_cast<size_t>(std::find(c.begin(), c.end(), x) - c.begin()));
        x = p;
      }
      x = lag(s, h, x, n);
      for (size_t i = path.size(); i-- > 0 && x >= 0;) {
        const auto& c = s.children(h, x);
        x = path[i] < c.size() ? c[path[i]] : -1;
      }
      return x;
    });
  }

  std::vector<MemFn> tuple(Expression& e) {
    if (e.getType() == ET_VALUE || e.getType() == ET_MEMBER_GROUP) return tuple(arg(e, 0));
    std::vector<MemFn> out;
    if (e.getType() == ET_TUPLE) {
      for (Expression* c : e.getExpressions()) out.push_back(member(*c));
    } else {
      out.push_back(member(e));
    }
    for (size_t i = 0; i < out.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (out[i].h == out[j].h) invalid("a tuple names one hierarchy twice");
    return out;
  }

  NumFn value_at(std::vector<MemFn> members) {
    int32_t measure = m_CurrentMeasure;
    std::vector<MemFn> others;
    for (MemFn& m : members) {
      if (m.h != m_MeasuresHierarchy) {
        others.push_back(std::move(m));
        continue;
      }
      if (m.constant < -1) unsupported("a measure chosen by navigation");
      measure = m.constant;
    }
    NumFn inner = measure_value(measure);
    if (others.empty()) return inner;
    std::vector<int32_t> hierarchies;
    for (const MemFn& m : others) hierarchies.push_back(m.h);
    return [others, hierarchies, inner](const Rowset& rs, State& st) {
      std::vector<Members> columns;
      for (const MemFn& m : others) columns.push_back(m.f(rs, st));
      return inner(with_columns(rs, hierarchies, std::move(columns), st), st);
    };
  }

  // ---- sets ----

  SetFn set(Expression& e) {
    auto& k = e.getExpressions();
    switch (e.getType()) {
      case ET_SET: return literal(e);
      case ET_MEMBERS: {
        Expression& of = arg(e, 0);
        Members members;
        int32_t h;
        if (of.getType() == ET_DIMENSION_NAME) {
          h = hierarchy(of);
          members = all_members(m_Source, h);
        } else {
          const auto [hh, l] = level(of);
          h = hh;
          members = m_Source.levelMembers(h, l);
        }
        return {{h}, [members](const Rowset& rs, State&) {
                  return per_row(rs.rows.count, 1, [&](size_t, Members& out) {
                    out.insert(out.end(), members.begin(), members.end());
                  });
                }};
      }
      case ET_CHILDREN: return member_set(member(arg(e, 0)), [](const CellSource& s, int32_t h, int32_t m,
                                                               Members& out) {
          const auto& c = s.children(h, m);
          out.insert(out.end(), c.begin(), c.end());
        });
      case ET_SIBLINGS: return member_set(member(arg(e, 0)), [](const CellSource& s, int32_t h, int32_t m,
                                                               Members& out) {
          const int32_t p = s.parent(h, m);
          if (p < 0) return out.push_back(m);
          const auto& c = s.children(h, p);
          out.insert(out.end(), c.begin(), c.end());
        });
      case ET_DESCENDANTS: return descendants(e);
      case ET_PERIODSTODATE: {
        if (k.size() == 1) return periods_to_date(member(arg(e, 0)), -1);
        const auto [h, l] = level(arg(e, 0));
        MemFn m = member(arg(e, 1));
        if (h != m.h) invalid("PeriodsToDate names a level of another hierarchy");
        return periods_to_date(m, l);
      }
      case ET_YTD: return to_date(e, "Year");
      case ET_QTD: return to_date(e, "Quarter");
      case ET_MTD: return to_date(e, "Month");
      case ET_WTD: return to_date(e, "Week");
      case ET_HEAD: case ET_TAIL: {
        SetFn s = set(arg(e, 0));
        NumFn n = k.size() > 1 ? num(arg(e, 1)) : constant(1.0, true);
        const bool head = e.getType() == ET_HEAD;
        return {s.h, [s, n, head](const Rowset& rs, State& st) {
                  const Set x = s.f(rs, st);
                  const Num c = n(rs, st);
                  const size_t w = s.h.size();
                  return per_row(rs.rows.count, w, [&](size_t r, Members& out) {
                    const size_t size = x.off[r + 1] - x.off[r];
                    const size_t take = c.ok[r] && c.v[r] > 0 ? std::min(size, static_cast<size_t>(c.v[r])) : 0;
                    const size_t first = x.off[r] + (head ? 0 : size - take);
                    out.insert(out.end(), x.m.begin() + first * w, x.m.begin() + (first + take) * w);
                  });
                }};
      }
      case ET_TOPCOUNT: case ET_BOTTOMCOUNT: case ET_TOPPERCENT: case ET_BOTTOMPERCENT:
      case ET_TOPSUM: case ET_BOTTOMSUM:
        return ranking(e);
      case ET_FILTER: {
        SetFn s = set(arg(e, 0));
        NumFn test = over_set(s, arg(e, 1));
        return {s.h, [s, test](const Rowset& rs, State& st) {
                  const Set x = s.f(rs, st);
                  const Num keep = test(expand(rs, s.h, x, st), st);
                  const size_t w = s.h.size();
                  Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                    for (size_t t = x.off[r]; t < x.off[r + 1]; ++t)
                      if (truthy(keep, t)) m.insert(m.end(), x.m.begin() + t * w, x.m.begin() + (t + 1) * w);
                  });
                  return out;
                }};
      }
      case ET_ORDER: return order(e);
      case ET_CROSSJOIN: {
        SetFn a = set(arg(e, 0)), b = set(arg(e, 1));
        std::vector<int32_t> h = a.h;
        for (int32_t x : b.h) {
          if (std::find(h.begin(), h.end(), x) != h.end()) invalid("Crossjoin of sets of one hierarchy");
          h.push_back(x);
        }
        return {h, [a, b](const Rowset& rs, State& st) {
                  const Set x = a.f(rs, st), y = b.f(rs, st);
                  const size_t wa = a.h.size(), wb = b.h.size();
                  Set out = per_row(rs.rows.count, wa + wb, [&](size_t r, Members& m) {
                    for (size_t i = x.off[r]; i < x.off[r + 1]; ++i)
                      for (size_t j = y.off[r]; j < y.off[r + 1]; ++j) {
                        m.insert(m.end(), x.m.begin() + i * wa, x.m.begin() + (i + 1) * wa);
                        m.insert(m.end(), y.m.begin() + j * wb, y.m.begin() + (j + 1) * wb);
                      }
                  });
                  return out;
                }};
      }
      case ET_UNION: case ET_UNION_ALL: return combine(e, 0);
      case ET_EXCEPT: case ET_EXCEPT_ALL: return combine(e, 1);
      case ET_INTERSECT: case ET_INTERSECT_ALL: return combine(e, 2);
      case ET_DISTINCT: {
        SetFn s = set(arg(e, 0));
        return {s.h, [s](const Rowset& rs, State& st) {
                  const Set x = s.f(rs, st);
                  const size_t w = s.h.size();
                  Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                    std::vector<Tuple> seen;
                    for (size_t t = x.off[r]; t < x.off[r + 1]; ++t) {
                      Tuple tu(x.m.begin() + t * w, x.m.begin() + (t + 1) * w);
                      if (std::find(seen.begin(), seen.end(), tu) != seen.end()) continue;
                      m.insert(m.end(), tu.begin(), tu.end());
                      seen.push_back(std::move(tu));
                    }
                  });
                  return out;
                }};
      }
      case ET_HIERARCHIZE: {
        // Members are numbered depth-first, so hierarchy order is the order of the numbers.
        SetFn s = set(arg(e, 0));
        return {s.h, [s](const Rowset& rs, State& st) {
                  const Set x = s.f(rs, st);
                  const size_t w = s.h.size();
                  Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                    std::vector<Tuple> tuples;
                    for (size_t t = x.off[r]; t < x.off[r + 1]; ++t)
                      tuples.emplace_back(x.m.begin() + t * w, x.m.begin() + (t + 1) * w);
                    std::stable_sort(tuples.begin(), tuples.end());
                    for (const Tuple& tu : tuples) m.insert(m.end(), tu.begin(), tu.end());
                  });
                  return out;
                }};
      }
      default: unsupported(e);
    }
  }

  template <class F>
  SetFn member_set(MemFn from, F f) {
    CellSource* s = &m_Source;
    const int32_t h = from.h;
    return {{h}, [from, f, s, h](const Rowset& rs, State& st) {
              const Members m = from.f(rs, st);
              return per_row(rs.rows.count, 1, [&](size_t r, Members& out) {
                if (m[r] >= 0) f(*s, h, m[r], out);
              });
            }};
  }

  SetFn literal(Expression& e) {
    struct Item {
      std::vector<MemFn> tuple;
      bool range = false;
    };
    std::vector<Item> items;
    std::vector<int32_t> h;
    for (Expression* c : e.getExpressions()) {
      Item item;
      if (c->getType() == ET_MEMBER_RANGE) {
        item.range = true;
        item.tuple = {member(arg(*c, 0)), member(arg(*c, 1))};
        if (item.tuple[0].h != item.tuple[1].h) invalid("a range between members of two hierarchies");
        item.tuple.pop_back();
        item.tuple.push_back(member(arg(*c, 1)));
      } else {
        item.tuple = tuple(*c);
      }
      std::vector<int32_t> mine;
      if (item.range) mine = {item.tuple[0].h};
      else for (const MemFn& m : item.tuple) mine.push_back(m.h);
      if (h.empty()) h = mine;
      else if (mine != h) invalid("the tuples of a set name different hierarchies");
      if (std::find(h.begin(), h.end(), m_MeasuresHierarchy) != h.end())
        for (const MemFn& m : item.tuple)
          if (m.h == m_MeasuresHierarchy && m.constant < -1) unsupported("a measure chosen by navigation");
      items.push_back(std::move(item));
    }
    CellSource* s = &m_Source;
    const size_t w = h.size();
    return {h, [items, s, w](const Rowset& rs, State& st) {
              std::vector<std::vector<Members>> cols;
              for (const Item& item : items) {
                std::vector<Members> c;
                for (const MemFn& m : item.tuple) c.push_back(m.f(rs, st));
                cols.push_back(std::move(c));
              }
              Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                for (size_t i = 0; i < items.size(); ++i) {
                  if (items[i].range) {
                    const int32_t hh = items[i].tuple[0].h, a = cols[i][0][r], b = cols[i][1][r];
                    if (a < 0 || b < 0 || s->levelOf(hh, a) != s->levelOf(hh, b)) continue;
                    const auto& level = s->levelMembers(hh, s->levelOf(hh, a));
                    auto pa = std::lower_bound(level.begin(), level.end(), std::min(a, b));
                    auto pb = std::lower_bound(level.begin(), level.end(), std::max(a, b));
                    m.insert(m.end(), pa, pb + 1);
                    continue;
                  }
                  bool null = false;
                  for (const Members& c : cols[i]) null = null || c[r] < 0;
                  if (!null)
                    for (const Members& c : cols[i]) m.push_back(c[r]);
                }
              });
              return out;
            }};
  }

  SetFn descendants(Expression& e) {
    auto& k = e.getExpressions();
    MemFn from = member(arg(e, 0));
    // The children after the member: an optional level or distance, an optional flag, and the
    // ALL marker.
    std::vector<Expression*> rest(k.begin() + 1, k.end());
    if (!rest.empty() && (rest.back()->getType() == ET_ALL || rest.back()->getType() == ET_NO_ALL))
      rest.pop_back();
    int32_t fixedLevel = -1;
    NumFn distance;
    Expression::ExpressionType flag = ET_SELF_BEFORE_AFTER;
    if (!rest.empty()) {
      flag = ET_SELF;
      if (is_level(*rest[0])) {
        const auto named = level(*rest[0]);
        if (named.first != from.h) invalid("Descendants names a level of another hierarchy");
        fixedLevel = named.second;
      } else {
        distance = num(*rest[0]);
      }
      if (rest.size() > 1) flag = rest[1]->getType();
    }
    // Compared as numbers: clang 14 crashes on the relational operators between these enumerators.
    if (int(flag) < int(ET_SELF) || int(flag) > int(ET_SELF_BEFORE_AFTER)) unsupported(e);
    CellSource* s = &m_Source;
    const int32_t h = from.h;
    return {{h}, [from, fixedLevel, distance, flag, s, h](const Rowset& rs, State& st) {
              const Members m = from.f(rs, st);
              const Num d = distance ? distance(rs, st) : Num();
              return per_row(rs.rows.count, 1, [&](size_t r, Members& out) {
                if (m[r] < 0) return;
                int32_t target = s->levelOf(h, m[r]);
                if (fixedLevel >= 0) target = fixedLevel;
                else if (distance) {
                  if (!d.ok[r]) return;
                  target += static_cast<int32_t>(d.v[r]);
                }
                // Depth first in hierarchy order, without recursion.
                std::vector<int32_t> pending{m[r]};
                while (!pending.empty()) {
                  const int32_t x = pending.back();
                  pending.pop_back();
                  const int32_t l = s->levelOf(h, x);
                  const auto& c = s->children(h, x);
                  bool keep;
                  switch (flag) {
                    case ET_SELF: keep = l == target; break;
                    case ET_AFTER: keep = l > target; break;
                    case ET_BEFORE: keep = l < target; break;
                    case ET_BEFORE_AND_AFTER: keep = l != target; break;
                    case ET_SELF_AND_AFTER: keep = l >= target; break;
                    case ET_SELF_AND_BEFORE: keep = l <= target; break;
                    case ET_LEAVES: keep = l == target || (l < target && c.empty()); break;
                    default: keep = true;
                  }
                  if (keep) out.push_back(x);
                  const bool deeper = flag == ET_AFTER || flag == ET_SELF_AND_AFTER ||
                                      flag == ET_BEFORE_AND_AFTER || flag == ET_SELF_BEFORE_AFTER ||
                                      l < target;
                  if (deeper) pending.insert(pending.end(), c.rbegin(), c.rend());
                }
              });
            }};
  }

  SetFn periods_to_date(MemFn from, int32_t fixedLevel) {
    return member_set(from, [fixedLevel](const CellSource& s, int32_t h, int32_t m, Members& out) {
      const int32_t own = s.levelOf(h, m);
      const int32_t at = fixedLevel >= 0 ? fixedLevel : own - 1;
      if (at < 0 || at > own) return;
      const int32_t top = ancestor_at(s, h, m, at);
      const auto& level = s.levelMembers(h, own);
      auto end = std::lower_bound(level.begin(), level.end(), m);
      auto begin = end;
      while (begin != level.begin() && ancestor_at(s, h, *(begin - 1), at) == top) --begin;
      out.insert(out.end(), begin, end + 1);
    });
  }

  SetFn to_date(Expression& e, const char* levelName) {
    MemFn m = member(arg(e, 0));
    const int32_t l = m_Source.findLevelByName(m.h, levelName);
    if (l < 0)
      invalid(TOVAString().build("%s needs a level '%s' in its hierarchy", keyword(e), TOVAString(levelName)));
    return periods_to_date(m, l);
  }

  // A numeric evaluated at each tuple of a set: the set's hierarchies must not hold measures,
  // since measures are fixed when compiling.
  NumFn over_set(const SetFn& s, Expression& value) {
    if (std::find(s.h.begin(), s.h.end(), m_MeasuresHierarchy) != s.h.end())
      unsupported("a set of measures as the operand of an aggregation");
    return num(value);
  }
  NumFn current_value(const SetFn& s) {
    if (std::find(s.h.begin(), s.h.end(), m_MeasuresHierarchy) != s.h.end())
      unsupported("a set of measures as the operand of an aggregation");
    return value_at({});
  }

  NumFn aggregate(Expression& e) {
    auto& k = e.getExpressions();
    SetFn s = set(arg(e, 0));
    NumFn value = k.size() > 1 ? over_set(s, arg(e, 1)) : current_value(s);
    const auto type = e.getType();
    return [s, value, type](const Rowset& rs, State& st) {
      const Set x = s.f(rs, st);
      const Num v = value(expand(rs, s.h, x, st), st);
      const size_t w = s.h.size();
      Num r(rs.rows.count);
      std::vector<double> xs;
      for (size_t i = 0; i < rs.rows.count; ++i) {
        xs.clear();
        for (size_t t = x.off[i]; t < x.off[i + 1]; ++t)
          if (v.ok[t]) xs.push_back(v.v[t]);
        const double n = static_cast<double>(xs.size());
        switch (type) {
          case ET_COUNT_EXCLUDEEMPTY: r.set(i, n); continue;
          case ET_DISTINCTCOUNT: {
            std::vector<Tuple> seen;
            for (size_t t = x.off[i]; t < x.off[i + 1]; ++t) {
              Tuple tu(x.m.begin() + t * w, x.m.begin() + (t + 1) * w);
              if (v.ok[t] && std::find(seen.begin(), seen.end(), tu) == seen.end()) seen.push_back(tu);
            }
            r.set(i, static_cast<double>(seen.size()));
            continue;
          }
          default: break;
        }
        if (xs.empty()) continue;
        const double sum = std::accumulate(xs.begin(), xs.end(), 0.0);
        const double mean = sum / n;
        double squares = 0;
        for (double y : xs) squares += (y - mean) * (y - mean);
        switch (type) {
          case ET_SUM: r.set(i, sum); break;
          case ET_AVG: r.set(i, mean); break;
          case ET_MIN: r.set(i, *std::min_element(xs.begin(), xs.end())); break;
          case ET_MAX: r.set(i, *std::max_element(xs.begin(), xs.end())); break;
          case ET_MEDIAN: {
            std::sort(xs.begin(), xs.end());
            const size_t mid = xs.size() / 2;
            r.set(i, xs.size() % 2 ? xs[mid] : (xs[mid - 1] + xs[mid]) / 2);
            break;
          }
          case ET_VAR: if (xs.size() > 1) r.set(i, squares / (n - 1)); break;
          case ET_STDEV: if (xs.size() > 1) r.set(i, std::sqrt(squares / (n - 1))); break;
          case ET_VARP: r.set(i, squares / n); break;
          case ET_STDEVP: r.set(i, std::sqrt(squares / n)); break;
          default: break;
        }
      }
      return r;
    };
  }

  // Rank(tuple, set): the 1-based position of the tuple in the set, 0 when absent; with a
  // numeric, 1 plus the number of tuples of the set of greater value (ties share a rank).
  NumFn rank(Expression& e) {
    auto& k = e.getExpressions();
    std::vector<MemFn> of = tuple(arg(e, 0));
    SetFn s = set(arg(e, 1));
    std::vector<int32_t> order;  // position of each set hierarchy in the tuple
    for (int32_t h : s.h) {
      size_t j = 0;
      while (j < of.size() && of[j].h != h) ++j;
      if (j == of.size() || of.size() != s.h.size()) invalid("Rank's tuple and set name different hierarchies");
      order.push_back(static_cast<int32_t>(j));
    }
    NumFn value = k.size() > 2 ? over_set(s, arg(e, 2)) : NumFn();
    return [of, s, order, value](const Rowset& rs, State& st) {
      const Set x = s.f(rs, st);
      std::vector<Members> cols;
      for (const MemFn& m : of) cols.push_back(m.f(rs, st));
      const Num v = value ? value(expand(rs, s.h, x, st), st) : Num();
      const size_t w = s.h.size();
      Num r(rs.rows.count);
      for (size_t i = 0; i < rs.rows.count; ++i) {
        size_t found = SIZE_MAX;
        for (size_t t = x.off[i]; t < x.off[i + 1] && found == SIZE_MAX; ++t) {
          bool same = true;
          for (size_t j = 0; j < w; ++j) same = same && x.m[t * w + j] == cols[static_cast<size_t>(order[j])][i];
          if (same) found = t;
        }
        if (found == SIZE_MAX) {
          r.set(i, 0.0);
          continue;
        }
        if (!value) {
          r.set(i, static_cast<double>(found - x.off[i] + 1));
          continue;
        }
        const double mine = empty_low(v, found);
        size_t above = 0;
        for (size_t t = x.off[i]; t < x.off[i + 1]; ++t) above += empty_low(v, t) > mine;
        r.set(i, static_cast<double>(above + 1));
      }
      return r;
    };
  }

  SetFn ranking(Expression& e) {
    SetFn s = set(arg(e, 0));
    NumFn n = num(arg(e, 1));
    NumFn value = over_set(s, arg(e, 2));
    const auto type = e.getType();
    const bool top = type == ET_TOPCOUNT || type == ET_TOPPERCENT || type == ET_TOPSUM;
    return {s.h, [s, n, value, type, top](const Rowset& rs, State& st) {
              const Set x = s.f(rs, st);
              const Num v = value(expand(rs, s.h, x, st), st);
              const Num limit = n(rs, st);
              const size_t w = s.h.size();
              Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                std::vector<size_t> idx(x.off[r + 1] - x.off[r]);
                std::iota(idx.begin(), idx.end(), x.off[r]);
                // Empty values rank last either way.
                std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
                  if (v.ok[a] != v.ok[b]) return v.ok[a] > v.ok[b];
                  return top ? v.v[a] > v.v[b] : v.v[a] < v.v[b];
                });
                if (!limit.ok[r]) return;
                size_t take = 0;
                if (type == ET_TOPCOUNT || type == ET_BOTTOMCOUNT) {
                  take = limit.v[r] > 0 ? std::min(idx.size(), static_cast<size_t>(limit.v[r])) : 0;
                } else {
                  double total = 0;
                  for (size_t t : idx) total += v.ok[t] ? v.v[t] : 0.0;
                  const double goal =
                      type == ET_TOPSUM || type == ET_BOTTOMSUM ? limit.v[r] : total * limit.v[r] / 100.0;
                  double running = 0;
                  while (take < idx.size() && running < goal) running += v.ok[idx[take]] ? v.v[idx[take++]] : (++take, 0.0);
                }
                for (size_t i = 0; i < take; ++i)
                  m.insert(m.end(), x.m.begin() + idx[i] * w, x.m.begin() + (idx[i] + 1) * w);
              });
              return out;
            }};
  }

  SetFn order(Expression& e) {
    auto& k = e.getExpressions();
    SetFn s = set(arg(e, 0));
    NumFn value = over_set(s, arg(e, 1));
    const auto direction = k.size() > 2 ? k[2]->getType() : ET_ASC;
    if (direction != ET_ASC && direction != ET_DESC && direction != ET_BASC && direction != ET_BDESC)
      unsupported(*k[2]);
    const bool descending = direction == ET_DESC || direction == ET_BDESC;
    const bool hierarchical = direction == ET_ASC || direction == ET_DESC;
    if (hierarchical && s.h.size() != 1) unsupported("Order ASC or DESC of tuples of several hierarchies");
    CellSource* src = &m_Source;
    return {s.h, [s, value, descending, hierarchical, src](const Rowset& rs, State& st) {
              const Set x = s.f(rs, st);
              const size_t w = s.h.size();
              auto before = [descending](double a, double b) { return descending ? a > b : a < b; };
              if (!hierarchical) {
                const Num v = value(expand(rs, s.h, x, st), st);
                Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                  std::vector<size_t> idx(x.off[r + 1] - x.off[r]);
                  std::iota(idx.begin(), idx.end(), x.off[r]);
                  std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
                    return before(empty_low(v, a), empty_low(v, b));
                  });
                  for (size_t t : idx) m.insert(m.end(), x.m.begin() + t * w, x.m.begin() + (t + 1) * w);
                });
                return out;
              }
              // Hierarchical: siblings are ordered among themselves and children stay under
              // their parents, so each member is keyed by the values of its ancestors.
              const int32_t h = s.h[0];
              Set chains = per_row(rs.rows.count, 1, [&](size_t r, Members& m) {
                for (size_t t = x.off[r]; t < x.off[r + 1]; ++t)
                  for (int32_t a = x.m[t]; a >= 0; a = src->parent(h, a)) m.push_back(a);
              });
              const Num v = value(expand(rs, s.h, chains, st), st);
              Set out = per_row(rs.rows.count, 1, [&](size_t r, Members& m) {
                std::map<int32_t, double> valueOf;
                for (size_t t = chains.off[r]; t < chains.off[r + 1]; ++t) valueOf[chains.m[t]] = empty_low(v, t);
                auto path = [&](int32_t a) {
                  std::vector<int32_t> p;
                  for (; a >= 0; a = src->parent(h, a)) p.push_back(a);
                  std::reverse(p.begin(), p.end());
                  return p;
                };
                std::vector<std::vector<int32_t>> paths;
                for (size_t t = x.off[r]; t < x.off[r + 1]; ++t) paths.push_back(path(x.m[t]));
                std::vector<size_t> idx(paths.size());
                std::iota(idx.begin(), idx.end(), 0);
                std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
                  const auto& pa = paths[a];
                  const auto& pb = paths[b];
                  for (size_t i = 0; i < std::min(pa.size(), pb.size()); ++i) {
                    if (pa[i] == pb[i]) continue;
                    const double va = valueOf[pa[i]], vb = valueOf[pb[i]];
                    if (va != vb) return before(va, vb);
                    return pa[i] < pb[i];
                  }
                  return pa.size() < pb.size();
                });
                for (size_t i : idx) m.push_back(paths[i].back());
              });
              return out;
            }};
  }

  // Union (0), Except (1), Intersect (2); without ALL duplicates are dropped.
  SetFn combine(Expression& e, int kind) {
    SetFn a = set(arg(e, 0)), b = set(arg(e, 1));
    if (a.h != b.h) invalid(TOVAString().build("%s of sets of different hierarchies", keyword(e)));
    const auto t = e.getType();
    const bool all = t == ET_UNION_ALL || t == ET_EXCEPT_ALL || t == ET_INTERSECT_ALL;
    return {a.h, [a, b, kind, all](const Rowset& rs, State& st) {
              const Set x = a.f(rs, st), y = b.f(rs, st);
              const size_t w = a.h.size();
              Set out = per_row(rs.rows.count, w, [&](size_t r, Members& m) {
                auto tuples = [&](const Set& s) {
                  std::vector<Tuple> out;
                  for (size_t i = s.off[r]; i < s.off[r + 1]; ++i)
                    out.emplace_back(s.m.begin() + i * w, s.m.begin() + (i + 1) * w);
                  return out;
                };
                const std::vector<Tuple> xs = tuples(x), ys = tuples(y);
                std::vector<Tuple> result;
                auto add = [&](const Tuple& tu) {
                  if (all || std::find(result.begin(), result.end(), tu) == result.end()) result.push_back(tu);
                };
                auto in_y = [&](const Tuple& tu) { return std::find(ys.begin(), ys.end(), tu) != ys.end(); };
                for (const Tuple& tu : xs)
                  if (kind == 0 || (kind == 1) != in_y(tu)) add(tu);
                if (kind == 0)
                  for (const Tuple& tu : ys) add(tu);
                for (const Tuple& tu : result) m.insert(m.end(), tu.begin(), tu.end());
              });
              return out;
            }};
  }

  CellSource& m_Source;
  TOVAString m_Context;
  std::vector<int32_t>& m_Measures;
  int32_t m_MeasuresHierarchy;
};

}  // namespace

struct CompiledExpression::Program {
  CellSource* source = nullptr;
  std::vector<int32_t> measures;  // stored measures the expression reads
  NumFn root;
};

CompiledExpression::CompiledExpression(std::unique_ptr<Program> program) : m_pProgram(std::move(program)) {}
CompiledExpression::~CompiledExpression() = default;

std::unique_ptr<CompiledExpression> CompiledExpression::compileCalculation(CellSource& source, int32_t hierarchy,
                                                                           int32_t member) {
  auto program = std::make_unique<Program>();
  program->source = &source;
  Compiler compiler(source, source.memberUniqueName(hierarchy, member), program->measures);
  if (hierarchy != source.measuresHierarchy() || !source.calculation(hierarchy, member))
    compiler.unsupported("a calculated member outside the measures");
  program->root = compiler.measure_value(member);
  return std::unique_ptr<CompiledExpression>(new CompiledExpression(std::move(program)));
}

std::unique_ptr<CompiledExpression> CompiledExpression::compile(CellSource& source, NUVA_o::Expression& root,
                                                                int32_t currentMeasure,
                                                                const TOVAString& context) {
  auto program = std::make_unique<Program>();
  program->source = &source;
  Compiler compiler(source, context, program->measures);
  compiler.m_CurrentMeasure = currentMeasure;
  program->root = compiler.num(root);
  return std::unique_ptr<CompiledExpression>(new CompiledExpression(std::move(program)));
}

void CompiledExpression::evaluate(const EvaluationRows& rows, std::vector<double>& values,
                                  std::vector<uint8_t>& filled) const {
  State state{*m_pProgram->source, m_pProgram->measures, 1, {}};
  Rowset rs{rows, 0};
  Num result = m_pProgram->root(rs, state);
  values = std::move(result.v);
  filled = std::move(result.ok);
}

struct CompiledSet::Program {
  CellSource* source = nullptr;
  std::vector<int32_t> measures;
  SetFn root;
};

CompiledSet::CompiledSet(std::unique_ptr<Program> program) : m_pProgram(std::move(program)) {}
CompiledSet::~CompiledSet() = default;

bool CompiledSet::isSet(NUVA_o::Expression& root) {
  switch (root.getType()) {
    case ET_SET: case ET_MEMBERS: case ET_CHILDREN: case ET_SIBLINGS: case ET_DESCENDANTS:
    case ET_PERIODSTODATE: case ET_YTD: case ET_QTD: case ET_MTD: case ET_WTD: case ET_HEAD:
    case ET_TAIL: case ET_TOPCOUNT: case ET_BOTTOMCOUNT: case ET_TOPPERCENT: case ET_BOTTOMPERCENT:
    case ET_TOPSUM: case ET_BOTTOMSUM: case ET_FILTER: case ET_ORDER: case ET_CROSSJOIN:
    case ET_UNION: case ET_UNION_ALL: case ET_EXCEPT: case ET_EXCEPT_ALL: case ET_INTERSECT:
    case ET_INTERSECT_ALL: case ET_DISTINCT: case ET_HIERARCHIZE:
      return true;
    default:
      return false;
  }
}

std::unique_ptr<CompiledSet> CompiledSet::compile(CellSource& source, NUVA_o::Expression& root,
                                                  int32_t currentMeasure, const TOVAString& context) {
  auto program = std::make_unique<Program>();
  program->source = &source;
  Compiler compiler(source, context, program->measures);
  compiler.m_CurrentMeasure = currentMeasure;
  program->root = compiler.whole_set(root);
  return std::unique_ptr<CompiledSet>(new CompiledSet(std::move(program)));
}

const std::vector<int32_t>& CompiledSet::hierarchies() const { return m_pProgram->root.h; }

std::vector<int32_t> CompiledSet::evaluate() const {
  State state{*m_pProgram->source, m_pProgram->measures, 1, {}};
  Rowset rs;
  rs.rows.count = 1;
  Set result = m_pProgram->root.f(rs, state);
  return std::move(result.m);
}

}  // namespace common
