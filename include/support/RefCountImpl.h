#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace support {

// Live-object bookkeeping shared by every counted object of the process.
struct LiveCounter;

// The reference count of every shared object: starts at 1, dies at 0. Writes the
// "MEMORY"/"RefCount" trace lines and keeps the process-wide live-object count per trace name.
class VTQ_EXPORT RefCountImpl : public virtual olap_api::RefCount {
 public:
  RefCountImpl(const TOVAString& traceName, uint32_t instanceNumber);

  uint32_t use() override;
  uint32_t unuse() override;
  virtual int32_t getRefCount() const { return m_Count.load(std::memory_order_acquire); }
  virtual uint32_t getInstanceNumber() const { return m_InstanceNumber; }

  const TOVAString& getTraceName() const { return *m_pTraceName; }

  RefCountImpl(const RefCountImpl&) = delete;
  RefCountImpl& operator=(const RefCountImpl&) = delete;

 protected:
  ~RefCountImpl() override;
  // Adds one reference only while the count is at least `minimum`; returns the new count, or
  // 0 when the count was below `minimum` (nothing changed).
  int32_t use_if_at_least(int32_t minimum);
  void trace(const char* event, int32_t count) const;

 private:
  // Interned for the life of the process: one name per class, not one copy per object.
  const TOVAString* m_pTraceName;
  uint32_t m_InstanceNumber;
  std::atomic<int32_t> m_Count{1};
  LiveCounter* m_pLive;
};

class WeakRefBase;
class StrongRefBase : public virtual olap_api::RefCount {
 public:
  // The weak companion with one reference for the caller.
  virtual WeakRefBase* getWeakRef() = 0;
};

class WeakRefBase : public virtual olap_api::RefCount {
 public:
  // The target with one reference for the caller, or null once it is being torn down.
  virtual StrongRefBase* lock() = 0;
};

class WeakRef;

// A counted object with a weak companion. A fresh one has count 2: the creator's reference and
// the one it holds on itself while the companion is attached. The drop to 1 tears it down.
class VTQ_EXPORT StrongRef : public RefCountImpl, public virtual StrongRefBase {
 public:
  StrongRef(const TOVAString& traceName, uint32_t instanceNumber);

  uint32_t unuse() override;
  virtual bool isExpiring(int32_t count) const { return count < 3; }
  WeakRefBase* getWeakRef() override;

 protected:
  ~StrongRef() override;

 private:
  friend class WeakRef;
  WeakRef* m_pWeakRef;
};

class VTQ_EXPORT WeakRef : public RefCountImpl, public virtual WeakRefBase {
 public:
  WeakRef(StrongRef* target, const TOVAString& traceName, uint32_t instanceNumber);

  virtual void detach();
  StrongRefBase* lock() override;

 private:
  std::mutex m_Mutex;
  StrongRef* m_pTarget;
};

// Number of live counted objects with that trace name.
VTQ_EXPORT int64_t liveObjectCount(const TOVAString& traceName);
// Trace names with a non-zero number of live objects.
VTQ_EXPORT std::map<TOVAString, int64_t> liveObjectCounts();
VTQ_EXPORT int64_t liveObjectTotal();

// The next instance number of a class: 0 for its first instance.
template <class T>
uint32_t nextInstanceNumber() {
  static std::atomic<uint32_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace support

// Holds one reference to a counted object. Built from a raw pointer it adopts the reference
// that pointer carries; copies add a reference; destruction drops it.
template <class T>
class auto_unuse {
 public:
  auto_unuse() = default;
  explicit auto_unuse(T* p) : m_p(p) {}
  auto_unuse(std::nullptr_t) {}
  auto_unuse(const auto_unuse& o) : m_p(o.m_p) {
    if (m_p) m_p->use();
  }
  auto_unuse(auto_unuse&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  auto_unuse(auto_unuse<U>&& o) noexcept : m_p(o.release()) {}
  ~auto_unuse() {
    if (m_p) m_p->unuse();
  }
  auto_unuse& operator=(auto_unuse o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }

  // A holder that adds its own reference to a borrowed pointer.
  static auto_unuse share(T* p) {
    if (p) p->use();
    return auto_unuse(p);
  }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // Gives up the reference to the caller.
  T* release() { return std::exchange(m_p, nullptr); }
  void reset(T* p = nullptr) { auto_unuse(p).swap(*this); }
  void swap(auto_unuse& o) noexcept { std::swap(m_p, o.m_p); }
  // A new reference for a caller who will own it.
  T* share() const {
    if (m_p) m_p->use();
    return m_p;
  }

  friend bool operator==(const auto_unuse& a, const auto_unuse& b) { return a.m_p == b.m_p; }
  friend bool operator==(const auto_unuse& a, const T* b) { return a.m_p == b; }

 private:
  T* m_p = nullptr;
};
