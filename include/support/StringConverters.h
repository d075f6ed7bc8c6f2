#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/TOVAString.h"
#include "support/oleauto.h"

// Text forms of GUIDs and reals. Reals always use '.' as decimal separator, whatever the
// C locale of the process.
class VTQ_EXPORT StringConverters {
 public:
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case; without the braces when
  // `withoutBraces` is set.
  static TOVAString convertGUIDToString(const GUID& guid, bool withoutBraces = false);
  // Reads the form above, braces optional, hexadecimal digits in either case, surrounding
  // blanks allowed. False, with `guid` unchanged, on any other text.
  static bool convertStringToGUID(const TOVAString& text, GUID& guid);

  // The value with at most `significantDigits` significant digits (1 to 17), as printf's
  // "%.*g" would print it in the C locale. With `maxLength` > 0 fewer digits are used when
  // the text would be longer than that. NaN and infinities print as "NaN", "INF", "-INF".
  static TOVAString convertRealToString(double value, int significantDigits, int maxLength = 0);
  // The shortest digits that read back as the same double, in plain decimal notation (no
  // exponent: 1e20 is "100000000000000000000"). NaN prints as "0", infinities as "INF", "-INF".
  static TOVAString convertRealToPlainString(double value);
  // Reads a decimal number ('.' separator, optional sign and exponent, surrounding blanks
  // allowed). False, with `value` unchanged, on other text or a value out of range.
  static bool convertStringToReal(const TOVAString& text, double& value);
  // The same reading of UTF-8 text, without converting it (bulk loading).
  static bool convertUtf8ToReal(std::string_view text, double& value);

  // A plain decimal as its digits, without the zeros that end its fraction: "-1234.50" is
  // 12345 with 1 decimal, negative.
  struct PlainDecimal {
    uint64_t digits = 0;
    int decimals = 0;
    bool negative = false;
    // The double convertUtf8ToReal reads from the same text.
    double value() const;
  };
  // Reads an optional '-', digits and at most one '.' with digits, at most 15 of them
  // significant and at most 22 decimals. False for any other text (a '+', an exponent, blanks,
  // more digits), which convertUtf8ToReal may still read. Inline: bulk loading calls it for
  // every value.
  static bool readPlainDecimal(std::string_view text, PlainDecimal& decimal);
};

inline bool StringConverters::readPlainDecimal(std::string_view text, PlainDecimal& decimal) {
  const char* p = text.data();
  const char* end = p + text.size();
  const bool negative = p < end && *p == '-';
  p += negative;
  const char* const first = p;
  // Unsigned arithmetic may wrap on long digit strings; those have too many significant digits
  // and are refused below.
  uint64_t digits = 0;
  for (unsigned d; p < end && (d = static_cast<unsigned>(*p - '0')) < 10; ++p) digits = digits * 10 + d;
  const char* const point = p;
  ptrdiff_t decimals = 0;
  if (p < end) {
    if (*p != '.') return false;
    // Zeros ending the fraction add nothing: the digits are kept as they were at its last
    // other digit (chosen without a branch, the digits being unpredictable).
    uint64_t kept = digits;
    for (ptrdiff_t count = 1; ++p < end; ++count) {
      const auto d = static_cast<unsigned>(*p - '0');
      if (d >= 10) return false;
      digits = digits * 10 + d;
      kept = d != 0 ? digits : kept;
      decimals = d != 0 ? count : decimals;
    }
    digits = kept;
    end = point + 1 + decimals;
  }
  // A number needs a digit before or after the point ("." and "-" are not numbers).
  if (text.size() == static_cast<size_t>(negative) + (point != text.data() + text.size()) || decimals > 22)
    return false;
  if (end - first > 15) {
    // Leading zeros are not significant.
    ptrdiff_t significant = end - first - (point < end);
    for (const char* q = first; q < end && (*q == '0' || *q == '.'); ++q) significant -= *q == '0';
    if (significant > 15) return false;
  }
  decimal.digits = digits;
  decimal.decimals = static_cast<int>(decimals);
  decimal.negative = negative;
  return true;
}
