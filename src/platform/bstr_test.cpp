#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/ole.h"

namespace {

BSTR Bytes(const char* bytes) {
  return bytes != nullptr ? SysAllocStringByteLen(bytes, static_cast<UINT>(std::strlen(bytes))) : nullptr;
}

// VarBstrCat, with null acting as an empty string.
BSTR Cat(const char* left, const char* right) {
  BSTR l = Bytes(left), r = Bytes(right), result = nullptr;
  EXPECT_EQ(VarBstrCat(l, r, &result), S_OK);
  SysFreeString(l);
  SysFreeString(r);
  return result;
}

// The 4 bytes before the characters hold the byte length and two NUL bytes follow, whatever its parity:
// odd byte lengths stay exact, also through VarBstrCat, which concatenates bytes, not characters. Where
// Windows leaves the contents uninitialised, the row expects none.
TEST(Bstr, Layout) {
  const OLECHAR embedded[] = {'a', 0, 'b'};
  const struct {
    BSTR bstr;
    uint32_t byteLen;
    const char* bytes;
  } cases[] = {
      {SysAllocString(OLESTR("Hi")), 4, "H\0i\0"},
      {SysAllocStringLen(embedded, 3), 6, "a\0\0\0b\0"},
      {SysAllocStringLen(nullptr, 7), 14, nullptr},
      {SysAllocStringByteLen("", 0), 0, ""},
      {SysAllocStringByteLen("abc", 1), 1, "a"},
      {SysAllocStringByteLen("a\0b", 3), 3, "a\0b"},
      {SysAllocStringByteLen(nullptr, 5), 5, nullptr},
      {Cat(nullptr, nullptr), 0, ""},
      {Cat("ab", nullptr), 2, "ab"},
      {Cat(nullptr, "cd"), 2, "cd"},
      {Cat("abc", "de"), 5, "abcde"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.byteLen);
    ASSERT_NE(c.bstr, nullptr);
    const char* chars = reinterpret_cast<const char*>(c.bstr);
    uint32_t prefix;
    std::memcpy(&prefix, chars - sizeof prefix, sizeof prefix);
    EXPECT_EQ(prefix, c.byteLen);
    EXPECT_EQ(SysStringByteLen(c.bstr), c.byteLen);
    EXPECT_EQ(SysStringLen(c.bstr), c.byteLen / 2);
    EXPECT_EQ(std::string(chars + c.byteLen, 2), std::string(2, '\0'));
    if (c.bytes != nullptr) {
      EXPECT_EQ(std::string(chars, c.byteLen), std::string(c.bytes, c.byteLen));
    }
    SysFreeString(c.bstr);
  }
  EXPECT_EQ(VarBstrCat(nullptr, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);  // the byte length would overflow
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xffffffffu), nullptr);
}

}  // namespace
