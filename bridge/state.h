// The bridge's state: ZUL processes with their variables and objects, wrappers, transactions, background
// jobs and callbacks. One mutex guards it all; it is never held while a callback runs.
#ifndef ZUL_BRIDGE_STATE_H
#define ZUL_BRIDGE_STATE_H

#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "memory.h"
#include "value.h"

namespace zul::bridge {

enum class ClassKind { kMatrix, kText, kEcho, kWorker };

struct Process;
struct Wrapper;
struct Job;

struct Object {
  int32_t handle = 0;
  std::string varName;
  ClassKind kind = ClassKind::kEcho;
  Wrapper* wrapper = nullptr;
  int runningCalls = 0;  // while above 0 the object must not be destroyed
  // Matrix: element (r, c) at r + rows * c, that is dims[0] = rows varies fastest.
  int64_t rows = 0;
  int64_t cols = 0;
  std::vector<double> data;
  // Worker.
  int32_t lastEvent = 0;
  void* window = nullptr;
};

struct Process {
  std::string name;                        // empty: the default process
  std::map<std::string, Value> variables;  // keys lower case
  std::map<std::string, Object*> objects;  // by variable name
  std::map<std::string, int> nameCounters;
  std::thread::id owner;  // the thread inside a transaction, valid while depth > 0
  int depth = 0;
  int activeCalls = 0;
  bool abortRequested = false;
  Job* job = nullptr;  // pending or running background job
  int wrappers = 0;
};

struct Wrapper {
  int32_t cookie = 0;
  ClassKind kind = ClassKind::kEcho;
  Process* process = nullptr;
  uint32_t registrationValue = 0;
  std::unique_ptr<Object> object;
  BridgeNotifyCallback notify = nullptr;
};

// A record handed out in a transaction; a method result's contents come back at its end too.
struct HandedOut {
  std::unique_ptr<BridgeValue> record;
  std::vector<BlockRef> reclaim;
};

struct Transactions {
  Process* process = nullptr;
  std::thread::id thread;
  std::vector<std::vector<HandedOut>> frames;  // one per BeginTransaction, innermost last
};

struct Job {
  std::thread thread;
  Process* process = nullptr;
  int32_t cookie = 0;
  Object* object = nullptr;
  int64_t milliseconds = 0;
  bool finished = false;
};

// Callbacks collected under the lock and made after it is released.
struct Deliveries {
  struct Output {
    std::vector<BridgeOutputCallback> targets;
    int32_t cookie;
    std::string text;
  };
  struct Note {
    BridgeNotifyCallback target;
    int32_t cookie;
    std::string first;
    std::string second;
  };
  std::vector<Output> outputs;
  std::vector<Note> notes;

  void Deliver();
};

class State {
 public:
  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State();

  std::mutex mutex;
  std::condition_variable wake;  // the process became free, an abort came, or the bridge shuts down
  BlockTable blocks;
  int initCount = 0;
  bool shuttingDown = false;
  int32_t nextCookie = 1;
  int32_t nextHandle = 1;
  std::map<std::string, std::unique_ptr<Process>> processes;
  std::map<int32_t, std::unique_ptr<Wrapper>> wrappers;
  std::map<int32_t, Transactions> transactions;
  std::vector<std::pair<BridgeOutputCallback, int>>
      outputCallbacks;  // registrations, in first-registered order
  std::set<void*> imsCallbacks;
  std::list<std::unique_ptr<Job>> jobs;

  // Lookups that fail with the bridge's error when the thing is not there.
  void RequireInitialized() const;
  Wrapper& FindWrapper(int32_t cookie);
  Object& RequireObject(Wrapper& wrapper);
  // The calling thread must be inside a transaction on this very cookie.
  void RequireTransaction(int32_t cookie);
  Process& DefaultProcess();
  Object* ObjectByHandle(Process& process, int32_t handle);

  void AddOutput(Deliveries& deliveries, int32_t cookie, std::string text);
  BridgeValue* HandOut(int32_t cookie, const Value& value, bool reclaimContents);
  // Joins finished jobs; with all set, aborts and joins every job (the lock must be held on entry).
  void ReapJobs(std::unique_lock<std::mutex>& lock, bool all);
  void Reset();
};

State& GetState();

std::string Lower(std::string text);
std::string ProcessLabel(const Process& process);  // "the default ZUL process", "ZUL process 'calc'"
std::string Capitalized(std::string text);
const char* ClassName(ClassKind kind);

// The calling thread's last failure: RecordCaught, in a catch block, keeps the one being handled (a
// BridgeError's code and text, out of memory, or an internal error) without allocating, and returns its code.
int32_t RecordCaught() noexcept;
const char* LastErrorText(int32_t* code);

}  // namespace zul::bridge

#endif
