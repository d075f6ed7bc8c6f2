#pragma once

namespace support {

// Data types of fields, columns, cells, variants and bindings.
enum DataType {
  DT_UNKNOWN = 0,
  DT_NULL = 1,
  DT_SI8 = 2,
  DT_UI8 = 3,
  DT_SI16 = 4,
  DT_UI16 = 5,
  DT_SI32 = 6,
  DT_UI32 = 7,
  DT_SI64 = 8,
  DT_UI64 = 9,
  DT_FLOAT = 10,
  DT_DOUBLE = 11,
  DT_CURRENCY = 12,
  DT_BOOLEAN = 13,
  DT_DATE = 14,
  DT_TIME = 15,
  DT_DATETIME = 16,
  DT_UCS2 = 17,
  DT_UTF8 = 18,
  DT_PTR_UCS2 = 19,
  DT_PTR_UTF8 = 20,
  DT_TRANSIENT_MEMO = 21,
  DT_PERSISTENT_MEMO = 22,
  DT_BLOB = 23,
  DT_BITMAP = 24,
  DT_ICON = 25,
  DT_PICTURE = 26,
  DT_OLE = 27,
  DT_CHART = 28,
  DT_UCS2_VECTOR = 29,
};

}  // namespace support
