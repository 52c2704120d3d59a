// Lookups from several threads while another thread adds and removes records: each reader always
// finds its own record, and a record removed while a reader holds it stays whole until let go. Run it
// under ThreadSanitizer and AddressSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "bstr_util.h"
#include "registry/wrapper_registry.h"

namespace zul {
namespace {

using testing::Ascii;

TEST(RegistryConcurrency, ReadersFindTheirOwnRecordsWhileOthersComeAndGo) {
  constexpr int kReaders = 3;
  constexpr int kLookups = 20000;
  constexpr int32_t kChurnBase = 1000;
  WrapperRegistry registry;
  std::vector<WrapperInfo*> own;
  for (int32_t cookie = 1; cookie <= kReaders; ++cookie) {
    ASSERT_TRUE(registry.Add(cookie, OLESTR("Reader"), nullptr));
    own.push_back(registry.Find(cookie).Get());
  }

  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int32_t round = 0; !done.load(); ++round) {
      const int32_t cookie = kChurnBase + round % 64;
      registry.Add(cookie, OLESTR("Churn"), OLESTR("p"));
      registry.Remove(cookie);
    }
  });
  std::vector<int> wrong(kReaders, 0);
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&, r] {
      const int32_t cookie = r + 1;
      for (int i = 0; i < kLookups; ++i) {
        const WrapperPin found = registry.Find(cookie);
        wrong[r] += found.Get() != own[r] || found->cookie != cookie;
        const int32_t churn = kChurnBase + i % 64;  // a record that may go at any time, even while held
        const WrapperPin held = registry.Find(churn);
        wrong[r] += held != nullptr && (held->cookie != churn || Ascii(held->className.Get()) != "Churn");
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  done = true;
  writer.join();
  EXPECT_EQ(wrong, std::vector<int>(kReaders, 0));
}

}  // namespace
}  // namespace zul
