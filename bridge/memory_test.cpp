// Bridge memory: accounting per cookie, refused releases, and what transactions reclaim.
#include "testing/support.h"

namespace zul::testing {
namespace {

using Memory = BridgeTest;

TEST_F(Memory, BlocksAreAccountedToTheirCookie) {
  const int32_t a = Register("Echo");
  const int32_t b = Register("Echo");
  void* block = ZUL_QEL_AllocateMemory(a, 100);
  void* empty = ZUL_QEL_AllocateMemory(a, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(b), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(b, block)),
            "error -1008: The block belongs to cookie 1, not to cookie 2.");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, block)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, empty)), "0");
  int local = 0;
  for (void* p : {block, static_cast<void*>(&local)}) {
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, p)),
              "error -1008: The block was not allocated by this bridge or has already been released.");
  }
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, nullptr)), "0");
  EXPECT_EQ(ZUL_QEL_AllocateMemory(9, 8), nullptr);
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 9.");
  EXPECT_EQ(ZUL_QEL_AllocateMemory(a, uint64_t{1} << 41), nullptr);
  EXPECT_EQ(Outcome(-1006), "error -1006: Cannot allocate 2199023255552 bytes.");
  ASSERT_NE(ZUL_QEL_AllocateMemory(b, 64), nullptr);  // left to the release of the bridge
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
  BridgeInitRecord init{1, 1};
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);  // for the fixture's own release
}

// A method result belongs to the transaction that made it; a value read belongs to the caller.
TEST_F(Memory, TransactionsReclaimMethodResultsButNotReadValues) {
  const int32_t cookie = Create("Text");
  Args args(cookie, {"STRING 'a,b'", "STRING ','"});  // 2 blocks
  ASSERT_EQ(Execute(cookie, "s = ['x', 'y']"), "");
  ASSERT_EQ(ZUL_QEL_BeginTransaction(cookie), 0);
  BridgeValue* first = nullptr;
  ASSERT_EQ(ZUL_QEL_CallMethod(cookie, "Split", 2, args.Values(), nullptr, &first), 0);
  {
    Transaction inner(cookie);
    BridgeValue* second = nullptr;
    ASSERT_EQ(ZUL_QEL_CallMethod(cookie, "Split", 2, args.Values(), nullptr, &second), 0);
    EXPECT_EQ(ZulBridge_OutstandingBlocks(cookie), 2 + 4 + 4);
  }
  EXPECT_EQ(Dump(*first), "STRING[2] 'a' 'b'");  // the inner end reclaimed only its own result
  BridgeValue* read = ZUL_QEL_GetZULVariable(cookie, "s");
  ASSERT_NE(read, nullptr);
  BridgeValue contents = *read;  // the record itself goes at the end, its contents stay the caller's
  // The caller gives a result back anyway; a later block at the same address must survive the end.
  ReleaseValue(cookie, first);
  void* later = ZUL_QEL_AllocateMemory(cookie, 16);
  ASSERT_EQ(ZUL_QEL_EndTransaction(cookie), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(cookie),
            2 + 4 + 1);  // the arguments, the read value, the later block
  ReleaseValue(cookie, &contents);
  EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, later), 0);
}

}  // namespace
}  // namespace zul::testing
