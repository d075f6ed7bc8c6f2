#include "common/Utilities.h"

#include <iterator>

#include "support/CoreLog.h"

namespace common {

// The assertion lines below are part of the reports that callers and tests rely on.
int32_t sizeOfDataType(support::DataType type) {
  switch (type) {
    case support::DT_UNKNOWN:
    case support::DT_NULL:
      return 0;
    case support::DT_SI8:
    case support::DT_UI8:
    case support::DT_BOOLEAN:
      return 1;
    case support::DT_SI16:
    case support::DT_UI16:
      return 2;
    case support::DT_SI32:
    case support::DT_UI32:
    case support::DT_FLOAT:
    case support::DT_PTR_UCS2:
    case support::DT_PTR_UTF8:
      return 4;
    case support::DT_SI64:
    case support::DT_UI64:
    case support::DT_DOUBLE:
      return 8;
    case support::DT_UCS2:
    case support::DT_UTF8:
      return -1;  // variable length
    case support::DT_CURRENCY:
      support_dll::AssertionFailure("!\"Not implemented: sizeof(currency)\"", "datatypes", 103);
      return 0;
    case support::DT_DATE:
    case support::DT_TIME:
    case support::DT_DATETIME:
      support_dll::AssertionFailure("!\"Not implemented: sizeof(date/time)\"", "datatypes", 111);
      return 0;
    default:
      support_dll::AssertionFailure("!\"Not implemented: sizeof(datatype)\"", "datatypes", 133);
      return 0;
  }
}

bool isStringDataType(support::DataType type) {
  return type == support::DT_UCS2 || type == support::DT_UTF8 || type == support::DT_PTR_UCS2 ||
         type == support::DT_PTR_UTF8;
}

const char* dataTypeLabel(support::DataType type) {
  static const char* const labels[] = {
      "[DT_UNKNOWN]", "[DT_NULL]", "[DT_SI8]", "[DT_UI8]", "[DT_SI16]", "[DT_UI16]",
      "[DT_SI32]", "[DT_UI32]", "[DT_SI64]", "[DT_UI64]", "[DT_FLOAT]", "[DT_DOUBLE]",
      "[DT_CURRENCY]", "[DT_BOOLEAN]", "[DT_DATE]", "[DT_TIME]", "[DT_DATETIME]", "[DT_UCS2]",
      "[DT_UTF8]", "[DT_PTR_UCS2]", "[DT_PTR_UTF8]", "[DT_TRANSIENT_MEMO]",
      "[DT_PERSISTENT_MEMO]", "[DT_BLOB]", "[DT_BITMAP]", "[DT_ICON]", "[DT_PICTURE]",
      "[DT_OLE]", "[DT_CHART]", "[DT_UCS2_VECTOR]"};
  const auto index = static_cast<unsigned>(type);
  return index < std::size(labels) ? labels[index] : labels[0];
}

}  // namespace common
