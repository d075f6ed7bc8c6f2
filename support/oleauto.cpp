#include "support/oleauto.h"

#include "support/TOVAString.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

// A BSTR points just past a 32-bit byte length and is terminated by a null code unit.
extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, unsigned length) {
  size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  block[0] = static_cast<uint32_t>(bytes);
  BSTR s = reinterpret_cast<BSTR>(block + 1);
  if (text) std::memcpy(s, text, bytes);
  else std::memset(s, 0, bytes);
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  unsigned n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

int SysReAllocStringLen(BSTR* target, const OLECHAR* text, unsigned length) {
  if (target == nullptr) return 0;
  BSTR fresh = SysAllocStringLen(text, length);
  if (fresh == nullptr) return 0;
  SysFreeString(*target);
  *target = fresh;
  return 1;
}

unsigned SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  return reinterpret_cast<uint32_t*>(text)[-1] / sizeof(OLECHAR);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint32_t*>(text) - 1);
}

}  // extern "C"

// ---------------------------------------------------------------------------------------------
// VARIANT handling.

namespace {

constexpr int kMaxDecimalScale = 28;
using u128 = unsigned __int128;
using i128 = __int128;
constexpr u128 kDecimalLimit = static_cast<u128>(1) << 96;  // mantissas stay below this

bool isKnownScalar(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL:
    case VT_UNKNOWN: case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// A DECIMAL's magnitude as one number.
u128 mantissa(const DECIMAL& d) { return (static_cast<u128>(d.Hi32) << 64) | d.Lo64; }

void setMantissa(DECIMAL& d, u128 m) {
  d.Hi32 = static_cast<uint32_t>(m >> 64);
  d.Lo64 = static_cast<uint64_t>(m);
}

u128 pow10u(int n) {
  u128 r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

// Divides by 10^n rounding half to even.
// An unsigned 256-bit number in base 2^32 limbs, least significant first: enough for exact
// decimal arithmetic on two mantissas brought to a common scale (28 digits within 2^190).
struct U256 {
  static constexpr int kLimbs = 8;
  uint32_t limb[kLimbs] = {};

  explicit U256(u128 value = 0) {
    for (int k = 0; k < 4; ++k) limb[k] = static_cast<uint32_t>(value >> (32 * k));
  }
  // Multiplies by 10^n.
  void scaleUp(int n) {
    for (; n > 0; --n) {
      uint64_t carry = 0;
      for (uint32_t& l : limb) {
        const uint64_t t = static_cast<uint64_t>(l) * 10 + carry;
        l = static_cast<uint32_t>(t);
        carry = t >> 32;
      }
    }
  }
  // Divides by 10 and returns the remainder.
  int divide10() {
    uint64_t rem = 0;
    for (int k = kLimbs - 1; k >= 0; --k) {
      const uint64_t t = (rem << 32) | limb[k];
      limb[k] = static_cast<uint32_t>(t / 10);
      rem = t % 10;
    }
    return static_cast<int>(rem);
  }
  static int compare(const U256& a, const U256& b) {
    for (int k = kLimbs - 1; k >= 0; --k)
      if (a.limb[k] != b.limb[k]) return a.limb[k] < b.limb[k] ? -1 : 1;
    return 0;
  }
  static U256 add(const U256& a, const U256& b) {
    U256 out;
    uint64_t carry = 0;
    for (int k = 0; k < kLimbs; ++k) {
      const uint64_t t = static_cast<uint64_t>(a.limb[k]) + b.limb[k] + carry;
      out.limb[k] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    return out;
  }
  // a - b for a >= b.
  static U256 subtract(const U256& a, const U256& b) {
    U256 out;
    int64_t borrow = 0;
    for (int k = 0; k < kLimbs; ++k) {
      const int64_t t = static_cast<int64_t>(a.limb[k]) - b.limb[k] - borrow;
      borrow = t < 0;
      out.limb[k] = static_cast<uint32_t>(t + (borrow << 32));
    }
    return out;
  }
  bool isZero() const { return compare(*this, U256()) == 0; }
  bool fits96() const {
    for (int k = 3; k < kLimbs; ++k)
      if (limb[k]) return false;
    return true;
  }
  u128 low96() const {
    return (static_cast<u128>(limb[2]) << 64) | (static_cast<u128>(limb[1]) << 32) | limb[0];
  }
};

u128 divRound(u128 value, int n) {
  if (n <= 0) return value;
  u128 p = pow10u(n);
  u128 q = value / p, r = value % p;
  u128 half = p / 2;
  if (r > half || (r == half && (q & 1))) ++q;
  return q;
}

// A value read out of a VARIANT: an exact integer, a decimal, or a real.
struct Number {
  enum Kind { N_INT, N_DEC, N_REAL } kind = N_INT;
  i128 i = 0;
  u128 mant = 0;  // N_DEC magnitude
  int scale = 0;  // N_DEC power of ten
  bool neg = false;
  double d = 0;
  bool hasReal = false;  // `d` holds the nearest double of a decimal parsed from text

  static Number integer(i128 v) { Number n; n.kind = N_INT; n.i = v; return n; }
  static Number real(double v) { Number n; n.kind = N_REAL; n.d = v; return n; }
  static Number decimal(u128 m, int scale, bool neg) {
    Number n;
    n.kind = N_DEC;
    n.mant = m;
    n.scale = scale;
    n.neg = neg && m != 0;
    if (scale == 0 && m < kDecimalLimit) return integer(n.neg ? -static_cast<i128>(m) : static_cast<i128>(m));
    return n;
  }

  double toDouble() const {
    if (kind == N_REAL || hasReal) return d;
    if (kind == N_INT) return static_cast<double>(i);
    double v = static_cast<double>(mant) / std::pow(10.0, scale);
    return neg ? -v : v;
  }
  bool isZero() const {
    return kind == N_INT ? i == 0 : kind == N_DEC ? mant == 0 : d == 0.0;
  }
  // The value rounded half to even to an integer; false when it is not finite or too large.
  bool toInteger(i128& out) const {
    if (kind == N_INT) { out = i; return true; }
    if (kind == N_DEC) {
      u128 q = divRound(mant, scale);
      out = neg ? -static_cast<i128>(q) : static_cast<i128>(q);
      return true;
    }
    if (!std::isfinite(d) || std::fabs(d) >= 1e20) return false;
    out = static_cast<i128>(std::nearbyint(d));  // the default rounding mode is half to even
    return true;
  }
};

// Rounds a decimal magnitude to at most `maxScale` digits and to 96 bits; false on overflow.
bool normaliseDecimal(u128& m, int& scale, int maxScale = kMaxDecimalScale) {
  if (scale > maxScale) {
    m = divRound(m, scale - maxScale);
    scale = maxScale;
  }
  while (m >= kDecimalLimit) {
    if (scale == 0) return false;
    m = divRound(m, 1);
    --scale;
  }
  return true;
}

// Parses decimal text ('.' as separator, optional sign and exponent, surrounding blanks).
// Exact for up to 28 significant digits; longer or out-of-range text becomes a real.
bool parseNumber(std::u16string_view text, Number& out) {
  std::string s;
  for (char16_t c : text) {
    if (c > 0x7F) return false;
    s += static_cast<char>(c);
  }
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return false;
  size_t e = s.find_last_not_of(" \t");
  s = s.substr(b, e - b + 1);
  if (s[0] == '+') s.erase(0, 1);
  double d = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (end != s.data() + s.size()) return false;
  if (s.find_first_of("nNiI") != std::string::npos) return false;  // no inf or nan texts
  if (ec == std::errc::result_out_of_range) {
    // Too small reads as 0; too large keeps its sign and overflows every target.
    size_t x = s.find_first_of("eE");
    bool tiny = x != std::string::npos && s[x + 1] == '-';
    out = Number::real(tiny ? 0.0 : s[0] == '-' ? -HUGE_VAL : HUGE_VAL);
    return true;
  }
  if (ec != std::errc()) return false;
  // Exact form: digits, point, exponent.
  bool neg = s[0] == '-';
  size_t i = neg ? 1 : 0;
  u128 m = 0;
  int digits = 0, scale = 0;
  bool exact = true, seenPoint = false;
  for (; i < s.size() && s[i] != 'e' && s[i] != 'E'; ++i) {
    if (s[i] == '.') { seenPoint = true; continue; }
    int digit = s[i] - '0';
    if (digits == 0 && digit == 0) {
      if (seenPoint) ++scale;
      continue;
    }
    if (digits >= 29) { exact = false; break; }
    m = m * 10 + static_cast<unsigned>(digit);
    ++digits;
    if (seenPoint) ++scale;
  }
  long exponent = 0;
  if (exact && i < s.size()) {
    auto [xe, xc] = std::from_chars(s.data() + i + 1 + (s[i + 1] == '+' ? 1 : 0), s.data() + s.size(), exponent);
    if (xc != std::errc() || xe != s.data() + s.size() || exponent > 1000 || exponent < -1000)
      exact = false;
  }
  if (exact) {
    long sc = scale - exponent;
    if (m == 0) { out = Number::integer(0); return true; }
    if (sc < 0) {
      if (sc < -28 || digits - sc > 29) exact = false;
      else { m *= pow10u(static_cast<int>(-sc)); sc = 0; }
    }
    if (exact && sc <= 60) {
      int scl = static_cast<int>(sc);
      if (normaliseDecimal(m, scl)) {
        out = Number::decimal(m, scl, neg);
      } else {
        // Up to 29 digits without a fraction: beyond 96 bits but still exact as an integer.
        out = Number::integer(neg ? -static_cast<i128>(m) : static_cast<i128>(m));
      }
      out.d = d;
      out.hasReal = true;
      return true;
    }
  }
  out = Number::real(d);
  return true;
}

// Days from 1970-01-01 of a civil date and back (proleptic Gregorian calendar).
long daysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void civilFromDays(long z, long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const long kDateEpoch = daysFromCivil(1899, 12, 30);  // day 0 of a DATE
// DATE values the conversions accept: years 100 to 9999.
constexpr double kMinDate = -657434.0, kMaxDate = 2958465.99999999;

struct DateParts {
  long year;
  unsigned month, day, hour, minute, second;
};

// Splits a DATE (days since 1899-12-30; the fraction is the time of day, counted away from
// day 0 for negative values) into its fields, rounded to the second.
bool splitDate(DATE date, DateParts& p) {
  if (!(date >= kMinDate && date <= kMaxDate + 1)) return false;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  long seconds = std::lround(fraction * 86400.0);
  long days = static_cast<long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += date < 0 ? -1 : 1;
  }
  civilFromDays(days + kDateEpoch, p.year, p.month, p.day);
  p.hour = static_cast<unsigned>(seconds / 3600);
  p.minute = static_cast<unsigned>(seconds / 60 % 60);
  p.second = static_cast<unsigned>(seconds % 60);
  return true;
}

DATE makeDate(const DateParts& p) {
  long days = daysFromCivil(p.year, p.month, p.day) - kDateEpoch;
  double time = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
  return days >= 0 ? days + time : days - time;
}

bool parseDate(std::u16string_view text, DATE& out) {
  std::string s;
  for (char16_t c : text) {
    if (c > 0x7F) return false;
    s += static_cast<char>(c);
  }
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  s = s.substr(b, s.find_last_not_of(' ') - b + 1);
  DateParts p{1899, 12, 30, 0, 0, 0};
  auto number = [&](size_t& i, size_t count, auto& value) {
    if (i + count > s.size()) return false;
    unsigned v = 0;
    for (size_t k = 0; k < count; ++k) {
      char c = s[i + k];
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    value = v;
    i += count;
    return true;
  };
  size_t i = 0;
  bool hasDate = s.size() >= 10 && s[4] == '-';
  if (hasDate) {
    if (!number(i, 4, p.year) || s[i++] != '-' || !number(i, 2, p.month) || s[i++] != '-' ||
        !number(i, 2, p.day))
      return false;
    if (p.month < 1 || p.month > 12 || p.day < 1) return false;
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (p.year % 4 == 0 && p.year % 100 != 0) || p.year % 400 == 0;
    if (p.day > kDays[p.month - 1] || (p.month == 2 && p.day == 29 && !leap)) return false;
    if (p.year < 100) return false;
    if (i < s.size()) {
      if (s[i] != ' ' && s[i] != 'T') return false;
      ++i;
    }
  }
  if (i < s.size()) {
    if (!number(i, 2, p.hour) || s[i++] != ':' || !number(i, 2, p.minute)) return false;
    if (i < s.size() && (s[i++] != ':' || !number(i, 2, p.second))) return false;
    if (i != s.size() || p.hour > 23 || p.minute > 59 || p.second > 59) return false;
  } else if (!hasDate) {
    return false;
  }
  out = makeDate(p);
  return true;
}

std::u16string asciiText(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string formatDate(DATE date) {
  DateParts p;
  if (!splitDate(date, p)) return std::u16string();
  char buf[40];
  bool hasTime = p.hour || p.minute || p.second;
  bool dateZero = p.year == 1899 && p.month == 12 && p.day == 30;
  if (dateZero && hasTime)
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", p.hour, p.minute, p.second);
  else if (hasTime)
    std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u %02u:%02u:%02u", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
  else
    std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u", p.year, p.month, p.day);
  return asciiText(buf);
}

std::u16string formatDecimal(u128 m, int scale, bool neg) {
  std::string digits;
  do {
    digits += static_cast<char>('0' + static_cast<int>(m % 10));
    m /= 10;
  } while (m != 0);
  while (static_cast<int>(digits.size()) <= scale) digits += '0';
  std::reverse(digits.begin(), digits.end());
  if (scale > 0) {
    digits.insert(digits.size() - scale, 1, '.');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (neg && digits != "0") digits.insert(0, 1, '-');
  return asciiText(digits);
}

std::u16string formatNumber(const Number& n, bool single) {
  if (n.kind == Number::N_INT) {
    bool neg = n.i < 0;
    return formatDecimal(neg ? static_cast<u128>(-n.i) : static_cast<u128>(n.i), 0, neg);
  }
  if (n.kind == Number::N_DEC) return formatDecimal(n.mant, n.scale, n.neg);
  char buf[64];
  auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(n.d))
                  : std::to_chars(buf, buf + sizeof buf, n.d);
  return asciiText(std::string(buf, r.ptr));
}

// Reads a scalar VARIANT's numeric value; false for types without one.
bool readNumber(const VARIANT& v, Number& n) {
  switch (v.vt) {
    case VT_EMPTY: n = Number::integer(0); return true;
    case VT_I1: n = Number::integer(v.cVal); return true;
    case VT_I2: n = Number::integer(v.iVal); return true;
    case VT_I4: case VT_INT: n = Number::integer(v.lVal); return true;
    case VT_I8: n = Number::integer(v.llVal); return true;
    case VT_UI1: n = Number::integer(v.bVal); return true;
    case VT_UI2: n = Number::integer(v.uiVal); return true;
    case VT_UI4: case VT_UINT: n = Number::integer(v.ulVal); return true;
    case VT_UI8: n = Number::integer(static_cast<i128>(v.ullVal)); return true;
    case VT_BOOL: n = Number::integer(v.boolVal ? -1 : 0); return true;
    case VT_R4: n = Number::real(v.fltVal); return true;
    case VT_R8: case VT_DATE: n = Number::real(v.dblVal); return true;
    case VT_CY: {
      bool neg = v.cyVal.int64 < 0;
      u128 m = neg ? static_cast<u128>(-static_cast<i128>(v.cyVal.int64)) : static_cast<u128>(v.cyVal.int64);
      n = Number::decimal(m, 4, neg);
      return true;
    }
    case VT_DECIMAL: {
      const DECIMAL& d = V_DECIMAL(&v);
      if (d.scale > kMaxDecimalScale) return false;
      n = Number::decimal(mantissa(d), d.scale, (d.sign & DECIMAL_NEG) != 0);
      return true;
    }
    default:
      return false;
  }
}

template <class T>
HRESULT storeInteger(const Number& n, T& out) {
  i128 v;
  if (!n.toInteger(v)) return DISP_E_OVERFLOW;
  if (v < static_cast<i128>(std::numeric_limits<T>::min()) ||
      v > static_cast<i128>(std::numeric_limits<T>::max()))
    return DISP_E_OVERFLOW;
  out = static_cast<T>(v);
  return S_OK;
}

// Converts a number into `dest` (already VT_EMPTY) of type `vt`.
HRESULT storeNumber(const Number& n, VARIANT& dest, VARTYPE vt, uint16_t flags) {
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1: hr = storeInteger(n, dest.cVal); break;
    case VT_I2: hr = storeInteger(n, dest.iVal); break;
    case VT_I4: case VT_INT: hr = storeInteger(n, dest.lVal); break;
    case VT_I8: hr = storeInteger(n, dest.llVal); break;
    case VT_UI1: hr = storeInteger(n, dest.bVal); break;
    case VT_UI2: hr = storeInteger(n, dest.uiVal); break;
    case VT_UI4: case VT_UINT: hr = storeInteger(n, dest.ulVal); break;
    case VT_UI8: hr = storeInteger(n, dest.ullVal); break;
    case VT_BOOL: dest.boolVal = n.isZero() ? VARIANT_FALSE : VARIANT_TRUE; break;
    case VT_R4: {
      double d = n.toDouble();
      if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      dest.fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8:
      dest.dblVal = n.toDouble();
      if (!std::isfinite(dest.dblVal)) return DISP_E_OVERFLOW;
      break;
    case VT_DATE: {
      double d = n.toDouble();
      if (!(d >= kMinDate && d <= kMaxDate)) return DISP_E_OVERFLOW;
      dest.date = d;
      break;
    }
    case VT_CY: {
      i128 scaled;
      if (n.kind == Number::N_DEC) {
        u128 m = n.scale > 4 ? divRound(n.mant, n.scale - 4) : n.mant * pow10u(4 - n.scale);
        if (n.scale < 4 && n.mant > (static_cast<u128>(1) << 100)) return DISP_E_OVERFLOW;
        scaled = n.neg ? -static_cast<i128>(m) : static_cast<i128>(m);
      } else if (n.kind == Number::N_INT) {
        if (n.i > (static_cast<i128>(1) << 100) || n.i < -(static_cast<i128>(1) << 100)) return DISP_E_OVERFLOW;
        scaled = n.i * 10000;
      } else {
        if (!std::isfinite(n.d) || std::fabs(n.d) > 1e15) return DISP_E_OVERFLOW;
        scaled = static_cast<i128>(std::nearbyint(n.d * 10000.0));
      }
      if (scaled < INT64_MIN || scaled > INT64_MAX) return DISP_E_OVERFLOW;
      dest.cyVal.int64 = static_cast<int64_t>(scaled);
      break;
    }
    case VT_DECIMAL: {
      Number d = n;
      if (n.kind == Number::N_REAL) {
        if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
        // The shortest text that reads back as the double gives the decimal the user saw.
        if (!parseNumber(formatNumber(n, false), d) || d.kind == Number::N_REAL) return DISP_E_OVERFLOW;
      }
      u128 m;
      int scale = 0;
      bool neg;
      if (d.kind == Number::N_INT) {
        neg = d.i < 0;
        m = neg ? static_cast<u128>(-d.i) : static_cast<u128>(d.i);
      } else {
        m = d.mant;
        scale = d.scale;
        neg = d.neg;
      }
      if (!normaliseDecimal(m, scale)) return DISP_E_OVERFLOW;
      DECIMAL& out = V_DECIMAL(&dest);
      out.wReserved = 0;
      out.scale = static_cast<uint8_t>(scale);
      out.sign = neg && m != 0 ? DECIMAL_NEG : 0;
      setMantissa(out, m);
      break;
    }
    case VT_BSTR: {
      (void)flags;
      std::u16string text = formatNumber(n, false);
      dest.bstrVal = SysAllocStringLen(text.data(), static_cast<unsigned>(text.size()));
      if (dest.bstrVal == nullptr) return E_OUTOFMEMORY;
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (SUCCEEDED(hr)) dest.vt = vt;
  return hr;
}

bool isConvertibleTarget(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_BOOL: case VT_DECIMAL:
      return true;
    default:
      return false;
  }
}

// Converts a scalar (not by-reference) value into a cleared `dest`.
HRESULT changeType(VARIANT& dest, const VARIANT& src, uint16_t flags, VARTYPE vt) {
  if (src.vt == vt) return VariantCopy(&dest, &src);
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) {
    if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    dest.vt = VT_NULL;
    return S_OK;
  }
  if (src.vt == VT_NULL) return DISP_E_TYPEMISMATCH;
  if (src.vt == VT_EMPTY && vt == VT_BSTR) {
    dest.bstrVal = SysAllocStringLen(u"", 0);
    if (dest.bstrVal == nullptr) return E_OUTOFMEMORY;
    dest.vt = VT_BSTR;
    return S_OK;
  }
  if (src.vt == VT_BSTR) {
    std::u16string_view text(src.bstrVal ? src.bstrVal : u"", SysStringLen(src.bstrVal));
    if (vt == VT_BOOL) {
      std::u16string lower(text);
      for (char16_t& c : lower) if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
      size_t b = lower.find_first_not_of(u' ');
      lower = b == std::u16string::npos ? std::u16string() : lower.substr(b, lower.find_last_not_of(u' ') - b + 1);
      if (lower == u"true" || lower == u"#true#") { dest.vt = VT_BOOL; dest.boolVal = VARIANT_TRUE; return S_OK; }
      if (lower == u"false" || lower == u"#false#") { dest.vt = VT_BOOL; dest.boolVal = VARIANT_FALSE; return S_OK; }
    }
    if (vt == VT_DATE) {
      DATE d;
      if (!parseDate(text, d)) return DISP_E_TYPEMISMATCH;
      dest.vt = VT_DATE;
      dest.date = d;
      return S_OK;
    }
    Number n;
    if (!parseNumber(text, n)) return DISP_E_TYPEMISMATCH;
    return storeNumber(n, dest, vt, flags);
  }
  Number n;
  if (!readNumber(src, n)) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) {
    std::u16string text;
    if (src.vt == VT_BOOL)
      text = (flags & VARIANT_ALPHABOOL) ? (src.boolVal ? u"True" : u"False") : (src.boolVal ? u"-1" : u"0");
    else if (src.vt == VT_DATE)
      text = formatDate(src.date);
    else
      text = formatNumber(n, src.vt == VT_R4);
    if (text.empty() && src.vt == VT_DATE) return DISP_E_OVERFLOW;
    dest.bstrVal = SysAllocStringLen(text.data(), static_cast<unsigned>(text.size()));
    if (dest.bstrVal == nullptr) return E_OUTOFMEMORY;
    dest.vt = VT_BSTR;
    return S_OK;
  }
  if (src.vt == VT_BOOL && src.boolVal) {
    // True is all bits set in the target's width, as -1 is for the signed types.
    switch (vt) {
      case VT_UI1: dest.bVal = 0xFF; dest.vt = vt; return S_OK;
      case VT_UI2: dest.uiVal = 0xFFFF; dest.vt = vt; return S_OK;
      case VT_UI4: case VT_UINT: dest.ulVal = 0xFFFFFFFFu; dest.vt = vt; return S_OK;
      case VT_UI8: dest.ullVal = ~0ull; dest.vt = vt; return S_OK;
      default: break;
    }
  }
  return storeNumber(n, dest, vt, flags);
}

}  // namespace

extern "C" {

void VariantInit(VARIANTARG* v) {
  if (v == nullptr) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!(v->vt & VT_BYREF)) {
    if ((v->vt & ~VT_TYPEMASK) || !isKnownScalar(v->vt)) return DISP_E_BADVARTYPE;
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARTYPE type = src->vt & ~VT_BYREF;
  bool byref = (src->vt & VT_BYREF) != 0;
  if ((type & ~VT_TYPEMASK) || !(isKnownScalar(type) || (byref && type == VT_VARIANT)))
    return DISP_E_BADVARTYPE;
  VARIANT copy;
  std::memcpy(&copy, src, sizeof copy);
  if (!(src->vt & VT_BYREF)) {
    if (src->vt == VT_BSTR && src->bstrVal) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
      src->punkVal->AddRef();
    }
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  std::memcpy(dest, &copy, sizeof copy);
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  VARTYPE type = src->vt & ~VT_BYREF;
  if ((type & ~VT_TYPEMASK) || !(isKnownScalar(type) || type == VT_VARIANT) || type == VT_EMPTY ||
      type == VT_NULL)
    return DISP_E_BADVARTYPE;
  if (src->byref == nullptr) return E_INVALIDARG;
  VARIANT value;
  VariantInit(&value);
  if (type == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    if (inner->vt & VT_BYREF) return E_INVALIDARG;
    HRESULT hr = VariantCopy(&value, inner);
    if (FAILED(hr)) return hr;
  } else if (type == VT_DECIMAL) {
    std::memcpy(&value, src->byref, sizeof(DECIMAL));
    value.vt = VT_DECIMAL;
  } else {
    value.vt = type;
    switch (type) {
      case VT_I1: case VT_UI1: std::memcpy(&value.bVal, src->byref, 1); break;
      case VT_I2: case VT_UI2: case VT_BOOL: std::memcpy(&value.iVal, src->byref, 2); break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
        std::memcpy(&value.lVal, src->byref, 4);
        break;
      case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY:
        std::memcpy(&value.llVal, src->byref, 8);
        break;
      case VT_BSTR: {
        BSTR s = *static_cast<BSTR*>(src->byref);
        value.bstrVal = s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr;
        if (s && value.bstrVal == nullptr) return E_OUTOFMEMORY;
        break;
      }
      case VT_UNKNOWN: case VT_DISPATCH:
        value.punkVal = *static_cast<IUnknown**>(src->byref);
        if (value.punkVal) value.punkVal->AddRef();
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  // `src` may be `dest`: it is only cleared once the value has been taken out.
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&value);
    return hr;
  }
  std::memcpy(dest, &value, sizeof value);
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, uint16_t flags, VARTYPE type) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!isConvertibleTarget(type)) return DISP_E_BADVARTYPE;
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = VariantCopyInd(&value, src);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  hr = changeType(result, value, flags, type);
  VariantClear(&value);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // `dest` may be `src`: it is only replaced once the conversion has succeeded.
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  std::memcpy(dest, &result, sizeof result);
  return S_OK;
}

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID /*lcid*/, ULONG flags) {
  std::u16string_view a(left ? left : u"", SysStringLen(left));
  std::u16string_view b(right ? right : u"", SysStringLen(right));
  int c;
  if (flags & NORM_IGNORECASE)
    c = TOVAString::compare(TOVAString(a), TOVAString(b), 0);
  else
    c = a.compare(b);
  return c < 0 ? VARCMP_LT : c > 0 ? VARCMP_GT : VARCMP_EQ;
}

HRESULT VarCmp(const VARIANT* left, const VARIANT* right, LCID lcid, ULONG flags) {
  if (left == nullptr || right == nullptr) return E_INVALIDARG;
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  HRESULT hr = VariantCopyInd(&a, left);
  if (SUCCEEDED(hr)) hr = VariantCopyInd(&b, right);
  if (FAILED(hr)) {
    VariantClear(&a);
    VariantClear(&b);
    return hr;
  }
  if (a.vt == VT_NULL || b.vt == VT_NULL) {
    hr = VARCMP_NULL;
  } else if (a.vt == VT_BSTR || b.vt == VT_BSTR) {
    if (a.vt == VT_BSTR && b.vt == VT_BSTR) hr = VarBstrCmp(a.bstrVal, b.bstrVal, lcid, flags);
    else if (a.vt == VT_EMPTY) hr = VarBstrCmp(nullptr, b.bstrVal, lcid, flags);
    else if (b.vt == VT_EMPTY) hr = VarBstrCmp(a.bstrVal, nullptr, lcid, flags);
    else {
      Number n;
      // A number sorts before any text.
      hr = !readNumber(a.vt == VT_BSTR ? b : a, n) ? DISP_E_TYPEMISMATCH
           : a.vt == VT_BSTR                       ? VARCMP_GT
                                                   : VARCMP_LT;
    }
  } else {
    Number x, y;
    if (!readNumber(a, x) || !readNumber(b, y)) {
      hr = DISP_E_TYPEMISMATCH;
    } else if (x.kind == Number::N_REAL || y.kind == Number::N_REAL) {
      double p = x.toDouble(), q = y.toDouble();
      hr = (std::isnan(p) || std::isnan(q)) ? VARCMP_NULL : p < q ? VARCMP_LT : p > q ? VARCMP_GT : VARCMP_EQ;
    } else {
      // Exact: bring both to the larger scale (at most 28 digits, within 2^190).
      const int scale =
          std::max(x.kind == Number::N_DEC ? x.scale : 0, y.kind == Number::N_DEC ? y.scale : 0);
      auto toScaled = [scale](const Number& n, bool& neg) {
        const bool integer = n.kind == Number::N_INT;
        neg = integer ? n.i < 0 : n.neg;
        U256 m(integer ? (neg ? static_cast<u128>(-n.i) : static_cast<u128>(n.i)) : n.mant);
        m.scaleUp(scale - (integer ? 0 : n.scale));
        if (m.isZero()) neg = false;
        return m;
      };
      bool xn, yn;
      const U256 xm = toScaled(x, xn), ym = toScaled(y, yn);
      int c;
      if (xn != yn) c = xn ? -1 : 1;
      else c = xn ? -U256::compare(xm, ym) : U256::compare(xm, ym);
      hr = c < 0 ? VARCMP_LT : c > 0 ? VARCMP_GT : VARCMP_EQ;
    }
  }
  VariantClear(&a);
  VariantClear(&b);
  return hr;
}

HRESULT VarBstrCat(BSTR left, BSTR right, BSTR* result) {
  if (result == nullptr) return E_INVALIDARG;
  unsigned a = SysStringLen(left), b = SysStringLen(right);
  BSTR joined = SysAllocStringLen(nullptr, a + b);
  if (joined == nullptr) return E_OUTOFMEMORY;
  if (a) std::memcpy(joined, left, a * sizeof(OLECHAR));
  if (b) std::memcpy(joined + a, right, b * sizeof(OLECHAR));
  *result = joined;
  return S_OK;
}

HRESULT VarDecAdd(const DECIMAL* left, const DECIMAL* right, DECIMAL* result) {
  if (left == nullptr || right == nullptr || result == nullptr) return E_INVALIDARG;
  if (left->scale > kMaxDecimalScale || right->scale > kMaxDecimalScale) return E_INVALIDARG;
  // Exact sum at the larger scale in 256 bits, then rounded half to even to the fewest digits
  // that fit 96 bits.
  int scale = std::max(left->scale, right->scale);
  U256 a(mantissa(*left)), b(mantissa(*right));
  a.scaleUp(scale - left->scale);
  b.scaleUp(scale - right->scale);
  const bool aneg = (left->sign & DECIMAL_NEG) != 0, bneg = (right->sign & DECIMAL_NEG) != 0;
  U256 sum;
  bool neg;
  if (aneg == bneg) {
    sum = U256::add(a, b);
    neg = aneg;
  } else {
    const bool aBigger = U256::compare(a, b) >= 0;
    sum = aBigger ? U256::subtract(a, b) : U256::subtract(b, a);
    neg = aBigger ? aneg : bneg;
  }
  int lastDigit = 0;
  bool sticky = false, dropped = false;
  while (!sum.fits96() && scale > 0) {
    if (dropped) sticky = sticky || lastDigit != 0;
    lastDigit = sum.divide10();
    dropped = true;
    --scale;
  }
  if (!sum.fits96()) return DISP_E_OVERFLOW;
  u128 m = sum.low96();
  if (dropped && (lastDigit > 5 || (lastDigit == 5 && (sticky || (m & 1))))) {
    ++m;
    if (m >= kDecimalLimit) {
      if (scale == 0) return DISP_E_OVERFLOW;
      m = divRound(m, 1);
      --scale;
    }
  }
  result->wReserved = VT_DECIMAL;
  result->scale = static_cast<uint8_t>(scale);
  result->sign = neg && m != 0 ? DECIMAL_NEG : 0;
  setMantissa(*result, m);
  return S_OK;
}

int VariantTimeToDosDateTime(DATE time, uint16_t* dosDate, uint16_t* dosTime) {
  if (dosDate == nullptr || dosTime == nullptr) return 0;
  DateParts p;
  if (!splitDate(time, p) || p.year < 1980 || p.year > 2107) return 0;
  *dosDate = static_cast<uint16_t>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
  *dosTime = static_cast<uint16_t>((p.hour << 11) | (p.minute << 5) | (p.second / 2));
  return 1;
}

}  // extern "C"

// ---------------------------------------------------------------------------------------------
// Error information.

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {
// The calling thread's error object; the reference is dropped when the thread ends.
struct ThreadErrorInfo {
  IErrorInfo* info = nullptr;
  ~ThreadErrorInfo() {
    if (info) info->Release();
  }
};
thread_local ThreadErrorInfo t_ErrorInfo;
}  // namespace

extern "C" {

HRESULT SetErrorInfo(ULONG /*reserved*/, IErrorInfo* info) {
  if (info) info->AddRef();
  IErrorInfo* old = t_ErrorInfo.info;
  t_ErrorInfo.info = info;
  if (old) old->Release();
  return S_OK;
}

HRESULT GetErrorInfo(ULONG /*reserved*/, IErrorInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = t_ErrorInfo.info;
  t_ErrorInfo.info = nullptr;
  return *info ? S_OK : S_FALSE;
}

}  // extern "C"
