#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "common/SynchronousChunkHandlerCommon.h"
#include "support/Exceptions.h"

namespace {

class FakeChunk : public support::RefCountImpl, public NUVA_o::CellDataChunk {
 public:
  explicit FakeChunk(int number) : RefCountImpl("FakeChunk", 0), m_Number(number) {}
  int m_Number;
};

int numberOf(NUVA_o::Chunk* chunk) { return dynamic_cast<FakeChunk*>(chunk)->m_Number; }

// Delivers `m_ChunkCount` chunks per fetch until the handler refuses one, and notes the request.
class FakeResultSet : public support::RefCountImpl, public NUVA_o::ViewResultSet {
 public:
  FakeResultSet() : RefCountImpl("FakeResultSet", 0) {}
  int m_ChunkCount = 3;
  std::string m_Request;
  std::atomic<int> m_Refused{0};

  void fetchChunks(NUVA_o::ChunkHandler* handler, long first, long second, long count) override {
    m_Request = "fetchChunks(" + std::to_string(first) + "," + std::to_string(second) + "," +
                std::to_string(count) + ")";
    deliver(handler);
  }
  void fetchChunksRange(NUVA_o::ChunkHandler* handler, long first, long count) override {
    m_Request = "fetchChunksRange(" + std::to_string(first) + "," + std::to_string(count) + ")";
    deliver(handler);
  }
  void addListener(ViewResultSetListener*) override {}
  void removeListener(ViewResultSetListener*) override {}

 private:
  void deliver(NUVA_o::ChunkHandler* handler) {
    for (int i = 0; i < m_ChunkCount; ++i)
      if (!handler->handleChunk(new FakeChunk(i), i + 1 == m_ChunkCount)) {
        ++m_Refused;
        return;
      }
  }
};

class ChunkHandlerTest : public vtq_testing::VtqTest {};

TEST_F(ChunkHandlerTest, BothFormsPassTheirNumbersAndMinusOneMeansEverything) {
  auto_unuse<FakeResultSet> results(new FakeResultSet());
  results->m_ChunkCount = 0;
  auto_unuse<SynchronousChunkHandlerCommon> three(
      new SynchronousChunkHandlerCommon(results.get(), 4, 5, 6));
  three->StartFetch();
  EXPECT_EQ("fetchChunks(4,5,6)", results->m_Request);

  auto_unuse<SynchronousChunkHandlerCommon> all(
      new SynchronousChunkHandlerCommon(results.get(), 4, 5, -1));
  all->startChunkTransfer();
  EXPECT_EQ("fetchChunks(4,5,2147483647)", results->m_Request);

  auto_unuse<SynchronousChunkHandlerCommon> two(
      new SynchronousChunkHandlerCommon(results.get(), 9, -1));
  two->StartFetch();
  EXPECT_EQ("fetchChunksRange(9,2147483647)", results->m_Request);
  EXPECT_EQ(1, two->getFirst());
  EXPECT_FALSE(two->isThreeNumberForm());

  try {
    auto_unuse<SynchronousChunkHandlerCommon> none(
        new SynchronousChunkHandlerCommon(nullptr, 1, 1));
    ADD_FAILURE() << "a handler without a result set was built";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(support::COMMON_E_INVALID_ARGUMENT, e.getCode());
  }
}

TEST_F(ChunkHandlerTest, ChunksComeOutOldestFirstAndUntakenOnesAreReleased) {
  auto_unuse<FakeResultSet> results(new FakeResultSet());
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(results.get(), 1, 2, 3));
  // The handler keeps the result set alive for as long as it may fetch from it.
  FakeResultSet* borrowed = results.get();
  results.reset();
  EXPECT_EQ(1, support::liveObjectCount("FakeResultSet"));

  handler->StartFetch();
  EXPECT_EQ(3, support::liveObjectCount("FakeChunk"));
  auto_unuse<NUVA_o::Chunk> first(handler->GetChunk());
  ASSERT_TRUE(first);
  EXPECT_EQ(0, numberOf(first.get()));
  auto_unuse<NUVA_o::Chunk> second(handler->GetChunk());
  EXPECT_EQ(1, numberOf(second.get()));
  EXPECT_EQ(0, borrowed->m_Refused.load());

  // Regression: the chunks still queued at destruction were leaked with their references.
  handler.reset();
  EXPECT_EQ(2, support::liveObjectCount("FakeChunk"));
  EXPECT_EQ(0, support::liveObjectCount("FakeResultSet"));
}

TEST_F(ChunkHandlerTest, CancelledHandlerReleasesNewChunksAndKeepsQueuedOnes) {
  auto_unuse<FakeResultSet> results(new FakeResultSet());
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(results.get(), 1, 2));
  handler->StartFetch();
  handler->CancelChunks();
  EXPECT_TRUE(handler->isCancelled());

  FakeChunk* late = new FakeChunk(99);
  late->use();
  EXPECT_FALSE(handler->handleChunk(late, true));
  EXPECT_EQ(0u, late->unuse()) << "the late chunk's handed-over reference was not released";

  handler->StartFetch();
  EXPECT_EQ(1, results->m_Refused.load()) << "the provider was told to stop";
  for (int expected = 0; expected < 3; ++expected) {
    auto_unuse<NUVA_o::Chunk> chunk(handler->GetChunk());
    ASSERT_TRUE(chunk);
    EXPECT_EQ(expected, numberOf(chunk.get()));
  }
  EXPECT_EQ(nullptr, handler->GetChunk());
  EXPECT_FALSE(handler->handleChunk(nullptr, false));
}

TEST_F(ChunkHandlerTest, AConsumerMayPullWhileTheProviderDeliversAndAThirdThreadCancels) {
  auto_unuse<FakeResultSet> results(new FakeResultSet());
  results->m_ChunkCount = 20000;
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(results.get(), 0, -1));
  std::atomic<bool> delivered{false};
  std::thread provider([&] {
    handler->StartFetch();
    delivered = true;
  });
  std::atomic<int> taken{0};
  int expected = 0;
  bool ordered = true;
  std::thread canceller([&] {
    while (taken < 100 && !delivered) std::this_thread::yield();
    handler->CancelChunks();
  });
  for (;;) {
    bool finished = delivered.load();
    NUVA_o::Chunk* chunk = handler->GetChunk();
    if (!chunk) {
      if (finished) break;
      std::this_thread::yield();
      continue;
    }
    ordered = ordered && numberOf(chunk) == expected++;
    ++taken;
    chunk->unuse();
  }
  provider.join();
  canceller.join();
  EXPECT_TRUE(ordered);
  EXPECT_GE(taken.load(), 1);
  EXPECT_LE(taken.load(), 20000);
  EXPECT_EQ(0, support::liveObjectCount("FakeChunk"));
}

}  // namespace
