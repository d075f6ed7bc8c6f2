#pragma once

#include <mutex>
#include <shared_mutex>

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

// Many readers or one writer; not re-entrant.
class VTQ_EXPORT ReadWriteLock {
 public:
  void read_lock() { m_Lock.lock_shared(); }
  void read_unlock() { m_Lock.unlock_shared(); }
  void write_lock() { m_Lock.lock(); }
  void write_unlock() { m_Lock.unlock(); }

 private:
  std::shared_mutex m_Lock;
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
