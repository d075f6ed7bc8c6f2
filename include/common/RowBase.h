#pragma once

#include <vector>

#include "NUVA_o/Row.h"
#include "support/RefCountImpl.h"

namespace common {

// A row of a fixed number of cells, all DT_NULL at construction.
class VTQ_EXPORT RowBase : public support::RefCountImpl, public NUVA_o::Row {
 public:
  explicit RowBase(unsigned columns);
  // With the trace name of a provider's own row class.
  RowBase(unsigned columns, const char* traceName);

  unsigned addClientReference() override;
  unsigned removeClientReference() override;
  // Both throw InvalidArgumentException with the range 0 .. column count - 1 for a column at
  // or past the column count.
  void addDatum(unsigned column, const NUVA_o::CellValue& value) override;
  const NUVA_o::CellValue& getDatum(unsigned column) const override;
  // Appends "data[i]: [label]->value,  " per cell. Integers print with at least ten digits
  // (the whole 64-bit value), reals with two decimals, other types their string value.
  void toString(TOVAString& out) const override;

  unsigned getColumnCount() const { return static_cast<unsigned>(m_Data.size()); }

 protected:
  ~RowBase() override = default;

 private:
  void check_column(unsigned column) const;

  unsigned m_ClientReferences = 1;
  std::vector<NUVA_o::CellValue> m_Data;
};

}  // namespace common
