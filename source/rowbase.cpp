#include "common/RowBase.h"

#include <cstdint>

#include "common/ComponentLog.h"
#include "common/Utilities.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

RowBase::RowBase(unsigned columns) : RowBase(columns, "RowBase") {}

RowBase::RowBase(unsigned columns, const char* traceName)
    : RefCountImpl(traceName, support::nextInstanceNumber<RowBase>()), m_Data(columns) {}

unsigned RowBase::addClientReference() { return ++m_ClientReferences; }

unsigned RowBase::removeClientReference() { return --m_ClientReferences; }

void RowBase::check_column(unsigned column) const {
  if (column < m_Data.size()) return;
  support_dll::AssertionFailure("nColumn >= 0 && nColumn < (UInt) m_Data.size( )", "rowbase", 91);
  support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                               0LL, static_cast<long long>(m_Data.size()) - 1);
}

void RowBase::addDatum(unsigned column, const NUVA_o::CellValue& value) {
  check_column(column);
  m_Data[column] = value;
}

const NUVA_o::CellValue& RowBase::getDatum(unsigned column) const {
  check_column(column);
  return m_Data[column];
}

void RowBase::toString(TOVAString& out) const {
  for (size_t i = 0; i < m_Data.size(); ++i) {
    const NUVA_o::CellValue& cell = m_Data[i];
    out.buildAppend("data[%lu]: %s->", i, dataTypeLabel(cell.getType()));
    switch (cell.getType()) {
      case support::DT_SI8: case support::DT_UI8: case support::DT_SI16: case support::DT_UI16:
      case support::DT_SI32: case support::DT_UI32: case support::DT_SI64:
        // The formatter takes the argument's own width, so the whole 64-bit value shows.
        out.buildAppend("%010i", cell.getIntegerValue());
        break;
      case support::DT_UI64:
        out.buildAppend("%010u", static_cast<uint64_t>(cell.getIntegerValue()));
        break;
      case support::DT_FLOAT: case support::DT_DOUBLE: case support::DT_CURRENCY:
        out.buildAppend("%08.2f", cell.getRealValue());
        break;
      default:
        out.append(cell.getStringValue());
        break;
    }
    out.append(",  ");
  }
}

}  // namespace common
