#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "NUVA_o/ColumnInfo.h"
#include "NUVA_o/Row.h"
#include "common/Accessor.h"
#include "support/oledb.h"

namespace common {

// The rowset properties a flat result answers, with their default values.
class VTQ_EXPORT RowsetProperties {
 public:
  using Property = std::pair<uint32_t, VARIANT>;

  RowsetProperties();
  RowsetProperties(const RowsetProperties& other) = default;
  RowsetProperties& operator=(const RowsetProperties& other) = default;
  virtual ~RowsetProperties() = default;

  int getCount() const { return static_cast<int>(m_Properties.size()); }
  // `index` must be below getCount(); an index out of range reports an assertion and gives an
  // empty value under identifier 0.
  Property getProperty(int index) const;
  // The value of the first entry with that identifier, or the empty value.
  VARIANT getPropertyValue(unsigned long id) const;

 protected:
  void add_property(unsigned long id, VARIANT value);
  void init_property_values();

 private:
  std::vector<Property> m_Properties;
  VARIANT m_True{}, m_False{}, m_Empty{}, m_Zero{};
};

// Conversions between the library's rows, columns and types and the OLE DB structures and
// type codes, and the checks of OLE DB binding fields. Only DT_SI32, DT_DOUBLE and DT_UCS2 are
// carried. Bad combinations report an assertion and give the documented fallback.
namespace RowsetHelper {

VTQ_EXPORT support::DataType convert_datatype(unsigned short oledbType);
VTQ_EXPORT unsigned short convert_datatype(support::DataType type);
VTQ_EXPORT Binding convert_binding(const DBBINDING& binding);
VTQ_EXPORT DBBINDING convert_binding(const Binding& binding);
VTQ_EXPORT DBCOLUMNINFO convert_columninfo(const NUVA_o::ColumnInfo& column);
// Converts `cell` in place to `type` and returns the OLE DB status: 0 ok, 2 cannot convert,
// 4 truncated (a text longer than `maxLength` characters; every real made an integer), 6
// overflow (a value outside the target's range). The cell is unchanged for 2 and 6. Texts are
// read in the C locale whatever the thread's locale.
VTQ_EXPORT unsigned long convert_data(NUVA_o::CellValue& cell, support::DataType type,
                                      unsigned long maxLength);
// The byte size of a DT_SI32 or DT_DOUBLE value, the characters of a DT_UCS2 one.
VTQ_EXPORT unsigned long get_length(const NUVA_o::CellValue& cell);
VTQ_EXPORT bool is_conversion_supported(support::DataType from, support::DataType to);
VTQ_EXPORT bool is_part_valid(unsigned long part);
VTQ_EXPORT bool is_type_valid(unsigned short type);
VTQ_EXPORT bool is_memowner_valid(unsigned long owner);
VTQ_EXPORT bool is_pointer_type(unsigned short type);
VTQ_EXPORT bool is_string_type(unsigned short type);
VTQ_EXPORT bool is_variable_length(unsigned short type);
VTQ_EXPORT bool type_matches(unsigned short a, unsigned short b);

// Writes cell after cell of `row` (of `columns` cells) into `buffer` of `size` bytes as the
// accessor's bindings place them: a DT_SI32 value as int32_t, a DT_DOUBLE one as double, a
// DT_UCS2 one as a BSTR that the caller frees with SysFreeString; the length part as DBLENGTH
// (get_length of the converted value), the status part as DBSTATUS (convert_data's status,
// DBSTATUS_S_ISNULL for an empty cell). A value is written only with status 0 or 4.
// Throws InvalidArgumentException, writing nothing, for a binding whose column is not in the
// row, whose type is not carried or whose parts do not fit in the buffer.
VTQ_EXPORT void fill_buffer(const NUVA_o::Row& row, unsigned columns, const Accessor& accessor,
                            void* buffer, size_t size);

}  // namespace RowsetHelper

}  // namespace common
