#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/event.h"

namespace vx {

// A worker thread that its owner asks to terminate and then joins.
//
// Joining (or waiting for the end) on the user-interface thread runs pending
// hand-overs meanwhile: the worker may be blocked in one, or hand over its own clean-up
// as its last act. A hand-over of this very worker must not join it: the worker waits
// for that hand-over to return. The destructor requests termination and joins.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts body on a new thread; EkoException when one was started already.
  void Start(std::function<void()> body);

  void RequestTerminate();
  bool TerminateRequested() const { return terminate_.load(); }

  // For the worker's idle time: sleeps for the given time, returning early when
  // termination is requested. Returns whether it was requested.
  bool SleepUnlessTerminated(std::chrono::milliseconds time) const;

  // For a worker that idles until a set time: it also ends early when the owner has work
  // for it at once (Wake). A wake that comes while the worker is busy ends its next idle
  // time, unless the worker drops it first (ClearWake, as it starts what the wake asked).
  enum class Idle { kElapsed, kWoken, kTerminate };
  Idle IdleUntil(std::chrono::steady_clock::time_point until);
  void Wake();
  void ClearWake();

  bool Started() const { return thread_.joinable(); }
  bool Finished() const { return finished_.IsSet(); }

  // Waits until the body has returned; none means no limit. True when it has.
  [[nodiscard]] bool WaitFinished(std::optional<std::chrono::milliseconds> timeout);
  // Waits without a limit for the body to return and releases the thread. Nothing
  // happens when the thread was never started or is joined already; EkoException when
  // called from the worker itself.
  void Join();

  bool IsWorkerThread() const { return std::this_thread::get_id() == workerId_.load(); }

 private:
  std::thread thread_;
  // Set by the worker itself: it may ask before Start has finished storing thread_.
  std::atomic<std::thread::id> workerId_{};
  std::atomic<bool> terminate_{false};
  ManualResetEvent terminateEvent_;
  ManualResetEvent finished_;
  std::mutex idleMutex_;
  std::condition_variable idleCv_;
  bool woken_ = false;
};

}  // namespace vx
