#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::test::OleString;
using zul::test::Text;

uint32_t Prefix(BSTR bstr) {
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(bstr) - sizeof prefix, sizeof prefix);
  return prefix;
}

// The 4 bytes before the characters hold the byte length; two NUL bytes follow, whatever its parity.
void ExpectLayout(BSTR bstr, uint32_t byte_len) {
  ASSERT_NE(bstr, nullptr);
  EXPECT_EQ(Prefix(bstr), byte_len);
  EXPECT_EQ(SysStringByteLen(bstr), byte_len);
  EXPECT_EQ(SysStringLen(bstr), byte_len / 2);
  EXPECT_EQ(reinterpret_cast<const char*>(bstr)[byte_len], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(bstr)[byte_len + 1], 0);
}

TEST(Bstr, Allocation) {
  BSTR hello = SysAllocString(OLESTR("Hello"));
  ExpectLayout(hello, 10);
  EXPECT_EQ(Text(hello), OleString(OLESTR("Hello")));
  const OLECHAR embedded[] = {'a', 0, 'b'};
  BSTR copy = SysAllocStringLen(embedded, 3);
  ExpectLayout(copy, 6);
  EXPECT_EQ(Text(copy), OleString(embedded, 3));
  BSTR blank = SysAllocStringLen(nullptr, 7);
  ExpectLayout(blank, 14);
  for (BSTR bstr : {hello, copy, blank}) SysFreeString(bstr);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xffffffffu), nullptr);
}

TEST(Bstr, ByteLengthAllocation) {
  const std::string cases[] = {"", "a", "abc", "abcd", std::string("a\0b", 3), std::string("\0\0\0\0\0", 5)};
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(bytes.size());
    BSTR bstr = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
    ExpectLayout(bstr, static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(std::memcmp(bstr, bytes.data(), bytes.size()), 0);
    SysFreeString(bstr);
  }
  BSTR blank = SysAllocStringByteLen(nullptr, 3);
  ExpectLayout(blank, 3);
  SysFreeString(blank);
}

TEST(VarBstrCat, ConcatenatesBytes) {
  struct Case {
    const char* left;  // null: no BSTR, which acts as an empty string
    const char* right;
    std::string expected;
  };
  // Odd byte lengths add up exactly: Windows concatenates bytes, not characters.
  const Case cases[] = {
      {nullptr, nullptr, ""}, {"ab", nullptr, "ab"}, {nullptr, "cd", "cd"}, {"abc", "de", "abcde"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    BSTR left =
        c.left != nullptr ? SysAllocStringByteLen(c.left, static_cast<UINT>(std::strlen(c.left))) : nullptr;
    BSTR right = c.right != nullptr ? SysAllocStringByteLen(c.right, static_cast<UINT>(std::strlen(c.right)))
                                    : nullptr;
    BSTR result = nullptr;
    ASSERT_EQ(VarBstrCat(left, right, &result), S_OK);
    ExpectLayout(result, static_cast<uint32_t>(c.expected.size()));
    EXPECT_EQ(std::memcmp(result, c.expected.data(), c.expected.size()), 0);
    for (BSTR bstr : {result, left, right}) SysFreeString(bstr);
  }
  EXPECT_EQ(VarBstrCat(nullptr, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
