#include "common/RowsetDataModelBase.h"

#include <utility>

namespace common {

RowsetDataModelBase::RowsetDataModelBase(ColumnInfos columns, Rows rows)
    : RefCountImpl("ROWSETDATAMODEL", support::nextInstanceNumber<RowsetDataModelBase>()),
      m_Columns(std::move(columns)),
      m_Rows(std::move(rows)) {}

}  // namespace common
