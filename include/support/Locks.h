#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "support/Export.h"

// A mutex the same thread may take again (axis hierarchies re-enter theirs from callbacks).
class VTQ_EXPORT KorvelMutex {
 public:
  void lock() { m_Mutex.lock(); }
  void unlock() { m_Mutex.unlock(); }
  bool try_lock() { return m_Mutex.try_lock(); }

 private:
  std::recursive_mutex m_Mutex;
};

class KorvelSynchronized {
 public:
  explicit KorvelSynchronized(KorvelMutex& m) : m_Mutex(m) { m_Mutex.lock(); }
  ~KorvelSynchronized() { m_Mutex.unlock(); }
  KorvelSynchronized(const KorvelSynchronized&) = delete;
  KorvelSynchronized& operator=(const KorvelSynchronized&) = delete;

 private:
  KorvelMutex& m_Mutex;
};

// Many readers or one writer; not re-entrant. It knows which thread writes, so that work done
// under the write lock can call back into code that would take it again (KorvelSynchronizedEdit).
class VTQ_EXPORT ReadWriteLock {
 public:
  void read_lock() { m_Lock.lock_shared(); }
  void read_unlock() { m_Lock.unlock_shared(); }
  void write_lock() {
    m_Lock.lock();
    m_Writer.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void write_unlock() {
    m_Writer.store(std::thread::id(), std::memory_order_relaxed);
    m_Lock.unlock();
  }
  // Only the writing thread can see its own id here, so a relaxed read answers it exactly.
  bool written_by_this_thread() const {
    return m_Writer.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  std::shared_mutex m_Lock;
  std::atomic<std::thread::id> m_Writer{};
};

class KorvelSynchronizedRead {
 public:
  explicit KorvelSynchronizedRead(ReadWriteLock& l) : m_Lock(l) { m_Lock.read_lock(); }
  ~KorvelSynchronizedRead() { m_Lock.read_unlock(); }
  KorvelSynchronizedRead(const KorvelSynchronizedRead&) = delete;
  KorvelSynchronizedRead& operator=(const KorvelSynchronizedRead&) = delete;

 private:
  ReadWriteLock& m_Lock;
};

class KorvelSynchronizedWrite {
 public:
  explicit KorvelSynchronizedWrite(ReadWriteLock& l) : m_Lock(l) { m_Lock.write_lock(); }
  ~KorvelSynchronizedWrite() { m_Lock.write_unlock(); }
  KorvelSynchronizedWrite(const KorvelSynchronizedWrite&) = delete;
  KorvelSynchronizedWrite& operator=(const KorvelSynchronizedWrite&) = delete;

 private:
  ReadWriteLock& m_Lock;
};

// The write lock for an edit: taken unless this thread writes under it already (an edit that
// calls back into its owner through listeners). A null lock guards nothing.
class KorvelSynchronizedEdit {
 public:
  explicit KorvelSynchronizedEdit(ReadWriteLock* l)
      : m_pLock(l && !l->written_by_this_thread() ? l : nullptr) {
    if (m_pLock) m_pLock->write_lock();
  }
  ~KorvelSynchronizedEdit() {
    if (m_pLock) m_pLock->write_unlock();
  }
  KorvelSynchronizedEdit(const KorvelSynchronizedEdit&) = delete;
  KorvelSynchronizedEdit& operator=(const KorvelSynchronizedEdit&) = delete;

 private:
  ReadWriteLock* m_pLock;
};
