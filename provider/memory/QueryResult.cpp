// The result set of a grid query and the axis and cell chunks it cuts from the grid.

#include <algorithm>

#include "QueryEngine.h"
#include "support/ListenerList.h"
#include "support/Locks.h"

namespace memory {

namespace {

[[noreturn]] void raise_range(const char* what, long long value) {
  raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_RESULT_RANGE, what, value);
}

class AxisChunkImpl final : public support::RefCountImpl, public MemoryAxisChunk {
 public:
  AxisChunkImpl(std::shared_ptr<const GridData> grid, int axis, long first, long count)
      : RefCountImpl("MemoryAxisChunk", support::nextInstanceNumber<AxisChunkImpl>()),
        m_pGrid(std::move(grid)), m_Axis(axis), m_First(first), m_Count(count) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

  int getAxis() const override { return m_Axis; }
  long getFirstTuple() const override { return m_First; }
  long getTupleCount() const override { return m_Count; }
  long getAxisTupleCount() const override { return static_cast<long>(axis().tupleCount); }
  int getHierarchyCount() const override { return static_cast<int>(axis().hierarchies.size()); }
  const TOVAString& getHierarchyUniqueName(int hierarchy) const override {
    return axis().hierarchies[checked_hierarchy(hierarchy)].hierarchy->getUniqueName();
  }
  const TOVAString& getMemberUniqueName(long tuple, int hierarchy) const override {
    return node(tuple, hierarchy).uniqueName;
  }
  const TOVAString& getMemberCaption(long tuple, int hierarchy) const override {
    return node(tuple, hierarchy).caption;
  }
  int getMemberLevel(long tuple, int hierarchy) const override { return node(tuple, hierarchy).level; }

 private:
  const ResolvedAxis& axis() const { return m_pGrid->axes[static_cast<size_t>(m_Axis)]; }
  size_t checked_hierarchy(int hierarchy) const {
    if (hierarchy < 0 || static_cast<size_t>(hierarchy) >= axis().hierarchies.size())
      raise_range("hierarchy", hierarchy);
    return static_cast<size_t>(hierarchy);
  }
  const MemberNode& node(long tuple, int hierarchy) const {
    const size_t h = checked_hierarchy(hierarchy);
    if (tuple < 0 || tuple >= m_Count) raise_range("tuple", tuple);
    return m_pGrid->shownNode(static_cast<size_t>(m_Axis), static_cast<uint64_t>(m_First + tuple), h);
  }

  std::shared_ptr<const GridData> m_pGrid;
  int m_Axis;
  long m_First;
  long m_Count;
};

class CellDataChunkImpl final : public support::RefCountImpl, public MemoryCellDataChunk {
 public:
  CellDataChunkImpl(std::shared_ptr<const GridData> grid, long first, long count)
      : RefCountImpl("MemoryCellDataChunk", support::nextInstanceNumber<CellDataChunkImpl>()),
        m_pGrid(std::move(grid)), m_First(first), m_Count(count) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

  long getFirstCell() const override { return m_First; }
  long getCellCount() const override { return m_Count; }
  long getTotalCellCount() const override { return static_cast<long>(m_pGrid->values.size()); }
  bool isEmpty(long cell) const override { return m_pGrid->filled[index(cell)] == 0; }
  double getValue(long cell) const override { return m_pGrid->values[index(cell)]; }
  int getBand(long cell) const override {
    const int32_t rule = rule_of(cell);
    return rule < 0 ? -1 : m_pGrid->rules[static_cast<size_t>(rule)].banding;
  }
  const TOVAString& getGroup(long cell) const override {
    static const TOVAString none;
    const int32_t rule = rule_of(cell);
    return rule < 0 ? none : m_pGrid->rules[static_cast<size_t>(rule)].group;
  }

 private:
  size_t index(long cell) const {
    if (cell < 0 || cell >= m_Count) raise_range("cell", cell);
    return static_cast<size_t>(m_First + cell);
  }
  int32_t rule_of(long cell) const {
    const size_t i = index(cell);
    return m_pGrid->band.empty() ? -1 : m_pGrid->band[i];
  }

  std::shared_ptr<const GridData> m_pGrid;
  long m_First;
  long m_Count;
};

class ResultSetImpl final : public support::RefCountImpl, public MemoryResultSet {
 public:
  explicit ResultSetImpl(std::shared_ptr<const GridData> grid)
      : RefCountImpl("MemoryResultSet", support::nextInstanceNumber<ResultSetImpl>()),
        m_pGrid(std::move(grid)) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

  void fetchChunks(NUVA_o::ChunkHandler* handler, long first, long second, long count) override {
    if (first == CELLS) return fetch_cells(handler, second, count);
    if (first < 0 || static_cast<size_t>(first) >= m_pGrid->axes.size()) raise_range("axis", first);
    check_fetch(handler, second, count);
    const int axis = static_cast<int>(first);
    const long total = getTupleCount(axis);
    deliver(handler, second, count, total, AXIS_CHUNK_TUPLES, [&](long from, long n) -> NUVA_o::Chunk* {
      return new AxisChunkImpl(m_pGrid, axis, from, n);
    });
  }

  void fetchChunksRange(NUVA_o::ChunkHandler* handler, long first, long count) override {
    fetch_cells(handler, first, count);
  }

  void addListener(ViewResultSetListener* listener) override {
    KorvelSynchronized lock(m_Mutex);
    m_Listeners.add(listener);
  }

  void removeListener(ViewResultSetListener* listener) override {
    KorvelSynchronized lock(m_Mutex);
    m_Listeners.remove(listener);
  }

  int getAxisCount() const override { return static_cast<int>(m_pGrid->axes.size()); }
  long getTupleCount(int axis) const override {
    if (axis < 0 || static_cast<size_t>(axis) >= m_pGrid->axes.size()) raise_range("axis", axis);
    return static_cast<long>(m_pGrid->axes[static_cast<size_t>(axis)].tupleCount);
  }
  long getCellCount() const override { return static_cast<long>(m_pGrid->values.size()); }
  std::vector<TOVAString> getAxisHierarchies(int axis) const override {
    getTupleCount(axis);  // checks the index
    std::vector<TOVAString> out;
    for (const ResolvedCoordinate& c : m_pGrid->axes[static_cast<size_t>(axis)].hierarchies)
      out.push_back(c.hierarchy->getUniqueName());
    return out;
  }
  std::vector<TOVAString> getSlicer() const override { return m_pGrid->slicer; }

  void close() override {
    // Listeners are told under the result set's re-entrant mutex, so one that removes itself
    // from another thread (a view dropping this result) waits until the notification is over.
    KorvelSynchronized lock(m_Mutex);
    if (m_bClosed.exchange(true)) return;
    auto_unuse<ResultSetImpl> keepAlive = auto_unuse<ResultSetImpl>::share(this);
    m_Listeners.notify([](ViewResultSetListener* listener) { listener->viewResultSetClosed(); });
  }

  bool isClosed() const override { return m_bClosed.load(); }

 private:
  ~ResultSetImpl() override = default;

  void check_fetch(NUVA_o::ChunkHandler* handler, long first, long count) const {
    if (!handler)
      support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                   support::null_insert);
    if (first < 0) raise_range("first", first);
    if (count < 0) raise_range("count", count);
    if (m_bClosed.load()) raise_query<RunTimeExceptionImpl>(MEMORY_E_RESULT_CLOSED);
  }

  void fetch_cells(NUVA_o::ChunkHandler* handler, long first, long count) {
    check_fetch(handler, first, count);
    deliver(handler, first, count, getCellCount(), CELL_CHUNK_CELLS, [&](long from, long n) -> NUVA_o::Chunk* {
      return new CellDataChunkImpl(m_pGrid, from, n);
    });
  }

  template <class Make>
  static void deliver(NUVA_o::ChunkHandler* handler, long first, long count, long total,
                      long piece, Make make) {
    const long begin = std::min(first, total);
    const long end = begin + std::min(count, total - begin);
    long from = begin;
    do {
      const long n = std::min(piece, end - from);
      // The handler takes over the chunk's reference.
      if (!handler->handleChunk(make(from, n), from + n >= end)) return;
      from += n;
    } while (from < end);
  }

  std::shared_ptr<const GridData> m_pGrid;
  KorvelMutex m_Mutex;
  support::ListenerList<ViewResultSetListener> m_Listeners;
  std::atomic<bool> m_bClosed{false};
};

}  // namespace

MemoryResultSet* make_result_set(std::shared_ptr<const GridData> grid) {
  return new ResultSetImpl(std::move(grid));
}

}  // namespace memory
