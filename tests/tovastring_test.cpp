#include <clocale>
#include <map>
#include <string>

#include "VtqTest.h"
#include "support/TOVAString.h"
#include "support/oleauto.h"

namespace {

using vtq_testing::VtqTest;

class TOVAStringTest : public VtqTest {};

TEST_F(TOVAStringTest, EncodingsRoundTrip) {
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // A é € 😀 z
  TOVAString s(utf8);
  EXPECT_EQ(std::u16string(u"A\u00E9\u20AC\U0001F600z"), s.u16());
  EXPECT_EQ(6u, s.length());  // the emoji takes a surrogate pair
  EXPECT_EQ(utf8, s.string());
  EXPECT_EQ(std::wstring(L"A\u00E9\u20AC\U0001F600z"), s.wstring());
  EXPECT_EQ(s, TOVAString(s.wstring()));
  EXPECT_EQ(s, TOVAString(L"A\u00E9\u20AC\U0001F600z"));

  // Invalid UTF-8 becomes U+FFFD, one per broken sequence, and decoding goes on.
  EXPECT_EQ(u"a\uFFFDb", TOVAString("a\xFF" "b").u16());                  // not a lead byte
  EXPECT_EQ(u"a\uFFFDb", TOVAString("a\xE2\x82" "b").u16());              // truncated
  EXPECT_EQ(u"\uFFFD", TOVAString("\xC0\xAF").u16());                     // overlong '/'
  EXPECT_EQ(u"\uFFFD", TOVAString("\xED\xA0\x80").u16());                 // encoded surrogate
  EXPECT_EQ(u"\uFFFD", TOVAString("\xF4\x90\x80\x80").u16());             // beyond U+10FFFF
  EXPECT_EQ(u"x\uFFFD", TOVAString("x\xF0\x9F\x98").u16());               // cut at the end
  // A caller that must not let two such texts read alike finds the first bad byte instead.
  EXPECT_EQ(std::string_view::npos, support::firstInvalidUtf8(utf8));
  EXPECT_EQ(std::string_view::npos, support::firstInvalidUtf8(""));
  EXPECT_EQ(3u, support::firstInvalidUtf8("Caf\xE9,Bikes"));               // Latin-1
  EXPECT_EQ(1u, support::firstInvalidUtf8("a\xE2\x82" "b"));
  EXPECT_EQ(0u, support::firstInvalidUtf8("\xC0\xAF"));
  EXPECT_EQ(2u, support::firstInvalidUtf8("ok\xED\xA0\x80"));
  EXPECT_EQ(0u, support::firstInvalidUtf8("\xF4\x90\x80\x80"));
  EXPECT_EQ(1u, support::firstInvalidUtf8("x\xF0\x9F\x98"));
  EXPECT_EQ(0u, support::firstInvalidUtf8("\x80"));

  // Lone surrogates cannot be written as UTF-8 or UTF-32: they become U+FFFD.
  TOVAString lone(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)});
  EXPECT_EQ("a\xEF\xBF\xBD" "b\xEF\xBF\xBD", lone.string());
  EXPECT_EQ(std::wstring(L"a\uFFFDb\uFFFD"), lone.wstring());

  BSTR b = s.createBSTR();
  EXPECT_EQ(s.length(), SysStringLen(b));
  EXPECT_EQ(s, TOVAString(b, SysStringLen(b)));
  SysFreeString(b);
  EXPECT_TRUE(TOVAString::nullString().empty());
  EXPECT_TRUE(TOVAString(static_cast<const char*>(nullptr)).empty());
}

TEST_F(TOVAStringTest, BuildFormatsEveryConversionTheLibraryUses) {
  TOVAString name("Axis");
  const void* p = reinterpret_cast<const void*>(0x1234ABCD);
  TOVAString t;
  t.build("%s: Instance %d (%p): Refcount raised to %u", name, 3, p, 7u);
  EXPECT_EQ("Axis: Instance 3 (0x1234abcd): Refcount raised to 7", t);
  t.build("%ld|%X|%08X|%-5d|%5s|%.2s|%%", -1234567890123L, 0xC2011F00u, 255, 42, "ab", "xyz");
  EXPECT_EQ("-1234567890123|C2011F00|000000FF|42   |   ab|xy|%", t);
  t.build("%s and %s and %s", std::wstring(L"wide"), u"utf16", std::string("narrow"));
  EXPECT_EQ("wide and utf16 and narrow", t);
  t.buildAppend(" + %d", 1);
  EXPECT_EQ("wide and utf16 and narrow + 1", t);
  t.build(u"%s=%d", TOVAString(u"\u20AC"), -5);
  EXPECT_EQ(TOVAString(u"\u20AC=-5"), t);

  // Negative values in hexadecimal: an int's width, or 64 bits with a length modifier.
  EXPECT_EQ("FFFFFFFF", TOVAString().build("%X", -1));
  EXPECT_EQ("FFFFFFFFFFFFFFFF", TOVAString().build("%lX", -1L));
  EXPECT_EQ("18446744073709551615", TOVAString().build("%llu", -1LL));

  // Missing or unsuitable arguments never read foreign memory.
  EXPECT_EQ("a (?) b", TOVAString().build("a %d b"));
  EXPECT_EQ("(?)", TOVAString().build("%d", "text"));
  EXPECT_EQ("(null)", TOVAString().build("%s", static_cast<const char*>(nullptr)));
  EXPECT_EQ("50%", TOVAString().build("50%"));

  // Reals use '.' whatever the locale, with printf's notations.
  EXPECT_EQ("1234.5|1.2345e+03|1234.5|3.14", TOVAString().build("%.10g|%.4e|%.1f|%.2f", 1234.5, 1234.5, 1234.5, 3.14159));
  EXPECT_EQ("+2.50|0.333333|1E+20", TOVAString().build("%+.2f|%f|%G", 2.5, 1.0 / 3, 1e20));

  // A cut never keeps half of a surrogate pair.
  EXPECT_EQ(u"a", TOVAString().build("%.2s", TOVAString(u"a\U0001F600")).u16());
  char16_t buffer[4];
  EXPECT_EQ(2u, support::suprintf(buffer, 4, "%s", TOVAString(u"ab\U0001F600")));
  EXPECT_EQ(u"ab", std::u16string(buffer));
  EXPECT_EQ(0u, support::suprintf(buffer, 1, "%d", 5));
  EXPECT_EQ(u'\0', buffer[0]);
}

TEST_F(TOVAStringTest, ComparisonSearchAndCase) {
  TOVAString a("Sales"), b("SALES"), c("Salesman");
  EXPECT_EQ(0, TOVAString::compare(a, a, 1));
  EXPECT_NE(0, TOVAString::compare(a, b, 1));
  EXPECT_EQ(0, TOVAString::compare(a, b, 0));
  EXPECT_LT(TOVAString::compare(a, c, 1), 0);
  EXPECT_GT(c.compare(a), 0);
  EXPECT_EQ(0, c.strncmp(a, 5, 1));
  EXPECT_NE(0, c.strncmp(a, 6, 1));
  EXPECT_EQ(0, c.strncmp(b, 5, 0));
  EXPECT_TRUE(a < c && !(c < a));
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a == "Sales");

  TOVAString path("[Time].[Calendar].[2024]");
  EXPECT_EQ(0u, path.find(TOVAString("[")));
  EXPECT_EQ(7u, path.find(TOVAString("["), 1));
  EXPECT_EQ(18u, path.rfind(TOVAString("[")));
  EXPECT_EQ(7u, path.rfind(u'[', 17));
  EXPECT_EQ(TOVAString::npos, path.find(TOVAString("Fiscal")));
  EXPECT_EQ("2024", path.substr(19, 4));
  EXPECT_TRUE(path.substr(100).empty());

  path += ".";
  path += TOVAString("Q1");
  path.append(u'!');
  EXPECT_EQ("[Time].[Calendar].[2024].Q1!", path);

  // Case mapping does not depend on the process locale.
  std::string previous = std::setlocale(LC_CTYPE, nullptr);
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (!std::setlocale(LC_CTYPE, locale)) continue;
    TOVAString u(u"caf\u00E9 \u00FF \u0101 \u03B1\u03C2 \u0430\u0451 stra\u00DFe");
    u.toUpper();
    EXPECT_EQ(TOVAString(u"CAF\u00C9 \u0178 \u0100 \u0391\u03A3 \u0410\u0401 STRA\u00DFE"), u) << locale;
    u.toLower();
    EXPECT_EQ(TOVAString(u"caf\u00E9 \u00FF \u0101 \u03B1\u03C3 \u0430\u0451 stra\u00DFe"), u) << locale;
    EXPECT_EQ(0, TOVAString::compare(TOVAString(u"\u00C9t\u00E9"), TOVAString(u"\u00E9T\u00C9"), 0))
        << locale;
  }
  std::setlocale(LC_CTYPE, previous.c_str());

  std::map<TOVAString, int> sorted{{"b", 2}, {"a", 1}, {"c", 3}};
  EXPECT_EQ("a", sorted.begin()->first);
}

}  // namespace
