#include "state.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

namespace zul::bridge {
namespace {

// Fixed size, so that recording a failure never allocates (texts longer than that are cut at a character).
struct ErrorRecord {
  int32_t code = 0;
  char text[4096] = {};
};

// Records live in the bridge's own memory and each thread keeps only a plain pointer to its own: a new
// thread starts without one even where the system reuses thread ids, and nothing needs to run at thread
// exit, when the bridge may already be unloaded. A thread that cannot get a record (no memory) shares the
// spare.
struct ErrorStore {
  std::mutex mutex;
  std::list<ErrorRecord> records;
  ErrorRecord spare;
};

ErrorStore& Errors() {
  static ErrorStore store;
  return store;
}

thread_local ErrorRecord* threadError = nullptr;

ErrorRecord& ThreadRecord() noexcept {
  if (threadError != nullptr) return *threadError;
  ErrorStore& store = Errors();
  const std::lock_guard lock(store.mutex);
  try {
    threadError = &store.records.emplace_back();
  } catch (...) {
    threadError = &store.spare;
  }
  return *threadError;
}

// The pieces one after another, cut where the record ends, before a character that does not fit whole.
int32_t Keep(int32_t code, const char* first, const char* second = "", const char* third = "") noexcept {
  ErrorRecord& record = ThreadRecord();
  std::size_t used = 0;
  for (const char* piece : {first, second, third}) {
    const std::size_t room = sizeof record.text - 1 - used, length = std::strlen(piece);
    std::memcpy(record.text + used, piece, std::min(length, room));
    used += std::min(length, room);
    if (length <= room) continue;
    if ((static_cast<unsigned char>(piece[room]) & 0xC0) == 0x80) {  // back to the lead byte of the cut one
      while (used > 0 && (static_cast<unsigned char>(record.text[used - 1]) & 0xC0) == 0x80) --used;
      used -= used > 0 ? 1 : 0;
    }
    break;
  }
  record.text[used] = '\0';
  record.code = code;
  return code;
}

}  // namespace

void Deliveries::Deliver() {
  for (const Output& output : outputs) {
    for (BridgeOutputCallback target : output.targets) target(output.cookie, output.text.c_str());
  }
  for (const Note& note : notes) note.target(note.cookie, note.first.c_str(), note.second.c_str());
  outputs.clear();
  notes.clear();
}

State::~State() {
  std::unique_lock lock(mutex);
  ReapJobs(lock, true);
}

void State::RequireInitialized() const {
  if (initCount == 0 || shuttingDown) {
    Fail(kNotInitialized, "The bridge is not initialised: call ZUL_QEL_Initialize first.");
  }
}

Wrapper& State::FindWrapper(int32_t cookie) {
  const auto it = wrappers.find(cookie);
  if (it == wrappers.end()) Fail(kInvalidCookie, "Invalid cookie " + std::to_string(cookie) + ".");
  return *it->second;
}

Object& State::RequireObject(Wrapper& wrapper) {
  if (!wrapper.object) {
    Fail(kObjectState, "Wrapper " + std::to_string(wrapper.cookie) + " (" + ClassName(wrapper.kind) +
                           ") has no object: call ZUL_QEL_CreateObject first.");
  }
  return *wrapper.object;
}

void State::RequireTransaction(int32_t cookie) {
  const auto it = transactions.find(cookie);
  if (it == transactions.end() || it->second.frames.empty() ||
      it->second.thread != std::this_thread::get_id()) {
    Fail(kNoTransaction, "No transaction is open on cookie " + std::to_string(cookie) +
                             " in this thread: call ZUL_QEL_BeginTransaction first.");
  }
}

Process& State::DefaultProcess() {
  auto& process = processes[""];
  if (!process) process = std::make_unique<Process>();
  return *process;
}

Object* State::ObjectByHandle(Process& process, int32_t handle) {
  for (const auto& [name, object] : process.objects) {
    if (object->handle == handle) return object;
  }
  return nullptr;
}

void State::AddOutput(Deliveries& deliveries, int32_t cookie, std::string text) {
  Deliveries::Output output{{}, cookie, std::move(text)};
  for (const auto& [callback, count] : outputCallbacks) output.targets.push_back(callback);
  if (!output.targets.empty()) deliveries.outputs.push_back(std::move(output));
}

BridgeValue* State::HandOut(int32_t cookie, const Value& value, bool reclaimContents) {
  HandedOut entry{std::make_unique<BridgeValue>(), {}};
  WriteValue(blocks, cookie, value, *entry.record, reclaimContents ? &entry.reclaim : nullptr);
  BridgeValue* record = entry.record.get();
  transactions.at(cookie).frames.back().push_back(std::move(entry));
  return record;
}

void State::ReapJobs(std::unique_lock<std::mutex>& lock, bool all) {
  if (all) {
    shuttingDown = true;
    wake.notify_all();
  }
  std::vector<std::unique_ptr<Job>> done;
  for (auto it = jobs.begin(); it != jobs.end();) {
    Job& job = **it;
    if (all || job.finished) {
      done.push_back(std::move(*it));
      it = jobs.erase(it);
    } else {
      ++it;
    }
  }
  lock.unlock();
  for (auto& job : done) {
    // A callback on the job's own thread may be what releases the bridge: that thread cannot wait for
    // itself, and it is on its way out.
    if (job->thread.get_id() == std::this_thread::get_id()) {
      job->thread.detach();
    } else if (job->thread.joinable()) {
      job->thread.join();
    }
  }
  lock.lock();
}

void State::Reset() {
  transactions.clear();
  wrappers.clear();
  processes.clear();
  outputCallbacks.clear();
  imsCallbacks.clear();
  blocks.FreeAll();
  nextCookie = 1;
  nextHandle = 1;
  initCount = 0;
  shuttingDown = false;
}

State& GetState() {
  static State state;
  return state;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string ProcessLabel(const Process& process) {
  return process.name.empty() ? "the default ZUL process" : "ZUL process '" + process.name + "'";
}

std::string Capitalized(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

int32_t RecordCaught() noexcept {
  try {
    throw;
  } catch (const BridgeError& e) {
    return Keep(e.Code(), e.what());
  } catch (const std::bad_alloc&) {
    return Keep(kOutOfMemory, "Out of memory.");
  } catch (const std::exception& e) {
    return Keep(kInternal, "Internal error: ", e.what(), ".");
  } catch (...) {
    return Keep(kInternal, "Internal error.");
  }
}

const char* LastErrorText(int32_t* code) {
  if (code != nullptr) *code = threadError != nullptr ? threadError->code : 0;
  return threadError != nullptr ? threadError->text : nullptr;
}

}  // namespace zul::bridge
