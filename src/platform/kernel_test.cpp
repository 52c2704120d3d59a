#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/ole.h"

namespace {

constexpr DWORD kUntouched = 0xdeadbeef;
using Result = std::pair<int, DWORD>;  // the value returned and the last error

Result ToWide(UINT cp, const char* src, int len, WCHAR* dst, int room) {
  SetLastError(kUntouched);
  const int value = MultiByteToWideChar(cp, 0, src, len, dst, room);
  return {value, GetLastError()};
}

Result ToNarrow(UINT cp, const WCHAR* src, int len, char* dst, int room, BOOL* used = nullptr) {
  SetLastError(kUntouched);
  const int value = WideCharToMultiByte(cp, 0, src, len, dst, room, nullptr, used);
  return {value, GetLastError()};
}

// The contract the library uses with the thread's code page: a size query, the terminator counted for
// a length of -1, and a buffer too small. ASCII, so that it holds on every Windows code page.
TEST(CodePageConversion, SizeContract) {
  struct Case {
    int len;   // of the source; a negative one counts the terminator
    int room;  // 0 asks for the size needed
    Result expected;
  };
  const Case cases[] = {{-1, 0, {4, kUntouched}},
                        {-1, 4, {4, kUntouched}},
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
    EXPECT_EQ(ToWide(CP_THREAD_ACP, "abc", c.len, c.room ? wide : nullptr, c.room), c.expected);
    EXPECT_EQ(ToNarrow(CP_THREAD_ACP, abc, c.len, c.room ? narrow : nullptr, c.room), c.expected);
    if (c.room != 0 && c.expected.first != 0) {
      EXPECT_EQ(std::memcmp(wide, abc, c.expected.first * sizeof(WCHAR)), 0);
      EXPECT_EQ(std::memcmp(narrow, "abc", c.expected.first), 0);
    }
  }
}

// UTF-8 through CP_UTF8 only: the thread's code page is UTF-8 on the host but not on Windows. Well-formed
// text converts both ways; ill-formed input becomes U+FFFD, one for each piece Windows gives up on.
TEST(CodePageConversion, Utf8) {
  enum Direction { kBoth, kDecode, kEncode };
  const struct {
    std::string bytes;
    std::vector<WCHAR> units;
    Direction direction;
  } cases[] = {
      {"\xc3\xa9", {0xe9}, kBoth},
      {"a\xe2\x82\xac", {'a', 0x20ac}, kBoth},
      {"\xf0\x9f\x98\x80", {0xd83d, 0xde00}, kBoth},
      {"a\x80z", {'a', 0xfffd, 'z'}, kDecode},
      {"a\xc3", {'a', 0xfffd}, kDecode},
      {"a\xc0\xafz", {'a', 0xfffd, 0xfffd, 'z'}, kDecode},
      {"a\xed\xa0\x80z", {'a', 0xfffd, 0xfffd, 'z'}, kDecode},
      {"a\xef\xbf\xbdz", {'a', 0xd800, 'z'}, kEncode},
      {"\xef\xbf\xbd\xef\xbf\xbd", {0xde00, 0xd83d}, kEncode},
  };
  for (const auto& [bytes, units, direction] : cases) {
    SCOPED_TRACE(bytes);
    const int byteCount = static_cast<int>(bytes.size()), unitCount = static_cast<int>(units.size());
    if (direction != kEncode) {
      std::vector<WCHAR> out(units.size());
      EXPECT_EQ(ToWide(CP_UTF8, bytes.data(), byteCount, nullptr, 0), Result(unitCount, kUntouched));
      EXPECT_EQ(ToWide(CP_UTF8, bytes.data(), byteCount, out.data(), unitCount),
                Result(unitCount, kUntouched));
      EXPECT_EQ(out, units);
    }
    if (direction != kDecode) {
      std::string out(bytes.size(), '\0');
      EXPECT_EQ(ToNarrow(CP_UTF8, units.data(), unitCount, nullptr, 0), Result(byteCount, kUntouched));
      EXPECT_EQ(ToNarrow(CP_UTF8, units.data(), unitCount, out.data(), byteCount),
                Result(byteCount, kUntouched));
      EXPECT_EQ(out, bytes);
    }
  }
  const WCHAR euro[] = {0x20ac};
  char two[2];
  EXPECT_EQ(ToNarrow(CP_UTF8, euro, 1, two, 2), Result(0, ERROR_INSUFFICIENT_BUFFER));  // never in part
#ifndef _WIN32  // Windows refuses to report a default character for UTF-8; Wine 8 reports none
  BOOL used = FALSE;
  EXPECT_EQ(ToNarrow(CP_UTF8, euro, 1, two, 2, &used), Result(0, ERROR_INVALID_PARAMETER));
#endif
}

}  // namespace
