#include "registry/wrapper_registry.h"

#include <gtest/gtest.h>

#include <climits>

#include "bstr_util.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::MessageOf;

void NotifyStub(BSTR, BSTR, void*) {}
void OutputStub(BSTR, void*) {}

// Keys are signed and exact; a new record holds its cookie, its names up to their first NUL (null
// stays null, empty stays empty) and nothing else.
TEST(WrapperRegistry, NewRecordsAreFoundByTheirExactCookie) {
  constexpr int32_t kCookies[] = {0, -1, 1, INT32_MIN, INT32_MAX, -7, 7};
  WrapperRegistry registry;
  for (int32_t cookie : kCookies) {
    const std::string name = "class" + std::to_string(cookie);
    ASSERT_TRUE(registry.Add(cookie, testing::Wide(name).c_str(), OLESTR("proc1")));
  }
  for (int32_t cookie : kCookies) {
    SCOPED_TRACE(cookie);
    const WrapperPin record = registry.Find(cookie);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->cookie, cookie);
    EXPECT_EQ(Ascii(record->className.Get()), "class" + std::to_string(cookie));
    EXPECT_EQ(Ascii(record->procName.Get()), "proc1");
    EXPECT_EQ(record->error.Code(), -1);
    EXPECT_EQ(record->error.CopyMessage().Get(), nullptr);
    EXPECT_EQ(record->Notify(), std::make_pair(ZulNotifyCallback{}, static_cast<void*>(nullptr)));
    EXPECT_EQ(record->Output(), std::make_pair(ZulOutputCallback{}, static_cast<void*>(nullptr)));
  }
  EXPECT_EQ(registry.Find(2), nullptr);
  EXPECT_EQ(registry.Find(-2), nullptr);
  const OLECHAR embedded[] = {'a', 'b', 0, 'c', 'd', 0};
  ASSERT_TRUE(registry.Add(100, embedded, nullptr));
  ASSERT_TRUE(registry.Add(101, OLESTR(""), OLESTR("")));
  EXPECT_EQ(Ascii(registry.Find(100)->className.Get()), "ab");
  EXPECT_EQ(registry.Find(100)->procName.Get(), nullptr);
  ASSERT_NE(registry.Find(101)->className.Get(), nullptr);
  EXPECT_EQ(SysStringLen(registry.Find(101)->className.Get()), 0u);
}

TEST(WrapperRegistry, AddingARegisteredCookieSucceedsAndKeepsTheFirstRecord) {
  WrapperRegistry registry;
  ASSERT_TRUE(registry.Add(3, OLESTR("First"), OLESTR("p")));
  WrapperInfo* first = registry.Find(3).Get();
  first->error.SetCode(-2001);
  first->error.SetMessage(UniqueBstr::Adopt(SysAllocString(OLESTR("busy"))));
  int userData = 0;
  first->SetNotify(NotifyStub, nullptr);
  first->SetOutput(OutputStub, &userData);
  EXPECT_TRUE(registry.Add(3, OLESTR("Second"), OLESTR("q")));
  EXPECT_EQ(registry.Find(3).Get(), first);
  EXPECT_EQ(Ascii(first->className.Get()), "First");
  EXPECT_EQ(Ascii(first->procName.Get()), "p");
  EXPECT_EQ(first->error.Code(), -2001);
  EXPECT_EQ(MessageOf(first->error), "busy");
  EXPECT_EQ(first->Notify().first, NotifyStub);
  EXPECT_EQ(first->Output(), std::make_pair(ZulOutputCallback{OutputStub}, static_cast<void*>(&userData)));
}

// A record that someone still holds outlives its removal, apart from the fresh one.
TEST(WrapperRegistry, RemovedCookieCanBeAddedAgainWithAFreshRecord) {
  WrapperRegistry registry;
  ASSERT_TRUE(registry.Add(-4, OLESTR("Old"), nullptr));
  const WrapperPin old = registry.Find(-4);
  old->error.SetCode(-5);
  old->error.SetMessage(UniqueBstr::Adopt(SysAllocString(OLESTR("stale"))));
  old->SetNotify(NotifyStub, nullptr);
  EXPECT_TRUE(registry.Remove(-4));
  EXPECT_EQ(registry.Find(-4), nullptr);
  EXPECT_TRUE(registry.Remove(-4));  // absent: still true
  EXPECT_TRUE(registry.Remove(99));
  ASSERT_TRUE(registry.Add(-4, OLESTR("New"), nullptr));
  const WrapperPin fresh = registry.Find(-4);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(MessageOf(old->error), "stale");
  EXPECT_EQ(Ascii(fresh->className.Get()), "New");
  EXPECT_EQ(fresh->error.Code(), -1);
  EXPECT_EQ(fresh->error.CopyMessage().Get(), nullptr);
  EXPECT_EQ(fresh->Notify().first, nullptr);
}

// Records left at unload are freed (the leak checkers of the host build watch this), with the lock
// while it exists and without it after process detach.
TEST(WrapperRegistry, TeardownFreesEveryRecordWithOrWithoutTheLock) {
  for (bool lockLive : {true, false}) {
    SCOPED_TRACE(lockLive);
    WrapperRegistry registry;
    for (int32_t cookie = 1; cookie <= 5; ++cookie)
      ASSERT_TRUE(registry.Add(cookie, OLESTR("C"), OLESTR("P")));
    registry.Find(2)->error.SetMessage(UniqueBstr::Adopt(SysAllocString(OLESTR("message"))));
    if (!lockLive) DeleteRegistryLock();
    registry.Teardown();
    if (!lockLive) CreateRegistryLock();
    for (int32_t cookie = 1; cookie <= 5; ++cookie) EXPECT_EQ(registry.Find(cookie), nullptr);
  }
}

}  // namespace
}  // namespace zul
