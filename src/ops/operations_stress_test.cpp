// Client threads (2, 4 and 8) mixing every operation on cookies they share and on cookies of their own,
// which they register and release as they go, while the bridge delivers output and notifications from
// threads of its own. A shared cookie is released only after every call on it returned, as callers
// must. Meant for ThreadSanitizer (host-tsan); the other builds run it too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

constexpr int kShared = 3;
constexpr int kRounds = 120;

std::atomic<int> g_outputs{0};
std::atomic<int> g_notifications{0};

// The texts belong to the library, which frees them after the call.
void CountOutput(BSTR, void*) {
  ++g_outputs;
}
void CountNotification(BSTR, BSTR, void*) {
  ++g_notifications;
}

// One round of one thread: an operation chosen by the round on a shared cookie or its own. Returns the
// number of wrong answers.
int OneRound(int thread, int round, const std::vector<int32_t>& shared, int32_t own) {
  const int32_t cookie = (round & 1) != 0 ? shared[(thread + round) % shared.size()] : own;
  const std::vector<double> mine = {double(thread), double(round)};
  int wrong = 0;
  switch (round % 12) {
    case 0:
    case 1: {  // an array in, the same array as the result and written back
      SAFEARRAY* out = DoubleArray({0, 0});
      VARIANT args[2];
      args[0].vt = VT_ARRAY | VT_R8;
      args[0].parray = DoubleArray(mine);
      args[1].vt = VT_BYREF | VT_ARRAY | VT_R8;
      args[1].pparray = &out;
      uint32_t flags[2] = {ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack};
      Variant result;
      wrong += ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), 2, args, flags, &result) != S_OK;
      wrong += result.vt != (VT_ARRAY | VT_R8) || Doubles(result.parray) != mine || Doubles(out) != mine;
      SafeArrayDestroy(args[0].parray);
      SafeArrayDestroy(out);
      break;
    }
    case 2: {  // a failing conversion beside reads of the same wrapper's last error
      Variant bad(VT_DECIMAL, 0);
      uint32_t flag = ArgFlag::InOnly;
      wrong += ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("p"), 1, &bad, &flag) != E_FAIL;
      wrong += LastError(cookie) == kNone;
      break;
    }
    case 3: {
      Variant value;
      wrong += ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("p"), &value) != S_OK || value.vt != VT_BSTR;
      break;
    }
    case 4: {
      Variant value("text");
      wrong += ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("v"), value) != S_OK;
      Variant back;
      wrong += ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("v"), &back) != S_OK || back.vt != VT_BSTR;
      break;
    }
    case 5:
      wrong += ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("print, 1")) != S_OK;
      break;
    case 6:
      wrong += ZUL_MSCOMPAL_Abort(cookie) != S_OK;
      break;
    case 7: {
      BSTR name = nullptr;  // in and out: a BSTR already there is freed, so each call reuses it
      wrong += ZUL_MSCOMPAL_GetObjClassName(cookie, &name) != S_OK;
      wrong += ZUL_MSCOMPAL_GetObjVariableName(cookie, &name) != S_OK;
      SysFreeString(name);
      name = nullptr;
      wrong += ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &name) != S_OK;
      SysFreeString(name);
      break;
    }
    case 8:
      ZUL_MSCOMPAL_RegisterOutputCallback(cookie, CountOutput, nullptr);
      ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, CountNotification, nullptr);
      break;
    case 9:
      ZUL_MSCOMPAL_UnregisterOutputCallback(cookie);
      ZUL_MSCOMPAL_UnregisterNotifyCallback(cookie);
      break;
    case 10: {  // a proxy of its own, created and destroyed
      const int32_t proxy = 700000 + thread * 10000 + round;
      wrong += ZUL_MSCOMPAL_CreateProxyWrapper(proxy) != S_OK;
      wrong += ZUL_MSCOMPAL_DestroyProxyWrapper(proxy) != S_OK;
      break;
    }
    default:
      wrong += ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0) != S_OK;
      break;
  }
  return wrong;
}

int32_t NewWrapper(int tag) {
  int32_t cookie = 0;
  EXPECT_EQ(
      ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Stress"), static_cast<uint32_t>(tag), OLESTR("proc"), &cookie),
      S_OK);
  return cookie;
}

class OperationsStress : public OpsTest, public ::testing::WithParamInterface<int> {};

TEST_P(OperationsStress, EveryOperationFromManyThreads) {
  const int threads = GetParam();
  bridge->SetJournal(0);
  bridge->SerializeTransactions(1);  // one call per object at a time, as a bridge runs them
  bridge->EchoArgument(0, -1);
  bridge->EchoArgument(0, 1);
  BridgeValue text = BridgeText("value");
  bridge->SetReturnValue(Entry(BridgeEntry::kGetProperty), &text);
  bridge->SetReturnValue(Entry(BridgeEntry::kGetZULVariable), &text);
  bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), "var");
  bridge->SetLastError(-1, "bridge says no");
  std::vector<int32_t> shared;
  for (int i = 0; i < kShared; ++i) shared.push_back(NewWrapper(i));
  for (int32_t cookie : shared) ZUL_MSCOMPAL_RegisterOutputCallback(cookie, CountOutput, nullptr);
  g_outputs = 0;
  g_notifications = 0;

  std::atomic<bool> done{false};
  std::atomic<int> emitted{0};
  std::thread deliveries([&] {
    // Output and notifications from the bridge's own threads, to the shared cookies.
    for (int i = 0; !done.load() || i < 20; ++i, ++emitted) {
      bridge->EmitOutputOnThread(shared[i % kShared], "out");
      bridge->EmitNotifyOnThread(shared[(i + 1) % kShared], "a", "b");
    }
  });
  std::vector<int> wrong(threads, 0);
  std::vector<std::thread> clients;
  for (int t = 0; t < threads; ++t) {
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

  EXPECT_EQ(wrong, std::vector<int>(threads, 0));
  EXPECT_EQ(bridge->OpenTransactions(), 0);
  EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
  EXPECT_EQ(bridge->BadReleases(), 0);
  bridge->Reset();
}

INSTANTIATE_TEST_SUITE_P(Threads, OperationsStress, ::testing::Values(2, 4, 8));

}  // namespace
}  // namespace zul::testing
