#pragma once

#include <list>

#include "NUVA_o/SynchronousChunkHandler.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"

// Collects the chunks of one request of a result set into a queue, oldest first, for a
// consumer that pulls them with GetChunk. Counted: made with new (one reference for the
// creator), released with unuse. Holds a reference to its result set and to every queued chunk.
class VTQ_EXPORT SynchronousChunkHandlerCommon : public support::RefCountImpl,
                                                 public NUVA_o::SynchronousChunkHandler {
 public:
  // Requests fetchChunks(first, second, count). A count of -1 asks for everything.
  // Throws InvalidArgumentException for a null result set.
  SynchronousChunkHandlerCommon(NUVA_o::ViewResultSet* resultSet, long first, long second,
                                long count);
  // Requests fetchChunksRange(first, count).
  SynchronousChunkHandlerCommon(NUVA_o::ViewResultSet* resultSet, long first, long count);

  // Asks the result set for the chunks; they arrive through handleChunk on this thread. No
  // lock is held meanwhile, so another thread may cancel.
  void startChunkTransfer();

  // Takes over the chunk's reference. False (and the chunk released) once cancelled. A null
  // chunk is ignored.
  bool handleChunk(NUVA_o::Chunk* chunk, bool last) override;
  // The oldest queued chunk with its reference for the caller, or null when none is queued.
  NUVA_o::Chunk* GetChunk() override;
  // Refuses every later chunk; queued ones stay available.
  void CancelChunks() override;
  void StartFetch() override;

  bool isCancelled() const;
  // The numbers the result set is asked with (count already translated).
  long getFirst() const { return m_First; }
  long getSecond() const { return m_Second; }
  long getCount() const { return m_Count; }
  bool isThreeNumberForm() const { return m_bThreeNumbers; }

 protected:
  ~SynchronousChunkHandlerCommon() override;

 private:
  static long translate_count(long count) { return count == -1 ? 0x7fffffffL : count; }

  mutable KorvelMutex m_Mutex;
  std::list<NUVA_o::Chunk*> m_Queue;
  bool m_bCancelled = false;
  auto_unuse<NUVA_o::ViewResultSet> m_pResultSet;
  long m_First;
  long m_Second;
  long m_Count;
  bool m_bThreeNumbers;
};
