#pragma once

// Leaf indexes by the UTF-8 text of their keys, found without building a string per lookup:
// fact tables name the same few thousand keys millions of times.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace memory {

class KeyIndex {
 public:
  // The index stored for `key`, or -1. Not const: it remembers the key found.
  int32_t find(std::string_view key) {
    if (m_Slots.empty()) return -1;
    // Fact tables are often sorted by some keys, which then repeat row after row.
    const Slot& last = m_Slots[m_Last];
    if (last.index >= 0 && last.length == key.size() && same_text(m_Text.data() + last.offset, key))
      return last.index;
    const uint64_t hash = hash_of(key);
    const size_t mask = m_Slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = m_Slots[i];
      if (slot.index < 0) return -1;
      if (slot.hash == hash && slot.length == key.size() && same_text(m_Text.data() + slot.offset, key)) {
        m_Last = i;
        return slot.index;
      }
    }
  }
  // Stores `index` (at least 0) for a key that is not stored yet; the index keeps a copy of the text.
  void insert(std::string_view key, int32_t index);
  size_t size() const { return m_Count; }

 private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    int32_t index = -1;  // -1: an empty slot
  };
  static uint64_t load(const char* p, size_t bytes) {
    uint64_t word = 0;
    std::memcpy(&word, p, bytes);
    return word;
  }
  // Keys of up to 16 bytes, the usual ones, are read as two words that may overlap.
  static uint64_t hash_of(std::string_view key) {
    const char* p = key.data();
    const size_t n = key.size();
    uint64_t a, b;
    if (n >= 8) {
      a = load(p, 8);
      b = load(p + n - 8, 8);
      for (size_t i = 8; i + 8 < n; i += 8) a = (a ^ load(p + i, 8)) * 0xBF58476D1CE4E5B9ULL;
    } else if (n >= 4) {
      a = load(p, 4);
      b = load(p + n - 4, 4);
    } else {
      a = n > 0 ? (static_cast<uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
                   static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
                   static_cast<unsigned char>(p[n - 1]))
                : 0;
      b = 0;
    }
    const unsigned __int128 product =
        static_cast<unsigned __int128>(a ^ 0x9E3779B97F4A7C15ULL ^ n) * (b ^ 0x94D049BB133111EBULL);
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  }
  // Short keys are compared as two words that may overlap, as they are hashed.
  static bool same_text(const char* stored, std::string_view key) {
    const size_t n = key.size();
    if (n >= 8 && n <= 16)
      return load(stored, 8) == load(key.data(), 8) && load(stored + n - 8, 8) == load(key.data() + n - 8, 8);
    if (n >= 4 && n < 8)
      return load(stored, 4) == load(key.data(), 4) && load(stored + n - 4, 4) == load(key.data() + n - 4, 4);
    return n == 0 || std::memcmp(stored, key.data(), n) == 0;
  }
  void grow();

  std::vector<Slot> m_Slots;
  std::string m_Text;
  size_t m_Count = 0;
  // The slot of the key found last.
  size_t m_Last = 0;
};

}  // namespace memory
