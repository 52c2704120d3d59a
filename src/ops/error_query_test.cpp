#include "ops/error_query.h"

#include <gtest/gtest.h>

#include "bstr_util.h"
#include "error/strings.h"
#include "loader/binding.h"

namespace zul::ops {
namespace {

using testing::Ascii;

// The text handed out for cookie, read twice: reading does not clear.
std::string Read(PalContext& context, int32_t cookie) {
  BSTR first = reinterpret_cast<BSTR>(0x1), second = nullptr;
  EXPECT_EQ(ReadLastError(context, cookie, &first), S_OK);
  EXPECT_EQ(ReadLastError(context, cookie, &second), S_OK);
  const UniqueBstr owned[] = {UniqueBstr::Adopt(first), UniqueBstr::Adopt(second)};
  EXPECT_EQ(Ascii(first), Ascii(second));
  return Ascii(first);
}

// A fresh context counts itself and hands out code -1 and no message.
TEST(ReadLastError, ChoosesTheWrapperOrTheContextByCookieAndCopiesWhole) {
  const int32_t before = g_instanceCounter.load();
  PalContext context;
  EXPECT_EQ(g_instanceCounter.load(), before + 1);
  EXPECT_EQ(context.lastError.Code(), -1);
  EXPECT_EQ(testing::MessageOf(context.lastError), "") << "empty, not null";
  EXPECT_EQ(Read(context, 0), "<null>") << "an empty message counts as none";
  context.lastError.SetMessage("context text");
  for (int32_t cookie : {4, 5, -3}) ASSERT_TRUE(context.AddWrapper(cookie, OLESTR("C"), nullptr));
  context.FindWrapper(5)->error.SetMessage("wrapper text");
  context.FindWrapper(-3)->error.SetMessage("negative text");
  const std::pair<int32_t, const char*> cases[] = {
      {5, "wrapper text"},   // registered, with a message
      {4, "<null>"},         // registered without a message: the context is not consulted
      {0, "context text"},   // no wrapper
      {9, "context text"},   // not registered
      {-3, "context text"},  // registered, but only positive cookies name wrappers
  };
  for (const auto& [cookie, expected] : cases) EXPECT_EQ(Read(context, cookie), expected) << cookie;
  EXPECT_EQ(ReadLastError(context, 5, nullptr), E_POINTER);

  const char bytes[] = {'a', 0, 'b', 0};
  context.FindWrapper(5)->error.SetMessage(UniqueBstr::Adopt(SysAllocStringByteLen(bytes, sizeof bytes)));
  BSTR message = nullptr;
  EXPECT_EQ(ReadLastError(context, 5, &message), S_OK);
  EXPECT_EQ(SysStringByteLen(UniqueBstr::Adopt(message).Get()), sizeof bytes) << "embedded NULs copied";
}

}  // namespace
}  // namespace zul::ops
