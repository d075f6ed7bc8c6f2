#pragma once

#include <cstdint>

#include "olap_api/RefCount.h"
#include "support/DataType.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// One typed value of a flat result. Integer types use the integer value (DT_UI64 values above
// the signed range are stored with their bit pattern), DT_FLOAT, DT_DOUBLE and DT_CURRENCY the
// real value, every other type the string value.
class VTQ_EXPORT CellValue {
 public:
  CellValue() = default;

  static CellValue integer(support::DataType type, int64_t value) {
    CellValue v;
    v.m_Type = type;
    v.m_IntegerValue = value;
    return v;
  }
  static CellValue real(support::DataType type, double value) {
    CellValue v;
    v.m_Type = type;
    v.m_RealValue = value;
    return v;
  }
  static CellValue text(support::DataType type, TOVAString value) {
    CellValue v;
    v.m_Type = type;
    v.m_StringValue = std::move(value);
    return v;
  }

  support::DataType getType() const { return m_Type; }
  void setType(support::DataType type) { m_Type = type; }
  int64_t getIntegerValue() const { return m_IntegerValue; }
  void setIntegerValue(int64_t value) { m_IntegerValue = value; }
  double getRealValue() const { return m_RealValue; }
  void setRealValue(double value) { m_RealValue = value; }
  const TOVAString& getStringValue() const { return m_StringValue; }
  void setStringValue(const TOVAString& value) { m_StringValue = value; }

 private:
  support::DataType m_Type = support::DT_NULL;
  int64_t m_IntegerValue = 0;
  double m_RealValue = 0.0;
  TOVAString m_StringValue;
};

// One row of a flat result: a fixed number of cells.
class VTQ_EXPORT Row : public virtual olap_api::RefCount {
 public:
  ~Row() override = default;
  // Bookkeeping of the consumer; the object's lifetime is its reference count. Both return
  // the new client count.
  virtual unsigned addClientReference() = 0;
  virtual unsigned removeClientReference() = 0;
  // Throws InvalidArgumentException when `column` is at or past the column count.
  virtual void addDatum(unsigned column, const CellValue& value) = 0;
  virtual const CellValue& getDatum(unsigned column) const = 0;
  // Appends the dump of every cell to `out`.
  virtual void toString(TOVAString& out) const = 0;
};

}  // namespace NUVA_o
