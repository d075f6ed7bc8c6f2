#include <thread>
#include <vector>

#include "VtqTest.h"
#include "common/ComponentLog.h"
#include "support/RefCountImpl.h"

namespace {

using vtq_testing::VtqTest;

class Plain : public support::RefCountImpl {
 public:
  Plain() : RefCountImpl("Plain", support::nextInstanceNumber<Plain>()) {}
};

class Strong : public support::StrongRef {
 public:
  Strong() : StrongRef("Strong", support::nextInstanceNumber<Strong>()) {}
};

// Hands itself to a holder while being destroyed, as teardown code that notifies others may.
class SelfSharingOnDestroy : public support::RefCountImpl {
 public:
  explicit SelfSharingOnDestroy(uint32_t* taken)
      : RefCountImpl("SelfSharing", support::nextInstanceNumber<SelfSharingOnDestroy>()),
        m_pTaken(taken) {}
  ~SelfSharingOnDestroy() override {
    *m_pTaken = use();
    m_CountAfter = getRefCount();
  }
  static inline int32_t m_CountAfter = -1;

 private:
  uint32_t* m_pTaken;
};

class RefCountTest : public VtqTest {};

// Regression: a reference taken on an object already being destroyed revived it, and the
// holder's release freed it a second time.
TEST_F(RefCountTest, DyingObjectRefusesNewReferences) {
  const uint64_t asserts = support_dll::assertionFailureCount();
  uint32_t taken = 99;
  (new SelfSharingOnDestroy(&taken))->unuse();
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(0, SelfSharingOnDestroy::m_CountAfter);
  EXPECT_EQ(asserts + 1, support_dll::assertionFailureCount());
  EXPECT_EQ(0, support::liveObjectCount("SelfSharing"));
}

TEST_F(RefCountTest, FirstInstanceIsNumberZeroAndTraceLinesNameIt) {
  auto& log = captureLog(6);
  Plain* p = new Plain();
  EXPECT_EQ(0u, p->getInstanceNumber());
  EXPECT_EQ(2u, p->use());
  EXPECT_EQ(1u, p->unuse());
  EXPECT_EQ(0u, p->unuse());
  std::string texts = log.texts();
  for (const char* line : {"Plain: Instance 0 (0x", "): Created\n", "): Refcount raised to 2\n",
                           "): Refcount lowered to 1\n", "): Refcount lowered to 0\n",
                           "): Destroyed\n"})
    EXPECT_NE(std::string::npos, texts.find(line)) << line << " missing from\n" << texts;
  EXPECT_EQ("RefCount@MEMORY", log.records().front().unit);
}

TEST_F(RefCountTest, TraceLinesAreOnlyBuiltWhenEnabled) {
  auto& log = captureLog(4);
  Plain* p = new Plain();
  p->use();
  p->unuse();
  p->unuse();
  EXPECT_TRUE(log.records().empty());
  captureLog(5);
  (new Plain())->unuse();
  ASSERT_EQ(2u, log.records().size());  // Created and Destroyed only, not the count changes
}

// Regression guard for the cached level check: an object made while tracing was off must
// trace as soon as its unit is switched on (alone or through the global threshold), and stop
// when it is switched off again, with no call on the object in between.
TEST_F(RefCountTest, LevelChangesReachObjectsAlreadyMade) {
  auto& log = captureLog(3);
  auto_unuse<Plain> p(new Plain());
  support_dll::CoreLog* core = support_dll::CoreLog::getLogObject();
  auto changes = [&] {
    log.clear();
    p->use();
    p->unuse();
    std::string texts = log.texts();
    std::string events;
    for (const char* e : {"raised to 2", "lowered to 1"})
      if (texts.find(e) != std::string::npos) events += std::string(events.empty() ? "" : ",") + e;
    return events;
  };
  EXPECT_EQ("", changes());
  core->setUnitVerbosity("RefCount@MEMORY", 6);
  EXPECT_EQ("raised to 2,lowered to 1", changes());
  core->setUnitVerbosity("RefCount@MEMORY", 5);
  EXPECT_EQ("", changes());
  core->clearUnitVerbosities();
  core->setVerbosity(6);
  EXPECT_EQ("raised to 2,lowered to 1", changes());
  core->setVerbosity(-1);  // a negative threshold records nothing at all
  EXPECT_EQ("", changes());
  core->setVerbosity(3);
}

TEST_F(RefCountTest, StrongObjectTearsDownThroughItsWeakCompanion) {
  auto& log = captureLog(6);
  Strong* s = new Strong();
  EXPECT_EQ(2, s->getRefCount());
  log.clear();
  EXPECT_EQ(0u, s->unuse());
  std::vector<std::string> events;
  for (const auto& r : log.records()) {
    std::string t = r.text.string();
    events.push_back(t.substr(0, t.find(':')) + t.substr(t.rfind(':')));
  }
  std::vector<std::string> expected = {"Strong: Refcount lowered to 1",
                                       "WeakStrong: Refcount lowered to 0",
                                       "WeakStrong: Destroyed", "Strong: Refcount lowered to 0",
                                       "Strong: Destroyed"};
  EXPECT_EQ(expected, events);
}

TEST_F(RefCountTest, WeakLockGivesLiveTargetAndNullAfterTeardown) {
  Strong* s = new Strong();
  support::WeakRefBase* weak = s->getWeakRef();
  support::StrongRefBase* locked = weak->lock();
  ASSERT_NE(nullptr, locked);
  EXPECT_EQ(3, s->getRefCount());
  locked->unuse();
  s->unuse();  // the last outside reference: teardown
  EXPECT_EQ(nullptr, weak->lock());
  EXPECT_EQ(nullptr, weak->lock());
  weak->unuse();
}

TEST_F(RefCountTest, LockRacingTheLastReleaseNeverRevivesTheTarget) {
  for (int round = 0; round < 200; ++round) {
    Strong* s = new Strong();
    support::WeakRefBase* weak = s->getWeakRef();
    std::thread locker([weak] {
      for (int i = 0; i < 50; ++i)
        if (support::StrongRefBase* t = weak->lock()) t->unuse();
    });
    s->unuse();
    locker.join();
    EXPECT_EQ(nullptr, weak->lock());
    weak->unuse();
  }
}

TEST_F(RefCountTest, HoldersShareAndReleaseReferences) {
  Plain* a = new Plain();
  Plain* b = new Plain();
  {
    std::vector<auto_unuse<Plain>> list;
    list.emplace_back(a);
    list.emplace_back(b);
    {
      std::vector<auto_unuse<Plain>> copy = list;
      EXPECT_EQ(2, a->getRefCount());
      EXPECT_EQ(2, b->getRefCount());
    }
    EXPECT_EQ(1, a->getRefCount());
    auto_unuse<Plain> shared = auto_unuse<Plain>::share(a);
    EXPECT_EQ(2, a->getRefCount());
    EXPECT_EQ(2, support::liveObjectCount("Plain"));
  }
  // The list owned the only references: both objects are gone.
  EXPECT_EQ(0, support::liveObjectCount("Plain"));
}

TEST_F(RefCountTest, LiveCountFollowsObjectsPerTraceName) {
  int64_t before = support::liveObjectCount("Strong");
  Strong* s = new Strong();
  EXPECT_EQ(before + 1, support::liveObjectCount("Strong"));
  EXPECT_EQ(1, support::liveObjectCount("WeakStrong"));
  s->unuse();
  EXPECT_EQ(before, support::liveObjectCount("Strong"));
  EXPECT_EQ(0, support::liveObjectCount("WeakStrong"));
}

}  // namespace
