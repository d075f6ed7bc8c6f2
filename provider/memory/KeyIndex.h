#pragma once

// Leaf indexes by the UTF-8 text of their keys, found without building a string per lookup:
// fact tables name the same few thousand keys millions of times.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace memory {

class KeyIndex {
 public:
  // The index stored for `key`, or -1.
  int32_t find(std::string_view key) const;
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
  static uint64_t hash_of(std::string_view key);
  void grow();

  std::vector<Slot> m_Slots;
  std::string m_Text;
  size_t m_Count = 0;
};

}  // namespace memory
