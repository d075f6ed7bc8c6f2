#include "common/SynchronousChunkHandlerCommon.h"

#include "common/ComponentLog.h"
#include "support/Exceptions.h"

namespace {
NUVA_o::ViewResultSet* checked(NUVA_o::ViewResultSet* resultSet) {
  if (!resultSet)
    support::raise<InvalidArgumentExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_ARGUMENT, support::null_insert);
  return resultSet;
}
}  // namespace

SynchronousChunkHandlerCommon::SynchronousChunkHandlerCommon(NUVA_o::ViewResultSet* resultSet,
                                                             long first, long second, long count)
    : support::RefCountImpl("SynchronousChunkHandlerCommon",
                            support::nextInstanceNumber<SynchronousChunkHandlerCommon>()),
      m_pResultSet(auto_unuse<NUVA_o::ViewResultSet>::share(checked(resultSet))),
      m_First(first),
      m_Second(second),
      m_Count(translate_count(count)),
      m_bThreeNumbers(true) {}

SynchronousChunkHandlerCommon::SynchronousChunkHandlerCommon(NUVA_o::ViewResultSet* resultSet,
                                                             long first, long count)
    : support::RefCountImpl("SynchronousChunkHandlerCommon",
                            support::nextInstanceNumber<SynchronousChunkHandlerCommon>()),
      m_pResultSet(auto_unuse<NUVA_o::ViewResultSet>::share(checked(resultSet))),
      m_First(1),
      m_Second(first),
      m_Count(translate_count(count)),
      m_bThreeNumbers(false) {}

SynchronousChunkHandlerCommon::~SynchronousChunkHandlerCommon() {
  // Each queued chunk still carries the reference the provider handed over.
  for (NUVA_o::Chunk* chunk : m_Queue) chunk->unuse();
  m_Queue.clear();
}

void SynchronousChunkHandlerCommon::startChunkTransfer() {
  if (m_bThreeNumbers)
    m_pResultSet->fetchChunks(this, m_First, m_Second, m_Count);
  else
    m_pResultSet->fetchChunksRange(this, m_Second, m_Count);
}

void SynchronousChunkHandlerCommon::StartFetch() { startChunkTransfer(); }

bool SynchronousChunkHandlerCommon::handleChunk(NUVA_o::Chunk* chunk, bool /*last*/) {
  auto_unuse<NUVA_o::Chunk> held(chunk);
  KorvelSynchronized guard(m_Mutex);
  if (m_bCancelled) return false;
  if (held) m_Queue.push_back(held.release());
  return true;
}

NUVA_o::Chunk* SynchronousChunkHandlerCommon::GetChunk() {
  KorvelSynchronized guard(m_Mutex);
  if (m_Queue.empty()) return nullptr;
  NUVA_o::Chunk* chunk = m_Queue.front();
  m_Queue.pop_front();
  return chunk;
}

void SynchronousChunkHandlerCommon::CancelChunks() {
  KorvelSynchronized guard(m_Mutex);
  m_bCancelled = true;
}

bool SynchronousChunkHandlerCommon::isCancelled() const {
  KorvelSynchronized guard(m_Mutex);
  return m_bCancelled;
}
