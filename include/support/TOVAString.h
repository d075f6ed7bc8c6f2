#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "support/Export.h"

typedef char16_t* BSTR;

class TOVAString;

namespace support {

// One argument of a printf-style format, captured with its type so that every conversion
// reads an argument of the width it expects (no varargs).
class VTQ_EXPORT FormatArg {
 public:
  enum Kind { FA_SIGNED, FA_UNSIGNED, FA_REAL, FA_POINTER, FA_UTF16, FA_UTF8, FA_WIDE };

  FormatArg(const TOVAString& s);
  FormatArg(const std::u16string& s) : m_Kind(FA_UTF16), m_u16(s.data()), m_Length(s.size()) {}
  FormatArg(const char16_t* s);
  FormatArg(const std::string& s) : m_Kind(FA_UTF8), m_u8(s.data()), m_Length(s.size()) {}
  FormatArg(const char* s);
  FormatArg(const std::wstring& s) : m_Kind(FA_WIDE), m_wide(s.data()), m_Length(s.size()) {}
  FormatArg(const wchar_t* s);
  FormatArg(bool v) : m_Kind(FA_UNSIGNED), m_Unsigned(v ? 1 : 0) {}
  FormatArg(char v) : m_Kind(FA_SIGNED), m_Signed(v) {}
  FormatArg(double v) : m_Kind(FA_REAL), m_Real(v) {}
  FormatArg(float v) : m_Kind(FA_REAL), m_Real(v) {}
  FormatArg(std::nullptr_t) : m_Kind(FA_POINTER), m_Pointer(nullptr) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
  FormatArg(T v) : m_Kind(FA_SIGNED), m_Signed(v) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
  FormatArg(T v) : m_Kind(FA_UNSIGNED), m_Unsigned(v) {}
  template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  FormatArg(T v) : m_Kind(FA_SIGNED), m_Signed(static_cast<long long>(v)) {}
  template <class T, std::enable_if_t<!std::is_same_v<std::remove_cv_t<T>, char> &&
                                          !std::is_same_v<std::remove_cv_t<T>, char16_t> &&
                                          !std::is_same_v<std::remove_cv_t<T>, wchar_t>,
                                      int> = 0>
  FormatArg(T* p) : m_Kind(FA_POINTER), m_Pointer(static_cast<const volatile void*>(p)) {}

  Kind m_Kind;
  union {
    long long m_Signed;
    unsigned long long m_Unsigned;
    double m_Real;
    const volatile void* m_Pointer;
    const char16_t* m_u16;
    const char* m_u8;
    const wchar_t* m_wide;
  };
  size_t m_Length = 0;
};

// Formats printf-style text: %s (any string argument), %d %i %u %x %X %o %c %f %g %e %p %%,
// with flags, width, precision and the length modifiers l, ll, h, z (accepted and ignored,
// since every argument carries its own type). A conversion without an argument, or with an
// argument of an unsuitable kind, prints as "(?)" instead of reading memory it does not own.
VTQ_EXPORT void formatAppend(std::u16string& out, std::u16string_view format,
                             std::initializer_list<FormatArg> args);
VTQ_EXPORT void formatAppend(std::u16string& out, std::string_view format,
                             std::initializer_list<FormatArg> args);

// UTF conversions. Invalid input becomes U+FFFD and nothing throws, so a caller whose data
// must not merge silently (two different bad byte sequences read alike) checks its bytes first
// with firstInvalidUtf8.
VTQ_EXPORT std::u16string utf8ToUtf16(std::string_view text);
// The offset of the first byte that does not belong to well-formed UTF-8 (a stray continuation
// byte, a truncated, overlong or surrogate sequence, a code point above U+10FFFF), or npos.
VTQ_EXPORT size_t firstInvalidUtf8(std::string_view text);
VTQ_EXPORT std::string utf16ToUtf8(std::u16string_view text);
VTQ_EXPORT std::u16string wideToUtf16(std::wstring_view text);
VTQ_EXPORT std::wstring utf16ToWide(std::u16string_view text);

}  // namespace support

// The product's text type: UTF-16 (the same code units as Xerces' XMLCh). Narrow text given to
// it is UTF-8.
class VTQ_EXPORT TOVAString {
 public:
  static constexpr size_t npos = std::u16string::npos;

  TOVAString() = default;
  TOVAString(const char* text) : m_Text(text ? support::utf8ToUtf16(text) : std::u16string()) {}
  TOVAString(const std::string& text) : m_Text(support::utf8ToUtf16(text)) {}
  TOVAString(const wchar_t* text)
      : m_Text(text ? support::wideToUtf16(text) : std::u16string()) {}
  TOVAString(const std::wstring& text) : m_Text(support::wideToUtf16(text)) {}
  TOVAString(const char16_t* text) : m_Text(text ? text : u"") {}
  TOVAString(const char16_t* text, size_t length) : m_Text(text, length) {}
  TOVAString(std::u16string text) : m_Text(std::move(text)) {}
  TOVAString(std::u16string_view text) : m_Text(text) {}
  TOVAString(const TOVAString&) = default;
  TOVAString(TOVAString&&) noexcept = default;
  TOVAString& operator=(const TOVAString&) = default;
  TOVAString& operator=(TOVAString&&) noexcept = default;
  TOVAString& operator=(const char* text) { return *this = TOVAString(text); }
  TOVAString& operator=(const wchar_t* text) { return *this = TOVAString(text); }
  TOVAString& operator=(const std::wstring& text) { return *this = TOVAString(text); }
  TOVAString& operator=(const char16_t* text) { return *this = TOVAString(text); }

  // A shared empty string.
  static const TOVAString& nullString();

  size_t length() const { return m_Text.size(); }
  size_t size() const { return m_Text.size(); }
  bool empty() const { return m_Text.empty(); }
  void clear() { m_Text.clear(); }
  const char16_t* c_str() const { return m_Text.c_str(); }
  const char16_t* data() const { return m_Text.data(); }
  char16_t operator[](size_t i) const { return m_Text[i]; }
  char16_t& operator[](size_t i) { return m_Text[i]; }
  const std::u16string& u16() const { return m_Text; }
  std::u16string& u16() { return m_Text; }
  operator std::u16string_view() const { return m_Text; }
  TOVAString substr(size_t pos, size_t count = npos) const {
    return pos > m_Text.size() ? TOVAString() : TOVAString(m_Text.substr(pos, count));
  }

  friend bool operator==(const TOVAString& a, const TOVAString& b) { return a.m_Text == b.m_Text; }
  friend bool operator<(const TOVAString& a, const TOVAString& b) { return a.m_Text < b.m_Text; }
  friend bool operator==(const TOVAString& a, const char* b) { return a == TOVAString(b); }
  friend bool operator==(const TOVAString& a, const char16_t* b) {
    return b ? a.m_Text == b : a.empty();
  }
  friend bool operator==(const TOVAString& a, const wchar_t* b) { return a == TOVAString(b); }

  // Three-way comparison, 0 meaning equal. A non-zero flag compares code units exactly; a zero
  // flag ignores letter case.
  static int compare(const TOVAString& a, const TOVAString& b, int caseSensitive);
  int compare(const TOVAString& other, int caseSensitive = 1) const {
    return compare(*this, other, caseSensitive);
  }
  // Compares at most `count` code units with `other`, as compare().
  int strncmp(const TOVAString& other, size_t count, int caseSensitive) const;

  TOVAString& append(const TOVAString& s) { m_Text += s.m_Text; return *this; }
  TOVAString& append(const char* s) { m_Text += support::utf8ToUtf16(s ? s : ""); return *this; }
  TOVAString& append(const char16_t* s) { if (s) m_Text += s; return *this; }
  TOVAString& append(const char16_t* s, size_t n) { m_Text.append(s, n); return *this; }
  TOVAString& append(char16_t c) { m_Text += c; return *this; }
  TOVAString& append(char c) { m_Text += static_cast<char16_t>(static_cast<unsigned char>(c)); return *this; }
  template <class T>
  TOVAString& operator+=(const T& s) { return append(s); }
  friend TOVAString operator+(TOVAString a, const TOVAString& b) { return a.append(b); }

  size_t find(const TOVAString& s, size_t pos = 0) const { return m_Text.find(s.m_Text, pos); }
  size_t find(char16_t c, size_t pos = 0) const { return m_Text.find(c, pos); }
  size_t rfind(const TOVAString& s, size_t pos = npos) const { return m_Text.rfind(s.m_Text, pos); }
  size_t rfind(char16_t c, size_t pos = npos) const { return m_Text.rfind(c, pos); }

  void toUpper();
  void toLower();

  // Replaces the contents with printf-style text; see support::formatAppend.
  template <class Format, class... Args>
  TOVAString& build(const Format& format, const Args&... args) {
    m_Text.clear();
    return buildAppend(format, args...);
  }
  template <class Format, class... Args>
  TOVAString& buildAppend(const Format& format, const Args&... args) {
    support::formatAppend(m_Text, formatView(format), {support::FormatArg(args)...});
    return *this;
  }

  std::string string() const { return support::utf16ToUtf8(m_Text); }
  std::wstring wstring() const { return support::utf16ToWide(m_Text); }
  // A new BSTR holding a copy; the caller frees it with SysFreeString.
  BSTR createBSTR() const;

 private:
  static std::string_view formatView(const char* f) { return f ? f : ""; }
  static std::u16string_view formatView(const char16_t* f) { return f ? f : u""; }
  static std::u16string_view formatView(const TOVAString& f) { return f.m_Text; }

  std::u16string m_Text;
};

inline bool operator!=(const TOVAString& a, const TOVAString& b) { return !(a == b); }
inline bool operator!=(const TOVAString& a, const char* b) { return !(a == b); }
inline bool operator!=(const TOVAString& a, const char16_t* b) { return !(a == b); }

template <>
struct std::hash<TOVAString> {
  size_t operator()(const TOVAString& s) const noexcept { return std::hash<std::u16string>()(s.u16()); }
};

namespace support {
// Formats into a caller's buffer of `capacity` code units, always terminated when capacity > 0.
// Returns the number of code units written, without the terminator.
VTQ_EXPORT size_t vsnuprintf(char16_t* buffer, size_t capacity, std::string_view format,
                             std::initializer_list<FormatArg> args);
template <class... Args>
size_t suprintf(char16_t* buffer, size_t capacity, const char* format, const Args&... args) {
  return vsnuprintf(buffer, capacity, format ? format : "", {FormatArg(args)...});
}
}  // namespace support
