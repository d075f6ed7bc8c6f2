#include "support/RefCountImpl.h"

#include <cstring>
#include <memory>

#include "common/ComponentLog.h"

namespace support {

struct LiveCounter {
  std::atomic<int64_t> count{0};
  const TOVAString* name = nullptr;  // the registry's key, which never moves
};

namespace {

struct LiveRegistry {
  std::mutex mutex;
  std::map<TOVAString, std::unique_ptr<LiveCounter>> counters;
};

LiveRegistry& registry() {
  // Never destroyed: objects may die during static destruction.
  static LiveRegistry* const r = new LiveRegistry();
  return *r;
}

LiveCounter* counterFor(const TOVAString& name) {
  // Counters and their names live as long as the process, so each thread may remember the
  // last few it used and skip the registry lock when a class creates many objects
  // (expression nodes). The cache is trivially constructible: no per-access initialisation.
  struct Cached {
    const TOVAString* name;
    LiveCounter* counter;
  };
  static thread_local Cached cache[4] __attribute__((tls_model("initial-exec")));
  static thread_local unsigned next __attribute__((tls_model("initial-exec")));
  const size_t bytes = name.size() * sizeof(char16_t);
  for (const Cached& c : cache)
    if (c.counter && c.name->size() == name.size() &&
        std::memcmp(c.name->data(), name.data(), bytes) == 0)
      return c.counter;
  LiveRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.counters.try_emplace(name).first;
  if (!it->second) {
    it->second = std::make_unique<LiveCounter>();
    it->second->name = &it->first;
  }
  cache[next++ % 4] = Cached{&it->first, it->second.get()};
  return it->second.get();
}

// The reference-count log, reached without a call: with tracing off, use and unuse pay one
// cached comparison each, no more.
[[gnu::always_inline]] inline const common::ComponentLog& trace_log() {
  static const common::ComponentLog& log = common::refCountLog();
  return log;
}

}  // namespace

RefCountImpl::RefCountImpl(const TOVAString& traceName, uint32_t instanceNumber)
    : m_pTraceName(nullptr), m_InstanceNumber(instanceNumber), m_pLive(counterFor(traceName)) {
  m_pTraceName = m_pLive->name;
  m_pLive->count.fetch_add(1, std::memory_order_relaxed);
  if (trace_log().shouldLog(5)) trace("Created", 1);
}

RefCountImpl::~RefCountImpl() { m_pLive->count.fetch_sub(1, std::memory_order_relaxed); }

void RefCountImpl::trace(const char* event, int32_t count) const {
  const common::ComponentLog& log = common::refCountLog();
  bool created = event[0] == 'C';
  bool destroyed = event[0] == 'D';
  // The members are read only once the line will be recorded: after "lowered" another thread
  // may already be deleting this object, so the quiet path must not touch it.
  if (created || destroyed)
    log.logAt(5, [&] {
      return TOVAString().build("%s: Instance %d (%p): %s", *m_pTraceName, m_InstanceNumber,
                                static_cast<const void*>(this), event);
    });
  else
    log.logAt(6, [&] {
      return TOVAString().build("%s: Instance %d (%p): Refcount %s to %d", *m_pTraceName,
                                m_InstanceNumber, static_cast<const void*>(this), event, count);
    });
}

uint32_t RefCountImpl::use() {
  // A new reference is taken from one the caller holds, so the increment needs no ordering.
  const int32_t count = m_Count.fetch_add(1, std::memory_order_relaxed);
  if (count <= 0) {
    // A dead object stays dead: reviving it would free it twice. Nobody else holds a
    // reference to it, so taking the increment back cannot race with a release.
    m_Count.fetch_sub(1, std::memory_order_relaxed);
    support_dll::AssertionFailure("RefCountImpl::getRefCount() != 0", "refcountimpl", 53);
    return 0;
  }
  if (trace_log().shouldLog(6)) trace("raised", count + 1);
  return static_cast<uint32_t>(count + 1);
}

int32_t RefCountImpl::use_if_at_least(int32_t minimum) {
  int32_t count = m_Count.load(std::memory_order_relaxed);
  do {
    if (count < minimum) return 0;
  } while (!m_Count.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel,
                                          std::memory_order_relaxed));
  if (trace_log().shouldLog(6)) trace("raised", count + 1);
  return count + 1;
}

uint32_t RefCountImpl::unuse() {
  const int32_t count = m_Count.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (trace_log().shouldLog(6)) trace("lowered", count);
  if (count == 0) {
    trace("Destroyed", 0);
    delete this;
  }
  return static_cast<uint32_t>(count);
}

StrongRef::StrongRef(const TOVAString& traceName, uint32_t instanceNumber)
    : RefCountImpl(traceName, instanceNumber), m_pWeakRef(nullptr) {
  m_pWeakRef = new WeakRef(this, TOVAString("Weak") + traceName, instanceNumber);
  use();
}

StrongRef::~StrongRef() {
  // Normally released by the teardown in unuse(); this covers an object destroyed otherwise.
  if (m_pWeakRef) {
    m_pWeakRef->detach();
    m_pWeakRef->unuse();
  }
}

uint32_t StrongRef::unuse() {
  uint32_t count = RefCountImpl::unuse();
  if (count != 1) return count;
  // Only the self-reference is left: cut the companion loose, then let go of ourselves.
  WeakRef* weak = std::exchange(m_pWeakRef, nullptr);
  weak->detach();
  weak->unuse();
  return RefCountImpl::unuse();
}

WeakRefBase* StrongRef::getWeakRef() {
  if (m_pWeakRef == nullptr) return nullptr;
  m_pWeakRef->use();
  return m_pWeakRef;
}

WeakRef::WeakRef(StrongRef* target, const TOVAString& traceName, uint32_t instanceNumber)
    : RefCountImpl(traceName, instanceNumber), m_pTarget(target) {}

void WeakRef::detach() {
  std::lock_guard lock(m_Mutex);
  m_pTarget = nullptr;
}

StrongRefBase* WeakRef::lock() {
  std::lock_guard lock(m_Mutex);
  if (m_pTarget == nullptr) return nullptr;
  // Only a target that still has an outside reference (count >= 2) may be handed out; below
  // that it is being torn down, and giving a reference back would start a second teardown.
  if (m_pTarget->use_if_at_least(2) == 0) return nullptr;
  return m_pTarget;
}

int64_t liveObjectCount(const TOVAString& traceName) {
  LiveRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.counters.find(traceName);
  return it == r.counters.end() ? 0 : it->second->count.load();
}

std::map<TOVAString, int64_t> liveObjectCounts() {
  LiveRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  std::map<TOVAString, int64_t> result;
  for (const auto& [name, counter] : r.counters) {
    int64_t n = counter->count.load();
    if (n != 0) result[name] = n;
  }
  return result;
}

int64_t liveObjectTotal() {
  LiveRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  int64_t total = 0;
  for (const auto& entry : r.counters) total += entry.second->count.load();
  return total;
}

}  // namespace support
