#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ole.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;

struct Result {
  int value;
  DWORD error;
  bool operator==(const Result&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Result& r) {
  return os << r.value << " (error " << r.error << ")";
}

Result ToWide(UINT cp, DWORD flags, const char* src, int len, WCHAR* dst, int room) {
  SetLastError(kUntouched);
  const int value = MultiByteToWideChar(cp, flags, src, len, dst, room);
  return {value, GetLastError()};
}

Result ToNarrow(UINT cp, DWORD flags, const WCHAR* src, int len, char* dst, int room, BOOL* used = nullptr) {
  SetLastError(kUntouched);
  const int value = WideCharToMultiByte(cp, flags, src, len, dst, room, nullptr, used);
  return {value, GetLastError()};
}

// The size contract, with ASCII in the thread's code page so that it holds on every Windows code page.
TEST(CodePageConversion, SizeContract) {
  struct Case {
    int len;   // of the source; a negative one counts the terminator
    int room;  // 0 asks for the size needed
    Result expected;
  };
  const Case cases[] = {{-1, 0, {4, kUntouched}},
                        {-1, 4, {4, kUntouched}},
                        {-2, 8, {4, kUntouched}},
                        {3, 0, {3, kUntouched}},
                        {3, 3, {3, kUntouched}},
                        {-1, 3, {0, ERROR_INSUFFICIENT_BUFFER}},
                        {2, 1, {0, ERROR_INSUFFICIENT_BUFFER}},
                        {0, 8, {0, ERROR_INVALID_PARAMETER}}};
  const WCHAR abc[] = {'a', 'b', 'c', 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.len << " into " << c.room);
    WCHAR wide[8] = {};
    char narrow[8] = {};
    EXPECT_EQ(ToWide(CP_THREAD_ACP, 0, "abc", c.len, c.room ? wide : nullptr, c.room), c.expected);
    EXPECT_EQ(ToNarrow(CP_THREAD_ACP, 0, abc, c.len, c.room ? narrow : nullptr, c.room), c.expected);
    if (c.room != 0 && c.expected.value != 0) {
      EXPECT_EQ(std::memcmp(wide, abc, c.expected.value * sizeof(WCHAR)), 0);
      EXPECT_EQ(std::memcmp(narrow, "abc", c.expected.value), 0);
    }
  }
  WCHAR wide[8];
  char narrow[8];
  const Result invalid = {0, ERROR_INVALID_PARAMETER}, bad_flags = {0, ERROR_INVALID_FLAGS};
  EXPECT_EQ(ToWide(CP_UTF8, 0, nullptr, -1, wide, 8), invalid);
  EXPECT_EQ(ToWide(CP_UTF8, 0, "abc", -1, nullptr, 8), invalid);
  EXPECT_EQ(ToWide(CP_UTF8, 0, "abc", -1, wide, -1), invalid);
  EXPECT_EQ(ToWide(CP_UTF8, 0x10, "abc", -1, wide, 8), bad_flags);
  EXPECT_EQ(ToNarrow(CP_UTF8, 0, nullptr, -1, narrow, 8), invalid);
  EXPECT_EQ(ToNarrow(CP_UTF8, 0, abc, -1, nullptr, 8), invalid);
  EXPECT_EQ(ToNarrow(CP_UTF8, 0, abc, -1, narrow, -1), invalid);
  EXPECT_EQ(ToNarrow(CP_UTF8, 0x100, abc, -1, narrow, 8), bad_flags);
}

TEST(MultiByteToWideChar, DecodesUtf8) {
  // Ill-formed input becomes U+FFFD, one for each piece Windows gives up on.
  const std::pair<std::string, std::vector<WCHAR>> cases[] = {
      {"\xc3\xa9", {0xe9}},
      {"\xe2\x82\xac", {0x20ac}},
      {"\xf0\x9f\x98\x80", {0xd83d, 0xde00}},
      {"a\x80z", {'a', 0xfffd, 'z'}},
      {"a\xffz", {'a', 0xfffd, 'z'}},
      {"a\xe2\x82z", {'a', 0xfffd, 'z'}},
      {"a\xf0\x9f\x98z", {'a', 0xfffd, 'z'}},
      {"a\xc3", {'a', 0xfffd}},
      {"a\xc0\xafz", {'a', 0xfffd, 0xfffd, 'z'}},
      {"a\xe0\x80\x9fz", {'a', 0xfffd, 0xfffd, 'z'}},
      {"a\xed\xa0\x80z", {'a', 0xfffd, 0xfffd, 'z'}},
      {"a\xf4\x90\x80\x80z", {'a', 0xfffd, 0xfffd, 0xfffd, 'z'}},
  };
  for (const auto& [bytes, expected] : cases) {
    SCOPED_TRACE(bytes);
    const int len = static_cast<int>(bytes.size()), count = static_cast<int>(expected.size());
    std::vector<WCHAR> out(expected.size());
    EXPECT_EQ(ToWide(CP_UTF8, 0, bytes.data(), len, nullptr, 0), (Result{count, kUntouched}));
    EXPECT_EQ(ToWide(CP_UTF8, 0, bytes.data(), len, out.data(), count), (Result{count, kUntouched}));
    EXPECT_EQ(out, expected);
    const bool clean = std::count(expected.begin(), expected.end(), WCHAR(0xfffd)) == 0;
    const Result strict = clean ? Result{count, kUntouched} : Result{0, ERROR_NO_UNICODE_TRANSLATION};
    EXPECT_EQ(ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), len, nullptr, 0), strict);
  }
}

TEST(WideCharToMultiByte, EncodesUtf8) {
  // A lone surrogate becomes U+FFFD; since Windows 10 1709, lpUsedDefaultChar reports it.
  const std::pair<std::vector<WCHAR>, std::string> cases[] = {
      {{0xe9}, "\xc3\xa9"},
      {{0x20ac}, "\xe2\x82\xac"},
      {{0xd83d, 0xde00}, "\xf0\x9f\x98\x80"},
      {{'a', 0xd800, 'z'}, "a\xef\xbf\xbdz"},
      {{'a', 0xdc00, 'z'}, "a\xef\xbf\xbdz"},
      {{'a', 0xd800}, "a\xef\xbf\xbd"},
      {{0xde00, 0xd83d}, "\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& [units, expected] : cases) {
    SCOPED_TRACE(expected);
    const int len = static_cast<int>(units.size()), count = static_cast<int>(expected.size());
    std::string out(expected.size(), '\0');
    BOOL used = 7;
    EXPECT_EQ(ToNarrow(CP_UTF8, 0, units.data(), len, nullptr, 0), (Result{count, kUntouched}));
    EXPECT_EQ(ToNarrow(CP_UTF8, 0, units.data(), len, out.data(), count, &used), (Result{count, kUntouched}));
    EXPECT_EQ(out, expected);
    const bool clean = expected.find("\xef\xbf\xbd") == std::string::npos;
    EXPECT_EQ(used, clean ? FALSE : TRUE);
    const Result strict = clean ? Result{count, kUntouched} : Result{0, ERROR_NO_UNICODE_TRANSLATION};
    EXPECT_EQ(ToNarrow(CP_UTF8, WC_ERR_INVALID_CHARS, units.data(), len, nullptr, 0), strict);
  }
  // A character is never written in part.
  const WCHAR euro[] = {0x20ac};
  char two[2];
  EXPECT_EQ(ToNarrow(CP_UTF8, 0, euro, 1, two, 2), (Result{0, ERROR_INSUFFICIENT_BUFFER}));
}

TEST(CriticalSection, IsRecursive) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&section);
    entered = true;
    LeaveCriticalSection(&section);
  });
  LeaveCriticalSection(&section);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);  // still held once by this thread
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(entered);
  DeleteCriticalSection(&section);
}

TEST(CoCreateGuid, GivesDistinctGuids) {
  EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
  GUID previous = {};
  for (int i = 0; i < 64; ++i) {
    GUID guid;
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    EXPECT_FALSE(IsEqualGUID(guid, previous));
    previous = guid;
#ifndef _WIN32
    // Windows promises only uniqueness; ours are random version-4 GUIDs.
    EXPECT_EQ(guid.Data3 >> 12, 4);
    EXPECT_EQ(guid.Data4[0] >> 6, 2);
#endif
  }
}

}  // namespace
