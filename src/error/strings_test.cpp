#include "error/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bstr_util.h"

namespace zul {
namespace {

using testing::Ascii;

TEST(AssignNarrow, ReplacesEmptiesAndNulls) {
  UniqueBstr field;
  AssignNarrow(field, "");
  ASSERT_NE(field.Get(), nullptr);  // empty, not null
  EXPECT_EQ(SysStringLen(field.Get()), 0u);
  AssignNarrow(field, "second text");
  EXPECT_EQ(Ascii(field.Get()), "second text");
  AssignNarrow(field, nullptr);
  EXPECT_EQ(field.Get(), nullptr);
}

TEST(AssignBstr, CopiesBytesAndLeavesItselfAlone) {
  const char bytes[] = {'a', 0, 'b', 'c', 0, 'd', 'e'};  // embedded NULs, odd byte length
  UniqueBstr source = UniqueBstr::Adopt(SysAllocStringByteLen(bytes, sizeof bytes));
  UniqueBstr field;
  AssignNarrow(field, "old");
  AssignBstr(field, source.Get());
  ASSERT_NE(field.Get(), source.Get());
  ASSERT_EQ(SysStringByteLen(field.Get()), sizeof bytes);
  EXPECT_EQ(std::memcmp(field.Get(), bytes, sizeof bytes), 0);
  BSTR before = field.Get();
  AssignBstr(field, field.Get());
  EXPECT_EQ(field.Get(), before);
  AssignBstr(field, nullptr);
  EXPECT_EQ(field.Get(), nullptr);
}

TEST(CopyBstrOut, NullDestinationNullSourceAndACopy) {
  UniqueBstr source;
  AssignNarrow(source, "message");
  EXPECT_EQ(CopyBstrOut(source.Get(), nullptr), E_POINTER);
  BSTR out = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(CopyBstrOut(nullptr, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CopyBstrOut(source.Get(), &out), S_OK);
  UniqueBstr copy = UniqueBstr::Adopt(out);
  EXPECT_NE(copy.Get(), source.Get());
  EXPECT_EQ(Ascii(copy.Get()), "message");
}

// Texts beyond the stack buffer are converted on the heap, whole.
TEST(NarrowText, NullEmptyAndLongTexts) {
  EXPECT_EQ(NarrowText(nullptr).Get(), nullptr);
  EXPECT_STREQ(NarrowText(OLESTR("")).Get(), "");
  for (size_t length : {9u, 2047u, 2048u, 4095u, 4096u, 100000u}) {
    SCOPED_TRACE(length);
    std::string expected(length, 'x');
    expected[length / 2] = 'y';
    const auto wide = testing::Wide(expected);
    NarrowText narrow(wide.c_str());
    ASSERT_NE(narrow.Get(), nullptr);
    EXPECT_EQ(narrow.Get(), expected);
  }
}

}  // namespace
}  // namespace zul
