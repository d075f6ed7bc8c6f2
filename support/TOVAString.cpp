#include "support/TOVAString.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "support/oleauto.h"

namespace support {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendCodePoint(std::u16string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Reads one code point of UTF-16 at `i`, advancing it; a lone surrogate reads as U+FFFD.
char32_t nextUtf16(std::u16string_view text, size_t& i) {
  char16_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      char32_t low = text[i++];
      return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
  return c;
}

// Case mapping is fixed here rather than taken from the C library, whose answer depends on
// the process locale: names must compare the same whatever locale the application set.
// Covers ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic; other letters map to themselves.
char16_t upperOf(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c < 0x100) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c == 0xFF ? char16_t(0x178) : c;
  }
  if (c < 0x180) {
    bool oddIsLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool evenIsLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((oddIsLower && (c & 1)) || (evenIsLower && !(c & 1))) return static_cast<char16_t>(c - 1);
    return c;
  }
  if (c >= 0x3AC && c <= 0x3CE) {
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3CC) return 0x38C;
    if (c >= 0x3CD) return static_cast<char16_t>(c - 0x3F);
    return c;
  }
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) &&
      (c & 1))
    return static_cast<char16_t>(c - 1);
  return c;
}

char16_t lowerOf(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c < 0x100) return (c >= 0xC0 && c <= 0xDE && c != 0xD7) ? static_cast<char16_t>(c + 0x20) : c;
  if (c == 0x178) return 0xFF;
  if (c < 0x180) {
    bool evenIsUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddIsUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenIsUpper && !(c & 1)) || (oddIsUpper && (c & 1))) return static_cast<char16_t>(c + 1);
    return c;
  }
  if (c >= 0x386 && c <= 0x3AB) {
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
    if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) return static_cast<char16_t>(c + 0x20);
    return c;
  }
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  if (((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) &&
      !(c & 1))
    return static_cast<char16_t>(c + 1);
  return c;
}

// One parsed conversion specification.
struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  bool wide = false;  // an l, ll, j, z or t length modifier: 64-bit conversions
  int width = -1;
  int precision = -1;
  char conv = 0;
};

void pad(std::u16string& out, std::u16string_view body, const Spec& spec, bool numeric) {
  size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
  if (body.size() >= width) {
    out += body;
    return;
  }
  size_t fill = width - body.size();
  if (spec.left) {
    out += body;
    out.append(fill, u' ');
  } else if (spec.zero && numeric) {
    // Zeros go after a sign or a 0x prefix.
    size_t prefix = 0;
    if (!body.empty() && (body[0] == u'-' || body[0] == u'+' || body[0] == u' ')) prefix = 1;
    if (body.size() >= prefix + 2 && body[prefix] == u'0' &&
        (body[prefix + 1] == u'x' || body[prefix + 1] == u'X'))
      prefix += 2;
    out += body.substr(0, prefix);
    out.append(fill, u'0');
    out += body.substr(prefix);
  } else {
    out.append(fill, u' ');
    out += body;
  }
}

std::u16string asciiToUtf16(const char* s, size_t n) {
  std::u16string r;
  r.reserve(n);
  for (size_t i = 0; i < n; ++i) r += static_cast<char16_t>(static_cast<unsigned char>(s[i]));
  return r;
}

std::u16string formatInteger(unsigned long long magnitude, bool negative, const Spec& spec) {
  const char* digits = spec.conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  unsigned base = (spec.conv == 'x' || spec.conv == 'X' || spec.conv == 'p') ? 16
                  : spec.conv == 'o'                                      ? 8
                                                                          : 10;
  char buf[72];
  int n = 0;
  do {
    buf[n++] = digits[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0 && n < 70);
  int minDigits = spec.precision >= 0 ? spec.precision : 1;
  std::string body;
  if (negative) body += '-';
  else if (spec.plus && base == 10) body += '+';
  else if (spec.space && base == 10) body += ' ';
  if ((spec.alt && base == 16) || spec.conv == 'p') body += spec.conv == 'X' ? "0X" : "0x";
  for (int i = n; i < minDigits && i < 64; ++i) body += '0';
  while (n > 0) body += buf[--n];
  return asciiToUtf16(body.data(), body.size());
}

// Always with '.' as decimal separator: formatted numbers end up in documents and data, and
// must not change with the C locale the application chose.
std::u16string formatReal(double v, const Spec& spec) {
  int precision = spec.precision >= 0 ? std::min(spec.precision, 60) : 6;
  char buf[512];
  std::string text;
  if (!spec.alt) {
    char lower = static_cast<char>(spec.conv | 0x20);
    std::chars_format format = lower == 'f'   ? std::chars_format::fixed
                               : lower == 'e' ? std::chars_format::scientific
                                              : std::chars_format::general;
    auto r = std::to_chars(buf, buf + sizeof buf, v, format, precision);
    if (r.ec != std::errc()) return u"(?)";
    text.assign(buf, r.ptr);
    if (!text.empty() && text[0] != '-') {
      if (spec.plus) text.insert(0, 1, '+');
      else if (spec.space) text.insert(0, 1, ' ');
    }
  } else {
    std::string f = "%";
    if (spec.plus) f += '+';
    if (spec.space) f += ' ';
    f += "#." + std::to_string(precision);
    f += spec.conv;
    int n = std::snprintf(buf, sizeof buf, f.c_str(), v);
    if (n < 0) return u"(?)";
    text.assign(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
    const char* point = std::localeconv()->decimal_point;
    if (point && point[0] && std::strcmp(point, ".") != 0) {
      size_t at = text.find(point);
      if (at != std::string::npos) text.replace(at, std::strlen(point), ".");
    }
  }
  if (spec.conv >= 'A' && spec.conv <= 'Z')
    for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return asciiToUtf16(text.data(), text.size());
}

std::u16string argText(const FormatArg& a, int precision) {
  std::u16string s;
  switch (a.m_Kind) {
    case FormatArg::FA_UTF16: s.assign(a.m_u16, a.m_Length); break;
    case FormatArg::FA_UTF8: s = utf8ToUtf16(std::string_view(a.m_u8, a.m_Length)); break;
    case FormatArg::FA_WIDE: s = wideToUtf16(std::wstring_view(a.m_wide, a.m_Length)); break;
    case FormatArg::FA_POINTER:
      if (a.m_Pointer == nullptr) s = u"(null)";
      else s = u"(?)";
      break;
    default: s = u"(?)"; break;
  }
  if (precision >= 0 && static_cast<size_t>(precision) < s.size()) {
    size_t n = static_cast<size_t>(precision);
    // Never keep half of a surrogate pair.
    if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
    s.resize(n);
  }
  return s;
}

// Reads the flags, width, precision and length modifiers of one conversion from `i` on; a '*'
// takes its number from the arguments. Stops at the conversion character.
template <class Char>
Spec read_spec(std::basic_string_view<Char> format, size_t& i,
               std::initializer_list<FormatArg>::iterator& next,
               std::initializer_list<FormatArg>::iterator end) {
  auto takeInt = [&](int& dst) {
    if (next == end) return;
    const FormatArg& a = *next++;
    dst = a.m_Kind == FormatArg::FA_SIGNED     ? static_cast<int>(a.m_Signed)
          : a.m_Kind == FormatArg::FA_UNSIGNED ? static_cast<int>(a.m_Unsigned)
                                               : 0;
  };
  const size_t n = format.size();
  Spec spec;
  for (; i < n; ++i) {
    Char f = format[i];
    if (f == '-') spec.left = true;
    else if (f == '+') spec.plus = true;
    else if (f == ' ') spec.space = true;
    else if (f == '#') spec.alt = true;
    else if (f == '0') spec.zero = true;
    else break;
  }
  if (i < n && format[i] == '*') {
    takeInt(spec.width);
    if (spec.width < 0) { spec.left = true; spec.width = -spec.width; }
    ++i;
  } else {
    while (i < n && format[i] >= '0' && format[i] <= '9')
      spec.width = std::min(std::max(spec.width, 0) * 10 + (format[i++] - '0'), 4096);
  }
  if (i < n && format[i] == '.') {
    ++i;
    spec.precision = 0;
    if (i < n && format[i] == '*') {
      takeInt(spec.precision);
      ++i;
    } else {
      while (i < n && format[i] >= '0' && format[i] <= '9')
        spec.precision = std::min(spec.precision * 10 + (format[i++] - '0'), 4096);
    }
  }
  while (i < n && (format[i] == 'l' || format[i] == 'h' || format[i] == 'z' ||
                   format[i] == 'j' || format[i] == 't' || format[i] == 'L' ||
                   format[i] == 'I' || format[i] == '6' || format[i] == '4')) {
    if (format[i] == 'l' || format[i] == 'z' || format[i] == 'j' || format[i] == 't' ||
        format[i] == '6')
      spec.wide = true;
    ++i;
  }
  return spec;
}

// Writes one argument by its conversion; false for a conversion this formatter does not know.
bool format_argument(std::u16string& out, const Spec& spec, const FormatArg& a) {
  switch (spec.conv) {
    case 'd':
    case 'i':
      if (a.m_Kind == FormatArg::FA_SIGNED) {
        bool neg = a.m_Signed < 0;
        unsigned long long mag = neg ? 0ULL - static_cast<unsigned long long>(a.m_Signed)
                                     : static_cast<unsigned long long>(a.m_Signed);
        pad(out, formatInteger(mag, neg, spec), spec, true);
      } else if (a.m_Kind == FormatArg::FA_UNSIGNED) {
        pad(out, formatInteger(a.m_Unsigned, false, spec), spec, true);
      } else if (a.m_Kind == FormatArg::FA_REAL) {
        Spec s = spec;
        s.conv = 'f';
        s.precision = 0;
        pad(out, formatReal(std::trunc(a.m_Real), s), spec, true);
      } else {
        pad(out, u"(?)", spec, false);
      }
      return true;
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      unsigned long long v = 0;
      if (a.m_Kind == FormatArg::FA_SIGNED) {
        // Negative values print as their two's complement in the width of an int, or of
        // a 64-bit integer with a length modifier, as the same call would in C.
        v = (a.m_Signed < 0 && a.m_Signed >= INT32_MIN && !spec.wide)
                ? static_cast<unsigned long long>(static_cast<uint32_t>(a.m_Signed))
                : static_cast<unsigned long long>(a.m_Signed);
      } else if (a.m_Kind == FormatArg::FA_UNSIGNED) {
        v = a.m_Unsigned;
      } else if (a.m_Kind == FormatArg::FA_POINTER) {
        v = reinterpret_cast<uintptr_t>(a.m_Pointer);
      } else {
        pad(out, u"(?)", spec, false);
        return true;
      }
      pad(out, formatInteger(v, false, spec), spec, true);
      return true;
    }
    case 'p': {
      uintptr_t v = a.m_Kind == FormatArg::FA_POINTER ? reinterpret_cast<uintptr_t>(a.m_Pointer)
                    : a.m_Kind == FormatArg::FA_UNSIGNED ? static_cast<uintptr_t>(a.m_Unsigned)
                                                         : 0;
      pad(out, formatInteger(v, false, spec), spec, true);
      return true;
    }
    case 'c': {
      std::u16string ch;
      if (a.m_Kind == FormatArg::FA_SIGNED || a.m_Kind == FormatArg::FA_UNSIGNED)
        appendCodePoint(ch, static_cast<char32_t>(a.m_Kind == FormatArg::FA_SIGNED
                                                      ? static_cast<unsigned char>(a.m_Signed)
                                                      : a.m_Unsigned));
      else
        ch = u"(?)";
      pad(out, ch, spec, false);
      return true;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G': {
      double v = a.m_Kind == FormatArg::FA_REAL       ? a.m_Real
                 : a.m_Kind == FormatArg::FA_SIGNED   ? static_cast<double>(a.m_Signed)
                 : a.m_Kind == FormatArg::FA_UNSIGNED ? static_cast<double>(a.m_Unsigned)
                                                      : 0.0;
      pad(out, formatReal(v, spec), spec, true);
      return true;
    }
    case 's':
    case 'S':
      pad(out, argText(a, spec.precision), spec, false);
      return true;
    default:
      return false;
  }
}

template <class Char>
void formatImpl(std::u16string& out, std::basic_string_view<Char> format,
                std::initializer_list<FormatArg> args) {
  auto next = args.begin();
  size_t i = 0;
  const size_t n = format.size();
  auto copy_as_written = [&](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) out += static_cast<char16_t>(format[k]);
  };
  while (i < n) {
    if (format[i] != '%') {
      // Copy a run of literal text, decoding narrow formats as UTF-8.
      size_t j = i;
      while (j < n && format[j] != '%') ++j;
      if constexpr (sizeof(Char) == 1)
        out += utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(format.data()) + i, j - i));
      else
        out.append(reinterpret_cast<const char16_t*>(format.data()) + i, j - i);
      i = j;
      continue;
    }
    const size_t start = i++;
    if (i < n && format[i] == '%') {
      out += u'%';
      ++i;
      continue;
    }
    Spec spec = read_spec(format, i, next, args.end());
    if (i >= n) {
      // A cut-off specification prints as written.
      copy_as_written(start, n);
      break;
    }
    spec.conv = static_cast<char>(format[i++]);
    if (next == args.end()) {
      out += u"(?)";
      continue;
    }
    // An unknown conversion prints as written and leaves its argument to the next one.
    if (format_argument(out, spec, *next)) ++next;
    else copy_as_written(start, i);
  }
}

}  // namespace

FormatArg::FormatArg(const TOVAString& s) : m_Kind(FA_UTF16), m_u16(s.data()), m_Length(s.length()) {}
FormatArg::FormatArg(const char16_t* s)
    : m_Kind(FA_UTF16), m_u16(s ? s : u"(null)"), m_Length(std::char_traits<char16_t>::length(m_u16)) {}
FormatArg::FormatArg(const char* s)
    : m_Kind(FA_UTF8), m_u8(s ? s : "(null)"), m_Length(std::char_traits<char>::length(m_u8)) {}
FormatArg::FormatArg(const wchar_t* s)
    : m_Kind(FA_WIDE), m_wide(s ? s : L"(null)"), m_Length(std::char_traits<wchar_t>::length(m_wide)) {}

void formatAppend(std::u16string& out, std::u16string_view format,
                  std::initializer_list<FormatArg> args) {
  formatImpl(out, format, args);
}

void formatAppend(std::u16string& out, std::string_view format,
                  std::initializer_list<FormatArg> args) {
  formatImpl(out, format, args);
}

size_t vsnuprintf(char16_t* buffer, size_t capacity, std::string_view format,
                  std::initializer_list<FormatArg> args) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::u16string text;
  formatImpl(text, format, args);
  size_t n = std::min(text.size(), capacity - 1);
  if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

namespace {

// Decodes the sequence starting at `i` (a byte of 0x80 or more) as RFC 3629 UTF-8. Returns the
// code point and the number of bytes it spans, or 0 bytes when the sequence is ill-formed; then
// `length` still says how many bytes one replacement character stands for.
size_t decodeUtf8(std::string_view text, size_t i, char32_t& cp, size_t& length) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  int extra;
  char32_t minimum;
  if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; minimum = 0x80; }
  else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; minimum = 0x800; }
  else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; minimum = 0x10000; }
  else { length = 1; return 0; }
  size_t j = i + 1;
  int got = 0;
  while (got < extra && j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    ++j;
    ++got;
  }
  length = j - i;
  if (got < extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t length = 0;
    // An ill-formed sequence becomes one replacement for what it consumed.
    if (decodeUtf8(text, i, cp, length) == 0) out += kReplacement;
    else appendCodePoint(out, cp);
    i += length;
  }
  return out;
}

size_t firstInvalidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    // Tables are mostly ASCII: 32, then eight bytes at a time until one has its high bit set.
    uint64_t word;
    if (i + 4 * sizeof word <= text.size()) {
      uint64_t words[4];
      std::memcpy(words, text.data() + i, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL) == 0) {
        i += sizeof words;
        continue;
      }
    }
    if (i + sizeof word <= text.size()) {
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t length = 0;
    if (decodeUtf8(text, i, cp, length) == 0) return i;
    i += length;
  }
  return std::string_view::npos;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) appendUtf8(out, nextUtf16(text, i));
  return out;
}

std::u16string wideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t w : text) appendCodePoint(out, static_cast<char32_t>(w));
  return out;
}

std::wstring utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out += static_cast<wchar_t>(nextUtf16(text, i));
  return out;
}

}  // namespace support

const TOVAString& TOVAString::nullString() {
  static const TOVAString empty;
  return empty;
}

int TOVAString::compare(const TOVAString& a, const TOVAString& b, int caseSensitive) {
  if (caseSensitive) return a.m_Text.compare(b.m_Text) < 0 ? -1 : (a.m_Text == b.m_Text ? 0 : 1);
  size_t n = std::min(a.length(), b.length());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = support::upperOf(a.m_Text[i]);
    char16_t y = support::upperOf(b.m_Text[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.length() == b.length() ? 0 : (a.length() < b.length() ? -1 : 1);
}

int TOVAString::strncmp(const TOVAString& other, size_t count, int caseSensitive) const {
  return compare(substr(0, count), other.substr(0, count), caseSensitive);
}

void TOVAString::toUpper() {
  for (char16_t& c : m_Text) c = support::upperOf(c);
}

void TOVAString::toLower() {
  for (char16_t& c : m_Text) c = support::lowerOf(c);
}

BSTR TOVAString::createBSTR() const {
  return SysAllocStringLen(m_Text.data(), static_cast<unsigned>(m_Text.size()));
}
