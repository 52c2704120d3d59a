// Eight client threads call every kind of operation on a wrapper of their own (in a ZUL process of its
// own, which no other thread enters), on a neighbour's wrapper that its owner releases at any moment, and
// on wrappers they share, while another thread makes and drops proxies and delivers output and
// notifications to them. On its own wrapper each answer must be right, its error text its own and its
// output delivered to it alone. Meant for ThreadSanitizer (host-tsan) and AddressSanitizer (host-asan).
#include <atomic>
#include <thread>

#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

constexpr int kThreads = 8, kShared = 2, kRounds = 200;

void Count(BSTR, void* hits) {
  ++*static_cast<std::atomic<int>*>(hits);
}
void CountBoth(BSTR, BSTR, void* hits) {
  ++*static_cast<std::atomic<int>*>(hits);
}

int32_t NewEcho(const std::string& process) {
  int32_t cookie = 0;
  ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Echo"), 0, Wide(process).c_str(), &cookie);
  ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0);
  return cookie;
}

// One round of client t on a wrapper; the wrong answers, which count only where strict.
int OneRound(int t, int round, int32_t cookie, bool strict, std::atomic<int>& hits) {
  const std::string name = "zz" + std::to_string(t) + "_" + std::to_string(round);
  int wrong = ZUL_MSCOMPAL_ExecuteString(cookie, Wide("print, " + name).c_str()) != E_FAIL;
  wrong += LastError(cookie) != "Undefined variable '" + name + "' at column 8.";
  Variant in(VT_ARRAY | VT_R8), out, text("s");
  in.parray = Numbers({double(t), double(round)});
  uint32_t flag = ArgFlag::InOnly;
  wrong += ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), 1, &in, &flag, &out) != S_OK ||
           Doubles(out.parray) != Dbls{double(t), double(round)};
  VariantClear(&out);
  wrong += ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("s"), text) != S_OK;
  wrong += ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("s"), &out) != S_OK || out.vt != VT_BSTR;
  BSTR bstr = nullptr;
  wrong += ZUL_MSCOMPAL_GetObjVariableName(cookie, &bstr) != S_OK;
  wrong += ZUL_MSCOMPAL_GetObjClassName(cookie, &bstr) != S_OK;  // frees the one before
  SysFreeString(bstr);
  if (round % 10 == 0) {
    wrong += ZUL_MSCOMPAL_RegisterOutputCallback(cookie, Count, &hits) != S_OK;
    wrong += ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("print, 1")) != S_OK;
  }
  return strict ? wrong : 0;
}

using OperationsStress = OpsTest;

TEST_F(OperationsStress, EveryOperationFromEightThreads) {
  std::atomic<int> hits[kThreads + 1] = {};  // the last: shared and exposed wrappers
  int32_t shared[kShared];
  for (int32_t& cookie : shared) {
    cookie = NewWrapper();
    ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, CountBoth, &hits[kThreads]);
  }
  std::atomic<bool> done{false};
  std::atomic<int32_t> exposed[kThreads] = {};  // released by its owner alone
  std::vector<int> wrong(kThreads + 1, 0);
  std::thread others([&] {
    for (int i = 0; !done.load() || i < 20; ++i) {
      wrong[kThreads] += ZUL_MSCOMPAL_CreateProxyWrapper(700000 + i) != S_OK;
      bridge->EmitOutput(i % 2 ? shared[i % kShared] : exposed[i % kThreads].load(), "out");
      bridge->EmitNotify(shared[i % kShared], "a", "b");
      wrong[kThreads] += ZUL_MSCOMPAL_DestroyProxyWrapper(700000 + i) != S_OK;
    }
  });
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      const int32_t mine = NewEcho("p" + std::to_string(t));
      for (int round = 0; round < kRounds; ++round) {
        if (round % 20 == 0) exposed[t] = NewEcho("q" + std::to_string(t));
        wrong[t] += OneRound(t, round, mine, true, hits[t]);
        const int32_t other = round % 2 ? exposed[(t + 1) % kThreads].load() : shared[round % kShared];
        OneRound(t, round, other, false, hits[kThreads]);
        if (round % 20 == 19) {  // while the neighbour may be calling it
          const int32_t gone = exposed[t];
          while (ZUL_MSCOMPAL_ReleaseWrapper(gone) == E_ACCESSDENIED) std::this_thread::yield();
          wrong[t] +=
              ZUL_MSCOMPAL_CallMethod(gone, OLESTR("Echo"), 0, nullptr, nullptr, nullptr) != E_INVALIDARG;
        }
      }
      wrong[t] += hits[t].load() != kRounds / 10;
      wrong[t] += ZUL_MSCOMPAL_ReleaseWrapper(mine) != S_OK;
    });
  }
  for (std::thread& client : clients) client.join();
  done = true;
  others.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads + 1, 0));
}

}  // namespace
}  // namespace zul::testing
