#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

namespace support {

// The listeners of one object. The list does not own them: a listener removes itself before it
// dies. Notification calls each listener outside the list's mutex over a snapshot, so a
// listener may add or remove itself or another listener during the call; one removed before its
// turn is not called, one added during a notification is first called by the next. A listener
// removed on another thread while a notification is running may still be called once: the
// owner serialises removal with notification where a listener can die on another thread.
template <class Listener>
class ListenerList {
 public:
  // A null listener is ignored. The same listener may be added twice and is then called twice.
  void add(Listener* listener) {
    if (!listener) return;
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Listeners.push_back(listener);
  }

  // Removes every occurrence; false when the listener was not there.
  bool remove(Listener* listener) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const auto end = std::remove(m_Listeners.begin(), m_Listeners.end(), listener);
    if (end == m_Listeners.end()) return false;
    m_Listeners.erase(end, m_Listeners.end());
    ++m_Removals;
    return true;
  }

  bool contains(Listener* listener) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return std::find(m_Listeners.begin(), m_Listeners.end(), listener) != m_Listeners.end();
  }

  bool empty() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Listeners.empty();
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Listeners.size();
  }

  std::vector<Listener*> snapshot() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Listeners;
  }

  // Calls `call(listener)` for each listener registered now and still registered at its turn.
  template <class Call>
  void notify(Call&& call) const {
    uint64_t removals;
    std::vector<Listener*> listeners;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      listeners = m_Listeners;
      removals = m_Removals;
    }
    for (Listener* listener : listeners) {
      if (!still_registered(listener, removals)) continue;
      call(listener);
    }
  }

 private:
  // Only a removal since the snapshot can make a listener of it stale, so the common case costs
  // one counter read.
  bool still_registered(Listener* listener, uint64_t removals) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Removals == removals) return true;
    return std::find(m_Listeners.begin(), m_Listeners.end(), listener) != m_Listeners.end();
  }

  mutable std::mutex m_Mutex;
  std::vector<Listener*> m_Listeners;
  uint64_t m_Removals = 0;
};

}  // namespace support
