#include "support/SmartCommonVariant.h"

#include <cstring>
#include <utility>

SmartCommonVariant::SmartCommonVariant() { VariantInit(&m_Value); }

SmartCommonVariant::SmartCommonVariant(const VARIANT& value) : SmartCommonVariant() {
  assign(value);
}

SmartCommonVariant::SmartCommonVariant(bool value) : SmartCommonVariant() {
  m_Value.vt = VT_BOOL;
  m_Value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

SmartCommonVariant::SmartCommonVariant(double value) : SmartCommonVariant() {
  m_Value.vt = VT_R8;
  m_Value.dblVal = value;
}

SmartCommonVariant::SmartCommonVariant(float value) : SmartCommonVariant() {
  m_Value.vt = VT_R4;
  m_Value.fltVal = value;
}

SmartCommonVariant::SmartCommonVariant(const TOVAString& value) : SmartCommonVariant() {
  m_Value.bstrVal = value.createBSTR();
  m_Value.vt = m_Value.bstrVal ? VT_BSTR : VT_EMPTY;
}

SmartCommonVariant::SmartCommonVariant(const char* value)
    : SmartCommonVariant(TOVAString(value)) {}

SmartCommonVariant::SmartCommonVariant(const char16_t* value)
    : SmartCommonVariant(TOVAString(value)) {}

SmartCommonVariant::SmartCommonVariant(const SmartCommonVariant& other) : SmartCommonVariant() {
  VariantCopy(&m_Value, &other.m_Value);
}

SmartCommonVariant::SmartCommonVariant(SmartCommonVariant&& other) noexcept {
  std::memcpy(&m_Value, &other.m_Value, sizeof m_Value);
  VariantInit(&other.m_Value);
}

SmartCommonVariant& SmartCommonVariant::operator=(const SmartCommonVariant& other) {
  if (this != &other) VariantCopy(&m_Value, &other.m_Value);
  return *this;
}

SmartCommonVariant& SmartCommonVariant::operator=(SmartCommonVariant&& other) noexcept {
  if (this != &other) {
    VariantClear(&m_Value);
    std::memcpy(&m_Value, &other.m_Value, sizeof m_Value);
    VariantInit(&other.m_Value);
  }
  return *this;
}

SmartCommonVariant::~SmartCommonVariant() { VariantClear(&m_Value); }

SmartCommonVariant SmartCommonVariant::Null() {
  SmartCommonVariant v;
  v.m_Value.vt = VT_NULL;
  return v;
}

void SmartCommonVariant::setInteger(int64_t value, size_t size, bool isSigned) {
  switch (size) {
    case 1:
      m_Value.vt = isSigned ? VT_I1 : VT_UI1;
      m_Value.bVal = static_cast<uint8_t>(value);
      break;
    case 2:
      m_Value.vt = isSigned ? VT_I2 : VT_UI2;
      m_Value.uiVal = static_cast<uint16_t>(value);
      break;
    case 4:
      m_Value.vt = isSigned ? VT_I4 : VT_UI4;
      m_Value.ulVal = static_cast<uint32_t>(value);
      break;
    default:
      m_Value.vt = isSigned ? VT_I8 : VT_UI8;
      m_Value.llVal = value;
      break;
  }
}

support::DataType SmartCommonVariant::Type() const {
  switch (m_Value.vt) {
    case VT_NULL: return support::DT_NULL;
    case VT_I1: return support::DT_SI8;
    case VT_UI1: return support::DT_UI8;
    case VT_I2: return support::DT_SI16;
    case VT_UI2: return support::DT_UI16;
    case VT_I4: case VT_INT: return support::DT_SI32;
    case VT_UI4: case VT_UINT: return support::DT_UI32;
    case VT_I8: return support::DT_SI64;
    case VT_UI8: return support::DT_UI64;
    case VT_R4: return support::DT_FLOAT;
    case VT_R8: return support::DT_DOUBLE;
    case VT_CY: return support::DT_CURRENCY;
    case VT_BOOL: return support::DT_BOOLEAN;
    case VT_DATE: return support::DT_DATETIME;
    case VT_BSTR: return support::DT_UCS2;
    default: return support::DT_UNKNOWN;
  }
}

bool SmartCommonVariant::Boolean() const {
  if (m_Value.vt == VT_EMPTY || m_Value.vt == VT_NULL) return false;
  VARIANT b;
  VariantInit(&b);
  if (FAILED(VariantChangeType(&b, &m_Value, 0, VT_BOOL))) return false;
  return b.boolVal != VARIANT_FALSE;
}

TOVAString SmartCommonVariant::String() const {
  VARIANT s;
  VariantInit(&s);
  if (FAILED(VariantChangeType(&s, &m_Value, VARIANT_ALPHABOOL, VT_BSTR))) return TOVAString();
  TOVAString text(s.bstrVal, SysStringLen(s.bstrVal));
  VariantClear(&s);
  return text;
}

double SmartCommonVariant::Double() const {
  VARIANT d;
  VariantInit(&d);
  if (FAILED(VariantChangeType(&d, &m_Value, 0, VT_R8))) return 0.0;
  return d.dblVal;
}

bool SmartCommonVariant::operator==(const SmartCommonVariant& other) const {
  if (m_Value.vt != other.m_Value.vt) return false;
  switch (m_Value.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return m_Value.punkVal == other.m_Value.punkVal;
    case VT_ERROR:
      return m_Value.scode == other.m_Value.scode;
    default:
      return VarCmp(&m_Value, &other.m_Value, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
  }
}

bool SmartCommonVariant::assign(const VARIANT& value) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantCopyInd(&copy, &value))) return false;
  VariantClear(&m_Value);
  std::memcpy(&m_Value, &copy, sizeof copy);
  return true;
}

bool SmartCommonVariant::changeType(VARTYPE type) {
  return SUCCEEDED(VariantChangeType(&m_Value, &m_Value, 0, type));
}
