#pragma once

#include "NUVA_o/ColumnInfo.h"
#include "NUVA_o/Cube.h"
#include "support/RefCountImpl.h"

namespace common {

// The column that shows one field. Names, caption, description and data type are the
// field's; the field and the ordinal never change.
class VTQ_EXPORT ColumnInfoBase : public support::RefCountImpl, public NUVA_o::ColumnInfo {
 public:
  // Takes its own reference on `field`, which must not be null.
  ColumnInfoBase(NUVA_o::Field* field, unsigned ordinal);

  const TOVAString& getUniqueName() const override;
  const TOVAString& getName() const override;
  const TOVAString& getCaption() const override;
  const TOVAString& getDescription() const override;
  unsigned getOrdinal() const override { return m_Ordinal; }
  support::DataType getDataType() const override;
  NUVA_o::Field* getField() const override;
  uint32_t getFlags() const override;
  int32_t getSize() const override;
  // Types without a defined precision (or scale) report an assertion and give 255.
  uint8_t getPrecision() const override;
  uint8_t getScale() const override;
  DBID getID() const override;
  unsigned getColumnDisplaySize() const override { return m_ColumnDisplaySize; }
  void setColumnDisplaySize(unsigned size) override { m_ColumnDisplaySize = size; }

 protected:
  ~ColumnInfoBase() override = default;

 private:
  auto_unuse<NUVA_o::Field> m_pField;
  unsigned m_Ordinal;
  unsigned m_ColumnDisplaySize = 0;
};

}  // namespace common
