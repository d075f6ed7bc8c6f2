#pragma once

// The threads that scan a cube's facts. The provider owns them (the library creates none): a
// cube makes its pool on the first scan that can use several threads.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <utility>
#include <mutex>
#include <thread>
#include <vector>

namespace memory {

class ScanPool {
 public:
  // `threads` counts the calling thread: threads - 1 workers are started.
  explicit ScanPool(unsigned threads);
  // Stops and joins the workers; no run() may be in progress.
  ~ScanPool();
  ScanPool(const ScanPool&) = delete;
  ScanPool& operator=(const ScanPool&) = delete;

  unsigned threads() const { return static_cast<unsigned>(m_Workers.size()) + 1; }

  // Calls task(worker, morsel) once for every morsel in [0, count): the calling thread is worker
  // 0, the pool's threads are 1 to threads() - 1. After a task throws, no further morsel is
  // handed out, and the first exception is rethrown here once every worker has stopped. While
  // another caller's scan holds the pool, every morsel runs on the calling thread.
  void run(size_t count, const std::function<void(unsigned worker, size_t morsel)>& task);

  // Default thread count of scans: the hardware's, at least one.
  static unsigned hardwareThreads();

 private:
  void work(unsigned worker);
  void worker_loop(unsigned worker);

  std::mutex m_RunMutex;  // held by the scan that uses the workers
  std::mutex m_Mutex;     // guards the fields below up to m_Error
  std::condition_variable m_Wake;
  std::condition_variable m_Done;
  uint64_t m_Generation = 0;
  bool m_bStop = false;
  unsigned m_Active = 0;
  const std::function<void(unsigned, size_t)>* m_pTask = nullptr;
  size_t m_Count = 0;
  std::exception_ptr m_Error;
  std::atomic<size_t> m_Next{0};
  std::atomic<bool> m_bFailed{false};
  std::vector<std::thread> m_Workers;
};

}  // namespace memory
