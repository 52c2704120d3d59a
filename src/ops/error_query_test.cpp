#include "ops/error_query.h"

#include <gtest/gtest.h>

#include "bstr_util.h"
#include "error/strings.h"
#include "loader/binding.h"

namespace zul::ops {
namespace {

using testing::Ascii;

class ReadLastErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_.lastError.SetMessage("context text");
    ASSERT_TRUE(context_.AddWrapper(4, OLESTR("C"), nullptr));
    ASSERT_TRUE(context_.AddWrapper(5, OLESTR("C"), nullptr));
    ASSERT_TRUE(context_.AddWrapper(-3, OLESTR("C"), nullptr));
    context_.FindWrapper(5)->error.SetMessage("wrapper text");
    context_.FindWrapper(-3)->error.SetMessage("negative text");
  }

  // The text handed out for a cookie; the caller's copy is freed here.
  std::string Read(int32_t cookie) {
    BSTR message = reinterpret_cast<BSTR>(0x1);
    EXPECT_EQ(ReadLastError(context_, cookie, &message), S_OK);
    UniqueBstr owned = UniqueBstr::Adopt(message);
    return Ascii(owned.Get());
  }

  PalContext context_;
};

TEST_F(ReadLastErrorTest, ChoosesTheWrapperOrTheContextByCookie) {
  struct Case {
    int32_t cookie;
    const char* expected;
  } const cases[] = {
      {5, "wrapper text"},   // registered, with a message
      {4, "<null>"},         // registered without a message: the context is not consulted
      {0, "context text"},   // no wrapper
      {9, "context text"},   // not registered
      {-3, "context text"},  // registered, but only positive cookies name wrappers
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cookie);
    EXPECT_EQ(Read(c.cookie), c.expected);
  }
}

TEST_F(ReadLastErrorTest, ReadingDoesNotClear) {
  EXPECT_EQ(Read(5), "wrapper text");
  EXPECT_EQ(Read(5), "wrapper text");
}

TEST_F(ReadLastErrorTest, CopiesEmbeddedNulsWhole) {
  const char bytes[] = {'a', 0, 'b', 0};
  context_.FindWrapper(5)->error.SetMessage(UniqueBstr::Adopt(SysAllocStringByteLen(bytes, sizeof bytes)));
  BSTR message = nullptr;
  ASSERT_EQ(ReadLastError(context_, 5, &message), S_OK);
  UniqueBstr owned = UniqueBstr::Adopt(message);
  EXPECT_EQ(SysStringByteLen(message), sizeof bytes);
}

TEST_F(ReadLastErrorTest, NullOutPointerIsRefused) {
  EXPECT_EQ(ReadLastError(context_, 5, nullptr), E_POINTER);
}

TEST(PalContext, StartsWithCodeMinusOneAnEmptyMessageAndCountsItself) {
  const int32_t before = g_instanceCounter.load();
  PalContext context;
  EXPECT_EQ(g_instanceCounter.load(), before + 1);
  EXPECT_EQ(context.lastError.Code(), -1);
  const UniqueBstr stored = context.lastError.CopyMessage();
  ASSERT_NE(stored.Get(), nullptr);
  EXPECT_EQ(SysStringLen(stored.Get()), 0u);

  // An empty message counts as none: a fresh context hands out null.
  BSTR message = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(ReadLastError(context, 0, &message), S_OK);
  EXPECT_EQ(message, nullptr);
}

}  // namespace
}  // namespace zul::ops
