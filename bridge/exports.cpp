// The 30 entry points of zul/qel.h and the diagnostic export. Each takes the bridge's lock, turns a
// failure into its code and the calling thread's last error, and makes callbacks only after unlocking.
#include <algorithm>
#include <climits>
#include <new>

#include "classes.h"
#include "command.h"
#include "zul_bridge.h"

namespace zul::bridge {
namespace {

// The guard of every entry point: nothing leaves it, and the failure becomes the thread's last error.
template <typename F>
int32_t Status(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return RecordCaught();
  }
}

// Status for a body that collects callbacks: they run after the body has released the lock, inside the guard.
template <typename F>
int32_t Delivering(F&& body) noexcept {
  return Status([&] {
    Deliveries deliveries;
    const int32_t status = body(deliveries);
    deliveries.Deliver();
    return status;
  });
}

template <typename F>
auto Pointer(F&& body) -> decltype(body()) {
  decltype(body()) result = nullptr;
  Status([&] {
    result = body();
    return 0;
  });
  return result;
}

// Marks a call as running in its process (what ZUL_QEL_Abort looks for) and keeps its object alive.
class Activity {
 public:
  Activity(std::unique_lock<std::mutex>& lock, Process& process, Object* object)
      : lock_(lock), process_(process), object_(object) {
    ++process_.activeCalls;
    if (object_ != nullptr) ++object_->runningCalls;
  }
  Activity(const Activity&) = delete;
  Activity& operator=(const Activity&) = delete;
  ~Activity() {
    if (!lock_.owns_lock()) lock_.lock();
    if (object_ != nullptr) --object_->runningCalls;
    // An abort is meant for what runs now, never for a later call.
    if (--process_.activeCalls == 0 && process_.job == nullptr) process_.abortRequested = false;
  }

 private:
  std::unique_lock<std::mutex>& lock_;
  Process& process_;
  Object* object_;
};

std::string Text(const char* text) {
  return text != nullptr ? text : "";
}

void CheckArguments(int32_t count, BridgeValue** values) {
  if (count < 0) Fail(kInvalidArgument, "The argument count " + std::to_string(count) + " is negative.");
  if (count > 0 && values == nullptr) Fail(kInvalidArgument, "The argument list is null.");
}

// A thread may enter a process that no other thread is inside and that runs no job of another thread.
void CheckAvailable(const Process& process) {
  const bool mine = process.depth > 0 && process.owner == std::this_thread::get_id();
  if (process.job != nullptr && !mine) {
    Fail(kBusy, Capitalized(ProcessLabel(process)) + " is busy with a background job of " +
                    process.job->object->varName + ".");
  }
  if (process.depth > 0 && !mine) {
    Fail(kBusy, Capitalized(ProcessLabel(process)) + " is busy in another thread's transaction.");
  }
}

void CheckDisposable(const Process& process, const Wrapper& wrapper) {
  if (!wrapper.object) return;
  if (process.job != nullptr && process.job->cookie == wrapper.cookie) {
    Fail(kBusy, wrapper.object->varName + " has a background job; abort it first.");
  }
  if (wrapper.object->runningCalls > 0) Fail(kBusy, wrapper.object->varName + " is running a call.");
}

void DropObject(Wrapper& wrapper) {
  if (!wrapper.object) return;
  wrapper.process->objects.erase(wrapper.object->varName);
  wrapper.object.reset();
}

std::string NextVariableName(const Process& process, ClassKind kind, int& counter) {
  const std::string base = Lower(ClassName(kind));
  std::string name;
  do {
    name = base + std::to_string(++counter);
  } while (process.objects.count(name) != 0 || process.variables.count(name) != 0);
  return name;
}

auto FindOutput(State& s, BridgeOutputCallback callback) {
  return std::find_if(s.outputCallbacks.begin(), s.outputCallbacks.end(),
                      [&](const auto& entry) { return entry.first == callback; });
}

std::string VariableKey(const char* name) {
  if (name == nullptr || !IsValidName(name))
    Fail(kVariableError, "Invalid variable name '" + Text(name) + "'.");
  return Lower(name);
}

}  // namespace
}  // namespace zul::bridge

using namespace zul::bridge;

extern "C" {

ZUL_QEL_API int32_t ZUL_QEL_Initialize(BridgeInitRecord* init) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (init == nullptr) Fail(kInvalidArgument, "ZUL_QEL_Initialize needs an initialisation record.");
    if (init->field1 != 1) {
      Fail(kInvalidArgument, "Unsupported interface version " + std::to_string(init->field1) +
                                 " in the initialisation record; this bridge speaks version 1.");
    }
    if (s.shuttingDown) Fail(kBusy, "The bridge is being released.");
    if (s.initCount++ == 0) s.DefaultProcess();
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_Release(void) {
  return Status([&] {
    State& s = GetState();
    std::unique_lock lock(s.mutex);
    s.RequireInitialized();
    if (s.initCount > 1) {
      --s.initCount;
      return 0;
    }
    for (const auto& [name, process] : s.processes) {
      if (process->activeCalls > 0) {
        Fail(kBusy, "The bridge cannot be released while a call runs in " + ProcessLabel(*process) + ".");
      }
    }
    s.ReapJobs(lock, true);
    s.Reset();
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterWrapper(const char* className, uint32_t registrationValue,
                                            const char* procName) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (className == nullptr || *className == '\0') Fail(kUnknownClass, "No class name given.");
    const auto kind = FindClass(className);
    if (!kind) {
      Fail(kUnknownClass, "Unknown class '" + Text(className) + "'; the classes are " + ClassList() + ".");
    }
    if (s.nextCookie == INT32_MAX) Fail(kInternal, "No cookies left.");
    auto& process = s.processes[Text(procName)];
    if (!process) {
      process = std::make_unique<Process>();
      process->name = Text(procName);
    }
    auto wrapper = std::make_unique<Wrapper>();
    wrapper->cookie = s.nextCookie++;
    wrapper->kind = *kind;
    wrapper->process = process.get();
    wrapper->registrationValue = registrationValue;
    ++process->wrappers;
    const int32_t cookie = wrapper->cookie;
    s.wrappers[cookie] = std::move(wrapper);
    return cookie;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_ReleaseWrapper(int32_t cookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    Process& process = *wrapper.process;
    CheckAvailable(process);
    CheckDisposable(process, wrapper);
    DropObject(wrapper);
    --process.wrappers;
    // Its transactions stay: the caller still ends them.
    s.wrappers.erase(cookie);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_BeginTransaction(int32_t cookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (cookie == 0) return 0;  // the bracket around a registration guards nothing here
    Process& process = *s.FindWrapper(cookie).process;
    CheckAvailable(process);
    Transactions& t = s.transactions[cookie];
    t.process = &process;
    t.thread = std::this_thread::get_id();
    t.frames.emplace_back();
    process.owner = t.thread;
    ++process.depth;
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_EndTransaction(int32_t cookie) {
  std::vector<HandedOut> frame;
  const int32_t status = Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (cookie == 0) return 0;
    const auto it = s.transactions.find(cookie);
    if (it == s.transactions.end() || it->second.thread != std::this_thread::get_id()) {
      Fail(kNoTransaction, "No transaction is open on cookie " + std::to_string(cookie) + " in this thread.");
    }
    frame = std::move(it->second.frames.back());
    it->second.frames.pop_back();
    Process& process = *it->second.process;
    if (it->second.frames.empty()) s.transactions.erase(it);
    if (--process.depth == 0) {
      process.owner = std::thread::id();
      s.wake.notify_all();
    }
    for (const HandedOut& entry : frame) {
      for (const BlockRef& block : entry.reclaim) s.blocks.Reclaim(block.block, block.serial);
    }
    return 0;
  });
  return status;
}

ZUL_QEL_API void* ZUL_QEL_AllocateMemory(int32_t cookie, uint64_t byteCount) {
  return Pointer([&]() -> void* {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    s.FindWrapper(cookie);
    void* block = s.blocks.Allocate(cookie, byteCount);
    if (block == nullptr) Fail(kOutOfMemory, "Cannot allocate " + std::to_string(byteCount) + " bytes.");
    return block;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_ReleaseMemory(int32_t cookie, void* block) {
  return Status([&] {
    State& s = GetState();
    {
      std::lock_guard lock(s.mutex);
      s.RequireInitialized();
    }
    if (block == nullptr) return 0;
    int32_t owner = 0;
    switch (s.blocks.Free(cookie, block, &owner)) {
      case BlockTable::Release::kDone:
        return 0;
      case BlockTable::Release::kWrongCookie:
        Fail(kBadBlock, "The block belongs to cookie " + std::to_string(owner) + ", not to cookie " +
                            std::to_string(cookie) + ".");
      case BlockTable::Release::kUnknown:
        break;
    }
    Fail(kBadBlock, "The block was not allocated by this bridge or has already been released.");
  });
}

ZUL_QEL_API int32_t ZUL_QEL_CreateObject(int32_t cookie, int32_t count, BridgeValue** values,
                                         const uint32_t* flags, uint32_t, uint32_t, uintptr_t) {
  return Delivering([&](Deliveries& deliveries) {
    State& s = GetState();
    std::unique_lock lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    if (wrapper.object) {
      Fail(kObjectState,
           "Wrapper " + std::to_string(cookie) + " already has the object " + wrapper.object->varName + ".");
    }
    CheckArguments(count, values);
    Process& process = *wrapper.process;
    auto object = std::make_unique<Object>();
    object->kind = wrapper.kind;
    object->wrapper = &wrapper;
    CallContext ctx{s, lock, wrapper, *object, deliveries, count, values, flags, ClassName(wrapper.kind)};
    ConstructObject(ctx);
    object->handle = s.nextHandle++;
    object->varName = NextVariableName(process, wrapper.kind, process.nameCounters[ClassName(wrapper.kind)]);
    process.objects[object->varName] = object.get();
    wrapper.object = std::move(object);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_DestroyObject(int32_t cookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    s.RequireObject(wrapper);
    CheckDisposable(*wrapper.process, wrapper);
    DropObject(wrapper);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_ObjRefCookie2Hvid(int32_t cookie, int32_t refCookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    const Wrapper& wrapper = s.FindWrapper(cookie);
    const auto it = s.wrappers.find(refCookie);
    if (it == s.wrappers.end()) {
      Fail(kInvalidCookie, "Invalid cookie " + std::to_string(refCookie) + " of the referenced wrapper.");
    }
    Wrapper& other = *it->second;
    if (other.process != wrapper.process) {
      Fail(kOtherProcess, "Wrapper " + std::to_string(refCookie) + " belongs to " +
                              ProcessLabel(*other.process) + ", not to " + ProcessLabel(*wrapper.process) +
                              ".");
    }
    return s.RequireObject(other).handle;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_AttachObject(int32_t cookie, void* window) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Object& object = s.RequireObject(s.FindWrapper(cookie));
    if (window == nullptr) Fail(kInvalidArgument, "No window given.");
    AttachWindow(object, window);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_OnEvent(int32_t cookie, EventRecord* event) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    Object& object = s.RequireObject(wrapper);
    if (event == nullptr) Fail(kInvalidArgument, "No event record given.");
    DeliverEvent(object, *event);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_CallMethod(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                       const uint32_t* flags, BridgeValue** result) {
  if (result != nullptr) *result = nullptr;
  return Delivering([&](Deliveries& deliveries) {
    State& s = GetState();
    std::unique_lock lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    Object& object = s.RequireObject(wrapper);
    CheckArguments(count, values);
    if (name == nullptr || *name == '\0') Fail(kUnknownMethod, "No method name given.");
    Activity activity(lock, *wrapper.process, &object);
    CallContext ctx{s, lock, wrapper, object, deliveries, count, values, flags, ClassName(wrapper.kind)};
    const Value value = CallObjectMethod(ctx, name);
    if (result != nullptr) {
      // A callback during the call may have ended the transaction the result belongs to.
      s.RequireTransaction(cookie);
      *result = s.HandOut(cookie, value, true);
    }
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_SetProperty(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                        const uint32_t* flags) {
  return Delivering([&](Deliveries& deliveries) {
    State& s = GetState();
    std::unique_lock lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    Object& object = s.RequireObject(wrapper);
    CheckArguments(count, values);
    if (name == nullptr || *name == '\0') Fail(kPropertyError, "No property name given.");
    CallContext ctx{s, lock, wrapper, object, deliveries, count, values, flags, ClassName(wrapper.kind)};
    SetObjectProperty(ctx, name);
    return 0;
  });
}

ZUL_QEL_API BridgeValue* ZUL_QEL_GetProperty(int32_t cookie, const char* name) {
  return Pointer([&]() -> BridgeValue* {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    const Object& object = s.RequireObject(wrapper);
    if (name == nullptr || *name == '\0') Fail(kPropertyError, "No property name given.");
    return s.HandOut(cookie, GetObjectProperty(object, name), false);
  });
}

ZUL_QEL_API int32_t ZUL_QEL_Abort(int32_t cookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Process& process = *s.FindWrapper(cookie).process;
    if (process.activeCalls == 0 && process.job == nullptr) {
      Fail(kNothingToAbort, "No ZUL activity to abort in " + ProcessLabel(process) + ".");
    }
    process.abortRequested = true;
    s.wake.notify_all();
    return 0;
  });
}

ZUL_QEL_API const char* ZUL_QEL_GetLastError(int32_t* code) {
  return LastErrorText(code);
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterOutputCallback(BridgeOutputCallback callback) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (callback == nullptr) Fail(kInvalidArgument, "No output callback given.");
    const auto it = FindOutput(s, callback);
    if (it != s.outputCallbacks.end()) {
      ++it->second;
    } else {
      s.outputCallbacks.emplace_back(callback, 1);
    }
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterOutputCallback(BridgeOutputCallback callback) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    const auto it = FindOutput(s, callback);
    if (it == s.outputCallbacks.end()) Fail(kInvalidArgument, "The output callback is not registered.");
    if (--it->second == 0) s.outputCallbacks.erase(it);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterNotifyCallback(int32_t cookie, BridgeNotifyCallback callback) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    if (callback == nullptr) Fail(kInvalidArgument, "No notify callback given.");
    wrapper.notify = callback;
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterNotifyCallback(int32_t cookie) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    s.FindWrapper(cookie).notify = nullptr;
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterIMSCallback(void* callback) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (callback == nullptr) Fail(kInvalidArgument, "No IMS callback given.");
    s.imsCallbacks.insert(callback);
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterIMSCallback(void* callback) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    if (s.imsCallbacks.erase(callback) == 0) Fail(kInvalidArgument, "The IMS callback is not registered.");
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_SetZULVariable(int32_t cookie, const char* name, BridgeValue* value) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Process& process = *s.FindWrapper(cookie).process;
    s.RequireTransaction(cookie);
    const std::string key = VariableKey(name);
    if (process.objects.count(key) != 0) {
      Fail(kVariableError,
           "Variable '" + Text(name) + "' holds the object of a wrapper and cannot be assigned.");
    }
    process.variables[key] = ReadValue(value, "value");
    return 0;
  });
}

ZUL_QEL_API BridgeValue* ZUL_QEL_GetZULVariable(int32_t cookie, const char* name) {
  return Pointer([&]() -> BridgeValue* {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    Process& process = *s.FindWrapper(cookie).process;
    s.RequireTransaction(cookie);
    const std::string key = VariableKey(name);
    if (const auto object = process.objects.find(key); object != process.objects.end()) {
      return s.HandOut(cookie, MakeObjRef(object->second->handle), false);
    }
    const auto variable = process.variables.find(key);
    if (variable == process.variables.end()) {
      Fail(kVariableError, "Undefined variable '" + Text(name) + "' in " + ProcessLabel(process) + ".");
    }
    return s.HandOut(cookie, variable->second, false);
  });
}

ZUL_QEL_API int32_t ZUL_QEL_ExecuteString(int32_t cookie, const char* command) {
  return Delivering([&](Deliveries& deliveries) {
    State& s = GetState();
    std::unique_lock lock(s.mutex);
    s.RequireInitialized();
    Wrapper& wrapper = s.FindWrapper(cookie);
    s.RequireTransaction(cookie);
    if (command == nullptr) Fail(kInvalidArgument, "No command given.");
    Activity activity(lock, *wrapper.process, nullptr);
    CommandEffects effects;
    ExecuteCommand(*wrapper.process, command, effects);
    for (std::string& line : effects.printed) s.AddOutput(deliveries, cookie, std::move(line));
    for (auto& [first, second] : effects.notes) {
      if (wrapper.notify != nullptr) deliveries.notes.push_back({wrapper.notify, cookie, first, second});
    }
    return 0;
  });
}

ZUL_QEL_API const char* ZUL_QEL_GetObjVariableName(int32_t cookie) {
  return Pointer([&]() -> const char* {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    return s.RequireObject(s.FindWrapper(cookie)).varName.c_str();
  });
}

ZUL_QEL_API int32_t ZUL_QEL_CreateZULProcess(const char* procName) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    const std::string name = Text(procName);
    if (name.empty()) Fail(kProcessError, "The default ZUL process always exists.");
    auto& process = s.processes[name];
    if (process) Fail(kProcessError, "ZUL process '" + name + "' already exists.");
    process = std::make_unique<Process>();
    process->name = name;
    return 0;
  });
}

ZUL_QEL_API int32_t ZUL_QEL_DestroyZULProcess(const char* procName) {
  return Status([&] {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.RequireInitialized();
    const std::string name = Text(procName);
    if (name.empty()) Fail(kProcessError, "The default ZUL process cannot be destroyed.");
    const auto it = s.processes.find(name);
    if (it == s.processes.end()) Fail(kProcessError, "There is no ZUL process '" + name + "'.");
    const Process& process = *it->second;
    if (process.job != nullptr || process.depth > 0 || process.activeCalls > 0) {
      Fail(kBusy, "ZUL process '" + name + "' is in use.");
    }
    if (process.wrappers > 0) {
      Fail(kProcessError,
           "ZUL process '" + name + "' still has " + Counted(process.wrappers, "wrapper") + ".");
    }
    s.processes.erase(it);
    return 0;
  });
}

ZUL_QEL_API int64_t ZulBridge_OutstandingBlocks(int32_t cookie) {
  return GetState().blocks.Outstanding(cookie);
}

}  // extern "C"
