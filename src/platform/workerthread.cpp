#include "platform/workerthread.h"

#include <utility>

#include "platform/koexception.h"

namespace vx {

WorkerThread::~WorkerThread() {
  RequestTerminate();
  Join();
}

void WorkerThread::Start(std::function<void()> body) {
  if (thread_.joinable()) throw EkoException("Start: the thread is started already!");
  terminate_ = false;
  terminateEvent_.Reset();
  finished_.Reset();
  thread_ = std::thread([this, body = std::move(body)] {
    workerId_ = std::this_thread::get_id();
    body();
    finished_.Set();
  });
}

void WorkerThread::RequestTerminate() {
  terminate_ = true;
  terminateEvent_.Set();
  {
    // Taken so that an idle worker cannot miss the flag between testing it and waiting.
    std::lock_guard guard(idleMutex_);
  }
  idleCv_.notify_all();
}

WorkerThread::Idle WorkerThread::IdleUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(idleMutex_);
  while (!terminate_.load() && !woken_)
    if (idleCv_.wait_until(lock, until) == std::cv_status::timeout) break;
  if (terminate_.load()) return Idle::kTerminate;
  if (!woken_) return Idle::kElapsed;
  woken_ = false;
  return Idle::kWoken;
}

void WorkerThread::Wake() {
  {
    std::lock_guard guard(idleMutex_);
    woken_ = true;
  }
  idleCv_.notify_all();
}

void WorkerThread::ClearWake() {
  std::lock_guard guard(idleMutex_);
  woken_ = false;
}

bool WorkerThread::SleepUnlessTerminated(std::chrono::milliseconds time) const {
  return terminateEvent_.WaitFor(time);
}

bool WorkerThread::WaitFinished(std::optional<std::chrono::milliseconds> timeout) {
  if (!thread_.joinable()) return true;
  if (!timeout) {
    finished_.Wait();
    return true;
  }
  return finished_.WaitFor(*timeout);
}

void WorkerThread::Join() {
  if (IsWorkerThread()) throw EkoException("Join: a thread cannot wait for itself!");
  if (!thread_.joinable()) return;
  // The event first: a plain join would not run the hand-overs the worker waits for.
  finished_.Wait();
  thread_.join();
  workerId_ = std::thread::id();
}

}  // namespace vx
