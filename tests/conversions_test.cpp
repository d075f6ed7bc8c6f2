#include <clocale>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>

#include "VtqTest.h"
#include "support/SmartCommonVariant.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"

namespace {

using vtq_testing::VtqTest;

class ConversionsTest : public VtqTest {};

TEST_F(ConversionsTest, GuidTextBothWays) {
  GUID g = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  EXPECT_EQ("{0123ABCD-4567-89EF-FEDC-BA9876543210}", StringConverters::convertGUIDToString(g));
  EXPECT_EQ("0123ABCD-4567-89EF-FEDC-BA9876543210", StringConverters::convertGUIDToString(g, true));

  GUID back{};
  ASSERT_TRUE(StringConverters::convertStringToGUID("{0123abcd-4567-89ef-fedc-ba9876543210}", back));
  EXPECT_TRUE(g == back);
  GUID noBraces{};
  ASSERT_TRUE(StringConverters::convertStringToGUID(" 0123ABCD-4567-89EF-FEDC-BA9876543210 ", noBraces));
  EXPECT_TRUE(g == noBraces);

  GUID untouched = g;
  for (const char* bad : {"", "{}", "{0123ABCD-4567-89EF-FEDC-BA987654321}",
                          "{0123ABCD-4567-89EF-FEDC-BA98765432100}",
                          "{0123ABCD_4567-89EF-FEDC-BA9876543210}",
                          "{0123ABCG-4567-89EF-FEDC-BA9876543210}",
                          "{0123ABCD-4567-89EF-FEDC-BA9876543210",
                          "0123ABCD-4567-89EF-FEDC-BA9876543210}"}) {
    EXPECT_FALSE(StringConverters::convertStringToGUID(bad, untouched)) << bad;
    EXPECT_TRUE(g == untouched) << bad;
  }

  // Generated GUIDs are distinct, read back, and carry the random version.
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    GUID fresh = SystemSupport::GenerateGUID();
    TOVAString text = StringConverters::convertGUIDToString(fresh);
    seen.insert(text.string());
    GUID read{};
    ASSERT_TRUE(StringConverters::convertStringToGUID(text, read));
    EXPECT_TRUE(fresh == read);
    EXPECT_EQ(u'4', text[15]) << text.string();
  }
  EXPECT_EQ(100u, seen.size());
}

TEST_F(ConversionsTest, RealsBothWays) {
  EXPECT_EQ("1234.5", StringConverters::convertRealToString(1234.5, 10));
  EXPECT_EQ("0.1", StringConverters::convertRealToString(0.1, 10));
  EXPECT_EQ("0.3333333333", StringConverters::convertRealToString(1.0 / 3, 10));
  EXPECT_EQ("-2.5e-07", StringConverters::convertRealToString(-2.5e-7, 10));
  EXPECT_EQ("1e+20", StringConverters::convertRealToString(1e20, 10));
  EXPECT_EQ("0", StringConverters::convertRealToString(0.0, 10));
  EXPECT_EQ("NaN", StringConverters::convertRealToString(NAN, 10));
  EXPECT_EQ("-INF", StringConverters::convertRealToString(-INFINITY, 10));
  EXPECT_EQ("0.30000000000000004", StringConverters::convertRealToString(0.1 + 0.2, 17));
  // A length limit trades digits, never the magnitude.
  EXPECT_EQ("-1.234567891e-100", StringConverters::convertRealToString(-1.2345678912e-100, 10));
  EXPECT_EQ("-1.23456789e-100", StringConverters::convertRealToString(-1.2345678912e-100, 10, 16));

  double v = -1;
  EXPECT_TRUE(StringConverters::convertStringToReal(" 2.5 ", v));
  EXPECT_EQ(2.5, v);
  EXPECT_TRUE(StringConverters::convertStringToReal("+1e3", v));
  EXPECT_EQ(1000.0, v);
  EXPECT_TRUE(StringConverters::convertStringToReal("-0.125", v));
  EXPECT_EQ(-0.125, v);
  for (const char* bad : {"", " ", "2,5", "1.2.3", "abc", "1e", "+-1", "1e999", "nan", "inf"}) {
    double kept = 7;
    EXPECT_FALSE(StringConverters::convertStringToReal(bad, kept)) << bad;
    EXPECT_EQ(7, kept);
  }
  for (double x : {3.141592653589793, 1e-300, 123456789.125, -0.0}) {
    double back = 0;
    ASSERT_TRUE(StringConverters::convertStringToReal(StringConverters::convertRealToString(x, 17), back));
    EXPECT_EQ(x, back);
  }
}

TEST_F(ConversionsTest, RealsIgnoreACommaDecimalLocale) {
  std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
    if (std::setlocale(LC_ALL, name)) {
      chosen = name;
      break;
    }
  if (!chosen) GTEST_SKIP() << "no locale with a comma decimal separator is installed";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 2.5);
  EXPECT_STREQ("2,5", probe) << chosen;
  EXPECT_EQ("2.5", StringConverters::convertRealToString(2.5, 10));
  double v = 0;
  EXPECT_TRUE(StringConverters::convertStringToReal("2.5", v));
  EXPECT_EQ(2.5, v);
  EXPECT_FALSE(StringConverters::convertStringToReal("2,5", v));
  EXPECT_EQ("2.5", SmartCommonVariant(2.5).String());
  std::setlocale(LC_ALL, previous.c_str());
}

TEST_F(ConversionsTest, SmartVariantTypesCopiesAndEquality) {
  EXPECT_EQ(support::DT_UNKNOWN, SmartCommonVariant().Type());
  EXPECT_EQ(support::DT_NULL, SmartCommonVariant::Null().Type());
  EXPECT_EQ(support::DT_BOOLEAN, SmartCommonVariant(true).Type());
  EXPECT_EQ(support::DT_SI32, SmartCommonVariant(7).Type());
  EXPECT_EQ(support::DT_UI32, SmartCommonVariant(7u).Type());
  EXPECT_EQ(support::DT_SI64, SmartCommonVariant(int64_t{7}).Type());
  EXPECT_EQ(support::DT_UI8, SmartCommonVariant(uint8_t{7}).Type());
  EXPECT_EQ(support::DT_SI16, SmartCommonVariant(int16_t{-7}).Type());
  EXPECT_EQ(support::DT_DOUBLE, SmartCommonVariant(1.5).Type());
  EXPECT_EQ(support::DT_FLOAT, SmartCommonVariant(1.5f).Type());
  EXPECT_EQ(support::DT_UCS2, SmartCommonVariant("text").Type());
  EXPECT_EQ(-7, SmartCommonVariant(int16_t{-7}).Double());

  EXPECT_TRUE(SmartCommonVariant(true).Boolean());
  EXPECT_FALSE(SmartCommonVariant(false).Boolean());
  EXPECT_TRUE(SmartCommonVariant(2).Boolean());
  EXPECT_FALSE(SmartCommonVariant(0.0).Boolean());
  EXPECT_TRUE(SmartCommonVariant("True").Boolean());
  EXPECT_FALSE(SmartCommonVariant("no").Boolean());
  EXPECT_FALSE(SmartCommonVariant().Boolean());
  EXPECT_FALSE(SmartCommonVariant::Null().Boolean());

  SmartCommonVariant a(TOVAString(u"Umsatz \u20AC"));
  SmartCommonVariant b = a;  // deep copy
  EXPECT_NE(a.getVariant().bstrVal, b.getVariant().bstrVal);
  EXPECT_TRUE(a == b);
  b = SmartCommonVariant("other");
  EXPECT_TRUE(a != b);
  SmartCommonVariant moved(std::move(b));
  EXPECT_TRUE(b.isEmpty());
  EXPECT_EQ("other", moved.String());
  SmartCommonVariant& alias = a;
  a = alias;  // self-assignment keeps the value
  EXPECT_EQ(TOVAString(u"Umsatz \u20AC"), a.String());

  // Equality needs the same type: 1 and 1.0 differ, as the library compares variants.
  EXPECT_FALSE(SmartCommonVariant(1) == SmartCommonVariant(1.0));
  EXPECT_TRUE(SmartCommonVariant(1.0) == SmartCommonVariant(1.0));
  EXPECT_TRUE(SmartCommonVariant::Null() == SmartCommonVariant::Null());
  EXPECT_TRUE(SmartCommonVariant() == SmartCommonVariant());
  EXPECT_FALSE(SmartCommonVariant() == SmartCommonVariant::Null());

  // From a VARIANT, by reference included.
  int32_t number = 42;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I4 | VT_BYREF;
  ref.byref = &number;
  SmartCommonVariant fromRef(ref);
  EXPECT_EQ(VT_I4, fromRef.vt());
  EXPECT_TRUE(fromRef == SmartCommonVariant(42));
  EXPECT_TRUE(fromRef.changeType(VT_BSTR));
  EXPECT_EQ("42", fromRef.String());
  EXPECT_FALSE(SmartCommonVariant("x").changeType(VT_I4));
}

}  // namespace
