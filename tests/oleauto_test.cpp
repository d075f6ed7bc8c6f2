#include <cmath>
#include <string>
#include <thread>

#include "VtqTest.h"
#include "support/oleauto.h"
#include "support/oledb.h"

namespace {

using vtq_testing::VtqTest;

class OleAutoTest : public VtqTest {};

// A VARIANT that clears itself.
struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
  Var(const Var&) = delete;
};

void setText(VARIANT& v, const char16_t* text) {
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
}

std::u16string text(const VARIANT& v) {
  return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"<not text>";
}

// Converts `src` to `vt` and renders the result as text (or the failure code).
std::string convert(const VARIANT& src, VARTYPE vt, uint16_t flags = 0) {
  Var out;
  HRESULT hr = VariantChangeType(&out, &src, flags, vt);
  if (FAILED(hr)) {
    return hr == DISP_E_OVERFLOW ? "overflow" : hr == DISP_E_TYPEMISMATCH ? "mismatch" : "failed";
  }
  if (out.vt != vt) return "wrong type";
  if (vt == VT_BSTR) return TOVAString(text(out)).string();
  Var s;
  if (FAILED(VariantChangeType(&s, &out, VARIANT_ALPHABOOL, VT_BSTR))) return "unprintable";
  return TOVAString(text(s)).string();
}

std::string convertText(const char16_t* t, VARTYPE vt) {
  Var v;
  setText(v, t);
  return convert(v, vt);
}

// A counted COM object for the IUnknown and error-info paths.
class ErrorObject : public IErrorInfo {
 public:
  explicit ErrorObject(const char16_t* description) : m_Description(description) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++m_Refs; }
  ULONG Release() override { return --m_Refs; }  // owned by the test
  HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT GetSource(BSTR* s) override { *s = SysAllocString(u"src"); return S_OK; }
  HRESULT GetDescription(BSTR* d) override { *d = SysAllocString(m_Description); return S_OK; }
  HRESULT GetHelpFile(BSTR* f) override { *f = nullptr; return S_OK; }
  HRESULT GetHelpContext(uint32_t* c) override { *c = 0; return S_OK; }
  ULONG m_Refs = 0;

 private:
  const char16_t* m_Description;
};

TEST_F(OleAutoTest, CopiesOwnTheirStringsAndReferences) {
  Var a, b;
  setText(a, u"hello");
  ASSERT_EQ(S_OK, VariantCopy(&b, &a));
  EXPECT_NE(a.bstrVal, b.bstrVal);
  EXPECT_EQ(u"hello", text(b));
  SysFreeString(a.bstrVal);
  a.vt = VT_EMPTY;
  EXPECT_EQ(u"hello", text(b));  // deep copy outlives the source

  ErrorObject obj(u"x");
  VARIANT u;
  VariantInit(&u);
  u.vt = VT_UNKNOWN;
  u.punkVal = &obj;
  obj.AddRef();
  {
    Var c;
    ASSERT_EQ(S_OK, VariantCopy(&c, &u));
    EXPECT_EQ(2u, obj.m_Refs);
  }
  EXPECT_EQ(1u, obj.m_Refs);
  EXPECT_EQ(S_OK, VariantClear(&u));
  EXPECT_EQ(0u, obj.m_Refs);
  EXPECT_EQ(VT_EMPTY, u.vt);

  // By reference: VariantCopy keeps the reference, VariantCopyInd takes the value.
  BSTR shared = SysAllocString(u"referenced");
  int32_t number = 7;
  Var ref, copy;
  ref.vt = VT_BSTR | VT_BYREF;
  ref.byref = &shared;
  ASSERT_EQ(S_OK, VariantCopy(&copy, &ref));
  EXPECT_EQ(&shared, copy.byref);
  ASSERT_EQ(S_OK, VariantCopyInd(&copy, &ref));
  EXPECT_EQ(u"referenced", text(copy));
  EXPECT_NE(shared, copy.bstrVal);
  ref.vt = VT_I4 | VT_BYREF;
  ref.byref = &number;
  ASSERT_EQ(S_OK, VariantCopyInd(&ref, &ref));  // in place
  EXPECT_EQ(VT_I4, ref.vt);
  EXPECT_EQ(7, ref.lVal);
  SysFreeString(shared);

  Var bad;
  bad.vt = 0x0FFF;
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&copy, &bad));
  EXPECT_EQ(u"referenced", text(copy));  // a failed copy leaves the target alone
  bad.vt = VT_EMPTY;
}

TEST_F(OleAutoTest, NumericConversionsRoundAndDetectOverflow) {
  Var v;
  v.vt = VT_R8;
  v.dblVal = 2.5;
  EXPECT_EQ("2", convert(v, VT_I4));  // half to even
  v.dblVal = 3.5;
  EXPECT_EQ("4", convert(v, VT_I2));
  v.dblVal = -2.5;
  EXPECT_EQ("-2", convert(v, VT_I8));
  v.dblVal = 1e10;
  EXPECT_EQ("overflow", convert(v, VT_I4));
  EXPECT_EQ("10000000000", convert(v, VT_I8));
  v.dblVal = NAN;
  EXPECT_EQ("overflow", convert(v, VT_I4));
  v.dblVal = 1e300;
  EXPECT_EQ("overflow", convert(v, VT_R4));
  EXPECT_EQ("overflow", convert(v, VT_CY));
  EXPECT_EQ("overflow", convert(v, VT_DATE));
  v.dblVal = 0.1;
  EXPECT_EQ("0.1", convert(v, VT_BSTR));
  EXPECT_EQ("0.1", convert(v, VT_DECIMAL));
  EXPECT_EQ("0.1", convert(v, VT_CY));
  EXPECT_EQ("True", convert(v, VT_BOOL));

  v.vt = VT_I4;
  v.lVal = -1;
  EXPECT_EQ("overflow", convert(v, VT_UI4));
  EXPECT_EQ("-1", convert(v, VT_I1));
  v.lVal = 256;
  EXPECT_EQ("overflow", convert(v, VT_UI1));
  EXPECT_EQ("256", convert(v, VT_UI2));
  v.vt = VT_UI8;
  v.ullVal = 18446744073709551615ull;
  EXPECT_EQ("18446744073709551615", convert(v, VT_BSTR));
  EXPECT_EQ("overflow", convert(v, VT_I8));
  EXPECT_EQ("18446744073709551615", convert(v, VT_DECIMAL));
  v.vt = VT_I8;
  v.llVal = INT64_MIN;
  EXPECT_EQ("-9223372036854775808", convert(v, VT_BSTR));

  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_EQ("-1", convert(v, VT_I4));
  EXPECT_EQ("255", convert(v, VT_UI1));
  EXPECT_EQ("-1", convert(v, VT_BSTR));
  EXPECT_EQ("True", convert(v, VT_BSTR, VARIANT_ALPHABOOL));

  v.vt = VT_CY;
  v.cyVal.int64 = 123456;  // 12.3456
  EXPECT_EQ("12.3456", convert(v, VT_BSTR));
  EXPECT_EQ("12", convert(v, VT_I4));
  EXPECT_EQ("12.3456", convert(v, VT_R8));

  Var empty, null;
  null.vt = VT_NULL;
  EXPECT_EQ("0", convert(empty, VT_I4));
  EXPECT_EQ("", convert(empty, VT_BSTR));
  EXPECT_EQ("False", convert(empty, VT_BOOL));
  EXPECT_EQ("mismatch", convert(null, VT_I4));
  EXPECT_EQ("mismatch", convert(null, VT_BSTR));
  Var n2;
  EXPECT_EQ(S_OK, VariantChangeType(&n2, &null, 0, VT_NULL));
  EXPECT_EQ(VT_NULL, n2.vt);
  EXPECT_EQ(DISP_E_BADVARTYPE, VariantChangeType(&n2, &null, 0, VT_VARIANT));
}

TEST_F(OleAutoTest, TextConversionsUseThePointWhateverTheLocale) {
  EXPECT_EQ("42", convertText(u" 42 ", VT_I4));
  EXPECT_EQ("-7", convertText(u"-7", VT_I2));
  EXPECT_EQ("2", convertText(u"1.5", VT_I4));
  EXPECT_EQ("2.5", convertText(u"2.5", VT_R8));
  EXPECT_EQ("2500", convertText(u"2.5e3", VT_I4));
  EXPECT_EQ("mismatch", convertText(u"2,5", VT_R8));
  EXPECT_EQ("mismatch", convertText(u"abc", VT_I4));
  EXPECT_EQ("mismatch", convertText(u"", VT_I4));
  EXPECT_EQ("mismatch", convertText(u"12abc", VT_R8));
  EXPECT_EQ("mismatch", convertText(u"nan", VT_R8));
  EXPECT_EQ("overflow", convertText(u"40000", VT_I2));
  EXPECT_EQ("overflow", convertText(u"1e400", VT_R8));
  EXPECT_EQ("0", convertText(u"1e-400", VT_R8));
  EXPECT_EQ("9223372036854775807", convertText(u"9223372036854775807", VT_I8));
  EXPECT_EQ("overflow", convertText(u"9223372036854775808", VT_I8));
  EXPECT_EQ("12345678901234567890.12345678", convertText(u"12345678901234567890.12345678", VT_DECIMAL));
  EXPECT_EQ("79228162514264337593543950335", convertText(u"79228162514264337593543950335", VT_DECIMAL));
  EXPECT_EQ("overflow", convertText(u"79228162514264337593543950336", VT_DECIMAL));
  EXPECT_EQ("True", convertText(u"TRUE", VT_BOOL));
  EXPECT_EQ("False", convertText(u"false", VT_BOOL));
  EXPECT_EQ("True", convertText(u"3", VT_BOOL));
  EXPECT_EQ("mismatch", convertText(u"maybe", VT_BOOL));

  EXPECT_EQ("2024-02-29", convertText(u"2024-02-29", VT_DATE));
  EXPECT_EQ("2024-02-29 13:45:10", convertText(u"2024-02-29T13:45:10", VT_DATE));
  EXPECT_EQ("06:00:00", convertText(u"06:00", VT_DATE));
  EXPECT_EQ("mismatch", convertText(u"2023-02-29", VT_DATE));
  EXPECT_EQ("mismatch", convertText(u"2023-13-01", VT_DATE));
  EXPECT_EQ("mismatch", convertText(u"25:00", VT_DATE));
  Var d;
  d.vt = VT_DATE;
  d.date = 2.5;  // 1900-01-01 12:00
  EXPECT_EQ("1900-01-01 12:00:00", convert(d, VT_BSTR));
  d.date = -1.25;  // the fraction counts away from day 0
  EXPECT_EQ("1899-12-29 06:00:00", convert(d, VT_BSTR));
  EXPECT_EQ("-1", convert(d, VT_I4));
}

TEST_F(OleAutoTest, ComparisonsAcrossTypes) {
  Var a, b;
  a.vt = VT_I4;
  a.lVal = 1;
  b.vt = VT_R8;
  b.dblVal = 1.0;
  EXPECT_EQ(VARCMP_EQ, VarCmp(&a, &b, LOCALE_USER_DEFAULT, 0));
  b.dblVal = 1.5;
  EXPECT_EQ(VARCMP_LT, VarCmp(&a, &b, LOCALE_USER_DEFAULT, 0));
  EXPECT_EQ(VARCMP_GT, VarCmp(&b, &a, LOCALE_USER_DEFAULT, 0));
  // Exact across integers and decimals: 2^63 + 1 differs from 2^63 though doubles agree.
  Var big, bigger;
  big.vt = VT_UI8;
  big.ullVal = (1ull << 63) + 1;
  bigger.vt = VT_I8;
  bigger.llVal = INT64_MAX;
  EXPECT_EQ(VARCMP_GT, VarCmp(&big, &bigger, 0, 0));
  Var cy;
  cy.vt = VT_CY;
  cy.cyVal.int64 = 10000;
  EXPECT_EQ(VARCMP_EQ, VarCmp(&cy, &a, 0, 0));
  Var null;
  null.vt = VT_NULL;
  EXPECT_EQ(VARCMP_NULL, VarCmp(&null, &a, 0, 0));
  EXPECT_EQ(VARCMP_NULL, VarCmp(&null, &null, 0, 0));

  Var s, t;
  setText(s, u"apple");
  setText(t, u"Apple");
  EXPECT_EQ(VARCMP_GT, VarCmp(&s, &t, 0, 0));
  EXPECT_EQ(VARCMP_EQ, VarCmp(&s, &t, 0, NORM_IGNORECASE));
  EXPECT_EQ(VARCMP_GT, VarCmp(&s, &a, 0, 0));  // text sorts after numbers
  EXPECT_EQ(VARCMP_LT, VarCmp(&a, &s, 0, 0));
  Var empty;
  setText(t, u"");
  EXPECT_EQ(VARCMP_EQ, VarCmp(&empty, &t, 0, 0));
  EXPECT_EQ(VARCMP_EQ, VarBstrCmp(nullptr, t.bstrVal, 0, 0));  // null is the empty string

  Var u;
  u.vt = VT_UNKNOWN;
  EXPECT_TRUE(FAILED(VarCmp(&u, &a, 0, 0)));
}

TEST_F(OleAutoTest, StringConcatenationAndDecimalAddition) {
  BSTR a = SysAllocString(u"SALES");
  BSTR r = nullptr;
  ASSERT_EQ(S_OK, VarBstrCat(a, nullptr, &r));
  EXPECT_EQ(u"SALES", std::u16string(r, SysStringLen(r)));
  BSTR s = SysAllocString(u"SERVER");
  BSTR r2 = nullptr;
  ASSERT_EQ(S_OK, VarBstrCat(r, s, &r2));
  EXPECT_EQ(u"SALESSERVER", std::u16string(r2, SysStringLen(r2)));
  EXPECT_EQ(11u, SysStringLen(r2));
  for (BSTR x : {a, r, s, r2}) SysFreeString(x);

  auto dec = [](const char16_t* t) {
    Var v, d;
    setText(v, t);
    EXPECT_EQ(S_OK, VariantChangeType(&d, &v, 0, VT_DECIMAL)) << TOVAString(t).string();
    return V_DECIMAL(&d);
  };
  auto show = [](const DECIMAL& d) {
    Var v;
    V_DECIMAL(&v) = d;
    v.vt = VT_DECIMAL;
    return convert(v, VT_BSTR);
  };
  DECIMAL out;
  DECIMAL x = dec(u"1.5"), y = dec(u"2.25");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("3.75", show(out));
  y = dec(u"-2.25");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("-0.75", show(out));
  y = dec(u"-1.5");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("0", show(out));
  EXPECT_EQ(0, out.sign);
  // Scale alignment that no longer fits 96 bits loses the last digits, rounded half to even.
  x = dec(u"79228162514264337593543950330");
  y = dec(u"0.5");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("79228162514264337593543950330", show(out));
  y = dec(u"1.5");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("79228162514264337593543950332", show(out));
  y = dec(u"10");
  EXPECT_EQ(DISP_E_OVERFLOW, VarDecAdd(&x, &y, &out));
  x = dec(u"0.0000000000000000000000000001");
  y = dec(u"7922816251426433759354395033.5");
  ASSERT_EQ(S_OK, VarDecAdd(&x, &y, &out));
  EXPECT_EQ("7922816251426433759354395033.5", show(out));
}

TEST_F(OleAutoTest, DosDateTime) {
  uint16_t date = 0, time = 0;
  Var v;
  ASSERT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_EMPTY));
  Var t;
  setText(t, u"2024-03-15 13:45:31");
  ASSERT_EQ(S_OK, VariantChangeType(&v, &t, 0, VT_DATE));
  ASSERT_EQ(1, VariantTimeToDosDateTime(v.date, &date, &time));
  EXPECT_EQ(((2024 - 1980) << 9) | (3 << 5) | 15, date);
  EXPECT_EQ((13 << 11) | (45 << 5) | 15, time);
  EXPECT_EQ(0, VariantTimeToDosDateTime(0.0, &date, &time));  // 1899 is before DOS time
  EXPECT_EQ(0, VariantTimeToDosDateTime(1e9, &date, &time));
}

TEST_F(OleAutoTest, ErrorInfoBelongsToTheCallingThread) {
  ErrorObject obj(u"it failed");
  EXPECT_EQ(S_OK, SetErrorInfo(0, &obj));
  EXPECT_EQ(1u, obj.m_Refs);
  std::thread([] {
    IErrorInfo* other = nullptr;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &other));
    EXPECT_EQ(nullptr, other);
  }).join();
  IErrorInfo* info = nullptr;
  ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
  EXPECT_EQ(&obj, info);
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, &info));  // handed over once
  obj.Release();
  SetErrorInfo(0, &obj);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(0u, obj.m_Refs);

  GUID expected = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
  EXPECT_TRUE(IID_IErrorInfo == expected);
  expected.Data1 = 0xDF0B3D60;
  expected.Data2 = 0x548F;
  EXPECT_TRUE(IID_ISupportErrorInfo == expected);
}

// The rowset helper passes OLE DB type codes and VARIANT types through one another.
static_assert(+DBTYPE_I4 == +VT_I4 && +DBTYPE_R8 == +VT_R8 && +DBTYPE_BSTR == +VT_BSTR &&
              +DBTYPE_BOOL == +VT_BOOL && +DBTYPE_UI8 == +VT_UI8 && +DBTYPE_BYREF == +VT_BYREF);
static_assert((DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS) == 7);

}  // namespace
