#pragma once

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

  // A plain decimal as its digits: "-1234.50" is 123450 with 2 decimals, negative.
  struct PlainDecimal {
    uint64_t digits = 0;
    int decimals = 0;
    bool negative = false;
    // The double convertUtf8ToReal reads from the same text.
    double value() const;
  };
  // Reads an optional '-', digits and at most one '.' with digits, at most 15 of them
  // significant and at most 22 decimals. False for any other text (a '+', an exponent, blanks,
  // more digits), which convertUtf8ToReal may still read.
  static bool readPlainDecimal(std::string_view text, PlainDecimal& decimal);
};
