#pragma once

#include <cstdint>
#include <type_traits>

#include "support/DataType.h"
#include "support/TOVAString.h"
#include "support/oleauto.h"

// A VARIANT that owns its value: copies are deep (strings copied, interfaces AddRef'ed) and
// the value is cleared on destruction.
class VTQ_EXPORT SmartCommonVariant {
 public:
  SmartCommonVariant();  // VT_EMPTY
  // A copy of `value`; by-reference values are copied as the value they point to.
  explicit SmartCommonVariant(const VARIANT& value);
  SmartCommonVariant(bool value);
  SmartCommonVariant(double value);
  SmartCommonVariant(float value);
  SmartCommonVariant(const TOVAString& value);
  SmartCommonVariant(const char* value);
  SmartCommonVariant(const char16_t* value);
  // Integers keep their width and signedness (VT_I1 ... VT_UI8).
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                          !std::is_same_v<T, char>,
                                      int> = 0>
  SmartCommonVariant(T value) : SmartCommonVariant() {
    setInteger(static_cast<int64_t>(value), sizeof(T), std::is_signed_v<T>);
  }
  SmartCommonVariant(const SmartCommonVariant& other);
  SmartCommonVariant(SmartCommonVariant&& other) noexcept;
  SmartCommonVariant& operator=(const SmartCommonVariant& other);
  SmartCommonVariant& operator=(SmartCommonVariant&& other) noexcept;
  ~SmartCommonVariant();

  // The value VT_NULL.
  static SmartCommonVariant Null();

  // The data type of the value: DT_UNKNOWN for VT_EMPTY and types without a data type
  // (interfaces, errors, decimals), DT_NULL for VT_NULL, DT_DATETIME for VT_DATE, DT_UCS2
  // for text, the integer, real, currency and boolean types for the rest.
  support::DataType Type() const;
  VARTYPE vt() const { return m_Value.vt; }
  bool isEmpty() const { return m_Value.vt == VT_EMPTY; }
  bool isNull() const { return m_Value.vt == VT_NULL; }

  // The value as a boolean: numbers are true when not zero, text when it reads as true
  // ("true", or a non-zero number); empty, null and anything else are false.
  bool Boolean() const;
  // The value as text ('.' as decimal separator, booleans as "True"/"False"); empty when it
  // has no text form.
  TOVAString String() const;
  // The value as a double; 0.0 when it has no numeric form.
  double Double() const;

  // Same variant type and equal value (VT_NULL equals VT_NULL, VT_EMPTY equals VT_EMPTY).
  bool operator==(const SmartCommonVariant& other) const;
  bool operator!=(const SmartCommonVariant& other) const { return !(*this == other); }

  const VARIANT& getVariant() const { return m_Value; }
  // Replaces the value by a copy of `value`. False (value unchanged) when it cannot be copied.
  bool assign(const VARIANT& value);
  // Converts in place; false (value unchanged) when the conversion fails.
  bool changeType(VARTYPE type);

 private:
  void setInteger(int64_t value, size_t size, bool isSigned);
  VARIANT m_Value;
};
