// Worker: timed work in slices that reports progress and can be aborted, on the caller's thread or as
// a background job that holds its process like a transaction.
#include <algorithm>
#include <chrono>
#include <system_error>

#include "classes.h"

namespace zul::bridge {
namespace {

constexpr int64_t kSliceMs = 10;
constexpr int64_t kMaxMs = 3600000;

int64_t Milliseconds(const CallContext& ctx) {
  const Value arg = ctx.Arg(0);
  Value ms = MakeArray(ZUL_TYP_LONG, {});
  if (arg.IsArray() || !IsNumeric(arg.type) || !StoreElement(ms, 0, arg, 0) || RealAt(ms, 0) < 0 ||
      RealAt(ms, 0) > kMaxMs) {
    ctx.Bad("argument 1 must be a whole number of milliseconds from 0 to " + std::to_string(kMaxMs) +
            ", not " + (IsNumeric(arg.type) && !arg.IsArray() ? FormatValue(arg) : Describe(arg)));
  }
  return static_cast<int64_t>(RealAt(ms, 0));
}

// Works with the lock held except while progress is delivered; the wait itself wakes early on abort.
bool WorkSlices(State& state, std::unique_lock<std::mutex>& lock, Process& process, int32_t cookie,
                const std::string& name, int64_t total, int64_t& worked) {
  worked = 0;
  const auto stop = [&] { return process.abortRequested || state.shuttingDown; };
  while (worked < total) {
    if (stop()) return false;
    const int64_t slice = std::min(kSliceMs, total - worked);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(slice);
    if (state.wake.wait_until(lock, deadline, stop)) return false;
    worked += slice;
    Deliveries progress;
    const std::string line = name + ": " + std::to_string(worked) + " of " + std::to_string(total) + " ms";
    state.AddOutput(progress, cookie, line);
    // Typed clients handle it as an event; scripts read either.
    const auto wrapper = state.wrappers.find(cookie);
    if (wrapper != state.wrappers.end() && wrapper->second->notify != nullptr) {
      progress.notes.push_back({wrapper->second->notify, cookie, "progress", line});
    }
    lock.unlock();
    progress.Deliver();
    lock.lock();
  }
  return true;
}

void JobMain(Job* job) {
  State& state = GetState();
  Deliveries finish;
  {
    std::unique_lock lock(state.mutex);
    Process& process = *job->process;
    const std::string name = job->object->varName;
    // The job waits for the transaction that started it (and any other) to end.
    state.wake.wait(lock, [&] { return process.abortRequested || state.shuttingDown || process.depth == 0; });
    bool completed = false;
    if (!process.abortRequested && !state.shuttingDown) {
      process.owner = std::this_thread::get_id();
      process.depth = 1;
      int64_t worked = 0;
      completed = WorkSlices(state, lock, process, job->cookie, name, job->milliseconds, worked);
      process.depth = 0;
      process.owner = std::thread::id();
    }
    process.job = nullptr;
    if (process.activeCalls == 0) process.abortRequested = false;
    --job->object->runningCalls;
    job->finished = true;
    const auto wrapper = state.wrappers.find(job->cookie);
    if (wrapper != state.wrappers.end() && wrapper->second->notify != nullptr) {
      finish.notes.push_back({wrapper->second->notify, job->cookie, completed ? "done" : "aborted", name});
    }
    state.wake.notify_all();
  }
  finish.Deliver();
}

Value Run(CallContext& ctx) {
  const int64_t total = Milliseconds(ctx);
  int64_t worked = 0;
  if (!WorkSlices(ctx.state, ctx.lock, *ctx.wrapper.process, ctx.wrapper.cookie, ctx.object.varName, total,
                  worked)) {
    Fail(kAborted, "Worker.Run of " + ctx.object.varName + " was aborted after " + std::to_string(worked) +
                       " of " + std::to_string(total) + " ms.");
  }
  return MakeLong(static_cast<int32_t>(total));
}

Value Start(CallContext& ctx) {
  const int64_t total = Milliseconds(ctx);
  Process& process = *ctx.wrapper.process;
  ctx.state.ReapJobs(ctx.lock, false);
  if (process.job != nullptr) {
    Fail(kBusy, Capitalized(ProcessLabel(process)) + " already has a background job of " +
                    process.job->object->varName + ".");
  }
  auto job = std::make_unique<Job>();
  job->process = &process;
  job->cookie = ctx.wrapper.cookie;
  job->object = &ctx.object;
  job->milliseconds = total;
  Job* started = job.get();
  ++ctx.object.runningCalls;
  process.job = started;
  ctx.state.jobs.push_back(std::move(job));
  try {
    started->thread = std::thread(JobMain, started);
  } catch (const std::system_error&) {
    process.job = nullptr;
    --ctx.object.runningCalls;
    ctx.state.jobs.pop_back();
    Fail(kInternal, "Worker.Start could not start a thread.");
  }
  return MakeLong(0);
}

Value GetLastEvent(const Object& object) {
  return MakeLong(object.lastEvent);
}

}  // namespace

const ClassInfo& WorkerClass() {
  static const ClassInfo info{ClassKind::kWorker,
                              "Worker",
                              0,
                              nullptr,
                              {{"Run", 1, Run}, {"Start", 1, Start}},
                              {{"LastEvent", GetLastEvent, nullptr}},
                              true};
  return info;
}

}  // namespace zul::bridge
