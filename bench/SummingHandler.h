#pragma once

// Reads every cell of a memory result set in chunks, as a consumer would, summing what it reads.

#include <cstdint>

#include "provider/memory/MemoryQuery.h"

namespace vtq_bench {

class SummingHandler final : public NUVA_o::ChunkHandler {
 public:
  uint32_t use() override { return 1; }
  uint32_t unuse() override { return 1; }
  bool handleChunk(NUVA_o::Chunk* chunk, bool) override {
    auto* cells = static_cast<memory::MemoryCellDataChunk*>(chunk);
    for (long i = 0; i < cells->getCellCount(); ++i) {
      if (!cells->isEmpty(i)) {
        total += cells->getValue(i);
        ++filled;
      }
      banded += cells->getBand(i) >= 0;
    }
    chunk->unuse();
    return true;
  }
  NUVA_o::Chunk* GetChunk() override { return nullptr; }
  void CancelChunks() override {}
  void StartFetch() override {}

  double total = 0;
  long filled = 0;
  long banded = 0;
};

}  // namespace vtq_bench
