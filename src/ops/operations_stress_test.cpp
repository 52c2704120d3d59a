// Eight client threads mixing every operation on cookies they share and on cookies of their own,
// which they register and release as they go, while the bridge delivers output and notifications from
// threads of its own. A shared cookie is released only after every call on it returned, as callers
// must. Meant for ThreadSanitizer (host-tsan); the other builds run it too.
#include <atomic>
#include <thread>

#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

constexpr int kThreads = 8, kShared = 3, kRounds = 120;

std::atomic<int> g_outputs{0};

// The texts belong to the library, which frees them after the call.
void CountOutput(BSTR, void*) {
  ++g_outputs;
}
void IgnoreNotification(BSTR, BSTR, void*) {}

// One round of one thread: an operation chosen by the round on a shared cookie or its own. Returns the
// number of wrong answers.
int OneRound(int thread, int round, const std::vector<int32_t>& shared, int32_t own) {
  const int32_t cookie = (round & 1) != 0 ? shared[(thread + round) % shared.size()] : own;
  const Dbls mine = {double(thread), double(round)};
  Variant value, text("text");
  BSTR name = nullptr;  // in and out: a BSTR already there is freed, so each call reuses it
  uint32_t flags[2] = {ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack};
  int wrong = 0;
  switch (round % 10) {
    case 0:
    case 1: {  // an array in, the same array as the result and written back
      SAFEARRAY* out = DoubleArray({0, 0});
      Variant args[2] = {Variant(VT_ARRAY | VT_R8), Variant(VT_BYREF | VT_ARRAY | VT_R8)};
      args[0].parray = DoubleArray(mine);
      args[1].pparray = &out;
      wrong += ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), 2, args, flags, &value) != S_OK;
      wrong += value.vt != (VT_ARRAY | VT_R8) || Doubles(value.parray) != mine || Doubles(out) != mine;
      SafeArrayDestroy(out);
      break;
    }
    case 2:  // a failing conversion beside reads of the same wrapper's last error
      value.vt = VT_DECIMAL;
      wrong += ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("p"), 1, &value, flags) != E_FAIL;
      wrong += LastError(cookie) == kNone;
      break;
    case 3:
      wrong += ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("p"), &value) != S_OK || value.vt != VT_BSTR;
      wrong += ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("v"), text) != S_OK;
      wrong += ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("v"), &value) != S_OK || value.vt != VT_BSTR;
      break;
    case 4:
      wrong += ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("print, 1")) != S_OK;
      wrong += ZUL_MSCOMPAL_Abort(cookie) != S_OK;
      break;
    case 5:
      wrong += ZUL_MSCOMPAL_GetObjClassName(cookie, &name) != S_OK;
      wrong += ZUL_MSCOMPAL_GetObjVariableName(cookie, &name) != S_OK;
      SysFreeString(name);
      name = nullptr;
      wrong += ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &name) != S_OK;
      SysFreeString(name);
      break;
    case 6:
      ZUL_MSCOMPAL_RegisterOutputCallback(cookie, CountOutput, nullptr);
      ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, IgnoreNotification, nullptr);
      break;
    case 7:
      ZUL_MSCOMPAL_UnregisterOutputCallback(cookie);
      ZUL_MSCOMPAL_UnregisterNotifyCallback(cookie);
      break;
    case 8:  // a proxy of its own, created and destroyed
      wrong += ZUL_MSCOMPAL_CreateProxyWrapper(700000 + thread * 10000 + round) != S_OK;
      wrong += ZUL_MSCOMPAL_DestroyProxyWrapper(700000 + thread * 10000 + round) != S_OK;
      break;
    default:
      wrong += ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0) != S_OK;
  }
  return wrong;
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
  bridge->EchoArgument(0, -1);
  bridge->EchoArgument(0, 1);
  const BridgeValue text = BridgeText("value");
  bridge->SetReturnValue(Entry(BridgeEntry::kGetProperty), &text);
  bridge->SetReturnValue(Entry(BridgeEntry::kGetZULVariable), &text);
  bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), "var");
  bridge->SetLastError(-1, "bridge says no");
  std::vector<int32_t> shared;
  for (int i = 0; i < kShared; ++i) shared.push_back(NewWrapper(i));
  for (int32_t cookie : shared) ZUL_MSCOMPAL_RegisterOutputCallback(cookie, CountOutput, nullptr);

  std::atomic<bool> done{false};
  std::thread deliveries([&] {  // output and notifications from the bridge's own threads
    for (int i = 0; !done.load() || i < 20; ++i) {
      bridge->EmitOutputOnThread(shared[i % kShared], "out");
      bridge->EmitNotifyOnThread(shared[(i + 1) % kShared], "a", "b");
    }
  });
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&wrong, &shared, t] {
      int32_t own = NewWrapper(100 + t);
      for (int round = 0; round < kRounds; ++round) {
        wrong[t] += OneRound(t, round, shared, own);
        if (round % 40 == 39) {  // its own wrapper released and a new one registered, mid-run
          wrong[t] += ZUL_MSCOMPAL_ReleaseWrapper(own) != S_OK;
          own = NewWrapper(100 + t);
        }
      }
      wrong[t] += ZUL_MSCOMPAL_ReleaseWrapper(own) != S_OK;
    });
  }
  for (std::thread& client : clients) client.join();
  done = true;
  deliveries.join();
  // Any thread's unregistration stops the shared trampoline; after a new registration output flows.
  const int before = g_outputs.load();
  ZUL_MSCOMPAL_RegisterOutputCallback(shared[0], CountOutput, nullptr);
  bridge->EmitOutputOnThread(shared[0], "last");
  EXPECT_EQ(g_outputs.load(), before + 1);
  for (int32_t cookie : shared) EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK);

  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
  EXPECT_EQ(bridge->OpenTransactions(), 0);
  EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
  EXPECT_EQ(bridge->BadReleases(), 0);
  bridge->Reset();
}

}  // namespace
}  // namespace zul::testing
