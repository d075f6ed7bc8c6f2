#pragma once

#include "olap_api/RefCount.h"

namespace NUVA_o {

// A piece of a query result. The library queues and releases chunks without looking into them.
class VTQ_EXPORT Chunk : public virtual olap_api::RefCount {
 public:
  ~Chunk() override = default;
};

// A chunk holding tuples of one axis.
class VTQ_EXPORT AxisChunk : public Chunk {
 public:
  ~AxisChunk() override = default;
};

// A chunk holding cell values.
class VTQ_EXPORT CellDataChunk : public Chunk {
 public:
  ~CellDataChunk() override = default;
};

// An action that the provider attaches to a result.
class VTQ_EXPORT Action : public virtual olap_api::RefCount {
 public:
  ~Action() override = default;
};

// Receives the chunks of one fetch.
class VTQ_EXPORT ChunkHandler : public virtual olap_api::RefCount {
 public:
  ~ChunkHandler() override = default;
  // Takes over the reference the chunk carries. False: the provider stops delivering.
  virtual bool handleChunk(Chunk* chunk, bool last) = 0;
  // The oldest chunk not yet taken, with its reference, or null.
  virtual Chunk* GetChunk() = 0;
  virtual void CancelChunks() = 0;
  virtual void StartFetch() = 0;
};

// The result of one query of a cube view.
class VTQ_EXPORT ViewResultSet : public virtual olap_api::RefCount {
 public:
  // Told when the result set closes. Not owned; removes itself before it dies.
  class VTQ_EXPORT ViewResultSetListener {
   public:
    virtual ~ViewResultSetListener() = default;
    virtual void viewResultSetClosed() = 0;
  };

  ~ViewResultSet() override = default;

  // Calls handler->handleChunk once per chunk, on the calling thread.
  virtual void fetchChunks(ChunkHandler* handler, long first, long second, long count) = 0;
  virtual void fetchChunksRange(ChunkHandler* handler, long first, long count) = 0;
  // Listeners are not owned; each stays registered until its removal.
  virtual void addListener(ViewResultSetListener* listener) = 0;
  virtual void removeListener(ViewResultSetListener* listener) = 0;
};

// The provider's rowset of a flat request; its operations belong to the rowset classes.
class RowsetDataModel;

}  // namespace NUVA_o
