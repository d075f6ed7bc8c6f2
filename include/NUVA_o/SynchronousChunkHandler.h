#pragma once

#include "NUVA_o/ViewResultSet.h"

namespace NUVA_o {

// A chunk handler whose chunks are delivered on the thread that starts the fetch and are then
// pulled one by one with GetChunk.
class VTQ_EXPORT SynchronousChunkHandler : public ChunkHandler {
 public:
  ~SynchronousChunkHandler() override = default;
};

}  // namespace NUVA_o
