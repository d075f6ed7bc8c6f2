#include "common/ColumnInfoBase.h"

#include <cassert>

#include "common/Utilities.h"
#include "support/CoreLog.h"

namespace common {

ColumnInfoBase::ColumnInfoBase(NUVA_o::Field* field, unsigned ordinal)
    : RefCountImpl("COLUMNINFO", support::nextInstanceNumber<ColumnInfoBase>()),
      m_pField(auto_unuse<NUVA_o::Field>::share(field)),
      m_Ordinal(ordinal) {
  assert(field && "a column shows a field");
}

const TOVAString& ColumnInfoBase::getUniqueName() const { return m_pField->getUniqueName(); }

const TOVAString& ColumnInfoBase::getName() const { return m_pField->getName(); }

const TOVAString& ColumnInfoBase::getCaption() const { return m_pField->getCaption(); }

const TOVAString& ColumnInfoBase::getDescription() const { return m_pField->getDescription(); }

support::DataType ColumnInfoBase::getDataType() const { return m_pField->getDataType(); }

NUVA_o::Field* ColumnInfoBase::getField() const { return m_pField.share(); }

uint32_t ColumnInfoBase::getFlags() const {
  return isStringDataType(getDataType()) ? 0u : uint32_t{DBCOLUMNFLAGS_ISFIXEDLENGTH};
}

int32_t ColumnInfoBase::getSize() const { return sizeOfDataType(getDataType()); }

uint8_t ColumnInfoBase::getPrecision() const {
  switch (getDataType()) {
    case support::DT_SI8: case support::DT_UI8:
      return 3;
    case support::DT_SI16: case support::DT_UI16:
      return 5;
    case support::DT_SI32: case support::DT_UI32:
      return 10;
    case support::DT_SI64: case support::DT_CURRENCY:
      return 19;
    case support::DT_UI64:
      return 20;
    case support::DT_FLOAT:
      return 7;
    case support::DT_DOUBLE:
      return 15;
    case support::DT_DATE: case support::DT_TIME: case support::DT_UCS2: case support::DT_UTF8:
      return 255;
    default:
      support_dll::AssertionFailure("!\"ColumnInfoBase::getPrecision\"", "columninfobase", 173);
      return 255;
  }
}

uint8_t ColumnInfoBase::getScale() const {
  if (getDataType() == support::DT_DATETIME)
    support_dll::AssertionFailure("m_pField->getDataType( ) != support::DT_DATETIME",
                                  "columninfobase", 197);
  return 255;
}

DBID ColumnInfoBase::getID() const {
  DBID id{};
  id.eKind = DBKIND_PROPID;
  id.uName.ulPropid = m_Ordinal;
  return id;
}

}  // namespace common
