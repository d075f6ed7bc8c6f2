#pragma once

#include <cstdint>

#include "olap_api/RefCount.h"
#include "support/DataType.h"
#include "support/TOVAString.h"
#include "support/oledb.h"

namespace NUVA_o {

class Field;

// The description of one column of a flat result.
class VTQ_EXPORT ColumnInfo : public virtual olap_api::RefCount {
 public:
  ~ColumnInfo() override = default;
  virtual const TOVAString& getUniqueName() const = 0;
  virtual const TOVAString& getName() const = 0;
  virtual const TOVAString& getCaption() const = 0;
  virtual const TOVAString& getDescription() const = 0;
  // 0-based position of the column.
  virtual unsigned getOrdinal() const = 0;
  virtual support::DataType getDataType() const = 0;
  // The field the column shows, with one reference for the caller.
  virtual Field* getField() const = 0;
  // OLE DB column flags: 16 (fixed length) for every type but text.
  virtual uint32_t getFlags() const = 0;
  // Byte size of a value; -1 for variable-length text.
  virtual int32_t getSize() const = 0;
  // 255 where the type defines none.
  virtual uint8_t getPrecision() const = 0;
  virtual uint8_t getScale() const = 0;
  // The OLE DB column identifier: a property number equal to the ordinal.
  virtual DBID getID() const = 0;
  // Characters needed to show a value; 0 until set.
  virtual unsigned getColumnDisplaySize() const = 0;
  virtual void setColumnDisplaySize(unsigned size) = 0;
};

}  // namespace NUVA_o
