#include "support/SystemSupport.h"

#include <uuid/uuid.h>

GUID SystemSupport::GenerateGUID() {
  uuid_t bytes;
  uuid_generate(bytes);
  // The text form reads the bytes in order, so the first fields are big-endian.
  GUID guid;
  guid.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
               static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return guid;
}
