#include "common/RowsetHelper.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

#include "common/ComponentLog.h"
#include "common/Utilities.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

using support::DataType;

VARIANT bool_variant(bool value) {
  VARIANT v{};
  v.vt = VT_BOOL;
  v.boolVal = value ? 1 : 0;  // 1, not -1: what consumers of these properties read
  return v;
}

bool is_carried(DataType type) {
  return type == support::DT_SI32 || type == support::DT_DOUBLE || type == support::DT_UCS2;
}

TOVAString ascii_text(const char* text, size_t length) {
  std::u16string out(text, text + length);
  return TOVAString(out);
}

// The text up to its first NUL or non-ASCII character, as narrow characters: numbers are
// ASCII, and the copy is terminated, so the parsers below never read past the text.
std::string ascii_prefix(const TOVAString& text) {
  std::string out;
  for (char16_t c : text.u16()) {
    if (c == 0 || c >= 0x80) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C locale, so that a thread's locale never changes how a number reads.
locale_t c_locale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

unsigned long text_status(const TOVAString& text, unsigned long maxLength) {
  return maxLength < text.u16().size() ? DBSTATUS_S_TRUNCATED : DBSTATUS_S_OK;
}

// The leading decimal integer of `text` as atoi reads it (0 when there is none); false when
// it lies outside the range of a 32-bit integer.
bool leading_integer(const TOVAString& text, int64_t& value) {
  const std::string narrow = ascii_prefix(text);
  size_t i = 0;
  while (i < narrow.size() && is_c_space(narrow[i])) ++i;
  bool negative = false;
  if (i < narrow.size() && (narrow[i] == '+' || narrow[i] == '-')) negative = narrow[i++] == '-';
  int64_t magnitude = 0;
  constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < narrow.size() && narrow[i] >= '0' && narrow[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (narrow[i] - '0');
    if (magnitude > limit) return false;
  }
  if (!negative && magnitude == limit) return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

size_t value_size(DataType type) {
  switch (type) {
    case support::DT_SI32: return sizeof(int32_t);
    case support::DT_DOUBLE: return sizeof(double);
    default: return sizeof(BSTR);
  }
}

bool fits(uint64_t offset, uint64_t bytes, size_t size) {
  return offset <= size && bytes <= size - offset;
}

}  // namespace

// ---- Rowset properties ----

RowsetProperties::RowsetProperties() {
  m_True = bool_variant(true);
  m_False = bool_variant(false);
  m_Empty.vt = VT_EMPTY;
  m_Zero.vt = VT_I4;
  m_Zero.lVal = 0;
  init_property_values();
}

RowsetProperties::Property RowsetProperties::getProperty(int index) const {
  if (index < 0 || index >= getCount()) {
    support_dll::AssertionFailure("index < getCount()", "rowsethelper", 60);
    return {0u, m_Empty};
  }
  return m_Properties[static_cast<size_t>(index)];
}

VARIANT RowsetProperties::getPropertyValue(unsigned long id) const {
  for (const Property& p : m_Properties)
    if (p.first == id) return p.second;
  return m_Empty;
}

void RowsetProperties::add_property(unsigned long id, VARIANT value) {
  m_Properties.emplace_back(static_cast<uint32_t>(id), value);
}

void RowsetProperties::init_property_values() {
  struct Entry {
    uint32_t id;
    char value;
  };
  static const Entry entries[] = {
      {121, 'T'}, {202, 'F'}, {122, 'T'}, {123, 'F'}, {124, 'F'}, {194, 'T'}, {203, 'F'},
      {136, 'F'}, {217, 'F'}, {257, 'F'}, {126, 'T'}, {127, 'F'}, {204, 'F'}, {128, 'F'},
      {159, 'F'}, {129, 'T'}, {130, 'F'}, {249, 'F'}, {133, 'F'}, {134, 'F'}, {212, 'F'},
      {137, 'F'}, {138, 'F'}, {139, 'F'}, {135, 'F'}, {13, 'F'},  {232, 'Z'}, {14, 'F'},
      {15, 'F'},  {16, 'E'},  {17, 'F'},  {18, 'F'},  {19, 'T'},  {21, 'F'},  {33, 'F'},
      {34, 'Z'},  {42, 'F'},  {258, 'Z'}, {67, 'F'},  {68, 'T'},  {71, 'Z'},  {73, 'Z'},
      {78, 'Z'},  {87, 'F'},  {88, 'F'},  {89, 'F'},  {90, 'F'},  {99, 'T'},  {102, 'F'},
      {189, 'F'}, {104, 'F'}, {201, 'Z'}, {119, 'T'}, {238, 'F'}, {117, 'Z'}};
  for (const Entry& e : entries) {
    switch (e.value) {
      case 'T': add_property(e.id, m_True); break;
      case 'F': add_property(e.id, m_False); break;
      case 'Z': add_property(e.id, m_Zero); break;
      default: add_property(e.id, m_Empty); break;
    }
  }
}

namespace RowsetHelper {

// ---- Types, bindings and columns ----

support::DataType convert_datatype(unsigned short oledbType) {
  switch (oledbType) {
    case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_BOOL: case DBTYPE_I1: case DBTYPE_UI1:
    case DBTYPE_UI2: case DBTYPE_UI4: case DBTYPE_I8: case DBTYPE_UI8: case DBTYPE_GUID:
      return support::DT_SI32;
    case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_DECIMAL: case DBTYPE_NUMERIC:
      return support::DT_DOUBLE;
    case DBTYPE_BSTR: case DBTYPE_STR: case DBTYPE_WSTR:
      return support::DT_UCS2;
    default:
      support_dll::AssertionFailure("support::DT_UNKNOWN != newtype", "rowsethelper", 138);
      return support::DT_UNKNOWN;
  }
}

unsigned short convert_datatype(support::DataType type) {
  switch (type) {
    case support::DT_SI32: return DBTYPE_I4;
    case support::DT_DOUBLE: return DBTYPE_R8;
    case support::DT_UCS2: return DBTYPE_BSTR;
    default:
      support_dll::AssertionFailure("DBTYPE_EMPTY != newtype", "rowsethelper", 178);
      return DBTYPE_EMPTY;
  }
}

Binding convert_binding(const DBBINDING& binding) {
  Binding out;
  out.setColumn(static_cast<uint32_t>(binding.iOrdinal));
  out.setType(convert_datatype(binding.wType));
  out.setPart(binding.dwPart);
  out.setValueOffset(static_cast<uint32_t>(binding.obValue));
  out.setLengthOffset(static_cast<uint32_t>(binding.obLength));
  out.setStatusOffset(static_cast<uint32_t>(binding.obStatus));
  out.setMemOwner(binding.dwMemOwner);
  out.setMaxLength(static_cast<uint32_t>(binding.cbMaxLen));
  out.setPrecision(binding.bPrecision);
  out.setScale(binding.bScale);
  return out;
}

DBBINDING convert_binding(const Binding& binding) {
  DBBINDING out{};
  out.iOrdinal = binding.getColumn();
  out.obValue = binding.getValueOffset();
  out.obLength = binding.getLengthOffset();
  out.obStatus = binding.getStatusOffset();
  out.dwPart = binding.getPart();
  out.dwMemOwner = binding.getMemOwner();
  out.eParamIO = DBPARAMIO_NOTPARAM;
  out.cbMaxLen = binding.getMaxLength();
  out.dwFlags = 0;
  out.wType = convert_datatype(binding.getType());
  out.bPrecision = binding.getPrecision();
  out.bScale = binding.getScale();
  return out;
}

DBCOLUMNINFO convert_columninfo(const NUVA_o::ColumnInfo& column) {
  DBCOLUMNINFO out{};
  out.iOrdinal = column.getOrdinal();
  out.dwFlags = column.getFlags();
  out.ulColumnSize = static_cast<DBLENGTH>(column.getSize());
  out.wType = convert_datatype(column.getDataType());
  out.bPrecision = column.getPrecision();
  out.bScale = column.getScale();
  out.columnid = column.getID();
  return out;
}

// ---- Values ----

unsigned long convert_data(NUVA_o::CellValue& cell, support::DataType type,
                           unsigned long maxLength) {
  const DataType from = cell.getType();
  if (from == type) return DBSTATUS_S_OK;
  char text[64];
  switch (from) {
    case support::DT_SI32:
      if (type == support::DT_DOUBLE) {
        cell.setRealValue(static_cast<double>(cell.getIntegerValue()));
        cell.setType(type);
        return DBSTATUS_S_OK;
      }
      if (type == support::DT_UCS2) {
        const auto end = std::to_chars(text, text + sizeof text, cell.getIntegerValue()).ptr;
        cell.setStringValue(ascii_text(text, static_cast<size_t>(end - text)));
        cell.setType(type);
        return text_status(cell.getStringValue(), maxLength);
      }
      break;
    case support::DT_DOUBLE:
      if (type == support::DT_SI32) {
        const double value = cell.getRealValue();
        // Outside the range (or NaN) the conversion would be undefined.
        if (!(value > -2147483649.0 && value < 2147483648.0)) return DBSTATUS_E_DATAOVERFLOW;
        cell.setIntegerValue(static_cast<int32_t>(value));
        cell.setType(type);
        // Callers rely on "truncated" for every real made an integer, exact or not.
        return DBSTATUS_S_TRUNCATED;
      }
      if (type == support::DT_UCS2) {
        // As "%.10g" gives it in the C locale.
        const auto end = std::to_chars(text, text + sizeof text, cell.getRealValue(),
                                       std::chars_format::general, 10).ptr;
        cell.setStringValue(ascii_text(text, static_cast<size_t>(end - text)));
        cell.setType(type);
        return text_status(cell.getStringValue(), maxLength);
      }
      break;
    case support::DT_UCS2:
      if (type == support::DT_SI32) {
        int64_t value = 0;
        if (!leading_integer(cell.getStringValue(), value)) return DBSTATUS_E_DATAOVERFLOW;
        cell.setIntegerValue(value);
        cell.setType(type);
        return DBSTATUS_S_OK;
      }
      if (type == support::DT_DOUBLE) {
        const std::string narrow = ascii_prefix(cell.getStringValue());
        const double value = strtod_l(narrow.c_str(), nullptr, c_locale());
        if (value == HUGE_VAL || value == -HUGE_VAL) return DBSTATUS_E_DATAOVERFLOW;
        if (value == 0.0) return DBSTATUS_E_CANTCONVERTVALUE;
        cell.setRealValue(value);
        cell.setType(type);
        return DBSTATUS_S_OK;
      }
      break;
    default:
      break;
  }
  return DBSTATUS_E_CANTCONVERTVALUE;
}

unsigned long get_length(const NUVA_o::CellValue& cell) {
  switch (cell.getType()) {
    case support::DT_SI32:
    case support::DT_DOUBLE:
      return static_cast<unsigned long>(sizeOfDataType(cell.getType()));
    case support::DT_UCS2:
      return cell.getStringValue().u16().size();
    default:
      support_dll::AssertionFailure("!\"RowsetHelper::get_length\"", "rowsethelper", 733);
      return 0;
  }
}

bool is_conversion_supported(support::DataType from, support::DataType to) {
  if (from == to) return true;
  if (!is_carried(from)) return false;
  if (is_carried(to)) return true;
  const int line = from == support::DT_SI32 ? 393 : from == support::DT_DOUBLE ? 414 : 437;
  support_dll::AssertionFailure("!\"is_conversion_supported\"", "rowsethelper", line);
  return false;
}

// ---- Checks of OLE DB binding fields ----

bool is_part_valid(unsigned long part) {
  const int bits = ((part & 1u) ? 1 : 0) + ((part & 2u) ? 1 : 0) + ((part & 4u) ? 1 : 0);
  return bits >= 2;
}

// Kept exactly as it always answered (by-reference types with an odd base type are refused):
// callers outside the library depend on these answers.
bool is_type_valid(unsigned short type) {
  if (type == DBTYPE_EMPTY || type == DBTYPE_NULL) return false;
  if (type & DBTYPE_BYREF) {
    if ((type & 1u) || (type & DBTYPE_RESERVED) || (type & DBTYPE_ARRAY) || (type & DBTYPE_VECTOR))
      return false;
  }
  if ((type & DBTYPE_ARRAY) && (type & DBTYPE_VECTOR)) return false;
  return true;
}

bool is_memowner_valid(unsigned long owner) {
  return owner == DBMEMOWNER_CLIENTOWNED || owner == DBMEMOWNER_PROVIDEROWNED;
}

bool is_pointer_type(unsigned short type) {
  return type == 9 || type == 12 || type == 13 || type == 129 || type == 130;
}

bool is_string_type(unsigned short type) {
  return type == 8 || type == 12 || type == 129 || type == 130;
}

bool is_variable_length(unsigned short type) {
  return type == 128 || type == 129 || type == 130 || type == 139;
}

bool type_matches(unsigned short a, unsigned short b) {
  if (a == b) return true;
  if (a == DBTYPE_BSTR) return false;
  if (a & DBTYPE_BYREF) return b == (a & ~DBTYPE_BYREF);
  return true;
}

// ---- Consumer buffers ----

void fill_buffer(const NUVA_o::Row& row, unsigned columns, const Accessor& accessor,
                 void* buffer, size_t size) {
  const int count = accessor.getBindingCount();
  std::vector<Binding> bindings;
  for (int b = 0; b < count; ++b) {
    Binding binding = accessor.getBinding(b);
    const uint32_t part = binding.getPart();
    if (binding.getColumn() >= columns)
      support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_BINDING_COLUMN,
                                                   static_cast<long long>(b),
                                                   static_cast<long long>(binding.getColumn()),
                                                   static_cast<long long>(columns));
    if (!is_carried(binding.getType()))
      support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_BINDING_TYPE,
                                                   static_cast<long long>(b),
                                                   static_cast<long long>(binding.getType()));
    auto check = [&](uint32_t bit, uint32_t offset, size_t bytes, const char* what) {
      if ((part & bit) && !fits(offset, bytes, buffer ? size : 0))
        support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                     support::COMMON_E_BINDING_OUTSIDE_BUFFER,
                                                     static_cast<long long>(b), what,
                                                     static_cast<long long>(size));
    };
    check(DBPART_VALUE, binding.getValueOffset(), value_size(binding.getType()), "value");
    check(DBPART_LENGTH, binding.getLengthOffset(), sizeof(DBLENGTH), "length");
    check(DBPART_STATUS, binding.getStatusOffset(), sizeof(DBSTATUS), "status");
    bindings.push_back(binding);
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (const Binding& binding : bindings) {
    NUVA_o::CellValue cell = row.getDatum(binding.getColumn());
    DBSTATUS status;
    DBLENGTH length = 0;
    if (cell.getType() == support::DT_NULL)
      status = DBSTATUS_S_ISNULL;
    else if (!is_conversion_supported(cell.getType(), binding.getType()))
      status = DBSTATUS_E_CANTCONVERTVALUE;
    else
      status = static_cast<DBSTATUS>(convert_data(cell, binding.getType(), binding.getMaxLength()));
    const bool written = status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED;
    if (written) length = get_length(cell);
    const uint32_t part = binding.getPart();
    if (written && (part & DBPART_VALUE)) {
      unsigned char* target = bytes + binding.getValueOffset();
      if (binding.getType() == support::DT_SI32) {
        const auto value = static_cast<int32_t>(cell.getIntegerValue());
        std::memcpy(target, &value, sizeof value);
      } else if (binding.getType() == support::DT_DOUBLE) {
        const double value = cell.getRealValue();
        std::memcpy(target, &value, sizeof value);
      } else {
        const std::u16string& text = cell.getStringValue().u16();
        BSTR value = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                       static_cast<unsigned>(text.size()));
        std::memcpy(target, &value, sizeof value);
      }
    }
    if (part & DBPART_LENGTH) std::memcpy(bytes + binding.getLengthOffset(), &length, sizeof length);
    if (part & DBPART_STATUS) std::memcpy(bytes + binding.getStatusOffset(), &status, sizeof status);
  }
}

}  // namespace RowsetHelper

}  // namespace common
