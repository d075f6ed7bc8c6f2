#include "KeyIndex.h"

#include <cassert>
#include <cstring>

namespace memory {

uint64_t KeyIndex::hash_of(std::string_view key) {
  // Eight bytes at a time, each word mixed by a multiplication; keys are short.
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ key.size();
  size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, key.data() + i, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 31;
  }
  uint64_t tail = 0;
  if (i < key.size()) std::memcpy(&tail, key.data() + i, key.size() - i);
  h = (h ^ tail) * 0x94D049BB133111EBULL;
  return h ^ (h >> 29);
}

int32_t KeyIndex::find(std::string_view key) const {
  if (m_Slots.empty()) return -1;
  const uint64_t hash = hash_of(key);
  const size_t mask = m_Slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = m_Slots[i];
    if (slot.index < 0) return -1;
    if (slot.hash == hash && slot.length == key.size() &&
        std::memcmp(m_Text.data() + slot.offset, key.data(), key.size()) == 0)
      return slot.index;
  }
}

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
