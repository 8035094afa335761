#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vx {

// An event that stays signalled until it is reset, waking every waiter.
//
// A wait on the user-interface thread of the installed dispatcher runs pending
// hand-overs while it waits, so that a worker blocked in a hand-over can still get to
// the point of setting the event.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits until signalled or the timeout has passed; a zero or negative timeout only
  // looks. Returns whether it is signalled.
  [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout) const;
  // Waits without a limit.
  void Wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool signalled_;
};

}  // namespace vx
