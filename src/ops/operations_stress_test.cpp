// Eight client threads, each creating, destroying and releasing objects of its own and calling every
// operation on them, on its neighbour's (which may go at any moment) and on cookies they share, while
// another thread creates and destroys proxies and the bridge delivers output and notifications on all of
// them from threads of its own. Meant for ThreadSanitizer (host-tsan) and AddressSanitizer (host-asan).
#include <atomic>
#include <thread>

#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

constexpr int kThreads = 8, kShared = 3, kRounds = 1000;

void IgnoreOutput(BSTR, void*) {}  // the texts belong to the library, which frees them after the call
void IgnoreNotification(BSTR, BSTR, void*) {}

// One round of one thread on a shared cookie or its own; returns the number of wrong answers.
int OneRound(int thread, int round, int32_t cookie) {
  const Dbls mine = {double(thread), double(round)};
  SAFEARRAY* out = DoubleArray({0, 0});
  Variant value, text("text"), args[2] = {Variant(VT_ARRAY | VT_R8), Variant(VT_BYREF | VT_ARRAY | VT_R8)};
  args[0].parray = DoubleArray(mine), args[1].pparray = &out;
  uint32_t flags[2] = {ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack};
  // An array in, the same array as the result and written back.
  int wrong = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), 2, args, flags, &value) != S_OK;
  wrong += value.vt != (VT_ARRAY | VT_R8) || Doubles(value.parray) != mine || Doubles(out) != mine;
  SafeArrayDestroy(out), VariantClear(&value);
  BSTR name = nullptr;  // in and out: a BSTR already there is freed, so each call reuses it
  switch (round % 4) {
    case 0:  // a failing conversion beside reads of the same wrapper's last error
      value.vt = VT_DECIMAL;
      wrong += ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("p"), 1, &value, flags) != E_FAIL;
      wrong += LastError(cookie) == kNone;
      return wrong + (ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("p"), &value) != S_OK || value.vt != VT_BSTR);
    case 1:
      wrong += ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("v"), text) != S_OK;
      wrong += ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("v"), &value) != S_OK || value.vt != VT_BSTR;
      wrong += ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("print, 1")) != S_OK;
      return wrong + (ZUL_MSCOMPAL_Abort(cookie) != S_OK);
    case 2:
      wrong += ZUL_MSCOMPAL_GetObjClassName(cookie, &name) != S_OK;
      wrong += ZUL_MSCOMPAL_GetObjVariableName(cookie, &name) != S_OK;
      SysFreeString(name), name = nullptr;  // the next query only writes
      wrong += ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &name) != S_OK;
      SysFreeString(name);
      wrong += ZUL_MSCOMPAL_RegisterOutputCallback(cookie, IgnoreOutput, nullptr) != S_OK;
      return wrong + (ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, IgnoreNotification, nullptr) != S_OK);
    default:
      wrong += ZUL_MSCOMPAL_UnregisterOutputCallback(cookie) != S_OK;
      return wrong + (ZUL_MSCOMPAL_UnregisterNotifyCallback(cookie) != S_OK);
  }
}

int32_t NewWrapper(int tag) {
  int32_t cookie = 0;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Stress"), uint32_t(tag), OLESTR("proc"), &cookie), S_OK);
  return cookie;
}

using OperationsStress = OpsTest;

TEST_F(OperationsStress, EveryOperationFromEightThreads) {
  bridge->SetJournal(0);
  bridge->SerializeTransactions(1);  // one call per object at a time, as a bridge runs them
  bridge->EchoArgument(0, -1), bridge->EchoArgument(0, 1);
  const BridgeValue text = BridgeText("value");
  bridge->SetReturnValue(Entry(BridgeEntry::kGetProperty), &text);
  bridge->SetReturnValue(Entry(BridgeEntry::kGetZULVariable), &text);
  bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), "var");
  bridge->SetLastError(-1, "bridge says no");
  std::vector<int32_t> shared;
  for (int i = 0; i < kShared; ++i) shared.push_back(NewWrapper(i));

  std::atomic<bool> done{false};
  std::atomic<int32_t> owned[kThreads] = {};  // each thread's current wrapper, released by it alone
  std::vector<int> wrong(kThreads + 1, 0);
  std::thread others([&] {  // proxies, and output and notifications from the bridge's own threads
    for (int i = 0; !done.load() || i < 20; ++i) {
      wrong[kThreads] += ZUL_MSCOMPAL_CreateProxyWrapper(700000 + i) != S_OK;
      bridge->EmitOutputOnThread(i % 2 ? shared[i % kShared] : owned[i % kThreads].load(), "out");
      bridge->EmitNotifyOnThread(i % 2 ? owned[i % kThreads].load() : shared[i % kShared], "a", "b");
      wrong[kThreads] += ZUL_MSCOMPAL_DestroyProxyWrapper(700000 + i) != S_OK;
    }
  });
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&wrong, &shared, &owned, t] {
      int32_t own = 0;
      for (int round = 0; round < kRounds; ++round) {
        if (round % 20 == 0) {  // a new object of its own
          own = NewWrapper(100 + t);
          wrong[t] += ZUL_MSCOMPAL_CreateObject(own, 0, nullptr, nullptr, 0, 0, 0) != S_OK;
          owned[t] = own;
        }
        if (round % 3 == 1) {  // the neighbour's wrapper: any answer, as long as nothing breaks
          OneRound(t, round, owned[(t + 1) % kThreads].load());
        } else {
          wrong[t] += OneRound(t, round, round % 3 != 0 ? shared[(t + round) % kShared] : own);
        }
        if (round % 20 == 19) {  // released while others call it, read its error and get its callbacks
          wrong[t] += ZUL_MSCOMPAL_DestroyObject(own) != S_OK;
          wrong[t] += ZUL_MSCOMPAL_ReleaseWrapper(own) != S_OK;
          wrong[t] += ZUL_MSCOMPAL_CallMethod(own, OLESTR("m"), 0, nullptr, nullptr, nullptr) != E_INVALIDARG;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  done = true;
  others.join();
  for (int32_t cookie : shared) EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK);
  EXPECT_EQ(wrong, std::vector<int>(kThreads + 1, 0));
  ExpectClean();
  bridge->Reset();
}

}  // namespace
}  // namespace zul::testing
