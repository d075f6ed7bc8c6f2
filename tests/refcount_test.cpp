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

class RefCountTest : public VtqTest {};

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
