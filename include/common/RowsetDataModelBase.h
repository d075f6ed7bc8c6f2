#pragma once

#include <vector>

#include "NUVA_o/Flattener.h"
#include "support/RefCountImpl.h"

namespace common {

// Rows and columns held in memory, for providers that compute a flat result at once.
class VTQ_EXPORT RowsetDataModelBase : public support::RefCountImpl,
                                       public NUVA_o::RowsetDataModel {
 public:
  using ColumnInfos = std::vector<auto_unuse<NUVA_o::ColumnInfo>>;
  using Rows = std::vector<auto_unuse<NUVA_o::Row>>;

  RowsetDataModelBase(ColumnInfos columns, Rows rows);

  const ColumnInfos& getColumnInfos() const override { return m_Columns; }
  size_t getRowCount() const override { return m_Rows.size(); }
  const NUVA_o::Row* getRow(size_t index) const override {
    return index < m_Rows.size() ? m_Rows[index].get() : nullptr;
  }

 protected:
  ~RowsetDataModelBase() override = default;

 private:
  ColumnInfos m_Columns;
  Rows m_Rows;
};

}  // namespace common
