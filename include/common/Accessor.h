#pragma once

#include <cstdint>
#include <vector>

#include "support/DataType.h"
#include "support/RefCountImpl.h"

namespace common {

// One column binding of an accessor in the library's types: which column, as which type, and
// where its value, length and status parts go in the consumer's buffer.
class VTQ_EXPORT Binding {
 public:
  Binding() = default;
  Binding(const Binding&) = default;
  Binding& operator=(const Binding&) = default;
  virtual ~Binding() = default;

  uint32_t getColumn() const { return m_Column; }
  void setColumn(uint32_t column) { m_Column = column; }
  support::DataType getType() const { return m_Type; }
  void setType(support::DataType type) { m_Type = type; }
  // The OLE DB part bits: 1 value, 2 length, 4 status.
  uint32_t getPart() const;
  void setPart(unsigned long part);
  uint32_t getValueOffset() const { return m_ValueOffset; }
  void setValueOffset(uint32_t offset) { m_ValueOffset = offset; }
  uint32_t getLengthOffset() const { return m_LengthOffset; }
  void setLengthOffset(uint32_t offset) { m_LengthOffset = offset; }
  uint32_t getStatusOffset() const { return m_StatusOffset; }
  void setStatusOffset(uint32_t offset) { m_StatusOffset = offset; }
  uint32_t getMemOwner() const { return m_MemOwner; }
  void setMemOwner(uint32_t owner) { m_MemOwner = owner; }
  // For text, in characters: a longer converted text is reported truncated.
  uint32_t getMaxLength() const { return m_MaxLength; }
  void setMaxLength(uint32_t length) { m_MaxLength = length; }
  uint8_t getPrecision() const { return m_Precision; }
  void setPrecision(uint8_t precision) { m_Precision = precision; }
  uint8_t getScale() const { return m_Scale; }
  void setScale(uint8_t scale) { m_Scale = scale; }

 private:
  uint32_t m_Column = 0;
  support::DataType m_Type = support::DT_UCS2;
  bool m_bValuePart = false;
  bool m_bLengthPart = false;
  bool m_bStatusPart = false;
  uint32_t m_ValueOffset = 0;
  uint32_t m_LengthOffset = 0;
  uint32_t m_StatusOffset = 0;
  uint32_t m_MemOwner = 0;
  uint32_t m_MaxLength = 0;
  uint8_t m_Precision = 0;
  uint8_t m_Scale = 0;
};

// A consumer's set of bindings, kept as copies.
class VTQ_EXPORT Accessor : public support::RefCountImpl {
 public:
  Accessor();

  // Bookkeeping of the consumer (starts at 1); the lifetime is the reference count. Both
  // return the new count.
  int addClientReference() { return ++m_ClientReferences; }
  int removeClientReference() { return --m_ClientReferences; }
  unsigned long getFlags() const { return m_Flags; }
  void setFlags(unsigned long flags) { m_Flags = static_cast<uint32_t>(flags); }
  int getBindingCount() const { return static_cast<int>(fBindings.size()); }
  // A copy; a position out of range reports an assertion and gives a default binding.
  Binding getBinding(int nPos) const;
  void addBinding(const Binding& binding) { fBindings.push_back(binding); }

 protected:
  ~Accessor() override = default;

 private:
  int32_t m_ClientReferences = 1;
  std::vector<Binding> fBindings;
  uint32_t m_Flags = 0;
};

}  // namespace common
