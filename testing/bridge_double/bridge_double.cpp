// A zul_qel for tests: exports the 30 entry points (all but the last in the incomplete build), records
// every call with copies of what it received, answers as scripted, and accounts for every block of
// bridge memory per cookie.
#include "bridge_double.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "loader/bridge_entries.h"

namespace {

using zul::BridgeEntry;

struct CallRecord {
  ZulDoubleCall view{};
  std::string texts[2];
  std::vector<BridgeValue> values;
  std::vector<uint32_t> flags;
  std::deque<std::vector<char>> buffers;  // characters and element data of the copied values
  std::deque<BridgeArray> arrays;
};

struct Echo {
  int32_t from;
  int32_t to;  // -1: the result slot
};

struct HandedOutValue {
  int32_t cookie;
  std::unique_ptr<BridgeValue> value;
  bool reclaimContents;  // a method result: its memory comes back here, not through ReleaseMemory
};

struct State {
  std::mutex mutex;
  std::deque<std::unique_ptr<CallRecord>> journal;
  std::map<int, int32_t> results;
  std::map<int, std::optional<BridgeValue>> returnValues;  // deep copies owned by the test's call
  std::map<int, CallRecord> returnValueStorage;
  std::map<int, std::optional<std::string>> returnTexts;
  int32_t lastErrorCode = 0;
  std::optional<std::string> lastErrorText;
  int64_t failAllocationAt = 0;
  std::vector<Echo> echoes;
  bool journalOn = true;
  std::map<void*, int32_t> blocks;  // block -> owning cookie
  int64_t badReleases = 0;
  int32_t openTransactions = 0;
  int32_t nextCookie = 1;
  std::vector<HandedOutValue> handedOut;
  std::map<BridgeOutputCallback, int32_t> outputCallbacks;  // callback -> registrations
  std::map<int32_t, BridgeNotifyCallback> notifyCallbacks;
  // With serialize on, a cookie's transaction belongs to one thread at a time (nested ones count).
  bool serialize = false;
  std::map<int32_t, std::pair<std::thread::id, int>> transactionOwners;
  std::condition_variable transactionEnded;

  ~State() {
    for (const auto& [block, cookie] : blocks) std::free(block);
  }
};

State& S() {
  static State state;  // destroyed when the double is unloaded, as a real bridge frees its state
  return state;
}

int Index(BridgeEntry entry) {
  return static_cast<int>(entry);
}

// ---- bridge memory -------------------------------------------------------------------------------

void* AllocateBlock(State& s, int32_t cookie, uint64_t bytes) {
  void* block = std::calloc(1, bytes == 0 ? 1 : static_cast<size_t>(bytes));
  if (block != nullptr) s.blocks[block] = cookie;
  return block;
}

void ReleaseBlock(State& s, int32_t cookie, void* block) {
  const auto it = s.blocks.find(block);
  if (it == s.blocks.end() || it->second != cookie) {
    ++s.badReleases;
    return;
  }
  s.blocks.erase(it);
  std::free(block);
}

// ---- deep copies ---------------------------------------------------------------------------------

using Allocator = std::function<void*(size_t)>;

void CopyValue(const BridgeValue& from, BridgeValue& to, const Allocator& allocate) {
  to = from;
  if ((from.flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    if (from.value.array == nullptr) return;
    const BridgeArray& source = *from.value.array;
    auto* array = static_cast<BridgeArray*>(allocate(sizeof(BridgeArray)));
    *array = source;
    array->data = nullptr;
    if (source.data != nullptr && source.totalBytes > 0) {
      array->data = allocate(static_cast<size_t>(source.totalBytes));
      std::memcpy(array->data, source.data, static_cast<size_t>(source.totalBytes));
      if (from.type == ZUL_TYP_STRING && source.elementSize == sizeof(BridgeString)) {
        auto* elements = static_cast<BridgeString*>(array->data);
        for (int64_t i = 0; i < source.elementCount; ++i) {
          if (elements[i].chars == nullptr) continue;
          const size_t bytes = std::strlen(elements[i].chars) + 1;
          char* chars = static_cast<char*>(allocate(bytes));
          std::memcpy(chars, elements[i].chars, bytes);
          elements[i].chars = chars;
        }
      }
    }
    to.value.array = array;
  } else if (from.type == ZUL_TYP_STRING && from.value.str.chars != nullptr) {
    const size_t bytes = std::strlen(from.value.str.chars) + 1;
    char* chars = static_cast<char*>(allocate(bytes));
    std::memcpy(chars, from.value.str.chars, bytes);
    to.value.str.chars = chars;
  }
}

// Copies into memory owned by a journal record.
Allocator RecordAllocator(CallRecord& record) {
  return [&record](size_t bytes) -> void* {
    if (bytes == sizeof(BridgeArray)) {
      record.arrays.emplace_back();
      return &record.arrays.back();
    }
    record.buffers.emplace_back(bytes);
    return record.buffers.back().data();
  };
}

// Gives back every block that a handed-out method result still holds.
void ReclaimContents(State& s, int32_t cookie, const BridgeValue& value) {
  auto release = [&](void* block) {
    const auto it = s.blocks.find(block);
    if (it != s.blocks.end() && it->second == cookie) {
      s.blocks.erase(it);
      std::free(block);
    }
  };
  if ((value.flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    BridgeArray* array = value.value.array;
    if (array == nullptr || s.blocks.count(array) == 0) return;
    if (value.type == ZUL_TYP_STRING && array->data != nullptr && s.blocks.count(array->data) != 0) {
      auto* elements = static_cast<BridgeString*>(array->data);
      for (int64_t i = 0; i < array->elementCount; ++i) release(elements[i].chars);
    }
    release(array->data);
    release(array);
  } else if (value.type == ZUL_TYP_STRING) {
    release(value.value.str.chars);
  }
}

// ---- the journal ---------------------------------------------------------------------------------

class Call {
 public:
  Call(BridgeEntry entry, int32_t cookie) : record_(std::make_unique<CallRecord>()) {
    record_->view.entry = Index(entry);
    record_->view.cookie = cookie;
  }
  Call& Arg(int64_t value) {
    record_->view.args[argCount_++] = value;
    return *this;
  }
  Call& Text(const char* text) {
    if (text != nullptr) {
      record_->texts[textCount_] = text;
      record_->view.texts[textCount_] = record_->texts[textCount_].c_str();
    }
    ++textCount_;
    return *this;
  }
  Call& Values(int32_t count, BridgeValue* const* values, const uint32_t* flags) {
    if (count <= 0) return *this;
    if (values != nullptr) {
      record_->values.resize(static_cast<size_t>(count));
      for (int32_t i = 0; i < count; ++i) {
        if (values[i] != nullptr) CopyValue(*values[i], record_->values[i], RecordAllocator(*record_));
      }
    }
    if (flags != nullptr) record_->flags.assign(flags, flags + count);
    return *this;
  }
  // Records the call with its result and returns the result.
  template <class T>
  T Done(State& s, T result) {
    if constexpr (std::is_pointer_v<T>) {
      record_->view.result = result != nullptr ? 1 : 0;
    } else {
      record_->view.result = result;
    }
    Finish(s);
    return result;
  }
  void Finish(State& s) {
    ZulDoubleCall& view = record_->view;
    view.valueCount = static_cast<int32_t>(record_->values.size());
    view.values = record_->values.empty() ? nullptr : record_->values.data();
    view.flags = record_->flags.empty() ? nullptr : record_->flags.data();
    if (s.journalOn) s.journal.push_back(std::move(record_));
  }
  ZulDoubleCall& View() { return record_->view; }

 private:
  std::unique_ptr<CallRecord> record_;
  int argCount_ = 0;
  int textCount_ = 0;
};

int32_t ScriptedResult(State& s, BridgeEntry entry, int32_t otherwise) {
  const auto it = s.results.find(Index(entry));
  return it == s.results.end() ? otherwise : it->second;
}

Allocator BridgeAllocator(State& s, int32_t cookie) {
  return [&s, cookie](size_t bytes) { return AllocateBlock(s, cookie, bytes); };
}

// A fresh copy of source in bridge memory of the cookie.
BridgeValue* HandOutCopy(State& s, const BridgeValue& source, int32_t cookie, bool reclaimContents) {
  auto value = std::make_unique<BridgeValue>();
  CopyValue(source, *value, BridgeAllocator(s, cookie));
  BridgeValue* raw = value.get();
  s.handedOut.push_back({cookie, std::move(value), reclaimContents});
  return raw;
}

// A fresh copy of the scripted value in bridge memory of the cookie, or null.
BridgeValue* HandOut(State& s, BridgeEntry entry, int32_t cookie, bool reclaimContents) {
  const auto it = s.returnValues.find(Index(entry));
  if (it == s.returnValues.end() || !it->second) return nullptr;
  return HandOutCopy(s, *it->second, cookie, reclaimContents);
}

// The echo rules of a successful call with arguments, applied to them and to a result slot.
void ApplyEchoes(State& s, int32_t cookie, int32_t count, BridgeValue** values, BridgeValue** result) {
  for (const Echo& echo : s.echoes) {
    if (values == nullptr || echo.from < 0 || echo.from >= count || values[echo.from] == nullptr) continue;
    if (echo.to < 0) {
      if (result != nullptr) *result = HandOutCopy(s, *values[echo.from], cookie, true);
    } else if (echo.to < count && values[echo.to] != nullptr) {
      BridgeValue copy;
      CopyValue(*values[echo.from], copy, BridgeAllocator(s, cookie));
      ReclaimContents(s, cookie, *values[echo.to]);  // the bridge drops the value it replaces
      *values[echo.to] = copy;
    }
  }
}

int32_t SimpleEntry(BridgeEntry entry, int32_t cookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return Call(entry, cookie).Done(s, ScriptedResult(s, entry, 0));
}

}  // namespace

extern "C" {

// ---- the 30 entry points -------------------------------------------------------------------------

ZUL_QEL_API int32_t ZUL_QEL_Initialize(BridgeInitRecord* init) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  Call call(BridgeEntry::kInitialize, 0);
  if (init != nullptr) call.Arg(init->field1).Arg(init->field2);
  return call.Done(s, ScriptedResult(s, BridgeEntry::kInitialize, 0));
}

ZUL_QEL_API int32_t ZUL_QEL_Release(void) {
  return SimpleEntry(BridgeEntry::kRelease, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterWrapper(const char* className, uint32_t registrationValue,
                                            const char* procName) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  const auto scripted = s.results.find(Index(BridgeEntry::kRegisterWrapper));
  const int32_t cookie = scripted != s.results.end() ? scripted->second : s.nextCookie++;
  return Call(BridgeEntry::kRegisterWrapper, 0)
      .Text(className)
      .Arg(registrationValue)
      .Text(procName)
      .Done(s, cookie);
}

ZUL_QEL_API int32_t ZUL_QEL_ReleaseWrapper(int32_t cookie) {
  return SimpleEntry(BridgeEntry::kReleaseWrapper, cookie);
}

ZUL_QEL_API int32_t ZUL_QEL_BeginTransaction(int32_t cookie) {
  State& s = S();
  std::unique_lock lock(s.mutex);
  const auto self = std::this_thread::get_id();
  if (s.serialize) {
    s.transactionEnded.wait(lock, [&] {
      const auto owner = s.transactionOwners.find(cookie);
      return owner == s.transactionOwners.end() || owner->second.first == self;
    });
  }
  const int32_t result = ScriptedResult(s, BridgeEntry::kBeginTransaction, 0);
  if (result >= 0) ++s.openTransactions;
  if (result >= 0 && s.serialize) {
    auto& owner = s.transactionOwners[cookie];
    owner = {self, owner.second + 1};
  }
  return Call(BridgeEntry::kBeginTransaction, cookie).Done(s, result);
}

ZUL_QEL_API int32_t ZUL_QEL_EndTransaction(int32_t cookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  --s.openTransactions;
  const auto owner = s.transactionOwners.find(cookie);
  if (owner != s.transactionOwners.end() && owner->second.first == std::this_thread::get_id() &&
      --owner->second.second == 0) {
    s.transactionOwners.erase(owner);
    s.transactionEnded.notify_all();
  }
  // The values handed out in the transaction come back now.
  for (auto it = s.handedOut.begin(); it != s.handedOut.end();) {
    if (it->cookie != cookie) {
      ++it;
      continue;
    }
    if (it->reclaimContents) ReclaimContents(s, cookie, *it->value);
    it = s.handedOut.erase(it);
  }
  return Call(BridgeEntry::kEndTransaction, cookie)
      .Done(s, ScriptedResult(s, BridgeEntry::kEndTransaction, 0));
}

ZUL_QEL_API void* ZUL_QEL_AllocateMemory(int32_t cookie, uint64_t byteCount) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  void* block = nullptr;
  if (s.failAllocationAt > 0 && --s.failAllocationAt == 0) {
    block = nullptr;
  } else {
    block = AllocateBlock(s, cookie, byteCount);
  }
  return Call(BridgeEntry::kAllocateMemory, cookie).Arg(static_cast<int64_t>(byteCount)).Done(s, block);
}

ZUL_QEL_API int32_t ZUL_QEL_ReleaseMemory(int32_t cookie, void* block) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  ReleaseBlock(s, cookie, block);
  return Call(BridgeEntry::kReleaseMemory, cookie).Arg(block != nullptr ? 1 : 0).Done(s, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_CreateObject(int32_t cookie, int32_t count, BridgeValue** values,
                                         const uint32_t* flags, uint32_t createParam1, uint32_t createParam2,
                                         uintptr_t createParam3) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  Call call(BridgeEntry::kCreateObject, cookie);
  call.Arg(count).Arg(createParam1).Arg(createParam2).Arg(static_cast<int64_t>(createParam3));
  call.Values(count, values, flags);
  const int32_t status = ScriptedResult(s, BridgeEntry::kCreateObject, 0);
  if (status >= 0) ApplyEchoes(s, cookie, count, values, nullptr);
  return call.Done(s, status);
}

ZUL_QEL_API int32_t ZUL_QEL_DestroyObject(int32_t cookie) {
  return SimpleEntry(BridgeEntry::kDestroyObject, cookie);
}

ZUL_QEL_API int32_t ZUL_QEL_ObjRefCookie2Hvid(int32_t cookie, int32_t refCookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  // Unless scripted, the handle of wrapper n is 1000 + n, wrapping around for the largest cookies.
  const auto handle = static_cast<int32_t>(1000u + static_cast<uint32_t>(refCookie));
  return Call(BridgeEntry::kObjRefCookie2Hvid, cookie)
      .Arg(refCookie)
      .Done(s, ScriptedResult(s, BridgeEntry::kObjRefCookie2Hvid, handle));
}

ZUL_QEL_API int32_t ZUL_QEL_AttachObject(int32_t cookie, void*) {
  return SimpleEntry(BridgeEntry::kAttachObject, cookie);
}

ZUL_QEL_API int32_t ZUL_QEL_OnEvent(int32_t cookie, EventRecord* event) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return Call(BridgeEntry::kOnEvent, cookie)
      .Arg(event != nullptr ? event->eventKind : -1)
      .Done(s, ScriptedResult(s, BridgeEntry::kOnEvent, 0));
}

ZUL_QEL_API int32_t ZUL_QEL_CallMethod(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                       const uint32_t* flags, BridgeValue** result) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  Call call(BridgeEntry::kCallMethod, cookie);
  call.Text(name).Arg(count).Values(count, values, flags);
  call.View().resultSlotGiven = result != nullptr ? 1 : 0;
  const int32_t status = ScriptedResult(s, BridgeEntry::kCallMethod, 0);
  if (result != nullptr && status >= 0) *result = HandOut(s, BridgeEntry::kCallMethod, cookie, true);
  if (status >= 0) ApplyEchoes(s, cookie, count, values, result);
  return call.Done(s, status);
}

ZUL_QEL_API int32_t ZUL_QEL_SetProperty(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                        const uint32_t* flags) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  Call call(BridgeEntry::kSetProperty, cookie);
  call.Text(name).Arg(count).Values(count, values, flags);
  const int32_t status = ScriptedResult(s, BridgeEntry::kSetProperty, 0);
  if (status >= 0) ApplyEchoes(s, cookie, count, values, nullptr);
  return call.Done(s, status);
}

ZUL_QEL_API BridgeValue* ZUL_QEL_GetProperty(int32_t cookie, const char* name) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return Call(BridgeEntry::kGetProperty, cookie)
      .Text(name)
      .Done(s, HandOut(s, BridgeEntry::kGetProperty, cookie, false));
}

ZUL_QEL_API int32_t ZUL_QEL_Abort(int32_t cookie) {
  return SimpleEntry(BridgeEntry::kAbort, cookie);
}

ZUL_QEL_API const char* ZUL_QEL_GetLastError(int32_t* code) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  if (code != nullptr) *code = s.lastErrorCode;
  const char* text = s.lastErrorText ? s.lastErrorText->c_str() : nullptr;
  return Call(BridgeEntry::kGetLastError, 0).Arg(code != nullptr ? 1 : 0).Done(s, text);
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterOutputCallback(BridgeOutputCallback callback) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  if (callback != nullptr) ++s.outputCallbacks[callback];
  return Call(BridgeEntry::kRegisterOutputCallback, 0).Done(s, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterOutputCallback(BridgeOutputCallback callback) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  const auto it = s.outputCallbacks.find(callback);
  if (it != s.outputCallbacks.end() && --it->second == 0) s.outputCallbacks.erase(it);
  return Call(BridgeEntry::kUnregisterOutputCallback, 0).Done(s, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterNotifyCallback(int32_t cookie, BridgeNotifyCallback callback) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.notifyCallbacks[cookie] = callback;
  return Call(BridgeEntry::kRegisterNotifyCallback, cookie).Done(s, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterNotifyCallback(int32_t cookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.notifyCallbacks.erase(cookie);
  return Call(BridgeEntry::kUnregisterNotifyCallback, cookie).Done(s, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_RegisterIMSCallback(void*) {
  return SimpleEntry(BridgeEntry::kRegisterIMSCallback, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterIMSCallback(void*) {
  return SimpleEntry(BridgeEntry::kUnregisterIMSCallback, 0);
}

ZUL_QEL_API int32_t ZUL_QEL_SetZULVariable(int32_t cookie, const char* name, BridgeValue* value) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  BridgeValue* values[] = {value};
  return Call(BridgeEntry::kSetZULVariable, cookie)
      .Text(name)
      .Values(value != nullptr ? 1 : 0, values, nullptr)
      .Done(s, ScriptedResult(s, BridgeEntry::kSetZULVariable, 0));
}

ZUL_QEL_API BridgeValue* ZUL_QEL_GetZULVariable(int32_t cookie, const char* name) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return Call(BridgeEntry::kGetZULVariable, cookie)
      .Text(name)
      .Done(s, HandOut(s, BridgeEntry::kGetZULVariable, cookie, false));
}

ZUL_QEL_API int32_t ZUL_QEL_ExecuteString(int32_t cookie, const char* command) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return Call(BridgeEntry::kExecuteString, cookie)
      .Text(command)
      .Done(s, ScriptedResult(s, BridgeEntry::kExecuteString, 0));
}

ZUL_QEL_API const char* ZUL_QEL_GetObjVariableName(int32_t cookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  const auto it = s.returnTexts.find(Index(BridgeEntry::kGetObjVariableName));
  const char* text = it != s.returnTexts.end() && it->second ? it->second->c_str() : nullptr;
  return Call(BridgeEntry::kGetObjVariableName, cookie).Done(s, text);
}

ZUL_QEL_API int32_t ZUL_QEL_CreateZULProcess(const char*) {
  return SimpleEntry(BridgeEntry::kCreateZULProcess, 0);
}

#ifndef ZUL_DOUBLE_INCOMPLETE
ZUL_QEL_API int32_t ZUL_QEL_DestroyZULProcess(const char*) {
  return SimpleEntry(BridgeEntry::kDestroyZULProcess, 0);
}
#endif

// ---- control -------------------------------------------------------------------------------------

ZUL_QEL_API void ZulDouble_Reset(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.journal.clear();
  s.results.clear();
  s.returnValues.clear();
  s.returnValueStorage.clear();
  s.returnTexts.clear();
  s.lastErrorCode = 0;
  s.lastErrorText.reset();
  s.failAllocationAt = 0;
  s.echoes.clear();
  s.journalOn = true;
  for (const auto& [block, cookie] : s.blocks) std::free(block);
  s.blocks.clear();
  s.badReleases = 0;
  s.openTransactions = 0;
  s.nextCookie = 1;
  s.handedOut.clear();
  s.outputCallbacks.clear();
  s.notifyCallbacks.clear();
  s.serialize = false;
  s.transactionOwners.clear();
  s.transactionEnded.notify_all();
}

ZUL_QEL_API void ZulDouble_SerializeTransactions(int32_t on) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.serialize = on != 0;
}

ZUL_QEL_API void ZulDouble_SetResult(int32_t entry, int32_t result) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.results[entry] = result;
}

ZUL_QEL_API void ZulDouble_SetReturnValue(int32_t entry, const BridgeValue* value) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  if (value == nullptr) {
    s.returnValues[entry].reset();
    return;
  }
  CallRecord& storage = s.returnValueStorage[entry];
  storage = CallRecord{};
  BridgeValue copy;
  CopyValue(*value, copy, RecordAllocator(storage));
  s.returnValues[entry] = copy;
}

ZUL_QEL_API void ZulDouble_SetReturnText(int32_t entry, const char* text) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.returnTexts[entry] = text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

ZUL_QEL_API void ZulDouble_SetLastError(int32_t code, const char* text) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.lastErrorCode = code;
  s.lastErrorText = text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

ZUL_QEL_API void ZulDouble_FailAllocationAt(int64_t nth) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.failAllocationAt = nth;
}

ZUL_QEL_API void ZulDouble_EchoArgument(int32_t from, int32_t to) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  if (from < 0) {
    s.echoes.clear();
    return;
  }
  s.echoes.push_back({from, to});
}

ZUL_QEL_API void ZulDouble_SetJournal(int32_t on) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  s.journalOn = on != 0;
}

ZUL_QEL_API int32_t ZulDouble_CallCount(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return static_cast<int32_t>(s.journal.size());
}

ZUL_QEL_API const ZulDoubleCall* ZulDouble_Call(int32_t index) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  if (index < 0 || static_cast<size_t>(index) >= s.journal.size()) return nullptr;
  return &s.journal[static_cast<size_t>(index)]->view;
}

ZUL_QEL_API int64_t ZulDouble_OutstandingBlocks(int32_t cookie) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  int64_t count = 0;
  for (const auto& [block, owner] : s.blocks) count += owner == cookie ? 1 : 0;
  return count;
}

ZUL_QEL_API int64_t ZulDouble_TotalOutstandingBlocks(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return static_cast<int64_t>(s.blocks.size());
}

ZUL_QEL_API int64_t ZulDouble_BadReleases(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return s.badReleases;
}

ZUL_QEL_API int32_t ZulDouble_OpenTransactions(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  return s.openTransactions;
}

ZUL_QEL_API int32_t ZulDouble_OutputRegistrations(void) {
  State& s = S();
  std::lock_guard lock(s.mutex);
  int32_t count = 0;
  for (const auto& [callback, registrations] : s.outputCallbacks) count += registrations;
  return count;
}

// Callbacks run without the double's lock: they may call back into the bridge.
ZUL_QEL_API void ZulDouble_EmitOutput(int32_t cookie, const char* text) {
  std::vector<BridgeOutputCallback> callbacks;
  {
    State& s = S();
    std::lock_guard lock(s.mutex);
    for (const auto& [callback, registrations] : s.outputCallbacks) callbacks.push_back(callback);
  }
  for (BridgeOutputCallback callback : callbacks) callback(cookie, text);
}

ZUL_QEL_API void ZulDouble_EmitNotify(int32_t cookie, const char* first, const char* second) {
  BridgeNotifyCallback callback = nullptr;
  {
    State& s = S();
    std::lock_guard lock(s.mutex);
    const auto it = s.notifyCallbacks.find(cookie);
    if (it != s.notifyCallbacks.end()) callback = it->second;
  }
  if (callback != nullptr) callback(cookie, first, second);
}

ZUL_QEL_API void ZulDouble_EmitOutputOnThread(int32_t cookie, const char* text) {
  std::thread([=] { ZulDouble_EmitOutput(cookie, text); }).join();
}

ZUL_QEL_API void ZulDouble_EmitNotifyOnThread(int32_t cookie, const char* first, const char* second) {
  std::thread([=] { ZulDouble_EmitNotify(cookie, first, second); }).join();
}

}  // extern "C"
