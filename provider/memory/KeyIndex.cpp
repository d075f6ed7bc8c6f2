#include "KeyIndex.h"

#include <cassert>
#include <cstring>

namespace memory {

void KeyIndex::grow() {
  std::vector<Slot> old = std::move(m_Slots);
  m_Slots.assign(old.empty() ? 64 : old.size() * 2, Slot());
  const size_t mask = m_Slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.index < 0) continue;
    size_t i = slot.hash & mask;
    while (m_Slots[i].index >= 0) i = (i + 1) & mask;
    m_Slots[i] = slot;
  }
}

void KeyIndex::insert(std::string_view key, int32_t index) {
  assert(index >= 0 && find(key) < 0 && "a key is stored once, with an index");
  // At most half full, so that a probe ends soon.
  if ((m_Count + 1) * 2 > m_Slots.size()) grow();
  Slot slot;
  slot.hash = hash_of(key);
  slot.offset = static_cast<uint32_t>(m_Text.size());
  slot.length = static_cast<uint32_t>(key.size());
  slot.index = index;
  m_Text.append(key);
  const size_t mask = m_Slots.size() - 1;
  size_t i = slot.hash & mask;
  while (m_Slots[i].index >= 0) i = (i + 1) & mask;
  m_Slots[i] = slot;
  ++m_Count;
}

}  // namespace memory
