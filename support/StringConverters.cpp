#include "support/StringConverters.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <string>

namespace {

std::string narrowAscii(const TOVAString& text, bool& ok) {
  std::string s;
  s.reserve(text.length());
  ok = true;
  for (char16_t c : text.u16()) {
    if (c > 0x7F) {
      ok = false;
      return s;
    }
    s += static_cast<char>(c);
  }
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TOVAString StringConverters::convertGUIDToString(const GUID& guid, bool withoutBraces) {
  TOVAString text;
  text.build("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2,
             guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
             guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  if (withoutBraces) return text;
  return TOVAString("{") + text + TOVAString("}");
}

bool StringConverters::convertStringToGUID(const TOVAString& text, GUID& guid) {
  bool ok;
  std::string s = narrowAscii(text, ok);
  if (!ok) return false;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  uint8_t bytes[16];
  int n = 0;
  for (size_t i = 0; i < s.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return false;
      ++i;
      continue;
    }
    int hi = hexValue(s[i]), lo = hexValue(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[n++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  guid.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
               static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return true;
}

TOVAString StringConverters::convertRealToString(double value, int significantDigits,
                                                 int maxLength) {
  if (std::isnan(value)) return TOVAString("NaN");
  if (std::isinf(value)) return TOVAString(value < 0 ? "-INF" : "INF");
  int digits = significantDigits < 1 ? 1 : significantDigits > 17 ? 17 : significantDigits;
  char buffer[64];
  for (;;) {
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    int length = static_cast<int>(r.ptr - buffer);
    if (maxLength <= 0 || length <= maxLength || digits == 1)
      return TOVAString(std::string(buffer, r.ptr));
    --digits;
  }
}

bool StringConverters::convertStringToReal(const TOVAString& text, double& value) {
  bool ok;
  std::string s = narrowAscii(text, ok);
  return ok && convertUtf8ToReal(s, value);
}

namespace {

constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

double StringConverters::PlainDecimal::value() const {
  // At most 15 significant digits and 22 decimals: the digits and the power of ten are exact
  // doubles, so one division rounds as correctly as from_chars would.
  const double magnitude = static_cast<double>(digits) / kPowers[decimals];
  return negative ? -magnitude : magnitude;
}

bool StringConverters::convertUtf8ToReal(std::string_view text, double& value) {
  PlainDecimal decimal;
  if (readPlainDecimal(text, decimal)) {
    value = decimal.value();
    return true;
  }
  const size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return false;
  text = text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
  const size_t start = (text[0] == '+' && text.size() > 1 && text[1] != '-') ? 1 : 0;
  double v = 0;
  auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

TOVAString StringConverters::convertRealToPlainString(double value) {
  if (std::isnan(value)) return TOVAString("0");
  std::string out;
  if (std::signbit(value) && value != 0.0) out += '-';
  double magnitude = std::fabs(value);
  if (magnitude == 0.0) return TOVAString("0");
  if (std::isinf(magnitude)) return TOVAString(out + "INF");
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  std::string mantissa;
  const char* p = buffer;
  for (; p < result.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa += *p;
  int exponent = 0;
  if (p < result.ptr && *p == 'e') {
    ++p;
    if (*p == '+') ++p;
    std::from_chars(p, result.ptr, exponent);
  }
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
  if (exponent >= 0) {
    size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (mantissa.size() <= integerDigits) {
      out += mantissa;
      out.append(integerDigits - mantissa.size(), '0');
    } else {
      out.append(mantissa, 0, integerDigits);
      out += '.';
      out.append(mantissa, integerDigits, std::string::npos);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += mantissa;
  }
  return TOVAString(out);
}
