#include "registry/wrapper_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bstr_util.h"

namespace zul {
namespace {

using testing::Ascii;

std::string Describe(const WrapperPin& r) {
  if (r == nullptr) return "absent";
  return std::to_string(r->cookie) + " " + Ascii(r->className.Get()) + "/" + Ascii(r->procName.Get()) + " " +
         std::to_string(r->error.Code()) + " " + testing::MessageOf(r->error) +
         (r->Output().first != nullptr ? " output" : "");
}

// Keys are signed and exact; a new record holds copies of its names up to their first NUL, and nothing else.
// A second Add keeps the first record; a removed one lives on for whoever holds it, apart from the fresh
// one a new Add makes. Records left at unload are freed (leak checkers see to it), even without the lock.
TEST(WrapperRegistry, RecordsByExactCookieFromAddToTeardown) {
  const OLECHAR embedded[] = {'a', 'b', 0, 'c', 0};
  const std::tuple<int32_t, const OLECHAR*, const OLECHAR*, std::string> rows[] = {
      {0, OLESTR("C0"), OLESTR("p"), "0 C0/p -1 <null>"},
      {-1, embedded, nullptr, "-1 ab/<null> -1 <null>"},
      {INT32_MIN, OLESTR(""), OLESTR(""), "-2147483648 / -1 <null>"},
      {INT32_MAX, nullptr, OLESTR("q"), "2147483647 <null>/q -1 <null>"}};
  WrapperRegistry registry;
  for (const auto& [cookie, name, proc, _] : rows) ASSERT_TRUE(registry.Add(cookie, name, proc));
  for (const auto& [cookie, c, p, expected] : rows) EXPECT_EQ(Describe(registry.Find(cookie)), expected);
  EXPECT_EQ(Describe(registry.Find(1)) + Describe(registry.Find(INT32_MAX - 1)), "absentabsent");

  const WrapperPin first = registry.Find(-1);
  first->error.SetCode(-5), first->error.SetMessage("stale");
  first->SetOutput([](BSTR, void*) {}, nullptr);
  EXPECT_TRUE(registry.Add(-1, OLESTR("Second"), OLESTR("q")));
  EXPECT_EQ(registry.Find(-1).Get(), first.Get());
  EXPECT_TRUE(registry.Remove(-1) && registry.Remove(-1) && registry.Find(-1) == nullptr);  // absent: true
  ASSERT_TRUE(registry.Add(-1, OLESTR("New"), nullptr));
  EXPECT_EQ(Describe(registry.Find(-1)), "-1 New/<null> -1 <null>");
  EXPECT_EQ(Describe(first), "-1 ab/<null> -5 stale output");
  DeleteRegistryLock();
  registry.Teardown();
  CreateRegistryLock();
  EXPECT_EQ(Describe(registry.Find(0)), "absent");
}

// Each thread always finds its own record while all of them add and remove others, which stay whole
// while a thread holds them. Meant for the sanitizers' runs too.
TEST(WrapperRegistry, ThreadsFindTheirOwnRecordsWhileOthersComeAndGo) {
  WrapperRegistry registry;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int32_t cookie = 1; cookie <= 4; ++cookie) {
    ASSERT_TRUE(registry.Add(cookie, OLESTR("Own"), nullptr));
    threads.emplace_back([&, cookie] {
      for (int32_t i = 0; i < 10000; ++i) {
        const int32_t other = 100 + (i + cookie) % 64;
        registry.Add(other, OLESTR("Other"), nullptr);
        wrong += Describe(registry.Find(cookie)) != std::to_string(cookie) + " Own/<null> -1 <null>";
        const WrapperPin held = registry.Find(100 + i % 64);
        registry.Remove(100 + i % 64);
        wrong +=
            held != nullptr && Describe(held) != std::to_string(100 + i % 64) + " Other/<null> -1 <null>";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace zul
