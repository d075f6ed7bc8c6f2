#include "ScanPool.h"

namespace memory {

ScanPool::ScanPool(unsigned threads) {
  for (unsigned w = 1; w < threads; ++w) m_Workers.emplace_back([this, w] { worker_loop(w); });
}

ScanPool::~ScanPool() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bStop = true;
  }
  m_Wake.notify_all();
  for (std::thread& t : m_Workers) t.join();
}

unsigned ScanPool::hardwareThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

void ScanPool::work(unsigned worker) {
  while (!m_bFailed.load(std::memory_order_acquire)) {
    const size_t morsel = m_Next.fetch_add(1, std::memory_order_relaxed);
    if (morsel >= m_Count) return;
    try {
      (*m_pTask)(worker, morsel);
    } catch (...) {
      std::lock_guard<std::mutex> lock(m_Mutex);
      if (!m_Error) m_Error = std::current_exception();
      m_bFailed.store(true, std::memory_order_release);
    }
  }
}

void ScanPool::worker_loop(unsigned worker) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      m_Wake.wait(lock, [&] { return m_bStop || m_Generation != seen; });
      if (m_bStop) return;
      seen = m_Generation;
    }
    work(worker);
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (--m_Active == 0) m_Done.notify_all();
  }
}

void ScanPool::run(size_t count, const std::function<void(unsigned, size_t)>& task) {
  std::unique_lock<std::mutex> busy(m_RunMutex, std::try_to_lock);
  if (!busy.owns_lock() || m_Workers.empty() || count <= 1) {
    for (size_t m = 0; m < count; ++m) task(0, m);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_pTask = &task;
    m_Count = count;
    m_Next.store(0, std::memory_order_relaxed);
    m_bFailed.store(false, std::memory_order_relaxed);
    m_Error = nullptr;
    m_Active = static_cast<unsigned>(m_Workers.size());
    ++m_Generation;
  }
  m_Wake.notify_all();
  work(0);
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Done.wait(lock, [&] { return m_Active == 0; });
    error = std::exchange(m_Error, nullptr);
    m_pTask = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace memory
